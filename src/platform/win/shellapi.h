// Shell launch stand-in: ShellExecuteA's "open" action starts a program directly (never through
// a command interpreter) in the given working folder.
#pragma once

#include <cstdint>

#include "platform/win/wintypes.h"

using HINSTANCE = intptr_t;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

// Results of 32 or less are errors, as on Windows.
constexpr HINSTANCE SE_ERR_FNF = 2;           // the file does not exist
constexpr HINSTANCE SE_ERR_PNF = 3;           // the working folder does not exist
constexpr HINSTANCE SE_ERR_ACCESSDENIED = 5;  // the file may not be run
constexpr HINSTANCE SE_ERR_OOM = 8;           // the process could not be created
constexpr HINSTANCE SE_ERR_NOASSOC = 31;      // an action other than "open", or a file that is no program
constexpr HINSTANCE kShellExecuteSuccess = 42;

// Runs `file` with `parameters` (split at blanks; double quotes group words) in `directory`
// (empty or null: the current folder). A relative `file` is found relative to `directory`, where
// the program will run. `operation` must be "open" or null; `owner` and `showCommand` are
// accepted and ignored. The started program is reaped in the background; nothing waits for it.
HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                        const char* directory, int showCommand);
