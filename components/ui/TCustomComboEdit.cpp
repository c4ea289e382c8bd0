#include "components/ui/TCustomComboEdit.h"

#include <algorithm>

#include "classlib/forms/Screen.h"

namespace comp {

// ---- TEditButton -----------------------------------------------------------------------------

TEditButton::TEditButton(TCustomComboEdit* edit) : TOxSpeedButton(edit), edit_(edit) {
  SetParentShowHint(true);
}

void TEditButton::MouseDown(cl::TMouseButton button, cl::TShiftState shift, int x, int y) {
  if (button == cl::mbLeft) {
    if (edit_->PopupVisible()) {
      edit_->PopupCloseUp(true);
      swallow_click_ = true;
    } else if (edit_->TabStop() && edit_->CanFocus() && !edit_->Focused()) {
      edit_->SetFocus();
    }
  }
  TOxSpeedButton::MouseDown(button, shift, x, y);
}

void TEditButton::Click() {
  if (swallow_click_) {
    swallow_click_ = false;
    return;
  }
  TOxSpeedButton::Click();
  edit_->DoClick();
}

void TEditButton::Paint() {
  TOxSpeedButton::Paint();
  if (State() == bsDown) return;
  // The separator between the text and the button.
  cl::TCanvas& canvas = Canvas();
  canvas.Pen().SetColor(cl::clBtnFace);
  canvas.MoveTo(0, 0);
  canvas.LineTo(0, Height());
  canvas.Pen().SetColor(cl::clBtnHighlight);
  canvas.MoveTo(1, 0);
  canvas.LineTo(1, Height());
}

void DrawEllipsisGlyph(cl::TBitmap& bitmap, int button_width) {
  const int width = std::max(1, button_width - 6);
  const int gap = std::min(3, std::max(1, (button_width - 6) / 2));
  bitmap.SetSize(width, 4);
  cl::TCanvas& canvas = bitmap.Canvas();
  canvas.Brush().SetColor(static_cast<cl::TColor>(0xFF00FF));
  canvas.FillRect(cl::Rect(0, 0, width, 4));
  canvas.Brush().SetColor(cl::clBlack);
  int x = (width - (3 * 2 + 2 * gap)) / 2;
  for (int i = 0; i < 3; ++i, x += 2 + gap) canvas.FillRect(cl::Rect(x, 1, x + 2, 3));
}

// ---- TCustomComboEdit ------------------------------------------------------------------------

TCustomComboEdit::TCustomComboEdit(cl::TComponent* owner) : cl::TCustomMaskEdit(owner) {
  host_ = new cl::TCustomControl(this);
  host_->SetParent(this);
  host_->SetBounds(0, 0, 21, 17);
  button_ = new TEditButton(this);
  button_->SetParent(host_);
  button_->SetAlign(cl::alClient);
  SetHeight(21);
  UpdateLayout();
}

TCustomComboEdit::~TCustomComboEdit() {
  // The popup's close-up handler points back here.
  if (popup_ != nullptr) popup_->on_close_up = nullptr;
}

void TCustomComboEdit::SetBounds(int left, int top, int width, int height) {
  cl::TCustomMaskEdit::SetBounds(left, top, width, height);
  // Bounds set while the constructor runs come before the host exists.
  if (host_ != nullptr) UpdateLayout();
}

void TCustomComboEdit::UpdateLayout() {
  if (button_width_ < 2) {
    host_->SetVisible(false);
    SetTextMargins(0, 0);
    return;
  }
  // The host's place inside the frame the edit draws; without a frame it takes the full height.
  if (BorderStyle() == cl::bsNone) {
    host_->SetBounds(Width() - button_width_, 0, button_width_, Height());
  } else {
    host_->SetBounds(Width() - button_width_ - 2, 2, button_width_, std::max(0, Height() - 4));
  }
  host_->SetVisible(true);
  SetTextMargins(0, button_width_ + 2);
}

void TCustomComboEdit::SetButtonWidth(int width) {
  if (width == button_width_) return;
  button_width_ = width;
  // The dots' picture follows the button's width.
  if (glyph_kind_ == gkEllipsis) RecreateGlyph();
  UpdateLayout();
}

void TCustomComboEdit::SetGlyph(const cl::TBitmap& glyph) {
  glyph_kind_ = gkCustom;
  button_->Glyph().Assign(&glyph);
  button_->ButtonGlyph().Invalidate();
  button_->Invalidate();
}

void TCustomComboEdit::SetNumGlyphs(int count) {
  // The system pictures hold one image.
  button_->SetNumGlyphs(glyph_kind_ == gkDropDown || glyph_kind_ == gkEllipsis ? 1 : count);
}

void TCustomComboEdit::SetGlyphKind(TGlyphKind kind) {
  if (kind == glyph_kind_) return;
  glyph_kind_ = kind;
  RecreateGlyph();
}

void TCustomComboEdit::RecreateGlyph() {
  cl::TBitmap& glyph = button_->Glyph();
  switch (glyph_kind_) {
    case gkCustom:
      return;
    case gkDefault:
      if (const cl::TBitmap* own = DefaultGlyph()) {
        glyph.Assign(own);
        const int count = DefaultNumGlyphs();
        button_->SetNumGlyphs(count);
        SetButtonWidth(std::max(own->Width() / count + 6, button_width_));
      }
      break;
    case gkDropDown:
      glyph.LoadFromResourceName("OBM_COMBO");
      button_->SetNumGlyphs(1);
      SetButtonWidth(cl::GetSystemMetrics(cl::SM_CXVSCROLL));
      break;
    case gkEllipsis:
      DrawEllipsisGlyph(glyph, button_width_);
      button_->SetNumGlyphs(1);
      break;
  }
  button_->ButtonGlyph().Invalidate();
  button_->Invalidate();
}

void TCustomComboEdit::SetDirectInput(bool value) {
  direct_input_ = value;
  UpdateEditable();
}

void TCustomComboEdit::SetReadOnly(bool read_only) {
  read_only_ = read_only;
  UpdateEditable();
}

bool TCustomComboEdit::TextLocked() const {
  return GetReadOnly() || !direct_input_ || (popup_visible_ && popup_locks_text_);
}

void TCustomComboEdit::UpdateEditable() { cl::TCustomMaskEdit::SetReadOnly(TextLocked()); }

void TCustomComboEdit::SetPopup(TPopupWindow* popup) {
  if (popup_visible_) PopupCloseUp(false);
  if (popup_ != nullptr) popup_->on_close_up = nullptr;
  popup_ = popup;
  if (popup_ != nullptr) {
    popup_->on_close_up = [this](cl::TObject*, bool accept) { PopupCloseUp(accept); };
  }
}

void TCustomComboEdit::DoClick() {
  if (GetReadOnly()) return;
  if (on_button_click_) {
    cl::TNotifyEvent handler = on_button_click_;
    handler(this);
  }
  if (popup_ == nullptr) return;
  if (popup_visible_) {
    PopupCloseUp(true);
  } else {
    PopupDropDown(true);
  }
}

void TCustomComboEdit::PopupDropDown(bool disable_edit) {
  if (popup_ == nullptr || popup_visible_ || GetReadOnly()) return;
  const cl::TPoint origin = ClientToScreen({0, 0});
  const cl::TPoint at = PopupPosition(origin, Width(), Height(), popup_->Width(), popup_->Height(),
                                      popup_align_, cl::Screen().Width(), cl::Screen().Height());
  SetPopupValue(Text().empty() ? cl::Variant::Null() : cl::Variant(Text()));
  if (CanFocus() && !Focused()) SetFocus();
  ShowPopup(at);
  popup_visible_ = true;
  popup_locks_text_ = disable_edit;
  if (disable_edit) {
    UpdateEditable();
    SetCaretVisible(false);
  }
}

void TCustomComboEdit::ShowPopup(cl::TPoint origin) { popup_->Show(origin); }

void TCustomComboEdit::HidePopup() { popup_->Hide(); }

bool TCustomComboEdit::AcceptPopup(cl::Variant&) { return true; }

void TCustomComboEdit::AcceptValue(const cl::Variant& value) {
  const std::string text = value.IsNull() || value.IsEmpty() ? "" : value.AsString();
  if (text == Text()) return;
  SetText(text);
  SetModified(true);
}

void TCustomComboEdit::SetPopupValue(const cl::Variant& value) { popup_->SetValue(value); }

cl::Variant TCustomComboEdit::GetPopupValue() const { return popup_->GetValue(); }

void TCustomComboEdit::PopupCloseUp(bool accept) {
  if (popup_ == nullptr || !popup_visible_) return;
  cl::CancelMode();
  cl::Variant value = GetPopupValue();
  HidePopup();
  // Cleared before the value lands, so that its change notification is the ordinary one.
  popup_visible_ = false;
  if (CanFocus() && !Focused()) SetFocus();
  SetCaretVisible(true);
  UpdateEditable();
  Invalidate();
  if (accept && AcceptPopup(value) && !GetReadOnly()) {
    AcceptValue(value);
    if (Focused()) SelectAll();
  }
}

void TCustomComboEdit::Change() {
  if (popup_visible_) {
    PopupChange();
  } else {
    cl::TCustomMaskEdit::Change();
  }
}

void TCustomComboEdit::KeyDown(uint16_t& key, cl::TShiftState shift) {
  cl::TCustomMaskEdit::KeyDown(key, shift);
  if (key == 0) return;
  if (button_width_ > 0 && cl::ShortCut(key, shift) == click_key_) {
    DoClick();
    key = 0;
    return;
  }
  // Without a popup, Enter and Escape go on to the form (its default and cancel buttons).
  if (popup_visible_ && (key == cl::VK_RETURN || key == cl::VK_ESCAPE)) {
    PopupCloseUp(key == cl::VK_RETURN);
    key = 0;
  }
}

void TCustomComboEdit::DoEnter() {
  // A click places the caret where it lands; the whole text is selected only for typing.
  if (AutoSelect() && direct_input_ && !cl::GetShiftState().Contains(cl::ssLeft)) SelectAll();
  cl::TWinControl::DoEnter();
}

void TCustomComboEdit::DoExit() {
  PopupCloseUp(false);
  cl::TCustomMaskEdit::DoExit();
}

void TCustomComboEdit::WndProc(cl::TMessage& message) {
  // Another window taking the activation moves no focus inside the program (no exit), and the
  // popup must not stay open over it.
  if (message.Msg == cl::WM_KILLFOCUS) PopupCloseUp(false);
  cl::TCustomMaskEdit::WndProc(message);
}

void TCustomComboEdit::MouseDown(cl::TMouseButton button, cl::TShiftState shift, int x, int y) {
  if (button == cl::mbLeft && popup_ != nullptr) {
    if (!Focused() && CanFocus()) SetFocus();
    if (popup_visible_) PopupCloseUp(false);
  }
  cl::TCustomMaskEdit::MouseDown(button, shift, x, y);
}

}  // namespace comp
