#include "classlib/rtl/DateTimeText.h"

#include <cstdint>

#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Exceptions.h"

namespace cl {
namespace {

bool StartsWithNoCase(std::string_view text, size_t pos, std::string_view word) {
  if (text.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (AsciiUpper(text[pos + i]) != AsciiUpper(word[i])) return false;
  }
  return true;
}

void AppendNumber(std::string& out, int value, int digits) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < digits) text.insert(0, digits - text.size(), '0');
  out += text;
}

// One value being formatted; nested formats (ddddd, t, c ...) go at most two levels deep.
class TDateFormatter {
 public:
  TDateFormatter(TDateTime value, const TFormatSettings& settings) : settings_(settings) {
    DecodeDate(value, year_, month_, day_);
    DecodeTime(value, hour_, minute_, second_, millisecond_);
    day_of_week_ = year_ > 0 ? DayOfWeek(value) : 0;
  }

  void Append(std::string_view format);
  std::string TakeResult() { return std::move(result_); }

 private:
  const std::string& MonthName(const std::array<std::string, 12>& names) const {
    static const std::string kNone;
    return month_ >= 1 && month_ <= 12 ? names[month_ - 1] : kNone;
  }
  const std::string& DayName(const std::array<std::string, 7>& names) const {
    static const std::string kNone;
    return day_of_week_ >= 1 ? names[day_of_week_ - 1] : kNone;
  }

  const TFormatSettings& settings_;
  std::string result_;
  int level_ = 0;
  int year_, month_, day_, day_of_week_;
  int hour_, minute_, second_, millisecond_;
};

void TDateFormatter::Append(std::string_view format) {
  if (level_ >= 2) return;
  ++level_;
  char last_token = ' ';
  bool use_12_hour = false;
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    char token = AsciiUpper(c);
    if (token >= 'A' && token <= 'Z') {
      if (token == 'M' && last_token == 'H') token = 'N';
      last_token = token;
    }
    size_t count = 1;
    while (i + count < format.size() && format[i + count] == c) ++count;
    switch (token) {
      case 'Y':
        if (count <= 2) {
          AppendNumber(result_, year_ % 100, 2);
        } else {
          AppendNumber(result_, year_, 4);
        }
        i += count;
        break;
      case 'M':
        if (count <= 2) {
          AppendNumber(result_, month_, static_cast<int>(count));
        } else {
          result_ += MonthName(count == 3 ? settings_.ShortMonthNames : settings_.LongMonthNames);
        }
        i += count;
        break;
      case 'D':
        if (count <= 2) {
          AppendNumber(result_, day_, static_cast<int>(count));
        } else if (count == 3) {
          result_ += DayName(settings_.ShortDayNames);
        } else if (count == 4) {
          result_ += DayName(settings_.LongDayNames);
        } else {
          Append(count == 5 ? settings_.ShortDateFormat : settings_.LongDateFormat);
        }
        i += count;
        break;
      case 'H': {
        // A 12-hour clock when an am/pm token follows before the next hour token.
        bool quoted = false;
        for (size_t j = i + count; j < format.size(); ++j) {
          const char p = format[j];
          if (p == '"' || p == '\'') {
            quoted = !quoted;
          } else if (!quoted && (p == 'a' || p == 'A')) {
            if (StartsWithNoCase(format, j, "AM/PM") || StartsWithNoCase(format, j, "A/P") ||
                StartsWithNoCase(format, j, "AMPM")) {
              use_12_hour = true;
            }
            break;
          } else if (!quoted && (p == 'h' || p == 'H')) {
            break;
          }
        }
        int hour = hour_;
        if (use_12_hour) {
          if (hour == 0) {
            hour = 12;
          } else if (hour > 12) {
            hour -= 12;
          }
        }
        AppendNumber(result_, hour, count > 2 ? 2 : static_cast<int>(count));
        i += count;
        break;
      }
      case 'N':
        AppendNumber(result_, minute_, count > 2 ? 2 : static_cast<int>(count));
        i += count;
        break;
      case 'S':
        AppendNumber(result_, second_, count > 2 ? 2 : static_cast<int>(count));
        i += count;
        break;
      case 'Z':
        AppendNumber(result_, millisecond_, count > 3 ? 3 : static_cast<int>(count));
        i += count;
        break;
      case 'T':
        Append(count == 1 ? settings_.ShortTimeFormat : settings_.LongTimeFormat);
        i += count;
        break;
      case 'C':
        Append(settings_.ShortDateFormat);
        if (hour_ != 0 || minute_ != 0 || second_ != 0) {
          result_.push_back(' ');
          Append(settings_.LongTimeFormat);
        }
        i += count;
        break;
      case 'A':
        if (StartsWithNoCase(format, i, "AM/PM")) {
          result_.append(format.substr(i + (hour_ >= 12 ? 3 : 0), 2));
          use_12_hour = true;
          i += 5;
        } else if (StartsWithNoCase(format, i, "A/P")) {
          result_.push_back(format[i + (hour_ >= 12 ? 2 : 0)]);
          use_12_hour = true;
          i += 3;
        } else if (StartsWithNoCase(format, i, "AMPM")) {
          result_ += hour_ < 12 ? settings_.TimeAMString : settings_.TimePMString;
          use_12_hour = true;
          i += 4;
        } else {
          result_.push_back(c);
          ++i;
        }
        break;
      case '/':
        result_.push_back(settings_.DateSeparator);
        ++i;
        break;
      case ':':
        result_.push_back(settings_.TimeSeparator);
        ++i;
        break;
      case '"':
      case '\'': {
        const size_t close = format.find(c, i + 1);
        const size_t end = close == std::string_view::npos ? format.size() : close;
        result_.append(format.substr(i + 1, end - i - 1));
        i = end + 1;
        break;
      }
      default:
        result_.push_back(c);
        ++i;
        break;
    }
  }
  --level_;
}

// ---- parsing ------------------------------------------------------------------------------------

enum class TDateOrder { kMDY, kDMY, kYMD };

TDateOrder GetDateOrder(std::string_view format) {
  for (const char c : format) {
    switch (AsciiUpper(c)) {
      case 'Y':
        return TDateOrder::kYMD;
      case 'M':
        return TDateOrder::kMDY;
      case 'D':
        return TDateOrder::kDMY;
      default:
        break;
    }
  }
  return TDateOrder::kMDY;
}

class TScanner {
 public:
  explicit TScanner(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  size_t Pos() const { return pos_; }
  void SetPos(size_t pos) { pos_ = pos; }

  void Blanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  // Up to four digits (reading stops once the value reaches 1000).
  bool Number(int& value, int& digits) {
    Blanks();
    size_t i = pos_;
    int n = 0;
    while (i < text_.size() && text_[i] >= '0' && text_[i] <= '9' && n < 1000) {
      n = n * 10 + (text_[i] - '0');
      ++i;
    }
    if (i == pos_) return false;
    digits = static_cast<int>(i - pos_);
    pos_ = i;
    value = n;
    return true;
  }

  bool Char(char c) {
    Blanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool Word(std::string_view word) {
    if (word.empty()) return false;
    Blanks();
    if (!StartsWithNoCase(text_, pos_, word)) return false;
    pos_ += word.size();
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

bool ScanDate(TScanner& s, TDateTime& date, const TFormatSettings& settings) {
  const TDateOrder order = GetDateOrder(settings.ShortDateFormat);
  int n1, n2, n3, l1, l2, l3;
  if (!(s.Number(n1, l1) && s.Char(settings.DateSeparator) && s.Number(n2, l2))) return false;
  int year, month, day;
  if (s.Char(settings.DateSeparator)) {
    if (!s.Number(n3, l3)) return false;
    int year_length;
    if (order == TDateOrder::kYMD) {
      year = n1;
      year_length = l1;
      month = n2;
      day = n3;
    } else {
      year = n3;
      year_length = l3;
      month = order == TDateOrder::kMDY ? n1 : n2;
      day = order == TDateOrder::kMDY ? n2 : n1;
    }
    if (year_length <= 2) {
      int current_year, current_month, current_day;
      DecodeDate(cl::Date(), current_year, current_month, current_day);
      const int century_base = current_year - 50;
      year += century_base / 100 * 100;
      if (year < century_base) year += 100;
    }
  } else {
    int current_month, current_day;
    DecodeDate(cl::Date(), year, current_month, current_day);
    month = order == TDateOrder::kDMY ? n2 : n1;
    day = order == TDateOrder::kDMY ? n1 : n2;
  }
  s.Char(settings.DateSeparator);  // a trailing separator is allowed
  s.Blanks();
  return TryEncodeDate(year, month, day, date);
}

bool ScanTime(TScanner& s, TDateTime& time, const TFormatSettings& settings) {
  int base_hour = -1;
  if (s.Word(settings.TimeAMString) || s.Word("AM")) {
    base_hour = 0;
  } else if (s.Word(settings.TimePMString) || s.Word("PM")) {
    base_hour = 12;
  }
  int hour, minute = 0, second = 0, millisecond = 0, digits;
  if (!s.Number(hour, digits)) return false;
  if (s.Char(settings.TimeSeparator)) {
    if (!s.Number(minute, digits)) return false;
    if (s.Char(settings.TimeSeparator)) {
      if (!s.Number(second, digits)) return false;
      if (s.Char(settings.DecimalSeparator) && !s.Number(millisecond, digits)) return false;
    }
  }
  if (base_hour < 0) {
    if (s.Word(settings.TimeAMString) || s.Word("AM")) {
      base_hour = 0;
    } else if (s.Word(settings.TimePMString) || s.Word("PM")) {
      base_hour = 12;
    }
  }
  if (base_hour >= 0) {
    if (hour == 0 || hour > 12) return false;
    if (hour == 12) hour = 0;
    hour += base_hour;
  }
  s.Blanks();
  return TryEncodeTime(hour, minute, second, millisecond, time);
}

[[noreturn]] void Invalid(std::string_view text, const char* what) {
  throw EConvertError("'" + std::string(text) + "' is not a valid " + what);
}

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime date_time,
                           const TFormatSettings& settings) {
  TDateFormatter formatter(date_time, settings);
  formatter.Append(format.empty() ? std::string_view("c") : format);
  return formatter.TakeResult();
}

std::string FormatDateTime(std::string_view format, TDateTime date_time) {
  return FormatDateTime(format, date_time, CurrentFormatSettings());
}

std::string DateToStr(TDateTime date, const TFormatSettings& settings) {
  return FormatDateTime(settings.ShortDateFormat, date, settings);
}

std::string TimeToStr(TDateTime time, const TFormatSettings& settings) {
  return FormatDateTime(settings.LongTimeFormat, time, settings);
}

std::string DateTimeToStr(TDateTime date_time, const TFormatSettings& settings) {
  return FormatDateTime("c", date_time, settings);
}

std::string DateToStr(TDateTime date) { return DateToStr(date, CurrentFormatSettings()); }
std::string TimeToStr(TDateTime time) { return TimeToStr(time, CurrentFormatSettings()); }
std::string DateTimeToStr(TDateTime date_time) {
  return DateTimeToStr(date_time, CurrentFormatSettings());
}

bool TryStrToDate(std::string_view text, TDateTime& date, const TFormatSettings& settings) {
  TScanner s(text);
  TDateTime value;
  if (!ScanDate(s, value, settings) || !s.AtEnd()) return false;
  date = value;
  return true;
}

bool TryStrToTime(std::string_view text, TDateTime& time, const TFormatSettings& settings) {
  TScanner s(text);
  TDateTime value;
  if (!ScanTime(s, value, settings) || !s.AtEnd()) return false;
  time = value;
  return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& date_time,
                      const TFormatSettings& settings) {
  TScanner s(text);
  TDateTime date, time = 0;
  if (ScanDate(s, date, settings) && (s.AtEnd() || (ScanTime(s, time, settings) && s.AtEnd()))) {
    date_time = ComposeDateTime(date, time);
    return true;
  }
  return TryStrToTime(text, date_time, settings);
}

TDateTime StrToDate(std::string_view text, const TFormatSettings& settings) {
  TDateTime value;
  if (!TryStrToDate(text, value, settings)) Invalid(text, "date");
  return value;
}

TDateTime StrToTime(std::string_view text, const TFormatSettings& settings) {
  TDateTime value;
  if (!TryStrToTime(text, value, settings)) Invalid(text, "time");
  return value;
}

TDateTime StrToDateTime(std::string_view text, const TFormatSettings& settings) {
  TDateTime value;
  if (!TryStrToDateTime(text, value, settings)) Invalid(text, "date and time");
  return value;
}

TDateTime StrToDate(std::string_view text) { return StrToDate(text, CurrentFormatSettings()); }
TDateTime StrToTime(std::string_view text) { return StrToTime(text, CurrentFormatSettings()); }
TDateTime StrToDateTime(std::string_view text) {
  return StrToDateTime(text, CurrentFormatSettings());
}

}  // namespace cl
