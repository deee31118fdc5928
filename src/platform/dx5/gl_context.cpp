// The headless EGL context and the version check every context shares.
#include "platform/dx5/gl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr EGLint kContextAttributes[] = {
    EGL_CONTEXT_MAJOR_VERSION,           3,       EGL_CONTEXT_MINOR_VERSION, 3, EGL_CONTEXT_OPENGL_PROFILE_MASK,
    EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};

GlApi::Resolver EglResolver() { return reinterpret_cast<GlApi::Resolver>(&eglGetProcAddress); }

class EglHeadlessContext final : public GlContext {
 public:
  // width and height 0: no window at all; otherwise a pbuffer of that size stands in for a window.
  EglHeadlessContext(int width, int height) : width_(width), height_(height) {}
  ~EglHeadlessContext() override {
    if (display_ == EGL_NO_DISPLAY) return;
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
    if (surface_ != EGL_NO_SURFACE) eglDestroySurface(display_, surface_);
    // The display stays initialised: EGL keeps one per platform for the whole process, and
    // terminating it unloads the driver, whose own allocations then cannot be told from ours.
    eglReleaseThread();
  }

  // Surfaceless first; a pbuffer of the default display otherwise.
  bool Open(std::string* error) {
    if ((width_ == 0 && OpenSurfaceless()) || OpenPbuffer(SurfacelessDisplay()) ||
        OpenPbuffer(eglGetDisplay(EGL_DEFAULT_DISPLAY)))
      return LoadApi(EglResolver(), error);
    *error = "no OpenGL 3.3 core context through EGL (error 0x" + Hex(eglGetError()) + ")";
    return false;
  }

  bool MakeCurrent() override { return eglMakeCurrent(display_, surface_, surface_, context_) == EGL_TRUE; }
  void Present() override { eglSwapBuffers(display_, surface_); }
  bool HasWindow() const override { return width_ > 0; }
  void WindowSize(int* width, int* height) const override {
    *width = width_;
    *height = height_;
  }

 private:
  static std::string Hex(EGLint value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
  }

  bool Initialise(EGLDisplay display) {
    if (display == EGL_NO_DISPLAY) return false;
    if (eglInitialize(display, nullptr, nullptr) != EGL_TRUE) return false;
    display_ = display;
    return eglBindAPI(EGL_OPENGL_API) == EGL_TRUE;
  }

  void Close() {
    if (display_ != EGL_NO_DISPLAY) eglTerminate(display_);
    display_ = EGL_NO_DISPLAY;
  }

  static EGLDisplay SurfacelessDisplay() {
    const char* extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (extensions == nullptr || std::strstr(extensions, "EGL_MESA_platform_surfaceless") == nullptr)
      return EGL_NO_DISPLAY;
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) return EGL_NO_DISPLAY;
    return getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  }

  bool OpenSurfaceless() {
    if (!Initialise(SurfacelessDisplay())) {
      Close();
      return false;
    }
    context_ = eglCreateContext(display_, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, kContextAttributes);
    if (context_ != EGL_NO_CONTEXT && MakeCurrent()) return true;
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
    context_ = EGL_NO_CONTEXT;
    Close();
    return false;
  }

  bool OpenPbuffer(EGLDisplay display) {
    if (!Initialise(display)) {
      Close();
      return false;
    }
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                       EGL_NONE};
    const EGLint surfaceAttributes[] = {EGL_WIDTH, std::max(width_, 1), EGL_HEIGHT, std::max(height_, 1), EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (eglChooseConfig(display_, configAttributes, &config, 1, &count) == EGL_TRUE && count == 1) {
      surface_ = eglCreatePbufferSurface(display_, config, surfaceAttributes);
      context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, kContextAttributes);
      if (surface_ != EGL_NO_SURFACE && context_ != EGL_NO_CONTEXT && MakeCurrent()) return true;
    }
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
    if (surface_ != EGL_NO_SURFACE) eglDestroySurface(display_, surface_);
    context_ = EGL_NO_CONTEXT;
    surface_ = EGL_NO_SURFACE;
    Close();
    return false;
  }

  int width_, height_;
  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLContext context_ = EGL_NO_CONTEXT;
  EGLSurface surface_ = EGL_NO_SURFACE;
};

}  // namespace

bool GlContext::LoadApi(GlApi::Resolver resolve, std::string* error) {
  const char* missing = nullptr;
  if (!api_.Load(resolve, &missing)) {
    *error = std::string("the OpenGL library lacks ") + missing;
    return false;
  }
  GLint major = 0, minor = 0;
  api_.GetIntegerv(GL_MAJOR_VERSION, &major);
  api_.GetIntegerv(GL_MINOR_VERSION, &minor);
  if (major * 10 + minor < 33) {
    *error = "OpenGL " + std::to_string(major) + "." + std::to_string(minor) + " is older than 3.3";
    return false;
  }
  return true;
}

std::unique_ptr<GlContext> CreateHeadlessGlContext(std::string* error) {
  auto context = std::make_unique<EglHeadlessContext>(0, 0);
  if (!context->Open(error)) return nullptr;
  return context;
}

std::unique_ptr<GlContext> CreateOffscreenWindowGlContext(int width, int height, std::string* error) {
  if (width <= 0 || height <= 0) {
    *error = "an off-screen window needs a size";
    return nullptr;
  }
  auto context = std::make_unique<EglHeadlessContext>(width, height);
  if (!context->Open(error)) return nullptr;
  return context;
}
