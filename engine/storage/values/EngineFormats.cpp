#include "engine/storage/values/EngineFormats.h"

#include <string>

#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineCriticalSections.h"
#include "platform/LocaleInfo.h"

namespace tessera {
namespace {

// The fixed set is the American English regional data.
constexpr uint16_t kFixedLanguage = 0x0409;

// A text of the locale, or the fallback's when the locale gives none.
std::string Or(std::string_view locale_value, const std::string& fallback) {
  return locale_value.empty() ? fallback : cl::ToShort(locale_value);
}

char OrChar(std::string_view locale_value, char fallback) {
  return locale_value.empty() ? fallback : locale_value[0];
}

// The set of a language's regional data; each value the data leaves empty (but the AM and PM
// strings) is the fallback set's.
TEngineFormatSettings FromLocale(const platform::LocaleData& d,
                                 const TEngineFormatSettings& fallback) {
  TEngineFormatSettings s;
  s.CurrencyString = Or(d.currency_string, fallback.CurrencyString);
  s.CurrencyFormat = d.currency_format;
  s.NegCurrFormat = d.negative_currency_format;
  s.ThousandSeparator = OrChar(d.thousand_separator, fallback.ThousandSeparator);
  s.DecimalSeparator = OrChar(d.decimal_separator, fallback.DecimalSeparator);
  s.CurrencyDecimals = d.currency_digits;
  s.DateSeparator = OrChar(d.date_separator, fallback.DateSeparator);
  s.ShortDateFormat = Or(d.short_date_format, fallback.ShortDateFormat);
  s.LongDateFormat = Or(d.long_date_format, fallback.LongDateFormat);
  s.TimeSeparator = OrChar(d.time_separator, fallback.TimeSeparator);
  // An empty AM or PM string is the locale's own value (a 24-hour language has none to show).
  s.TimeAMString = cl::ToShort(d.am_string);
  s.TimePMString = cl::ToShort(d.pm_string);
  const std::string hour = d.hour_leading_zero ? "hh" : "h";
  const std::string suffix = d.clock_24_hour ? "" : " AMPM";
  s.ShortTimeFormat = hour + ":mm" + suffix;
  s.LongTimeFormat = hour + ":mm:ss" + suffix;
  for (size_t i = 0; i < 12; ++i) {
    s.ShortMonthNames[i] = Or(d.short_month_names[i], fallback.ShortMonthNames[i]);
    s.LongMonthNames[i] = Or(d.long_month_names[i], fallback.LongMonthNames[i]);
  }
  for (size_t i = 0; i < 7; ++i) {
    s.ShortDayNames[i] = Or(d.short_day_names[i], fallback.ShortDayNames[i]);
    s.LongDayNames[i] = Or(d.long_day_names[i], fallback.LongDayNames[i]);
  }
  return s;
}

}  // namespace

const TEngineFormatSettings& FixedFormatSettings() {
  static const TEngineFormatSettings fixed =
      FromLocale(*platform::GetLocaleData(kFixedLanguage), TEngineFormatSettings());
  return fixed;
}

TEngineFormatSettings BuildEngineFormatSettings(uint16_t language, uint16_t sort) {
  const TEngineFormatSettings& fixed = FixedFormatSettings();
  if (language == 0) return fixed;
  const uint32_t lcid = static_cast<uint32_t>(sort) * 65536u + language;
  if (!platform::IsValidLocale(lcid)) return fixed;
  return FromLocale(*platform::GetLocaleData(language), fixed);
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
