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

  // Enter, the button and a release inside the popup accept; Escape and focus loss refuse.
  const struct {
    const char* action;
    const char* value;  // the popup's value before the action (null: as it is)
    bool open;          // afterwards
    const char* text;
  } steps[] = {
      {"alt+down", nullptr, true, "abc"},
      {"escape", "xyz", false, "abc"},
      {"button", nullptr, true, "abc"},
      {"enter", "xyz", false, "xyz"},
      {"button", nullptr, true, "xyz"},
      {"button", "by button", false, "by button"},
      {"button", nullptr, true, "by button"},
      {"release", "released", false, "released"},
      {"button", nullptr, true, "released"},
      {"exit", "lost", false, "released"},
      {"button", nullptr, true, "released"},
      {"deactivate", "lost", false, "released"},
      // A press on the button opens; while open it accepts, and its click does not reopen.
      {"press", nullptr, true, "released"},
      {"press", "pressed", false, "pressed"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.action);
    if (step.value != nullptr) edit->popup->value = step.value;
    const std::string action = step.action;
    if (action == "alt+down") Key(edit, cl::VK_DOWN, {cl::ssAlt});
    if (action == "escape") Key(edit, cl::VK_ESCAPE);
    if (action == "enter") Key(edit, cl::VK_RETURN);
    if (action == "button") edit->DoClick();
    if (action == "release") edit->popup->Perform(cl::WM_LBUTTONUP, 0, (5 << 16) | 5);
    if (action == "exit") edit->Perform(cl::CM_EXIT, 0, 0);
    if (action == "deactivate") edit->Perform(cl::WM_KILLFOCUS, 0, 0);
    if (action == "press") {
      edit->Button()->Perform(cl::WM_LBUTTONDOWN, 0, (5 << 16) | 5);
      edit->Button()->Perform(cl::WM_LBUTTONUP, 0, (5 << 16) | 5);
    }
    EXPECT_EQ(edit->PopupVisible(), step.open);
    EXPECT_EQ(edit->popup->Visible(), step.open);
    EXPECT_EQ(edit->TextReadOnly(), step.open) << "the text is locked while open";
    EXPECT_EQ(edit->Text(), step.text);
    if (step.open && step.value == nullptr) {
      EXPECT_EQ(edit->popup->value, edit->Text());
    }
  }
  EXPECT_EQ(clicks, 8);
  EXPECT_TRUE(edit->Modified());
  edit->SetText("");
  edit->DoClick();
  EXPECT_EQ(edit->popup->value, "(null)") << "an empty text drops a null value";
  Key(edit, cl::VK_ESCAPE);

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
  Key(edit, cl::VK_DOWN, {cl::ssAlt});
  EXPECT_FALSE(edit->PopupVisible());
  EXPECT_FALSE(edit->Button()->Parent()->Visible());
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
