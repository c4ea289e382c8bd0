#include "components/ui/WindowRoutines.h"

#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Screen.h"
#include "classlib/rtl/Units.h"

namespace comp {
namespace {

using cl::TRect;

TEST(WindowRoutinesTest, FitRectToScreenShiftsBackThenToZero) {
  const int w = cl::GetSystemMetrics(cl::SM_CXSCREEN);
  const int h = cl::GetSystemMetrics(cl::SM_CYSCREEN);
  const struct {
    TRect in, out;
  } cases[] = {
      {cl::Bounds(10, 20, 100, 50), cl::Bounds(10, 20, 100, 50)},
      {cl::Bounds(w - 50, h - 10, 100, 50), cl::Bounds(w - 100, h - 50, 100, 50)},
      {cl::Bounds(-30, -5, 100, 50), cl::Bounds(0, 0, 100, 50)},
      // Wider than the screen: the right edge first, then the left one wins.
      {cl::Bounds(10, 0, w + 40, 50), cl::Bounds(0, 0, w + 40, 50)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FitRectToScreen(c.in), c.out) << c.in.Left << "," << c.in.Top;
    EXPECT_EQ(RectWidth(c.out), c.in.Width());
    EXPECT_EQ(RectHeight(c.out), c.in.Height());
  }
}

TEST(WindowRoutinesTest, CenterWindowRoundsTowardZero) {
  cl::TForm form(nullptr);
  form.SetBounds(0, 0, 301, 201);
  CenterWindow(&form);
  EXPECT_EQ(form.Left(), (cl::GetSystemMetrics(cl::SM_CXSCREEN) - 301) / 2);
  EXPECT_EQ(form.Top(), (cl::GetSystemMetrics(cl::SM_CYSCREEN) - 201) / 2);
  EXPECT_EQ(form.Width(), 301);
}

TEST(WindowRoutinesTest, CheckerAndDisabledBitmapsPixelExact) {
  cl::TBitmap checker;
  CreateCheckerBrushBitmap(cl::clRed, cl::clBlue, checker);
  ASSERT_EQ(checker.Width(), 8);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(checker.Canvas().Pixels(x, y), (x % 2 == y % 2) ? cl::clBlue : cl::clRed);
    }
  }

  // A 4 x 3 bitmap with one black pixel at (1, 1) on a white outline colour.
  cl::TBitmap source;
  source.SetSize(4, 3);
  source.Canvas().SetPixel(1, 1, cl::clBlack);
  cl::TBitmap disabled;
  CreateDisabledBitmap(source, cl::clWhite, disabled);
  const int32_t face = cl::ColorToRGB(cl::clBtnFace);
  const int32_t shadow = cl::ColorToRGB(cl::clBtnShadow);
  const int32_t light = cl::ColorToRGB(cl::clBtnHighlight);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      int32_t expected = face;
      if (x == 1 && y == 1) expected = shadow;
      if (x == 2 && y == 2) expected = light;
      EXPECT_EQ(cl::ColorToRGB(disabled.Canvas().Pixels(x, y)), expected) << x << "," << y;
    }
  }
}

TEST(WindowRoutinesTest, ShortenTextAgainstMeasuredWidths) {
  cl::TBitmap surface;
  surface.SetSize(10, 10);
  cl::TCanvas& canvas = surface.Canvas();
  const std::string text = "Gestion des appels";
  const int full = canvas.TextWidth(text);
  EXPECT_EQ(ShortenText(text, canvas, full), text);
  for (int limit : {full - 1, full / 2, canvas.TextWidth("G..."), 1}) {
    const std::string s = ShortenText(text, canvas, limit);
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s.substr(s.size() - 3), "...");
    const std::string kept = s.substr(0, s.size() - 3);
    EXPECT_EQ(text.compare(0, kept.size(), kept), 0);
    if (s != "...") {
      EXPECT_LE(canvas.TextWidth(s), limit);
      EXPECT_LE(kept.size(), text.size() - 2) << "at least two characters go";
      // The longest candidate that fits: one more character would not.
      if (kept.size() + 2 < text.size()) {
        EXPECT_GT(canvas.TextWidth(text.substr(0, kept.size() + 1) + "..."), limit);
      }
    }
  }
  EXPECT_EQ(ShortenText(text, canvas, 1), "...");
}

TEST(WindowRoutinesTest, DefaultBeepAndCursors) {
  const int before = cl::MessageBeepCount();
  DefaultBeep();
  EXPECT_EQ(cl::MessageBeepCount(), before + 1);
  // Nothing in this program registers the cursors but their unit.
  EXPECT_FALSE(cl::CursorRegistered(crHand));
  cl::ClearUnits();
  RegisterComponentCursorsUnit();
  cl::InitializeUnits();
  EXPECT_TRUE(cl::CursorRegistered(crHand));
  EXPECT_TRUE(cl::CursorRegistered(crDragHand));
  cl::FinalizeUnits();
  cl::ClearUnits();
  RegisterComponentCursors();  // once only, harmless again
  cl::TForm form(nullptr);
  form.SetCursor(crHand);
  EXPECT_EQ(form.Cursor(), crHand);
}

}  // namespace
}  // namespace comp
