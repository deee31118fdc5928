// MessageBoxA stand-in: SDL's message box where a display exists, standard error otherwise.
// Tests install a recorder to see every box shown, in order, instead of showing it.
#pragma once

#include <functional>
#include <string>

#include "platform/win/wintypes.h"

constexpr UINT MB_OK = 0x00000000;
constexpr int IDOK = 1;

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// While set, every MessageBoxA call goes to `recorder` (text, caption) and returns IDOK.
using MessageBoxRecorder = std::function<void(const std::string& text, const std::string& caption)>;
void SetMessageBoxRecorder(MessageBoxRecorder recorder);
