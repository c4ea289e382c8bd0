#include "classlib/forms/Graphics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Streams.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

TEST(GraphicsTest, ColoursAreBgrAndSystemColoursComeFromTheTable) {
  // clang-format off
  const struct { TColor color; int r, g, b; } cases[] = {
    {32768, 0, 128, 0}, {8421504, 128, 128, 128}, {12639424, 192, 220, 192},
    {clRed, 255, 0, 0}, {clBtnFace, 192, 192, 192}, {clWindow, 255, 255, 255},
    {clInfoBk, 255, 255, 225}, {clHighlight, 0, 0, 128},
  };
  // clang-format on
  TBitmap bitmap;
  bitmap.SetSize(1, 1);
  for (const auto& c : cases) {
    const int32_t rgb = ColorToRGB(c.color);
    EXPECT_EQ(std::vector<int>({GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)}),
              std::vector<int>({c.r, c.g, c.b}))
        << c.color;
    bitmap.Canvas().Brush().SetColor(c.color);
    bitmap.Canvas().FillRect(Rect(0, 0, 1, 1));
    EXPECT_EQ(bitmap.Canvas().Pixels(0, 0), rgb) << "painted " << c.color;
  }
}

TEST(GraphicsTest, MaskRasterOperationKeepsWhiteAndPaintsBlack) {
  TBitmap mask;
  mask.SetSize(2, 2);
  mask.Canvas().SetPixel(1, 0, clBlack);
  mask.Canvas().SetPixel(0, 1, clBlack);
  mask.SetMonochrome(true);
  TBitmap target;
  target.SetSize(3, 3);
  target.Canvas().Brush().SetColor(clBlue);
  target.Canvas().FillRect(Rect(0, 0, 3, 3));
  target.Canvas().Brush().SetColor(clRed);
  target.Canvas().BitBlt(1, 1, 2, 2, mask, 0, 0, ROP_DSPDxax);
  // clang-format off
  const TColor expected[3][3] = {
    {clBlue, clBlue, clBlue},
    {clBlue, clBlue, clRed},
    {clBlue, clRed,  clBlue},
  };
  // clang-format on
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(target.Canvas().Pixels(x, y), expected[y][x]) << x << "," << y;
    }
  }
  // The mask of a colour bitmap by its background colour.
  TBitmap colours;
  colours.SetSize(2, 1);
  colours.Canvas().SetPixel(0, 0, clGreen);
  colours.Canvas().SetPixel(1, 0, clSilver);
  TBitmap made;
  colours.MakeMask(clSilver, made);
  EXPECT_EQ(made.Canvas().Pixels(0, 0), clBlack);
  EXPECT_EQ(made.Canvas().Pixels(1, 0), clWhite);
  EXPECT_EQ(colours.TransparentColor(), clGreen) << "bottom-left pixel";
}

// A 32 x 32 icon of 16 colours: directory, header, palette, 4-bit image, 1-bit mask = 766 bytes.
std::vector<uint8_t> SixteenColourIcon() {
  std::vector<uint8_t> b(766, 0);
  PutU16LE(&b[2], 1);   // type: icon
  PutU16LE(&b[4], 1);   // one image
  b[6] = 32;            // width
  b[7] = 32;            // height
  b[8] = 16;            // colours
  PutU16LE(&b[10], 1);  // planes
  PutU16LE(&b[12], 4);  // bits per pixel
  PutU32LE(&b[14], 744);
  PutU32LE(&b[18], 22);
  uint8_t* h = &b[22];
  PutU32LE(h, 40);
  PutU32LE(h + 4, 32);
  PutU32LE(h + 8, 64);  // image and mask
  PutU16LE(h + 12, 1);
  PutU16LE(h + 14, 4);
  PutU32LE(h + 20, 512 + 128);
  uint8_t* palette = &b[62];
  PutU32LE(palette + 4 * 1, 0x000000FF);  // index 1: blue (B, G, R, 0)
  PutU32LE(palette + 4 * 2, 0x0000FF00);  // index 2: green
  uint8_t* pixels = &b[126];              // bottom row first, 16 bytes a row
  for (int row = 0; row < 32; ++row) {
    std::memset(pixels + row * 16, row < 16 ? 0x11 : 0x22, 16);
  }
  return b;  // the mask stays 0: everything opaque
}

TEST(GraphicsTest, AnIconDecodesAndKeepsItsBytesVerbatim) {
  const std::vector<uint8_t> bytes = SixteenColourIcon();
  ASSERT_EQ(bytes.size(), 766u);
  TIcon icon;
  TMemoryStream in;
  in.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  in.SetPosition(0);
  icon.LoadFromStream(in);
  ASSERT_FALSE(icon.Empty());
  EXPECT_EQ(icon.Width(), 32);
  EXPECT_EQ(icon.Height(), 32);
  TBitmap canvas;
  canvas.SetSize(32, 32);
  canvas.Canvas().Draw(0, 0, icon);
  EXPECT_EQ(canvas.Canvas().Pixels(0, 0), clLime) << "top rows are the later ones";
  EXPECT_EQ(canvas.Canvas().Pixels(31, 31), clBlue);
  TMemoryStream out;
  icon.SaveToStream(out);
  ASSERT_EQ(out.Size(), 766);
  std::vector<uint8_t> saved(766);
  out.SetPosition(0);
  out.ReadBuffer(saved.data(), 766);
  EXPECT_EQ(saved, bytes);

  TIcon broken;
  broken.LoadFromBytes({0, 0, 1, 0, 9});
  EXPECT_TRUE(broken.Empty());
  EXPECT_EQ(broken.Bytes().size(), 5u);
}

TEST(GraphicsTest, DrawTextMeasuresWrappedLinesAgainstTheFont) {
  TBitmap bitmap;
  bitmap.SetSize(10, 10);
  TCanvas& canvas = bitmap.Canvas();
  canvas.Font().SetName("DejaVu Sans");
  canvas.Font().SetSize(10);
  const std::string word = "Message";
  const int word_width = canvas.TextWidth(word);
  const int line = canvas.TextHeight(word);
  const int space = canvas.TextWidth(word + " " + word) - 2 * word_width;
  ASSERT_GT(word_width, 0);
  // Room for two words a line: three words take two lines.
  TRect rect = Rect(5, 7, 5 + 2 * word_width + space + 1, 7);
  const int height =
      canvas.DrawText(word + " " + word + " " + word, rect, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_EQ(height, 2 * line);
  EXPECT_EQ(rect.Top, 7);
  EXPECT_EQ(rect.Bottom, 7 + 2 * line);
  EXPECT_LE(rect.Width(), 2 * word_width + space + 1);
  // Single line: the width is the text's.
  TRect single = Rect(0, 0, 1, 0);
  canvas.DrawText("&Fichier", single, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(single.Width(), canvas.TextWidth("Fichier"));
  EXPECT_EQ(single.Height(), line);
  const TTextMetric metric = canvas.TextMetrics();
  EXPECT_EQ(metric.tmHeight, line);
  EXPECT_EQ(metric.tmAscent + metric.tmDescent, metric.tmHeight);
  EXPECT_GT(metric.tmAveCharWidth, 0);
}

TEST(GraphicsTest, ImageListSplitsStripsDrawsThroughMasksAndEmbossesDisabledEntries) {
  // A strip of two 4 x 4 images on a fuchsia background: a green square and a blue one.
  TBitmap strip;
  strip.SetSize(8, 4);
  strip.Canvas().Brush().SetColor(clFuchsia);
  strip.Canvas().FillRect(Rect(0, 0, 8, 4));
  strip.Canvas().Brush().SetColor(clGreen);
  strip.Canvas().FillRect(Rect(1, 1, 3, 3));
  strip.Canvas().Brush().SetColor(clBlue);
  strip.Canvas().FillRect(Rect(5, 1, 7, 3));
  TCustomImageList list(nullptr);
  list.SetSize(4, 4);
  EXPECT_EQ(list.AddMasked(strip, clFuchsia), 0);
  EXPECT_EQ(list.Count(), 2);

  TBitmap target;
  target.SetSize(4, 4);
  target.Canvas().Brush().SetColor(clWhite);
  target.Canvas().FillRect(Rect(0, 0, 4, 4));
  list.Draw(target.Canvas(), 0, 0, 1);
  EXPECT_EQ(target.Canvas().Pixels(1, 1), clBlue);
  EXPECT_EQ(target.Canvas().Pixels(0, 0), clWhite) << "the masked background lets through";

  target.Canvas().FillRect(Rect(0, 0, 4, 4));
  list.Draw(target.Canvas(), 0, 0, 0, false);
  EXPECT_EQ(target.Canvas().Pixels(1, 1), ColorToRGB(clBtnShadow)) << "shadow over the shape";
  EXPECT_EQ(target.Canvas().Pixels(3, 3), ColorToRGB(clBtnHighlight)) << "highlight one pixel on";
  EXPECT_EQ(target.Canvas().Pixels(0, 0), clWhite);

  list.Delete(0);
  EXPECT_EQ(list.Count(), 1);
  TBitmap copy;
  list.GetBitmap(0, copy);
  EXPECT_EQ(copy.Canvas().Pixels(1, 1), clBlue);
}

}  // namespace
}  // namespace cl
