// TKlvMLoop: the frame loop. Each timer tick raises OnTimer and wakes the calculation thread,
// which raises OnCalc and then wakes the drawing thread, which raises OnDraw. A tick that finds
// the calculation thread busy, or a calculation that finds the drawing thread busy, wakes nothing:
// frames are dropped, never queued. When a drawing thread ends (the loop stopped or restarted),
// OnTerm is raised on the main thread with that thread as sender; the component posts it to the
// application's message loop.
#pragma once

#include <memory>
#include <vector>

#include "platform/win/application.h"
#include "shell/klvmtloop.h"

class TKlvMLoop : public TKlvMTLoop {
 public:
  TKlvMLoop(TComponentOwner* owner, TApplication& application);
  // Stops the loop and waits for both threads; OnTerm of every drawing thread that had not yet
  // been reported is raised here, before the component goes.
  ~TKlvMLoop() override;

  TKlvNotifyEvent OnCalc;
  // Copied into the drawing thread when the loop starts: a later change takes effect at the next
  // restart.
  TKlvNotifyEvent OnDraw;
  TKlvNotifyEvent OnTerm;

  // The running threads; null while the loop is idle.
  TCalcThread* CalcThread() const { return calcThread_.get(); }
  TCalcThread* DrawThread() const { return drawThread_.get(); }

 protected:
  // Stops the timer and both threads, then starts a new timer and threads if Enabled is on,
  // Interval is not 0 and one of OnTimer, OnCalc, OnDraw is set.
  void UpdateTimer() override;
  void Tick() override;

 private:
  struct EndedThread {
    std::shared_ptr<TCalcThread> thread;
    bool draws;
  };

  void StopThreads();
  void StartThreads();
  // Main thread: a stopped thread's body has returned; report it and release it.
  void ThreadEnded(TCalcThread* thread);
  void Release(EndedThread& ended);
  std::function<void(TCalcThread*)> EndNotifier();

  TApplication& application_;
  std::shared_ptr<TCalcThread> calcThread_;
  std::shared_ptr<TCalcThread> drawThread_;
  // Threads told to end whose end has not been handled on the main thread yet.
  std::vector<EndedThread> stopped_;
  // Posted end notifications hold a weak reference: they do nothing once the component is gone.
  std::shared_ptr<TKlvMLoop*> alive_ = std::make_shared<TKlvMLoop*>(this);
};
