// Shared by the engine dataset and table tests: tables made on disk the short way, and a gtest
// environment that keeps the session list (and so the engine) for a whole test program.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/components/TTesseraSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"
#include "tests/engine/storage/StorageTestSupport.h"

namespace tessera::testing {

// InitializeSessions for the whole program, with the default session started so that tables
// can be created before any dataset opens.
class SessionsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    InitializeSessions();
    Sessions().DefaultSession()->Open();
  }
  void TearDown() override { FinalizeSessions(); }
};

// Creates the table `path` (no extension) with `fields`, the primary index on `primary` (empty:
// none) and the secondary `indexes`.
inline void CreateTable(const std::string& path, std::vector<TFieldDefinition> fields,
                        TIndexDescriptor primary, std::vector<TIndexDescriptor> indexes = {}) {
  TNewTable table;
  table.fields = std::move(fields);
  table.indexes.push_back(primary);
  for (TIndexDescriptor& index : indexes) table.indexes.push_back(index);
  TDataFile file;
  file.SetFileName(path);
  file.SetExclusive(true);
  file.SetupNewTable(std::move(table));
}

inline TFieldDefinition Sub(TFieldDefinition d, uint8_t sub_type) {
  d.sub_type = sub_type;
  return d;
}

inline TFieldDefinition Required(TFieldDefinition d) {
  d.required = true;
  return d;
}

// The conformance suite's table: Numero integer (primary key), Nom string 20, DateAppel
// date-time (required), Message memo.
inline void CreateStandardTable(const std::string& path) {
  CreateTable(
      path,
      {Field(1, "Numero", kFieldInt32), Field(2, "Nom", kFieldString, 20),
       Required(Field(3, "DateAppel", kFieldTimeStamp)), Sub(Field(4, "Message", kFieldBlob), 22)},
      Index("", {1}, true));
}

}  // namespace tessera::testing
