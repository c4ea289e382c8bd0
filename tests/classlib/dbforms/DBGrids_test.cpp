#include "classlib/dbforms/DBGrids.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "FakeDataSet.h"
#include "classlib/dbforms/DBCtrls.h"
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
  auto* bar = Widget(grid)->findChild<QScrollBar*>("records");
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->maximum(), 999) << "the record number of a sequenced dataset";
  EXPECT_EQ(bar->value(), 999);
  QTest::keyClick(Widget(grid), Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(dataset->RecNo(), 1);
  EXPECT_EQ(bar->value(), 0);
  QWheelEvent wheel(QPointF(20, 40), QPointF(20, 40), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(Widget(grid), &wheel);
  EXPECT_EQ(dataset->RecNo(), 4) << "a notch down moves three records";
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(dataset->RecNo(), 4 + rows);
  QTest::keyClick(Widget(grid), Qt::Key_Home, Qt::ControlModifier);

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

// A two-table editor (clients and their callers: grids, navigator, edits, memo), grabbed to
// PNG in the build folder for a person to look at.
TEST(DBGridsTest, TwoTableEditorScreenshot) {
  TComponent owner(nullptr);
  auto* clients = new TFakeDataSet(&owner);
  clients->AddFieldDef("NoSociete", ftInteger);
  clients->AddFieldDef("Societe", ftString, 40);
  auto* callers = new TFakeDataSet(&owner);
  test::AddStandardDefs(callers);
  clients->Open();
  callers->Open();
  for (int i = 1; i <= 6; ++i) {
    clients->AppendRecord({Variant(i), Variant("Soci\xE9t\xE9 " + std::to_string(i))});
    callers->AppendRecord({Variant(i), Variant("Nom " + std::to_string(i)),
                           Variant(TDateTime(45000.0 + i)), Variant("Rappeler\r\navant midi")});
  }
  clients->First();
  callers->First();
  auto* client_source = new TDataSource(&owner);
  client_source->SetDataSet(clients);
  auto* caller_source = new TDataSource(&owner);
  caller_source->SetDataSet(callers);

  TForm form(nullptr);
  form.SetCaption("Clients");
  form.SetBounds(0, 0, 640, 420);
  auto* nav = new TDBNavigator(&form);
  nav->SetParent(&form);
  nav->SetBounds(8, 8, 240, 25);
  nav->SetDataSource(client_source);
  auto* client_grid = new TDBGrid(&form);
  client_grid->SetParent(&form);
  client_grid->SetBounds(8, 40, 300, 160);
  client_grid->SetDataSource(client_source);
  auto* caller_grid = new TDBGrid(&form);
  caller_grid->SetParent(&form);
  caller_grid->SetBounds(320, 40, 310, 160);
  caller_grid->SetDataSource(caller_source);
  caller_grid->SetOptions(TDBGridOptions{dgTitles, dgIndicator, dgColLines, dgRowLines, dgRowSelect,
                                         dgAlwaysShowSelection});
  auto* name = new TDBEdit(&form);
  name->SetParent(&form);
  name->SetBounds(8, 210, 200, 21);
  name->SetDataSource(client_source);
  name->SetDataField("Societe");
  auto* memo = new TDBMemo(&form);
  memo->SetParent(&form);
  memo->SetBounds(8, 240, 620, 120);
  memo->SetDataSource(caller_source);
  memo->SetDataField("Message");
  form.Show();
  const QString path = QString(MIRVEL_TEST_OUTPUT_DIR) + "/two_table_editor.png";
  ASSERT_TRUE(Widget(&form)->grab().save(path));
  EXPECT_EQ(name->Text(), "Soci\xE9t\xE9 1");
  EXPECT_EQ(memo->Lines().Count(), 2);
}

}  // namespace
}  // namespace cl
