// Owner/component bookkeeping for the display components.
#include "display/component.h"

#include <algorithm>

int TComponentOwner::IndexOf(const TComponent* component) const {
  auto it = std::find(components_.begin(), components_.end(), component);
  return it == components_.end() ? -1 : static_cast<int>(it - components_.begin());
}

TComponent::TComponent(TComponentOwner* owner) : owner_(owner) {
  if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  if (!owner_) return;
  auto& list = owner_->components_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

int TComponent::ComponentIndex() const { return owner_ ? owner_->IndexOf(this) : -1; }

HWND TComponent::OwnerWindow() const { return owner_ ? owner_->Handle : nullptr; }
