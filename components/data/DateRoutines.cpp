#include "components/data/DateRoutines.h"

#include <cmath>

#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Collation.h"
#include "classlib/rtl/Exceptions.h"

namespace comp {
namespace {

// Kept exactly as the date edits have always shown it, doubled apostrophes included.
constexpr std::string_view kInvalidDateText = "''%s'' n'est pas une date correcte";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The characters of `s` under the first run of `letter` (either case) in `format`; false when the
// format has no such run.
bool TextUnderRun(std::string_view format, std::string_view s, char letter, std::string& text) {
  const char upper = cl::AsciiUpper(letter);
  size_t start = 0;
  while (start < format.size() && cl::AsciiUpper(format[start]) != upper) ++start;
  if (start == format.size()) return false;
  size_t end = start;
  while (end < format.size() && cl::AsciiUpper(format[end]) == upper) ++end;
  text = start < s.size() ? std::string(s.substr(start, end - start)) : std::string();
  return true;
}

std::string WithoutBlanks(std::string_view text) {
  std::string result;
  for (char c : text) {
    if (c != ' ') result.push_back(c);
  }
  return result;
}

// The number under a run: -1 for an all-blank run or a text that is not a number.
int RunNumber(std::string_view text) {
  const std::string digits = WithoutBlanks(text);
  if (digits.empty() || digits.size() > 9) return -1;
  int value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

int MonthByName(std::string_view text, const cl::TFormatSettings& settings) {
  const std::string wanted = cl::AnsiUpperCase(WithoutBlanks(text));
  if (wanted.empty()) return -1;
  for (int month = 0; month < 12; ++month) {
    const std::string name = cl::AnsiUpperCase(settings.LongMonthNames[month]);
    if (name.compare(0, wanted.size(), wanted) == 0 && name.size() >= wanted.size()) {
      return month + 1;
    }
  }
  return -1;
}

bool PositionalDate(std::string_view format, std::string_view s,
                    const cl::TFormatSettings& settings, int current_year, int& year, int& month,
                    int& day) {
  year = current_year;
  month = 0;
  day = 1;
  if (format.size() >= s.size()) {
    std::string text;
    const std::string upper_format = cl::AnsiUpperCase(format);
    if (upper_format.find("MMM") != std::string::npos) {
      if (TextUnderRun(format, s, 'm', text)) month = MonthByName(text, settings);
    } else if (TextUnderRun(format, s, 'm', text)) {
      month = RunNumber(text);
    }
    if (TextUnderRun(format, s, 'd', text)) day = RunNumber(text);
    if (TextUnderRun(format, s, 'y', text)) year = RunNumber(text);
  }
  // A blank or unreadable year (-1) stays invalid rather than becoming a year of the last century.
  if (year >= 0) year = ExpandYear(year, current_year);
  return ValidDate(year, month, day);
}

// The free pass over the whole text.
class DateScanner {
 public:
  DateScanner(std::string_view s, char separator) : s_(s), separator_(separator) {}

  void SkipBlanks() {
    while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
  }
  void SkipToDigit() {
    while (pos_ < s_.size() && !IsDigit(s_[pos_])) ++pos_;
  }
  bool Number(int& value) {
    SkipBlanks();
    if (pos_ >= s_.size() || !IsDigit(s_[pos_])) return false;
    value = 0;
    while (pos_ < s_.size() && IsDigit(s_[pos_]) && value < 1000) {
      value = value * 10 + (s_[pos_++] - '0');
    }
    return true;
  }
  bool Separator() {
    SkipBlanks();
    if (pos_ >= s_.size() || s_[pos_] != separator_) return false;
    ++pos_;
    return true;
  }
  bool AtEnd() const { return pos_ == s_.size(); }
  size_t Mark() const { return pos_; }
  void Reset(size_t mark) { pos_ = mark; }

 private:
  std::string_view s_;
  char separator_;
  size_t pos_ = 0;
};

bool ScanDate(std::string_view format, std::string_view s, const cl::TFormatSettings& settings,
              int current_year, int& year, int& month, int& day) {
  DateScanner scan(s, settings.DateSeparator);
  scan.SkipBlanks();
  if (!settings.ShortDateFormat.empty() && cl::AsciiUpper(settings.ShortDateFormat[0]) == 'G') {
    scan.SkipToDigit();  // an era name comes first in such locales
  }
  int n1 = 0;
  int n2 = 0;
  int n3 = 0;
  if (!scan.Number(n1) || !scan.Separator() || !scan.Number(n2)) return false;
  const size_t mark = scan.Mark();
  const bool three = scan.Separator() && scan.Number(n3);
  if (!three) scan.Reset(mark);
  const TDateOrder order = GetDateOrder(format);
  if (three) {
    switch (order) {
      case TDateOrder::doMDY:
        month = n1, day = n2, year = n3;
        break;
      case TDateOrder::doDMY:
        day = n1, month = n2, year = n3;
        break;
      case TDateOrder::doYMD:
        year = n1, month = n2, day = n3;
        break;
    }
    year = ExpandYear(year, current_year);
  } else {
    year = current_year;
    if (order == TDateOrder::doDMY) {
      day = n1, month = n2;
    } else {
      month = n1, day = n2;
    }
  }
  scan.Separator();
  scan.SkipBlanks();
  return ValidDate(year, month, day) && scan.AtEnd();
}

}  // namespace

int DaysPerMonth(int year, int month) {
  return month < 1 || month > 12 ? 0 : cl::MonthDays(year, month);
}

bool ValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysPerMonth(year, month);
}

bool IsValidDateTime(TDateTime value) {
  if (!std::isfinite(value)) return false;
  int year = 0;
  int month = 0;
  int day = 0;
  try {
    cl::DecodeDate(value, year, month, day);
  } catch (const cl::Exception&) {
    return false;  // beyond the calendar: not a valid date, which is the answer asked for
  }
  return ValidDate(year, month, day);
}

int CurrentYear() {
  int year = 0;
  int month = 0;
  int day = 0;
  cl::DecodeDate(cl::Now(), year, month, day);
  return year;
}

int ExpandYear(int year) { return ExpandYear(year, CurrentYear()); }

int ExpandYear(int year, int current_year) {
  if (year >= 100) return year;
  const int century = current_year / 100 * 100;
  const int in_century = current_year - century;
  return year > in_century + kCenturyPivot - 100 ? year + century : year + century + 100;
}

TDateOrder GetDateOrder(std::string_view format) {
  for (char c : format) {
    switch (cl::AsciiUpper(c)) {
      case 'D':
        return TDateOrder::doDMY;
      case 'E':
      case 'Y':
        return TDateOrder::doYMD;
      case 'M':
        return TDateOrder::doMDY;
      default:
        break;
    }
  }
  return TDateOrder::doDMY;
}

std::string DefDateFormat(bool four_digit_year) {
  const std::string year = four_digit_year ? "YYYY" : "YY";
  switch (GetDateOrder(cl::CurrentFormatSettings().ShortDateFormat)) {
    case TDateOrder::doMDY:
      return "MM/DD/" + year;
    case TDateOrder::doYMD:
      return year + "/MM/DD";
    case TDateOrder::doDMY:
      break;
  }
  return "DD/MM/" + year;
}

std::string DefDateMask(char blank, bool four_digit_year) {
  std::string mask = "!99/99/99;1;";
  if (four_digit_year) {
    mask = GetDateOrder(cl::CurrentFormatSettings().ShortDateFormat) == TDateOrder::doYMD
               ? "!9999/99/99;1;"
               : "!99/99/9999;1;";
  }
  return mask + blank;
}

bool TryStrToDateFmt(std::string_view format, std::string_view s, TDateTime& date,
                     const cl::TFormatSettings& settings, int current_year) {
  if (s.empty()) {
    date = kNullDate;
    return true;
  }
  int year = 0;
  int month = 0;
  int day = 0;
  if (!PositionalDate(format, s, settings, current_year, year, month, day) &&
      !ScanDate(format, s, settings, current_year, year, month, day)) {
    return false;
  }
  return cl::TryEncodeDate(year, month, day, date);
}

bool TryStrToDateFmt(std::string_view format, std::string_view s, TDateTime& date) {
  return TryStrToDateFmt(format, s, date, cl::CurrentFormatSettings(), CurrentYear());
}

TDateTime StrToDateFmt(std::string_view format, std::string_view s) {
  TDateTime date = kNullDate;
  if (!TryStrToDateFmt(format, s, date)) {
    std::string message(kInvalidDateText);
    message.replace(message.find("%s"), 2, s);
    throw cl::EConvertError(message);
  }
  return date;
}

TDateTime StrToDateFmtDef(std::string_view format, std::string_view s, TDateTime default_value) {
  TDateTime date = kNullDate;
  return TryStrToDateFmt(format, s, date) ? date : default_value;
}

}  // namespace comp
