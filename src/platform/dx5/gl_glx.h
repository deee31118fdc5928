// An OpenGL 3.3 core context through GLX on an existing X window, for embedded mode: the host (a
// screen-saver daemon) owns the window and its visual; the saver only draws into it. The context
// is made only when the window's visual has a GL configuration (XScreenSaver asks for one with
// the "GL:" prefix on the saver's programs line); otherwise the caller draws in software.
#pragma once

#include <memory>
#include <string>

#include "platform/dx5/gl_context.h"

// Xlib's Display, declared here so that this header does not bring Xlib's macros (None, Bool, ...).
typedef struct _XDisplay Display;

// A context that draws on and swaps `window` (an X Window id) of `display` (both stay the caller's;
// the context must go before either does); null with *error set when the visual or GLX cannot give one.
std::unique_ptr<GlContext> CreateGlxContext(Display* display, unsigned long window, std::string* error);
