// TKlvMTLoop: properties, start and stop of the multimedia timer, and the tick.
#include "shell/klvmtloop.h"

TKlvMTLoop::TKlvMTLoop(TComponentOwner* owner) : TComponent(owner) {}

TKlvMTLoop::~TKlvMTLoop() {
  enabled_ = false;
  TKlvMTLoop::UpdateTimer();
}

void TKlvMTLoop::SetEnabled(bool enabled) {
  enabled_ = enabled;
  UpdateTimer();
}

void TKlvMTLoop::SetInterval(int interval) {
  interval_ = interval;
  UpdateTimer();
}

void TKlvMTLoop::Loaded() { UpdateTimer(); }

void TKlvMTLoop::KillTimer() {
  if (timerId_ == 0) return;
  stopping_ = true;
  // Returns only once the callback has finished, so no tick runs after this point.
  timeKillEvent(timerId_);
  timerId_ = 0;
}

void TKlvMTLoop::StartTimer() {
  auto period = static_cast<UINT>(interval_);
  timerId_ = timeSetEvent(period, period, TimerCallback, reinterpret_cast<DWORD_PTR>(this), TIME_PERIODIC);
  stopping_ = false;
}

void TKlvMTLoop::UpdateTimer() {
  KillTimer();
  if (enabled_ && interval_ != 0 && OnTimer) StartTimer();
}

void TKlvMTLoop::Tick() {
  if (!stopping_ && OnTimer) OnTimer(this);
}

void TKlvMTLoop::TimerCallback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* loop = reinterpret_cast<TKlvMTLoop*>(user);
  if (!loop->stopping_) loop->Tick();
}
