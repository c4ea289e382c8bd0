// Date and time texts under a format set.
//
// FormatDateTime tokens (letters in either case):
//   d, dd        day without / with leading zero     ddd, dddd   short / long day name
//   ddddd        the short date format               dddddd      the long date format
//   m, mm        month (minutes right after an h)    mmm, mmmm   short / long month name
//   yy, yyyy     year in two / four digits           h, hh       hour (12-hour when an am/pm
//   n, nn        minutes                                          token follows)
//   s, ss        seconds                             z, zzz      milliseconds
//   t, tt        the short / long time format        c           short date, then the long time
//   am/pm, a/p   "am"/"pm" or "a"/"p" in the case written         unless it is midnight
//   ampm         the AM or PM string of the set
//   /            the date separator                  :           the time separator
//   "..." '...'  literal text; any other character stands for itself.
//
// The parsers read numbers in the order of the short date format (day, month, year as its first
// d, M or y says), separated by the set's date separator; a missing year is the current year and a
// year of one or two digits lies in the hundred years from 50 years before the current one.
// Times are hours[:minutes[:seconds[<decimal separator>milliseconds]]] with an optional AM or PM
// (the set's strings, or "AM"/"PM") before or after.  Blanks may surround each number.  A bad
// text raises EConvertError: "'<text>' is not a valid date", "... a valid time" or
// "... a valid date and time".
#pragma once

#include <string>
#include <string_view>

#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/FormatSettings.h"

namespace cl {

std::string FormatDateTime(std::string_view format, TDateTime date_time,
                           const TFormatSettings& settings);
std::string FormatDateTime(std::string_view format, TDateTime date_time);

std::string DateToStr(TDateTime date, const TFormatSettings& settings);  // short date format
std::string TimeToStr(TDateTime time, const TFormatSettings& settings);  // long time format
std::string DateTimeToStr(TDateTime date_time, const TFormatSettings& settings);  // "c"
std::string DateToStr(TDateTime date);
std::string TimeToStr(TDateTime time);
std::string DateTimeToStr(TDateTime date_time);

bool TryStrToDate(std::string_view text, TDateTime& date, const TFormatSettings& settings);
bool TryStrToTime(std::string_view text, TDateTime& time, const TFormatSettings& settings);
// A date, a date followed by a time, or a time alone (on 1899-12-30).
bool TryStrToDateTime(std::string_view text, TDateTime& date_time, const TFormatSettings& settings);
TDateTime StrToDate(std::string_view text, const TFormatSettings& settings);
TDateTime StrToTime(std::string_view text, const TFormatSettings& settings);
TDateTime StrToDateTime(std::string_view text, const TFormatSettings& settings);
TDateTime StrToDate(std::string_view text);
TDateTime StrToTime(std::string_view text);
TDateTime StrToDateTime(std::string_view text);

}  // namespace cl
