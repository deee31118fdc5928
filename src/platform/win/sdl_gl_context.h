// An OpenGL 3.3 core context on the SDL2 window, for the GL device to draw with and present on
// (a window with a GL context has no SDL renderer; the two would fight over the current context).
#pragma once

#include <SDL.h>

#include <memory>
#include <string>

#include "platform/dx5/gl_context.h"

// Asks SDL for 3.3 core contexts with double buffering; call before the window is made.
void RequestSdlGlAttributes();
// A context on `window` (made with SDL_WINDOW_OPENGL); null with *error set when SDL cannot make it.
std::unique_ptr<GlContext> CreateSdlGlContext(SDL_Window* window, std::string* error);
