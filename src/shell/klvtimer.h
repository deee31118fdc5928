// TKlvTimer: a form timer on the application's message loop. While Enabled is on and Interval is
// not 0 it raises OnTimer on the main thread every Interval milliseconds; setting either property
// restarts it. The main window's start trigger (Timer1) and its idle Timer2 are timers of this kind.
#pragma once

#include <functional>

#include "platform/win/application.h"

class TKlvTimer {
 public:
  TKlvTimer(TApplication& application, UINT interval, bool enabled);
  TKlvTimer(const TKlvTimer&) = delete;
  TKlvTimer& operator=(const TKlvTimer&) = delete;
  ~TKlvTimer();

  UINT Interval() const { return interval_; }
  void SetInterval(UINT interval);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // Assigned before the timer is started (Enabled and Interval set) or while it is stopped.
  std::function<void()> OnTimer;

 private:
  void Update();

  TApplication& application_;
  UINT interval_;
  bool enabled_;
  UINT timerId_ = 0;
};
