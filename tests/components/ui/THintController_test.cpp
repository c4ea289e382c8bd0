#include "components/ui/THintController.h"

#include <gtest/gtest.h>

#include "classlib/db/TFields.h"
#include "classlib/forms/Forms.h"
#include "classlib/rtl/EventLoop.h"
#include "classlib/rtl/ManualEventLoop.h"
#include "classlib/rtl/Units.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {
namespace {

cl::LPARAM At(int x, int y) { return (static_cast<cl::LPARAM>(y & 0xFFFF) << 16) | (x & 0xFFFF); }

struct HintFixture : ::testing::Test {
  HintFixture() {
    real_loop = cl::CurrentEventLoop();
    cl::SetEventLoop(&manual);
    cl::ClearUnits();
    RegisterHintControllerUnit();
    cl::InitializeUnits();
    hc = HintController();
    hc->SetCursorSource([this] { return cursor; });
    ds = new TVirtualDataSet(&owner);
    for (const char* name : {"Court", "Long"}) {
      auto* field = new cl::TStringField(&owner);
      field->SetFieldName(name);
      field->SetSize(80);
      field->SetDataSet(ds);
    }
    ds->Open();
    for (const char* text : {"A", "B", "C"}) {
      ds->AppendRecord({cl::Variant(std::string(text)), cl::Variant(std::string(kLong))});
    }
    ds->First();
    source = new cl::TDataSource(&owner);
    source->SetDataSet(ds);
    form->SetBounds(0, 0, 600, 400);
    form->Show();
  }
  ~HintFixture() override {
    delete form;
    cl::FinalizeUnits();
    cl::ClearUnits();
    cl::SetEventLoop(real_loop);
  }
  // Rests the mouse at a client point of `control` for two pauses.
  void Rest(cl::TControl* control, int x, int y) {
    cursor = control->ClientToScreen({x, y});
    control->Perform(cl::WM_MOUSEMOVE, 0, At(x, y));
    manual.Advance(2 * THintController::kHintPause);
  }

  static constexpr const char* kLong =
      "Soci\xE9t\xE9 Anonyme des \xC9tablissements Martin-Dupont et Fils";
  cl::TManualEventLoop manual;
  cl::TEventLoop* real_loop;
  cl::TComponent owner{nullptr};
  cl::TForm* form = new cl::TForm(nullptr);
  THintController* hc;
  TVirtualDataSet* ds;
  cl::TDataSource* source;
  cl::TPoint cursor;
};

TEST_F(HintFixture, EditShowsOnlyATruncatedText) {
  auto* edit = new THDBEdit(form);
  edit->SetParent(form);
  edit->SetDataSource(source);
  edit->SetDataField("Long");
  ASSERT_TRUE(hc->IsRegistered(edit));
  const int text_width = hc->MeasureText(kLong, edit->Font());
  struct Case {
    const char* name;
    int width;
    cl::TFormBorderStyle border;
    bool cancel;
    bool shown;
  };
  // clang-format off
  const Case cases[] = {
      {"fits",                  text_width + 10, cl::bsSingle, false, false},
      {"the frame's 4 pixels",  text_width + 1,  cl::bsSingle, false, true},
      {"no frame: fits",        text_width + 1,  cl::bsNone,   false, false},
      {"no frame: truncated",   text_width - 1,  cl::bsNone,   false, true},
      {"cancelled by handler",  text_width / 2,  cl::bsSingle, true,  false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    edit->SetBounds(10, 10, c.width, 24);
    edit->SetBorderStyle(c.border);
    edit->SetOnShowHint([&](cl::TObject*, bool& show, std::string&) { show = show && !c.cancel; });
    cursor = edit->ClientToScreen({5, 5});
    edit->Perform(cl::WM_MOUSEMOVE, 0, At(5, 5));
    manual.Advance(THintController::kHintPause);
    EXPECT_EQ(hc->State(), THintController::hsWaiting) << "the first tick only counts";
    manual.Advance(THintController::kHintPause);
    EXPECT_EQ(hc->Showing(), c.shown);
    EXPECT_EQ(hc->State(), c.shown ? THintController::hsShowing : THintController::hsIdle);
    if (!c.shown) continue;
    EXPECT_EQ(hc->Caption(), kLong);
    EXPECT_EQ(hc->Width(), text_width + 5);
    EXPECT_EQ(hc->Height(), edit->Height());
    // A leave with the cursor still on the edit (the hint appearing under it) keeps the hint;
    // the cursor gone hides it at the next tick.
    edit->Perform(cl::CM_MOUSELEAVE, 0, 0);
    manual.Advance(THintController::kHintPause);
    EXPECT_TRUE(hc->Showing());
    cursor = edit->ClientToScreen({-5, 5});
    manual.Advance(THintController::kHintPause);
    EXPECT_FALSE(hc->Showing());
    // A click landing on the hint window is a click on the edit, at the same place.
    int down_x = -1;
    edit->SetOnMouseDown(
        [&](cl::TObject*, cl::TMouseButton, cl::TShiftState, int x, int) { down_x = x; });
    Rest(edit, 5, 5);
    const cl::TPoint on_hint = hc->ScreenToClient(edit->ClientToScreen({7, 6}));
    hc->Perform(cl::WM_LBUTTONDOWN, 0, At(on_hint.X, on_hint.Y));
    EXPECT_FALSE(hc->Showing());
    EXPECT_EQ(down_x, 7);
    edit->SetOnMouseDown(nullptr);
    // A key hides it.
    Rest(edit, 5, 5);
    ASSERT_TRUE(hc->Showing());
    edit->Perform(cl::WM_KEYDOWN, cl::VK_SHIFT, 0);
    EXPECT_FALSE(hc->Showing());
    EXPECT_EQ(hc->State(), THintController::hsIdle);
  }

  // Neither a control hidden during the wait nor one with SpHint off shows a hint.
  edit->SetOnShowHint(nullptr);
  edit->Perform(cl::WM_MOUSEMOVE, 0, At(5, 5));
  form->Hide();
  manual.Advance(2 * THintController::kHintPause);
  EXPECT_EQ(hc->State(), THintController::hsIdle);
  edit->SetSpHint(false);
  edit->Perform(cl::WM_MOUSEMOVE, 0, At(5, 5));
  EXPECT_EQ(hc->State(), THintController::hsIdle);
}

TEST_F(HintFixture, LeavingAndDestroyingTheWatchedControl) {
  auto* a = new THDBEdit(form);
  auto* b = new THDBEdit(form);
  EXPECT_EQ(hc->Count(), 2);
  EXPECT_EQ(hc->Procs().Count(), 2);
  cursor = {-1000, -1000};  // off both controls
  a->Perform(cl::WM_MOUSEMOVE, 0, At(1, 1));
  EXPECT_EQ(hc->Watched(), a);
  b->Perform(cl::WM_MOUSEMOVE, 0, At(1, 1));
  EXPECT_EQ(hc->Watched(), b) << "another control restarts the wait on it";
  for (uint32_t msg : {cl::CM_MOUSELEAVE, cl::WM_KILLFOCUS, cl::WM_LBUTTONDOWN}) {
    b->Perform(cl::WM_MOUSEMOVE, 0, At(1, 1));
    a->Perform(msg, 0, 0);
    EXPECT_EQ(hc->Watched(), b) << "a message of another control changes nothing";
    b->Perform(msg, 0, 0);
    EXPECT_EQ(hc->Watched(), nullptr) << msg;
  }
  b->Perform(cl::WM_MOUSEMOVE, 0, At(1, 1));
  const int timers = manual.TimerCount();
  delete b;
  EXPECT_EQ(hc->Watched(), nullptr);
  EXPECT_EQ(manual.TimerCount(), timers - 1) << "the timer stops";
  EXPECT_EQ(hc->Count(), 1);
  EXPECT_EQ(hc->Procs().Count(), 1);
  EXPECT_TRUE(hc->IsRegistered(a));
  manual.Advance(3 * THintController::kHintPause);
  EXPECT_FALSE(hc->Showing());
}

TEST_F(HintFixture, GridHintsDataCellsAndKeepsItWithinTheCell) {
  auto* grid = new THDBGrid(form);
  grid->SetParent(form);
  grid->SetBounds(0, 0, 300, 200);
  grid->SetDataSource(source);
  for (const char* name : {"Court", "Long"}) grid->Columns().Add()->SetFieldName(name);
  grid->Column(0)->SetWidth(60);
  grid->Column(1)->SetWidth(80);
  ASSERT_GT(hc->MeasureText(kLong, grid->Column(1)->Font()), 80 - 2);
  ASSERT_LT(hc->MeasureText("B", grid->Column(0)->Font()), 60 - 2);
  std::vector<std::pair<int, int>> asked;
  grid->SetOnShowHint(
      [&](cl::TObject*, int col, int row, bool&, std::string&) { asked.emplace_back(col, row); });
  auto centre = [&](int col, int row) {
    const cl::TRect r = grid->CellRect(col, row);
    return cl::TPoint{(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
  };
  struct Case {
    const char* name;
    int col, row;
    bool shown;
  };
  const Case cases[] = {{"title row", 2, 0, false},
                        {"indicator", 0, 2, false},
                        {"short value", 1, 2, false},
                        {"long value", 2, 2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const cl::TPoint p = centre(c.col, c.row);
    Rest(grid, p.X, p.Y);
    EXPECT_EQ(hc->Showing(), c.shown);
    if (c.shown) {
      EXPECT_EQ(hc->Width(), hc->MeasureText(kLong, grid->Column(1)->Font()) + 5);
    }
  }
  EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}})) << "data cells only";

  // Within the cell the hint stays; another cell hides it and waits again.
  const cl::TRect r = grid->CellRect(2, 2);
  grid->Perform(cl::WM_MOUSEMOVE, 0, At(r.Left + 2, r.Top + 2));
  EXPECT_TRUE(hc->Showing());
  const cl::TPoint below = centre(2, 3);
  grid->Perform(cl::WM_MOUSEMOVE, 0, At(below.X, below.Y));
  EXPECT_FALSE(hc->Showing());
  EXPECT_EQ(hc->State(), THintController::hsWaiting);
}

TEST_F(HintFixture, AutoSizeLastColumn) {
  auto* grid = new THDBGrid(form);
  grid->SetParent(form);
  grid->SetDataSource(source);
  grid->SetBounds(0, 0, 400, 150);
  for (const char* name : {"Court", "Long"}) grid->Columns().Add()->SetFieldName(name);
  grid->Column(1)->SetWidth(50);
  auto expected = [&] {
    int others = 0;
    for (int c = 0; c < grid->ColCount() - 1; ++c) others += grid->ColWidths(c);
    return grid->ClientRect().Width() - others - grid->ColCount();
  };
  struct Case {
    const char* name;
    int grid_width;
    int first_width;
    bool sized;
  };
  const Case cases[] = {{"wide grid", 400, 60, true},
                        {"resized", 520, 60, true},
                        {"first column changed", 520, 200, true},
                        {"others wider than the grid", 150, 300, false}};
  grid->SetAutoSizeLastColumn(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = grid->Column(1)->Width();
    grid->SetWidth(c.grid_width);
    grid->Column(0)->SetWidth(c.first_width);
    if (c.sized) {
      EXPECT_GT(expected(), 0);
      EXPECT_EQ(grid->Column(1)->Width(), expected());
      EXPECT_EQ(grid->ColWidths(grid->ColCount() - 1), expected());
    } else {
      EXPECT_LE(expected(), 0);
      EXPECT_EQ(grid->Column(1)->Width(), before);
    }
  }
  grid->SetAutoSizeLastColumn(false);
  grid->SetWidth(600);
  EXPECT_NE(grid->Column(1)->Width(), expected()) << "off: the column keeps its width";

  // The default columns are laid out afresh each time: the last one is sized all the same.
  grid->Columns().Clear();
  grid->SetAutoSizeLastColumn(true);
  grid->SetWidth(2000);
  EXPECT_GT(expected(), 0);
  EXPECT_EQ(grid->ColWidths(grid->ColCount() - 1), expected());
}

}  // namespace
}  // namespace comp
