// The GL side of the one display of the process: which renderer the "hardware" Direct3D device may
// use (the `Renderer` setting and --renderer), the GL context of the presentation target and the
// GL drawing made on it. A window backend that can show GL (the SDL2 window, a host's X window
// through GLX) installs its context; without one, a headless EGL context is made on first use, so
// a run without a display (tests, the frame-capture driver) draws on the GPU as well. All calls
// belong to the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/dx5/gl_context.h"

class GlRaster;

enum class KlvRenderer {
  // GL when a context can be made on a GPU; the software rasteriser otherwise, and also where the
  // only OpenGL is itself a software one (Mesa's llvmpipe and the like), which costs more CPU
  Auto,
  Software,  // never GL
  Gl,        // GL when a context can be made; without one the software rasteriser, with a warning
};

// "auto", "software" or "gl" (any case); false for anything else.
bool ParseRenderer(const std::string& text, KlvRenderer* renderer);
// Sets the choice; it applies to devices and surfaces made afterwards. Choosing Software releases
// the GL context.
void SetRenderer(KlvRenderer renderer);
KlvRenderer CurrentRenderer();

// Whether video-memory textures are sampled with bilinear filtering (the `TextureFilter` setting);
// off by default.
void SetGlBilinearFiltering(bool on);
bool GlBilinearFiltering();

// Installs the presentation target's context (null removes it, releasing every GL object first;
// a window backend does this before its window goes; no headless context is made after that).
// Returns whether the context was taken: not when the choice is Software, nor when it is Auto and
// the context draws in software; the backend then shows pictures without GL.
bool InstallGlContext(std::unique_ptr<GlContext> context);
// Whether the context draws on the CPU: its GL_RENDERER names one of Mesa's software rasterisers
// (llvmpipe, softpipe, swrast). The context is made current.
bool DrawsInSoftware(GlContext& context);
// Whether a GL_RENDERER string names one of those software rasterisers.
bool IsSoftwareGlRenderer(const char* name);
// The GL drawing when the choice allows GL and a context exists or can be made; null otherwise.
GlRaster* DisplayGlRaster();
// The installed context, or null.
GlContext* DisplayGlContext();
// Changes each time the context goes: GL objects made under an older serial are already gone.
uint64_t DisplayGlSerial();
// Drops the GL drawing and context (at exit, before the window system shuts down).
void ReleaseGlDisplay();
