// TExitPanel: a bottom panel carrying a centred OK / Cancel pair of glyph buttons that closes a
// modal dialog; TBtnExitPanel, the facade through which a dialog sets up each button; and
// TEllipsisButton, the small "..." button placed beside an edit to open a chooser.
//
// Ownership: the panel owns both buttons (as components) and both facades.  GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "classlib/forms/Buttons.h"
#include "classlib/forms/ExtCtrls.h"

namespace comp {

class TExitPanel;

// One button of the panel seen as a set of properties.  A glyph whose width is a whole multiple
// of its height sets NumGlyphs to width / height (1 when that is above 4), then the button's own
// glyph handling runs.
class TBtnExitPanel : public cl::TPersistent {
 public:
  TBtnExitPanel(TExitPanel* panel, const std::string& caption);

  cl::TBitBtn* Button() const { return button_; }
  const std::string& Caption() const { return button_->Caption(); }
  void SetCaption(const std::string& caption) { button_->SetCaption(caption); }
  cl::TBitmap& Glyph() { return button_->Glyph(); }
  int ModalResult() const { return button_->ModalResult(); }
  void SetModalResult(int result) { button_->SetModalResult(result); }
  bool Cancel() const { return button_->Cancel(); }
  void SetCancel(bool value) { button_->SetCancel(value); }
  bool Default() const { return button_->Default(); }
  void SetDefault(bool value) { button_->SetDefault(value); }
  cl::TBitBtnKind Kind() const { return button_->Kind(); }
  void SetKind(cl::TBitBtnKind kind) { button_->SetKind(kind); }

  // Copies Kind, Caption, Glyph, ModalResult, Cancel and Default from another facade.
  void Assign(const cl::TPersistent* source) override;

 private:
  void GlyphChanged(cl::TObject* sender);

  cl::TBitBtn* button_;
  cl::TNotifyEvent previous_glyph_change_;
};

class TExitPanel : public cl::TPanel {
 public:
  explicit TExitPanel(cl::TComponent* owner);
  ~TExitPanel() override;

  TBtnExitPanel& BtnOk() { return *btn_ok_; }
  TBtnExitPanel& BtnCancel() { return *btn_cancel_; }
  void SetBtnOk(const TBtnExitPanel& value) { btn_ok_->Assign(&value); }
  void SetBtnCancel(const TBtnExitPanel& value) { btn_cancel_->Assign(&value); }

  int Spacing() const { return spacing_; }
  void SetSpacing(int spacing);
  int BtnHeight() const { return btn_ok_->Button()->Height(); }
  void SetBtnHeight(int height);
  int BtnWidth() const { return btn_ok_->Button()->Width(); }
  void SetBtnWidth(int width);

  cl::TNotifyEvent OnOkClick() const { return btn_ok_->Button()->OnClick(); }
  void SetOnOkClick(cl::TNotifyEvent handler) { btn_ok_->Button()->SetOnClick(std::move(handler)); }
  cl::TNotifyEvent OnCancelClick() const { return btn_cancel_->Button()->OnClick(); }
  void SetOnCancelClick(cl::TNotifyEvent handler) {
    btn_cancel_->Button()->SetOnClick(std::move(handler));
  }

  // Centres the pair: top (H - h) / 2, OK left (W - (wOK + Spacing + wCancel)) / 2, Cancel
  // Spacing to its right.
  void Arrange();

 protected:
  void Loaded() override;
  void Resize() override;

 private:
  std::unique_ptr<TBtnExitPanel> btn_ok_;
  std::unique_ptr<TBtnExitPanel> btn_cancel_;
  int spacing_ = 8;
};

// A "..." glyph button, 25 x 21.
class TEllipsisButton : public cl::TBitBtn {
 public:
  explicit TEllipsisButton(cl::TComponent* owner);
};

}  // namespace comp
