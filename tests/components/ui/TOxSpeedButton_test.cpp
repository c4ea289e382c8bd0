#include "components/ui/TOxSpeedButton.h"

#include <gtest/gtest.h>

#include "classlib/forms/Forms.h"
#include "classlib/rtl/EventLoop.h"
#include "classlib/rtl/ManualEventLoop.h"

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

}  // namespace
}  // namespace comp
