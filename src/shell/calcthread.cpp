// TCalcThread: the body loop and its wait-and-wake.
#include "shell/calcthread.h"

TCalcThread::TCalcThread(TKlvMLoop* loop, TKlvNotifyEvent job, std::function<void(TCalcThread*)> onTerminate)
    : Loop(loop), Job(std::move(job)), onTerminate_(std::move(onTerminate)), thread_([this] { Execute(); }) {}

TCalcThread::~TCalcThread() {
  Terminate();
  WakeIfWaiting();
  WaitFor();
}

void TCalcThread::Terminate() {
  std::lock_guard lock(mutex_);
  terminated_ = true;
}

bool TCalcThread::Terminated() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}

void TCalcThread::WakeIfWaiting() {
  std::lock_guard lock(mutex_);
  if (!waiting_) return;
  woken_ = true;
  wake_.notify_one();
}

void TCalcThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

// Blocks until woken; returns at once when termination was asked, so an end request that came
// just before the wait is not lost.
void TCalcThread::WaitForWake() {
  std::unique_lock lock(mutex_);
  if (terminated_) return;
  waiting_ = true;
  wake_.wait(lock, [this] { return woken_ || terminated_; });
  waiting_ = false;
  woken_ = false;
}

void TCalcThread::Execute() {
  WaitForWake();  // created suspended
  while (!Terminated()) {
    if (Job) Job(Loop);
    if (Terminated()) break;
    WaitForWake();
  }
  if (onTerminate_) onTerminate_(this);
}
