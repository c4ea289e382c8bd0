#include "engine/storage/table/FieldAccess.h"

#include <cmath>
#include <cstring>
#include <string>

#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Currency.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/NumberText.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/values/EngineStrings.h"
#include "engine/storage/values/FieldValues.h"
#include "engine/storage/values/MoneyStorage.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera {
namespace {

// Wide enough for any stored size a checked definition can have (a string of 250 takes 251).
constexpr size_t kWorkArea = 256;

[[noreturn]] void InvalidText(const TFieldDefinition& d, std::string_view data_file) {
  RaiseEngineError(kErrInvalidValidityCheck, data_file, d.name);
}

// The types whose bound and default texts TextToStored reads (2, 5-8, 10-12).
bool IsTypedTextType(uint8_t type) {
  switch (type) {
    case kFieldDate:
    case kFieldTime:
    case kFieldTimeStamp:
    case kFieldInt16:
    case kFieldInt32:
    case kFieldWord:
    case kFieldFloat:
    case kFieldMoney:
      return true;
    default:
      return false;
  }
}

// The stored form of a typed bound or default text, or false when the text does not read as the
// type (or the type is none of IsTypedTextType's).  Strings and booleans are handled by the
// callers.
bool TextToStored(std::string_view text, const TFieldDefinition& d,
                  const TEngineFormatSettings& settings, cl::TDateTime now, uint8_t* out) {
  try {
    switch (d.type) {
      case kFieldDate:
      case kFieldTime:
      case kFieldTimeStamp:
        return DateTimeTextToStored(text, d.type, settings, now, out);
      case kFieldInt16:
      case kFieldInt32:
      case kFieldWord: {
        int64_t v;
        if (!cl::TryStrToInt64(text, v)) return false;
        if (d.type == kFieldInt16) {
          if (v < INT16_MIN || v > INT16_MAX) return false;
          cl::PutI16LE(out, static_cast<int16_t>(v));
        } else if (d.type == kFieldWord) {
          if (v < 0 || v > UINT16_MAX) return false;
          cl::PutU16LE(out, static_cast<uint16_t>(v));
        } else {
          if (v < INT32_MIN || v > INT32_MAX) return false;
          cl::PutI32LE(out, static_cast<int32_t>(v));
        }
        return true;
      }
      case kFieldFloat: {
        double v;
        if (!cl::TryStrToFloat(text, v, settings)) return false;
        cl::PutF64LE(out, v);
        return true;
      }
      case kFieldMoney: {
        cl::Currency amount;
        if (!cl::TryStrToCurr(text, amount, settings)) return false;
        cl::PutI64LE(out, MoneyToStored(d.decimals_copy, amount));
        return true;
      }
      default:
        return false;
    }
  } catch (const cl::EConvertError&) {
    return false;  // out of the type's range (a money amount that does not fit, say)
  }
}

std::string StringValue(const uint8_t* data, size_t stored_size) {
  const void* zero = std::memchr(data, 0, stored_size);
  const size_t length =
      zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : stored_size;
  return std::string(reinterpret_cast<const char*>(data), length);
}

// -1, 0 or 1: the field's value against its bound text; 0 for the types that take no bounds.
int CompareWithBound(const TFieldDefinition& d, const uint8_t* value, std::string_view bound,
                     uint16_t language, uint16_t sort, const TEngineFormatSettings& settings,
                     cl::TDateTime now, std::string_view data_file) {
  auto sign = [](auto a, auto b) { return a < b ? -1 : (a > b ? 1 : 0); };
  if (d.type == kFieldString) {
    const std::string text = StringValue(value, d.stored_size);
    const std::string limit(bound);
    return CompareStrings(language, sort, text.c_str(), false, 0, limit.c_str());
  }
  if (!IsTypedTextType(d.type)) return 0;
  if (d.type == kFieldMoney) {
    cl::Currency amount;
    if (!cl::TryStrToCurr(bound, amount, settings)) InvalidText(d, data_file);
    cl::Currency rounded, stored;
    try {
      rounded = RoundCurrency(d.decimals_copy, amount);
      stored = StoredToMoney(cl::GetI64LE(value));
    } catch (const cl::EConvertError&) {
      InvalidText(d, data_file);
    }
    return sign(stored, rounded);
  }
  uint8_t limit[8] = {};
  if (!TextToStored(bound, d, settings, now, limit)) InvalidText(d, data_file);
  switch (d.type) {
    case kFieldDate:
    case kFieldTime:
      return sign(cl::GetU32LE(value), cl::GetU32LE(limit));
    case kFieldTimeStamp:
    case kFieldFloat: {
      const double a = cl::GetF64LE(value);
      const double b = cl::GetF64LE(limit);
      // A NaN in a record is neither above nor below any bound.
      if (std::isnan(a) || std::isnan(b)) return 0;
      return sign(a, b);
    }
    case kFieldInt16:
      return sign(cl::GetI16LE(value), cl::GetI16LE(limit));
    case kFieldInt32:
      return sign(cl::GetI32LE(value), cl::GetI32LE(limit));
    default:  // kFieldWord
      return sign(cl::GetU16LE(value), cl::GetU16LE(limit));
  }
}

}  // namespace

bool BlobHandleOf(int32_t stored, int32_t& handle) {
  // The most negative value has no positive handle: damage, not an open value.
  if (stored >= 0 || stored == INT32_MIN) return false;
  handle = -stored;
  return true;
}

bool DateTimeTextToStored(std::string_view text, uint8_t type,
                          const TEngineFormatSettings& settings, cl::TDateTime now,
                          uint8_t* stored) {
  const cl::TDateTime today = std::trunc(now);
  const cl::TDateTime time_of_day = now - today;
  try {
    switch (type) {
      case kFieldDate:
        if (cl::SameAsciiText(text, "DATE")) {
          cl::PutU32LE(stored, DateTimeToStoredDate(today));
          return true;
        }
        break;
      case kFieldTime:
        if (cl::SameAsciiText(text, "TIME")) {
          cl::PutU32LE(stored, DateTimeToStoredTime(time_of_day));
          return true;
        }
        break;
      case kFieldTimeStamp: {
        const bool keyword_now = cl::SameAsciiText(text, "NOW");
        const bool keyword_date = cl::SameAsciiText(text, "DATE");
        const bool keyword_time = cl::SameAsciiText(text, "TIME");
        if (keyword_now || keyword_date || keyword_time) {
          const cl::TDateTime value = keyword_now ? now : (keyword_date ? today : time_of_day);
          cl::PutF64LE(stored, DateTimeToStoredTimeStamp(value));
          return true;
        }
        break;
      }
      default:
        return false;
    }
    return TextToDateTimeValue(text, type, settings, stored);
  } catch (const cl::EConvertError&) {
    return false;
  }
}

bool GetFieldValue(const TFieldDefinition& d, const uint8_t* record, uint8_t* value,
                   const TOpenBlobSize& blob_size) {
  if (d.IsAutoIncrement()) {
    if (value != nullptr) std::memcpy(value, record + kRecSequence, 4);
    return false;
  }
  const uint8_t* data = record + d.offset + 1;
  bool blank = record[d.offset] == 0;
  if (d.IsBlob()) {
    int32_t handle = 0;
    if (BlobHandleOf(cl::GetI32LE(data), handle)) {
      int32_t size = 0;
      blank = (blob_size && blob_size(handle, size)) ? size == 0 : false;
    }
  }
  if (value != nullptr) std::memcpy(value, data, d.stored_size);
  return blank;
}

bool PutFieldValue(const TFieldDefinition& d, bool force, const uint8_t* value, uint8_t* record,
                   const TOpenBlobSize& blob_size) {
  if (d.computed && !force) return false;
  uint8_t* null_byte = record + d.offset;
  uint8_t* data = null_byte + 1;
  if (value == nullptr) {
    if (d.IsAutoIncrement()) return false;
    *null_byte = 0;
    std::memset(data, 0, d.stored_size);
    return true;
  }
  if (d.IsAutoIncrement()) {
    std::memcpy(record + kRecSequence, value, 4);
    return true;
  }
  const size_t size = d.stored_size < kWorkArea ? d.stored_size : kWorkArea;
  if (d.type == kFieldString) {
    // The text ends at its terminator, or at the last byte, the terminator's place; trailing
    // blanks go.  Nothing of the caller's buffer survives the end: keys are built from all the
    // stored bytes, so equal texts must be equal bytes.  The value may lie in the record itself.
    const void* end = size == 0 ? nullptr : std::memchr(value, 0, size - 1);
    size_t length = end != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(end) - value)
                    : size == 0    ? 0
                                   : size - 1;
    while (length > 0 && value[length - 1] == ' ') --length;
    std::memmove(data, value, length);
    std::memset(data + length, 0, size - length);
    *null_byte = length > 0 ? 1 : 0;
    return true;
  }
  // Only the bytes a type reads past a short stored size are cleared: a whole zeroed work area
  // for every value of every row costs more than the copy itself.
  uint8_t work[kWorkArea];
  std::memset(work, 0, 8);
  std::memcpy(work, value, size);
  switch (d.type) {
    case kFieldBlob: {
      const int32_t stored = cl::GetI32LE(work);
      int32_t handle = 0;
      if (BlobHandleOf(stored, handle)) {
        int32_t blob_bytes = 0;
        *null_byte = (blob_size && blob_size(handle, blob_bytes) && blob_bytes > 0) ? 1 : 0;
      } else {
        *null_byte = stored != 0 ? 1 : 0;
      }
      std::memcpy(data, work, 4);
      break;
    }
    case kFieldBoolean:
      cl::PutU16LE(work, cl::GetU16LE(work) > 1 ? 1 : cl::GetU16LE(work));
      *null_byte = 1;
      std::memcpy(data, work, 2);
      break;
    default:
      *null_byte = 1;
      std::memcpy(data, work, size);
      break;
  }
  return true;
}

void ApplyFieldDefaults(const std::vector<TFieldDefinition>& definitions, size_t count,
                        const TEngineFormatSettings& settings, cl::TDateTime now, uint8_t* record,
                        size_t buffer_size, const TOpenBlobSize& blob_size,
                        std::string_view data_file) {
  std::memset(record, 0, buffer_size);
  if (count > definitions.size()) count = definitions.size();
  for (size_t i = 0; i < count; ++i) {
    const TFieldDefinition& d = definitions[i];
    if (d.default_value.empty()) continue;
    uint8_t value[kWorkArea] = {};
    switch (d.type) {
      case kFieldString: {
        const size_t n =
            d.default_value.size() < kWorkArea - 1 ? d.default_value.size() : kWorkArea - 1;
        std::memcpy(value, d.default_value.data(), n);
        break;
      }
      case kFieldBoolean:
        try {
          cl::PutU16LE(value, TextToBool(d.default_value) ? 0xFFFF : 0);
        } catch (const cl::EConvertError&) {
          InvalidText(d, data_file);
        }
        break;
      default:
        // Blobs, bytes and the uninterpreted types take no default.
        if (!IsTypedTextType(d.type)) continue;
        if (!TextToStored(d.default_value, d, settings, now, value)) InvalidText(d, data_file);
        break;
    }
    PutFieldValue(d, false, value, record, blob_size);
  }
}

void ValidateRecord(const std::vector<TFieldDefinition>& definitions, uint16_t language,
                    uint16_t sort, const TEngineFormatSettings& settings, cl::TDateTime now,
                    const uint8_t* record, const TOpenBlobSize& blob_size,
                    std::string_view data_file) {
  for (const TFieldDefinition& d : definitions) {
    if (!d.required && d.minimum.empty() && d.maximum.empty()) continue;
    uint8_t value[kWorkArea] = {};
    const bool blank = GetFieldValue(d, record, value, blob_size);
    if (d.required && blank) RaiseEngineError(kErrRequiredField, data_file, d.name);
    if (!d.minimum.empty() &&
        CompareWithBound(d, value, d.minimum, language, sort, settings, now, data_file) < 0) {
      RaiseEngineError(kErrBelowMinimum, data_file, d.name);
    }
    if (!d.maximum.empty() &&
        CompareWithBound(d, value, d.maximum, language, sort, settings, now, data_file) > 0) {
      RaiseEngineError(kErrAboveMaximum, data_file, d.name);
    }
  }
}

}  // namespace tessera
