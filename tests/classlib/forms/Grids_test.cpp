#include "classlib/forms/Grids.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "classlib/forms/Forms.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

using mirvel_test::Widget;

class TTestGrid : public TCustomGrid {
 public:
  using TCustomGrid::TCustomGrid;
  std::set<std::pair<int, int>> fixed, selected, focused;

 protected:
  void DrawCell(int col, int row, TRect rect, TGridDrawState state) override {
    if (state.Contains(gdFixed)) fixed.insert({col, row});
    if (state.Contains(gdSelected)) selected.insert({col, row});
    if (state.Contains(gdFocused)) focused.insert({col, row});
    TCustomGrid::DrawCell(col, row, rect, state);
  }
};

TEST(GridsTest, CellRectsAndMouseToCellAgreeOnEveryPixel) {
  TTestGrid grid(nullptr);
  grid.SetBounds(0, 0, 218, 113);
  grid.SetColCount(7);
  grid.SetRowCount(7);
  grid.SetFixedCols(0);
  grid.SetDefaultColWidth(30);
  grid.SetDefaultRowHeight(15);
  grid.SetColWidths(2, 12);
  grid.SetGridLineWidth(1);
  EXPECT_EQ(grid.CellRect(0, 0), Rect(0, 0, 30, 15));
  EXPECT_EQ(grid.CellRect(3, 1), Rect(30 + 1 + 30 + 1 + 12 + 1, 16, 105, 31));
  EXPECT_EQ(grid.CellRect(7, 0), TRect()) << "no such column";
  // Brute force: each pixel is in the rectangle of the cell MouseToCell names, or on a line.
  for (int y = 0; y < grid.Height(); ++y) {
    for (int x = 0; x < grid.Width(); ++x) {
      int col = 0;
      int row = 0;
      grid.MouseToCell(x, y, col, row);
      if (col < 0) continue;
      const TRect r = grid.CellRect(col, row);
      ASSERT_TRUE(x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) << x << "," << y;
    }
  }
  int col = 0;
  int row = 0;
  grid.MouseToCell(30, 5, col, row);  // the line after column 0
  EXPECT_EQ(col, -1);
}

TEST(GridsTest, KeysMoveTheCurrentCellUnlessSelectCellRefuses) {
  TForm form(nullptr);
  auto* grid = new TTestGrid(&form);
  grid->SetParent(&form);
  grid->SetBounds(0, 0, 300, 100);
  grid->SetColCount(4);
  grid->SetRowCount(20);
  grid->SetDefaultRowHeight(20);
  grid->SetOnSelectCell([](TObject*, int col, int row, bool& ok) { ok = !(col == 2 && row == 1); });
  form.Show();
  grid->SetFocus();
  EXPECT_EQ(std::make_pair(grid->Col(), grid->Row()), std::make_pair(1, 1));
  QTest::keyClick(Widget(grid), Qt::Key_Right);  // refused
  EXPECT_EQ(grid->Col(), 1);
  QTest::keyClick(Widget(grid), Qt::Key_Left);  // fixed column: stays
  EXPECT_EQ(grid->Col(), 1);
  QTest::keyClick(Widget(grid), Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(grid->Row(), 19);
  EXPECT_GT(grid->TopRow(), 1) << "the current row is kept in view";
  EXPECT_GT(grid->CellRect(1, 19).Height(), 0);
  QTest::keyClick(Widget(grid), Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(grid->Row(), 1);
  EXPECT_EQ(grid->TopRow(), 1);

  grid->SetOptions(grid->Options() + TGridOptions{goRowSelect});
  Widget(grid)->grab();
  EXPECT_EQ(grid->fixed.count({0, 0}), 1u);
  EXPECT_EQ(grid->selected, (std::set<std::pair<int, int>>{{1, 1}, {2, 1}, {3, 1}}));
}

TEST(GridsTest, ScrollBarsAndTheWheelMoveTheTopRow) {
  TForm form(nullptr);
  auto* grid = new TTestGrid(&form);
  grid->SetParent(&form);
  grid->SetBounds(0, 0, 200, 100);
  grid->SetColCount(2);
  grid->SetRowCount(3);
  grid->SetDefaultRowHeight(20);
  form.Show();
  EXPECT_EQ(grid->ClientRect().Width(), 200) << "everything fits: no bar";
  grid->SetRowCount(30);
  EXPECT_LT(grid->ClientRect().Width(), 200) << "the vertical bar takes its room";
  QScrollBar* bar = nullptr;
  for (QObject* child : Widget(grid)->children()) {
    if (auto* b = qobject_cast<QScrollBar*>(child);
        b != nullptr && b->orientation() == Qt::Vertical) {
      bar = b;
    }
  }
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isVisibleTo(Widget(grid)));
  bar->setValue(10);  // as a drag of the bar does
  EXPECT_EQ(grid->TopRow(), 10);
  EXPECT_EQ(grid->CellRect(0, 10).Top, 21) << "right under the fixed row";
  QWheelEvent wheel(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(Widget(grid), &wheel);
  EXPECT_EQ(grid->TopRow(), 13);
  EXPECT_EQ(bar->value(), 13);
  grid->SetScrollBars(ssNone);
  EXPECT_FALSE(bar->isVisibleTo(Widget(grid)));

  // Column sizing: a drag on column 0's right line in the fixed row.
  grid->SetOptions(grid->Options() + TGridOptions{goColSizing});
  QTest::mousePress(Widget(grid), Qt::LeftButton, Qt::NoModifier, QPoint(64, 5));
  QMouseEvent move(QEvent::MouseMove, QPointF(90, 5), QPointF(90, 5), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(Widget(grid), &move);
  QTest::mouseRelease(Widget(grid), Qt::LeftButton, Qt::NoModifier, QPoint(90, 5));
  EXPECT_EQ(grid->ColWidths(0), 90);
  EXPECT_EQ(grid->Row(), 1) << "sizing is no click on a cell";
}

}  // namespace
}  // namespace cl
