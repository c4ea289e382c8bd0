#include "components/ui/TPopupCalendar.h"

#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/DateTime.h"

namespace comp {
namespace {

using cl::EncodeDate;

TEST(PopupPositionTest, AgainstTheScreenEdges) {
  // Screen 1000 x 800, edit 100 x 21, popup 187 x 124.
  const struct {
    cl::TPoint edit;
    TPopupAlign align;
    cl::TPoint expected;
  } cases[] = {
      {{300, 200}, epaRight, {213, 221}},  // below, right edges aligned
      {{50, 200}, epaRight, {50, 221}},    // aligned would be negative: from P.x
      {{300, 200}, epaLeft, {300, 221}},
      {{880, 700}, epaLeft, {793, 576}},   // bottom right: above and pulled left
      {{950, 700}, epaLeft, {813, 576}},   // still clamped inside the screen
      {{300, 680}, epaRight, {213, 556}},  // 680 + 21 + 124 > 800: above
      {{300, 655}, epaRight, {213, 676}},  // exactly fits below
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PopupPosition(c.edit, 100, 21, 187, 124, c.align, 1000, 800), c.expected)
        << c.edit.X << "," << c.edit.Y;
  }
}

// The dialog a modal action runs inside.
TSelectDateDlg* RunningDialog() {
  for (int i = 0; i < cl::Screen().FormCount(); ++i) {
    if (auto* dialog = dynamic_cast<TSelectDateDlg*>(cl::Screen().Forms(i))) return dialog;
  }
  return nullptr;
}

struct PopupFixture : ::testing::Test {
  PopupFixture() {
    cl::SetClock([] { return EncodeDate(2026, 12, 7) + 0.5; });
  }
  ~PopupFixture() override { cl::SetClock(nullptr); }
};

TEST_F(PopupFixture, DropDownValueKeysAndAcceptance) {
  TPopupCalendar popup(nullptr);
  EXPECT_EQ(popup.Width(), 187 * cl::Screen().PixelsPerInch() / 96);
  EXPECT_FALSE(popup.Visible());
  EXPECT_EQ(cl::Cp1252ToUtf8(popup.Button(0)->Hint()), "Année précédente");
  popup.SetHints({"", "Mois d'avant"});
  EXPECT_EQ(cl::Cp1252ToUtf8(popup.Button(0)->Hint()), "Année précédente");
  EXPECT_EQ(popup.Button(1)->Hint(), "Mois d'avant");

  popup.SetValue(cl::Variant());
  EXPECT_EQ(popup.GetValue().AsDateTime(), EncodeDate(2026, 12, 7)) << "empty: today";
  popup.SetValue(cl::Variant(std::string(" / / ")));
  EXPECT_EQ(popup.GetValue().AsDateTime(), EncodeDate(2026, 12, 7)) << "blank text: today";
  popup.SetValue(cl::Variant(EncodeDate(2027, 1, 31)));
  EXPECT_EQ(popup.TitleLabel()->Caption(), CalendarTitle(EncodeDate(2027, 1, 31)));

  uint16_t key = cl::VK_NEXT;
  popup.ForwardKey(key, {});
  EXPECT_EQ(popup.GetValue().AsDateTime(), EncodeDate(2027, 2, 28));
  key = cl::VK_PRIOR;
  popup.ForwardKey(key, {cl::ssCtrl});
  EXPECT_EQ(popup.GetValue().AsDateTime(), EncodeDate(2026, 2, 28));
  key = cl::VK_RIGHT;
  popup.ForwardKey(key, {});
  EXPECT_EQ(popup.GetValue().AsDateTime(), EncodeDate(2026, 3, 1));
  EXPECT_EQ(popup.TitleLabel()->Caption(), CalendarTitle(EncodeDate(2026, 3, 1)));
  popup.Button(3)->Click();
  EXPECT_EQ(popup.GetValue().AsDateTime(), EncodeDate(2027, 3, 1));

  // A left release over a day accepts; over the day names it does not.
  std::vector<bool> closes;
  popup.on_close_up = [&](cl::TObject*, bool accept) { closes.push_back(accept); };
  popup.Show({10, 10});
  EXPECT_TRUE(popup.Visible());
  TLocCalendar* grid = popup.Calendar();
  const cl::TRect day = grid->CellRect(3, 2);
  const cl::TRect names = grid->CellRect(3, 0);
  grid->Perform(cl::WM_LBUTTONUP, 0, ((names.Top + 2) << 16) | (names.Left + 2));
  EXPECT_TRUE(closes.empty());
  grid->Perform(cl::WM_LBUTTONUP, 0, ((day.Top + 2) << 16) | (day.Left + 2));
  EXPECT_EQ(closes, std::vector<bool>{true});
}

TEST_F(PopupFixture, SelectDateDialog) {
  cl::TDateTime date = 0;
  cl::AddModalAction([] {
    auto* dialog = RunningDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->Caption(), "Select a Date");
    EXPECT_EQ(dialog->Calendar->CalendarDate(), EncodeDate(2026, 12, 7)) << "null date: today";
    EXPECT_EQ(dialog->Buttons[2]->Hint(), "Prochain");
    dialog->Perform(cl::WM_KEYDOWN, cl::VK_TAB, 0);  // next month
    dialog->Perform(cl::WM_KEYDOWN, cl::VK_PRIOR,
                    static_cast<cl::LPARAM>(cl::TShiftState{cl::ssCtrl}.Bits()));
    dialog->Perform(cl::WM_KEYDOWN, cl::VK_RETURN, 0);
  });
  ASSERT_TRUE(SelectDate(date, "", Mon, {Sun}, cl::clRed, {"", "", "Prochain"}));
  EXPECT_EQ(date, EncodeDate(2026, 1, 7));

  cl::AddModalAction([] {
    auto* dialog = RunningDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->Caption(), "Date de retour");
    dialog->Calendar->NextMonth();
    dialog->Perform(cl::WM_KEYDOWN, cl::VK_ESCAPE, 0);
  });
  EXPECT_FALSE(SelectDate(date, "Date de retour", Mon, {Sun}, cl::clRed, {}));
  EXPECT_EQ(date, EncodeDate(2026, 1, 7)) << "cancel leaves the date";
}

}  // namespace
}  // namespace comp
