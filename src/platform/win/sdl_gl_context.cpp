// The SDL2 window's GL context.
#include "platform/win/sdl_gl_context.h"

namespace {

void (*ResolveSdl(const char* name))() { return reinterpret_cast<void (*)()>(SDL_GL_GetProcAddress(name)); }

class SdlGlContext final : public GlContext {
 public:
  SdlGlContext(SDL_Window* window, SDL_GLContext context) : window_(window), context_(context) {}
  ~SdlGlContext() override { SDL_GL_DeleteContext(context_); }

  bool Open(std::string* error) { return LoadApi(&ResolveSdl, error); }
  bool MakeCurrent() override { return SDL_GL_MakeCurrent(window_, context_) == 0; }
  void Present() override { SDL_GL_SwapWindow(window_); }
  bool HasWindow() const override { return true; }
  void WindowSize(int* width, int* height) const override { SDL_GL_GetDrawableSize(window_, width, height); }

 private:
  SDL_Window* window_;
  SDL_GLContext context_;
};

}  // namespace

void RequestSdlGlAttributes() {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

std::unique_ptr<GlContext> CreateSdlGlContext(SDL_Window* window, std::string* error) {
  SDL_GLContext context = SDL_GL_CreateContext(window);
  if (context == nullptr) {
    *error = std::string("no OpenGL 3.3 core context on the window: ") + SDL_GetError();
    return nullptr;
  }
  // The saver paces its own frames; a swap does not wait for the display.
  SDL_GL_SetSwapInterval(0);
  auto ours = std::make_unique<SdlGlContext>(window, context);
  if (!ours->Open(error)) return nullptr;
  return ours;
}
