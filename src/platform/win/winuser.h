// Window-system services stand-in for input: the cursor's display counter and position, and the
// virtual-key state table. Backends feed the table through KlvSetKeyState.
#pragma once

#include <cstdint>

#include "platform/win/wintypes.h"

// Virtual-key codes with their Windows values.
constexpr BYTE VK_LBUTTON = 0x01, VK_RBUTTON = 0x02, VK_MBUTTON = 0x04;
constexpr BYTE VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12;
constexpr BYTE VK_PAUSE = 0x13, VK_CAPITAL = 0x14, VK_ESCAPE = 0x1B, VK_SPACE = 0x20;
constexpr BYTE VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23, VK_HOME = 0x24;
constexpr BYTE VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28;
constexpr BYTE VK_SNAPSHOT = 0x2C, VK_INSERT = 0x2D, VK_DELETE = 0x2E;
constexpr BYTE VK_LWIN = 0x5B, VK_RWIN = 0x5C, VK_APPS = 0x5D;
constexpr BYTE VK_NUMPAD0 = 0x60, VK_NUMPAD1 = 0x61, VK_NUMPAD2 = 0x62, VK_NUMPAD3 = 0x63, VK_NUMPAD4 = 0x64;
constexpr BYTE VK_NUMPAD5 = 0x65, VK_NUMPAD6 = 0x66, VK_NUMPAD7 = 0x67, VK_NUMPAD8 = 0x68, VK_NUMPAD9 = 0x69;
constexpr BYTE VK_MULTIPLY = 0x6A, VK_ADD = 0x6B, VK_SUBTRACT = 0x6D, VK_DECIMAL = 0x6E, VK_DIVIDE = 0x6F;
constexpr BYTE VK_F1 = 0x70;  // F1..F12 are 0x70..0x7B
constexpr BYTE VK_NUMLOCK = 0x90, VK_SCROLL = 0x91;
constexpr BYTE VK_LSHIFT = 0xA0, VK_RSHIFT = 0xA1, VK_LCONTROL = 0xA2, VK_RCONTROL = 0xA3, VK_LMENU = 0xA4,
               VK_RMENU = 0xA5;
constexpr BYTE VK_OEM_1 = 0xBA, VK_OEM_PLUS = 0xBB, VK_OEM_COMMA = 0xBC, VK_OEM_MINUS = 0xBD, VK_OEM_PERIOD = 0xBE;
constexpr BYTE VK_OEM_2 = 0xBF, VK_OEM_3 = 0xC0, VK_OEM_4 = 0xDB, VK_OEM_5 = 0xDC, VK_OEM_6 = 0xDD, VK_OEM_7 = 0xDE;
// Letters and digits use their ASCII upper-case codes ('A' = 0x41, '0' = 0x30).

// Bit 7 of a key's entry: the key is down. Bit 0: toggled by every press (Caps Lock and the like).
constexpr BYTE kKeyDownBit = 0x80;
constexpr BYTE kKeyToggleBit = 0x01;

// Adds 1 (show) or subtracts 1 (hide) from the display counter and returns the new count; the
// cursor shows while the count is >= 0, applied to SDL's cursor when SDL video runs. Main thread.
int ShowCursor(BOOL show);
// The cursor in screen pixels: SDL's global mouse position when SDL video runs, else the position
// last set with SetCursorPos (headless runs). FALSE for a null `point`.
BOOL GetCursorPos(POINT* point);
BOOL SetCursorPos(int x, int y);
// Copies the 256-entry virtual-key state table. FALSE for a null `keys`.
BOOL GetKeyboardState(BYTE* keys);

// Records a key going down or up. A press of a left or right Shift, Control or Alt key also sets
// the side-neutral code (VK_SHIFT, VK_CONTROL, VK_MENU) while either side is down.
void KlvSetKeyState(BYTE virtualKey, bool down);
// Marks every key up (a window that loses the keyboard no longer sees the releases).
void KlvReleaseAllKeys();
// The key code a key message carries: the side-neutral code for a sided modifier, else `virtualKey`.
BYTE KlvMessageKey(BYTE virtualKey);
// The virtual key of an SDL scancode; 0 for keys without one. The numeric keypad always gives
// VK_NUMPAD0..9 and its operator keys, whatever the Num Lock state.
BYTE KlvVirtualKeyFromScancode(int scancode);
