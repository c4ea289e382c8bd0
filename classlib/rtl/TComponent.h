// TComponent: the owned, named, notified building block of forms and data modules.
//
// Ownership.  A component created with an owner is appended to the owner's list and freed by
// it, the last created first.  Freeing a component removes it from its owner.  Nothing else owns
// components.  Free() runs BeforeDestruction while the object is still whole (a data module fires
// OnDestroy there), then deletes it; a plain `delete` works too but skips that step.
//
// Creation.  A base-class constructor cannot see the final class, so the owner's insert
// notification (which siblings use to recognise a new data source or dataset by its class) waits
// until the object is complete: create components with cl::Create<T>(owner, ...) or through a
// TLoader, both of which call AfterConstruction.  A plain `new T(owner)` owns the component just
// the same but tells nobody.
//
// Destruction.  ~TComponent marks the component and everything it owns csDestroying, tells every
// free-notification partner, deletes the owned components (last first) and leaves its owner,
// whose other components are told (opRemove).  Derived destructors run before all of that, so a
// class whose destructor must already see csDestroying (a dataset closing without events, a data
// module firing OnDestroy first) calls Destroying() at its start.  Inside Notification(c,
// opRemove), `c` may already be reduced to its TComponent part: compare it by identity only.
// Destructors never throw: an exception raised by a notification, or by an owned component's
// BeforeDestruction, during destruction goes to Application().HandleException.
//
// Notifications.  Inserting or removing a component calls Notification on its owner; the base
// Notification forwards the call to every owned component, so siblings learn of each other.
// Overrides must call TComponent::Notification (SetNotificationCheck reports those that do not).
// FreeNotification links two components both ways: when either dies the other is told.
//
// Loading.  A TLoader creates the components of a form or data module with csLoading and
// csReading set, delivers their binary properties, then calls Loaded on each in creation order;
// setters that must wait for the whole form test csLoading.  csDesigning and csWriting are never
// set (nothing designs or writes forms at run time); code may still test them.
//
// Threads: GUI thread only.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TSet.h"

namespace cl {

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag { csLoading, csReading, csWriting, csDestroying, csDesigning };
using TComponentState = TSet<TComponentStateFlag>;

class EComponentError : public Exception {
 public:
  using Exception::Exception;
};

class TLoader;

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // Sends the owner's insert notification; called once the object is complete (by Create<T>
  // and TLoader).  Overrides call the inherited version first.
  virtual void AfterConstruction();
  // Runs before any destructor when the component is freed; the base calls Destroying().
  // Overrides call the inherited version first.
  virtual void BeforeDestruction();
  // BeforeDestruction, then delete.
  void Free();

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  // REQUIRES: 0 <= index < ComponentCount(), else EListError.
  TComponent* Components(int index) const;
  // The position in the owner's list; -1 without owner.
  int ComponentIndex() const;

  const std::string& Name() const { return name_; }
  // A non-empty name must be an identifier and unique (ignoring case) among the owner's
  // components; otherwise EComponentError.  Virtual: a component may follow its own renaming.
  virtual void SetName(const std::string& name);

  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }

  TComponentState ComponentState() const { return state_; }

  // The owned component of that name, ignoring case; nullptr for none or an empty name.
  TComponent* FindComponent(std::string_view name) const;

  // Links this component and `other` both ways: when either is destroyed, the other receives
  // Notification(dying, opRemove).  Linking twice is harmless.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  // Takes `component` (which must have no owner) into this component's list, checking its name,
  // and tells this component (opInsert).
  void InsertComponent(TComponent* component);
  // Tells this component (opRemove) and takes `component` out of the list without deleting it.
  void RemoveComponent(TComponent* component);

  // Marks this component and everything it owns csDestroying (once).
  void Destroying();
  // Frees every owned component, the last first; an exception from a component's
  // BeforeDestruction goes to Application().HandleException and the component is freed anyway.
  void DestroyComponents();

 protected:
  // Called on an owner for each inserted or removed component, and forwarded by the base to
  // every owned component.  Overrides call TComponent::Notification.
  virtual void Notification(TComponent* component, TOperation operation);

  // Called once after a loader has set all properties; the base clears csLoading.  Overrides
  // call the inherited version first unless they must act before loading completes.
  virtual void Loaded();

  // Sends Notification(component, operation) to `receiver` through the inherited-call check.
  static void SendNotification(TComponent* receiver, TComponent* component, TOperation operation);

 private:
  friend class TLoader;

  void Unlink(TComponent* other);
  void ValidateRename(TComponent* component, std::string_view current, std::string_view next);

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> free_notifies_;
  std::string name_;
  int tag_ = 0;
  TComponentState state_;
  bool insert_pending_ = false;
};

// Creates a component (or any class with AfterConstruction) and completes it: the owner and its
// components are told only now, when the object's class is final.  If completing throws, the
// object is deleted and the exception passes on.
template <class T, class... A>
T* Create(A&&... args) {
  T* object = new T(std::forward<A>(args)...);
  try {
    object->AfterConstruction();
  } catch (...) {
    delete object;
    throw;
  }
  return object;
}

// Reports a Notification override that did not call TComponent::Notification: `receiver` is
// the offending component (it may no longer exist when the hook runs; use it for reporting only).
// An empty function turns the check off (the default).
using TNotificationCheck =
    std::function<void(TComponent* receiver, TComponent* component, TOperation operation)>;
void SetNotificationCheck(TNotificationCheck check);

namespace detail {
// The state the next constructed component starts with (used by TLoader).
void SetInitialComponentState(TComponentState state);
}  // namespace detail

// True when `name` may name a component: a letter or "_", then letters, digits or "_".
bool IsValidIdent(std::string_view name);

}  // namespace cl
