#include "classlib/forms/ExtCtrls.h"

#include <gtest/gtest.h>

#include "classlib/forms/Forms.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

TEST(ExtCtrlsTest, SplitterSizeTable) {
  // clang-format off
  const struct { int current, delta, min, rest, expected; } cases[] = {
    {100,  20, 60, 200, 120},
    {100, -50, 60, 200,  60},   // not below MinSize
    {100, 300, 60, 200, 240},   // leaves MinSize on the other side
    { 40,  -5, 60, 200,  40},   // already under: a shrinking drag changes nothing
    { 40,  10, 60, 200,  60},
    {100,  10, 60,  50, 100},   // the other side is already under MinSize
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(SplitterSize(c.current, c.delta, c.min, c.rest), c.expected)
        << c.current << " " << c.delta << " " << c.rest;
  }
}

TEST(ExtCtrlsTest, SplitterMovesItsNeighbourAndRelaysOut) {
  TPanel parent(nullptr);
  parent.SetBounds(0, 0, 400, 300);
  auto* tree = new TPanel(&parent);
  tree->SetWidth(150);
  tree->SetAlign(alLeft);
  tree->SetParent(&parent);
  auto* splitter = new TSplitter(&parent);
  splitter->SetMinSize(60);
  splitter->SetParent(&parent);
  auto* hidden = new TPanel(&parent);
  hidden->SetVisible(false);
  hidden->SetAlign(alLeft);
  hidden->SetWidth(500);
  hidden->SetParent(&parent);
  auto* client = new TPanel(&parent);
  client->SetAlign(alClient);
  client->SetParent(&parent);
  int moved = 0;
  splitter->SetOnMoved([&](TObject*) { ++moved; });
  EXPECT_EQ(splitter->Left(), 150);
  EXPECT_EQ(splitter->MoveBy(50), 200);
  EXPECT_EQ(splitter->Left(), 200);
  EXPECT_EQ(client->BoundsRect(), Rect(203, 0, 400, 300));
  EXPECT_EQ(splitter->MoveBy(1000), 400 - 3 - 60) << "the hidden panel takes no room";
  EXPECT_EQ(client->Width(), 60);
  EXPECT_EQ(splitter->MoveBy(-1000), 60);
  EXPECT_EQ(moved, 3);
}

TEST(ExtCtrlsTest, ImageDrawsItsPictureCentred) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 100, 100);
  auto* image = new TImage(&form);
  image->SetParent(&form);
  image->SetBounds(0, 0, 40, 40);
  image->SetCenter(true);
  image->SetColor(clWhite);
  TBitmap& bitmap = image->Picture().Bitmap();
  bitmap.SetSize(10, 10);
  bitmap.Canvas().Brush().SetColor(clRed);
  bitmap.Canvas().FillRect(Rect(0, 0, 10, 10));
  form.Show();
  const QImage shot = mirvel_test::Widget(image)->grab().toImage();
  EXPECT_EQ(shot.pixelColor(20, 20), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(5, 5), QColor(255, 255, 255));
}

}  // namespace
}  // namespace cl
