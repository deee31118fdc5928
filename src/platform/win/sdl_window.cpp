// The SDL2 window backend. The picture lives in a streaming texture of the frame's size, so an
// expose or a resize draws it again without the caller. Where SDL's renderer would itself draw on
// the CPU (a software OpenGL such as llvmpipe, or SDL's own software renderer), the window has no
// renderer: pictures are written, fitted, into the window's own memory (the X server's shared
// memory image on X11), which costs far less processor time than drawing them as a texture.
#include "platform/win/sdl_window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dx5/gl_display.h"
#include "platform/dx5/gl_window_picture.h"
#include "platform/error.h"
#include "platform/win/picture_fit.h"
#include "platform/win/sdl_gl_context.h"
#include "platform/win/winstate.h"
#include "platform/win/winuser.h"

namespace {

constexpr int kBytesPerPixel = 4;
// The window memory pictures may be written into: 32-bit words of 0x00RRGGBB, the top byte unused.
constexpr Uint32 kWindowMemoryFormat = SDL_PIXELFORMAT_RGB888;

// Whether SDL's renderer draws on the CPU: its own software renderer, or an OpenGL one whose
// GL_RENDERER is a software rasteriser. SDL makes a GL renderer's context current on creation.
bool RendersInSoftware(SDL_Renderer* renderer) {
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(renderer, &info) != 0) return false;
  if ((info.flags & SDL_RENDERER_SOFTWARE) != 0) return true;
  if (info.name == nullptr || std::strncmp(info.name, "opengl", 6) != 0 || SDL_GL_GetCurrentContext() == nullptr)
    return false;
  using GetStringFn = const unsigned char* (*)(unsigned int);
  auto getString = reinterpret_cast<GetStringFn>(SDL_GL_GetProcAddress("glGetString"));
  return getString != nullptr && IsSoftwareGlRenderer(reinterpret_cast<const char*>(getString(GL_RENDERER)));
}

[[noreturn]] void Fail(const std::string& what) {
  throw KlvError(KlvErrorKind::Unsupported, "", what + ": " + SDL_GetError());
}

// Without a display SDL falls back to a driver whose window nobody sees; a saver there could never
// be seen or stopped, so such a driver is taken only when SDL_VIDEODRIVER asks for it by name.
void RefuseInvisibleDriver() {
  const char* name = SDL_GetCurrentVideoDriver();
  const std::string driver = name ? name : "";
  if ((driver == "offscreen" || driver == "dummy") && std::getenv("SDL_VIDEODRIVER") == nullptr) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    throw KlvError(KlvErrorKind::Unsupported, "", "no display (DISPLAY and WAYLAND_DISPLAY are unset)");
  }
}

// Full-screen desktop mode needs a window manager to take effect; the window is first moved and
// sized over its display by hand, so it covers the screen without one too.
void CoverDisplay(SDL_Window* window) {
  SDL_Rect bounds;
  if (SDL_GetDisplayBounds(std::max(SDL_GetWindowDisplayIndex(window), 0), &bounds) != 0) return;
  SDL_SetWindowBordered(window, SDL_FALSE);
  SDL_SetWindowPosition(window, bounds.x, bounds.y);
  SDL_SetWindowSize(window, bounds.w, bounds.h);
}

}  // namespace

TKlvSdlWindow::TKlvSdlWindow(const std::string& title) {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) Fail("no display");
  RefuseInvisibleDriver();
  // SDL keeps the screen awake by default; a screen saver leaves blanking to the system.
  SDL_EnableScreenSaver();
  const KlvWindowSettings& s = Settings();
  const bool wantGl = CurrentRenderer() != KlvRenderer::Software;
  if (wantGl) RequestSdlGlAttributes();
  window_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, s.clientWidth,
                             s.clientHeight, SDL_WINDOW_HIDDEN | (wantGl ? SDL_WINDOW_OPENGL : 0));
  bool glPossible = wantGl;
  if (window_ == nullptr && wantGl) {  // a display without GL still gets a window
    if (CurrentRenderer() == KlvRenderer::Gl) std::fprintf(stderr, "kalvor: %s; drawing in software\n", SDL_GetError());
    glPossible = false;
    window_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, s.clientWidth,
                               s.clientHeight, SDL_WINDOW_HIDDEN);
  }
  if (window_ == nullptr) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    Fail("cannot make a window");
  }
  // The GL device draws and presents through a context on the window when one can be made; the
  // window then has no SDL renderer.
  if (glPossible) {
    std::string error;
    std::unique_ptr<GlContext> context = CreateSdlGlContext(window_, &error);
    if (context != nullptr) {
      glWindow_ = InstallGlContext(std::move(context));
    } else if (CurrentRenderer() == KlvRenderer::Gl) {
      std::fprintf(stderr, "kalvor: %s; drawing in software\n", error.c_str());
    }
  }
  if (glWindow_) {
    wakeEventType_ = SDL_RegisterEvents(1);
    ApplyCursorVisibility();
    return;
  }
  renderer_ = SDL_CreateRenderer(window_, -1, 0);
  if (renderer_ != nullptr && RendersInSoftware(renderer_) && UseWindowMemory()) {
    SDL_DestroyRenderer(renderer_);
    renderer_ = nullptr;
  }
  if (renderer_ == nullptr && !windowMemory_) {
    SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    Fail("cannot draw in the window");
  }
  wakeEventType_ = SDL_RegisterEvents(1);
  ApplyCursorVisibility();
}

TKlvSdlWindow::~TKlvSdlWindow() {
  if (glWindow_) InstallGlContext(nullptr);  // the GL objects go before the window
  if (texture_) SDL_DestroyTexture(texture_);
  if (renderer_) SDL_DestroyRenderer(renderer_);
  SDL_DestroyWindow(window_);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void TKlvSdlWindow::SettingsChanged() {
  const KlvWindowSettings& s = Settings();
  bool coversScreen = s.stayOnTop && !s.border;
  if (coversScreen) CoverDisplay(window_);
  SDL_SetWindowFullscreen(window_, coversScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  if (!coversScreen) {
    SDL_SetWindowSize(window_, s.clientWidth, s.clientHeight);
    SDL_SetWindowPosition(window_, s.left, s.top);
    SDL_SetWindowBordered(window_, s.border ? SDL_TRUE : SDL_FALSE);
    SDL_SetWindowAlwaysOnTop(window_, s.stayOnTop ? SDL_TRUE : SDL_FALSE);
  }
  if (s.visible) {
    SDL_ShowWindow(window_);
    SDL_RaiseWindow(window_);
  } else {
    SDL_HideWindow(window_);
  }
}

bool TKlvSdlWindow::UseWindowMemory() {
  // Only memory that takes 0x00RRGGBB words as they are, with no alpha that could make the
  // window see-through.
  if (SDL_GetWindowPixelFormat(window_) != kWindowMemoryFormat) return false;
  // Without this hint SDL would back the window's memory with a texture of a renderer of its own,
  // the very drawing this avoids.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  windowMemory_ = surface != nullptr && surface->format->format == kWindowMemoryFormat;
  return windowMemory_;
}

void TKlvSdlWindow::Present(const uint8_t* pixels, int width, int height, intptr_t pitch) {
  if (width <= 0 || height <= 0) return;
  if (glWindow_) {
    PresentPixelsOnGl(pixels, width, height, pitch);
    return;
  }
  if (windowMemory_) {
    // Kept in the lent buffer, from which an expose or a resize shows it again.
    pictureInWindow_ = false;
    KlvPictureTarget kept = KlvWindowBackend::BeginPicture(width, height);
    for (int y = 0; y < height; ++y)
      std::memcpy(reinterpret_cast<uint8_t*>(kept.pixels) + y * kept.pitch, pixels + y * pitch,
                  static_cast<size_t>(width) * kBytesPerPixel);
    Redraw();
    return;
  }
  if (!FitTexture(width, height)) return;
  void* target = nullptr;
  int targetPitch = 0;
  if (SDL_LockTexture(texture_, nullptr, &target, &targetPitch) != 0) return;
  // Row by row, because the caller's pitch may be negative or differ from the texture's.
  for (int y = 0; y < height; ++y)
    std::memcpy(static_cast<uint8_t*>(target) + y * targetPitch, pixels + y * pitch,
                static_cast<size_t>(width) * kBytesPerPixel);
  SDL_UnlockTexture(texture_);
  Redraw();
}

bool TKlvSdlWindow::FitTexture(int width, int height) {
  if (texture_ != nullptr && width == textureWidth_ && height == textureHeight_) return true;
  if (texture_) SDL_DestroyTexture(texture_);
  texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
  textureWidth_ = texture_ ? width : 0;
  textureHeight_ = texture_ ? height : 0;
  return texture_ != nullptr;
}

KlvPictureTarget TKlvSdlWindow::BeginPicture(int width, int height) {
  textureLocked_ = false;
  if (windowMemory_) return BeginWindowMemoryPicture(width, height);
  if (glWindow_ || width <= 0 || height <= 0 || !FitTexture(width, height))
    return KlvWindowBackend::BeginPicture(width, height);
  void* target = nullptr;
  int targetPitch = 0;
  // A texture that will not lock leaves the picture to the lent buffer and Present.
  if (SDL_LockTexture(texture_, nullptr, &target, &targetPitch) != 0)
    return KlvWindowBackend::BeginPicture(width, height);
  textureLocked_ = true;
  return {static_cast<uint32_t*>(target), targetPitch};
}

KlvPictureTarget TKlvSdlWindow::BeginWindowMemoryPicture(int width, int height) {
  // A picture of the window's size is written straight into its memory; any other is kept in the
  // lent buffer and fitted into the window when shown.
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  if (surface == nullptr || surface->format->format != kWindowMemoryFormat || surface->w != width ||
      surface->h != height || (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0))
    return KlvWindowBackend::BeginPicture(width, height);
  surfaceLent_ = surface;
  fitter_.Forget();  // the picture covers the fitter's bars
  windowPictureWidth_ = width;
  windowPictureHeight_ = height;
  return {static_cast<uint32_t*>(surface->pixels), surface->pitch};
}

void TKlvSdlWindow::ShowPicture() {
  if (windowMemory_) {
    pictureInWindow_ = surfaceLent_ != nullptr;
    if (surfaceLent_ == nullptr) return Redraw();
    if (SDL_MUSTLOCK(surfaceLent_)) SDL_UnlockSurface(surfaceLent_);
    surfaceLent_ = nullptr;
    SDL_UpdateWindowSurface(window_);
    return;
  }
  if (!textureLocked_) {
    KlvWindowBackend::ShowPicture();
    return;
  }
  textureLocked_ = false;
  SDL_UnlockTexture(texture_);
  Redraw();
}

void TKlvSdlWindow::Redraw() {
  if (glWindow_) {
    ShowLastGlPicture();
    return;
  }
  if (windowMemory_) {
    RedrawWindowMemory();
    return;
  }
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  SDL_RenderClear(renderer_);
  int outWidth = 0, outHeight = 0;
  if (texture_ && SDL_GetRendererOutputSize(renderer_, &outWidth, &outHeight) == 0) {
    const PictureRect rect = FitPicture(textureWidth_, textureHeight_, outWidth, outHeight);
    const SDL_Rect target{rect.x, rect.y, rect.width, rect.height};
    SDL_RenderCopy(renderer_, texture_, nullptr, &target);
  }
  SDL_RenderPresent(renderer_);
}

void TKlvSdlWindow::RedrawWindowMemory() {
  // The window's memory is made again after a resize; SDL hands back the current one. A picture
  // written straight into the old memory is gone then, until the next one.
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  if (pictureInWindow_) {
    if (surface != nullptr && surface->w == windowPictureWidth_ && surface->h == windowPictureHeight_)
      SDL_UpdateWindowSurface(window_);
    return;
  }
  if (surface == nullptr || surface->format->format != kWindowMemoryFormat) return;
  const KlvPictureTarget picture = LentPicture();
  if (picture.pixels == nullptr) return;
  if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
  fitter_.Fit(picture.pixels, PictureWidth(), PictureHeight(), picture.pitch, static_cast<uint32_t*>(surface->pixels),
              surface->w, surface->h, surface->pitch);
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  SDL_UpdateWindowSurface(window_);
}

bool TKlvSdlWindow::NextEvent(KlvWindowEvent& event, int timeoutMs) {
  SDL_Event sdlEvent;
  bool got = timeoutMs == 0  ? SDL_PollEvent(&sdlEvent) != 0
             : timeoutMs < 0 ? SDL_WaitEvent(&sdlEvent) != 0
                             : SDL_WaitEventTimeout(&sdlEvent, timeoutMs) != 0;
  // Events that mean nothing to the form (and wake-ups) are consumed and reported as none; the
  // loop simply asks again.
  return got && Translate(sdlEvent, event);
}

void TKlvSdlWindow::Wake() {
  SDL_Event wake{};
  wake.type = wakeEventType_;
  SDL_PushEvent(&wake);
}

bool TKlvSdlWindow::NativeSize(int& width, int& height) {
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(std::max(SDL_GetWindowDisplayIndex(window_), 0), &mode) != 0) return false;
  width = mode.w;
  height = mode.h;
  return true;
}

bool TKlvSdlWindow::Translate(const SDL_Event& e, KlvWindowEvent& event) {
  switch (e.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      event.kind = e.type == SDL_KEYDOWN ? KlvWindowEvent::Kind::KeyDown : KlvWindowEvent::Kind::KeyUp;
      event.key = KlvVirtualKeyFromScancode(e.key.keysym.scancode);
      return true;
    case SDL_MOUSEMOTION:
      event.kind = KlvWindowEvent::Kind::MouseMove;
      event.x = e.motion.x;
      event.y = e.motion.y;
      return true;
    case SDL_MOUSEBUTTONUP: event.kind = KlvWindowEvent::Kind::Click; return e.button.button == SDL_BUTTON_LEFT;
    case SDL_QUIT: event.kind = KlvWindowEvent::Kind::Close; return true;
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_EXPOSED:
          Redraw();
          event.kind = KlvWindowEvent::Kind::Paint;
          return true;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          fitter_.Forget();  // the window's memory is made again
          Redraw();
          return false;
        case SDL_WINDOWEVENT_CLOSE: event.kind = KlvWindowEvent::Kind::Close; return true;
        case SDL_WINDOWEVENT_FOCUS_LOST: event.kind = KlvWindowEvent::Kind::FocusLost; return true;
        default: return false;
      }
    default: return false;
  }
}
