// The headless window backend: no display; tests and tools inject the input a user would give
// and read back what was presented. Injection may come from any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/win/window_backend.h"

class TKlvHeadlessWindow : public KlvWindowBackend {
 public:
  TKlvHeadlessWindow() = default;

  void InjectKeyDown(BYTE virtualKey);
  void InjectKeyUp(BYTE virtualKey);
  // Moves the cursor to (screenX, screenY) at once (GetCursorPos sees it) and queues the move,
  // in client coordinates, for the window.
  void InjectMouseMove(int screenX, int screenY);
  void InjectClick();
  void InjectPaint();
  // As if the user closed the window.
  void InjectClose();
  // As if a host resized the window: NativeSize reports the new size and a Resize event is queued.
  void InjectResize(int width, int height);

  // Everything presented so far: how often, and the last picture as 0x00RRGGBB words, top row first.
  int PresentCount() const { return presentCount_; }
  int FrameWidth() const { return frameWidth_; }
  int FrameHeight() const { return frameHeight_; }
  const std::vector<uint32_t>& LastFrame() const { return lastFrame_; }

  void Present(const uint8_t* pixels, int width, int height, intptr_t pitch) override;
  // The picture is written straight into the last frame.
  KlvPictureTarget BeginPicture(int width, int height) override;
  void ShowPicture() override;
  bool NextEvent(KlvWindowEvent& event, int timeoutMs) override;
  void Wake() override;
  // 640 x 480 until InjectResize.
  bool NativeSize(int& width, int& height) override;

 protected:
  void SettingsChanged() override {}

 private:
  void Queue(const KlvWindowEvent& event);

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<KlvWindowEvent> events_;
  bool woken_ = false;

  int nativeWidth_ = 640;
  int nativeHeight_ = 480;
  int presentCount_ = 0;
  int frameWidth_ = 0;
  int frameHeight_ = 0;
  std::vector<uint32_t> lastFrame_;
};
