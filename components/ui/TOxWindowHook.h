// Window hooks: any number of non-visual components watch (and may swallow) the messages of one
// windowed control without its cooperation.
//
// The control's message chain (WindowProc, see classlib/forms/Controls.h) is replaced once per
// control by a TControlHook, which fans each message out to the registered TOxWindowHook
// watchers before and after the procedure it replaced:
//   1. unless the message is WM_QUIT, BeforeMessage of each watcher, the last registered first,
//      stopping at the first that sets Handled;
//   2. when not handled, or always for WM_DESTROY, the previous procedure, then AfterMessage in
//      the same order with the same stop rule;
//   3. on WM_DESTROY (the window goes or is recreated) the hook takes itself out and posts
//      kRehookMessage to the hook list's utility handle, which puts it back once the control has
//      its new window.
// Taking the hook out restores the previous procedure only while the chain's head is still the
// hook's (compared by owner token); a later subclass is never cut off: the hook's link in that
// chain then just passes messages on to the procedure it replaced.
//
// Lifetime.  One THookList per process, made on first use and kept to the end (by then every
// control and watcher is gone, so there is nothing left to undo), owns the control hooks; a
// control hook lives while a watcher is registered and is freed later, by kFreeHookMessage,
// once it has none (never inside the procedure that emptied it).  GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "classlib/forms/Controls.h"
#include "classlib/rtl/TComponent.h"

namespace comp {

constexpr uint32_t kRehookMessage = 0xB052;
constexpr uint32_t kFreeHookMessage = 0xB053;

using THookMessageEvent =
    std::function<void(cl::TObject* sender, cl::TMessage& msg, bool& handled)>;

class TOxWindowHook;

class TControlHook {
 public:
  explicit TControlHook(cl::TWinControl* control);
  ~TControlHook();
  TControlHook(const TControlHook&) = delete;
  TControlHook& operator=(const TControlHook&) = delete;

  cl::TWinControl* Control() const { return control_; }
  int HookCount() const { return static_cast<int>(hooks_.size()); }
  bool Installed() const { return link_ != nullptr; }

  void AddHook(TOxWindowHook* hook);
  void RemoveHook(TOxWindowHook* hook);
  void Install();
  void Uninstall();
  // The control is being freed: forget it without touching it again.  A re-hook still queued
  // for it then finds no control.
  void ControlDestroyed();

 private:
  // The hook's link in the control's chain; outlives the hook while a later subclass calls it.
  struct Link {
    TControlHook* hook;
    cl::TWndMethod previous;
    const void* previous_owner;
  };
  void HookProc(cl::TMessage& message, const cl::TWndMethod& previous);
  bool CanNotify() const;

  cl::TWinControl* control_;
  std::shared_ptr<Link> link_;
  std::vector<TOxWindowHook*> hooks_;
  bool destroying_ = false;
};

// The process-wide list of control hooks.
class THookList {
 public:
  // The list, made on first use.
  static THookList& Instance();
  // True once made (and until the program ends).
  static bool Exists();

  // The control hook of `control`, made when there is none.
  TControlHook* Find(cl::TWinControl* control, bool create);
  bool Contains(const TControlHook* hook) const;
  void Remove(TControlHook* hook);
  cl::HWND Handle() const { return handle_; }
  int Count() const { return static_cast<int>(hooks_.size()); }

 private:
  THookList();
  void WndProc(cl::TMessage& message);

  std::vector<std::unique_ptr<TControlHook>> hooks_;
  cl::HWND handle_ = 0;
};

class TOxWindowHook : public cl::TComponent {
 public:
  explicit TOxWindowHook(cl::TComponent* owner);
  ~TOxWindowHook() override;

  bool Active() const { return active_; }
  void SetActive(bool active);
  cl::TWinControl* WinControl() const;
  void SetWinControl(cl::TWinControl* control);

  const THookMessageEvent& BeforeMessage() const { return before_message_; }
  void SetBeforeMessage(THookMessageEvent handler) { before_message_ = std::move(handler); }
  const THookMessageEvent& AfterMessage() const { return after_message_; }
  void SetAfterMessage(THookMessageEvent handler) { after_message_ = std::move(handler); }

  // "IsForm": stored in place of WinControl when the target is the owner form.
  void DefineProperties(cl::TFiler& filer) override;

 protected:
  virtual void DoBeforeMessage(cl::TMessage& msg, bool& handled);
  virtual void DoAfterMessage(cl::TMessage& msg, bool& handled);
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  friend class TControlHook;
  bool IsForm() const;
  // Frees an emptied control hook once the current message is handled.
  static void ReleaseLater(TControlHook* hook);
  void Register();
  void Unregister();

  bool active_ = true;
  cl::TWinControl* control_ = nullptr;
  TControlHook* control_hook_ = nullptr;
  THookMessageEvent before_message_;
  THookMessageEvent after_message_;
};

}  // namespace comp
