// TOxTrayIcon: an icon with a tooltip in the desktop's notification area, its mouse actions as
// component events, a pop-up menu on the right click, and an animation that cycles through a
// list of icons; TIconList, that list, stored with the form as the binary property "Icons".
//
// "Icons" stream, little-endian, every integer through classlib/rtl/Coding.h:
//   offset       size  field
//   0            4     count of entries
//   then per entry:
//   +0           4     size of the entry's icon bytes (0: an empty entry)
//   +4           size  the icon file's bytes, verbatim
// A reader treats the stream as untrusted: counts and sizes are checked against what is left.
//
// Threads.  Everything runs on the GUI thread except TTimerThread, which only waits Interval
// milliseconds (at least one, interruptibly) and posts kTrayAnimationStep to the icon's utility
// handle, and only once the step it posted last has run, so a busy GUI thread finds one step
// waiting instead of a backlog (the step-pending flag: set by the thread, cleared by Step); the
// frame index, the current icon and the notification-area calls all stay on the GUI thread, so
// a list changed or cleared meanwhile is never read by the worker.  The thread exists while the
// animation is on: created paused when the icon is not visible, paused with a hidden icon,
// resumed when it shows, and stopped and joined when the animation ends.
//
// Without a tray host (offscreen, some desktops) Active stays set but IconVisible is false: a
// main window must then not hide itself into a tray that does not exist.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "classlib/forms/Controls.h"
#include "classlib/forms/Graphics.h"
#include "classlib/forms/Menus.h"
#include "classlib/forms/ShellApi.h"
#include "classlib/rtl/Filer.h"
#include "classlib/rtl/TThread.h"

namespace comp {

// The callback message of the icon's utility handle and its animation step.
constexpr uint32_t kTrayCallbackMessage = 0xB054;
constexpr uint32_t kTrayAnimationStep = 0xB055;
// Characters of the short hint the notification area takes (Windows-1252 bytes).
constexpr size_t kTrayTipLength = 63;

class TIconList : public cl::TPersistent {
 public:
  int Count() const { return static_cast<int>(icons_.size()); }
  const cl::TIcon& Items(int index) const { return icons_.at(static_cast<size_t>(index)); }
  void Add(const cl::TIcon& icon);
  void Clear();
  void Assign(const cl::TPersistent* source) override;

  void SaveToStream(cl::TStream& stream) const;
  // Replaces the list; raises EReadError on a damaged stream and then leaves the list as it was.
  void LoadFromStream(cl::TStream& stream);

  const cl::TNotifyEvent& OnChange() const { return on_change_; }
  void SetOnChange(cl::TNotifyEvent handler) { on_change_ = std::move(handler); }

 private:
  void Changed();
  std::vector<cl::TIcon> icons_;
  cl::TNotifyEvent on_change_;
};

class TOxTrayIcon;

// Waits Interval per frame and posts each step to the icon (see above).
class TTimerThread : public cl::TThread {
 public:
  TTimerThread(cl::HWND target, const std::atomic<int>& interval, std::atomic<bool>& step_pending)
      : target_(target), interval_(interval), step_pending_(step_pending) {}
  ~TTimerThread() override { Stop(); }

 protected:
  void Execute() override;

 private:
  cl::HWND target_;
  const std::atomic<int>& interval_;
  std::atomic<bool>& step_pending_;
};

class TOxTrayIcon : public cl::TComponent {
 public:
  explicit TOxTrayIcon(cl::TComponent* owner);
  ~TOxTrayIcon() override;

  bool Active() const { return active_; }
  void SetActive(bool active);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  const cl::TIcon& Icon() const { return icon_; }
  void SetIcon(const cl::TIcon& icon);
  TIconList& Icons() { return icons_; }
  void SetIcons(const TIconList& icons) { icons_.Assign(&icons); }
  bool Animated() const { return animated_; }
  // On only with at least one frame; either way the frame goes back to 0.
  void SetAnimated(bool animated);
  uint16_t Interval() const { return static_cast<uint16_t>(interval_.load()); }
  void SetInterval(uint16_t interval) { interval_ = interval; }
  cl::TPopupMenu* PopupMenu() const { return popup_menu_; }
  void SetPopupMenu(cl::TPopupMenu* menu);
  bool ShowDesign() const { return show_design_; }
  void SetShowDesign(bool show) { show_design_ = show; }

  const cl::TMouseEvent& OnClick() const { return on_click_; }
  void SetOnClick(cl::TMouseEvent handler) { on_click_ = std::move(handler); }
  const cl::TMouseEvent& OnMouseDown() const { return on_mouse_down_; }
  void SetOnMouseDown(cl::TMouseEvent handler) { on_mouse_down_ = std::move(handler); }
  const cl::TMouseEvent& OnMouseUp() const { return on_mouse_up_; }
  void SetOnMouseUp(cl::TMouseEvent handler) { on_mouse_up_ = std::move(handler); }
  const cl::TMouseMoveEvent& OnMouseMove() const { return on_mouse_move_; }
  void SetOnMouseMove(cl::TMouseMoveEvent handler) { on_mouse_move_ = std::move(handler); }
  const cl::TNotifyEvent& OnDblClick() const { return on_dbl_click_; }
  void SetOnDblClick(cl::TNotifyEvent handler) { on_dbl_click_ = std::move(handler); }

  // True while the notification area shows the icon.
  bool IconVisible() const { return visible_; }
  int FrameIndex() const { return frame_; }
  // The utility handle that receives the callbacks and the animation steps.
  cl::HWND Handle() const { return handle_; }
  // The icon shown now: the current frame while animated, else Icon.
  const cl::TIcon& CurrentIcon() const;
  // The short hint as the notification area gets it.
  std::string ShortHint() const;

  void DefineProperties(cl::TFiler& filer) override;

 protected:
  void Loaded() override;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;
  // Fills the call arguments from the current state.
  virtual void UpdateNotifyData(cl::TNotifyIconData& data) const;

 private:
  void ShowIcon();
  void HideIcon();
  void UpdateIcon();
  void Changed();
  void Step();
  void WndProc(cl::TMessage& message);
  void HandleMouse(uint32_t mouse_message);
  void DoClick(cl::TMouseButton button, cl::TShiftState shift, cl::TPoint pos);
  void DoDblClick();

  bool active_ = true;
  std::string hint_;
  cl::TIcon icon_;
  TIconList icons_;
  bool animated_ = false;
  std::atomic<int> interval_{150};
  std::atomic<bool> step_pending_{false};
  cl::TPopupMenu* popup_menu_ = nullptr;
  bool show_design_ = false;
  bool visible_ = false;
  int frame_ = 0;
  bool left_pressed_ = false;
  bool right_pressed_ = false;
  cl::HWND handle_ = 0;
  std::unique_ptr<TTimerThread> thread_;
  cl::TMouseEvent on_click_;
  cl::TMouseEvent on_mouse_down_;
  cl::TMouseEvent on_mouse_up_;
  cl::TMouseMoveEvent on_mouse_move_;
  cl::TNotifyEvent on_dbl_click_;
};

}  // namespace comp
