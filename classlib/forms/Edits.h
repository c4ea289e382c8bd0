// The edit family: the one-line edit (TCustomEdit, TEdit), the masked edit (TCustomMaskEdit,
// TMaskEdit) and the memo (TCustomMemo, TMemo).
//
// Text is Windows-1252 on our side.  A character the code page cannot hold is refused with a
// beep where the user enters it: typed, or pasted (a paste that holds one is refused whole), so
// that nothing the user sees differs from what is stored.
//
// OnChange fires after every change of the text, the user's and the program's alike (Change).
// A memo's Text separates lines with CR LF (as fields store them); its editor shows LF.
//
// Masks are written in the class library's syntax "mask;keep-literals;blank":
//   0 / 9  digit required / optional          L / l  letter required / optional
//   A / a  letter or digit required / optional C / c  any character required / optional
//   #      digit or sign, optional            > / < / <>  upper / lower / no case conversion
//   \x     the literal x                      / and :  the date and time separators of the
//   a leading ! (optional characters shown as leading blanks) is accepted   format settings
// ";1" keeps the literals in Text, ";0" drops them; the third part is the blank character (" "
// by default).  EditText is what the edit shows, blanks included ("  /  /    " for an empty date).
//
// Threads: GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "classlib/forms/Controls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/Grids.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TStrings.h"

namespace cl {

class TCustomEdit : public TWinControl {
 public:
  explicit TCustomEdit(TComponent* owner);
  ~TCustomEdit() override;

  // 0: no limit.
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int length);
  bool ReadOnly() const { return read_only_; }
  virtual void SetReadOnly(bool read_only);
  // Selects the whole text when the edit receives the focus.
  bool AutoSelect() const { return auto_select_; }
  void SetAutoSelect(bool value) { auto_select_ = value; }
  void SelectAll();
  // Selection in characters from the start.
  int SelStart() const;
  void SetSelStart(int start);
  int SelLength() const;
  void SetSelLength(int length);
  // Set by the user's changes, cleared by the program.
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  // Shows this character for every character of the text ('\0': the text itself).
  char PasswordChar() const { return password_char_; }
  void SetPasswordChar(char c);
  // bsSingle (the sunken frame) or bsNone.
  TFormBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TFormBorderStyle style);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment);
  // Pixels kept free at the left and right of the text (an embedded button ends the text area).
  void SetTextMargins(int left, int right);
  // The caret is hidden while a pop-up of the edit is open.
  void SetCaretVisible(bool visible);
  // Accepted for the programs that set it; the text needs no conversion here.
  bool OEMConvert() const { return oem_convert_; }
  void SetOEMConvert(bool value) { oem_convert_ = value; }
  void Clear() { SetText(""); }

  const TNotifyEvent& OnChange() const { return on_change_; }
  void SetOnChange(TNotifyEvent handler) { on_change_ = std::move(handler); }

 protected:
  virtual void Change();
  // The program set Text: shows it and fires Change.
  void TextChanged() override;
  void ColorChanged() override;
  void DoEnter() override;
  // What the widget shows for Text (the masked edit places it in its mask).
  virtual void ShowText(const std::string& text);
  // The Text the widget's contents stand for.
  virtual std::string TextOfWidget() const;

 private:
  void WidgetEdited();

  int max_length_ = 0;
  bool read_only_ = false;
  bool auto_select_ = true;
  bool modified_ = false;
  char password_char_ = '\0';
  TFormBorderStyle border_style_ = bsSingle;
  TAlignment alignment_ = taLeftJustify;
  bool oem_convert_ = false;
  bool syncing_ = false;
  std::string shown_;  // the widget's last accepted contents
  TNotifyEvent on_change_;
};

class TEdit : public TCustomEdit {
 public:
  using TCustomEdit::TCustomEdit;
};

// Raised by ValidateEdit: the text does not fill the mask.
class EDBEditError : public Exception {
 public:
  using Exception::Exception;
};

class TCustomMaskEdit : public TCustomEdit {
 public:
  explicit TCustomMaskEdit(TComponent* owner);

  const std::string& EditMask() const { return edit_mask_; }
  void SetEditMask(const std::string& mask);
  bool IsMasked() const { return !edit_mask_.empty(); }
  // The edit's contents with literals and blanks, as shown.
  std::string EditText() const;
  void SetEditText(const std::string& text);
  // Raises EDBEditError naming the text when a required position is blank.
  virtual void ValidateEdit();

 protected:
  // A changed masked text is validated when the focus leaves (a failure keeps the focus).
  void DoExit() override;
  std::string TextOfWidget() const override;

 private:
  std::string edit_mask_;
  std::string positions_;  // per shown position: the mask character, or 0 for a literal
  bool keep_literals_ = true;
  char blank_ = ' ';
};

class TMaskEdit : public TCustomMaskEdit {
 public:
  using TCustomMaskEdit::TCustomMaskEdit;
};

// The translation of a mask to the toolkit's, exposed for the test of its table.
std::string ToolkitInputMask(const std::string& mask);

class TCustomMemo : public TWinControl {
 public:
  explicit TCustomMemo(TComponent* owner);
  ~TCustomMemo() override;

  // The lines; changing them in code changes the text (and fires OnChange).
  TStrings& Lines() { return *lines_; }
  TScrollStyle ScrollBars() const { return scroll_bars_; }
  void SetScrollBars(TScrollStyle style);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool wrap);
  bool ReadOnly() const { return read_only_; }
  virtual void SetReadOnly(bool read_only);
  // Enter makes a new line instead of clicking the form's default button.
  bool WantReturns() const { return want_returns_; }
  void SetWantReturns(bool want) { want_returns_ = want; }
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  void SelectAll();
  void Clear() { SetText(""); }

  const TNotifyEvent& OnChange() const { return on_change_; }
  void SetOnChange(TNotifyEvent handler) { on_change_ = std::move(handler); }

 protected:
  virtual void Change();
  void TextChanged() override;
  void ColorChanged() override;
  void WndProc(TMessage& message) override;

 private:
  void WidgetEdited();
  void LinesChanged();
  void ShowLines(const std::string& text);

  std::unique_ptr<TStringList> lines_;
  TScrollStyle scroll_bars_ = ssNone;
  bool word_wrap_ = true;
  bool read_only_ = false;
  bool want_returns_ = true;
  bool modified_ = false;
  bool syncing_ = false;
  TNotifyEvent on_change_;
};

class TMemo : public TCustomMemo {
 public:
  using TCustomMemo::TCustomMemo;
};

}  // namespace cl
