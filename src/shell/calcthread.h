// TCalcThread: a worker thread that runs one job each time it is woken, for the frame loop's
// calculation and drawing. Waking is a single wake-up of a thread blocked in its wait: a wake that
// finds the thread busy is dropped, never counted.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TKlvMLoop;

// A notify event: receives the object that raises it.
using TKlvNotifyEvent = std::function<void(void* sender)>;

class TCalcThread {
 public:
  // Starts the thread "suspended": it waits for its first wake before it runs `job` (with `loop`
  // as sender). `onTerminate` is called on the thread itself as its very last act, after the body
  // has ended.
  TCalcThread(TKlvMLoop* loop, TKlvNotifyEvent job, std::function<void(TCalcThread*)> onTerminate);
  TCalcThread(const TCalcThread&) = delete;
  TCalcThread& operator=(const TCalcThread&) = delete;
  // Asks the thread to end, wakes it and waits until it has.
  ~TCalcThread();

  TKlvMLoop* const Loop;
  const TKlvNotifyEvent Job;

  // Asks the thread to end; it ends before its next job or when woken from its wait.
  void Terminate();
  bool Terminated() const;
  // Wakes the thread if it is blocked waiting for work; otherwise does nothing.
  void WakeIfWaiting();
  // Waits until the thread has ended (it must have been asked to).
  void WaitFor();

 private:
  void Execute();
  void WaitForWake();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool waiting_ = false;
  bool woken_ = false;
  bool terminated_ = false;
  std::function<void(TCalcThread*)> onTerminate_;
  std::thread thread_;  // last: starts once everything above exists
};
