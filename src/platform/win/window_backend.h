// The seam between the application object and a window system: one main window that reports its
// input as events, takes the picture to show, and carries the form settings (client size,
// position, stay-on-top, border, visibility). Backends: SDL2 (a real window) and headless (events
// injected by tests and tools) and X11 (a window a screen saver host gives, or one of our own).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win/wintypes.h"

class KlvWindowBackend;

// The opaque window handle: what HWND points at for windows of these backends.
struct HWND__ {
  KlvWindowBackend* window;
};

struct KlvWindowEvent {
  enum class Kind { KeyDown, KeyUp, MouseMove, Click, Paint, Close, FocusLost, Resize };
  Kind kind = Kind::Paint;
  BYTE key = 0;  // KeyDown, KeyUp: the virtual key, sided for Shift, Control and Alt; 0 for a key without one
  int x = 0;     // MouseMove: the cursor in client coordinates; Resize: the new width and height
  int y = 0;
};

// Where a caller writes a picture in place: rows of 32-bit XRGB words, `pitch` bytes apart (at
// least 4 * width), top row first. `pixels` is null when there is nowhere to write.
struct KlvPictureTarget {
  uint32_t* pixels = nullptr;
  intptr_t pitch = 0;
};

// The form settings, as the main window last set them.
struct KlvWindowSettings {
  int clientWidth = 640;
  int clientHeight = 480;
  int left = 0;
  int top = 0;
  bool stayOnTop = false;
  bool border = true;
  bool visible = false;
};

class KlvWindowBackend {
 public:
  KlvWindowBackend() : handle_{this} {}
  KlvWindowBackend(const KlvWindowBackend&) = delete;
  KlvWindowBackend& operator=(const KlvWindowBackend&) = delete;
  virtual ~KlvWindowBackend() = default;

  HWND Handle() { return &handle_; }
  const KlvWindowSettings& Settings() const { return settings_; }

  void SetClientSize(int width, int height);
  void SetPosition(int left, int top);
  void SetStayOnTop(bool stayOnTop);
  void SetBorder(bool border);
  void SetVisible(bool visible);

  // Shows a width x height picture of 32-bit XRGB pixels (little-endian 0x00RRGGBB words); row 0
  // is the top row and `pitch` is the byte step from one row to the next (negative for bottom-up
  // storage). The pixels are copied. Main thread only.
  virtual void Present(const uint8_t* pixels, int width, int height, intptr_t pitch) = 0;

  // The other way to show a picture, without the copy Present makes: BeginPicture gives memory for a
  // width x height picture, which the caller fills completely (its bytes before are undefined), and
  // ShowPicture then shows it as Present would. Backends that can lend their own memory (the
  // headless frame, a streaming texture) do; the others lend a buffer kept here and Present it.
  // A null target (no picture for a size below 1 x 1) needs no ShowPicture. Main thread only.
  virtual KlvPictureTarget BeginPicture(int width, int height);
  virtual void ShowPicture();

  // Takes the next event, waiting up to `timeoutMs` for one (0: no wait, negative: no limit).
  // False when none came in time or Wake was called. Main thread only.
  virtual bool NextEvent(KlvWindowEvent& event, int timeoutMs) = 0;
  // Makes a waiting NextEvent return; callable from any thread.
  virtual void Wake() = 0;

  // The size of a picture at native resolution: the monitor's for a window that covers it, the
  // window's own for a window given by a host. False when there is none to ask.
  virtual bool NativeSize(int& width, int& height) = 0;

 protected:
  // Called after every change of the settings, to apply them to the real window.
  virtual void SettingsChanged() = 0;
  // The lent buffer and the size of the picture last put there (null and 0 before the first).
  KlvPictureTarget LentPicture();
  int PictureWidth() const { return pictureWidth_; }
  int PictureHeight() const { return pictureHeight_; }

 private:
  HWND__ handle_;
  KlvWindowSettings settings_;
  std::vector<uint32_t> picture_;  // the lent buffer of backends without memory of their own
  int pictureWidth_ = 0;
  int pictureHeight_ = 0;
};
