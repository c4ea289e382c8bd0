#include "components/ui/TOxCalendar.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "classlib/forms/Forms.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/FormatSettings.h"

namespace comp {
namespace {

using cl::EncodeDate;

struct CalendarFixture : ::testing::Test {
  CalendarFixture() {
    cl::SetClock([] { return EncodeDate(2026, 12, 7) + 0.25; });
    form.SetBounds(0, 0, 300, 200);
    calendar = new TOxCalendar(&form);
    calendar->SetParent(&form);
    calendar->SetBounds(0, 0, 220, 120);
    calendar->SetOnChange([this](cl::TObject*) { ++changes; });
  }
  ~CalendarFixture() override { cl::SetClock(nullptr); }
  void Key(uint16_t key) { calendar->Perform(cl::WM_KEYDOWN, key, 0); }

  cl::TForm form{nullptr};
  TOxCalendar* calendar;
  int changes = 0;
};

TEST_F(CalendarFixture, MonthLayout) {
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2026, 12, 7)) << "today at creation";
  EXPECT_TRUE(calendar->UseCurrentDate());
  // March 2027 starts on a Monday, February 2027 on a Monday too, June 2026 on a Monday,
  // November 2026 on a Sunday.
  const struct {
    int year, month;
    TDayOfWeekName start;
    int offset, col_of_day1;
  } cases[] = {
      {2027, 3, Mon, 1, 0},    // starts on the first day of the week
      {2026, 11, Mon, -5, 6},  // starts the day before it: column 6 of the first row
      {2026, 11, Sun, 1, 0},  {2026, 12, Mon, 0, 1},  // a Tuesday
      {2026, 12, Sat, -2, 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CalendarMonthOffset(c.year, c.month, c.start), c.offset) << c.year << "-" << c.month;
    calendar->SetStartOfWeek(c.start);
    calendar->SetCalendarDate(EncodeDate(c.year, c.month, 1));
    EXPECT_EQ(calendar->Col(), c.col_of_day1);
    EXPECT_EQ(calendar->Row(), 1);
    EXPECT_EQ(calendar->CellText(c.col_of_day1, 1), "1");
    if (c.col_of_day1 > 0) {
      EXPECT_EQ(calendar->CellText(c.col_of_day1 - 1, 1), "");
    }
  }
  calendar->SetStartOfWeek(Mon);
  calendar->SetCalendarDate(EncodeDate(2026, 12, 31));
  EXPECT_EQ(calendar->Col(), (31 - 0) % 7);
  EXPECT_EQ(calendar->Row(), 31 / 7 + 1);
  EXPECT_EQ(calendar->CellText(0, 0), cl::CurrentFormatSettings().ShortDayNames[1]);
  EXPECT_EQ(calendar->CellText(6, 0), cl::CurrentFormatSettings().ShortDayNames[0]);
  EXPECT_FALSE(calendar->UseCurrentDate());
}

TEST_F(CalendarFixture, SettersAndNavigation) {
  calendar->SetCalendarDate(EncodeDate(2027, 1, 31));
  changes = 0;
  calendar->NextMonth();
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2027, 2, 28));
  calendar->SetCalendarDate(EncodeDate(2028, 1, 31));
  calendar->NextMonth();
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2028, 2, 29));
  calendar->SetCalendarDate(EncodeDate(2000, 2, 29));
  calendar->NextYear();
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2001, 2, 28));
  calendar->SetCalendarDate(EncodeDate(2000, 2, 29));
  calendar->PrevYear();
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(1999, 2, 28));
  calendar->SetCalendarDate(EncodeDate(2027, 1, 15));
  calendar->PrevMonth();
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2026, 12, 15));
  EXPECT_EQ(changes, 9) << "each change fires once";

  // Ignored values change nothing and fire nothing.
  changes = 0;
  calendar->SetDay(0);
  calendar->SetDay(32);
  calendar->SetMonth(13);
  calendar->SetMonth(0);
  calendar->SetYear(0);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2026, 12, 15));
  calendar->SetCalendarDate(EncodeDate(2027, 3, 31));
  calendar->SetMonth(4);
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2027, 4, 30)) << "the day is cut";
  calendar->SetDay(31);
  EXPECT_EQ(calendar->Day(), 30) << "a day beyond the month is ignored";

  calendar->SetUseCurrentDate(true);
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2026, 12, 7));
  calendar->SetDay(8);
  EXPECT_FALSE(calendar->UseCurrentDate());
}

TEST_F(CalendarFixture, KeysAndReadOnly) {
  calendar->SetCalendarDate(EncodeDate(2027, 3, 1));
  Key(cl::VK_LEFT);
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2027, 2, 28));
  Key(cl::VK_RIGHT);
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2027, 3, 1));
  Key(cl::VK_DOWN);
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2027, 3, 8)) << "a week later";
  calendar->Perform(cl::WM_CHAR, 't', 0);
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2026, 12, 7));

  // A click on a day cell picks it; read-only refuses.
  calendar->SetCalendarDate(EncodeDate(2027, 3, 1));
  const cl::TRect cell = calendar->CellRect(2, 2);  // 10 March 2027 (offset 1)
  const cl::LPARAM at = ((cell.Top + 2) << 16) | (cell.Left + 2);
  calendar->SetReadOnly(true);
  calendar->Perform(cl::WM_LBUTTONDOWN, 0, at);
  calendar->Perform(cl::WM_LBUTTONUP, 0, at);
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2027, 3, 1));
  Key(cl::VK_LEFT);
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2027, 3, 1));
  calendar->SetReadOnly(false);
  calendar->Perform(cl::WM_LBUTTONDOWN, 0, at);
  calendar->Perform(cl::WM_LBUTTONUP, 0, at);
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2027, 3, 10));
  // An empty cell cannot be picked.
  const cl::TRect empty = calendar->CellRect(6, 6);
  calendar->Perform(cl::WM_LBUTTONDOWN, 0, ((empty.Top + 2) << 16) | (empty.Left + 2));
  EXPECT_EQ(calendar->CalendarDate(), EncodeDate(2027, 3, 10));
}

// A step whose target leaves the years 1..9999 changes nothing and raises nothing; the last step
// inside the range still works.
TEST_F(CalendarFixture, StepsStopAtTheYearRange) {
  const auto next_month = [](TOxCalendar& c) { c.NextMonth(); };
  const auto prev_month = [](TOxCalendar& c) { c.PrevMonth(); };
  const auto next_year = [](TOxCalendar& c) { c.NextYear(); };
  const auto prev_year = [](TOxCalendar& c) { c.PrevYear(); };
  const auto key = [](uint16_t k) {
    return [k](TOxCalendar& c) { c.Perform(cl::WM_KEYDOWN, k, 0); };
  };
  const cl::TDateTime last = EncodeDate(9999, 12, 31);
  const cl::TDateTime first = EncodeDate(1, 1, 1);
  const struct {
    cl::TDateTime from;
    std::function<void(TOxCalendar&)> step;
    cl::TDateTime to;
  } cases[] = {
      {last, next_month, last},
      {last, next_year, last},
      {last, key(cl::VK_RIGHT), last},
      {last, key(107), last},  // numeric +
      {first, prev_month, first},
      {first, prev_year, first},
      {first, key(cl::VK_LEFT), first},
      {first, key(109), first},  // numeric -
      {EncodeDate(9999, 11, 30), next_month, EncodeDate(9999, 12, 30)},
      {EncodeDate(9999, 12, 30), key(cl::VK_RIGHT), last},
      {EncodeDate(1, 2, 28), prev_month, EncodeDate(1, 1, 28)},
      {EncodeDate(1, 1, 2), key(cl::VK_LEFT), first},
  };
  std::vector<std::string> errors;
  cl::Application().SetOnException(
      [&](cl::TObject*, cl::Exception& e) { errors.push_back(e.Message()); });
  for (size_t i = 0; i < std::size(cases); ++i) {
    calendar->SetCalendarDate(cases[i].from);
    EXPECT_NO_THROW(cases[i].step(*calendar)) << "case " << i;
    EXPECT_EQ(calendar->CalendarDate(), cases[i].to) << "case " << i;
  }
  cl::Application().SetOnException(nullptr);
  EXPECT_TRUE(errors.empty()) << errors.front();
}

}  // namespace
}  // namespace comp
