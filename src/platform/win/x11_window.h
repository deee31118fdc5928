// The X11 window backend: draws into a window that a screen saver host gives (XScreenSaver, MATE,
// Xfce, a settings preview) or into one of our own. A given window is never mapped, moved,
// resized, raised, grabbed or given properties; the backend reads its size and visual and selects
// only StructureNotifyMask | ExposureMask on it (the host holds the input events). The picture
// follows the window: ConfigureNotify reports a Resize event, DestroyNotify or an X error that says
// the window is gone (BadWindow, BadDrawable) reports Close. Pictures go through MIT-SHM
// (XShmPutImage) when the server shares memory with us, XPutImage otherwise; a picture whose size
// differs from the window's is scaled by the server with XRender.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/win/window_backend.h"

struct KlvX11Image;
struct KlvX11Scaler;

class TKlvX11Window : public KlvWindowBackend {
 public:
  // Draws into window `windowId` of display `displayName` (empty: $DISPLAY), or into the display's
  // root window when `windowId` is absent. Throws KlvError(Unsupported) when the display cannot be
  // opened or the window does not exist.
  static std::unique_ptr<TKlvX11Window> Attach(const std::string& displayName, std::optional<unsigned long> windowId);
  // Makes, names and maps a window of our own, `width` x `height`, that the user may resize and close.
  static std::unique_ptr<TKlvX11Window> CreateOwn(const std::string& displayName, int width, int height,
                                                  const std::string& title);
  ~TKlvX11Window() override;

  void Present(const uint8_t* pixels, int width, int height, intptr_t pitch) override;
  // A picture is written straight into the image sent to the server when the visual takes
  // 0x00RRGGBB words as they are; otherwise into the lent buffer, converted by Present.
  KlvPictureTarget BeginPicture(int width, int height) override;
  void ShowPicture() override;
  bool NextEvent(KlvWindowEvent& event, int timeoutMs) override;
  void Wake() override;
  // The window's size as last reported by the server.
  bool NativeSize(int& width, int& height) override;

  // Whether pictures go through shared memory (false on a remote display or without MIT-SHM).
  bool UsesSharedMemory() const { return useShm_; }

 protected:
  // The form settings never reach an X window: a given one is the host's, and our own keeps what
  // the user makes of it.
  void SettingsChanged() override {}

 private:
  TKlvX11Window(Display* display, Window window, bool own);
  void ReadWindow();
  void AttachGlContext();
  bool Translate(const XEvent& xevent, KlvWindowEvent& event);
  // Makes the image (and the scaler) fit a `width` x `height` picture.
  bool PrepareImage(int width, int height);
  void ReleaseImage();
  // Whether the image's pixels are little-endian 0x??RRGGBB words.
  bool ImageHoldsXrgb() const;
  void CopyPixels(const uint8_t* pixels, int width, int height, intptr_t pitch);
  // Puts the last picture on the window again (Expose, after a resize).
  void ShowImage();

  Display* display_;
  Window window_;
  bool own_;
  Atom deleteWindow_ = None;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  int width_ = 0;
  int height_ = 0;
  GC gc_ = nullptr;
  bool useShm_ = false;
  bool closeReported_ = false;
  bool glWindow_ = false;   // the GL device presents through a GLX context on the window
  bool glxLoaded_ = false;  // a GLX context was made (and the GL driver loaded), taken or not
  bool imageLent_ = false;  // between a BeginPicture that lent the image and its ShowPicture
  int wakePipe_[2] = {-1, -1};
  std::unique_ptr<KlvX11Image> image_;
  std::unique_ptr<KlvX11Scaler> scaler_;
};
