// Helpers shared by the join analysis and join loop tests: tables A, B, C and D on disk, and a
// statement bound the way the query binder binds it (sources opened in record order, unqualified
// columns given their table, the plan made, every tree checked, the table filters installed).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Collation.h"
#include "engine/sql/JoinAnalysis.h"
#include "engine/sql/JoinLoop.h"
#include "engine/sql/StatementDump.h"
#include "engine/sql/TQueryStatement.h"
#include "engine/sql/TStatementParser.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TableCreation.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera::testing {

// Every table: K (32-bit, the primary key), X (32-bit, index "ByX"), S (16-bit, no index),
// N (string of 12, index "ByN").
enum JoinField : uint16_t { kK = 1, kX = 2, kS = 3, kN = 4 };

struct JoinRow {
  int32_t k;
  bool x_null;
  int32_t x;
  bool s_null;
  int16_t s;
  std::string n;  // empty: NULL
};

class JoinTablesTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }

  void CreateTable(const std::string& name, const std::vector<JoinRow>& rows,
                   bool secondary = true) {
    TNewTable t;
    t.fields = {Field(kK, "K", kFieldInt32), Field(kX, "X", kFieldInt32),
                Field(kS, "S", kFieldInt16), Field(kN, "N", kFieldString, 12)};
    t.indexes.push_back(Index("", {kK}, true));
    if (secondary) {
      t.indexes.push_back(Index("ByX", {kX}, false));
      t.indexes.push_back(Index("ByN", {kN}, false));
    }
    TDataFile d;
    d.SetFileName(dir_.File(name));
    d.SetExclusive(true);
    d.SetupNewTable(std::move(t));
    d.SetExclusive(false);
    d.Open();
    std::vector<uint8_t> buf(d.GetRecordBufferSize());
    for (const JoinRow& r : rows) {
      d.ApplyFieldDefaults(buf.data());
      PutInt(d, kK, r.k, buf.data());
      if (!r.x_null) PutInt(d, kX, r.x, buf.data());
      if (!r.s_null) PutInt(d, kS, r.s, buf.data());
      if (!r.n.empty()) {
        char text[16] = {};
        std::memcpy(text, r.n.data(), std::min<size_t>(r.n.size(), 12));
        d.PutFieldValue(TFieldSet::kTable, kN, false, reinterpret_cast<uint8_t*>(text), buf.data());
      }
      d.InsertRecord(buf.data());
    }
    d.Close();
  }

  static void PutInt(TDataFile& d, uint16_t field, int64_t v, uint8_t* buf) {
    uint8_t bytes[8] = {};
    cl::PutU64LE(bytes, static_cast<uint64_t>(v));
    d.PutFieldValue(TFieldSet::kTable, field, false, bytes, buf);
  }

  static TSourceDataFile* Source(TQueryStatement& q, std::string_view correlation) {
    for (auto& t : q.source_tables) {
      if (cl::AnsiSameText(t->correlation_name, correlation)) return t.get();
    }
    return nullptr;
  }

  // Gives each unqualified column the first table that has the field, as binding does.
  static void ResolveNames(TQueryStatement& q, ExpressionNode* n) {
    if (n == nullptr) return;
    if (n->kind == kNodeColumn && n->correlation_name.empty()) {
      for (auto& t : q.source_tables) {
        for (const TFieldDefinition& f : t->data_file->TableFields()) {
          if (cl::AnsiSameText(f.name, n->column_name) && n->correlation_name.empty()) {
            n->correlation_name = t->correlation_name;
          }
        }
      }
    }
    ResolveNames(q, n->first.get());
    for (ExpressionNode* v = n->second.get(); v != nullptr; v = v->next.get()) {
      ResolveNames(q, v);
    }
  }

  static bool Lookup(TQueryStatement& q, ExpressionNode& column) {
    TSourceDataFile* t = Source(q, column.correlation_name);
    if (t == nullptr) return false;
    for (const TFieldDefinition& f : t->data_file->TableFields()) {
      if (cl::AnsiSameText(f.name, column.column_name)) {
        BindColumnNode(f, column);
        return true;
      }
    }
    return false;
  }

  // Parses and plans `sql` into `q`, its sources opened from the test directory.
  void Plan(TQueryStatement& q, std::string_view sql) {
    q.directory = dir_.Path();
    q.parser.SetText(sql);
    ParseStatement(q);
    for (size_t i = 0; i < q.source_tables.size(); ++i) {
      TSourceDataFile& t = *q.source_tables[i];
      t.position = static_cast<uint16_t>(i + 1);
      t.data_file->SetFileName(t.table_name);
      t.data_file->SetReadOnly(true);
      t.data_file->Open();
      t.data_file->SetCurrentIndexByNumber(255);
    }
    ResolveNames(q, q.condition.get());
    PlanJoins(q);
  }

  // Checks every tree and installs the table filters.
  void Execute(TQueryStatement& q, bool keep_per_record = false) {
    ForEachConditionTree(q, [&q](ExpressionNodePtr& tree) {
      CheckExpression("WHERE or JOIN clause", *tree,
                      [&q](ExpressionNode& column) { return Lookup(q, column); });
    });
    AssignTableFilters(q, {keep_per_record, 0, 0});
  }

  // The plan of `sql` once its filters are installed, or "error: " + the SQL text raised.
  std::string PlanOf(std::string_view sql) {
    TQueryStatement q;
    try {
      Plan(q, sql);
      // Every parameter is the integer 1, as SetQueryParams would type it.
      for (ExpressionNode* p : q.parameters) {
        p->type = kExprTypeInt32;
        p->size = 4;
        p->is_null = 0;
        p->SetInt32(1);
      }
      Execute(q);
    } catch (const ETesseraEngineError&) {
      return "error: " + GetEngineSession()->ErrorSql();
    }
    return DumpPlan(q);
  }

  // The combined rows as "K of each table in position order" (NULL as "-"), residual applied.
  static std::vector<std::string> Rows(TQueryStatement& q) {
    std::vector<std::string> rows;
    TSourceDataFile& driving = *q.source_tables.front();
    if (!FirstJoinedRow(driving)) return rows;
    while (NextJoinedRow(driving)) {
      if (!ResidualHolds(q, 0, 0)) continue;
      std::string row;
      for (auto& t : q.source_tables) {
        ExpressionNode k;
        k.kind = kNodeColumn;
        k.correlation_name = t->correlation_name;
        k.field_number = kK;
        ReadJoinedColumn(q, k);
        row +=
            (row.empty() ? "" : ",") +
            (k.is_null ? std::string("-") : t->correlation_name + std::to_string(k.Int32Value()));
      }
      rows.push_back(row);
    }
    return rows;
  }

  mirvel_test::TempDirectory dir_{"join"};
};

}  // namespace tessera::testing
