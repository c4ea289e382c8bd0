// Pop-up menus: TPopupMenu and its TMenuItem tree.
//
// A menu item's OnClick runs after the menu has closed.  Popup returns once the user chose an
// item or dismissed the menu.  A caption of "-" is a separator; the Default item shows in bold.
#pragma once

#include <string>
#include <vector>

#include "classlib/forms/Controls.h"
#include "classlib/rtl/Classes.h"
#include "classlib/rtl/TComponent.h"

namespace cl {

// A key with its modifier keys in one number, as menus and edits name the keys they answer.
using TShortCut = uint16_t;
constexpr TShortCut scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000;
inline TShortCut ShortCut(uint16_t key, TShiftState shift) {
  TShortCut result = key & 0x1FFF;
  if (shift.Contains(ssShift)) result |= scShift;
  if (shift.Contains(ssCtrl)) result |= scCtrl;
  if (shift.Contains(ssAlt)) result |= scAlt;
  return result;
}

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* owner);
  ~TMenuItem() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption) { caption_ = caption; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  bool Default() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  bool Checked() const { return checked_; }
  void SetChecked(bool checked) { checked_ = checked; }
  bool IsSeparator() const { return caption_ == "-"; }

  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const { return items_.at(static_cast<size_t>(index)); }
  void Add(TMenuItem* item);
  void Remove(TMenuItem* item);
  TMenuItem* Parent() const { return parent_; }

  const TNotifyEvent& OnClick() const { return on_click_; }
  void SetOnClick(TNotifyEvent handler) { on_click_ = std::move(handler); }
  virtual void Click();

 private:
  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  bool default_ = false;
  bool checked_ = false;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
  TNotifyEvent on_click_;
};

enum TPopupAlignment { paLeft, paRight, paCenter };

class TPopupMenu : public TComponent {
 public:
  explicit TPopupMenu(TComponent* owner);
  ~TPopupMenu() override;

  TMenuItem* Items() const { return items_; }
  bool AutoPopup() const { return auto_popup_; }
  void SetAutoPopup(bool auto_popup) { auto_popup_ = auto_popup; }
  TComponent* PopupComponent() const { return popup_component_; }
  void SetPopupComponent(TComponent* component) { popup_component_ = component; }
  TPopupAlignment Alignment() const { return alignment_; }
  void SetAlignment(TPopupAlignment alignment) { alignment_ = alignment; }

  const TNotifyEvent& OnPopup() const { return on_popup_; }
  void SetOnPopup(TNotifyEvent handler) { on_popup_ = std::move(handler); }

  // Shows the menu at screen point (x, y); returns after the choice (the chosen item's OnClick
  // has run by then).
  virtual void Popup(int x, int y);

 private:
  TMenuItem* items_;
  bool auto_popup_ = true;
  TComponent* popup_component_ = nullptr;
  TPopupAlignment alignment_ = paLeft;
  TNotifyEvent on_popup_;
};

// Test seam: when set, Popup asks it for the item to choose (null: dismissed) instead of
// showing the menu.
void SetPopupMenuResponder(std::function<TMenuItem*(TPopupMenu* menu)> responder);

}  // namespace cl
