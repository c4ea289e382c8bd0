// TCustomDateEdit: the button edit of a date, with a drop-down month calendar (csPopup) or the
// date dialog (csDialog); TDateEdit publishes it.
//
// The text follows one format and mask for every date edit: DefDateFormat and DefDateMask with
// a four-digit year unless YearDigits is dyTwo ("DD/MM/YYYY" and "!99/99/9999;1; " where the
// short date format is day-month-year).  The format and the mask are rebuilt when BlanksChar or
// YearDigits change and on WM_WININICHANGE: the date is read with the old format and written
// back with the new one.
//
// Reading (Date): a text made only of blanks and date separators, or one that is no date, gives
// today with DefaultToday, else the null date 0.  Writing (SetDate): an invalid or null date
// becomes that same default; the null date shows as the blank mask.
//
// Keys: with the calendar open, PageUp/PageDown, the arrows and the keypad's plus and minus go
// to it, and so do the characters "+", "-", "T" and "t"; closed, with DirectInput, "+" and "-"
// (keypad or not: the toolkit does not tell them apart) step the date by a day and "T"/"t" sets
// today.  With CheckOnExit a text that is no date keeps the focus: the conversion error goes to
// the application's exception handler.
// GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "classlib/rtl/TStrings.h"
#include "components/data/DateRoutines.h"
#include "components/ui/TCustomComboEdit.h"
#include "components/ui/TPopupCalendar.h"

namespace comp {

enum TYearDigits { dyDefault, dyFour, dyTwo };
enum TCalendarStyle { csPopup, csDialog };
// May change the chosen date, or refuse it by clearing `accept`.
using TExecDateDialog = std::function<void(cl::TObject* sender, cl::TDateTime& date, bool& accept)>;

class TCustomDateEdit : public TCustomComboEdit {
 public:
  explicit TCustomDateEdit(cl::TComponent* owner);
  ~TCustomDateEdit() override;

  cl::TDateTime Date() const;
  // Shows `value` (see above); selects the text when focused with DirectInput.
  virtual void SetDate(cl::TDateTime value);
  // Only blanks and date separators.
  bool TextIsEmpty() const;
  // Raises the conversion error naming the text when a non-empty text is no date.
  void CheckValidDate();

  bool DefaultToday() const { return default_today_; }
  void SetDefaultToday(bool value) { default_today_ = value; }
  bool CheckOnExit() const { return check_on_exit_; }
  void SetCheckOnExit(bool value) { check_on_exit_ = value; }
  char BlanksChar() const { return blanks_char_; }
  void SetBlanksChar(char value);
  // The hints of the calendar's four buttons (previous year, previous month, next month, next
  // year); lines past the fourth are dropped, an empty line keeps the built-in hint.
  cl::TStrings& CalendarHints() { return *calendar_hints_; }
  TDayOfWeekName StartOfWeek() const { return start_of_week_; }
  void SetStartOfWeek(TDayOfWeekName day);
  TDaysOfWeek Weekends() const { return weekends_; }
  void SetWeekends(TDaysOfWeek days);
  cl::TColor WeekendColor() const { return weekend_color_; }
  void SetWeekendColor(cl::TColor color);
  cl::TColor PopupColor() const { return popup_color_; }
  void SetPopupColor(cl::TColor color);
  TYearDigits YearDigits() const { return year_digits_; }
  void SetYearDigits(TYearDigits digits);
  const std::string& DateFormat() const { return date_format_; }
  const std::string& DialogTitle() const { return dialog_title_; }
  void SetDialogTitle(const std::string& title) { dialog_title_ = title; }
  TCalendarStyle CalendarStyle() const { return calendar_style_; }
  void SetCalendarStyle(TCalendarStyle style);
  TPopupCalendar* PopupCalendar() const { return calendar_; }

  const TExecDateDialog& OnConfirmDate() const { return on_confirm_date_; }
  void SetOnConfirmDate(TExecDateDialog handler) { on_confirm_date_ = std::move(handler); }

  void DoClick() override;
  // Reads the date with the current format, takes the new format and mask, writes it back.
  virtual void UpdateFormat();

 protected:
  const cl::TBitmap* DefaultGlyph() const override;
  int DefaultNumGlyphs() const override { return 2; }
  bool AcceptPopup(cl::Variant& value) override;
  void AcceptValue(const cl::Variant& value) override;
  void SetPopupValue(const cl::Variant& value) override;
  void KeyDown(uint16_t& key, cl::TShiftState shift) override;
  void KeyPress(char& key) override;
  void DoExit() override;
  void WndProc(cl::TMessage& message) override;
  // The calendar dialog of csDialog; true with `date` when the user confirmed.
  virtual bool ExecuteDialog(cl::TDateTime& date);
  // Passes a chosen date through OnConfirmDate.
  bool ConfirmDate(cl::TDateTime& date);
  cl::TDateTime DefaultDate() const;

 private:
  void ConfigurePopup();
  void HintsChanged();

  bool default_today_ = false;
  TExecDateDialog on_confirm_date_;
  cl::TColor popup_color_ = cl::clBtnFace;
  bool check_on_exit_ = false;
  char blanks_char_ = ' ';
  std::unique_ptr<cl::TStringList> calendar_hints_;
  TDayOfWeekName start_of_week_ = Mon;
  TDaysOfWeek weekends_{Sun};
  cl::TColor weekend_color_ = cl::clRed;
  TYearDigits year_digits_ = dyDefault;
  std::string date_format_;
  std::string dialog_title_ = "Select a Date";
  TCalendarStyle calendar_style_ = csPopup;
  TPopupCalendar* calendar_ = nullptr;
  bool trimming_hints_ = false;
};

class TDateEdit : public TCustomDateEdit {
 public:
  using TCustomDateEdit::TCustomDateEdit;
};

}  // namespace comp
