// The X11 window backend. X errors arrive through one process-wide handler (Xlib has no other
// way); it records the error and marks the window gone on BadWindow or BadDrawable, so a host that
// destroys its window ends the saver quietly instead of Xlib's default exit.
#include "platform/win/x11_window.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/dx5/gl_display.h"
#include "platform/dx5/gl_glx.h"
#include "platform/dx5/gl_window_picture.h"
#include "platform/error.h"

struct KlvX11Image {
  Display* display = nullptr;
  XImage* image = nullptr;
  XShmSegmentInfo segment{};
  bool shared = false;

  ~KlvX11Image() {
    if (image == nullptr) return;
    if (shared) {
      XShmDetach(display, &segment);
      XSync(display, False);
      image->data = nullptr;  // the segment is not Xlib's to free
      XDestroyImage(image);
      shmdt(segment.shmaddr);
    } else {
      XDestroyImage(image);
    }
  }
};

struct KlvX11Scaler {
  Display* display = nullptr;
  Pixmap pixmap = None;
  Picture source = None;
  Picture target = None;

  ~KlvX11Scaler() {
    if (source != None) XRenderFreePicture(display, source);
    if (target != None) XRenderFreePicture(display, target);
    if (pixmap != None) XFreePixmap(display, pixmap);
  }
};

namespace {

constexpr long kEventMask = StructureNotifyMask | ExposureMask;
constexpr uint32_t kOpaqueAlpha = 0xFF000000u;
constexpr int kChannelBits = 8;

struct X11Errors {
  std::atomic<bool> windowGone{false};
  std::atomic<int> lastError{Success};
  std::atomic<bool> reportedOther{false};
  // The first error code of the XRender extension, -1 until the backend has queried it: a picture
  // made on the window dies with the window, so RenderBadPicture means the same as BadWindow.
  std::atomic<int> renderErrorBase{-1};
};

X11Errors& Errors() {
  static X11Errors errors;
  return errors;
}

int OnXError(Display* display, XErrorEvent* error) {
  X11Errors& errors = Errors();
  errors.lastError = error->error_code;
  const int renderBase = errors.renderErrorBase;
  const bool pictureGone = renderBase >= 0 && error->error_code == renderBase + BadPicture;
  if (error->error_code == BadWindow || error->error_code == BadDrawable || pictureGone) {
    errors.windowGone = true;
  } else if (!errors.reportedOther.exchange(true)) {
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    std::fprintf(stderr, "kalvor_saver: X error: %s (request %d)\n", text, error->request_code);
  }
  return 0;
}

Display* OpenDisplay(const std::string& name) {
  Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
  if (display == nullptr) {
    const std::string shown = XDisplayName(name.empty() ? nullptr : name.c_str());
    throw KlvError(KlvErrorKind::Unsupported, "",
                   shown.empty() ? std::string("no X display (DISPLAY is not set and --display is not given)")
                                 : "cannot open the X display \"" + shown + "\"");
  }
  XSetErrorHandler(OnXError);
  return display;
}

// Where an 8-bit channel goes in a pixel of the visual.
struct ChannelPlace {
  int shift = 0;  // lowest bit of the mask
  int bits = 0;   // width of the mask
};

ChannelPlace PlaceOf(unsigned long mask) {
  ChannelPlace place;
  if (mask == 0) return place;
  place.shift = std::countr_zero(mask);
  place.bits = std::popcount(mask);
  return place;
}

unsigned long PutChannel(uint32_t value8, const ChannelPlace& place) {
  if (place.bits >= kChannelBits)
    return static_cast<unsigned long>(value8) << (place.shift + place.bits - kChannelBits);
  return static_cast<unsigned long>(value8 >> (kChannelBits - place.bits)) << place.shift;
}

}  // namespace

std::unique_ptr<TKlvX11Window> TKlvX11Window::Attach(const std::string& displayName,
                                                     std::optional<unsigned long> windowId) {
  Display* display = OpenDisplay(displayName);
  const Window window = windowId ? static_cast<Window>(*windowId) : DefaultRootWindow(display);
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) == 0) {
    XCloseDisplay(display);
    char id[32];
    std::snprintf(id, sizeof id, "0x%lX", static_cast<unsigned long>(window));
    throw KlvError(KlvErrorKind::Unsupported, "", std::string("window ") + id + " does not exist on the X display");
  }
  return std::unique_ptr<TKlvX11Window>(new TKlvX11Window(display, window, false));
}

std::unique_ptr<TKlvX11Window> TKlvX11Window::CreateOwn(const std::string& displayName, int width, int height,
                                                        const std::string& title) {
  Display* display = OpenDisplay(displayName);
  const int screen = DefaultScreen(display);
  const Window window =
      XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), 0, BlackPixel(display, screen), BlackPixel(display, screen));
  XStoreName(display, window, title.c_str());
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &deleteWindow, 1);
  XMapWindow(display, window);
  auto own = std::unique_ptr<TKlvX11Window>(new TKlvX11Window(display, window, true));
  own->deleteWindow_ = deleteWindow;
  return own;
}

TKlvX11Window::TKlvX11Window(Display* display, Window window, bool own)
    : display_(display), window_(window), own_(own) {
  try {
    ReadWindow();
  } catch (...) {
    if (own_) XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
    throw;
  }
  XSelectInput(display_, window_, kEventMask);
  gc_ = XCreateGC(display_, window_, 0, nullptr);
  if (pipe2(wakePipe_, O_NONBLOCK | O_CLOEXEC) != 0) wakePipe_[0] = wakePipe_[1] = -1;
  useShm_ = XShmQueryExtension(display_) == True;
  XSync(display_, False);
  Errors().windowGone = false;
  AttachGlContext();
}

// The GL device draws and presents through GLX on the window when its visual allows it (the host
// asked for a GL visual); otherwise pictures go through shared memory or XPutImage.
void TKlvX11Window::AttachGlContext() {
  if (CurrentRenderer() == KlvRenderer::Software) return;
  std::string error;
  std::unique_ptr<GlContext> context = CreateGlxContext(display_, window_, &error);
  if (context == nullptr) {
    if (CurrentRenderer() == KlvRenderer::Gl) std::fprintf(stderr, "kalvor: %s; drawing in software\n", error.c_str());
    return;
  }
  glxLoaded_ = true;
  glWindow_ = InstallGlContext(std::move(context));
}

TKlvX11Window::~TKlvX11Window() {
  if (glWindow_) InstallGlContext(nullptr);  // the GL objects go before the window
  ReleaseImage();
  if (gc_ != nullptr) XFreeGC(display_, gc_);
  if (own_) XDestroyWindow(display_, window_);
  // Closing the connection after GLX was used unloads the GL driver, whose few kept allocations
  // the leak checker would then report from an unnamed module; the process is ending anyway.
  if (!glxLoaded_) XCloseDisplay(display_);
  for (int fd : wakePipe_)
    if (fd >= 0) close(fd);
}

void TKlvX11Window::ReadWindow() {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display_, window_, &attributes) == 0) return;
  visual_ = attributes.visual;
  depth_ = attributes.depth;
  width_ = attributes.width;
  height_ = attributes.height;
  if (visual_->c_class != TrueColor && visual_->c_class != DirectColor)
    throw KlvError(KlvErrorKind::Unsupported, "", "the window's visual has no true colour");
}

bool TKlvX11Window::NativeSize(int& width, int& height) {
  width = width_;
  height = height_;
  return width_ > 0 && height_ > 0;
}

void TKlvX11Window::ReleaseImage() {
  scaler_.reset();
  image_.reset();
}

bool TKlvX11Window::PrepareImage(int width, int height) {
  if (!image_ || image_->image->width != width || image_->image->height != height) {
    ReleaseImage();
    auto made = std::make_unique<KlvX11Image>();
    made->display = display_;
    if (useShm_) {
      made->image = XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr, &made->segment,
                                    static_cast<unsigned>(width), static_cast<unsigned>(height));
      if (made->image != nullptr) {
        made->segment.shmid =
            shmget(IPC_PRIVATE, static_cast<size_t>(made->image->bytes_per_line) * height, IPC_CREAT | 0600);
        void* memory = made->segment.shmid < 0 ? reinterpret_cast<void*>(-1) : shmat(made->segment.shmid, nullptr, 0);
        if (memory != reinterpret_cast<void*>(-1)) {
          made->segment.shmaddr = made->image->data = static_cast<char*>(memory);
          made->segment.readOnly = False;
          Errors().lastError = Success;
          XShmAttach(display_, &made->segment);
          XSync(display_, False);
          made->shared = Errors().lastError == Success;
        }
        if (made->segment.shmid >= 0) shmctl(made->segment.shmid, IPC_RMID, nullptr);
        if (!made->shared) {
          // A remote display (or one that refuses the segment): plain XPutImage from now on.
          if (memory != reinterpret_cast<void*>(-1)) shmdt(memory);
          made->image->data = nullptr;
          XDestroyImage(made->image);
          made->image = nullptr;
          useShm_ = false;
        }
      }
    }
    if (made->image == nullptr) {
      made->image = XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                                 static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
      if (made->image == nullptr) return false;
      made->image->data = static_cast<char*>(std::malloc(static_cast<size_t>(made->image->bytes_per_line) * height));
      if (made->image->data == nullptr) {
        XDestroyImage(made->image);
        made->image = nullptr;
        return false;
      }
    }
    image_ = std::move(made);
  }
  const bool scaled = width != width_ || height != height_;
  if (scaled && !scaler_) {
    int eventBase = 0, errorBase = 0;
    const bool haveRender = XRenderQueryExtension(display_, &eventBase, &errorBase);
    if (haveRender) Errors().renderErrorBase = errorBase;
    XRenderPictFormat* format = haveRender ? XRenderFindVisualFormat(display_, visual_) : nullptr;
    if (format != nullptr) {
      scaler_ = std::make_unique<KlvX11Scaler>();
      scaler_->display = display_;
      scaler_->pixmap = XCreatePixmap(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                      static_cast<unsigned>(depth_));
      // Edge pixels repeat outwards, so filtering at the border blends with the picture, not black.
      XRenderPictureAttributes edges{};
      edges.repeat = RepeatPad;
      scaler_->source = XRenderCreatePicture(display_, scaler_->pixmap, format, CPRepeat, &edges);
      scaler_->target = XRenderCreatePicture(display_, window_, format, 0, nullptr);
      XRenderSetPictureFilter(display_, scaler_->source, FilterBilinear, nullptr, 0);
    }
  }
  return true;
}

bool TKlvX11Window::ImageHoldsXrgb() const {
  const XImage* image = image_->image;
  return image->bits_per_pixel == 32 && image->byte_order == LSBFirst && visual_->red_mask == 0xFF0000 &&
         visual_->green_mask == 0xFF00 && visual_->blue_mask == 0xFF;
}

void TKlvX11Window::CopyPixels(const uint8_t* pixels, int width, int height, intptr_t pitch) {
  XImage* image = image_->image;
  const bool direct = ImageHoldsXrgb();
  // A 32-bit visual keeps alpha in the top byte; the picture is opaque.
  const uint32_t alpha = depth_ == 32 ? kOpaqueAlpha : 0;
  if (direct) {
    for (int y = 0; y < height; ++y) {
      const auto* from = reinterpret_cast<const uint32_t*>(pixels + y * pitch);
      auto* to = reinterpret_cast<uint32_t*>(image->data + static_cast<intptr_t>(y) * image->bytes_per_line);
      if (alpha == 0) {
        std::memcpy(to, from, static_cast<size_t>(width) * sizeof(uint32_t));
      } else {
        for (int x = 0; x < width; ++x) to[x] = from[x] | alpha;
      }
    }
    return;
  }
  const ChannelPlace red = PlaceOf(visual_->red_mask), green = PlaceOf(visual_->green_mask),
                     blue = PlaceOf(visual_->blue_mask);
  // 16-bit visuals in the client's byte order are written directly; anything rarer goes through Xlib.
  const bool direct16 = image->bits_per_pixel == 16 && image->byte_order == LSBFirst;
  for (int y = 0; y < height; ++y) {
    const auto* from = reinterpret_cast<const uint32_t*>(pixels + y * pitch);
    auto* row16 = reinterpret_cast<uint16_t*>(image->data + static_cast<intptr_t>(y) * image->bytes_per_line);
    for (int x = 0; x < width; ++x) {
      const uint32_t p = from[x];
      const unsigned long value =
          PutChannel(p >> 16 & 0xFF, red) | PutChannel(p >> 8 & 0xFF, green) | PutChannel(p & 0xFF, blue) | alpha;
      if (direct16)
        row16[x] = static_cast<uint16_t>(value);
      else
        XPutPixel(image, x, y, value);
    }
  }
}

void TKlvX11Window::Present(const uint8_t* pixels, int width, int height, intptr_t pitch) {
  if (width <= 0 || height <= 0 || Errors().windowGone) return;
  if (glWindow_) {
    PresentPixelsOnGl(pixels, width, height, pitch);
    return;
  }
  if (!PrepareImage(width, height)) return;
  CopyPixels(pixels, width, height, pitch);
  ShowImage();
}

KlvPictureTarget TKlvX11Window::BeginPicture(int width, int height) {
  imageLent_ = false;
  // Only an image whose pixels are the picture's words, with no alpha to add, is lent.
  const bool lendable = width > 0 && height > 0 && !glWindow_ && !Errors().windowGone && depth_ != 32;
  if (!lendable || !PrepareImage(width, height) || !ImageHoldsXrgb())
    return KlvWindowBackend::BeginPicture(width, height);
  imageLent_ = true;
  XImage* image = image_->image;
  return {reinterpret_cast<uint32_t*>(image->data), image->bytes_per_line};
}

void TKlvX11Window::ShowPicture() {
  if (!imageLent_) {
    KlvWindowBackend::ShowPicture();
    return;
  }
  imageLent_ = false;
  ShowImage();
}

void TKlvX11Window::ShowImage() {
  if (glWindow_ && !Errors().windowGone) {
    ShowLastGlPicture();
    return;
  }
  if (!image_ || Errors().windowGone) return;
  XImage* image = image_->image;
  const unsigned width = static_cast<unsigned>(image->width), height = static_cast<unsigned>(image->height);
  const bool scaled = image->width != width_ || image->height != height_;
  const Drawable target = scaled && scaler_ ? scaler_->pixmap : window_;
  if (image_->shared)
    XShmPutImage(display_, target, gc_, image, 0, 0, 0, 0, width, height, False);
  else
    XPutImage(display_, target, gc_, image, 0, 0, 0, 0, width, height);
  if (scaled && scaler_) {
    XTransform transform{{{XDoubleToFixed(static_cast<double>(width) / width_), 0, 0},
                          {0, XDoubleToFixed(static_cast<double>(height) / height_), 0},
                          {0, 0, XDoubleToFixed(1.0)}}};
    XRenderSetPictureTransform(display_, scaler_->source, &transform);
    XRenderComposite(display_, PictOpSrc, scaler_->source, None, scaler_->target, 0, 0, 0, 0, 0, 0,
                     static_cast<unsigned>(width_), static_cast<unsigned>(height_));
  }
  // The server has read the shared image once this returns, so the next picture may overwrite it;
  // an error about the window (it is gone) arrives here too.
  XSync(display_, False);
}

bool TKlvX11Window::Translate(const XEvent& xevent, KlvWindowEvent& event) {
  switch (xevent.type) {
    case ConfigureNotify:
      if (xevent.xconfigure.window != window_) return false;
      if (xevent.xconfigure.width == width_ && xevent.xconfigure.height == height_) return false;
      width_ = xevent.xconfigure.width;
      height_ = xevent.xconfigure.height;
      scaler_.reset();  // its transform and target belong to the old size
      event.kind = KlvWindowEvent::Kind::Resize;
      event.x = width_;
      event.y = height_;
      return true;
    case Expose:
      if (xevent.xexpose.window != window_ || xevent.xexpose.count != 0) return false;
      if (image_) PrepareImage(image_->image->width, image_->image->height);
      ShowImage();
      event.kind = KlvWindowEvent::Kind::Paint;
      return true;
    case DestroyNotify:
      if (xevent.xdestroywindow.window != window_) return false;
      Errors().windowGone = true;
      return false;
    case ClientMessage:
      if (deleteWindow_ == None || static_cast<Atom>(xevent.xclient.data.l[0]) != deleteWindow_) return false;
      event.kind = KlvWindowEvent::Kind::Close;
      return true;
    default: return false;
  }
}

bool TKlvX11Window::NextEvent(KlvWindowEvent& event, int timeoutMs) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    while (!Errors().windowGone && XPending(display_) > 0) {
      XEvent xevent;
      XNextEvent(display_, &xevent);
      if (Translate(xevent, event)) return true;
    }
    if (Errors().windowGone) {
      if (closeReported_) return false;
      closeReported_ = true;
      event.kind = KlvWindowEvent::Kind::Close;
      return true;
    }
    if (attempt == 1 || timeoutMs == 0) break;
    pollfd waits[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    poll(waits, wakePipe_[0] >= 0 ? 2 : 1, timeoutMs);
    char drained[64];
    while (wakePipe_[0] >= 0 && read(wakePipe_[0], drained, sizeof drained) > 0) {
    }
  }
  return false;
}

void TKlvX11Window::Wake() {
  if (wakePipe_[1] < 0) return;
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = write(wakePipe_[1], &byte, 1);
}
