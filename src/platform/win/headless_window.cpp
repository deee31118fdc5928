// The headless window backend: a queue of injected events and a copy of the last picture.
#include "platform/win/headless_window.h"

#include <chrono>
#include <cstring>

#include "platform/win/winuser.h"

void TKlvHeadlessWindow::Queue(const KlvWindowEvent& event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }
  arrived_.notify_all();
}

void TKlvHeadlessWindow::InjectKeyDown(BYTE virtualKey) { Queue({KlvWindowEvent::Kind::KeyDown, virtualKey}); }

void TKlvHeadlessWindow::InjectKeyUp(BYTE virtualKey) { Queue({KlvWindowEvent::Kind::KeyUp, virtualKey}); }

void TKlvHeadlessWindow::InjectMouseMove(int screenX, int screenY) {
  SetCursorPos(screenX, screenY);
  Queue({KlvWindowEvent::Kind::MouseMove, 0, screenX - Settings().left, screenY - Settings().top});
}

void TKlvHeadlessWindow::InjectClick() { Queue({KlvWindowEvent::Kind::Click}); }
void TKlvHeadlessWindow::InjectPaint() { Queue({KlvWindowEvent::Kind::Paint}); }
void TKlvHeadlessWindow::InjectClose() { Queue({KlvWindowEvent::Kind::Close}); }

void TKlvHeadlessWindow::InjectResize(int width, int height) {
  {
    std::lock_guard lock(mutex_);
    nativeWidth_ = width;
    nativeHeight_ = height;
  }
  Queue({KlvWindowEvent::Kind::Resize, 0, width, height});
}

bool TKlvHeadlessWindow::NativeSize(int& width, int& height) {
  std::lock_guard lock(mutex_);
  width = nativeWidth_;
  height = nativeHeight_;
  return true;
}

void TKlvHeadlessWindow::Present(const uint8_t* pixels, int width, int height, intptr_t pitch) {
  ++presentCount_;
  frameWidth_ = width;
  frameHeight_ = height;
  lastFrame_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y)
    std::memcpy(&lastFrame_[static_cast<size_t>(y) * static_cast<size_t>(width)], pixels + y * pitch,
                static_cast<size_t>(width) * sizeof(uint32_t));
}

KlvPictureTarget TKlvHeadlessWindow::BeginPicture(int width, int height) {
  if (width <= 0 || height <= 0) return {};
  frameWidth_ = width;
  frameHeight_ = height;
  lastFrame_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  return {lastFrame_.data(), intptr_t{width} * static_cast<intptr_t>(sizeof(uint32_t))};
}

void TKlvHeadlessWindow::ShowPicture() { ++presentCount_; }

bool TKlvHeadlessWindow::NextEvent(KlvWindowEvent& event, int timeoutMs) {
  std::unique_lock lock(mutex_);
  auto ready = [&] { return !events_.empty() || woken_; };
  if (timeoutMs < 0)
    arrived_.wait(lock, ready);
  else if (timeoutMs > 0)
    arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
  woken_ = false;
  if (events_.empty()) return false;
  event = events_.front();
  events_.pop_front();
  return true;
}

void TKlvHeadlessWindow::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  arrived_.notify_all();
}
