// TKlvMLoop: start and stop of the two worker threads with the timer, the tick, the calculation
// job and the end notifications.
#include "shell/klvmloop.h"

#include <algorithm>

TKlvMLoop::TKlvMLoop(TComponentOwner* owner, TApplication& application)
    : TKlvMTLoop(owner), application_(application) {}

TKlvMLoop::~TKlvMLoop() {
  enabled_ = false;
  UpdateTimer();
  for (EndedThread& ended : stopped_) ended.thread->WaitFor();
  for (EndedThread& ended : stopped_) Release(ended);
  stopped_.clear();
}

void TKlvMLoop::UpdateTimer() {
  KillTimer();
  // Threads are stopped even when no timer runs (a timer that failed to start leaves them).
  StopThreads();
  if (enabled_ && interval_ != 0 && (OnTimer || OnCalc || OnDraw)) {
    StartThreads();
    StartTimer();
  }
}

void TKlvMLoop::Tick() {
  if (stopping_) return;
  TKlvMTLoop::Tick();
  calcThread_->WakeIfWaiting();
}

void TKlvMLoop::StopThreads() {
  stopping_ = true;
  for (auto* slot : {&calcThread_, &drawThread_}) {
    if (!*slot) continue;
    (*slot)->Terminate();
    (*slot)->WakeIfWaiting();
    stopped_.push_back({std::move(*slot), slot == &drawThread_});
    slot->reset();
  }
}

void TKlvMLoop::StartThreads() {
  drawThread_ = std::make_shared<TCalcThread>(this, OnDraw, EndNotifier());
  // The calculation job keeps its own drawing thread alive: a calculation still running while the
  // loop restarts wakes its old partner, never a released one or the new one.
  auto draw = drawThread_;
  auto calcJob = [this, draw](void*) {
    if (stopping_) return;
    if (OnCalc) OnCalc(this);
    draw->WakeIfWaiting();
  };
  calcThread_ = std::make_shared<TCalcThread>(this, calcJob, EndNotifier());
}

std::function<void(TCalcThread*)> TKlvMLoop::EndNotifier() {
  std::weak_ptr<TKlvMLoop*> alive = alive_;
  TApplication* application = &application_;
  return [alive, application](TCalcThread* thread) {
    application->Post([alive, thread] {
      if (auto loop = alive.lock()) (*loop)->ThreadEnded(thread);
    });
  };
}

void TKlvMLoop::ThreadEnded(TCalcThread* thread) {
  auto ended = std::find_if(stopped_.begin(), stopped_.end(),
                            [thread](const EndedThread& e) { return e.thread.get() == thread; });
  if (ended == stopped_.end()) return;
  EndedThread record = std::move(*ended);
  stopped_.erase(ended);
  record.thread->WaitFor();
  Release(record);
}

void TKlvMLoop::Release(EndedThread& ended) {
  if (ended.draws && OnTerm) OnTerm(ended.thread.get());
  ended.thread.reset();
}
