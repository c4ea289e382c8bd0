// TPopupCalendar: the date edit's drop-down: a month grid under a bar of year and month buttons
// (repeating while held) and the month's title; TSelectDateDlg and SelectDate: the same choice
// as a modal dialog built in code.
//
// Keys reach the drop-down from its edit: PageUp and PageDown step a month (a year with Ctrl),
// everything else goes to the grid.  A left release over a day closes it accepting.
// GUI thread only.
#pragma once

#include <string>
#include <vector>

#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "components/ui/TOxCalendar.h"
#include "components/ui/TOxSpeedButton.h"
#include "components/ui/TPopupWindow.h"

namespace comp {

// The month title, "MMMM, YYYY".
std::string CalendarTitle(cl::TDateTime date);

class TPopupCalendar : public TPopupWindow {
 public:
  explicit TPopupCalendar(cl::TComponent* owner);

  TLocCalendar* Calendar() const { return calendar_; }
  cl::TLabel* TitleLabel() const { return title_; }
  // Previous year, previous month, next month, next year.
  TOxTimerSpeedButton* Button(int index) const { return buttons_[index]; }

  // A null, empty or blank (separators only) value shows today.
  cl::Variant GetValue() const override;
  void SetValue(const cl::Variant& value) override;

  // The first four lines set the buttons' hints; an empty line keeps the built-in one.
  void SetHints(const std::vector<std::string>& hints);
  void SetFourDigitYear(bool value) { four_digit_year_ = value; }

  // Handles the keys its edit forwards (PageUp/PageDown here, the rest to the grid).
  void ForwardKey(uint16_t& key, cl::TShiftState shift);
  void ForwardChar(char& key);

 private:
  void UpdateTitle();

  TLocCalendar* calendar_;
  cl::TLabel* title_;
  bool four_digit_year_ = true;
  TOxTimerSpeedButton* buttons_[4] = {};
};

class TSelectDateDlg : public cl::TForm {
 public:
  explicit TSelectDateDlg(cl::TComponent* owner);

  TOxCalendar* Calendar = nullptr;
  cl::TLabel* TitleLabel = nullptr;
  TOxTimerSpeedButton* Buttons[4] = {};
  cl::TButton* OkButton = nullptr;
  cl::TButton* CancelButton = nullptr;

 protected:
  void KeyDown(uint16_t& key, cl::TShiftState shift) override;

 private:
  void UpdateTitle();
};

// Runs the dialog on `date` (the null date 0 shows today); true with the chosen date on OK.
bool SelectDate(cl::TDateTime& date, const std::string& caption, TDayOfWeekName start_of_week,
                TDaysOfWeek weekends, cl::TColor weekend_color,
                const std::vector<std::string>& hints);

}  // namespace comp
