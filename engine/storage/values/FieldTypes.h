// The field type codes, as a table's field definitions store them (one byte).
//
// Every layer that looks at a field's type uses these: values convert between their stored forms,
// index code refuses blob key fields and compares string keys by collation, the data file format
// (engine/storage/table/DataFileFormat.h) stores them.  The numbers are part of the file format
// and never change.
#pragma once

#include <cstdint>

namespace tessera {

enum TFieldType : uint8_t {
  kFieldString = 1,
  kFieldDate = 2,
  kFieldBlob = 3,
  kFieldBoolean = 4,
  kFieldInt16 = 5,
  kFieldInt32 = 6,
  kFieldFloat = 7,
  kFieldMoney = 8,
  kFieldBytes = 9,
  kFieldTime = 10,
  kFieldTimeStamp = 11,
  kFieldWord = 12,
  kFieldFourBytes = 13,
  kFieldTenBytes = 14,
  kFieldSized = 15,
};
inline constexpr uint8_t kLastFieldType = kFieldSized;

// The types whose definition carries a size (1 to 250 bytes); every other type has a fixed one.
constexpr bool HasDeclaredSize(uint8_t type) {
  return type == kFieldString || type == kFieldBytes || type == kFieldSized;
}

}  // namespace tessera
