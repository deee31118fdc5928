// The form settings every window backend carries (the backend applies them), and the picture
// buffer lent to callers of backends that have none of their own.
#include "platform/win/window_backend.h"

#include <cstddef>

void KlvWindowBackend::SetClientSize(int width, int height) {
  settings_.clientWidth = width;
  settings_.clientHeight = height;
  SettingsChanged();
}

void KlvWindowBackend::SetPosition(int left, int top) {
  settings_.left = left;
  settings_.top = top;
  SettingsChanged();
}

void KlvWindowBackend::SetStayOnTop(bool stayOnTop) {
  settings_.stayOnTop = stayOnTop;
  SettingsChanged();
}

void KlvWindowBackend::SetBorder(bool border) {
  settings_.border = border;
  SettingsChanged();
}

void KlvWindowBackend::SetVisible(bool visible) {
  settings_.visible = visible;
  SettingsChanged();
}

KlvPictureTarget KlvWindowBackend::BeginPicture(int width, int height) {
  if (width <= 0 || height <= 0) return {};
  pictureWidth_ = width;
  pictureHeight_ = height;
  picture_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  return {picture_.data(), intptr_t{width} * static_cast<intptr_t>(sizeof(uint32_t))};
}

KlvPictureTarget KlvWindowBackend::LentPicture() {
  if (picture_.empty()) return {};
  return {picture_.data(), intptr_t{pictureWidth_} * static_cast<intptr_t>(sizeof(uint32_t))};
}

void KlvWindowBackend::ShowPicture() {
  Present(reinterpret_cast<const uint8_t*>(picture_.data()), pictureWidth_, pictureHeight_,
          intptr_t{pictureWidth_} * static_cast<intptr_t>(sizeof(uint32_t)));
}
