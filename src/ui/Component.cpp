#include "ui/Component.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace tarnwick {

std::string ShortClassName(const char* mangled) {
  if (mangled == nullptr) return {};
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                     std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : mangled;
  // Drop namespaces, but not inside template arguments.
  std::size_t cut = name.rfind("::", name.find('<'));
  if (cut != std::string::npos) name.erase(0, cut + 2);
  return name;
}

std::string TObject::ClassName() const { return ShortClassName(typeid(*this).name()); }

TComponent::TComponent(TComponent* owner) : owner_(nullptr) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  BeginDestroy();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const noexcept {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_) {
    if (c->name_ == name) return c;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
  Notification(component, Operation::Insert);
}

void TComponent::RemoveComponent(TComponent* component) noexcept {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it == components_.end()) return;
  components_.erase(it);
  component->owner_ = nullptr;
  if (!IsDestroying()) NotifySafely(this, component, Operation::Remove);
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end())
    freeNotifies_.push_back(other);
  if (std::find(other->freeNotifies_.begin(), other->freeNotifies_.end(), this) == other->freeNotifies_.end())
    other->freeNotifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) noexcept {
  if (other == nullptr) return;
  freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), other), freeNotifies_.end());
  other->freeNotifies_.erase(std::remove(other->freeNotifies_.begin(), other->freeNotifies_.end(), this),
                             other->freeNotifies_.end());
}

void TComponent::Loaded() { state_ &= ~static_cast<std::uint32_t>(csLoading); }

void TComponent::Notification(TComponent* component, Operation operation) {
  // A component that an owned one referred to may be going away; the
  // default simply passes the word on to the owned components.
  if (operation == Operation::Remove) {
    for (TComponent* c : components_) {
      if (c != component) c->Notification(component, operation);
    }
  }
}

void TComponent::NotifySafely(TComponent* target, TComponent* component, Operation operation) noexcept {
  // Notifications run from destructors; an error there must not end the
  // process, and there is nobody left to report it to.
  try {
    target->Notification(component, operation);
  } catch (...) {
  }
}

void TComponent::BeginDestroy() noexcept {
  if (IsDestroying()) return;
  state_ |= csDestroying;
  // Tell everyone linked to us, unlinking first so that a listener that
  // frees something in its handler cannot reach back into this list.
  while (!freeNotifies_.empty()) {
    TComponent* other = freeNotifies_.back();
    freeNotifies_.pop_back();
    other->freeNotifies_.erase(std::remove(other->freeNotifies_.begin(), other->freeNotifies_.end(), this),
                               other->freeNotifies_.end());
    NotifySafely(other, this, Operation::Remove);
  }
  DestroyComponents();
}

void TComponent::DestroyComponents() noexcept {
  while (!components_.empty()) {
    TComponent* last = components_.back();
    components_.pop_back();
    last->owner_ = nullptr;
    delete last;
  }
}

}  // namespace tarnwick
