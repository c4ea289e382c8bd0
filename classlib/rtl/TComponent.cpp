#include "classlib/rtl/TComponent.h"

#include <algorithm>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/AsciiText.h"

namespace cl {
namespace {

// One frame per notification being delivered, so that the base Notification can tell the
// dispatcher that the receiver's override reached it.
struct NotifyFrame {
  const TComponent* receiver;
  bool reached;
  NotifyFrame* previous;
};
thread_local NotifyFrame* t_frame = nullptr;

// The state a loader wants a component born with (csLoading, csReading); taken by the first
// TComponent constructor that runs, which is the loaded component's own base.
thread_local TComponentState t_initial_state;

TNotificationCheck& Check() {
  static TNotificationCheck check;
  return check;
}

void Erase(std::vector<TComponent*>& list, TComponent* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}

}  // namespace

namespace detail {
void SetInitialComponentState(TComponentState state) { t_initial_state = state; }
}  // namespace detail

bool IsValidIdent(std::string_view name) {
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (name.empty() || !alpha(name[0])) return false;
  for (char c : name) {
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

void SetNotificationCheck(TNotificationCheck check) { Check() = std::move(check); }

TComponent::TComponent(TComponent* owner) : state_(t_initial_state) {
  t_initial_state = TComponentState();
  if (owner != nullptr) {
    owner->components_.push_back(this);
    owner_ = owner;
    insert_pending_ = true;
  }
}

TComponent::~TComponent() {
  Destroying();
  while (!free_notifies_.empty()) {
    TComponent* other = free_notifies_.back();
    try {
      SendNotification(other, this, opRemove);
    } catch (...) {
      Application().HandleException(this);
    }
    Unlink(other);  // in case the override did not reach the base
  }
  DestroyComponents();
  if (owner_ != nullptr) {
    try {
      owner_->RemoveComponent(this);
    } catch (...) {
      Erase(owner_->components_, this);
      owner_ = nullptr;
      Application().HandleException(this);
    }
  }
}

void TComponent::BeforeDestruction() { Destroying(); }

void TComponent::Free() {
  BeforeDestruction();
  delete this;
}

void TComponent::AfterConstruction() {
  if (!insert_pending_) return;
  insert_pending_ = false;
  if (owner_ != nullptr) SendNotification(owner_, this, opInsert);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) ListIndexError(index);
  return components_[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (owner_ == nullptr) return -1;
  const auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsValidIdent(name)) {
    throw EComponentError("\xAB " + name + " \xBB n'est pas un nom de composant correct");
  }
  if (owner_ != nullptr) owner_->ValidateRename(this, name_, name);
  name_ = name;
}

void TComponent::ValidateRename(TComponent* component, std::string_view current,
                                std::string_view next) {
  if (next.empty() || SameAsciiText(current, next)) return;
  // Also checked when a named component is inserted, so that names stay unique per owner.
  if (component != nullptr && FindComponent(next) != nullptr) {
    throw EComponentError("Un composant nomm\xE9 " + std::string(next) + " existe d\xE9j\xE0");
  }
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_) {
    if (SameAsciiText(c->name_, name)) return c;
  }
  return nullptr;
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), other) == free_notifies_.end()) {
    free_notifies_.push_back(other);
  }
  auto& theirs = other->free_notifies_;
  if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (other != nullptr) Unlink(other);
}

void TComponent::Unlink(TComponent* other) {
  Erase(free_notifies_, other);
  Erase(other->free_notifies_, this);
}

void TComponent::InsertComponent(TComponent* component) {
  if (component == nullptr || component->owner_ == this) return;
  if (component->owner_ != nullptr) component->owner_->RemoveComponent(component);
  ValidateRename(component, "", component->name_);
  components_.push_back(component);
  component->owner_ = this;
  component->insert_pending_ = false;
  SendNotification(this, component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component == nullptr || component->owner_ != this) return;
  SendNotification(this, component, opRemove);
  Erase(components_, component);
  component->owner_ = nullptr;
}

void TComponent::Destroying() {
  if (state_.Contains(csDestroying)) return;
  state_.Include(csDestroying);
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    // This runs inside destructors: a component that fails its last words is still freed, and
    // its exception is reported instead of ending the program.  Its destructor takes it out of
    // this list.
    TComponent* component = components_.back();
    try {
      component->BeforeDestruction();
    } catch (...) {
      Application().HandleException(component);
    }
    delete component;
  }
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (t_frame != nullptr && t_frame->receiver == this) t_frame->reached = true;
  if (operation == opRemove && component != nullptr) RemoveFreeNotification(component);
  // A receiver may remove components while being told; walk down and re-clamp as it shrinks.
  for (size_t i = components_.size(); i-- > 0;) {
    if (i >= components_.size()) {
      if (components_.empty()) break;
      i = components_.size() - 1;
    }
    SendNotification(components_[i], component, operation);
  }
}

void TComponent::SendNotification(TComponent* receiver, TComponent* component,
                                  TOperation operation) {
  NotifyFrame frame{receiver, false, t_frame};
  t_frame = &frame;
  try {
    receiver->Notification(component, operation);
  } catch (...) {
    t_frame = frame.previous;
    throw;
  }
  t_frame = frame.previous;
  if (!frame.reached && Check()) Check()(receiver, component, operation);
}

void TComponent::Loaded() { state_.Exclude(csLoading); }

}  // namespace cl
