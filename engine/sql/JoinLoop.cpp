#include "engine/sql/JoinLoop.h"

#include <utility>
#include <vector>

#include "classlib/rtl/Collation.h"
#include "engine/sql/ConditionWalks.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/expr/ExpressionTypes.h"
#include "engine/storage/table/FieldExpressionValues.h"

namespace tessera {

namespace {

void EnsureBuffer(TSourceDataFile& table) {
  if (table.record_buffer.empty()) {
    table.record_buffer.assign(table.data_file->GetRecordBufferSize(), 0);
  }
}

bool ReadNext(TSourceDataFile& table) {
  EnsureBuffer(table);
  return table.data_file->GetNextRecord(table.record_buffer.data()) == 0;
}

// The row without partner: the table and every table below it read NULL.  The links form a tree
// (CleanUpLinks checks it), so this ends.
void SetNullRow(TSourceDataFile& table) {
  table.null_row = true;
  for (auto& link : table.links) SetNullRow(*link->child);
}

void ReadOwnColumn(TSourceDataFile& table, ExpressionNode& column) {
  if (table.null_row || table.record_buffer.empty()) {
    column.ClearValue();
    column.is_null = 1;
    return;
  }
  TDataFile& file = *table.data_file;
  const TFieldDefinition& field = file.GetFieldDefinition(TFieldSet::kTable, column.field_number);
  uint8_t value[kMaxDeclaredSize + 2] = {};
  const bool blank =
      file.GetFieldValue(TFieldSet::kTable, column.field_number, value, table.record_buffer.data());
  StoredToExpressionValue(field, value, blank, column);
}

// The comparisons of an ANDed condition, in order.
void Comparisons(ExpressionNode* n, std::vector<ExpressionNode*>& out) {
  if (n->kind == kNodeBinary && n->code == kOpAnd) {
    Comparisons(n->first.get(), out);
    Comparisons(n->second.get(), out);
  } else {
    out.push_back(n);
  }
}

uint32_t Mirrored(uint32_t code) {
  switch (code) {
    case kOpGreater:
      return kOpLess;
    case kOpLess:
      return kOpGreater;
    case kOpGreaterEqual:
      return kOpLessEqual;
    case kOpLessEqual:
      return kOpGreaterEqual;
    default:
      return code;
  }
}

// The child filter's tree: each comparison turned round (child side first, operator mirrored),
// the parent side replaced by a constant that each parent row sets.
void BuildFilterTree(TSourceDataLink& link) {
  link.filter_tree = CopyExpressionTree(link.condition.get());
  std::vector<ExpressionNode*> conditions;
  std::vector<ExpressionNode*> comparisons;
  Comparisons(link.condition.get(), conditions);
  Comparisons(link.filter_tree.get(), comparisons);
  link.filter_values.clear();
  for (size_t i = 0; i < comparisons.size(); ++i) {
    ExpressionNode* c = comparisons[i];
    c->first = std::move(c->second);
    c->second = std::make_unique<ExpressionNode>();
    c->second->kind = kNodeConstant;
    c->code = Mirrored(c->code);
    c->join_type = 0;
    link.filter_values.push_back({conditions[i]->first.get(), c->second.get(), c->first.get()});
  }
}

void InstallChildFilter(TSourceDataLink& link) {
  if (!link.filter_tree) BuildFilterTree(link);
  TSourceDataFile& parent = *link.owner;
  TSourceDataFile& child = *link.child;
  TDataFile& parent_file = *parent.data_file;
  bool changed = false;
  for (const TSourceDataLink::TFilterValue& v : link.filter_values) {
    ExpressionNode value;
    EvaluateExpression(*v.parent_side, value, parent_file.GetLanguageId(), parent_file.GetSortId(),
                       [&parent](ExpressionNode& column) { ReadOwnColumn(parent, column); });
    ConvertToColumnType(value, v.child_side, *child.data_file);
    ExpressionNode& constant = *v.constant;
    changed = changed || constant.type != value.type || constant.is_null != value.is_null ||
              constant.decimals != value.decimals || constant.value != value.value;
    constant.Fields() = value.Fields();
    constant.kind = kNodeConstant;
    constant.is_parameter = 0;
  }
  TDataFile& file = *child.data_file;
  uint16_t code = 0;
  if (link.child_filter != nullptr && !changed) {
    // Parent rows in key order often repeat their value: the child's maps still hold.
  } else if (link.child_filter == nullptr) {
    TFilter* filter = nullptr;
    code = file.AddFilter({}, link.filter_tree.get(), false, false, nullptr, nullptr, &filter);
    if (code == 0) {
      link.child_filter = filter;
      code = file.ActivateFilter(filter);
    }
  } else {
    code = file.ReplaceFilterExpression(link.child_filter, {}, link.filter_tree.get());
  }
  if (code != 0) RaiseEngineError(code, child.table_name);
}

// Clears the matched flags of links k .. last (last first), installs their child filters and
// positions their children; every link but the last also reads its child's first row.  False
// when such a link finds no row and may not produce its parent without partner.
bool Prime(TSourceDataFile& table, size_t k) {
  const size_t count = table.links.size();
  for (size_t i = count; i-- > k;) {
    TSourceDataLink& link = *table.links[i];
    link.matched = false;
    if (link.join_type != kLinkPlain) InstallChildFilter(link);
    const bool positioned = FirstJoinedRow(*link.child);
    if (i + 1 == count) continue;
    if (positioned && NextJoinedRow(*link.child)) {
      link.matched = true;
    } else if (link.join_type == kLinkOuter) {
      link.matched = true;
      SetNullRow(*link.child);
    } else {
      return false;
    }
  }
  return true;
}

// The next row of the link's child; its row without partner once, under an outer link.
bool Advance(TSourceDataLink& link) {
  if (NextJoinedRow(*link.child)) {
    link.matched = true;
    return true;
  }
  if (link.join_type == kLinkOuter && !link.matched) {
    link.matched = true;
    SetNullRow(*link.child);
    return true;
  }
  return false;
}

}  // namespace

void ConvertToColumnType(ExpressionNode& value, const ExpressionNode* column, TDataFile& file) {
  if (value.is_null || value.type == kExprTypeString || value.type == kExprTypeNone ||
      !IsPlainColumn(column) || column->field_number == 0 || !file.IsOpen()) {
    return;
  }
  const TFieldDefinition& field = file.GetFieldDefinition(TFieldSet::kTable, column->field_number);
  if (field.type == kExprTypeString || field.type == value.type) return;
  uint8_t stored[kMaxDeclaredSize + 2] = {};
  if (!ExpressionValueToStored(value, field, true, stored)) return;
  ExpressionNode converted;
  BindColumnNode(field, converted);
  StoredToExpressionValue(field, stored, false, converted);
  value.value = converted.value;
  value.type = converted.type;
  value.sub_type = converted.sub_type;
  value.size = converted.size;
  value.decimals = converted.decimals;
}

bool FirstJoinedRow(TSourceDataFile& table) {
  EnsureBuffer(table);
  table.null_row = false;
  table.at_end = false;
  table.data_file->MoveToBeginning();
  if (table.links.empty()) return true;
  for (;;) {
    if (!ReadNext(table)) {
      table.at_end = true;
      return false;
    }
    if (Prime(table, 0)) break;
  }
  table.current_link = table.links.size() - 1;
  return true;
}

bool NextJoinedRow(TSourceDataFile& table) {
  if (table.at_end) return false;
  if (table.links.empty()) {
    if (ReadNext(table)) return true;
    table.at_end = true;
    return false;
  }
  const size_t count = table.links.size();
  for (;;) {
    const size_t k = table.current_link;
    if (Advance(*table.links[k])) {
      if (k + 1 == count) return true;
      // The links after it start again for the new row; the last one is read when advanced.
      if (Prime(table, k + 1)) table.current_link = count - 1;
      continue;
    }
    if (k > 0) {
      table.current_link = k - 1;
      continue;
    }
    do {
      if (!ReadNext(table)) {
        table.at_end = true;
        return false;
      }
    } while (!Prime(table, 0));
    table.current_link = count - 1;
  }
}

void ReadJoinedColumn(const TQueryStatement& query, ExpressionNode& column) {
  for (const auto& t : query.source_tables) {
    if (t->correlation_name == column.correlation_name) return ReadOwnColumn(*t, column);
  }
  for (const auto& t : query.source_tables) {
    if (cl::AnsiSameText(t->correlation_name, column.correlation_name)) {
      return ReadOwnColumn(*t, column);
    }
  }
  RaiseEngineError(kErrSql, {}, {}, {},
                   "Table correlation name '" + column.correlation_name +
                       "' referenced in WHERE clause is not defined in the FROM clause");
}

ColumnSource JoinedRowColumns(const TQueryStatement& query) {
  return [&query](ExpressionNode& column) { ReadJoinedColumn(query, column); };
}

}  // namespace tessera
