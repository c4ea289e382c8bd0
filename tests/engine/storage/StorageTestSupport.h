// Helpers shared by the table engine's tests and fuzz targets: the engine code an action raises,
// field and index definitions written the short way, and a filter text bound to a table.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/expr/TExpressionParser.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/table/DataFileFormat.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TDataFile.h"

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

// The tree of a filter `text` on `t`'s own fields, checked and bound as a filter's is.
inline ExpressionNodePtr ParseFilter(TDataFile& t, const std::string& text) {
  TExpressionParser parser;
  parser.SetText(text);
  parser.NextToken();
  ExpressionNodePtr tree = parser.ParseExpression(4, "filter");
  CheckExpression("filter", *tree, [&](ExpressionNode& column) {
    for (const TFieldDefinition& f : t.TableFields()) {
      if (f.name == column.column_name) {
        BindColumnNode(f, column);
        return true;
      }
    }
    return false;
  });
  return tree;
}

}  // namespace tessera::testing
