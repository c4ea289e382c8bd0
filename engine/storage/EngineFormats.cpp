#include "engine/storage/EngineFormats.h"

#include <string>

#include "classlib/rtl/ShortString.h"
#include "engine/storage/EngineSession.h"
#include "platform/LocaleInfo.h"

namespace tessera {
namespace {

TEngineFormatSettings MakeFixed() {
  TEngineFormatSettings s;
  s.CurrencyString = "$";
  s.CurrencyFormat = 0;
  s.NegCurrFormat = 0;
  s.ThousandSeparator = ',';
  s.DecimalSeparator = '.';
  s.CurrencyDecimals = 2;
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

// A text of the locale, or the fixed set's value when the locale gives none.
std::string Or(std::string_view locale_value, const std::string& fallback) {
  return locale_value.empty() ? fallback : cl::ToShort(locale_value);
}

char OrChar(std::string_view locale_value, char fallback) {
  return locale_value.empty() ? fallback : locale_value[0];
}

}  // namespace

const TEngineFormatSettings& FixedFormatSettings() {
  static const TEngineFormatSettings fixed = MakeFixed();
  return fixed;
}

TEngineFormatSettings BuildEngineFormatSettings(uint16_t language, uint16_t sort) {
  const TEngineFormatSettings& fixed = FixedFormatSettings();
  if (language == 0) return fixed;
  const uint32_t lcid = static_cast<uint32_t>(sort) * 65536u + language;
  if (!platform::IsValidLocale(lcid)) return fixed;
  const platform::LocaleData& d = *platform::GetLocaleData(language);
  TEngineFormatSettings s;
  s.CurrencyString = Or(d.currency_string, fixed.CurrencyString);
  s.CurrencyFormat = d.currency_format;
  s.NegCurrFormat = d.negative_currency_format;
  s.ThousandSeparator = OrChar(d.thousand_separator, fixed.ThousandSeparator);
  s.DecimalSeparator = OrChar(d.decimal_separator, fixed.DecimalSeparator);
  s.CurrencyDecimals = d.currency_digits;
  s.DateSeparator = OrChar(d.date_separator, fixed.DateSeparator);
  s.ShortDateFormat = Or(d.short_date_format, fixed.ShortDateFormat);
  s.LongDateFormat = Or(d.long_date_format, fixed.LongDateFormat);
  s.TimeSeparator = OrChar(d.time_separator, fixed.TimeSeparator);
  // An empty AM or PM string is the locale's own value (a 24-hour language has none to show).
  s.TimeAMString = cl::ToShort(d.am_string);
  s.TimePMString = cl::ToShort(d.pm_string);
  const std::string hour = d.hour_leading_zero ? "hh" : "h";
  const std::string suffix = d.clock_24_hour ? "" : " AMPM";
  s.ShortTimeFormat = hour + ":mm" + suffix;
  s.LongTimeFormat = hour + ":mm:ss" + suffix;
  for (size_t i = 0; i < 12; ++i) {
    s.ShortMonthNames[i] = Or(d.short_month_names[i], fixed.ShortMonthNames[i]);
    s.LongMonthNames[i] = Or(d.long_month_names[i], fixed.LongMonthNames[i]);
  }
  for (size_t i = 0; i < 7; ++i) {
    s.ShortDayNames[i] = Or(d.short_day_names[i], fixed.ShortDayNames[i]);
    s.LongDayNames[i] = Or(d.long_day_names[i], fixed.LongDayNames[i]);
  }
  return s;
}

void SaveFormatSettings(TEngineFormatSettings& saved) {
  platform::CriticalSectionGuard guard(FormatCriticalSection());
  saved = cl::CurrentFormatSettings();
}

void RestoreFormatSettings(const TEngineFormatSettings& settings) {
  platform::CriticalSectionGuard guard(FormatCriticalSection());
  cl::SetCurrentFormatSettings(settings);
}

}  // namespace tessera
