// The one instance of the stand-ins' process-wide state.
#include "platform/win/winstate.h"

KlvWinState& WinState() {
  static KlvWinState state;
  return state;
}

bool SdlVideoActive() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }
