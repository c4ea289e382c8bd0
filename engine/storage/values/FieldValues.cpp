#include "engine/storage/values/FieldValues.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Currency.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/NumberText.h"
#include "engine/storage/values/FieldTypes.h"
#include "engine/storage/values/MoneyStorage.h"

namespace tessera {
namespace {

constexpr uint16_t kStoredTrue = 0xFFFF;

// The bytes of a fixed-size stored form; 0 for strings, bytes and the uninterpreted types.
size_t FixedSize(uint8_t type) {
  switch (type) {
    case kFieldBoolean:
    case kFieldInt16:
    case kFieldWord:
      return 2;
    case kFieldDate:
    case kFieldInt32:
    case kFieldTime:
      return 4;
    case kFieldFloat:
    case kFieldMoney:
    case kFieldTimeStamp:
      return 8;
    default:
      return 0;
  }
}

bool IsNumber(uint8_t type) {
  return type == kFieldInt16 || type == kFieldInt32 || type == kFieldFloat || type == kFieldMoney ||
         type == kFieldWord;
}

bool IsInteger(uint8_t type) {
  return type == kFieldInt16 || type == kFieldInt32 || type == kFieldWord;
}

std::string ReadString(const uint8_t* buffer, size_t size) {
  const void* zero = std::memchr(buffer, 0, size);
  const size_t length =
      zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - buffer) : size;
  return std::string(reinterpret_cast<const char*>(buffer), length);
}

// A string field image: the text cut to size - 1 characters, a terminating zero, zero fill.
void WriteString(std::vector<uint8_t>& out, std::string_view text) {
  const size_t length = std::min(text.size(), out.size() - 1);
  std::memcpy(out.data(), text.data(), length);
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(length), out.end(), 0);
}

[[noreturn]] void DoesNotFit(const std::string& text) {
  throw cl::EConvertError("'" + text + "' is not a valid integer value");
}

// A numeric source value, read from its stored form.
struct TNumber {
  enum class Kind { kInteger, kReal, kFieldMoney } kind = Kind::kInteger;
  int64_t integer = 0;  // kInteger
  double real = 0;      // kReal
  int64_t stored = 0;   // kFieldMoney: the stored form
};

TNumber ReadNumber(uint8_t type, const uint8_t* p) {
  TNumber n;
  switch (type) {
    case kFieldInt16:
      n.integer = cl::GetI16LE(p);
      break;
    case kFieldInt32:
      n.integer = cl::GetI32LE(p);
      break;
    case kFieldWord:
      n.integer = cl::GetU16LE(p);
      break;
    case kFieldBoolean:
      n.integer = cl::GetU16LE(p) != 0 ? 1 : 0;
      break;
    case kFieldFloat:
      n.kind = TNumber::Kind::kReal;
      n.real = cl::GetF64LE(p);
      break;
    default:  // kFieldMoney
      n.kind = TNumber::Kind::kFieldMoney;
      n.stored = cl::GetI64LE(p);
      break;
  }
  return n;
}

// The number truncated toward zero, checked against [low, high].
int64_t TruncateChecked(const TNumber& n, int64_t low, int64_t high,
                        const TEngineFormatSettings& settings) {
  switch (n.kind) {
    case TNumber::Kind::kInteger:
      if (n.integer < low || n.integer > high) DoesNotFit(cl::IntToStr(n.integer));
      return n.integer;
    case TNumber::Kind::kReal: {
      const double whole = std::trunc(n.real);
      if (!(whole >= static_cast<double>(low) && whole <= static_cast<double>(high))) {
        DoesNotFit(cl::FloatToStr(n.real, settings));
      }
      return static_cast<int64_t>(whole);
    }
    default: {
      const cl::Currency amount = StoredToMoney(n.stored);
      const int64_t whole = amount.Raw / cl::kCurrencyScale;  // truncates toward zero
      if (whole < low || whole > high) DoesNotFit(cl::CurrToStr(amount, settings));
      return whole;
    }
  }
}

void WriteInteger(std::vector<uint8_t>& out, uint8_t type, const TNumber& n,
                  const TEngineFormatSettings& settings) {
  switch (type) {
    case kFieldInt16:
      cl::PutI16LE(out.data(),
                   static_cast<int16_t>(TruncateChecked(n, INT16_MIN, INT16_MAX, settings)));
      break;
    case kFieldInt32:
      cl::PutI32LE(out.data(),
                   static_cast<int32_t>(TruncateChecked(n, INT32_MIN, INT32_MAX, settings)));
      break;
    default:  // kFieldWord
      cl::PutU16LE(out.data(), static_cast<uint16_t>(TruncateChecked(n, 0, UINT16_MAX, settings)));
      break;
  }
}

double NumberToFloat(const TNumber& n) {
  switch (n.kind) {
    case TNumber::Kind::kInteger:
      return static_cast<double>(n.integer);
    case TNumber::Kind::kReal:
      return n.real;
    default:
      return StoredToFloat(n.stored);
  }
}

std::string NumberToText(uint8_t type, const TNumber& n, const TEngineFormatSettings& settings) {
  if (type == kFieldBoolean) return BoolToText(n.integer != 0);
  switch (n.kind) {
    case TNumber::Kind::kInteger:
      return cl::IntToStr(n.integer);
    case TNumber::Kind::kReal:
      return cl::FloatToStr(n.real, settings);
    default:
      return cl::CurrToStr(StoredToMoney(n.stored), settings);
  }
}

// The text of a date, time or timestamp in its stored form.
std::string DateTimeToText(uint8_t type, const uint8_t* p, const TEngineFormatSettings& settings) {
  switch (type) {
    case kFieldDate:
      return cl::DateToStr(StoredDateToDateTime(cl::GetU32LE(p)), settings);
    case kFieldTime:
      return cl::TimeToStr(StoredTimeToDateTime(cl::GetU32LE(p)), settings);
    default:
      return cl::DateTimeToStr(StoredTimeStampToDateTime(cl::GetF64LE(p)), settings);
  }
}

// Parses text into the stored form of a date, time or timestamp; false for other types.
bool ParseDateTime(std::string_view text, uint8_t type, const TEngineFormatSettings& settings,
                   uint8_t* value) {
  switch (type) {
    case kFieldDate:
      cl::PutU32LE(value, DateTimeToStoredDate(cl::StrToDate(text, settings)));
      return true;
    case kFieldTime:
      cl::PutU32LE(value, DateTimeToStoredTime(cl::StrToTime(text, settings)));
      return true;
    case kFieldTimeStamp:
      cl::PutF64LE(value, DateTimeToStoredTimeStamp(cl::StrToDateTime(text, settings)));
      return true;
    default:
      return false;
  }
}

// The converted image of a value, or nothing for a pair that is not supported.
std::optional<std::vector<uint8_t>> Convert(uint8_t source_type, size_t source_size,
                                            const uint8_t* source, uint8_t dest_type,
                                            size_t dest_size, uint8_t dest_decimals,
                                            const TEngineFormatSettings& settings) {
  const size_t fixed = FixedSize(dest_type);
  if (fixed != 0 && dest_size < fixed) return std::nullopt;
  if (dest_type == kFieldString && dest_size == 0) return std::nullopt;
  std::vector<uint8_t> out(fixed != 0 ? fixed : dest_size, 0);

  // Copies: the same string, bytes or uninterpreted type, and anything but a blob to bytes.
  if (source_type == dest_type && dest_type == kFieldString) {
    WriteString(out, ReadString(source, source_size));
    return out;
  }
  const bool copy_to_bytes =
      dest_type == kFieldBytes &&
      (source_type == kFieldString || source_type == kFieldBytes || IsNumber(source_type) ||
       source_type == kFieldBoolean || source_type == kFieldDate || source_type == kFieldTime ||
       source_type == kFieldTimeStamp);
  if (copy_to_bytes) {
    std::memcpy(out.data(), source, std::min(source_size, dest_size));
    return out;
  }
  if (source_type == dest_type) return std::nullopt;  // unchanged: the caller keeps the buffer

  if (dest_type == kFieldString) {
    std::string text;
    if (IsNumber(source_type) || source_type == kFieldBoolean) {
      text = NumberToText(source_type, ReadNumber(source_type, source), settings);
    } else if (source_type == kFieldDate || source_type == kFieldTime ||
               source_type == kFieldTimeStamp) {
      text = DateTimeToText(source_type, source, settings);
    } else {
      return std::nullopt;
    }
    WriteString(out, text);
    return out;
  }

  if (source_type == kFieldString) {
    const std::string text = ReadString(source, source_size);
    if (ParseDateTime(text, dest_type, settings, out.data())) return out;
    switch (dest_type) {
      case kFieldBoolean:
        cl::PutU16LE(out.data(), TextToBool(text) ? kStoredTrue : 0);
        return out;
      case kFieldInt16:
      case kFieldInt32:
      case kFieldWord: {
        TNumber n;
        n.integer = cl::StrToInt64(text);
        WriteInteger(out, dest_type, n, settings);
        return out;
      }
      case kFieldFloat:
        cl::PutF64LE(out.data(), cl::StrToFloat(text, settings));
        return out;
      case kFieldMoney:
        cl::PutI64LE(out.data(), MoneyToStored(dest_decimals, cl::StrToCurr(text, settings)));
        return out;
      default:
        return std::nullopt;
    }
  }

  const bool numeric_source = IsNumber(source_type) || source_type == kFieldBoolean;
  if (numeric_source && (IsNumber(dest_type) || dest_type == kFieldBoolean)) {
    if (source_type == kFieldBoolean && dest_type == kFieldFloat) return std::nullopt;
    if (dest_type == kFieldBoolean && source_type != kFieldInt16 && source_type != kFieldWord)
      return std::nullopt;
    const TNumber n = ReadNumber(source_type, source);
    if (dest_type == kFieldBoolean) {
      cl::PutU16LE(out.data(), n.integer != 0 ? kStoredTrue : 0);
    } else if (IsInteger(dest_type)) {
      WriteInteger(out, dest_type, n, settings);
    } else if (dest_type == kFieldFloat) {
      cl::PutF64LE(out.data(), NumberToFloat(n));
    } else {  // money
      int64_t stored;
      switch (n.kind) {
        case TNumber::Kind::kInteger:
          stored = MoneyToStored(dest_decimals, cl::IntToCurr(n.integer));
          break;
        case TNumber::Kind::kReal:
          stored = MoneyToStored(dest_decimals, cl::FloatToCurr(n.real));
          break;
        default:
          stored = MoneyToStored(dest_decimals, StoredToMoney(n.stored));
          break;
      }
      cl::PutI64LE(out.data(), stored);
    }
    return out;
  }

  if (source_type == kFieldTimeStamp && (dest_type == kFieldDate || dest_type == kFieldTime)) {
    const cl::TTimeStamp ts = cl::MSecsToTimeStamp(cl::GetF64LE(source));
    cl::PutU32LE(out.data(), static_cast<uint32_t>(dest_type == kFieldDate ? ts.Date : ts.Time));
    return out;
  }
  if (dest_type == kFieldTimeStamp && source_type == kFieldDate) {
    cl::PutF64LE(out.data(), static_cast<double>(cl::GetU32LE(source)) * cl::kMSecsPerDay);
    return out;
  }
  if (dest_type == kFieldTimeStamp && source_type == kFieldTime) {
    cl::PutF64LE(out.data(),
                 static_cast<double>(cl::kDateDelta) * cl::kMSecsPerDay + cl::GetU32LE(source));
    return out;
  }
  return std::nullopt;
}

}  // namespace

uint32_t DateTimeToStoredDate(cl::TDateTime value) {
  return static_cast<uint32_t>(cl::DateTimeToTimeStamp(value).Date);
}

uint32_t DateTimeToStoredTime(cl::TDateTime value) {
  return static_cast<uint32_t>(cl::DateTimeToTimeStamp(value).Time);
}

double DateTimeToStoredTimeStamp(cl::TDateTime value) {
  return cl::TimeStampToMSecs(cl::DateTimeToTimeStamp(value));
}

cl::TDateTime StoredDateToDateTime(uint32_t day_number) {
  if (day_number > static_cast<uint32_t>(INT32_MAX)) {
    throw cl::EConvertError("'" + std::to_string(day_number) + ".0' is not a valid timestamp");
  }
  return cl::TimeStampToDateTime(cl::TTimeStamp{0, static_cast<int32_t>(day_number)});
}

cl::TDateTime StoredTimeToDateTime(uint32_t milliseconds) {
  if (milliseconds > static_cast<uint32_t>(INT32_MAX)) {
    throw cl::EConvertError("'" + std::to_string(cl::kDateDelta) + "." +
                            std::to_string(milliseconds) + "' is not a valid timestamp");
  }
  return cl::TimeStampToDateTime(
      cl::TTimeStamp{static_cast<int32_t>(milliseconds), cl::kDateDelta});
}

cl::TDateTime StoredTimeStampToDateTime(double milliseconds) {
  return cl::TimeStampToDateTime(cl::MSecsToTimeStamp(milliseconds));
}

bool TextToDateTimeValue(std::string_view text, uint8_t type, const TEngineFormatSettings& settings,
                         uint8_t* value) {
  uint8_t image[8];
  if (!ParseDateTime(text, type, settings, image)) return false;
  std::memcpy(value, image, FixedSize(type));
  return true;
}

bool ValidateFieldText(std::string_view text, uint8_t type, const TEngineFormatSettings& settings) {
  if (text.empty() || type == kFieldString || type == kFieldBytes) return true;
  try {
    cl::TDateTime date_time;
    switch (type) {
      case kFieldBoolean:
        TextToBool(text);
        return true;
      case kFieldWord: {
        int64_t v;
        return cl::TryStrToInt64(text, v) && v >= 0 && v <= UINT16_MAX;
      }
      case kFieldInt16: {
        int64_t v;
        return cl::TryStrToInt64(text, v) && v >= INT16_MIN && v <= INT16_MAX;
      }
      case kFieldInt32: {
        int32_t v;
        return cl::TryStrToInt(text, v);
      }
      case kFieldFloat: {
        double v;
        return cl::TryStrToFloat(text, v, settings);
      }
      case kFieldMoney: {
        cl::Currency v;
        return cl::TryStrToCurr(text, v, settings);
      }
      case kFieldDate:
        return cl::SameAsciiText(text, "DATE") || cl::TryStrToDate(text, date_time, settings);
      case kFieldTime:
        return cl::SameAsciiText(text, "TIME") || cl::TryStrToTime(text, date_time, settings);
      case kFieldTimeStamp:
        return cl::SameAsciiText(text, "NOW") || cl::SameAsciiText(text, "DATE") ||
               cl::SameAsciiText(text, "TIME") || cl::TryStrToDateTime(text, date_time, settings);
      default:
        return false;
    }
  } catch (const cl::EConvertError&) {
    return false;
  }
}

std::string BoolToText(bool value) { return value ? "True" : "False"; }

bool TextToBool(std::string_view text) {
  if (cl::SameAsciiText(text, "TRUE")) return true;
  if (cl::SameAsciiText(text, "FALSE")) return false;
  throw cl::EConvertError("'" + std::string(text) + "' is not a valid boolean value");
}

bool ConvertFieldValue(uint8_t source_type, size_t source_size, uint8_t* buffer, uint8_t dest_type,
                       size_t dest_size, uint8_t dest_decimals,
                       const TEngineFormatSettings& settings) {
  const auto image =
      Convert(source_type, source_size, buffer, dest_type, dest_size, dest_decimals, settings);
  if (!image) return source_type == dest_type;  // the same type stays as it is
  std::memcpy(buffer, image->data(), image->size());
  return true;
}

}  // namespace tessera
