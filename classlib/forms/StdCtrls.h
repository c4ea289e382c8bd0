// The standard controls: TButton and TLabel.
#pragma once

#include <memory>
#include <string>

#include "classlib/forms/Controls.h"
#include "classlib/rtl/TStrings.h"

namespace cl {

// A push button.  A click (mouse, space, Enter while focused, or as the form's Default or
// Cancel button) sets the form's ModalResult to the button's when that is not 0, then fires
// OnClick.  "&" in the caption marks the accelerator.
class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);

  int ModalResult() const { return modal_result_; }
  void SetModalResult(int result) { modal_result_ = result; }
  // Enter anywhere in the form clicks the Default button, Escape the Cancel button (when they
  // are enabled and visible).
  bool Default() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }

  void Click() override;

 protected:
  void DefaultHandler(TMessage& message) override;
  void TextChanged() override;

 private:
  int modal_result_ = 0;
  bool default_ = false;
  bool cancel_ = false;
};

// A text.  A single "&" underlines the next character (shown without it), "&&" shows "&"; with
// FocusControl, its accelerator gives that control the focus.
class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* owner);

  TWinControl* FocusControl() const { return focus_control_; }
  void SetFocusControl(TWinControl* control);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool wrap);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment);
  // Sizes the label to its text (on by default).
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool auto_size);
  // A transparent label lets its parent show through; otherwise it fills itself with Color.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent);

 protected:
  void TextChanged() override;

 private:
  void Update();

  TWinControl* focus_control_ = nullptr;
  bool word_wrap_ = false;
  bool auto_size_ = true;
  bool transparent_ = false;
  TAlignment alignment_ = taLeftJustify;
};

// A frame with a caption around other controls.
class TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(TComponent* owner);

 protected:
  void TextChanged() override;
};

// csSimple (a list always shown under the edit) behaves as csDropDown: no form of the program
// uses it.
enum TComboBoxStyle { csDropDown, csSimple, csDropDownList };

// A combo box.  Items may carry objects (the program stores integers in them).  Only the user's
// changes fire events: picking an item fires OnChange then OnClick, typing fires OnChange;
// setting ItemIndex or Text from code fires nothing.
class TComboBox : public TWinControl {
 public:
  explicit TComboBox(TComponent* owner);
  ~TComboBox() override;

  TStrings& Items();
  TComboBoxStyle Style() const { return style_; }
  void SetStyle(TComboBoxStyle style);
  int ItemIndex() const;
  void SetItemIndex(int index);
  // The edit part's text (the chosen item's for csDropDownList).
  std::string Text() const;
  void SetText(const std::string& text);
  bool Sorted() const;
  void SetSorted(bool sorted);
  int DropDownCount() const { return drop_down_count_; }
  void SetDropDownCount(int count);
  bool DroppedDown() const;
  void SetDroppedDown(bool dropped);
  void SelectAll();
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only);
  // The most characters the edit part takes (0: no limit).
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int length);

  const TNotifyEvent& OnChange() const { return on_change_; }
  void SetOnChange(TNotifyEvent handler) { on_change_ = std::move(handler); }
  const TNotifyEvent& OnDropDown() const { return on_drop_down_; }
  void SetOnDropDown(TNotifyEvent handler) { on_drop_down_ = std::move(handler); }
  const TNotifyEvent& OnCloseUp() const { return on_close_up_; }
  void SetOnCloseUp(TNotifyEvent handler) { on_close_up_ = std::move(handler); }

 protected:
  virtual void Change();
  virtual void DropDown();
  virtual void CloseUp();
  // True while the list is about to open (DropDown runs as its hook).
  bool PopupOpening() const { return popup_opening_; }

 private:
  friend struct TComboAccess;
  void ItemsChanged();

  std::unique_ptr<TStringList> items_;
  TComboBoxStyle style_ = csDropDown;
  int drop_down_count_ = 8;
  bool read_only_ = false;
  int max_length_ = 0;
  bool popup_opening_ = false;
  TNotifyEvent on_change_;
  TNotifyEvent on_drop_down_;
  TNotifyEvent on_close_up_;
};

enum TOwnerDrawStateFlag { odSelected, odDisabled, odFocused };
using TOwnerDrawState = TSet<TOwnerDrawStateFlag>;
class TCanvas;
using TDrawItemEvent =
    std::function<void(TWinControl* control, int index, TRect rect, TOwnerDrawState state)>;

// A list with a check box in front of each item.  Checked from code fires nothing; a click on a
// box fires OnClickCheck.  With OnDrawItem the program draws each item (fixed height ItemHeight)
// on Canvas.
class TCheckListBox : public TWinControl {
 public:
  explicit TCheckListBox(TComponent* owner);
  ~TCheckListBox() override;

  TStrings& Items();
  bool Checked(int index) const;
  void SetChecked(int index, bool checked);
  int ItemIndex() const;
  void SetItemIndex(int index);
  int ItemHeight() const { return item_height_; }
  void SetItemHeight(int height);
  TCanvas& Canvas() { return *canvas_; }

  const TNotifyEvent& OnClickCheck() const { return on_click_check_; }
  void SetOnClickCheck(TNotifyEvent handler) { on_click_check_ = std::move(handler); }
  const TDrawItemEvent& OnDrawItem() const { return on_draw_item_; }
  void SetOnDrawItem(TDrawItemEvent handler) { on_draw_item_ = std::move(handler); }

 private:
  friend struct TCheckListAccess;
  void ItemsChanged();

  std::unique_ptr<TStringList> items_;
  std::unique_ptr<TCanvas> canvas_;
  int item_height_ = 17;
  TNotifyEvent on_click_check_;
  TDrawItemEvent on_draw_item_;
};

}  // namespace cl
