// The application object's message loop: one message at a time (window event, then posted call,
// then due timer), and when none waits, the idle handler or a wait for the next message.
#include "platform/win/application.h"

#include <algorithm>

#include "platform/win/winuser.h"

TApplication::TApplication(std::unique_ptr<KlvWindowBackend> mainWindow) : window_(std::move(mainWindow)) {}

UINT TApplication::SetTimer(UINT intervalMs, std::function<void()> onTimer) {
  if (intervalMs == 0) return 0;
  do ++lastTimerId_;
  while (lastTimerId_ == 0 || timers_.count(lastTimerId_) != 0);
  std::chrono::milliseconds interval(intervalMs);
  timers_[lastTimerId_] = Timer{interval, Clock::now() + interval, std::move(onTimer)};
  return lastTimerId_;
}

void TApplication::KillTimer(UINT timerId) { timers_.erase(timerId); }

void TApplication::Post(std::function<void()> job) {
  {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(job));
  }
  window_->Wake();
}

void TApplication::Run() {
  if (ShowMainForm && !terminated_) window_->SetVisible(true);
  while (!terminated_) {
    if (HandleOneMessage()) continue;
    bool done = OnIdle ? OnIdle() : true;
    if (done && !terminated_) WaitForMessage();
  }
}

bool TApplication::ProcessMessages() {
  bool any = false;
  while (!terminated_ && HandleOneMessage()) any = true;
  return any;
}

void TApplication::Close() {
  if (terminated_) return;
  terminated_ = true;
  if (OnClose) OnClose();
  window_->SetVisible(false);
}

bool TApplication::HandleOneMessage() {
  KlvWindowEvent event;
  if (window_->NextEvent(event, 0)) {
    Dispatch(event);
    return true;
  }
  return RunPostedJob() || RunDueTimer();
}

bool TApplication::RunPostedJob() {
  std::function<void()> job;
  {
    std::lock_guard lock(postedMutex_);
    if (posted_.empty()) return false;
    job = std::move(posted_.front());
    posted_.pop_front();
  }
  job();
  return true;
}

bool TApplication::RunDueTimer() {
  Clock::time_point now = Clock::now();
  auto due = std::min_element(timers_.begin(), timers_.end(),
                              [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
  if (due == timers_.end() || due->second.due > now) return false;
  due->second.due = now + due->second.interval;
  // A copy, because the handler may kill its own timer.
  std::function<void()> onTimer = due->second.onTimer;
  if (onTimer) onTimer();
  return true;
}

void TApplication::Dispatch(const KlvWindowEvent& event) {
  switch (event.kind) {
    case KlvWindowEvent::Kind::KeyDown:
      if (event.key != 0) KlvSetKeyState(event.key, true);
      if (OnKeyDown) OnKeyDown(KlvMessageKey(event.key));
      break;
    case KlvWindowEvent::Kind::KeyUp:
      if (event.key != 0) KlvSetKeyState(event.key, false);
      break;
    case KlvWindowEvent::Kind::MouseMove:
      if (OnMouseMove) OnMouseMove(event.x, event.y);
      break;
    case KlvWindowEvent::Kind::Click:
      if (OnClick) OnClick();
      break;
    case KlvWindowEvent::Kind::Paint:
      if (OnPaint) OnPaint();
      break;
    case KlvWindowEvent::Kind::Close: Close(); break;
    case KlvWindowEvent::Kind::FocusLost: KlvReleaseAllKeys(); break;
    case KlvWindowEvent::Kind::Resize:
      if (OnResize) OnResize(event.x, event.y);
      break;
  }
}

// With an idle handler, waits at most IdleWaitMs so it runs again soon; without one, until the
// next timer is due or a message or posted call arrives.
void TApplication::WaitForMessage() {
  int timeoutMs = OnIdle ? std::max(IdleWaitMs, 1) : -1;
  if (!timers_.empty()) {
    auto next = std::min_element(timers_.begin(), timers_.end(),
                                 [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
    auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(next->second.due - Clock::now()).count();
    int timerMs = static_cast<int>(std::clamp<decltype(untilDue)>(untilDue, 0, 1 << 30));
    timeoutMs = timeoutMs < 0 ? timerMs : std::min(timeoutMs, timerMs);
  }
  KlvWindowEvent event;
  if (window_->NextEvent(event, timeoutMs)) Dispatch(event);
}
