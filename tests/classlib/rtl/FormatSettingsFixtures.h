// Format sets for the conversion tests: the English set with the "M/d/yyyy" order and a
// 12-hour clock, and the French day-first set of the user interface; and the message of the
// conversion error a call raises.
#pragma once

#include <functional>
#include <string>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/FormatSettings.h"

namespace cl::testing {

inline TFormatSettings EnglishSettings() {
  TFormatSettings s;
  s.CurrencyString = "$";
  s.ThousandSeparator = ',';
  s.DecimalSeparator = '.';
  s.DateSeparator = '/';
  s.ShortDateFormat = "M/d/yyyy";
  s.LongDateFormat = "dddd, MMMM dd, yyyy";
  s.TimeSeparator = ':';
  s.TimeAMString = "AM";
  s.TimePMString = "PM";
  s.ShortTimeFormat = "h:mm AMPM";
  s.LongTimeFormat = "h:mm:ss AMPM";
  s.ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  s.LongMonthNames = {"January", "February", "March",     "April",   "May",      "June",
                      "July",    "August",   "September", "October", "November", "December"};
  s.ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  s.LongDayNames = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  return s;
}

inline TFormatSettings FrenchSettings() { return SystemFormatSettings(); }

// The message of the EConvertError `action` raises, or "(no error)".
inline std::string ConvertErrorMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const EConvertError& e) {
    return e.Message();
  }
  return "(no error)";
}

}  // namespace cl::testing
