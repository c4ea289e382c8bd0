#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCheck.h"
#include "engine/storage/table/TableCreation.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera {
namespace {

// A batch passes the table check (every index tree sound and holding the keys its records make,
// "Sys Deleted" one per slot); names repeat, also without case, and 900 rows make two levels.  One that cannot go in one store (a shared handle, rows already there, a duplicate
// key) goes one by one: the rows before a duplicate stay, as after inserts.
TEST(AppendRecordsTest, PassesTheTableCheck) {
  InitializeEngine();
  mirvel_test::TempDirectory dir("bulk");
  struct Case {
    uint16_t language;
    bool exclusive;
    uint32_t rows_before;
    bool clash;
  };
  const Case cases[] = {{0, true, 0, false},
                        {0x040C, true, 0, false},
                        {0, false, 0, false},
                        {0x040C, true, 3, false},
                        {0, true, 0, true}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(++n));
    const std::string path = dir.File("T" + std::to_string(n));
    TNewTable table;
    table.language = c.language;
    table.fields = {testing::Field(1, "Id", kFieldInt32),
                    testing::Field(2, "Nom", kFieldString, 20)};
    table.indexes = {testing::Index("", {1}, true), testing::Index("ParNom", {2}, false)};
    table.indexes[1].case_insensitive = 1;
    TDataFile t;
    t.SetFileName(path);
    t.SetExclusive(true);
    t.SetupNewTable(table);
    t.SetExclusive(c.exclusive);
    t.Open();
    std::vector<uint8_t> rows, row(t.GetRecordBufferSize());
    const char* names[] = {"Durand", "durand", "Muller", "Zoe", "etienne", "Etienne", "Abel"};
    for (uint32_t i = 0; i < 900 + c.rows_before; ++i) {
      t.ApplyFieldDefaults(row.data());
      uint8_t id[4];
      cl::PutU32LE(id, c.clash && i == 800 ? 7919u : (i * 7919u) % 100003u);
      t.PutFieldValue(TFieldSet::kTable, 1, false, id, row.data());
      char text[21] = {};
      std::strncpy(text, names[i * 5 % 7], 20);
      t.PutFieldValue(TFieldSet::kTable, 2, false, reinterpret_cast<uint8_t*>(text), row.data());
      if (i < c.rows_before) {
        t.InsertRecord(row.data());
      } else {
        rows.insert(rows.end(), row.begin(), row.end());
      }
    }
    EXPECT_EQ(testing::EngineCode([&] { t.AppendRecords(rows.data(), 900); }),
              c.clash ? kErrKeyViolation : 0);
    const uint32_t expected = c.clash ? 800 : 900 + c.rows_before;
    EXPECT_EQ(t.GetRecordCount(), expected);
    t.Close();
    const TTableCheckReport report = CheckTableFiles(path);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems.front());
    EXPECT_EQ(report.live_records, expected);
  }
}

}  // namespace
}  // namespace tessera
