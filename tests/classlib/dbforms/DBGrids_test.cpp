#include "classlib/dbforms/DBGrids.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "FakeDataSet.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

using mirvel_test::Widget;
using test::TFakeDataSet;
using test::TTrace;

int Fetches(const TTrace& trace) {
  int count = 0;
  for (const std::string& e : trace.Entries()) count += e.rfind("v:FetchRecord", 0) == 0 ? 1 : 0;
  return count;
}

TEST(DBGridsTest, AThousandRecordsArePaintedFromTheBufferWindow) {
  mirvel_test::UiRecorder recorder;
  TTrace trace;
  TComponent owner(nullptr);
  auto* dataset = new TFakeDataSet(&owner);
  dataset->AddFieldDef("Numero", ftInteger);
  dataset->AddFieldDef("Nom", ftString, 20);
  dataset->Open();
  for (int i = 1; i <= 1000; ++i)
    dataset->AppendRecord({Variant(i), Variant("n" + std::to_string(i))});
  dataset->Close();
  auto* source = new TDataSource(&owner);
  source->SetDataSet(dataset);

  TForm form(nullptr);
  form.SetBounds(0, 0, 400, 300);
  auto* grid = new TDBGrid(&form);
  grid->SetParent(&form);
  grid->SetBounds(0, 0, 300, 200);
  grid->SetDataSource(source);
  int scrolls = 0;
  dataset->SetAfterScroll([&](TDataSet*) { ++scrolls; });
  std::vector<int> painted;  // Numero of each painted first-column cell
  grid->SetOnDrawColumnCell(
      [&](TObject*, const TRect&, int data_col, TColumn* column, TGridDrawState) {
        if (data_col != 0) return;
        const int numero = column->Field()->AsInteger();
        painted.push_back(numero);
        if (numero % 2 == 0) grid->Canvas().Font().SetStyle(TFontStyles{fsBold});
      });

  dataset->SetTrace(&trace);
  dataset->Open();
  scrolls = 0;  // the open's own
  form.Show();
  QApplication::setActiveWindow(Widget(&form));
  Widget(grid)->grab();
  const int rows = grid->VisibleRows();
  EXPECT_GT(rows, 3);
  EXPECT_LE(Fetches(trace), rows + 2) << "open and paint fetch only the visible rows";
  EXPECT_EQ(scrolls, 0) << "painting moves no cursor";
  std::vector<int> expected;
  for (int i = 1; i <= rows; ++i) expected.push_back(i);
  EXPECT_EQ(painted, expected);
  ASSERT_EQ(grid->ColumnCount(), 2) << "default columns from the fields";
  EXPECT_EQ(grid->Column(1)->TitleCaption(), "Nom");

  // PgDn moves by the visible rows and keeps the current row in view.
  grid->SetFocus();
  QTest::keyClick(Widget(grid), Qt::Key_PageDown);
  EXPECT_EQ(dataset->RecNo(), 1 + rows);
  EXPECT_GE(grid->DataLink().ActiveRecord(), 0);
  EXPECT_LT(grid->DataLink().ActiveRecord(), rows);
  EXPECT_EQ(grid->Row(), grid->RowOffset() + grid->DataLink().ActiveRecord());
  painted.clear();
  Widget(grid)->grab();
  EXPECT_EQ(std::set<int>(painted.begin(), painted.end()).count(1 + rows), 1u);
  QTest::keyClick(Widget(grid), Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(dataset->RecNo(), 1000);
  QTest::keyClick(Widget(grid), Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(dataset->RecNo(), 1);

  // Ctrl+Del asks: Cancel keeps the record, OK deletes it.
  recorder.answers = {mrCancel, mrOk};
  QTest::keyClick(Widget(grid), Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(dataset->RecordCount(), 1000);
  ASSERT_EQ(recorder.boxes.size(), 1u);
  EXPECT_EQ(recorder.boxes[0].text, "Supprimer l'enregistrement ?");
  QTest::keyClick(Widget(grid), Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(dataset->RecordCount(), 999);

  // MouseCoord and CellRect agree; a click on a row moves there.
  for (int row = 0; row <= rows; ++row) {
    for (int col = 0; col <= 2; ++col) {
      const TRect r = grid->CellRect(col, row);
      const TGridCoord c = grid->MouseCoord((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
      EXPECT_EQ(c.X, col);
      EXPECT_EQ(c.Y, row);
    }
  }
  const TRect third = grid->CellRect(1, grid->RowOffset() + 2);
  QTest::mouseClick(Widget(grid), Qt::LeftButton, Qt::NoModifier,
                    QPoint(third.Left + 3, third.Top + 3));
  EXPECT_EQ(dataset->FieldByName("Numero")->AsInteger(), 4);
  EXPECT_EQ(grid->SelectedField()->FieldName(), "Numero");
}

TEST(DBGridsTest, LeavingCancelsOnlyAnUntouchedInsert) {
  TComponent owner(nullptr);
  auto* dataset = new TFakeDataSet(&owner);
  test::AddStandardDefs(dataset);
  auto* source = new TDataSource(&owner);
  source->SetDataSet(dataset);
  dataset->Open();
  TForm form(nullptr);
  auto* grid = new TDBGrid(&form);
  grid->SetParent(&form);
  grid->SetDataSource(source);
  auto* other = new TButton(&form);
  other->SetParent(&form);
  other->SetTop(200);
  form.Show();
  QApplication::setActiveWindow(Widget(&form));

  grid->SetFocus();
  dataset->Insert();
  other->SetFocus();
  EXPECT_EQ(dataset->State(), dsBrowse) << "untouched: cancelled";
  grid->SetFocus();
  dataset->Insert();
  dataset->FieldByName("Nom")->SetAsString("tap\xE9");
  other->SetFocus();
  EXPECT_EQ(dataset->State(), dsInsert) << "typed data stays";
}

}  // namespace
}  // namespace cl
