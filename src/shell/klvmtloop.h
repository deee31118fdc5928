// TKlvMTLoop: a non-visual component that raises OnTimer from a periodic multimedia timer whose
// period and resolution are Interval milliseconds. OnTimer runs on the timer's own thread.
// Handlers are assigned while the loop is stopped (before Loaded, or with Enabled off).
#pragma once

#include <atomic>

#include "display/component.h"
#include "platform/win/mmsystem.h"
#include "shell/calcthread.h"

class TKlvMTLoop : public TComponent {
 public:
  static constexpr int kDefaultInterval = 1000;

  explicit TKlvMTLoop(TComponentOwner* owner);
  // Stops the timer (Enabled off, then UpdateTimer).
  ~TKlvMTLoop() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  int Interval() const { return interval_; }
  void SetInterval(int interval);
  TKlvNotifyEvent OnTimer;

  UINT TimerID() const { return timerId_; }
  bool Stopping() const { return stopping_; }

  // The owner has finished setting the properties: the loop starts if it is enabled and configured.
  virtual void Loaded();

 protected:
  // Stops the timer, then starts it again if Enabled is on, Interval is not 0 and OnTimer is set.
  virtual void UpdateTimer();
  // One timer tick (timer thread): raises OnTimer unless the loop is stopping.
  virtual void Tick();

  // Kills a running timer and marks the loop as stopping.
  void KillTimer();
  // Starts the periodic timer and clears Stopping; the timer calls Tick.
  void StartTimer();

  bool enabled_ = true;
  int interval_ = kDefaultInterval;
  // Written by the main thread, read by the timer and worker threads.
  std::atomic<bool> stopping_{false};
  UINT timerId_ = 0;

 private:
  static void TimerCallback(UINT timerId, UINT msg, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
};
