// Regional data of the supported languages, compiled in.
//
// The system never asks the operating system for regional settings: a table's language decides
// how its texts convert (separators, date order, month and day names), and that must not depend
// on which locales a machine happens to have installed.  The table below holds the languages whose
// ANSI code page is Windows-1252, each under its Windows language id with sort id 0 (the same list
// the collation tables cover).  All texts are Windows-1252 bytes.
//
// Supported: 0x0409 en-US, 0x0809 en-GB, 0x040C fr-FR, 0x080C fr-BE, 0x0C0C fr-CA, 0x100C fr-CH,
// 0x0407 de-DE, 0x0410 it-IT, 0x0C0A es-ES, 0x0413 nl-NL, 0x0406 da-DK, 0x0414 nb-NO,
// 0x041D sv-SE, 0x040B fi-FI.
//
// The user's language for SQL evaluations comes from the environment (GetUserDefaultLangID); the
// variable MIRVEL_LANGID (hexadecimal, "0x040C" or "040C") overrides it with any supported
// language id.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace platform {

// The format data of one language.
struct LocaleData {
  uint16_t language_id;
  std::string_view tag;  // e.g. "fr-FR"
  std::string_view currency_string;
  // Position of the currency string: 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $".
  uint8_t currency_format;
  // Negative amounts, 0..15: 0 "($1)", 1 "-$1", 2 "$-1", 3 "$1-", 4 "(1$)", 5 "-1$", 6 "1-$",
  // 7 "1$-", 8 "-1 $", 9 "-$ 1", 10 "1 $-", 11 "$ 1-", 12 "$ -1", 13 "1- $", 14 "($ 1)", 15 "(1 $)".
  uint8_t negative_currency_format;
  std::string_view thousand_separator;
  std::string_view decimal_separator;
  uint8_t currency_digits;
  std::string_view date_separator;
  std::string_view short_date_format;  // "d", "M", "y" tokens as in "dd/MM/yyyy"
  std::string_view long_date_format;
  std::string_view time_separator;
  std::string_view am_string;  // empty for languages that write 24-hour times
  std::string_view pm_string;
  bool hour_leading_zero;  // "09:05" rather than "9:05"
  bool clock_24_hour;
  std::array<std::string_view, 12> long_month_names;  // [0] = January
  std::array<std::string_view, 12> short_month_names;
  std::array<std::string_view, 7> long_day_names;  // [0] = Sunday
  std::array<std::string_view, 7> short_day_names;
};

// The language ids of the table, in table order.
std::span<const uint16_t> SupportedLanguageIds();

// The data of a language id, or nullptr when the language is not supported.
const LocaleData* GetLocaleData(uint16_t language_id);

// True when the locale id (sort id x 65,536 + language id) names a supported language with sort
// id 0; any other locale counts as not installed.
bool IsValidLocale(uint32_t lcid);

// The user's language: MIRVEL_LANGID when it names a supported language; otherwise the first of
// LC_ALL, LC_COLLATE and LANG that is set and not empty gives 0x040C when it starts with "fr"
// and 0x0409 for anything else (also when none is set).
uint16_t GetUserDefaultLangID();

}  // namespace platform
