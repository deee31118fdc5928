// The application object: the main window's message loop with its idle handler, timers, the
// window's events and calls posted from other threads. Everything it calls runs on the thread
// that calls Run (the main thread).
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/win/window_backend.h"

class TApplication {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TApplication(std::unique_ptr<KlvWindowBackend> mainWindow);
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  KlvWindowBackend& MainWindow() { return *window_; }
  HWND Handle() { return window_->Handle(); }

  // The main window's events. OnKeyDown receives the virtual key (VK_SHIFT, not VK_LSHIFT, for a
  // Shift key; 0 for a key without a code); OnMouseMove the cursor in client coordinates. The
  // key table (GetKeyboardState) is updated before OnKeyDown runs.
  std::function<void(BYTE key)> OnKeyDown;
  std::function<void(int x, int y)> OnMouseMove;
  std::function<void()> OnClick;
  std::function<void()> OnPaint;
  // The window was given a new size (a host resized it).
  std::function<void(int width, int height)> OnResize;
  // Runs once when the main window closes, before the loop ends.
  std::function<void()> OnClose;

  // Called again and again while no message waits; returns true ("done") when it has nothing to
  // do, and the loop then waits up to kIdleWaitMs for a message before calling it again. It must
  // not replace itself while it runs.
  std::function<bool()> OnIdle;
  static constexpr int kIdleWaitMs = 1;
  // How long the loop waits after an idle call that had nothing to do; the idle handler may set it
  // (1 ms or more) before returning, e.g. to the time left until its next piece of work.
  int IdleWaitMs = kIdleWaitMs;

  // Whether Run makes the main window visible first (true, as a form application does).
  bool ShowMainForm = true;

  // A timer that calls `onTimer` on the main thread every `intervalMs` from now, when the loop
  // gets to it (timers wait behind window events and posted calls). Returns its id, or 0 for an
  // interval of 0. A handler may kill its own timer (a one-shot trigger does so).
  UINT SetTimer(UINT intervalMs, std::function<void()> onTimer);
  void KillTimer(UINT timerId);

  // Queues `job` to run on the main thread in the message loop, in posting order. Any thread.
  void Post(std::function<void()> job);

  // Runs the message loop until the main window closes.
  void Run();
  // Handles every waiting message (window events, posted calls, due timers) without waiting and
  // without idle calls; returns whether there was any. For tests and modal waits.
  bool ProcessMessages();
  // Closes the main window: OnClose, then the window hides and the loop ends. Once only.
  void Close();
  bool Terminated() const { return terminated_; }

 private:
  struct Timer {
    std::chrono::milliseconds interval;
    Clock::time_point due;
    std::function<void()> onTimer;
  };

  bool HandleOneMessage();
  bool RunPostedJob();
  bool RunDueTimer();
  void Dispatch(const KlvWindowEvent& event);
  void WaitForMessage();

  std::unique_ptr<KlvWindowBackend> window_;
  bool terminated_ = false;
  std::map<UINT, Timer> timers_;
  UINT lastTimerId_ = 0;
  std::mutex postedMutex_;
  std::deque<std::function<void()>> posted_;
};
