// TCustomComboEdit: a masked one-line edit with a small button at its right edge that either
// drops a popup window (TPopupWindow) under the edit or runs an action of its own (a dialog);
// TEditButton: that button.
//
// The button lives in a host control right-aligned inside the edit's frame; the text area stops
// ButtonWidth + 2 pixels before the right edge; a ButtonWidth below 2 hides the host.
//
// Popup state machine (the popup never takes the focus: the edit keeps it and forwards keys):
//   closed --button click or ClickKey (DoClick -> PopupDropDown)--> open
//            (the text is locked and the caret hidden meanwhile)
//   open --button, ClickKey, Enter, a release inside the popup (PopupCloseUp accept)--> closed
//   open --Escape, the focus leaving for another control or window, a press on the text
//          (PopupCloseUp refuse)--> closed
// Closing reads the popup's value and, when accepting, passes it through AcceptPopup and
// AcceptValue; DirectInput is then applied again.
//
// ReadOnly stops the button and typing; DirectInput off stops typing, pasting and cutting only.
// Ownership: button, host and popup are owned by the edit.  GUI thread only.
#pragma once

#include <string>

#include "classlib/forms/Edits.h"
#include "classlib/forms/Menus.h"
#include "classlib/rtl/Variant.h"
#include "components/ui/TOxSpeedButton.h"
#include "components/ui/TPopupWindow.h"

namespace comp {

enum TGlyphKind { gkCustom, gkDefault, gkDropDown, gkEllipsis };

class TCustomComboEdit;

// The edit's button: a press while the popup is open closes it (accepting) and the click that
// follows is swallowed; otherwise a press first gives the focus to the edit.
class TEditButton : public TOxSpeedButton {
 public:
  explicit TEditButton(TCustomComboEdit* edit);

 protected:
  void MouseDown(cl::TMouseButton button, cl::TShiftState shift, int x, int y) override;
  void Paint() override;
  void Click() override;

 private:
  TCustomComboEdit* edit_;
  bool swallow_click_ = false;
};

// The three 2 x 2 dots of gkEllipsis on a `button_width` - 6 wide, 4 high picture (black on the
// glyphs' transparent colour).
void DrawEllipsisGlyph(cl::TBitmap& bitmap, int button_width);

class TCustomComboEdit : public cl::TCustomMaskEdit {
 public:
  explicit TCustomComboEdit(cl::TComponent* owner);
  ~TCustomComboEdit() override;

  TEditButton* Button() const { return button_; }
  int ButtonWidth() const { return button_width_; }
  void SetButtonWidth(int width);
  const std::string& ButtonHint() const { return button_->Hint(); }
  void SetButtonHint(const std::string& hint) { button_->SetHint(hint); }
  // Setting a picture switches GlyphKind to gkCustom.
  cl::TBitmap& Glyph() { return button_->Glyph(); }
  void SetGlyph(const cl::TBitmap& glyph);
  int NumGlyphs() const { return button_->NumGlyphs(); }
  void SetNumGlyphs(int count);
  TGlyphKind GlyphKind() const { return glyph_kind_; }
  void SetGlyphKind(TGlyphKind kind);
  cl::TShortCut ClickKey() const { return click_key_; }
  void SetClickKey(cl::TShortCut key) { click_key_ = key; }
  bool DirectInput() const { return direct_input_; }
  void SetDirectInput(bool value);
  bool ReadOnly() const { return GetReadOnly(); }
  void SetReadOnly(bool read_only) override;
  TPopupAlign PopupAlign() const { return popup_align_; }
  void SetPopupAlign(TPopupAlign align) { popup_align_ = align; }
  TPopupWindow* Popup() const { return popup_; }
  bool PopupVisible() const { return popup_visible_; }

  const cl::TNotifyEvent& OnButtonClick() const { return on_button_click_; }
  void SetOnButtonClick(cl::TNotifyEvent handler) { on_button_click_ = std::move(handler); }

  void SetBounds(int left, int top, int width, int height) override;
  // The button's action (what a click on it or ClickKey does).
  virtual void DoClick();

 protected:
  // The picture gkDefault shows (null: none) and its image count.
  virtual const cl::TBitmap* DefaultGlyph() const { return nullptr; }
  virtual int DefaultNumGlyphs() const { return 1; }
  // Opens the popup under (or over) the edit; `disable_edit` makes the text read-only meanwhile.
  virtual void PopupDropDown(bool disable_edit);
  virtual void ShowPopup(cl::TPoint origin);
  virtual void HidePopup();
  virtual bool AcceptPopup(cl::Variant& value);
  // Sets the text from an accepted value (only when it differs).
  virtual void AcceptValue(const cl::Variant& value);
  virtual void SetPopupValue(const cl::Variant& value);
  virtual cl::Variant GetPopupValue() const;
  // Called instead of Change while the popup is open.
  virtual void PopupChange() {}
  virtual bool GetReadOnly() const { return read_only_; }
  // Whether typing is refused now (the data-aware edit adds its link's state).
  virtual bool TextLocked() const;
  // Closes the popup; `accept` takes its value.
  void PopupCloseUp(bool accept);
  // Installs the popup (owned by this edit); null removes it.
  void SetPopup(TPopupWindow* popup);
  // Applies TextLocked to the edit.
  void UpdateEditable();

  void Change() override;
  void KeyDown(uint16_t& key, cl::TShiftState shift) override;
  void DoEnter() override;
  void DoExit() override;
  void MouseDown(cl::TMouseButton button, cl::TShiftState shift, int x, int y) override;
  void WndProc(cl::TMessage& message) override;

 private:
  friend class TEditButton;
  void UpdateLayout();
  void RecreateGlyph();

  cl::TCustomControl* host_ = nullptr;
  TEditButton* button_ = nullptr;
  TPopupWindow* popup_ = nullptr;
  cl::TNotifyEvent on_button_click_;
  cl::TShortCut click_key_ = cl::ShortCut(cl::VK_DOWN, {cl::ssAlt});
  bool read_only_ = false;
  bool direct_input_ = true;
  bool popup_visible_ = false;
  bool popup_locks_text_ = false;
  TPopupAlign popup_align_ = epaRight;
  TGlyphKind glyph_kind_ = gkCustom;
  int button_width_ = 21;
};

}  // namespace comp
