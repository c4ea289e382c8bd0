#include "components/ui/TOxSpeedButton.h"

#include <gtest/gtest.h>

#include "classlib/forms/Edits.h"
#include "classlib/forms/Forms.h"
#include "classlib/rtl/EventLoop.h"
#include "classlib/rtl/ManualEventLoop.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace comp {
namespace {

cl::LPARAM At(int x, int y) { return (y << 16) | x; }

struct ButtonFixture : ::testing::Test {
  TOxSpeedButton* Make(int group) {
    auto* b = new TOxSpeedButton(&form);
    b->SetParent(&form);
    b->SetGroupIndex(group);
    b->SetOnClick([this, b](cl::TObject*) { clicks.push_back(b); });
    return b;
  }
  void Press(TOxSpeedButton* b) { b->Perform(cl::WM_LBUTTONDOWN, 0, At(3, 3)); }
  void Release(TOxSpeedButton* b, int x = 3) { b->Perform(cl::WM_LBUTTONUP, 0, At(x, 3)); }

  cl::TForm form{nullptr};
  std::vector<TOxSpeedButton*> clicks;
};

TEST_F(ButtonFixture, ConstructionAndGroups) {
  TOxSpeedButton* a = Make(1);
  TOxSpeedButton* b = Make(1);
  TOxSpeedButton* lone = Make(0);
  EXPECT_EQ(a->Width(), 25);
  EXPECT_EQ(a->InitPause(), 500);
  EXPECT_EQ(a->RepeatInterval(), 100);
  EXPECT_EQ(a->Margin(), -1);
  EXPECT_EQ(a->Spacing(), 1);
  EXPECT_TRUE(a->ShowHint());
  EXPECT_FALSE(a->ParentShowHint());

  lone->SetDown(true);
  EXPECT_FALSE(lone->Down()) << "group 0 ignores Down";
  Press(lone);
  EXPECT_EQ(lone->State(), bsDown);
  Release(lone);
  EXPECT_EQ(lone->State(), bsUp);
  EXPECT_EQ(clicks, std::vector<TOxSpeedButton*>{lone});

  Press(a);
  Release(a);
  EXPECT_TRUE(a->Down());
  Press(b);
  Release(b);
  EXPECT_TRUE(b->Down());
  EXPECT_FALSE(a->Down()) << "pressing the second raises the first";
  Press(b);
  Release(b);
  EXPECT_TRUE(b->Down()) << "a down button stays down without AllowAllUp";
  b->SetAllowAllUp(true);
  EXPECT_TRUE(a->AllowAllUp()) << "the group takes the sender's AllowAllUp";
  Press(b);
  Release(b);
  EXPECT_FALSE(b->Down());

  // A release outside restores the state and does not click.
  clicks.clear();
  Press(a);
  Release(a, 200);
  EXPECT_FALSE(a->Down());
  EXPECT_EQ(a->State(), bsUp);
  EXPECT_TRUE(clicks.empty());
}

TEST_F(ButtonFixture, RepeatOnTheManualClock) {
  cl::TEventLoop* real = cl::CurrentEventLoop();
  cl::TManualEventLoop manual;
  cl::SetEventLoop(&manual);
  {
    TOxSpeedButton* b = Make(0);
    b->SetAllowTimer(true);
    Press(b);
    manual.Advance(499);
    EXPECT_TRUE(clicks.empty());
    manual.Advance(1);
    EXPECT_EQ(clicks.size(), 1u) << "first repeat at 500 ms";
    manual.Advance(99);
    EXPECT_EQ(clicks.size(), 1u);
    manual.Advance(1);
    manual.Advance(100);
    EXPECT_EQ(clicks.size(), 3u) << "then every 100 ms";
    Release(b);
    EXPECT_EQ(clicks.size(), 4u) << "the release clicks once more";
    manual.Advance(1000);
    EXPECT_EQ(clicks.size(), 4u) << "stopped";
    delete b;
  }
  cl::SetEventLoop(real);
}

TEST_F(ButtonFixture, GlyphCacheAndHover) {
  cl::TBitmap picture;
  picture.SetSize(32, 16);
  {
    TOxSpeedButton* a = Make(0);
    TOxSpeedButton* b = Make(0);
    a->Glyph().Assign(&picture);
    b->Glyph().Assign(&picture);
    EXPECT_EQ(a->NumGlyphs(), 2);
    EXPECT_EQ(a->ButtonGlyph().ImageIndex(bsUp), -1) << "built on first use";
    const int up_a = a->ButtonGlyph().CreateButtonGlyph(bsUp);
    const int up_b = b->ButtonGlyph().CreateButtonGlyph(bsUp);
    const int disabled_a = a->ButtonGlyph().CreateButtonGlyph(bsDisabled);
    EXPECT_EQ(up_a, 0);
    EXPECT_EQ(up_b, 1);
    EXPECT_EQ(disabled_a, 2);
    ASSERT_NE(GlyphCache(), nullptr);
    TGlyphList* list = GlyphCache()->GetList(16, 16);
    EXPECT_EQ(list->UsedCount(), 3);
    // A freed slot is reused first.
    a->ButtonGlyph().Invalidate();
    EXPECT_EQ(list->UsedCount(), 1);
    EXPECT_EQ(a->ButtonGlyph().CreateButtonGlyph(bsDown), 0);

    std::vector<std::string> hover;
    a->SetOnMouseEnter([&](cl::TObject*) { hover.push_back("enter"); });
    a->SetOnMouseLeave([&](cl::TObject*) { hover.push_back("leave"); });
    a->Perform(cl::CM_MOUSEENTER, 0, 0);
    a->Perform(cl::CM_MOUSEENTER, 0, 0);
    a->Perform(cl::CM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(hover, (std::vector<std::string>{"enter", "leave"}));
    delete a;
    delete b;
  }
  EXPECT_EQ(GlyphCache(), nullptr) << "freed with the last glyph list";
}

// The button as painted on its shown form, and the box around its dark (text, arrow) pixels.
QImage Shot(TOxSpeedButton* b) {
  const QRect at(b->Left(), b->Top(), b->Width(), b->Height());
  return mirvel_test::Widget(b->Parent())->grab(at).toImage();
}
bool Dark(QColor c) { return c.red() < 100 && c.green() < 100 && c.blue() < 100; }
QRect Ink(TOxSpeedButton* b) {
  const QImage shot = Shot(b);
  QRect ink;
  for (int y = 3; y < b->Height() - 3; ++y) {
    for (int x = 3; x < b->Width() - 3; ++x)
      ink |= Dark(shot.pixelColor(x, y)) ? QRect(x, y, 1, 1) : QRect();
  }
  return ink;
}

TEST_F(ButtonFixture, LookFollowsItsProperties) {
  form.SetColor(cl::clRed);
  form.SetBounds(0, 0, 300, 200);
  TOxSpeedButton* b = Make(0);
  b->SetBounds(10, 10, 90, 40);
  b->SetCaption("Ab");
  form.Show();
  for (auto alignment : {cl::taLeftJustify, cl::taRightJustify, cl::taCenter}) {
    b->SetAlignment(alignment);
    EXPECT_EQ(Ink(b).center().x() / 30, alignment == cl::taCenter ? 1 : alignment * 2);
  }
  b->SetCaption("un deux trois quatre");
  b->SetBounds(10, 10, 50, 40);
  const int one_line = Ink(b).height();
  b->SetWordWrap(true);
  EXPECT_GT(Ink(b).height(), 2 * one_line) << "lines one under the other";

  // Opaque in the button face, else the form's red; the old style's dark outline.
  b->SetCaption("");
  EXPECT_NE(Shot(b).pixelColor(20, 20), QColor(Qt::red));
  b->SetTransparent(true);
  EXPECT_EQ(Shot(b).pixelColor(20, 20), QColor(Qt::red));
  EXPECT_FALSE(Dark(Shot(b).pixelColor(25, 0)));
  b->SetStyle(bsWin31);
  EXPECT_TRUE(Dark(Shot(b).pixelColor(25, 0)));
  b->SetStyle(bsNew);

  // The drop-down arrow: only with a menu and MarkDropDown, at the right.
  cl::TPopupMenu menu(&form);
  b->SetMarkDropDown(true);
  EXPECT_TRUE(Ink(b).isEmpty());
  b->SetDropDownMenu(&menu);
  EXPECT_GT(Ink(b).left(), b->Width() - 12);
  b->SetDropDownMenu(nullptr);

  // A flat button's glyph turns grey with GrayedInactive.
  b->Glyph().SetSize(12, 12);
  b->Glyph().Canvas().Brush().SetColor(cl::clBlue);
  b->Glyph().Canvas().FillRect(cl::Rect(0, 0, 12, 12));
  b->SetFlat(true);
  EXPECT_EQ(Shot(b).pixelColor(25, 20), QColor(Qt::blue));
  b->SetGrayedInactive(true);
  const QColor grey = Shot(b).pixelColor(25, 20);
  EXPECT_TRUE(grey.red() == grey.green() && grey.green() == grey.blue());
  form.Hide();
}

TEST_F(ButtonFixture, AltWithTheAcceleratorClicksAnEnabledButton) {
  auto* edit = new cl::TEdit(&form);
  edit->SetParent(&form);
  for (const char* caption : {"&Ouvrir", "&Fermer", "R&&D"}) Make(0)->SetCaption(caption);
  static_cast<TOxSpeedButton*>(form.Controls(2))->SetEnabled(false);
  form.Show();
  QApplication::setActiveWindow(mirvel_test::Widget(&form));
  edit->SetFocus();
  for (auto key : {Qt::Key_O, Qt::Key_F, Qt::Key_D}) {
    QTest::keyClick(mirvel_test::Widget(edit), key, Qt::AltModifier);
  }
  QTest::keyClick(mirvel_test::Widget(edit), Qt::Key_O);  // typed, not an accelerator
  EXPECT_EQ(clicks, std::vector<TOxSpeedButton*>{static_cast<TOxSpeedButton*>(form.Controls(1))});
  form.Hide();
}

}  // namespace
}  // namespace comp
