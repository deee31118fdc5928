// The SDL2 window's GL context and the pictures from memory shown through it.
#include "platform/win/sdl_gl_context.h"

#include "platform/dx5/ddraw_gl.h"
#include "platform/dx5/gl_display.h"
#include "platform/dx5/gl_raster.h"

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

// The last picture shown from memory, kept on the GPU for redraws.
struct MemoryPicture {
  GlRaster* raster = nullptr;
  uint64_t serial = 0;
  GlTarget target;
};

MemoryPicture& Picture() {
  static MemoryPicture picture;
  return picture;
}

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

bool PresentPixelsOnGl(const uint8_t* pixels, int width, int height, intptr_t pitch) {
  GlRaster* raster = DisplayGlRaster();
  GlContext* context = DisplayGlContext();
  if (raster == nullptr || context == nullptr || !context->HasWindow()) return false;
  MemoryPicture& p = Picture();
  if (p.raster != raster || p.serial != DisplayGlSerial()) p = MemoryPicture{raster, DisplayGlSerial(), {}};
  if (p.target.width != width || p.target.height != height) {
    raster->DestroyTarget(&p.target);
    if (!raster->CreateTarget(width, height, false, &p.target)) return false;
  }
  raster->WriteColor(p.target, RasterTarget{const_cast<uint8_t*>(pixels), pitch, width, height,
                                            RasterPixelFormat::Xrgb32});
  int windowWidth = 0, windowHeight = 0;
  context->WindowSize(&windowWidth, &windowHeight);
  raster->PresentToWindow(p.target, windowWidth, windowHeight);
  context->Present();
  return true;
}

void ShowLastGlPicture() {
  if (GlPresentFrontBuffer()) return;
  MemoryPicture& p = Picture();
  GlContext* context = DisplayGlContext();
  if (context == nullptr || p.raster != DisplayGlRaster() || p.serial != DisplayGlSerial() || p.target.framebuffer == 0)
    return;
  int windowWidth = 0, windowHeight = 0;
  context->WindowSize(&windowWidth, &windowHeight);
  p.raster->PresentToWindow(p.target, windowWidth, windowHeight);
  context->Present();
}
