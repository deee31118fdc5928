// The minimal owner/component pair the display components need: an owner form that holds its
// components in creation order and its window handle, and a component that knows its owner and
// its index there ("component index"). The main window derives from TComponentOwner.
#pragma once

#include <vector>

#include "platform/win/wintypes.h"

class TComponent;

class TComponentOwner {
 public:
  TComponentOwner() = default;
  TComponentOwner(const TComponentOwner&) = delete;
  TComponentOwner& operator=(const TComponentOwner&) = delete;
  virtual ~TComponentOwner() = default;

  // The form's window; null when there is none (headless tests).
  HWND Handle = nullptr;
  // Screen position of the form's client area, for converting component rectangles.
  POINT ClientOrigin{0, 0};

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Component(int index) const { return components_[index]; }
  // Position of `component` among the owner's components, -1 when it is not one of them.
  int IndexOf(const TComponent* component) const;

 private:
  friend class TComponent;
  std::vector<TComponent*> components_;
};

class TComponent {
 public:
  // Appends the component to `owner`'s components (an absent owner is allowed).
  explicit TComponent(TComponentOwner* owner);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  // Removes the component from its owner's list.
  virtual ~TComponent();

  TComponentOwner* Owner() const { return owner_; }
  // The component index among its owner's components; -1 without an owner.
  int ComponentIndex() const;
  // The window the component draws in: the owner form's window (null without one).
  HWND OwnerWindow() const;

 private:
  TComponentOwner* owner_;
};
