// Which parts of a filter condition an index can answer, decided before any record is read.
//
// Verdicts (also stored in each analysed node's index_verdict):
//   0  an index answers the condition exactly (a key range, or ranges combined);
//   1  partly: an AND of which one side is answered by an index, the rest tested per record;
//   2  every candidate record must be evaluated.
// Under an AND the better side is moved first, so that it is evaluated first and narrows the
// records the other side must test.  With the count flag a condition under a parent operator that
// would select more than 90 % of the keys of the current range is evaluated per record instead: a
// scan is cheaper than such an index walk.
#pragma once

#include <cstdint>

#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

// What the analysis asks of a table and its indexes.
class IndexAnalysisHost {
 public:
  virtual ~IndexAnalysisHost() = default;

  // Whether some index of the table has `field_number` as its first key field, with keys
  // compared ignoring case (`case_insensitive`) or exactly.
  virtual bool HasIndexLedBy(uint16_t field_number, bool case_insensitive) = 0;

  // The number of keys that `condition` selects through an index led by its column (with the
  // case rule its form asks for).  `condition` is a comparison (codes 3-8) of a column or UPPER of
  // a column with a constant, a prefix comparison (kind 3), an IN, NOT IN, BETWEEN or NOT BETWEEN
  // over constants, or an is-null / is-not-null of a column.  May change the current index.
  virtual uint32_t CountConditionKeys(const ExpressionNode& condition) = 0;

  // The number of keys in the current index's active range (all keys without a range).
  virtual uint32_t CurrentRangeKeyCount() = 0;

  // The current index, saved before the analysis and restored after it (also while an exception
  // passes, so RestoreCurrentIndex must not raise).
  virtual uint32_t SaveCurrentIndex() = 0;
  virtual void RestoreCurrentIndex(uint32_t saved) = 0;
};

inline constexpr uint8_t kVerdictIndexed = 0;
inline constexpr uint8_t kVerdictPartly = 1;
inline constexpr uint8_t kVerdictPerRecord = 2;

// Analyses `node` (a checked tree) under the operator `parent_code` (0 at the root).  The
// current index is restored afterwards, also when the host raises.
uint8_t AnalyzeFilterForIndex(IndexAnalysisHost& table, uint32_t parent_code, ExpressionNode& node,
                              bool count);

}  // namespace tessera
