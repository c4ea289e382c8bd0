// Helpers shared by the table engine's tests: the engine code an action raises, and field and
// index definitions written the short way.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/table/DataFileFormat.h"

namespace tessera::testing {

// The code of the first error `action` raises through RaiseEngineError, or 0 when it raises none.
inline int EngineCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETesseraEngineError& e) {
    return e.GetError(0).ErrorCode();
  }
  return 0;
}

// A field definition; `size` only for the types that have one (strings, bytes).
inline TFieldDefinition Field(uint16_t number, const char* name, uint8_t type, uint8_t size = 0) {
  TFieldDefinition d;
  d.number = number;
  d.name = name;
  d.type = type;
  d.size = size;
  return d;
}

// An index on `fields` in key order; the primary index has no name.
inline TIndexDescriptor Index(const char* name, std::initializer_list<uint16_t> fields,
                              bool unique) {
  TIndexDescriptor x;
  x.name = name;
  x.unique = unique ? 1 : 0;
  for (uint16_t f : fields) x.field_numbers[x.field_count++] = f;
  return x;
}

}  // namespace tessera::testing
