#include "components/ui/TOxCalendar.h"

#include <cmath>

#include "classlib/forms/Graphics.h"
#include "classlib/rtl/FormatSettings.h"

namespace comp {
namespace {

constexpr uint16_t kVkAdd = 107;
constexpr uint16_t kVkSubtract = 109;

// Steps that would leave the years a date can be encoded in are ignored.
bool InYearRange(cl::TDateTime date) {
  int y, m, d;
  cl::DecodeDate(date, y, m, d);
  return y >= 1 && y <= 9999;
}

}  // namespace

int CalendarMonthOffset(int year, int month, TDayOfWeekName start_of_week) {
  const int first = cl::DayOfWeek(cl::EncodeDate(year, month, 1));  // 1 = Sunday
  const int offset = 2 - ((first - static_cast<int>(start_of_week) + 7) % 7);
  return offset == 2 ? -5 : offset;
}

TOxCalendar::TOxCalendar(cl::TComponent* owner) : cl::TCustomGrid(owner) {
  date_ = cl::Date();
  SetFixedCols(0);
  SetColCount(7);
  SetRowCount(7);
  SetFixedRows(1);
  SetScrollBars(cl::ssNone);
  SetOptions({cl::goFixedVertLine, cl::goFixedHorzLine, cl::goVertLine, cl::goHorzLine,
              cl::goDrawFocusSelected});
  UpdateCalendar();
}

int TOxCalendar::Day() const {
  int y, m, d;
  cl::DecodeDate(date_, y, m, d);
  return d;
}

int TOxCalendar::Month() const {
  int y, m, d;
  cl::DecodeDate(date_, y, m, d);
  return m;
}

int TOxCalendar::Year() const {
  int y, m, d;
  cl::DecodeDate(date_, y, m, d);
  return y;
}

void TOxCalendar::Change() {
  if (on_change_) on_change_(this);
}

void TOxCalendar::ChangeDate(int year, int month, int day) {
  use_current_date_ = false;
  day = std::min(day, cl::MonthDays(year, month));
  const cl::TDateTime date = cl::EncodeDate(year, month, day);
  if (date == date_) return;
  date_ = date;
  UpdateCalendar();
  Change();
}

void TOxCalendar::SetCalendarDate(cl::TDateTime date) {
  date = std::floor(date);
  if (date == date_) return;
  use_current_date_ = false;
  date_ = date;
  UpdateCalendar();
  Change();
}

void TOxCalendar::SetDay(int day) {
  if (day < 1 || day > cl::MonthDays(Year(), Month())) return;
  ChangeDate(Year(), Month(), day);
}

void TOxCalendar::SetMonth(int month) {
  if (month < 1 || month > 12) return;
  ChangeDate(Year(), month, Day());
}

void TOxCalendar::SetYear(int year) {
  if (year < 1 || year > 9999) return;
  ChangeDate(year, Month(), Day());
}

void TOxCalendar::PrevMonth() {
  const int m = Month();
  if (m == 1 && Year() == 1) return;
  ChangeDate(m == 1 ? Year() - 1 : Year(), m == 1 ? 12 : m - 1, Day());
}

void TOxCalendar::NextMonth() {
  const int m = Month();
  if (m == 12 && Year() == 9999) return;
  ChangeDate(m == 12 ? Year() + 1 : Year(), m == 12 ? 1 : m + 1, Day());
}

void TOxCalendar::PrevYear() {
  const int day = cl::IsLeapYear(Year()) && Month() == 2 && Day() == 29 ? 28 : Day();
  if (Year() > 1) ChangeDate(Year() - 1, Month(), day);
}

void TOxCalendar::NextYear() {
  const int day = cl::IsLeapYear(Year()) && Month() == 2 && Day() == 29 ? 28 : Day();
  if (Year() < 9999) ChangeDate(Year() + 1, Month(), day);
}

void TOxCalendar::SetStartOfWeek(TDayOfWeekName day) {
  start_of_week_ = day;
  UpdateCalendar();
}

void TOxCalendar::SetUseCurrentDate(bool value) {
  use_current_date_ = value;
  if (value) {
    const cl::TDateTime today = cl::Date();
    if (today != date_) {
      date_ = today;
      UpdateCalendar();
      Change();
    }
  }
}

void TOxCalendar::SetWeekends(TDaysOfWeek days) {
  weekends_ = days;
  UpdateCalendar();
}

void TOxCalendar::SetWeekendColor(cl::TColor color) {
  weekend_color_ = color;
  Invalidate();
}

int TOxCalendar::CellDay(int col, int row) const {
  if (row < 1 || col < 0 || col > 6) return 0;
  const int day = col + month_offset_ + (row - 1) * 7;
  return day >= 1 && day <= cl::MonthDays(Year(), Month()) ? day : 0;
}

std::string TOxCalendar::CellText(int col, int row) const {
  if (row == 0) {
    return cl::CurrentFormatSettings()
        .ShortDayNames[static_cast<size_t>((static_cast<int>(start_of_week_) + col) % 7)];
  }
  const int day = CellDay(col, row);
  return day == 0 ? std::string() : std::to_string(day);
}

void TOxCalendar::UpdateCalendar() {
  month_offset_ = CalendarMonthOffset(Year(), Month(), start_of_week_);
  const int index = Day() - month_offset_;
  updating_ = true;
  FocusCell(index % 7, index / 7 + 1);
  updating_ = false;
  Invalidate();
}

bool TOxCalendar::SelectCell(int col, int row) {
  if (CellDay(col, row) == 0) return false;
  if (!updating_ && read_only_) return false;
  return cl::TCustomGrid::SelectCell(col, row);
}

void TOxCalendar::FollowCurrentCell() {
  const int day = CellDay(Col(), Row());
  if (day != 0 && day != Day()) SetDay(day);
}

void TOxCalendar::MouseDown(cl::TMouseButton button, cl::TShiftState shift, int x, int y) {
  cl::TCustomGrid::MouseDown(button, shift, x, y);
  if (!read_only_) FollowCurrentCell();
}

void TOxCalendar::KeyDown(uint16_t& key, cl::TShiftState shift) {
  if (shift.Empty() && !read_only_) {
    if (key == cl::VK_LEFT || key == kVkSubtract) {
      if (InYearRange(date_ - 1)) SetCalendarDate(date_ - 1);
      use_current_date_ = false;
      key = 0;
      return;
    }
    if (key == cl::VK_RIGHT || key == kVkAdd) {
      if (InYearRange(date_ + 1)) SetCalendarDate(date_ + 1);
      use_current_date_ = false;
      key = 0;
      return;
    }
  }
  cl::TCustomGrid::KeyDown(key, shift);
  if (!read_only_) FollowCurrentCell();
}

void TOxCalendar::KeyPress(char& key) {
  if ((key == 'T' || key == 't') && !read_only_) {
    SetCalendarDate(cl::Date());
    key = 0;
    return;
  }
  cl::TCustomGrid::KeyPress(key);
}

void TOxCalendar::Resize() {
  cl::TCustomGrid::Resize();
  const cl::TRect client = ClientRect();
  const int line = GridLineWidth();
  const int width = (client.Width() - 6 * line) / 7;
  const int height = (client.Height() - 6 * line) / 7;
  if (width > 0) SetDefaultColWidth(width);
  if (height > 0) SetDefaultRowHeight(height);
}

void TOxCalendar::DrawCell(int col, int row, cl::TRect rect, cl::TGridDrawState state) {
  cl::TCanvas& canvas = Canvas();
  const std::string text = CellText(col, row);
  const auto weekday = static_cast<TDayOfWeekName>((static_cast<int>(start_of_week_) + col) % 7);
  if (weekends_.Contains(weekday) && !state.Contains(cl::gdSelected)) {
    canvas.Font().SetColor(weekend_color_);
  }
  canvas.DrawText(text, rect, cl::DT_CENTER | cl::DT_VCENTER | cl::DT_SINGLELINE);
}

TLocCalendar::TLocCalendar(cl::TComponent* owner) : TOxCalendar(owner) {
  SetBorderStyle(false);
  SetTabStop(false);
  SetParentColor(true);
  SetCalendarDate(cl::Date());
  SetUseCurrentDate(false);
}

void TLocCalendar::DrawCell(int col, int row, cl::TRect rect, cl::TGridDrawState state) {
  TOxCalendar::DrawCell(col, row, rect, state);
  if (row < 1 || CellDay(col, row) == 0) return;
  if (cl::EncodeDate(Year(), Month(), CellDay(col, row)) != cl::Date()) return;
  // Sunken frame: shadow on the top and left, highlight on the bottom and right.
  cl::TCanvas& canvas = Canvas();
  canvas.Pen().SetColor(cl::clBtnShadow);
  canvas.MoveTo(rect.Left, rect.Bottom - 1);
  canvas.LineTo(rect.Left, rect.Top);
  canvas.LineTo(rect.Right - 1, rect.Top);
  canvas.Pen().SetColor(cl::clBtnHighlight);
  canvas.LineTo(rect.Right - 1, rect.Bottom - 1);
  canvas.LineTo(rect.Left, rect.Bottom - 1);
}

}  // namespace comp
