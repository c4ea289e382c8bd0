#include "engine/storage/table/FieldExpressionValues.h"

#include <algorithm>
#include <cstring>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Currency.h"
#include "classlib/rtl/Exceptions.h"
#include "engine/storage/expr/ExpressionOperators.h"
#include "engine/storage/values/MoneyStorage.h"

namespace tessera {

void BindColumnNode(const TFieldDefinition& field, ExpressionNode& column) {
  column.field_number = field.number;
  column.type = field.type;
  column.sub_type = field.sub_type;
  column.size = static_cast<uint8_t>(std::min<uint16_t>(field.stored_size, kValueAreaSize));
  column.decimals = field.decimals_copy;
}

void StoredToExpressionValue(const TFieldDefinition& field, const uint8_t* data, bool blank,
                             ExpressionNode& node) {
  node.ClearValue();
  node.is_null = blank ? 1 : 0;
  if (blank) return;
  switch (field.type) {
    case kFieldString: {
      const char* chars = reinterpret_cast<const char*>(data);
      node.SetString(std::string_view(chars, strnlen(chars, field.stored_size)));
      break;
    }
    case kFieldDate:
    case kFieldTime:
      node.SetUInt32(cl::GetU32LE(data));
      break;
    case kFieldInt32:
      node.SetInt32(static_cast<int32_t>(cl::GetU32LE(data)));
      break;
    case kFieldInt16:
      node.SetInt16(static_cast<int16_t>(cl::GetU16LE(data)));
      break;
    case kFieldWord:
      node.SetWord(cl::GetU16LE(data));
      break;
    case kFieldBoolean:
      node.SetBoolean(cl::GetU16LE(data) != 0);
      break;
    case kFieldFloat:
    case kFieldTimeStamp:
      node.SetFloat(cl::GetF64LE(data));
      break;
    case kFieldMoney:
      try {
        node.SetInt64(StoredToMoney(static_cast<int64_t>(cl::GetU64LE(data))).Raw);
      } catch (const cl::EConvertError&) {
        // Only damage stores such a value; it compares as unknown instead of stopping every
        // filter and computed field of the table.
        node.ClearValue();
        node.is_null = 1;
      }
      break;
    default:
      std::memcpy(node.value.data(), data, std::min<size_t>(field.stored_size, kValueAreaSize));
      break;
  }
}

namespace {

bool SameValue(const ExpressionNode& a, const ExpressionNode& b) {
  ExpressionNode answer;
  EvaluateBinaryOperator(kOpEqual, a, b, answer);
  return answer.type == kExprTypeBoolean && !answer.is_null && answer.BooleanValue();
}

}  // namespace

bool ExpressionValueToStored(const ExpressionNode& value, const TFieldDefinition& field, bool exact,
                             uint8_t* stored) {
  if (value.is_null) return false;
  std::memset(stored, 0, field.stored_size);
  if (field.type == kFieldString) {
    if (value.type != kExprTypeString) return false;
    std::string_view s = value.StringValue();
    const size_t room = field.stored_size > 0 ? field.stored_size - 1u : 0u;
    if (exact && (s.empty() || s.size() > room || s.back() == ' ')) return false;
    s = s.substr(0, room);
    std::memcpy(stored, s.data(), s.size());
    return true;
  }
  ExpressionNode converted;
  converted.decimals = field.decimals_copy;
  ConvertValue(value, field.type, field.decimals_copy, converted);
  const bool same_kind = converted.type == field.type ||
                         (field.type == kFieldBoolean && value.type == kExprTypeBoolean);
  if (!same_kind || converted.is_null) return false;
  if (exact && !SameValue(converted, value)) return false;
  switch (field.type) {
    case kFieldDate:
    case kFieldTime:
      cl::PutU32LE(stored, converted.UInt32Value());
      return true;
    case kFieldInt32:
      cl::PutU32LE(stored, static_cast<uint32_t>(converted.Int32Value()));
      return true;
    case kFieldInt16:
      cl::PutU16LE(stored, static_cast<uint16_t>(converted.Int16Value()));
      return true;
    case kFieldWord:
      cl::PutU16LE(stored, converted.WordValue());
      return true;
    case kFieldBoolean:
      cl::PutU16LE(stored, value.BooleanValue() ? 1 : 0);
      return true;
    case kFieldFloat:
    case kFieldTimeStamp:
      cl::PutF64LE(stored, converted.FloatValue());
      return true;
    case kFieldMoney:
      try {
        cl::PutU64LE(stored,
                     static_cast<uint64_t>(MoneyToStored(
                         field.decimals_copy, cl::Currency::FromRaw(converted.Int64Value()))));
      } catch (const cl::EConvertError&) {
        return false;  // beyond the stored form's range: the caller stores a blank or scans
      }
      return true;
    default:
      return false;
  }
}

}  // namespace tessera
