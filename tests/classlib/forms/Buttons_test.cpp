#include "classlib/forms/Buttons.h"

#include <gtest/gtest.h>

#include "classlib/forms/Forms.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

TEST(ButtonsTest, GlyphAndCaptionPlacementTable) {
  const TRect client = Rect(0, 0, 100, 30);
  const TPoint glyph{16, 16};
  const TPoint text{40, 14};
  // clang-format off
  const struct { TButtonLayout layout; int margin, spacing; TPoint glyph, text; } cases[] = {
    {blGlyphLeft,   -1,  4, {20, 7}, {40, 8}},   // the pair centred, 4 apart
    {blGlyphLeft,    5,  4, {5, 7},  {25, 8}},
    {blGlyphLeft,   -1, -1, {14, 7}, {44, 8}},   // room shared out in three
    {blGlyphLeft,    5, -1, {5, 7},  {40, 8}},   // the caption centred in what is left
    {blGlyphRight,  -1,  4, {64, 7}, {20, 8}},
    {blGlyphRight,   0,  2, {84, 7}, {42, 8}},
    {blGlyphTop,    -1,  0, {42, 0}, {30, 16}},  // taller than the room: stuck to the top
  };
  // clang-format on
  for (const auto& c : cases) {
    const TButtonPlacement placement =
        CalcButtonLayout(client, glyph, text, c.layout, c.margin, c.spacing);
    EXPECT_EQ(placement.glyph, c.glyph) << c.layout << " " << c.margin << " " << c.spacing;
    EXPECT_EQ(placement.text, c.text) << c.layout << " " << c.margin << " " << c.spacing;
  }
  // Without a caption, no spacing: the glyph alone is centred.
  EXPECT_EQ(CalcButtonLayout(client, glyph, {0, 0}, blGlyphLeft, -1, 4).glyph, (TPoint{42, 7}));
}

TEST(ButtonsTest, AGlyphAboveItsCaptionIsPainted) {
  TForm form(nullptr);
  auto* button = new TBitBtn(&form);
  button->SetParent(&form);
  button->SetBounds(0, 0, 80, 60);
  button->SetCaption("Envoyer");
  button->Glyph().SetSize(12, 12);
  button->Glyph().Canvas().Brush().SetColor(clRed);
  button->Glyph().Canvas().FillRect(Rect(0, 0, 12, 11));  // the last row stays white: transparent
  button->SetLayout(blGlyphTop);
  button->SetMargin(6);
  form.Show();
  const QImage shot = mirvel_test::Widget(button)->grab().toImage();
  // Client starts at (3, 3): the glyph at x = 3 + (74 - 12) / 2 = 34, y = 3 + 6 = 9.
  EXPECT_EQ(shot.pixelColor(34 + 5, 9 + 5), QColor(255, 0, 0));
  EXPECT_NE(shot.pixelColor(34 + 5, 9 + 11), QColor(255, 255, 255)) << "transparent row";
}

}  // namespace
}  // namespace cl
