// Input services stand-in: cursor counter and position, the virtual-key table and the mapping
// from SDL scancodes to virtual keys.
#include <SDL.h>

#include "platform/win/winstate.h"
#include "platform/win/winuser.h"

void ApplyCursorVisibility() {
  if (SdlVideoActive()) SDL_ShowCursor(WinState().cursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
}

int ShowCursor(BOOL show) {
  KlvWinState& state = WinState();
  state.cursorCount += show ? 1 : -1;
  ApplyCursorVisibility();
  return state.cursorCount;
}

BOOL GetCursorPos(POINT* point) {
  if (point == nullptr) return FALSE;
  if (SdlVideoActive()) {
    // The start-up position and every later one come from SDL's tracked position over our window,
    // in screen coordinates: the position motion events report, so two positions are always
    // comparable. Pumping first brings the tracked position up to date (the events stay queued for
    // the message loop), so at start-up it is already the pointer's place over the new window.
    // SDL's global query is no second source for that: on X11 it re-reads the pointer only after
    // raw input events and can stay at its first answer.
    SDL_PumpEvents();
    int x = 0, y = 0;
    if (SDL_Window* window = SDL_GetMouseFocus()) {
      int left = 0, top = 0;
      SDL_GetMouseState(&x, &y);
      SDL_GetWindowPosition(window, &left, &top);
      *point = POINT{left + x, top + y};
    } else {
      // Over none of our windows there is no tracked position and no motion for it to compare.
      SDL_GetGlobalMouseState(&x, &y);
      *point = POINT{x, y};
    }
    return TRUE;
  }
  KlvWinState& state = WinState();
  std::lock_guard lock(state.cursorMutex);
  *point = state.cursorPos;
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  if (SdlVideoActive()) return SDL_WarpMouseGlobal(x, y) == 0 ? TRUE : FALSE;
  KlvWinState& state = WinState();
  std::lock_guard lock(state.cursorMutex);
  state.cursorPos = POINT{x, y};
  return TRUE;
}

BOOL GetKeyboardState(BYTE* keys) {
  if (keys == nullptr) return FALSE;
  KlvWinState& state = WinState();
  for (size_t i = 0; i < state.keys.size(); ++i) keys[i] = state.keys[i].load();
  return TRUE;
}

namespace {

void SetOneKey(KlvWinState& state, BYTE key, bool down) {
  uint8_t entry = state.keys[key].load();
  bool wasDown = (entry & kKeyDownBit) != 0;
  if (down && !wasDown) entry ^= kKeyToggleBit;
  entry = down ? (entry | kKeyDownBit) : (entry & ~kKeyDownBit);
  state.keys[key] = entry;
}

// The side-neutral code of a sided modifier, or 0.
BYTE NeutralModifier(BYTE key, BYTE* otherSide) {
  switch (key) {
    case VK_LSHIFT: *otherSide = VK_RSHIFT; return VK_SHIFT;
    case VK_RSHIFT: *otherSide = VK_LSHIFT; return VK_SHIFT;
    case VK_LCONTROL: *otherSide = VK_RCONTROL; return VK_CONTROL;
    case VK_RCONTROL: *otherSide = VK_LCONTROL; return VK_CONTROL;
    case VK_LMENU: *otherSide = VK_RMENU; return VK_MENU;
    case VK_RMENU: *otherSide = VK_LMENU; return VK_MENU;
    default: return 0;
  }
}

}  // namespace

void KlvSetKeyState(BYTE virtualKey, bool down) {
  KlvWinState& state = WinState();
  SetOneKey(state, virtualKey, down);
  BYTE otherSide = 0;
  BYTE neutral = NeutralModifier(virtualKey, &otherSide);
  if (neutral != 0) SetOneKey(state, neutral, down || (state.keys[otherSide].load() & kKeyDownBit) != 0);
}

BYTE KlvMessageKey(BYTE virtualKey) {
  BYTE otherSide = 0;
  BYTE neutral = NeutralModifier(virtualKey, &otherSide);
  return neutral != 0 ? neutral : virtualKey;
}

void KlvReleaseAllKeys() {
  for (auto& key : WinState().keys) key = key.load() & ~kKeyDownBit;
}

BYTE KlvVirtualKeyFromScancode(int scancode) {
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z)
    return static_cast<BYTE>('A' + scancode - SDL_SCANCODE_A);
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9)
    return static_cast<BYTE>('1' + scancode - SDL_SCANCODE_1);
  if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12)
    return static_cast<BYTE>(VK_F1 + scancode - SDL_SCANCODE_F1);
  if (scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_9)
    return static_cast<BYTE>(VK_NUMPAD1 + scancode - SDL_SCANCODE_KP_1);
  switch (scancode) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_RETURN: return VK_RETURN;
    case SDL_SCANCODE_ESCAPE: return VK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE: return VK_BACK;
    case SDL_SCANCODE_TAB: return VK_TAB;
    case SDL_SCANCODE_SPACE: return VK_SPACE;
    case SDL_SCANCODE_MINUS: return VK_OEM_MINUS;
    case SDL_SCANCODE_EQUALS: return VK_OEM_PLUS;
    case SDL_SCANCODE_LEFTBRACKET: return VK_OEM_4;
    case SDL_SCANCODE_RIGHTBRACKET: return VK_OEM_6;
    case SDL_SCANCODE_BACKSLASH: return VK_OEM_5;
    case SDL_SCANCODE_SEMICOLON: return VK_OEM_1;
    case SDL_SCANCODE_APOSTROPHE: return VK_OEM_7;
    case SDL_SCANCODE_GRAVE: return VK_OEM_3;
    case SDL_SCANCODE_COMMA: return VK_OEM_COMMA;
    case SDL_SCANCODE_PERIOD: return VK_OEM_PERIOD;
    case SDL_SCANCODE_SLASH: return VK_OEM_2;
    case SDL_SCANCODE_CAPSLOCK: return VK_CAPITAL;
    case SDL_SCANCODE_PRINTSCREEN: return VK_SNAPSHOT;
    case SDL_SCANCODE_SCROLLLOCK: return VK_SCROLL;
    case SDL_SCANCODE_PAUSE: return VK_PAUSE;
    case SDL_SCANCODE_INSERT: return VK_INSERT;
    case SDL_SCANCODE_HOME: return VK_HOME;
    case SDL_SCANCODE_PAGEUP: return VK_PRIOR;
    case SDL_SCANCODE_DELETE: return VK_DELETE;
    case SDL_SCANCODE_END: return VK_END;
    case SDL_SCANCODE_PAGEDOWN: return VK_NEXT;
    case SDL_SCANCODE_RIGHT: return VK_RIGHT;
    case SDL_SCANCODE_LEFT: return VK_LEFT;
    case SDL_SCANCODE_DOWN: return VK_DOWN;
    case SDL_SCANCODE_UP: return VK_UP;
    case SDL_SCANCODE_NUMLOCKCLEAR: return VK_NUMLOCK;
    case SDL_SCANCODE_KP_DIVIDE: return VK_DIVIDE;
    case SDL_SCANCODE_KP_MULTIPLY: return VK_MULTIPLY;
    case SDL_SCANCODE_KP_MINUS: return VK_SUBTRACT;
    case SDL_SCANCODE_KP_PLUS: return VK_ADD;
    case SDL_SCANCODE_KP_ENTER: return VK_RETURN;
    case SDL_SCANCODE_KP_0: return VK_NUMPAD0;
    case SDL_SCANCODE_KP_PERIOD: return VK_DECIMAL;
    case SDL_SCANCODE_APPLICATION: return VK_APPS;
    case SDL_SCANCODE_LCTRL: return VK_LCONTROL;
    case SDL_SCANCODE_LSHIFT: return VK_LSHIFT;
    case SDL_SCANCODE_LALT: return VK_LMENU;
    case SDL_SCANCODE_LGUI: return VK_LWIN;
    case SDL_SCANCODE_RCTRL: return VK_RCONTROL;
    case SDL_SCANCODE_RSHIFT: return VK_RSHIFT;
    case SDL_SCANCODE_RALT: return VK_RMENU;
    case SDL_SCANCODE_RGUI: return VK_RWIN;
    default: return 0;
  }
}
