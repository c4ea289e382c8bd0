// TOxCalendar: a month grid, 7 columns by 7 rows (a row of day names above six week rows), that
// shows and edits one date; TLocCalendar, the same grid as a drop-down's content (no border, no
// tab stop, today framed).
//
// Month layout: with F the weekday of the month's first day (1 = Sunday .. 7) and S the first
// day of the week (0 = Sunday .. 6), the month offset is 2 - ((F - S + 7) mod 7), -5 in place of
// 2, so that day 1 always lands in the first week row.  Day d sits at column (d - offset) mod 7,
// row (d - offset) / 7 + 1; cell (c, r >= 1) shows c + offset + (r - 1) * 7 when that is a day
// of the month.
//
// Edits: Day, Month and Year ignore values below 1, a month above 12 and a day beyond the month
// (a month change cuts the day to the new month); month steps keep the day cut to the month,
// year steps turn 29 February into 28 first.  Any change clears UseCurrentDate and fires
// OnChange.  Keys: Left or numeric minus a day back, Right or numeric plus a day forward, "T"
// today; Up and Down move a week as in any grid.  ReadOnly refuses clicks and keys that pick a
// cell.  GUI thread only.
#pragma once

#include "classlib/forms/Grids.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/TSet.h"

namespace comp {

enum TDayOfWeekName { Sun, Mon, Tue, Wed, Thu, Fri, Sat };
using TDaysOfWeek = cl::TSet<TDayOfWeekName>;

// The month offset above.
int CalendarMonthOffset(int year, int month, TDayOfWeekName start_of_week);

class TOxCalendar : public cl::TCustomGrid {
 public:
  explicit TOxCalendar(cl::TComponent* owner);

  cl::TDateTime CalendarDate() const { return date_; }
  void SetCalendarDate(cl::TDateTime date);
  int Day() const;
  void SetDay(int day);
  int Month() const;
  void SetMonth(int month);
  int Year() const;
  void SetYear(int year);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  TDayOfWeekName StartOfWeek() const { return start_of_week_; }
  void SetStartOfWeek(TDayOfWeekName day);
  bool UseCurrentDate() const { return use_current_date_; }
  void SetUseCurrentDate(bool value);
  TDaysOfWeek Weekends() const { return weekends_; }
  void SetWeekends(TDaysOfWeek days);
  cl::TColor WeekendColor() const { return weekend_color_; }
  void SetWeekendColor(cl::TColor color);
  const cl::TNotifyEvent& OnChange() const { return on_change_; }
  void SetOnChange(cl::TNotifyEvent handler) { on_change_ = std::move(handler); }

  void PrevMonth();
  void NextMonth();
  void PrevYear();
  void NextYear();

  int MonthOffset() const { return month_offset_; }
  // The text of a cell: a short day name in row 0, a day number or nothing below.
  std::string CellText(int col, int row) const;
  // Shows the date again (offset, selected cell, painting).
  void UpdateCalendar();

 protected:
  void DrawCell(int col, int row, cl::TRect rect, cl::TGridDrawState state) override;
  bool SelectCell(int col, int row) override;
  void KeyDown(uint16_t& key, cl::TShiftState shift) override;
  void KeyPress(char& key) override;
  void MouseDown(cl::TMouseButton button, cl::TShiftState shift, int x, int y) override;
  void Resize() override;
  // The day number of a cell, 0 for none.
  int CellDay(int col, int row) const;
  // Moves to year / month / day (day cut to the month); false when nothing changed.
  void ChangeDate(int year, int month, int day);
  void Change();

 private:
  void FollowCurrentCell();

  cl::TDateTime date_ = 0;
  int month_offset_ = 0;
  bool read_only_ = false;
  bool updating_ = false;
  TDayOfWeekName start_of_week_ = Mon;
  bool use_current_date_ = true;
  TDaysOfWeek weekends_{Sun};
  cl::TColor weekend_color_ = cl::clRed;
  cl::TNotifyEvent on_change_;
};

// The grid inside the date edit's drop-down: today framed (sunken, one pixel).
class TLocCalendar : public TOxCalendar {
 public:
  explicit TLocCalendar(cl::TComponent* owner);

 protected:
  void DrawCell(int col, int row, cl::TRect rect, cl::TGridDrawState state) override;
};

}  // namespace comp
