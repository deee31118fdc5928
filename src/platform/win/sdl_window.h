// The SDL2 window backend: a real window on the display. Made borderless and stay-on-top (the
// saver's set-up) it covers the whole monitor (full-screen desktop, the monitor's mode is left
// alone); otherwise it is an ordinary window of the client size. The presented picture is scaled
// to the window with its shape kept, black bars filling the rest. The system's screen blanking
// stays allowed.
#pragma once

#include <SDL.h>

#include <string>

#include "platform/win/picture_fit.h"
#include "platform/win/window_backend.h"

class TKlvSdlWindow : public KlvWindowBackend {
 public:
  // Starts SDL video and makes the (hidden) window; throws KlvError(Unsupported) when there is no
  // display or SDL cannot make a window.
  explicit TKlvSdlWindow(const std::string& title);
  ~TKlvSdlWindow() override;

  void Present(const uint8_t* pixels, int width, int height, intptr_t pitch) override;
  // The picture is written straight into the locked texture, or into the window's memory when it
  // is the window's size; a GL window takes the lent buffer.
  KlvPictureTarget BeginPicture(int width, int height) override;
  void ShowPicture() override;
  bool NextEvent(KlvWindowEvent& event, int timeoutMs) override;
  void Wake() override;
  // The desktop mode of the display the window is on.
  bool NativeSize(int& width, int& height) override;

 protected:
  void SettingsChanged() override;

 private:
  bool Translate(const SDL_Event& sdlEvent, KlvWindowEvent& event);
  // Makes the streaming texture fit a `width` x `height` picture; false when SDL cannot.
  bool FitTexture(int width, int height);
  // Draws the last picture again, letterboxed.
  void Redraw();
  // Has pictures written into the window's own memory instead of a renderer's texture; false
  // (and nothing changed) when SDL gives the window no 32-bit memory.
  bool UseWindowMemory();
  KlvPictureTarget BeginWindowMemoryPicture(int width, int height);
  void RedrawWindowMemory();

  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int textureWidth_ = 0;
  int textureHeight_ = 0;
  bool textureLocked_ = false;  // between a BeginPicture that lent the texture and its ShowPicture
  Uint32 wakeEventType_ = 0;
  bool glWindow_ = false;               // a GL context on the window shows the pictures, no SDL renderer
  bool windowMemory_ = false;           // pictures go into the window's own memory, no SDL renderer
  SDL_Surface* surfaceLent_ = nullptr;  // the window memory a BeginPicture lent, until ShowPicture
  bool pictureInWindow_ = false;        // the last picture was written straight into window memory
  int windowPictureWidth_ = 0;          // of that size
  int windowPictureHeight_ = 0;
  PictureFitter fitter_;
};
