#include "engine/sql/QueryBinder.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

#include "classlib/rtl/Collation.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/ShortString.h"
#include "engine/sql/ConditionWalks.h"
#include "engine/sql/JoinAnalysis.h"
#include "engine/sql/UpdateValues.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/FilePaths.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/expr/ExpressionTypes.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"
#include "engine/storage/values/EngineFormats.h"
#include "engine/storage/values/FieldValues.h"
#include "platform/FileNames.h"
#include "platform/OsFile.h"
#include "platform/PrivateDirectory.h"
#include "platform/ProcessInfo.h"

namespace tessera {

namespace {

// Pages per index of a result table in memory (4 KB each, 8 MB at most): the index of a result
// of tens of thousands of rows stays whole, and no page is packed, dropped, read and counted again.
constexpr size_t kResultPageCacheList = 2048;
// Records of a result table (or of a joined source table) in memory: up to this many bytes of
// buffers, and at most the record cache's entry limit.
constexpr size_t kResultRecordCacheBytes = size_t{16} << 20;
constexpr size_t kResultRecordCacheEntries = 65535;
// Temporary names taken by other processes between search and creation, tried past.
constexpr int kTempNameAttempts = 100;

// The ENCRYPTED WITH password in the session's list while the result is created or opened, and
// taken out again when it was not there before.
class ResultPasswordGuard {
 public:
  ResultPasswordGuard(TFileSession& session, const TQueryStatement& s)
      : session_(session),
        password_(s.password),
        added_(s.encrypted && !session.HasPassword(s.password)) {
    if (added_) session_.AddPassword(password_);
  }
  ~ResultPasswordGuard() {
    if (added_) session_.RemovePassword(password_);
  }
  ResultPasswordGuard(const ResultPasswordGuard&) = delete;
  ResultPasswordGuard& operator=(const ResultPasswordGuard&) = delete;

 private:
  TFileSession& session_;
  const std::string& password_;
  bool added_;
};

bool SameName(std::string_view a, std::string_view b) { return cl::AnsiSameText(a, b); }

bool DiskFileExists(const std::string& name) {
  return platform::FileExists(platform::ResolveFileName(cl::Cp1252ToUtf8(name)));
}

const char* NodeKindName(const ExpressionNode& node) {
  switch (node.kind) {
    case kNodeColumn:
      return "column";
    case kNodeFunction:
      return "function";
    case kNodeConstant:
      return "constant";
    default:
      return "expression";
  }
}

// The declared size of a checked value: strings count their terminating zero.
size_t DeclaredSize(uint8_t type, uint8_t size) {
  return type == kFieldString && size > 0 ? size - 1u : size;
}

}  // namespace

void TQueryBinder::Fail(const std::string& message) {
  RaiseEngineError(kErrSql, {}, {}, {}, message);
}

TSourceDataFile* TQueryBinder::FindCorrelation(std::string_view name) const {
  for (auto& table : s_.source_tables) {
    if (SameName(table->correlation_name, name)) return table.get();
  }
  return nullptr;
}

TSourceDataFile* TQueryBinder::FindColumn(std::string_view qualifier, std::string_view name,
                                          const TFieldDefinition*& field) const {
  field = nullptr;
  auto find_field = [&](TSourceDataFile& table) -> const TFieldDefinition* {
    if (!table.data_file->IsOpen()) return nullptr;
    for (const TFieldDefinition& f : table.data_file->TableFields()) {
      if (SameName(f.name, name)) return &f;
    }
    return nullptr;
  };
  if (!qualifier.empty()) {
    TSourceDataFile* table = FindCorrelation(qualifier);
    if (table == nullptr) return nullptr;
    if (name == "*" || name.empty()) return table;
    field = find_field(*table);
    return field != nullptr ? table : nullptr;
  }
  for (auto& table : s_.source_tables) {
    if ((field = find_field(*table)) != nullptr) return table.get();
  }
  return nullptr;
}

ColumnLookup TQueryBinder::SourceLookup() const {
  return [this](ExpressionNode& column) {
    const TFieldDefinition* field = nullptr;
    TSourceDataFile* table = FindColumn(column.correlation_name, column.column_name, field);
    if (table == nullptr || field == nullptr) return false;
    column.correlation_name = table->correlation_name;
    BindColumnNode(*field, column);
    return true;
  };
}

void TQueryBinder::ResolveNames(ExpressionNode* node, std::string_view clause) const {
  for (; node != nullptr; node = node->next.get()) {
    if (node->kind == kNodeColumn && !node->from_quoted_text && node->column_name != "*") {
      const TFieldDefinition* field = nullptr;
      TSourceDataFile* table = FindColumn(node->correlation_name, node->column_name, field);
      if (table == nullptr || field == nullptr) {
        Fail("Invalid column name '" + node->column_name + "' or table correlation name '" +
             node->correlation_name + "' specified in " + std::string(clause));
      }
      node->correlation_name = table->correlation_name;
      BindColumnNode(*field, *node);
    }
    ResolveNames(node->first.get(), clause);
    ResolveNames(node->second.get(), clause);
  }
}

void TQueryBinder::CheckNoColumns(const ExpressionNode* node) const {
  for (; node != nullptr; node = node->next.get()) {
    if (node->kind == kNodeColumn && !node->from_quoted_text) {
      Fail("Invalid column name '" + node->column_name + "' or table correlation name '" +
           node->correlation_name + "' specified in update values");
    }
    CheckNoColumns(node->first.get());
    CheckNoColumns(node->second.get());
  }
}

void TQueryBinder::OpenSourceTable(TSourceDataFile& table, bool live) {
  TDataFile& file = *table.data_file;
  // An in-memory table has no directory: its name is the one INTO MEMORY gave it.
  const std::string prefix = AddTrailingBackslash(s_.directory);
  if (table.in_memory && !s_.directory.empty() && table.table_name.rfind(prefix, 0) == 0) {
    table.table_name.erase(0, prefix.size());
  }
  file.SetFileName(table.table_name);
  file.SetReadOnly(!live);
  file.SetExclusive(false);
  file.SetLockRetryCount(q_.lock_retry_count_);
  file.SetLockWaitTime(q_.lock_wait_time_);
  file.SetInMemory(table.in_memory);
  file.SetStrictChangeDetection(q_.strict_change_detection_);
  file.SetPasswordEvent(q_.password_event_);
  file.Open();
  file.SetPasswordEvent(nullptr);
  // A SELECT selects it once the join is planned (SelectRecordOrder): the selection reads a
  // record, after which a table's record cache can no longer be set.
  if (s_.statement_kind != kStatementSelect) file.SetCurrentIndexByNumber(kRecordOrderIndex);
  table.record_buffer.assign(file.GetRecordBufferSize(), 0);
}

void TQueryBinder::HoldJoinedRecords() {
  // A joined table is read in its parents' order, by key, not in its own: a record cache smaller
  // than the table then misses at random, and each miss reads ahead what is not wanted.  The
  // driving table is read in its own order, in runs: a cache of all its rows would only be built
  // and freed again.  Set while the handles stand on no record yet (setting the cache drops its
  // entries).
  for (size_t i = 1; !s_.live && i < s_.source_tables.size(); ++i) {
    TDataFile& file = *s_.source_tables[i]->data_file;
    const size_t buffer_size = std::max<size_t>(file.GetRecordBufferSize(), 1);
    const size_t records = size_t{file.GetPhysicalRecordCount()} + 1;
    if (file.CurrentRecord() == nullptr && records > file.RecordCache().Capacity() &&
        records <= kResultRecordCacheEntries && records <= kResultRecordCacheBytes / buffer_size) {
      file.RecordCache().Configure(file.Header().DataStart(), file.GetRecordSize(), buffer_size,
                                   records);
    }
  }
}

void TQueryBinder::SelectRecordOrder() {
  for (auto& table : s_.source_tables) {
    table->data_file->SetCurrentIndexByNumber(kRecordOrderIndex);
  }
}

void BindQuery(TDataQuery& query) { TQueryBinder(query).Bind(); }

void TQueryBinder::Bind() {
  if (s_.statement_kind == kStatementSelect) {
    BindSelect();
  } else {
    BindChange();
  }
}

// ---- INSERT, UPDATE, DELETE ---------------------------------------------------------------------

void TQueryBinder::BindChange() {
  TSourceDataFile& table = *s_.source_tables.front();
  OpenSourceTable(table, true);
  table.position = 1;
  if (s_.statement_kind == kStatementDelete) {
    if (s_.has_conditions) ResolveNames(s_.condition.get(), "WHERE or JOIN clause");
    PlanJoins(s_);
    return;
  }
  std::vector<std::unique_ptr<TUpdateDataField>> targets;
  for (auto& target : s_.target_columns) {
    if (target->column_name == "*") {
      for (const TFieldDefinition& f : table.data_file->TableFields()) {
        auto expanded = std::make_unique<TUpdateDataField>();
        expanded->column_name = f.name;
        expanded->correlation_name = table.correlation_name;
        expanded->field_number = f.number;
        targets.push_back(std::move(expanded));
      }
      continue;
    }
    const TFieldDefinition* field = nullptr;
    if (FindColumn(target->correlation_name, target->column_name, field) == nullptr ||
        field == nullptr) {
      Fail("Invalid column name '" + target->column_name + "' or table correlation name '" +
           target->correlation_name + "' specified in table columns");
    }
    target->column_name = field->name;
    target->correlation_name = table.correlation_name;
    target->field_number = field->number;
    targets.push_back(std::move(target));
  }
  s_.target_columns = std::move(targets);
  if (s_.target_columns.size() != s_.values.size()) {
    Fail("The number of values must match the number of table columns");
  }
  for (size_t i = 0; i < s_.values.size(); ++i) {
    CheckUpdateValue(*s_.values[i], table.data_file->GetFieldDefinition(
                                        TFieldSet::kTable, s_.target_columns[i]->field_number));
  }
  if (s_.has_conditions) ResolveNames(s_.condition.get(), "WHERE or JOIN clause");
  PlanJoins(s_);
}

ColumnLookup TQueryBinder::ValueLookup() const {
  // INSERT values take parameters and constants only: a column name is unknown there.
  if (s_.statement_kind == kStatementUpdate) return SourceLookup();
  return [](ExpressionNode&) { return false; };
}

void TQueryBinder::CheckUpdateValue(TUpdateDataValue& value, const TFieldDefinition& target) {
  ExpressionNode& tree = *value.expression;
  std::vector<ExpressionNode*> parameters;
  CollectParameters(&tree, parameters);
  if (!parameters.empty() && !tree.is_parameter) {
    // A parameter has no type before it is set: the names are resolved now, the types checked
    // when the statement runs.
    if (s_.statement_kind == kStatementUpdate) {
      ResolveNames(&tree, "update values");
    } else {
      CheckNoColumns(&tree);
    }
    return;
  }
  CheckExpression("update values", tree, ValueLookup());
  if (tree.is_parameter || tree.type == kExprTypeNone || tree.type == target.type) return;
  if (tree.kind == kNodeConstant && !tree.is_null) {
    if (tree.type == kExprTypeString && IsDateTimeType(target.type)) {
      uint8_t stored[8];
      bool converted = false;
      try {
        converted =
            TextToDateTimeValue(tree.StringValue(), target.type, FixedFormatSettings(), stored);
      } catch (const cl::EConvertError&) {
        converted = false;
      }
      if (!converted) {
        Fail("Date, time, or timestamp expression expected, instead found '" + tree.text +
             "' in update values");
      }
      return;
    }
    uint8_t stored[kUpdateValueAreaSize];
    bool blank = false;
    if (ConvertUpdateValue(tree, target, stored, blank)) return;
  } else if (UpdateTypesConvertible(tree.type, target.type)) {
    return;
  }
  Fail(std::string("Type mismatch between ") + NodeKindName(tree) + " '" + tree.text +
       "' and column '" + target.name + "' in update values");
}

// ---- SELECT -------------------------------------------------------------------------------------

void TQueryBinder::BindSelect() {
  if (s_.distinct && s_.has_group) s_.distinct = false;
  uint16_t position = 1;
  for (auto& table : s_.source_tables) {
    OpenSourceTable(*table, s_.live);
    table->position = position++;
  }
  CheckSelectColumns();
  bool all_aggregates = true;
  for (auto& column : s_.select_columns) {
    if (column->aggregate == kAggregateNone) all_aggregates = false;
  }
  q_.aggregate_only_ = all_aggregates && !s_.has_group;
  ExpandSelectColumns(s_.has_group || q_.aggregate_only_);
  if (s_.has_conditions) ResolveNames(s_.condition.get(), "WHERE or JOIN clause");
  FindServingIndex();
  if (TryLive()) {
    SelectRecordOrder();
    return;
  }
  PlanJoins(s_);
  HoldJoinedRecords();
  SelectRecordOrder();
  DefineResultFields();
  DefineResultIndexes();
  CreateResult();
  ShiftWorkingFields();
}

void TQueryBinder::CheckSelectColumns() {
  const ColumnLookup lookup = SourceLookup();
  for (auto& column : s_.select_columns) {
    ExpressionNode& tree = *column->expression;
    if (IsPlainColumn(&tree) && tree.column_name == "*") continue;
    CheckExpression("source columns", tree, lookup);
    if (column->computed && IsPlainColumn(&tree)) {
      // A quoted text that names a column is that column.
      column->computed = false;
      column->column_name = tree.column_name;
      column->correlation_name = tree.correlation_name;
    }
    if (DeclaredSize(tree.type, tree.size) > kMaxResultColumnSize) {
      Fail("Column expression '" + column->expression_text +
           "' exceeds the maximum allowable field size");
    }
  }
}

void TQueryBinder::ExpandSelectColumns(bool grouped) {
  std::vector<std::unique_ptr<TResultDataField>> columns;
  for (auto& column : s_.select_columns) {
    ExpressionNode& tree = *column->expression;
    if (SameName(column->column_name, kRowNumberField) && column->aggregate == kAggregateNone) {
      Fail("Invalid use of reserved field name '" + column->column_name + "'" +
           "in source columns");
    }
    if (column->aggregate != kAggregateNone && !grouped) {
      const std::string& name =
          column->column_name.empty() ? column->expression_text : column->column_name;
      Fail("Invalid use of aggregate function for column '" + name +
           "', the necessary GROUP BY clause is missing");
    }
    const bool star = !column->computed && column->column_name == "*";
    if (star && column->aggregate == kAggregateCount) {
      // COUNT(*) counts rows; the qualifier, when given, must still name a table.
      if (!column->correlation_name.empty() &&
          FindCorrelation(column->correlation_name) == nullptr) {
        Fail("Invalid column name '*' or table correlation name '" + column->correlation_name +
             "' specified in source columns");
      }
      columns.push_back(std::move(column));
      continue;
    }
    if (star) {
      if (!column->result_name.empty()) {
        Fail("Invalid use of column correlation name '" + column->result_name + "' for '*'" +
             " specified in source columns");
      }
      std::vector<TSourceDataFile*> tables;
      if (column->correlation_name.empty()) {
        for (auto& t : s_.source_tables) tables.push_back(t.get());
        std::stable_sort(tables.begin(), tables.end(),
                         [](auto* a, auto* b) { return a->position < b->position; });
      } else {
        TSourceDataFile* t = FindCorrelation(column->correlation_name);
        if (t == nullptr) {
          Fail("Invalid column name '*' or table correlation name '" + column->correlation_name +
               "' specified in source columns");
        }
        tables.push_back(t);
      }
      for (TSourceDataFile* t : tables) {
        for (const TFieldDefinition& f : t->data_file->TableFields()) {
          if (SameName(f.name, kRowNumberField)) continue;
          auto expanded = std::make_unique<TResultDataField>();
          expanded->column_name = f.name;
          expanded->correlation_name = t->correlation_name;
          expanded->result_name = f.name;
          expanded->expression_text = t->correlation_name + "." + f.name;
          expanded->expression =
              MakeExpressionNode(kNodeColumn, 0, expanded->expression_text, kExprTypeNone);
          expanded->expression->column_name = f.name;
          expanded->expression->correlation_name = t->correlation_name;
          BindColumnNode(f, *expanded->expression);
          columns.push_back(std::move(expanded));
        }
      }
      continue;
    }
    if (!column->computed) {
      // The checker bound the column (or the aggregate's argument) already; its table's
      // correlation name is now the qualifier.
      const ExpressionNode* plain = IsPlainColumn(&tree) ? &tree : tree.first.get();
      if (plain != nullptr) column->correlation_name = plain->correlation_name;
    }
    columns.push_back(std::move(column));
  }
  s_.select_columns = std::move(columns);

  std::vector<std::string> names;
  for (auto& column : s_.select_columns) {
    std::string name = column->result_name;
    if (name.empty() && !column->computed && column->aggregate == kAggregateNone) {
      name = column->column_name;
    }
    if (name.empty()) {
      static const char* const kDefaults[] = {"Expression",  "Sum Of Expr",     "Min Of Expr",
                                              "Max Of Expr", "Average Of Expr", "Count Of Expr"};
      static const char* const kPrefixes[] = {"",        "Sum Of ",     "Min Of ",
                                              "Max Of ", "Average Of ", "Count Of "};
      if (column->column_name.empty() || column->computed) {
        name = kDefaults[column->aggregate];
      } else {
        name = kPrefixes[column->aggregate] + column->column_name;
      }
    }
    names.push_back(std::move(name));
  }
  TDataQuery::MakeResultColumnNames(names);
  q_.bound_.assign(s_.select_columns.size(), {});
  checked_.assign(s_.select_columns.size(), {});
  for (size_t i = 0; i < s_.select_columns.size(); ++i) {
    TResultDataField& column = *s_.select_columns[i];
    column.result_name = names[i];
    const ExpressionNode& tree = *column.expression;
    auto& bound = q_.bound_[i];
    bound.result_field = static_cast<uint16_t>(i + 2);
    bound.count_star = column.aggregate == kAggregateCount && column.column_name == "*";
    const ExpressionNode* plain = IsPlainColumn(&tree) ? &tree : nullptr;
    if (column.aggregate != kAggregateNone && !column.computed) plain = tree.first.get();
    if (plain != nullptr && !column.computed && !bound.count_star) {
      const TFieldDefinition* field = nullptr;
      bound.source = FindColumn(plain->correlation_name, plain->column_name, field);
      bound.source_field = field != nullptr ? field->number : 0;
    }
    checked_[i] = {tree.type, tree.sub_type, tree.size, tree.decimals};
  }
}

void TDataQuery::MakeResultColumnNames(std::vector<std::string>& names) {
  auto last = [](const std::string& s, size_t n) {
    return s.size() > n ? s.substr(s.size() - n) : s;
  };
  for (std::string& name : names) name = last(name, kFieldNameMax);
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string base = names[i];
    auto clashes = [&](const std::string& candidate) {
      for (size_t j = 0; j < names.size(); ++j) {
        if (j != i && cl::AnsiSameText(names[j], candidate)) return true;
      }
      return false;
    };
    for (int n = 1; clashes(names[i]); ++n) {
      const std::string suffix = "_" + std::to_string(n);
      names[i] = last(base, kFieldNameMax - suffix.size()) + suffix;
    }
  }
}

size_t TQueryBinder::ResolveItem(std::string_view name, std::string_view qualifier, uint16_t number,
                                 bool group) const {
  const char* clause = group ? "GROUP BY clause" : "ORDER BY clause";
  const size_t count = s_.select_columns.size();
  if (name.empty()) {
    if (number < 1 || number > count) {
      Fail("Invalid column number '" + std::to_string(number) + "' specified in " + clause);
    }
    return number - 1u;
  }
  for (size_t i = 0; i < count; ++i) {
    const TResultDataField& c = *s_.select_columns[i];
    if (!qualifier.empty()) {
      if (SameName(c.correlation_name, qualifier) && SameName(c.column_name, name) &&
          !(group && c.aggregate != kAggregateNone)) {
        return i;
      }
      continue;
    }
    const bool column_match =
        SameName(c.column_name, name) && !(group && c.aggregate != kAggregateNone) && !c.computed;
    if (column_match || SameName(c.result_name, name)) return i;
  }
  Fail("Invalid column name '" + std::string(name) + "' or table correlation name '" +
       std::string(qualifier) + "' specified in " + clause);
}

void TQueryBinder::FindServingIndex() {
  if (!s_.has_order || s_.distinct || s_.source_tables.size() != 1 || s_.has_group ||
      q_.aggregate_only_ || !s_.into_name.empty() || s_.into_memory) {
    return;
  }
  TDataFile& file = *s_.source_tables.front()->data_file;
  std::vector<uint16_t> fields;
  bool any_string = false;
  for (auto& item : s_.order_by) {
    const size_t i =
        ResolveItem(item->column_name, item->correlation_name, item->column_number, false);
    const TResultDataField& c = *s_.select_columns[i];
    if (c.computed || c.aggregate != kAggregateNone || q_.bound_[i].source_field == 0) return;
    fields.push_back(q_.bound_[i].source_field);
    if (file.GetFieldDefinition(TFieldSet::kTable, fields.back()).type == kFieldString) {
      any_string = true;
    }
  }
  const int last = file.GetSecondaryIndexCount();
  for (int slot = 0; slot <= last; ++slot) {
    const TIndexDescriptor d = file.GetIndexDescriptor(slot);
    if (d.field_count < fields.size()) continue;
    bool match = !any_string || (d.case_insensitive != 0) == s_.no_case;
    for (size_t k = 0; match && k < fields.size(); ++k) {
      const bool descending = (d.descending != 0) != (d.field_descending[k] != 0);
      match = d.field_numbers[k] == fields[k] && descending == s_.order_by[k]->descending;
    }
    if (match) {
      q_.order_served_ = true;
      q_.order_index_ = static_cast<uint8_t>(slot);
      return;
    }
  }
}

bool TQueryBinder::TryLive() {
  if (!s_.live || s_.distinct || s_.source_tables.size() != 1 || s_.has_group ||
      q_.aggregate_only_ || !s_.into_name.empty() || s_.into_memory ||
      (s_.has_order && !q_.order_served_)) {
    return false;
  }
  TDataFile& file = *s_.source_tables.front()->data_file;
  // Computed columns read the working set, which is the select list: a column they read must be
  // listed as a plain column, else the canned result serves the statement.
  auto listed = [&](const ExpressionNode& column) -> int {
    const TFieldDefinition* field = nullptr;
    if (FindColumn(column.correlation_name, column.column_name, field) == nullptr ||
        field == nullptr) {
      return -1;
    }
    for (size_t k = 0; k < s_.select_columns.size(); ++k) {
      if (!s_.select_columns[k]->computed && q_.bound_[k].source_field == field->number) {
        return static_cast<int>(k);
      }
    }
    return -1;
  };
  auto lookup = [&](ExpressionNode& column) {
    const int k = listed(column);
    if (k < 0) return false;
    TFieldDefinition w = file.GetFieldDefinition(TFieldSet::kTable, q_.bound_[k].source_field);
    w.number = static_cast<uint16_t>(k + 1);
    BindColumnNode(w, column);
    return true;
  };
  std::function<bool(const ExpressionNode*)> all_listed = [&](const ExpressionNode* node) {
    for (; node != nullptr; node = node->next.get()) {
      if (node->kind == kNodeColumn && !node->from_quoted_text && listed(*node) < 0) return false;
      if (!all_listed(node->first.get()) || !all_listed(node->second.get())) return false;
    }
    return true;
  };
  std::vector<TFieldDefinition> working;
  for (size_t i = 0; i < s_.select_columns.size(); ++i) {
    const TResultDataField& c = *s_.select_columns[i];
    TFieldDefinition d;
    if (!c.computed) {
      d = file.GetFieldDefinition(TFieldSet::kTable, q_.bound_[i].source_field);
    } else {
      if (!all_listed(c.expression.get())) return false;
      ExpressionNodePtr copy = CopyExpressionTree(c.expression.get());
      CheckExpression("source columns", *copy, lookup);
      d.type = checked_[i].type;
      d.sub_type = checked_[i].sub_type;
      d.size = static_cast<uint8_t>(DeclaredSize(d.type, checked_[i].size));
      d.decimals = d.type == kFieldMoney ? checked_[i].decimals : 0;
      d.computed = true;
      d.expression = std::shared_ptr<const ExpressionNode>(std::move(copy));
    }
    d.number = static_cast<uint16_t>(i + 1);
    d.name = c.result_name.substr(0, kFieldNameMax);
    working.push_back(std::move(d));
  }
  file.DefineFields(std::move(working));
  q_.live_result_ = true;
  PlanJoins(s_);
  return true;
}

// ---- the result table ---------------------------------------------------------------------------

void TQueryBinder::DefineResultFields() {
  std::vector<TFieldDefinition>& fields = q_.result_fields_;
  fields.clear();
  TFieldDefinition row;
  row.number = 1;
  row.name = kRowNumberField;
  row.type = kFieldInt32;
  row.sub_type = kSubTypeAutoIncrement;
  fields.push_back(row);
  for (size_t i = 0; i < s_.select_columns.size(); ++i) {
    const TResultDataField& c = *s_.select_columns[i];
    const auto& bound = q_.bound_[i];
    TFieldDefinition d;
    if (!c.computed && c.aggregate == kAggregateNone && bound.source != nullptr) {
      d = bound.source->data_file->GetFieldDefinition(TFieldSet::kTable, bound.source_field);
      if (d.IsAutoIncrement()) d.sub_type = 0;
    } else {
      d.type = checked_[i].type;
      d.sub_type = checked_[i].sub_type;
      d.size = static_cast<uint8_t>(std::max<size_t>(1, DeclaredSize(d.type, checked_[i].size)));
      d.decimals = d.type == kFieldMoney ? checked_[i].decimals : 0;
      if (c.aggregate == kAggregateAvg) {
        d.type = kFieldFloat;
        d.sub_type = 0;
        d.decimals = 0;
      }
      if (!HasDeclaredSize(d.type)) d.size = 0;
    }
    d.number = bound.result_field;
    d.name = c.result_name.substr(0, kFieldNameMax);
    d.offset = 0;
    d.stored_size = 0;
    d.required = false;
    d.minimum.clear();
    d.maximum.clear();
    d.default_value.clear();
    d.computed = false;
    d.expression.reset();
    fields.push_back(std::move(d));
  }
  if (s_.has_average) {
    // One hidden count per AVG column: each averages over its own non-NULL values.
    size_t k = 0;
    for (auto& c : s_.select_columns) {
      if (c->aggregate != kAggregateAvg) continue;
      TFieldDefinition count;
      count.number = static_cast<uint16_t>(fields.size() + 1);
      count.name = k == 0 ? std::string(kAverageCountField)
                          : std::string(kAverageCountField) + "_" + std::to_string(k + 1);
      count.type = kFieldInt32;
      fields.push_back(count);
      ++k;
    }
  }
}

void TQueryBinder::DefineResultIndexes() {
  std::vector<TIndexDescriptor>& indexes = q_.result_indexes_;
  indexes.clear();
  auto make = [](const char* name) {
    TIndexDescriptor d;
    d.name = name;
    d.compression = 3;
    return d;
  };
  auto same_keys = [](const TIndexDescriptor& a, const TIndexDescriptor& b) {
    return a.field_count == b.field_count && a.field_numbers == b.field_numbers &&
           a.field_descending == b.field_descending && a.descending == b.descending &&
           a.case_insensitive == b.case_insensitive;
  };
  const uint16_t count = static_cast<uint16_t>(s_.select_columns.size());
  std::optional<TIndexDescriptor> order;
  if (s_.has_order) {
    TIndexDescriptor d = make("");
    bool all_descending = true;
    for (auto& item : s_.order_by) {
      const size_t i =
          ResolveItem(item->column_name, item->correlation_name, item->column_number, false);
      if (d.field_count >= kMaxKeyFields - 1) Fail("Too many columns in ORDER BY clause");
      d.field_descending[d.field_count] = item->descending ? 1 : 0;
      d.field_numbers[d.field_count++] = static_cast<uint16_t>(i + 2);
      all_descending = all_descending && item->descending;
    }
    d.descending = all_descending ? 1 : 0;
    if (all_descending) d.field_descending.fill(0);
    d.case_insensitive = s_.no_case ? 1 : 0;
    order = d;
  }
  std::optional<TIndexDescriptor> group;
  if (s_.has_group) {
    TIndexDescriptor d = make("GroupBy");
    for (auto& item : s_.group_by) {
      const size_t i =
          ResolveItem(item->column_name, item->correlation_name, item->column_number, true);
      if (d.field_count >= kMaxKeyFields) Fail("Too many columns in GROUP BY clause");
      d.field_numbers[d.field_count++] = static_cast<uint16_t>(i + 2);
    }
    group = d;
  } else if (s_.distinct) {
    if (count > kMaxDistinctColumns) {
      Fail("Maximum number of columns (" + std::to_string(kMaxDistinctColumns) +
           ") in DISTINCT clause exceeded");
    }
    TIndexDescriptor d = make("Distinct");
    for (uint16_t i = 0; i < count; ++i) d.field_numbers[d.field_count++] = i + 2;
    group = d;
  }
  if (order) {
    const bool serves = group && same_keys(*order, *group);
    if (!serves) {
      order->field_descending[order->field_count] = 0;
      order->field_numbers[order->field_count++] = 1;
    }
    q_.order_serves_group_ = serves;
    indexes.push_back(*order);
    if (group && !serves) {
      indexes.push_back(*group);
      (s_.distinct ? q_.has_distinct_index_ : q_.has_group_index_) = true;
    }
  } else if (group) {
    group->name.clear();
    indexes.push_back(*group);
  } else {
    TIndexDescriptor d = make("");
    d.unique = 1;
    indexes.push_back(d);
  }
}

void TQueryBinder::CreateResult() {
  TDataFile& result = *q_.result_;
  TFileSession& session = *GetEngineSession();
  const bool into = !s_.into_name.empty();
  const bool in_memory = s_.into_memory;
  std::string directory;
  if (!in_memory && (!into || !ContainsPath(s_.into_name))) {
    directory = session.PrivateDirectory();
    if (directory.empty() && !in_memory) {
      if (!into) {
        // A temporary result is the user's alone: never the (possibly shared) current directory.
        if (const uint32_t error = platform::GetPrivateDirectory(directory); error != 0) {
          RaiseEngineError(MapOSError(error), directory);
        }
        directory = cl::Utf8ToCp1252(directory);
      } else {
        directory = cl::Utf8ToCp1252(platform::GetCurrentDir());
      }
    }
  }
  const ResultPasswordGuard password_guard(session, s_);

  auto setup = [&](const std::string& name) {
    result.SetFileName(name);
    result.SetInMemory(in_memory);
    result.SetExclusive(true);
    result.SetReadOnly(false);
    TNewTable table;
    table.language = q_.language_id_;
    table.sort = q_.sort_id_;
    table.creator_a = 1;
    table.creator_b = 32;
    table.blob_block_size = 512;
    table.description = kResultDescription;
    table.encrypted = s_.encrypted;
    table.password = s_.encrypted ? s_.password : std::string();
    table.fields = q_.result_fields_;
    table.indexes = q_.result_indexes_;
    result.SetupNewTable(std::move(table));
  };
  if (into) {
    q_.into_target_ = ContainsPath(s_.into_name) || directory.empty()
                          ? s_.into_name
                          : AddTrailingBackslash(directory) + s_.into_name;
    // The target is replaced only once the statement has succeeded (ReplaceIntoTarget); one
    // that another handle holds is refused now, as its replacement would be.
    TDataFile target;
    target.SetInMemory(in_memory);
    target.SetFileName(q_.into_target_);
    target.CheckTableFilesFree();
    // Built beside it, so that the replacement is a rename.
    const size_t slash = q_.into_target_.rfind('/');
    directory = slash == std::string::npos ? std::string() : q_.into_target_.substr(0, slash + 1);
  }
  // Another process may take the name between the search and the creation: the exclusive
  // creation refuses it, and the search runs again, past the name now taken.
  for (int attempt = 0;; ++attempt) {
    std::string name = MakeTempTableNameIn(session, in_memory, directory);
    try {
      setup(name);
    } catch (const ETesseraEngineError&) {
      if (attempt < kTempNameAttempts && !in_memory && DiskFileExists(name)) continue;
      throw;
    }
    q_.result_name_ = name;
    break;
  }
  q_.result_created_ = true;
  // An INTO result under construction is deleted by Unprepare unless it replaced its target.
  result.SetDeleteOnClose(!into);
  q_.into_pending_ = into;
  OpenResult();
}

void TQueryBinder::OpenResult() {
  TDataFile& result = *q_.result_;
  result.Open();
  result.SetNoKeyCheck(true);
  result.SetDeferredCommit(true);
  // The result's indexes are built in one go by this statement: a larger page cache keeps their
  // pages in memory instead of writing and reading them back while the keys arrive.
  result.IndexFile().PageCache().SetListCapacity(kResultPageCacheList);
  // Its records likewise when groups or distinct rows are stored one by one, and so read back in
  // another order than they were stored in: they stay in memory instead of being written out and
  // read back one at a time.  Plain rows are stored in the order they are read back (sorted
  // first under ORDER BY) and read back in runs: a cache of every row would only be built and
  // freed again.  (Setting the cache drops its entries: the new table stands on no record.)
  if (!s_.has_group && !q_.aggregate_only_ && !s_.distinct) return;
  const size_t buffer_size = result.GetRecordBufferSize();
  if (result.CurrentRecord() == nullptr) {
    result.RecordCache().Configure(
        result.Header().DataStart(), result.GetRecordSize(), buffer_size,
        std::min(kResultRecordCacheEntries,
                 kResultRecordCacheBytes / std::max<size_t>(buffer_size, 1)));
  }
}

void TQueryBinder::ReplaceIntoTarget() {
  TDataFile& result = *q_.result_;
  result.Close();
  TDataFile target;
  target.SetInMemory(result.InMemory());
  target.SetFileName(q_.into_target_);
  // Refused (another handle holds the target): nothing changed, and Unprepare drops the result.
  if (target.Exists()) target.DeleteTableFiles();
  // From here the result is the only copy: a failed rename leaves it under its temporary name.
  q_.into_pending_ = false;
  result.RenameTableFiles(q_.into_target_);
  q_.result_name_ = result.FileName();
  const ResultPasswordGuard password_guard(*GetEngineSession(), s_);
  OpenResult();
  ShiftWorkingFields();
}

void TQueryBinder::ShiftWorkingFields() {
  TDataFile& result = *q_.result_;
  std::vector<TFieldDefinition> working(result.TableFields().begin() + 1,
                                        result.TableFields().end());
  for (size_t i = 0; i < working.size(); ++i) working[i].number = static_cast<uint16_t>(i + 1);
  const size_t hidden = working.size() - s_.select_columns.size();
  result.DefineFields(std::move(working));
  for (size_t i = 0; i < hidden; ++i) result.DecFieldsInUse();
}

}  // namespace tessera
