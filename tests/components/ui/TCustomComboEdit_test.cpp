#include "components/ui/TCustomComboEdit.h"

#include <gtest/gtest.h>

#include "classlib/forms/Forms.h"
#include "classlib/forms/Screen.h"

namespace comp {
namespace {

// A popup holding a text value, standing for any drop-down.
class TTextPopup : public TPopupWindow {
 public:
  explicit TTextPopup(cl::TComponent* owner) : TPopupWindow(owner) { SetBounds(0, 0, 187, 124); }
  cl::Variant GetValue() const override { return cl::Variant(value); }
  void SetValue(const cl::Variant& v) override { value = v.IsNull() ? "(null)" : v.AsString(); }
  std::string value;
};

class TTextComboEdit : public TCustomComboEdit {
 public:
  explicit TTextComboEdit(cl::TComponent* owner) : TCustomComboEdit(owner) {
    popup = new TTextPopup(this);
    SetPopup(popup);
  }
  bool TextReadOnly() const { return cl::TCustomEdit::ReadOnly(); }
  TTextPopup* popup;
};

void Key(cl::TControl* control, uint16_t key, cl::TShiftState shift = {}) {
  control->Perform(cl::WM_KEYDOWN, key, static_cast<cl::LPARAM>(shift.Bits()));
}

TEST(TCustomComboEditTest, ButtonKeysAndPopupStates) {
  cl::TForm form(nullptr);
  auto* edit = new TTextComboEdit(&form);
  edit->SetParent(&form);
  int clicks = 0;
  edit->SetOnButtonClick([&](cl::TObject*) { ++clicks; });
  edit->SetText("abc");
  EXPECT_EQ(edit->Height(), 21);
  EXPECT_EQ(edit->ClickKey(), cl::ShortCut(cl::VK_DOWN, {cl::ssAlt}));

  // Alt+Down drops: the popup gets the text, the text is locked meanwhile.
  Key(edit, cl::VK_DOWN, {cl::ssAlt});
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(edit->PopupVisible());
  EXPECT_TRUE(edit->popup->Visible());
  EXPECT_EQ(edit->popup->value, "abc");
  EXPECT_TRUE(edit->TextReadOnly());
  // Escape closes without taking the value; Enter takes it.
  edit->popup->value = "xyz";
  Key(edit, cl::VK_ESCAPE);
  EXPECT_FALSE(edit->PopupVisible());
  EXPECT_FALSE(edit->popup->Visible());
  EXPECT_EQ(edit->Text(), "abc");
  EXPECT_FALSE(edit->TextReadOnly());
  edit->DoClick();
  edit->popup->value = "xyz";
  Key(edit, cl::VK_RETURN);
  EXPECT_EQ(edit->Text(), "xyz");
  EXPECT_TRUE(edit->Modified());
  // The button closes an open popup accepting; an empty text drops a null value.
  edit->SetText("");
  edit->DoClick();
  EXPECT_EQ(edit->popup->value, "(null)");
  edit->popup->value = "from button";
  edit->DoClick();
  EXPECT_FALSE(edit->PopupVisible());
  EXPECT_EQ(edit->Text(), "from button");
  // A release inside the popup accepts; losing the focus refuses.
  edit->DoClick();
  edit->popup->value = "released";
  edit->popup->Perform(cl::WM_LBUTTONUP, 0, (5 << 16) | 5);
  EXPECT_EQ(edit->Text(), "released");
  edit->DoClick();
  edit->popup->value = "lost";
  edit->Perform(cl::CM_EXIT, 0, 0);
  EXPECT_FALSE(edit->PopupVisible());
  EXPECT_EQ(edit->Text(), "released");

  // DirectInput off: no typing, the button still works; ReadOnly: nothing works.
  edit->SetDirectInput(false);
  EXPECT_TRUE(edit->TextReadOnly());
  edit->DoClick();
  EXPECT_TRUE(edit->PopupVisible());
  edit->popup->value = "direct off";
  Key(edit, cl::VK_RETURN);
  EXPECT_EQ(edit->Text(), "direct off");
  EXPECT_TRUE(edit->TextReadOnly()) << "DirectInput applies again after closing";
  edit->SetDirectInput(true);
  edit->SetReadOnly(true);
  const int before = clicks;
  edit->DoClick();
  Key(edit, cl::VK_DOWN, {cl::ssAlt});
  EXPECT_EQ(clicks, before);
  EXPECT_FALSE(edit->PopupVisible());
  edit->SetReadOnly(false);
  // Without a button the click key does nothing.
  edit->SetButtonWidth(0);
  uint16_t key = cl::VK_DOWN;
  edit->Perform(cl::WM_KEYDOWN, key, static_cast<cl::LPARAM>(cl::TShiftState{cl::ssAlt}.Bits()));
  EXPECT_FALSE(edit->PopupVisible());
  EXPECT_FALSE(edit->Button()->Parent()->Visible());
}

TEST(TCustomComboEditTest, PopupOpensAboveAndPulledLeftAtTheScreenCorner) {
  cl::TForm form(nullptr);
  auto* edit = new TTextComboEdit(&form);
  edit->SetParent(&form);
  edit->SetPopupAlign(epaLeft);
  const int screen_w = cl::Screen().Width();
  const int screen_h = cl::Screen().Height();
  form.SetBounds(screen_w - 160, screen_h - 60, 150, 50);
  edit->SetBounds(10, 10, 120, 21);
  form.Show();
  const cl::TPoint p = edit->ClientToScreen({0, 0});
  edit->DoClick();
  const cl::TPoint expected = PopupPosition(p, 120, 21, 187, 124, epaLeft, screen_w, screen_h);
  EXPECT_EQ(edit->popup->Left(), expected.X);
  EXPECT_EQ(edit->popup->Top(), expected.Y);
  EXPECT_EQ(expected.Y, p.Y - 124) << "above";
  EXPECT_LT(expected.X, p.X) << "pulled left";
  edit->DoClick();
}

TEST(TCustomComboEditTest, GlyphKindsSetTheButton) {
  TTextComboEdit edit(nullptr);
  EXPECT_EQ(edit.GlyphKind(), gkCustom);
  EXPECT_EQ(edit.ButtonWidth(), 21);
  edit.SetGlyphKind(gkDropDown);
  EXPECT_EQ(edit.ButtonWidth(), cl::GetSystemMetrics(cl::SM_CXVSCROLL));
  EXPECT_FALSE(edit.Glyph().Empty());
  edit.SetNumGlyphs(2);
  EXPECT_EQ(edit.NumGlyphs(), 1) << "the system picture holds one image";

  edit.SetButtonWidth(21);
  edit.SetGlyphKind(gkEllipsis);
  cl::TBitmap& dots = edit.Glyph();
  ASSERT_EQ(dots.Width(), 15);
  ASSERT_EQ(dots.Height(), 4);
  // Three 2 x 2 dots 3 apart, centred: columns 1-2, 6-7, 11-12 of rows 1-2.
  std::string row;
  for (int x = 0; x < 15; ++x) row += dots.Canvas().Pixels(x, 1) == cl::clBlack ? '#' : '.';
  EXPECT_EQ(row, ".##...##...##..");
  EXPECT_NE(dots.Canvas().Pixels(1, 0), cl::clBlack);
  edit.SetButtonWidth(9);
  EXPECT_EQ(edit.Glyph().Width(), 3) << "the picture follows the width";

  cl::TBitmap own;
  own.SetSize(8, 8);
  edit.SetGlyph(own);
  EXPECT_EQ(edit.GlyphKind(), gkCustom);
  EXPECT_EQ(edit.Glyph().Width(), 8);
}

}  // namespace
}  // namespace comp
