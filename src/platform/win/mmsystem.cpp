// Multimedia services stand-in: the clock from the monotonic clock, each timer a thread of its
// own that sleeps on a condition variable until its next due time or until it is killed, and the
// joystick from SDL.
#include "platform/win/mmsystem.h"

#include <chrono>
#include <condition_variable>
#include <thread>

#include "platform/win/winstate.h"

using Clock = std::chrono::steady_clock;

struct KlvMultimediaTimer {
  UINT id = 0;
  std::chrono::milliseconds period{0};
  bool periodic = false;
  LPTIMECALLBACK callback = nullptr;
  DWORD_PTR user = 0;

  std::mutex mutex;
  std::condition_variable killed;
  bool stop = false;
  std::thread thread;

  // The last reference can go on the timer's own thread (see timeSetEvent), which may not join itself.
  ~KlvMultimediaTimer() {
    if (thread.joinable()) thread.detach();
  }
};

namespace {

void RunTimer(KlvMultimediaTimer& timer) {
  Clock::time_point due = Clock::now() + timer.period;
  std::unique_lock lock(timer.mutex);
  while (!timer.stop) {
    if (timer.killed.wait_until(lock, due, [&] { return timer.stop; })) break;
    lock.unlock();
    timer.callback(timer.id, 0, timer.user, 0, 0);
    lock.lock();
    if (!timer.periodic) break;
    due += timer.period;
    Clock::time_point now = Clock::now();
    if (due <= now) due = now + timer.period;
  }
}

// A one-shot timer that has fired leaves the table by itself, as its id is spent.
void ForgetFiredTimer(const std::shared_ptr<KlvMultimediaTimer>& timer) {
  KlvWinState& state = WinState();
  std::lock_guard lock(state.timerMutex);
  auto found = state.timers.find(timer->id);
  if (found != state.timers.end() && found->second == timer) state.timers.erase(found);
}

}  // namespace

DWORD timeGetTime() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
  return static_cast<DWORD>(static_cast<uint64_t>(ms)) + WinState().clockOffset.load();
}

void KlvSetTimeOffset(DWORD offsetMs) { WinState().clockOffset = offsetMs; }

MMRESULT timeSetEvent(UINT delayMs, UINT, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags) {
  if (delayMs == 0 || delayMs > kTimerMaxDelay || callback == nullptr) return 0;
  auto timer = std::make_shared<KlvMultimediaTimer>();
  timer->period = std::chrono::milliseconds(delayMs);
  timer->periodic = (flags & TIME_PERIODIC) != 0;
  timer->callback = callback;
  timer->user = user;
  KlvWinState& state = WinState();
  std::lock_guard lock(state.timerMutex);
  do timer->id = ++state.lastTimerId;
  while (timer->id == 0 || state.timers.count(timer->id) != 0);
  // The thread keeps its own reference: a one-shot timer that has fired, or a timer killed from
  // its own callback, ends without anyone waiting for it.
  timer->thread = std::thread([timer] {
    RunTimer(*timer);
    ForgetFiredTimer(timer);
  });
  state.timers.emplace(timer->id, timer);
  return timer->id;
}

MMRESULT timeKillEvent(UINT timerId) {
  std::shared_ptr<KlvMultimediaTimer> timer;
  {
    KlvWinState& state = WinState();
    std::lock_guard lock(state.timerMutex);
    auto found = state.timers.find(timerId);
    if (found == state.timers.end()) return MMSYSERR_INVALPARAM;
    timer = found->second;
    state.timers.erase(found);
  }
  {
    std::lock_guard lock(timer->mutex);
    timer->stop = true;
  }
  timer->killed.notify_all();
  if (timer->thread.get_id() == std::this_thread::get_id())
    timer->thread.detach();
  else
    timer->thread.join();
  return MMSYSERR_NOERROR;
}

namespace {

constexpr int kAxisCentre = 32768;

UINT AxisPosition(SDL_Joystick* joystick, int axis) {
  if (axis >= SDL_JoystickNumAxes(joystick)) return kAxisCentre;
  return static_cast<UINT>(SDL_JoystickGetAxis(joystick, axis) + kAxisCentre);
}

// Opens SDL's first joystick when none is open or the open one was unplugged; null when none.
SDL_Joystick* FirstJoystick(KlvWinState& state) {
  if (!state.joystickSubsystem) {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return nullptr;
    state.joystickSubsystem = true;
  }
  SDL_JoystickUpdate();
  if (state.joystick && !SDL_JoystickGetAttached(state.joystick)) {
    SDL_JoystickClose(state.joystick);
    state.joystick = nullptr;
  }
  if (!state.joystick && SDL_NumJoysticks() > 0) state.joystick = SDL_JoystickOpen(0);
  return state.joystick;
}

}  // namespace

MMRESULT joyGetPos(UINT joyId, JOYINFO* info) {
  if (joyId != JOYSTICKID1 || info == nullptr) return JOYERR_PARMS;
  SDL_Joystick* joystick = FirstJoystick(WinState());
  if (joystick == nullptr) return JOYERR_UNPLUGGED;
  info->wXpos = AxisPosition(joystick, 0);
  info->wYpos = AxisPosition(joystick, 1);
  info->wZpos = AxisPosition(joystick, 2);
  info->wButtons = 0;
  for (int button = 0; button < 4 && button < SDL_JoystickNumButtons(joystick); ++button)
    if (SDL_JoystickGetButton(joystick, button)) info->wButtons |= 1u << button;
  return JOYERR_NOERROR;
}
