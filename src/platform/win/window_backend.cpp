// The form settings every window backend carries; the backend applies them.
#include "platform/win/window_backend.h"

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
