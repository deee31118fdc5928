// The process-wide state of the Windows stand-ins, gathered in one place: what Windows itself
// keeps per process or per session (the cursor display counter, the cursor position when there is
// no display, the virtual-key state table, the multimedia timers, the opened joystick) plus the
// message-box recorder that tests install. Internal to src/platform/win.
#pragma once

#include <SDL.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/win/messagebox.h"
#include "platform/win/wintypes.h"

struct KlvMultimediaTimer;

struct KlvWinState {
  // ShowCursor's display counter: the cursor shows while it is >= 0. Main thread.
  int cursorCount = 0;
  // The cursor's screen position where no SDL video exists (headless runs set it).
  std::mutex cursorMutex;
  POINT cursorPos{0, 0};
  // GetKeyboardState's table: bit 7 = key down, bit 0 = toggled by each press.
  std::array<std::atomic<uint8_t>, 256> keys{};

  std::mutex recorderMutex;
  MessageBoxRecorder recorder;

  std::mutex timerMutex;
  std::map<UINT, std::shared_ptr<KlvMultimediaTimer>> timers;
  UINT lastTimerId = 0;
  // Added to timeGetTime's reading; tests move the clock next to its wrap with it.
  std::atomic<DWORD> clockOffset{0};

  // Set by SetRegistryReadOnly: settings writes are dropped.
  std::atomic<bool> registryReadOnly{false};

  // Joystick 1 (SDL's joystick 0) once opened; joyGetPos runs on the main thread.
  bool joystickSubsystem = false;
  SDL_Joystick* joystick = nullptr;
};

KlvWinState& WinState();

// Shows or hides SDL's cursor to match the display counter (a window backend calls it once SDL
// video runs, as the counter may have changed before).
void ApplyCursorVisibility();

// True when SDL's video subsystem runs, so there is a display to ask and to show things on.
bool SdlVideoActive();
