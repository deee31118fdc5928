// Multimedia services stand-in: the millisecond clock, periodic and one-shot timers that call back
// on their own thread, and joystick 1 read through SDL.
#pragma once

#include <cstdint>

#include "platform/win/wintypes.h"

using MMRESULT = UINT;
using DWORD_PTR = uintptr_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT JOYERR_NOERROR = 0;
constexpr MMRESULT JOYERR_PARMS = 165;
constexpr MMRESULT JOYERR_UNPLUGGED = 167;

constexpr UINT TIME_ONESHOT = 0x0000;
constexpr UINT TIME_PERIODIC = 0x0001;
// The longest delay timeSetEvent accepts, in milliseconds.
constexpr UINT kTimerMaxDelay = 1000000;

constexpr UINT JOYSTICKID1 = 0;
constexpr UINT JOY_BUTTON1 = 0x0001;
constexpr UINT JOY_BUTTON2 = 0x0002;
constexpr UINT JOY_BUTTON3 = 0x0004;
constexpr UINT JOY_BUTTON4 = 0x0008;

// Milliseconds from a fixed point of the monotonic clock, as an unsigned 32-bit value that wraps
// after about 49.7 days; take differences as DWORD (now - then) so a wrap does no harm.
DWORD timeGetTime();
// Moves every later timeGetTime reading forward by `offsetMs` (tests put the clock next to its wrap).
void KlvSetTimeOffset(DWORD offsetMs);

// Called on the timer's own thread with the timer's id and the caller's `user` value.
using LPTIMECALLBACK = void (*)(UINT timerId, UINT msg, DWORD_PTR user, DWORD_PTR reserved1, DWORD_PTR reserved2);

// Starts a timer that calls `callback` after `delayMs` and, with TIME_PERIODIC, every `delayMs`
// after that; a periodic timer that falls behind skips the missed calls instead of bunching them.
// `resolutionMs` is accepted and ignored (the period is the delay). Returns the timer's id, never
// 0; 0 when `delayMs` is 0 or above kTimerMaxDelay or `callback` is null.
MMRESULT timeSetEvent(UINT delayMs, UINT resolutionMs, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags);
// Stops the timer. When it returns, the callback is not running and will not run again, unless
// it is called from that very callback, which then simply finishes. MMSYSERR_INVALPARAM for an
// unknown id.
MMRESULT timeKillEvent(UINT timerId);

struct JOYINFO {
  UINT wXpos;     // 0 (left) .. 65535 (right)
  UINT wYpos;     // 0 (up) .. 65535 (down)
  UINT wZpos;     // third axis when there is one, else 32768
  UINT wButtons;  // JOY_BUTTON1..4
};

// Reads joystick 1 (SDL's first joystick). JOYERR_UNPLUGGED when none is attached, JOYERR_PARMS
// for another id or a null `info`. Main thread only.
MMRESULT joyGetPos(UINT joyId, JOYINFO* info);
