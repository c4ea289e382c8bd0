#include "engine/sql/JoinLoop.h"

#include <cstring>
#include <utility>
#include <vector>

#include "classlib/rtl/Coding.h"
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

// Held in memory by key for a join: a table of at most this many bytes of record buffers.
constexpr size_t kKeyedRowsBytes = size_t{16} << 20;
// Its rows are read once the lookups by descent come to this share of them: reading a row in
// order costs less than a descent, so the lookups then pay for the reading at least once over,
// and a join that looks up a few rows of a large table never reads it whole.
constexpr uint32_t kKeyedRowsShare = 4;

// The key field's value in `record` as a hash key; false when it is blank.  The key field is of
// an integer-like type (ServedByKeyRange): its value fits eight bytes.
bool KeyValue(TDataFile& file, uint16_t field, const uint8_t* record, uint64_t& key) {
  uint8_t value[kMaxDeclaredSize + 2] = {};
  if (file.GetFieldValue(TFieldSet::kTable, field, value, record)) return false;
  key = cl::GetU64LE(value);
  return true;
}

void DecideKeyedRows(TSourceDataFile& table) {
  TKeyedRows& k = table.keyed_rows;
  TDataFile& file = *table.data_file;
  k.decided = true;
  // A blob's value lives in the blob file beside the record: such rows stay where they are.
  for (const TFieldDefinition& f : file.TableFields()) {
    if (f.IsBlob()) return;
  }
  const uint64_t count = file.GetRecordCount();
  k.eligible = count * file.GetRecordBufferSize() <= kKeyedRowsBytes;
  k.threshold = static_cast<uint32_t>(count / kKeyedRowsShare);
}

// Every row of the table (positioned on the link's unique index, without filters) by key.
void BuildKeyedRows(TSourceDataFile& table) {
  TKeyedRows& k = table.keyed_rows;
  TDataFile& file = *table.data_file;
  std::vector<uint8_t>& buffer = table.record_buffer;
  file.MoveToBeginning();
  while (file.GetNextRecord(buffer.data()) == 0) {
    uint64_t key = 0;
    if (!KeyValue(file, k.field, buffer.data(), key)) continue;
    if (!k.at.emplace(key, k.rows.size()).second) continue;
    k.rows.insert(k.rows.end(), buffer.begin(), buffer.end());
  }
  k.built = true;
}

// The table's row whose unique key equals the one in `table.lookup_record`.
bool LookUp(TSourceDataFile& table) {
  TKeyedRows& k = table.keyed_rows;
  TDataFile& file = *table.data_file;
  if (!k.decided) DecideKeyedRows(table);
  if (!k.built && (!k.eligible || ++k.lookups <= k.threshold)) {
    return file.FindRecordByKey(table.lookup_record, table.record_buffer.data());
  }
  if (!k.built) BuildKeyedRows(table);
  uint64_t key = 0;
  if (!KeyValue(file, k.field, table.lookup_record, key)) return false;
  const auto it = k.at.find(key);
  if (it == k.at.end()) return false;
  std::memcpy(table.record_buffer.data(), k.rows.data() + it->second, table.record_buffer.size());
  return true;
}

bool ReadNext(TSourceDataFile& table) {
  EnsureBuffer(table);
  if (table.lookup_record != nullptr) {
    if (!table.lookup_pending) return false;
    table.lookup_pending = false;
    return LookUp(table);
  }
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
  if (ReadPlainNumber(file, field, table.record_buffer.data(), column)) return;
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

bool ServedByKeyRange(uint8_t type) {
  return type == kFieldInt16 || type == kFieldInt32 || type == kFieldWord || type == kFieldDate ||
         type == kFieldTime;
}

// The child's index that gives exactly the filter's rows in the filter's order for the link's
// equality, or -1.  A single key field of an integer-like type compares in the key as "="
// compares it, and a unique index holds one row per value, so no order can differ (a
// non-unique index orders equal keys otherwise than record order does).
int16_t RangeIndexFor(TSourceDataLink& link) {
  const ExpressionNode* condition = link.condition.get();
  if (link.filter_values.size() != 1 || condition->kind != kNodeBinary ||
      condition->code != kOpEqual) {
    return -1;
  }
  const ExpressionNode* column = link.filter_values.front().child_side;
  TDataFile& file = *link.child->data_file;
  if (!IsPlainColumn(column) || column->field_number == 0 || !file.IsOpen()) return -1;
  const uint16_t number = column->field_number;
  if (!ServedByKeyRange(file.GetFieldDefinition(TFieldSet::kTable, number).type)) return -1;
  const int last = file.GetSecondaryIndexCount();
  for (int slot = 0; slot <= last; ++slot) {
    const TIndexDescriptor d = file.GetIndexDescriptor(slot);
    if (d.field_count == 1 && d.field_numbers[0] == number && d.descending == 0 &&
        d.field_descending[0] == 0 && d.unique != 0) {
      link.range_lookup = link.child->filter_trees.empty();
      return static_cast<int16_t>(slot);
    }
  }
  return -1;
}

void LeaveKeyRange(TSourceDataLink& link) {
  TDataFile& file = *link.child->data_file;
  link.range_active = false;
  link.child->lookup_record = nullptr;
  file.ResetRange();
  file.SetCurrentIndexByNumber(link.range_saved_index);
  if (link.child_filter != nullptr) {
    if (const uint16_t code = file.ActivateFilter(link.child_filter)) {
      RaiseEngineError(code, link.child->table_name);
    }
  }
}

// Limits the child to the rows whose key field (of `field`) holds `stored`, the value as the
// field stores it.
void ApplyKeyRange(TSourceDataLink& link, const TFieldDefinition& field, const uint8_t* stored,
                   bool changed) {
  TDataFile& file = *link.child->data_file;
  if (link.range_active && !changed) return;
  if (!link.range_active) {
    if (link.child_filter != nullptr) {
      if (const uint16_t code = file.DeactivateFilter(link.child_filter)) {
        RaiseEngineError(code, link.child->table_name);
      }
    }
    link.range_saved_index = file.GetCurrentIndexNumber();
    file.SetCurrentIndexByNumber(static_cast<uint8_t>(link.range_slot));
    link.range_record.assign(file.GetRecordBufferSize(), 0);
    link.range_active = true;
  }
  file.PutFieldValue(TFieldSet::kTable, field.number, false, stored, link.range_record.data());
  if (link.range_lookup) {
    link.child->lookup_record = link.range_record.data();
    link.child->keyed_rows.field = field.number;
    return;
  }
  file.SetRange(false, link.range_record.data(), 1, link.range_record.data(), 1);
}

// Limits the child to the rows whose key equals the parent value (already in `constant`); false
// (with any range gone) when the value has no key form there, so that the filter serves.
bool SetKeyRange(TSourceDataLink& link, bool changed) {
  TDataFile& file = *link.child->data_file;
  const ExpressionNode& value = *link.filter_values.front().constant;
  const TFieldDefinition& field = file.GetFieldDefinition(
      TFieldSet::kTable, link.filter_values.front().child_side->field_number);
  if (value.is_null || value.type != field.type) {
    if (link.range_active) LeaveKeyRange(link);
    return false;
  }
  // A value of the key field's own integer-like type (ServedByKeyRange) is stored as it stands.
  uint8_t stored[4];
  if (field.type == kFieldInt16 || field.type == kFieldWord) {
    cl::PutU16LE(stored, value.WordValue());
  } else {
    cl::PutU32LE(stored, value.UInt32Value());
  }
  ApplyKeyRange(link, field, stored, changed);
  return true;
}

// The parent's field that the link's range can take its value from as stored, or nullptr: a
// plain column of the parent of the child key's own type and size, whose value the parent's
// record holds (an auto-increment value lives apart).
const TFieldDefinition* DirectParentField(const TSourceDataLink& link) {
  const ExpressionNode* parent_side = link.filter_values.front().parent_side;
  TDataFile& parent = *link.owner->data_file;
  TDataFile& child = *link.child->data_file;
  if (!IsPlainColumn(parent_side) || parent_side->field_number == 0 || !parent.IsOpen() ||
      !cl::AnsiSameText(parent_side->correlation_name, link.owner->correlation_name)) {
    return nullptr;
  }
  const TFieldDefinition& from =
      parent.GetFieldDefinition(TFieldSet::kTable, parent_side->field_number);
  const TFieldDefinition& key = child.GetFieldDefinition(
      TFieldSet::kTable, link.filter_values.front().child_side->field_number);
  if (from.type != key.type || from.stored_size != key.stored_size || from.IsAutoIncrement() ||
      key.IsAutoIncrement() || from.IsBlob()) {
    return nullptr;
  }
  return &from;
}

// The range set from the parent's stored value; false when the value is blank (the evaluated
// path then decides, as for any NULL).  The filter's constants keep an older value meanwhile: the
// filter serves again only through that path, which leaves the range and so replaces them.
bool SetDirectKeyRange(TSourceDataLink& link) {
  const TSourceDataFile& parent = *link.owner;
  if (parent.null_row || parent.record_buffer.empty()) return false;
  const TFieldDefinition& from = *link.direct_field;
  const uint8_t* stored = parent.record_buffer.data() + from.offset;
  if (stored[0] == 0) return false;
  TDataFile& file = *link.child->data_file;
  const TFieldDefinition& key = file.GetFieldDefinition(
      TFieldSet::kTable, link.filter_values.front().child_side->field_number);
  const bool changed =
      !link.range_active || link.range_record[key.offset] == 0 ||
      std::memcmp(link.range_record.data() + key.offset + 1, stored + 1, key.stored_size) != 0;
  ApplyKeyRange(link, key, stored + 1, changed);
  return true;
}

void InstallChildFilter(TSourceDataLink& link) {
  if (!link.filter_tree) BuildFilterTree(link);
  if (!link.range_decided) {
    link.range_slot = RangeIndexFor(link);
    link.direct_field = link.range_slot >= 0 ? DirectParentField(link) : nullptr;
    link.range_decided = true;
  }
  if (link.direct_field != nullptr && SetDirectKeyRange(link)) return;
  TSourceDataFile& parent = *link.owner;
  TSourceDataFile& child = *link.child;
  TDataFile& parent_file = *parent.data_file;
  bool changed = false;
  for (const TSourceDataLink::TFilterValue& v : link.filter_values) {
    ExpressionNode& value = link.parent_value;
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
  const bool was_range = link.range_active;
  if (link.range_slot >= 0 && SetKeyRange(link, changed)) return;
  // Back from a range, the filter still holds the value it had then.
  changed = changed || was_range;
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

bool ReadPlainNumber(TDataFile& file, const TFieldDefinition& field, const uint8_t* record,
                     ExpressionNode& column) {
  if (field.type != kFieldInt16 && field.type != kFieldWord && field.type != kFieldInt32 &&
      field.type != kFieldFloat) {
    return false;
  }
  uint8_t stored[8] = {};
  if (field.stored_size > sizeof stored || field.IsAutoIncrement()) return false;
  const bool blank = file.GetFieldValue(TFieldSet::kTable, field.number, stored, record);
  std::memset(column.value.data(), 0, sizeof stored);
  column.is_null = blank ? 1 : 0;
  if (blank) return true;
  switch (field.type) {
    case kFieldInt16:
      column.SetInt16(static_cast<int16_t>(cl::GetU16LE(stored)));
      break;
    case kFieldWord:
      column.SetWord(cl::GetU16LE(stored));
      break;
    case kFieldInt32:
      column.SetInt32(static_cast<int32_t>(cl::GetU32LE(stored)));
      break;
    default:
      column.SetFloat(cl::GetF64LE(stored));
      break;
  }
  return true;
}

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
  if (table.lookup_record != nullptr) {
    table.lookup_pending = true;
  } else {
    table.data_file->MoveToBeginning();
  }
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

void DropKeyRanges(TQueryStatement& query) {
  for (auto& table : query.source_tables) {
    for (auto& link : table->links) {
      link->child->lookup_record = nullptr;
      link->child->keyed_rows = TKeyedRows();
      if (link->range_active && link->child->data_file->IsOpen()) {
        link->range_active = false;
        TDataFile& file = *link->child->data_file;
        file.ResetRange();
        file.SetCurrentIndexByNumber(link->range_saved_index);
      }
      link->range_active = false;
      link->range_decided = false;
    }
  }
}

}  // namespace tessera
