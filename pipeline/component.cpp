#include "pipeline/component.h"

#include <algorithm>

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  NotifyRemoval();
  while (!FComponents.empty()) {
    TComponent* last = FComponents.back();
    FComponents.pop_back();
    last->FOwner = nullptr;
    delete last;
  }
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::NotifyRemoval() {
  if (FDestroying) return;
  FDestroying = true;
  // Each referrer may unregister itself (or others) while being notified.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    auto& back = other->FFreeNotifies;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
    other->Notification(this, TOperation::opRemove);
  }
  if (FOwner) FOwner->Notification(this, TOperation::opRemove);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  auto& other = AComponent->FFreeNotifies;
  if (std::find(other.begin(), other.end(), this) == other.end()) other.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent), FFreeNotifies.end());
  auto& other = AComponent->FFreeNotifies;
  other.erase(std::remove(other.begin(), other.end(), this), other.end());
}

void TComponent::InsertComponent(TComponent* AComponent) { FComponents.push_back(AComponent); }

void TComponent::RemoveComponent(TComponent* AComponent) {
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent), FComponents.end());
}
