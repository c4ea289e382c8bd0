#include "engine/sql/UpdateValues.h"

#include <cstring>
#include <string>

#include "classlib/rtl/Exceptions.h"
#include "engine/storage/expr/ExpressionOperators.h"
#include "engine/storage/expr/ExpressionTypes.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/values/EngineFormats.h"
#include "engine/storage/values/FieldValues.h"

namespace tessera {

namespace {

bool IsNumberLike(uint8_t type) { return IsNumericType(type) || type == kFieldBoolean; }

bool IsConvertibleThroughText(uint8_t type) {
  return IsNumberLike(type) || IsDateTimeType(type) || type == kFieldString;
}

// A definition of `type` able to hold any value of it, to read a value's stored form.
TFieldDefinition WideDefinition(uint8_t type) {
  TFieldDefinition d;
  d.type = type;
  d.decimals = d.decimals_copy = 4;  // money values carry 1/10000 units
  d.size = type == kFieldString ? kMaxDeclaredSize : 0;
  d.stored_size = type == kFieldString ? kValueAreaSize : ValueSizeOfType(type);
  return d;
}

// The value's text in the fixed formats (a string: itself).
bool ValueAsText(const ExpressionNode& value, std::string& text) {
  if (value.type == kFieldString) {
    text = std::string(value.StringValue());
    return true;
  }
  uint8_t buffer[kUpdateValueAreaSize] = {};
  const TFieldDefinition source = WideDefinition(value.type);
  if (!ExpressionValueToStored(value, source, false, buffer)) return false;
  try {
    if (!ConvertFieldValue(value.type, source.stored_size, buffer, kFieldString,
                           kUpdateValueAreaSize - 1, 0, FixedFormatSettings())) {
      return false;
    }
  } catch (const cl::EConvertError&) {
    return false;
  }
  text = reinterpret_cast<const char*>(buffer);
  return true;
}

bool TextToField(const std::string& text, const TFieldDefinition& field, uint8_t* stored) {
  if (field.type == kFieldString) {
    const size_t room = field.stored_size > 0 ? field.stored_size - 1u : 0u;
    std::memset(stored, 0, field.stored_size);
    std::memcpy(stored, text.data(), std::min(room, text.size()));
    return true;
  }
  uint8_t buffer[kUpdateValueAreaSize] = {};
  std::memcpy(buffer, text.data(), std::min(text.size(), kUpdateValueAreaSize - 1));
  try {
    if (!ConvertFieldValue(kFieldString, kUpdateValueAreaSize, buffer, field.type,
                           field.stored_size, field.decimals_copy, FixedFormatSettings())) {
      return false;
    }
  } catch (const cl::EConvertError&) {
    return false;
  }
  std::memcpy(stored, buffer, field.stored_size);
  return true;
}

}  // namespace

bool UpdateTypesConvertible(uint8_t from, uint8_t to) {
  if (from == to || from == kExprTypeNone) return true;
  if (IsNumberLike(from) && IsNumberLike(to)) return true;
  if (from == kFieldString || to == kFieldString) {
    return IsConvertibleThroughText(from) && IsConvertibleThroughText(to);
  }
  return IsDateTimeType(from) && IsDateTimeType(to) &&
         (from == kFieldTimeStamp || to == kFieldTimeStamp);
}

bool ConvertUpdateValue(const ExpressionNode& value, const TFieldDefinition& field, uint8_t* stored,
                        bool& blank) {
  blank = value.is_null != 0;
  if (blank) return true;
  if (!UpdateTypesConvertible(value.type, field.type)) return false;
  if (value.type == field.type || field.type == kFieldString || value.type == kFieldString) {
    if (value.type == field.type && field.type != kFieldString) {
      return ExpressionValueToStored(value, field, false, stored);
    }
    std::string text;
    return ValueAsText(value, text) && TextToField(text, field, stored);
  }
  // Between numbers, Booleans, dates and times: exact, or rounded from a fraction.
  if (ExpressionValueToStored(value, field, true, stored)) return true;
  const bool fraction_to_integer = (value.type == kFieldFloat || value.type == kFieldMoney) &&
                                   (IsIntegerType(field.type) || field.type == kFieldMoney);
  if (fraction_to_integer || (IsDateTimeType(value.type) && IsDateTimeType(field.type))) {
    // ConvertValue rounds half away from zero and gives NULL outside the target's range.
    ExpressionNode converted;
    ConvertValue(value, field.type, field.decimals_copy, converted);
    if (converted.is_null || converted.type != field.type) return false;
    return ExpressionValueToStored(converted, field, false, stored);
  }
  if (value.type == kFieldBoolean || field.type == kFieldBoolean) {
    uint8_t buffer[kUpdateValueAreaSize] = {};
    const TFieldDefinition source = WideDefinition(value.type);
    if (!ExpressionValueToStored(value, source, false, buffer)) return false;
    try {
      if (!ConvertFieldValue(value.type, source.stored_size, buffer, field.type, field.stored_size,
                             field.decimals_copy, FixedFormatSettings())) {
        return false;
      }
    } catch (const cl::EConvertError&) {
      return false;
    }
    std::memcpy(stored, buffer, field.stored_size);
    return true;
  }
  return false;
}

}  // namespace tessera
