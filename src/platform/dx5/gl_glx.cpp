// The GLX context on a host's X window.
#include "platform/dx5/gl_glx.h"

#include <GL/glx.h>
#include <X11/Xlib.h>

namespace {

using CreateContextAttribs = GLXContext (*)(Display*, GLXFBConfig, GLXContext, Bool, const int*);

// Xlib's default error handler ends the process; while the host's window is examined, an error
// (a window already gone, for instance) only makes the examination fail.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

bool ReadWindow(Display* display, unsigned long window, XWindowAttributes* attributes) {
  XSync(display, False);
  auto previous = XSetErrorHandler(&IgnoreXError);
  const Status read = XGetWindowAttributes(display, window, attributes);
  XSync(display, False);
  XSetErrorHandler(previous);
  return read != 0;
}

void (*ResolveGlx(const char* name))() { return glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)); }

// The frame-buffer configuration whose X visual is the window's; null when GL has none for it.
GLXFBConfig ConfigForVisual(Display* display, int screen, VisualID visual, bool* doubleBuffered) {
  const int wanted[] = {GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT, None};
  int count = 0;
  GLXFBConfig* configs = glXChooseFBConfig(display, screen, wanted, &count);
  GLXFBConfig found = nullptr;
  for (int i = 0; i < count && found == nullptr; ++i) {
    int id = 0, doubled = 0;
    glXGetFBConfigAttrib(display, configs[i], GLX_VISUAL_ID, &id);
    glXGetFBConfigAttrib(display, configs[i], GLX_DOUBLEBUFFER, &doubled);
    if (static_cast<VisualID>(id) == visual) {
      found = configs[i];
      *doubleBuffered = doubled != 0;
    }
  }
  if (configs != nullptr) XFree(configs);
  return found;
}

class GlxContext final : public GlContext {
 public:
  GlxContext(Display* display, Window window, GLXContext context, bool doubleBuffered)
      : display_(display), window_(window), context_(context), doubleBuffered_(doubleBuffered) {}
  ~GlxContext() override {
    glXMakeCurrent(display_, None, nullptr);
    glXDestroyContext(display_, context_);
  }

  bool Open(std::string* error) { return MakeCurrent() && LoadApi(&ResolveGlx, error); }
  bool MakeCurrent() override { return glXMakeCurrent(display_, window_, context_) == True; }
  // A single-buffered visual shows what was drawn once the commands have run.
  void Present() override {
    if (doubleBuffered_)
      glXSwapBuffers(display_, window_);
    else
      Api().Finish();
  }
  bool HasWindow() const override { return true; }
  bool FillsWindow() const override { return true; }
  void WindowSize(int* width, int* height) const override {
    XWindowAttributes attributes{};
    if (!ReadWindow(display_, window_, &attributes)) {
      *width = *height = 0;
      return;
    }
    *width = attributes.width;
    *height = attributes.height;
  }

 private:
  Display* display_;
  Window window_;
  GLXContext context_;
  bool doubleBuffered_;
};

}  // namespace

std::unique_ptr<GlContext> CreateGlxContext(Display* display, unsigned long window, std::string* error) {
  XWindowAttributes attributes{};
  if (display == nullptr || !ReadWindow(display, window, &attributes)) {
    *error = "the window cannot be read";
    return nullptr;
  }
  int errorBase = 0, eventBase = 0;
  if (!glXQueryExtension(display, &errorBase, &eventBase)) {
    *error = "the X display has no GLX";
    return nullptr;
  }
  bool doubleBuffered = false;
  GLXFBConfig config = ConfigForVisual(display, XScreenNumberOfScreen(attributes.screen),
                                       XVisualIDFromVisual(attributes.visual), &doubleBuffered);
  if (config == nullptr) {
    *error = "the window's visual has no OpenGL configuration";
    return nullptr;
  }
  auto create = reinterpret_cast<CreateContextAttribs>(ResolveGlx("glXCreateContextAttribsARB"));
  if (create == nullptr) {
    *error = "GLX cannot make core-profile contexts";
    return nullptr;
  }
  const int contextAttributes[] = {
      GLX_CONTEXT_MAJOR_VERSION_ARB,    3,   GLX_CONTEXT_MINOR_VERSION_ARB, 3, GLX_CONTEXT_PROFILE_MASK_ARB,
      GLX_CONTEXT_CORE_PROFILE_BIT_ARB, None};
  GLXContext context = create(display, config, nullptr, True, contextAttributes);
  if (context == nullptr) {
    *error = "GLX made no OpenGL 3.3 core context";
    return nullptr;
  }
  auto ours = std::make_unique<GlxContext>(display, window, context, doubleBuffered);
  if (!ours->Open(error)) return nullptr;
  return ours;
}
