// Components: objects with an owner that frees them, a name, a state that
// tells whether they are being loaded from a form definition or destroyed,
// and free notification, so that a component that refers to another one
// hears when that one goes away. Portable: nothing here touches Win32.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

// The root of every object the message loop can name as the sender of an
// error.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // The class name without namespaces ("TForm1"), for reports.
  std::string ClassName() const;
};

// "tarnwick::TForm1" style names of a mangled type name, namespaces
// dropped; the input itself when it cannot be demangled.
std::string ShortClassName(const char* mangled);

enum class Operation { Insert, Remove };

// Bit flags of TComponent::ComponentState().
enum ComponentStateFlag : std::uint32_t {
  csLoading = 1u << 0,     // properties are being assigned from a form definition
  csDestroying = 1u << 1,  // the destructor has started
};

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  TComponent* Owner() const noexcept { return owner_; }
  const std::string& Name() const noexcept { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  std::uint32_t ComponentState() const noexcept { return state_; }
  bool IsLoading() const noexcept { return (state_ & csLoading) != 0; }
  bool IsDestroying() const noexcept { return (state_ & csDestroying) != 0; }

  // Owned components in order of creation.
  std::size_t ComponentCount() const noexcept { return components_.size(); }
  TComponent* Components(std::size_t index) const { return components_.at(index); }
  TComponent* FindComponent(const std::string& name) const noexcept;

  // Asks to be told (Notification with Operation::Remove) when `other` is
  // destroyed. The link is two-way: whichever of the two goes first unlinks
  // itself from the other, so nobody is ever told about a dead object.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other) noexcept;

  // Loading phase: a form sets csLoading on itself and every owned component
  // before it assigns their properties, then calls Loaded() on each, in
  // order of creation. Overrides must call the base, which clears the flag.
  void SetLoading() noexcept { state_ |= csLoading; }
  virtual void Loaded();

  // Called by the destructors of derived classes first thing, while the
  // object is still of its full type: marks it as being destroyed, tells the
  // components that asked for it and frees the owned components (last
  // created first), so their destructors still see a complete owner.
  // Idempotent; ~TComponent calls it too.
  void BeginDestroy() noexcept;

 protected:
  // Owner: a component was inserted into or removed from Components().
  // Free notification: a linked component is being destroyed.
  virtual void Notification(TComponent* component, Operation operation);

  // Frees every owned component, the most recently created first.
  void DestroyComponents() noexcept;

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component) noexcept;
  void NotifySafely(TComponent* target, TComponent* component, Operation operation) noexcept;

  TComponent* owner_;
  std::string name_;
  std::uint32_t state_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
};

}  // namespace tarnwick
