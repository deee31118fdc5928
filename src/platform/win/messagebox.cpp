// MessageBoxA stand-in: a recorder when tests installed one, SDL's message box when SDL video
// runs, otherwise the text on standard error.
#include "platform/win/messagebox.h"

#include <SDL.h>

#include <cstdio>

#include "platform/win/winstate.h"

int MessageBoxA(HWND, const char* text, const char* caption, UINT) {
  std::string textString = text ? text : "";
  std::string captionString = caption ? caption : "";
  MessageBoxRecorder recorder;
  {
    KlvWinState& state = WinState();
    std::lock_guard lock(state.recorderMutex);
    recorder = state.recorder;
  }
  if (recorder) {
    recorder(textString, captionString);
    return IDOK;
  }
  // The box has no parent: the owner's window may be a full-screen one that is about to close.
  if (SdlVideoActive() &&
      SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, captionString.c_str(), textString.c_str(), nullptr) == 0)
    return IDOK;
  std::fprintf(stderr, "%s: %s\n", captionString.c_str(), textString.c_str());
  return IDOK;
}

void SetMessageBoxRecorder(MessageBoxRecorder recorder) {
  KlvWinState& state = WinState();
  std::lock_guard lock(state.recorderMutex);
  state.recorder = std::move(recorder);
}
