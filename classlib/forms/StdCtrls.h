// The standard controls: TButton and TLabel.
#pragma once

#include <string>

#include "classlib/forms/Controls.h"

namespace cl {

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

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

 protected:
  void TextChanged() override;

 private:
  void Update();

  TWinControl* focus_control_ = nullptr;
  bool word_wrap_ = false;
  bool auto_size_ = true;
  TAlignment alignment_ = taLeftJustify;
};

}  // namespace cl
