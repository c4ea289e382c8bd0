// Helpers of the query execution tests: tables made in a fresh directory, statements run through
// TDataQuery, results read back as text rows, and error texts caught.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/TDataQuery.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera::testing {

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    std::filesystem::create_directory(private_dir());
    GetEngineSession()->SetPrivateDirectory(private_dir());
  }
  void TearDown() override { ShutdownEngine(); }

  std::string private_dir() const { return dir_.File("private"); }
  std::string Path(std::string_view name) const { return dir_.File(name); }

  // A table of `fields` with the given indexes (index 0 primary).
  void Create(std::string_view name, std::vector<TFieldDefinition> fields,
              std::vector<TIndexDescriptor> indexes) {
    TNewTable t;
    t.fields = std::move(fields);
    t.indexes = std::move(indexes);
    if (t.indexes.empty()) t.indexes.emplace_back();
    TDataFile d;
    d.SetFileName(Path(name));
    d.SetExclusive(true);
    d.SetupNewTable(std::move(t));
  }

  // Prepares and executes; the rows of a SELECT as "v1|v2|..." (NULL for blank values).
  std::vector<std::string> Run(std::string_view sql, TDataQuery* query = nullptr) {
    TDataQuery local;
    TDataQuery& q = query != nullptr ? *query : local;
    q.SetDirectory(dir_.Path());
    EXPECT_EQ(q.PrepareQuery(sql), 0);
    TDataFile* result = nullptr;
    EXPECT_EQ(q.ExecuteQuery(result), 0);
    last_rows_affected_ = q.RowsAffected();
    std::vector<std::string> rows;
    if (result != nullptr) rows = ReadRows(*result);
    return rows;
  }

  static std::vector<std::string> ReadRows(TDataFile& table) {
    std::vector<std::string> rows;
    std::vector<uint8_t> buffer(table.GetRecordBufferSize());
    table.MoveToBeginning();
    while (table.GetNextRecord(buffer.data()) == 0) {
      std::string row;
      for (uint16_t f = 1; f <= table.GetFieldsInUse(); ++f) {
        if (f > 1) row += "|";
        row += FieldText(table, f, buffer.data());
      }
      rows.push_back(row);
    }
    return rows;
  }

  static std::string FieldText(TDataFile& table, uint16_t field, const uint8_t* record) {
    const TFieldDefinition& d = table.GetFieldDefinition(TFieldSet::kWorking, field);
    uint8_t value[260] = {};
    if (table.GetFieldValue(TFieldSet::kWorking, field, value, record)) return "NULL";
    ExpressionNode n;
    BindColumnNode(d, n);
    StoredToExpressionValue(d, value, false, n);
    char text[64];
    switch (d.type) {
      case kFieldString:
        return std::string(n.StringValue());
      case kFieldInt16:
        return std::to_string(n.Int16Value());
      case kFieldInt32:
        return std::to_string(n.Int32Value());
      case kFieldWord:
        return std::to_string(n.WordValue());
      case kFieldBoolean:
        return n.BooleanValue() ? "T" : "F";
      case kFieldFloat:
      case kFieldTimeStamp:
        std::snprintf(text, sizeof text, "%g", n.FloatValue());
        return text;
      case kFieldMoney:
        std::snprintf(text, sizeof text, "%.4f", n.Int64Value() / 10000.0);
        return text;
      default:
        return std::to_string(n.UInt32Value());
    }
  }

  // The full text of the engine error that preparing and executing `sql` raises, or "<none>".
  std::string ErrorOf(std::string_view sql, TDataQuery* query = nullptr) {
    TDataQuery local;
    TDataQuery& q = query != nullptr ? *query : local;
    q.SetDirectory(dir_.Path());
    try {
      q.PrepareQuery(sql);
      TDataFile* result = nullptr;
      q.ExecuteQuery(result);
    } catch (const ETesseraEngineError& e) {
      EXPECT_FALSE(q.Prepared()) << sql;
      return e.Message();
    }
    return "<none>";
  }

  // Files left in the private directory (temporary results).
  size_t PrivateFiles() const {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(private_dir())) ++n;
    return n;
  }

  mirvel_test::TempDirectory dir_{"sqlq"};
  int32_t last_rows_affected_ = 0;
};

}  // namespace tessera::testing
