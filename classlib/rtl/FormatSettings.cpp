#include "classlib/rtl/FormatSettings.h"

#include <mutex>

namespace cl {
namespace {

std::mutex& CurrentMutex() {
  static std::mutex mutex;
  return mutex;
}

TFormatSettings& Current() {
  static TFormatSettings current = SystemFormatSettings();
  return current;
}

}  // namespace

TFormatSettings SystemFormatSettings() {
  TFormatSettings s;
  s.CurrencyString = "F";
  s.CurrencyFormat = 3;
  s.NegCurrFormat = 8;
  s.ThousandSeparator = '\xA0';
  s.DecimalSeparator = ',';
  s.CurrencyDecimals = 2;
  s.DateSeparator = '/';
  s.ShortDateFormat = "dd/MM/yyyy";
  s.LongDateFormat = "dddd d MMMM yyyy";
  s.TimeSeparator = ':';
  s.TimeAMString = "";
  s.TimePMString = "";
  s.ShortTimeFormat = "hh:mm";
  s.LongTimeFormat = "hh:mm:ss";
  // clang-format off
  s.ShortMonthNames = {"janv.", "f\xE9" "vr.", "mars",  "avr.", "mai",  "juin",
                       "juil.", "ao\xFB" "t",  "sept.", "oct.", "nov.", "d\xE9" "c."};
  s.LongMonthNames = {"janvier", "f\xE9" "vrier", "mars",      "avril",   "mai",      "juin",
                      "juillet", "ao\xFB" "t",    "septembre", "octobre", "novembre", "d\xE9" "cembre"};
  s.ShortDayNames = {"dim.", "lun.", "mar.", "mer.", "jeu.", "ven.", "sam."};
  s.LongDayNames = {"dimanche", "lundi", "mardi", "mercredi", "jeudi", "vendredi", "samedi"};
  // clang-format on
  return s;
}

TFormatSettings CurrentFormatSettings() {
  std::lock_guard<std::mutex> lock(CurrentMutex());
  return Current();
}

void SetCurrentFormatSettings(const TFormatSettings& settings) {
  std::lock_guard<std::mutex> lock(CurrentMutex());
  Current() = settings;
}

}  // namespace cl
