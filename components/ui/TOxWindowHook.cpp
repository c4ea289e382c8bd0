#include "components/ui/TOxWindowHook.h"

#include <algorithm>

#include "classlib/forms/Forms.h"
#include "classlib/rtl/Filer.h"

namespace comp {
namespace {

THookList* g_hook_list = nullptr;

bool IsDestroying(const cl::TComponent* component) {
  return component->ComponentState().Contains(cl::csDestroying);
}

}  // namespace

// ---- TControlHook ----------------------------------------------------------------------------

TControlHook::TControlHook(cl::TWinControl* control) : control_(control) {}

TControlHook::~TControlHook() {
  destroying_ = true;
  if (g_hook_list != nullptr) g_hook_list->Remove(this);
  while (!hooks_.empty()) RemoveHook(hooks_.back());
  Uninstall();
}

void TControlHook::AddHook(TOxWindowHook* hook) {
  if (std::find(hooks_.begin(), hooks_.end(), hook) != hooks_.end()) return;
  hooks_.push_back(hook);
  hook->control_hook_ = this;
  Install();
}

void TControlHook::RemoveHook(TOxWindowHook* hook) {
  hook->control_hook_ = nullptr;
  std::erase(hooks_, hook);
  if (hooks_.empty()) Uninstall();
}

void TControlHook::Install() {
  if (control_ == nullptr || IsDestroying(control_) || destroying_ || hooks_.empty()) return;
  control_->Handle();
  if (link_ != nullptr && control_->WindowProcOwner() == link_.get()) return;
  if (link_ != nullptr) Uninstall();
  auto link =
      std::make_shared<Link>(Link{this, control_->WindowProc(), control_->WindowProcOwner()});
  control_->SetWindowProc(
      [link](cl::TMessage& message) {
        if (link->hook != nullptr) {
          link->hook->HookProc(message, link->previous);
        } else {
          link->previous(message);
        }
      },
      link.get());
  link_ = std::move(link);
}

void TControlHook::Uninstall() {
  if (link_ == nullptr) return;
  if (control_ != nullptr && control_->WindowProcOwner() == link_.get()) {
    control_->SetWindowProc(link_->previous, link_->previous_owner);
  }
  // Otherwise a later subclass still calls our link: it now only passes messages on.
  link_->hook = nullptr;
  link_.reset();
}

void TControlHook::ControlDestroyed() {
  if (link_ != nullptr) link_->hook = nullptr;
  link_.reset();
  control_ = nullptr;
}

bool TControlHook::CanNotify() const {
  return !hooks_.empty() && control_ != nullptr && !destroying_ && !IsDestroying(control_);
}

void TControlHook::HookProc(cl::TMessage& message, const cl::TWndMethod& previous) {
  bool handled = false;
  // Copies: a watcher may register or unregister while it is told.
  if (message.Msg != cl::WM_QUIT && CanNotify()) {
    const std::vector<TOxWindowHook*> hooks = hooks_;
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
      (*it)->DoBeforeMessage(message, handled);
      if (handled) break;
    }
  }
  if (!handled || message.Msg == cl::WM_DESTROY) {
    previous(message);
    if (CanNotify()) {
      const std::vector<TOxWindowHook*> hooks = hooks_;
      for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
        (*it)->DoAfterMessage(message, handled);
        if (handled) break;
      }
    }
  }
  if (message.Msg == cl::WM_DESTROY) {
    Uninstall();
    if (g_hook_list != nullptr && !destroying_ && control_ != nullptr && !IsDestroying(control_)) {
      cl::PostMessage(g_hook_list->Handle(), kRehookMessage, reinterpret_cast<cl::WPARAM>(this), 0);
    }
  }
}

// ---- THookList -------------------------------------------------------------------------------

THookList::THookList() {
  handle_ = cl::AllocateHWnd([this](cl::TMessage& message) { WndProc(message); });
}

THookList& THookList::Instance() {
  if (g_hook_list == nullptr) g_hook_list = new THookList();
  return *g_hook_list;
}

bool THookList::Exists() { return g_hook_list != nullptr; }

TControlHook* THookList::Find(cl::TWinControl* control, bool create) {
  for (const auto& hook : hooks_) {
    if (hook->Control() == control) return hook.get();
  }
  if (!create) return nullptr;
  hooks_.push_back(std::make_unique<TControlHook>(control));
  return hooks_.back().get();
}

bool THookList::Contains(const TControlHook* hook) const {
  return std::any_of(hooks_.begin(), hooks_.end(),
                     [hook](const auto& each) { return each.get() == hook; });
}

void THookList::Remove(TControlHook* hook) {
  auto it = std::find_if(hooks_.begin(), hooks_.end(),
                         [hook](const auto& each) { return each.get() == hook; });
  if (it == hooks_.end()) return;
  it->release();  // the hook is being destroyed by its caller
  hooks_.erase(it);
}

void THookList::WndProc(cl::TMessage& message) {
  auto* hook = reinterpret_cast<TControlHook*>(message.WParam);
  if (message.Msg == kRehookMessage) {
    if (Contains(hook)) hook->Install();
  } else if (message.Msg == kFreeHookMessage) {
    if (Contains(hook) && hook->HookCount() == 0) delete hook;
  }
}

// ---- TOxWindowHook ---------------------------------------------------------------------------

TOxWindowHook::TOxWindowHook(cl::TComponent* owner) : cl::TComponent(owner) {}

TOxWindowHook::~TOxWindowHook() {
  Destroying();
  active_ = false;
  TControlHook* previous = control_hook_;
  Unregister();
  control_ = nullptr;
  ReleaseLater(previous);
}

void TOxWindowHook::ReleaseLater(TControlHook* hook) {
  if (hook != nullptr && hook->HookCount() == 0 && THookList::Exists()) {
    cl::PostMessage(THookList::Instance().Handle(), kFreeHookMessage,
                    reinterpret_cast<cl::WPARAM>(hook), 0);
  }
}

void TOxWindowHook::Register() {
  if (control_ == nullptr || IsDestroying(this)) return;
  THookList::Instance().Find(control_, true)->AddHook(this);
}

void TOxWindowHook::Unregister() {
  if (control_hook_ != nullptr) control_hook_->RemoveHook(this);
}

void TOxWindowHook::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (active) {
    Register();
  } else {
    Unregister();
  }
}

cl::TWinControl* TOxWindowHook::WinControl() const {
  return control_hook_ != nullptr ? control_hook_->Control() : control_;
}

void TOxWindowHook::SetWinControl(cl::TWinControl* control) {
  if (control == control_ && control == WinControl()) return;
  const bool was_active = active_;
  TControlHook* previous = control_hook_;
  Unregister();
  control_ = control;
  if (control != nullptr) control->FreeNotification(this);
  ReleaseLater(previous);
  if (was_active) Register();
}

void TOxWindowHook::Notification(cl::TComponent* component, cl::TOperation operation) {
  cl::TComponent::Notification(component, operation);
  if (operation != cl::opRemove) return;
  // The control's window went in its destructor, before it was marked as dying, so a re-hook
  // may be queued for it: its control hook must forget it now.
  if (component == control_ && control_hook_ != nullptr) control_hook_->ControlDestroyed();
  if (component == control_ || component == Owner()) SetWinControl(nullptr);
}

bool TOxWindowHook::IsForm() const {
  return WinControl() != nullptr && WinControl() == Owner() &&
         dynamic_cast<cl::TForm*>(Owner()) != nullptr;
}

void TOxWindowHook::DefineProperties(cl::TFiler& filer) {
  cl::TComponent::DefineProperties(filer);
  filer.DefineProperty(
      "IsForm",
      [this](const cl::Variant& value) {
        if (value.AsBoolean()) {
          if (auto* form = dynamic_cast<cl::TForm*>(Owner())) SetWinControl(form);
        }
      },
      [this] { return cl::Variant(IsForm()); }, IsForm());
}

void TOxWindowHook::DoBeforeMessage(cl::TMessage& msg, bool& handled) {
  if (before_message_) before_message_(this, msg, handled);
}

void TOxWindowHook::DoAfterMessage(cl::TMessage& msg, bool& handled) {
  if (after_message_) after_message_(this, msg, handled);
}

}  // namespace comp
