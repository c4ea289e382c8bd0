// The join loop: the combined rows of a statement's source tables, in the order of the links.
//
// Every source table has its own record buffer; the combined row is the set of current buffers,
// and column references of the select list, the residual and the link conditions read from them
// (JoinedRowColumns).  The driving table (position 1) is read in its current index order, through
// its table filters; for each of its rows the children of its links vary like an odometer, the
// last link fastest.  A typed link installs, for each parent row, the filter "child side, mirrored
// operator, parent value" on its child (added the first time, replaced afterwards), so that an
// index can limit the child's rows; a single equality that an index of the child keys by that
// column alone sets a key range on that index instead, which yields the same rows in the same
// order without rebuilding the filter for every parent row.  Under an outer link a parent row whose child yields no row
// is produced once, with the child (and the tables below it) standing on a row whose columns all
// read NULL.
//
// Use:
//
//   if (FirstJoinedRow(driving)) {
//     while (NextJoinedRow(driving)) { ... one combined row ... }
//   }
//
// FirstJoinedRow only positions: each NextJoinedRow that answers true delivers one row.  The
// tables must be open with their filters installed (JoinAnalysis.h); record buffers are
// allocated on first use.
#pragma once

#include "engine/sql/TQueryStatement.h"
#include "engine/storage/expr/ExpressionEvaluator.h"

namespace tessera {

// Positions `table` before its first row.  False when it has links and no row of its own
// survives the priming of its links (inner links without partner).
bool FirstJoinedRow(TSourceDataFile& table);

// The next combined row of `table` and the tables below it; false when there is none.
bool NextJoinedRow(TSourceDataFile& table);

// Cancels the key ranges that links put on their children (restoring the children's indexes),
// before the link filters go.
void DropKeyRanges(TQueryStatement& query);

// Fills a checked column node with the current value of its table's column (NULL on a row
// without partner).  REQUIRES: the column's correlation name names a source table; 11949
// otherwise.
void ReadJoinedColumn(const TQueryStatement& query, ExpressionNode& column);

// A column source over the current combined row of `query`.
ColumnSource JoinedRowColumns(const TQueryStatement& query);

// Reads a column of the plain numeric types (16- and 32-bit integers, words, floats) from
// `record` into `column` (NULL when blank) and answers true; false for any other type.  Only the
// first bytes of the value area, which those types occupy, are written: the evaluator reads
// nothing past them, and clearing the whole area on every read of every row is what this saves.
bool ReadPlainNumber(TDataFile& file, const TFieldDefinition& field, const uint8_t* record,
                     ExpressionNode& column);

// Puts `value` (a constant) into the type of `column` when `column` is a plain column of `file`'s
// own field set whose type holds the value exactly: 2.5 never becomes 3, 70000 never a 16-bit
// number.  Otherwise the value keeps its type and the comparison is made by value.  NULL and
// strings stay as they are.
void ConvertToColumnType(ExpressionNode& value, const ExpressionNode* column, TDataFile& file);

}  // namespace tessera
