// The descriptor objects of one SQL statement: what the statement parser reads out of the text
// (select columns, source tables, target columns and values, ORDER BY and GROUP BY items).
//
// Each descriptor is owned by one list of its TQueryStatement and owns its expression tree.  The
// parser fills the names, flags and trees; binding resolves the names against the opened tables
// later and adds what it finds.  Names are ShortStrings (at most 255 characters), compared without
// regard to case wherever they are looked up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/storage/expr/ExpressionNode.h"
#include "engine/storage/table/TDataFile.h"

namespace tessera {

// Statement kinds.
inline constexpr uint8_t kStatementSelect = 1;
inline constexpr uint8_t kStatementInsert = 2;
inline constexpr uint8_t kStatementUpdate = 3;
inline constexpr uint8_t kStatementDelete = 4;

// Aggregate codes of a select column.
inline constexpr uint8_t kAggregateNone = 0;
inline constexpr uint8_t kAggregateSum = 1;
inline constexpr uint8_t kAggregateMin = 2;
inline constexpr uint8_t kAggregateMax = 3;
inline constexpr uint8_t kAggregateAvg = 4;
inline constexpr uint8_t kAggregateCount = 5;

// Join types as the ON conditions carry them.  Conditions from WHERE carry kJoinNone.
inline constexpr uint8_t kJoinNone = 0;
inline constexpr uint8_t kJoinInner = 1;
inline constexpr uint8_t kJoinLeft = 2;
inline constexpr uint8_t kJoinRight = 3;

// One select column, in select-list order.
struct TResultDataField {
  std::string column_name;       // a plain column, or the plain argument of an aggregate
  std::string correlation_name;  // its table correlation name, empty when unqualified
  // The AS name; without one, a plain column's name (not "*"); empty for an aggregate.
  std::string result_name;
  bool computed = false;  // false for a plain column or an aggregate of a plain column
  uint8_t aggregate = kAggregateNone;
  std::string expression_text;  // the column's source text
  ExpressionNodePtr expression;
};

// Link types.
inline constexpr uint8_t kLinkPlain = 0;  // no condition: every child row for each parent row
inline constexpr uint8_t kLinkInner = 1;
inline constexpr uint8_t kLinkOuter = 2;  // a parent row without partner is produced once

struct TSourceDataFile;

// One parent-to-child step of the join, owned by the parent's link list.  The condition holds
// comparisons (ANDed when several) with the parent's side on the left and the child's on the
// right; for each parent row the join loop turns it into the child filter "child side, mirrored
// operator, parent value" (JoinLoop.h).
struct TSourceDataLink {
  TSourceDataFile* owner = nullptr;
  uint8_t join_type = kLinkPlain;
  uint32_t op = 0;  // the comparison operator of the first condition
  TSourceDataFile* child = nullptr;
  ExpressionNodePtr condition;
  // The child filter: its tree (built once, its values refreshed per parent row; the filter
  // borrows it) and its handle on the child's data file, nullptr until first installed.
  ExpressionNodePtr filter_tree;
  TFilter* child_filter = nullptr;
  // Per comparison: its parent side (in `condition`), the constant of the filter tree that the
  // parent value goes to, and the child side it faces.  Kept by address: the index analysis of
  // the filter may reorder its tree.
  struct TFilterValue {
    const ExpressionNode* parent_side;
    ExpressionNode* constant;
    const ExpressionNode* child_side;
  };
  std::vector<TFilterValue> filter_values;
  ExpressionNode parent_value;  // each parent value as evaluated, before it goes to `constant`
  // A single equality whose child column alone keys an index of the child is served by a key
  // range on that index instead (decided on first use): the same rows in the same order, without
  // the filter's maps built again for every parent row.  The child's own index is restored when
  // the range goes.
  bool range_decided = false;
  int16_t range_slot = -1;  // the serving index, or -1
  // A unique index on a child without filters of its own: its one row is looked up by key.
  bool range_lookup = false;
  bool range_active = false;
  uint8_t range_saved_index = 0;
  std::vector<uint8_t> range_record;  // the child's record buffer carrying the key value
  // The parent column of a range whose stored value is already the key's (decided with the
  // range): each parent row's value goes to the range as it stands, unevaluated.
  const TFieldDefinition* direct_field = nullptr;
  bool matched = false;  // the child produced a row (or its row without partner) for this parent
};

// The rows of a table that a link looks up by a unique integer key, read once into memory when
// the lookups have come to a fraction of the table's rows (JoinLoop.cpp), so that each further
// lookup is a hash probe instead of an index descent.  Emptied with the key ranges.
struct TKeyedRows {
  bool decided = false;  // eligibility and threshold set (on the first lookup)
  bool eligible = false;
  bool built = false;
  uint16_t field = 0;                       // the key field, in the table's own field set
  uint32_t lookups = 0;                     // made so far by descent
  uint32_t threshold = 0;                   // lookups after which the rows are read
  std::vector<uint8_t> rows;                // record buffers, one after another
  std::unordered_map<uint64_t, size_t> at;  // key value -> its row's offset in `rows`
};

// One table of FROM, JOIN, INSERT INTO, UPDATE or DELETE FROM.
//
// Member order matters for destruction: the data file (with its filters, which borrow trees
// held here and in the links) goes first.
struct TSourceDataFile {
  TSourceDataFile();
  ~TSourceDataFile();
  TSourceDataFile(const TSourceDataFile&) = delete;
  TSourceDataFile& operator=(const TSourceDataFile&) = delete;

  uint16_t appearance = 0;  // 1, 2, 3 ... in order of appearance in the statement
  bool in_memory = false;   // MEMORY
  std::string table_name;   // the file name, with the query's directory when it had no path
  std::string correlation_name;

  // The join: the position (1 drives the join loop), the links to the children, the link being
  // advanced.
  uint16_t position = 0;
  std::vector<std::unique_ptr<TSourceDataLink>> links;
  size_t current_link = 0;
  // Set by the join loop: the table has no current row (its first row was not found), or stands
  // on the row without partner of an outer link, whose columns all read NULL.
  bool at_end = false;
  bool null_row = false;
  // Set by the link that looks this table's row up by key (a record carrying the key), and
  // whether that row is still to be read.
  const uint8_t* lookup_record = nullptr;
  bool lookup_pending = false;
  TKeyedRows keyed_rows;
  // The table filters' trees (the filters borrow them).
  std::vector<ExpressionNodePtr> filter_trees;
  // The current record, GetRecordBufferSize() bytes once allocated.
  std::vector<uint8_t> record_buffer;
  std::unique_ptr<TDataFile> data_file;

  // Takes the table name as written.  A name without a path is placed in `directory`; the
  // correlation name becomes the file name part without its extension (a given correlation name
  // replaces it afterwards).  Raises 11010 when the full name would pass 255 characters: a cut
  // name would address another file.
  void SetTableName(std::string_view name, std::string_view directory);
};

// One INSERT or UPDATE target column; INSERT without a column list has the single target "*",
// standing for all columns in table order.
struct TUpdateDataField {
  std::string column_name;
  std::string correlation_name;
  // Resolved by binding: the column in the table's own field set.
  uint16_t field_number = 0;
};

// One INSERT value or UPDATE SET value.
struct TUpdateDataValue {
  std::string expression_text;  // the value's source text, for messages
  ExpressionNodePtr expression;
};

// One ORDER BY item: a name (column_number 0) or a 1-based select-column number.
struct TOrderByDataField {
  std::string column_name;
  std::string correlation_name;
  uint16_t column_number = 0;
  bool descending = false;
};

// One GROUP BY item: a name (column_number 0) or a 1-based select-column number.
struct TGroupByDataField {
  std::string column_name;
  std::string correlation_name;
  uint16_t column_number = 0;
};

}  // namespace tessera
