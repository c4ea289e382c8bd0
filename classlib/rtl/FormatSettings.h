// The currency, number, date and time formats that text conversions follow.
//
// Every conversion of the class library takes a TFormatSettings explicitly; nothing here reads
// the process locale, so the same call gives the same text on every machine.  One current set
// serves the user interface (the overloads without a format set use a copy of it); it is only
// ever read or written as a whole copy under a mutex, so a thread can never see half of a change.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace cl {

// Fields in the order of the engine's format record.  Texts are Windows-1252.
struct TFormatSettings {
  std::string CurrencyString;
  uint8_t CurrencyFormat = 0;  // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  uint8_t NegCurrFormat = 0;   // 0..15, as the regional settings number them
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  uint8_t CurrencyDecimals = 2;
  char DateSeparator = '/';
  std::string ShortDateFormat;
  std::string LongDateFormat;
  char TimeSeparator = ':';
  std::string TimeAMString;
  std::string TimePMString;
  std::string ShortTimeFormat;
  std::string LongTimeFormat;
  std::array<std::string, 12> ShortMonthNames;  // [0] = January
  std::array<std::string, 12> LongMonthNames;
  std::array<std::string, 7> ShortDayNames;  // [0] = Sunday
  std::array<std::string, 7> LongDayNames;

  bool operator==(const TFormatSettings&) const = default;
};

// The workstation's regional settings: the French profile the application is written for
// ("dd/MM/yyyy", decimal comma, no-break space between thousands, 24-hour times, French names).
TFormatSettings SystemFormatSettings();

// A copy of the current set of the user interface (initially SystemFormatSettings()).
TFormatSettings CurrentFormatSettings();

// Replaces the current set of the user interface as a whole.
void SetCurrentFormatSettings(const TFormatSettings& settings);

}  // namespace cl
