// The one conversion of an INSERT or UPDATE value into the stored form of its target column, used
// both when a statement is bound (to refuse what can never be stored) and when it runs.
//
// Numbers, dates, times and Booleans reach a string column as their texts in the engine's fixed
// formats, and a string reaches any of them by being read in those formats.  Between numbers the
// value must fit: an integer outside the target's range is refused, never wrapped, and a float or
// money value reaches an integer column rounded half away from zero, refused outside its range.  A
// string longer than its column is cut to the column, as the field store does.  Blobs and raw byte
// values convert to nothing else.
#pragma once

#include <cstdint>

#include "engine/storage/expr/ExpressionNode.h"
#include "engine/storage/table/DataFileFormat.h"

namespace tessera {

// The stored area a converted value needs: a whole value area and its terminating zero.
inline constexpr size_t kUpdateValueAreaSize = kValueAreaSize + 1;

// Writes `value` in the stored form of `field` to `stored` (kUpdateValueAreaSize bytes) and
// returns true; `blank` comes back true for a NULL value (nothing written).  False when the value
// cannot become a value of the column.
bool ConvertUpdateValue(const ExpressionNode& value, const TFieldDefinition& field, uint8_t* stored,
                        bool& blank);

// Whether values of type `from` can ever be converted into a column of type `to` (a check for
// values whose value is not known before the statement runs).
bool UpdateTypesConvertible(uint8_t from, uint8_t to);

}  // namespace tessera
