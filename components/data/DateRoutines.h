// Calendar arithmetic and the date-text parsing of the date edits.
//
// Two-digit years follow one rule everywhere (ExpandYear, pivot 30).  A date text is read first
// positionally, under the letters of its format, and when that gives no valid date, freely: up
// to three numbers separated by the date separator, in the order the format names them.  The
// null date is 0.0; an empty text converts to it.
//
// The routines without a format set read a copy of the class library's current one and the
// current year from the clock; the overloads taking them are the seam tests use.
#pragma once

#include <string>
#include <string_view>

#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/FormatSettings.h"

namespace comp {

using cl::TDateTime;

enum class TDateOrder { doMDY, doDMY, doYMD };

inline constexpr TDateTime kNullDate = 0.0;
inline constexpr int kCenturyPivot = 30;

using cl::IsLeapYear;
// Days of month `month` of `year`; 0 for a month outside 1..12.
int DaysPerMonth(int year, int month);
// 1 <= year <= 9999, 1 <= month <= 12 and 1 <= day <= the days of that month.
bool ValidDate(int year, int month, int day);
// The value decodes to a valid date (false when it cannot be decoded).
bool IsValidDateTime(TDateTime value);
// The local year of the class library's clock.
int CurrentYear();

// A year of 100 or more unchanged; a two-digit year placed in the current century, or the next
// one when it lies more than 70 years back (see the pivot).
int ExpandYear(int year);
int ExpandYear(int year, int current_year);

// The first of D, E, M, Y (any case) in `format` decides: D -> DMY, E and Y -> YMD, M -> MDY;
// none -> DMY.
TDateOrder GetDateOrder(std::string_view format);
// "MM/DD/YYYY", "DD/MM/YYYY" or "YYYY/MM/DD" (the "YY" forms with `four_digit_year` false), by
// the order of the current short date format.
std::string DefDateFormat(bool four_digit_year);
// The edit mask of that format, with `blank` as its blank character.
std::string DefDateMask(char blank, bool four_digit_year);

// Raises EConvertError "''<s>'' n'est pas une date correcte" when `s` is not a date.
TDateTime StrToDateFmt(std::string_view format, std::string_view s);
TDateTime StrToDateFmtDef(std::string_view format, std::string_view s, TDateTime default_value);
bool TryStrToDateFmt(std::string_view format, std::string_view s, TDateTime& date);
bool TryStrToDateFmt(std::string_view format, std::string_view s, TDateTime& date,
                     const cl::TFormatSettings& settings, int current_year);

}  // namespace comp
