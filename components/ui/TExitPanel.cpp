#include "components/ui/TExitPanel.h"

#include "components/ui/WindowRoutines.h"

namespace comp {

TBtnExitPanel::TBtnExitPanel(TExitPanel* panel, const std::string& caption)
    : button_(new cl::TBitBtn(panel)) {
  button_->SetParent(panel);
  button_->SetBounds(button_->Left(), button_->Top(), 120, 33);
  button_->SetCaption(caption);
  previous_glyph_change_ = button_->Glyph().OnChange();
  button_->Glyph().SetOnChange([this](cl::TObject* sender) { GlyphChanged(sender); });
}

void TBtnExitPanel::GlyphChanged(cl::TObject* sender) {
  cl::TBitmap& glyph = button_->Glyph();
  const int h = glyph.Height();
  const int w = glyph.Width();
  if (h > 0 && w % h == 0) {
    int count = w / h;
    if (count > 4) count = 1;
    if (count != button_->NumGlyphs()) button_->SetNumGlyphs(count);
  }
  if (previous_glyph_change_) previous_glyph_change_(sender);
}

void TBtnExitPanel::Assign(const cl::TPersistent* source) {
  if (auto* other = dynamic_cast<const TBtnExitPanel*>(source)) {
    SetKind(other->Kind());
    SetCaption(other->Caption());
    button_->Glyph().Assign(&other->button_->Glyph());
    SetModalResult(other->ModalResult());
    SetCancel(other->Cancel());
    SetDefault(other->Default());
    return;
  }
  cl::TPersistent::Assign(source);
}

TExitPanel::TExitPanel(cl::TComponent* owner) : cl::TPanel(owner) {
  btn_ok_ = std::make_unique<TBtnExitPanel>(this, "&OK");
  btn_ok_->SetKind(cl::bkOK);
  btn_ok_->SetCaption("&OK");
  btn_cancel_ = std::make_unique<TBtnExitPanel>(this, "&Annuler");
  btn_cancel_->SetKind(cl::bkCancel);
  btn_cancel_->SetCaption("&Annuler");
  SetBevelOuter(cl::bvLowered);
  SetCaption("");
  SetAlign(cl::alBottom);
  SetWidth(300);
  Arrange();
}

TExitPanel::~TExitPanel() = default;

void TExitPanel::SetSpacing(int spacing) {
  if (spacing == spacing_) return;
  spacing_ = spacing;
  Arrange();
}

void TExitPanel::SetBtnHeight(int height) {
  for (cl::TBitBtn* b : {btn_ok_->Button(), btn_cancel_->Button()}) {
    b->SetBounds(b->Left(), b->Top(), b->Width(), height);
  }
  Arrange();
}

void TExitPanel::SetBtnWidth(int width) {
  for (cl::TBitBtn* b : {btn_ok_->Button(), btn_cancel_->Button()}) {
    b->SetBounds(b->Left(), b->Top(), width, b->Height());
  }
  Arrange();
}

void TExitPanel::Arrange() {
  if (!btn_ok_ || !btn_cancel_) return;
  cl::TBitBtn* ok = btn_ok_->Button();
  cl::TBitBtn* cancel = btn_cancel_->Button();
  const int ok_left = (Width() - (ok->Width() + spacing_ + cancel->Width())) / 2;
  ok->SetBounds(ok_left, (Height() - ok->Height()) / 2, ok->Width(), ok->Height());
  cancel->SetBounds(ok_left + ok->Width() + spacing_, (Height() - cancel->Height()) / 2,
                    cancel->Width(), cancel->Height());
}

void TExitPanel::Loaded() {
  cl::TPanel::Loaded();
  Arrange();
  SetCaption("");
}

void TExitPanel::Resize() {
  cl::TPanel::Resize();
  Arrange();
}

TEllipsisButton::TEllipsisButton(cl::TComponent* owner) : cl::TBitBtn(owner) {
  RegisterComponentResources();
  Glyph().LoadFromResourceName("QKELLIPSISIMAGE");
  SetNumGlyphs(2);
  SetCaption("");
  SetBounds(Left(), Top(), 25, 21);
}

}  // namespace comp
