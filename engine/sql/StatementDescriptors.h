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
#include <vector>

#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

class TDataFile;

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

// One table of FROM, JOIN, INSERT INTO, UPDATE or DELETE FROM.
struct TSourceDataFile {
  uint16_t appearance = 0;  // 1, 2, 3 ... in order of appearance in the statement
  bool in_memory = false;   // MEMORY
  std::string table_name;   // the file name, with the query's directory when it had no path
  std::string correlation_name;

  // Takes the table name as written.  A name without a path is placed in `directory`; the
  // correlation name becomes the file name part without its extension (a given correlation name
  // replaces it afterwards).  Raises 11010 when the full name would pass 255 characters: a cut
  // name would address another file.
  void SetTableName(std::string_view name, std::string_view directory);

  TSourceDataFile();
  ~TSourceDataFile();
  TSourceDataFile(const TSourceDataFile&) = delete;
  TSourceDataFile& operator=(const TSourceDataFile&) = delete;

  std::unique_ptr<TDataFile> file;  // created with the descriptor, opened by binding
  uint16_t position = 0;            // in the join: 1 drives it
  std::vector<uint8_t> record;      // the current row of this table
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
