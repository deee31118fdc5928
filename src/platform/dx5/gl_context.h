// An OpenGL 3.3 core context and its function table: the seam between the GL device and the
// window system that made the context. Headless contexts (EGL, no display) serve tests and the
// frame-capture driver; window contexts (SDL2's window, GLX on a host's X window) present
// framebuffer 0 on screen.
#pragma once

#include <memory>
#include <string>

#include "platform/dx5/gl_api.h"

class GlContext {
 public:
  GlContext() = default;
  GlContext(const GlContext&) = delete;
  GlContext& operator=(const GlContext&) = delete;
  virtual ~GlContext() = default;

  // Makes this the calling thread's current context; false when the context is gone.
  virtual bool MakeCurrent() = 0;
  // Shows framebuffer 0 (swaps a window's buffers); a headless context has nothing to show.
  virtual void Present() = 0;
  // Whether framebuffer 0 is a window's buffer, and its size in pixels.
  virtual bool HasWindow() const = 0;
  virtual void WindowSize(int* width, int* height) const = 0;
  // Whether pictures of another shape are stretched over the whole window (a host's window, which
  // must show no bars) rather than letterboxed.
  virtual bool FillsWindow() const { return false; }

  GlApi& Api() { return api_; }

 protected:
  // Loads the function table through `resolve` and checks the version; false with *error set.
  bool LoadApi(GlApi::Resolver resolve, std::string* error);

 private:
  GlApi api_;
};

// A context with no window on Mesa's surfaceless EGL platform, or on a 1 x 1 pbuffer of the default
// EGL display where that platform is missing; null with *error set when neither can be made.
std::unique_ptr<GlContext> CreateHeadlessGlContext(std::string* error);
// A headless context whose framebuffer 0 is a width x height EGL pbuffer that stands in for a
// window: GL presentation draws into it, and tests read it back.
std::unique_ptr<GlContext> CreateOffscreenWindowGlContext(int width, int height, std::string* error);
