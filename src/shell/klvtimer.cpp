// TKlvTimer: start and stop of the application timer behind the properties.
#include "shell/klvtimer.h"

TKlvTimer::TKlvTimer(TApplication& application, UINT interval, bool enabled)
    : application_(application), interval_(interval), enabled_(enabled) {
  Update();
}

TKlvTimer::~TKlvTimer() { application_.KillTimer(timerId_); }

void TKlvTimer::SetInterval(UINT interval) {
  interval_ = interval;
  Update();
}

void TKlvTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Update();
}

void TKlvTimer::Update() {
  if (timerId_ != 0) application_.KillTimer(timerId_);
  timerId_ = 0;
  if (enabled_ && interval_ != 0)
    timerId_ = application_.SetTimer(interval_, [this] {
      if (OnTimer) OnTimer();
    });
}
