#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
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

using testing::EngineCode;
using testing::Field;
using testing::Index;
using Bytes = std::vector<uint8_t>;

struct Case {
  const char* name;
  uint16_t language;   // 0: bytes; else collated string keys
  bool exclusive;      // else a shared handle, which takes the rows one by one
  size_t rows_before;  // rows stored before the batch (the batch then goes one by one)
  bool clash;          // a unique index meets a duplicate in the batch
};

class AppendRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }

  void Create(const std::string& path, const Case& c) {
    TNewTable table;
    table.language = c.language;
    table.fields = {Field(1, "Id", kFieldInt32), Field(2, "Nom", kFieldString, 20),
                    Field(3, "Ville", kFieldString, 12)};
    TIndexDescriptor by_name = Index("ParNom", {2}, false);
    by_name.case_insensitive = 1;
    table.indexes = {Index("", {1}, true), by_name, Index("ParVille", {3}, true)};
    TDataFile t;
    t.SetFileName(path);
    t.SetExclusive(true);
    t.SetupNewTable(table);
  }

  // Ids shuffled, names from a few spellings (duplicates, and equal without case), towns unique
  // unless the case asks for a clash.
  static std::vector<Bytes> Rows(TDataFile& t, size_t n, bool clash) {
    const char* names[] = {"Durand", "durand", "Muller", "Zoe", "etienne", "Etienne", "Abel"};
    std::mt19937 rng(7);
    std::vector<uint32_t> ids(n);
    std::iota(ids.begin(), ids.end(), 1u);
    std::shuffle(ids.begin(), ids.end(), rng);
    std::vector<Bytes> rows;
    for (size_t i = 0; i < n; ++i) {
      Bytes row(t.GetRecordBufferSize());
      t.ApplyFieldDefaults(row.data());
      uint8_t id[4];
      cl::PutU32LE(id, ids[i]);
      t.PutFieldValue(TFieldSet::kTable, 1, false, id, row.data());
      char text[21] = {};
      std::strncpy(text, names[rng() % 7], 20);
      t.PutFieldValue(TFieldSet::kTable, 2, false, reinterpret_cast<uint8_t*>(text), row.data());
      const size_t town = clash && i == n - 2 ? 5 : i;
      std::snprintf(text, sizeof text, "V%06zu", town);
      t.PutFieldValue(TFieldSet::kTable, 3, false, reinterpret_cast<uint8_t*>(text), row.data());
      rows.push_back(std::move(row));
    }
    return rows;
  }

  // Every record in every order, as the table reads them.
  static std::vector<Bytes> ReadAll(TDataFile& t) {
    std::vector<Bytes> out;
    for (const uint8_t slot : {uint8_t{0}, uint8_t{1}, uint8_t{2}, uint8_t{255}}) {
      t.SetCurrentIndexByNumber(slot);
      t.MoveToBeginning();
      Bytes record(t.GetRecordBufferSize());
      while (t.GetNextRecord(record.data()) == 0) out.push_back(record);
    }
    return out;
  }

  mirvel_test::TempDirectory dir_{"bulk"};
};

// The batch leaves the table as that many inserts would, key for key and byte for byte, and
// the table check accepts it; where the batch cannot go in one store it goes one by one.
TEST_F(AppendRecordsTest, LeavesTheTableAsInsertsWould) {
  const Case cases[] = {
      {"bytes", 0, true, 0, false},   {"collated", 0x040C, true, 0, false},
      {"shared", 0, false, 0, false}, {"rows before", 0x040C, true, 3, false},
      {"clash", 0, true, 0, true},
  };
  constexpr size_t kRows = 900;  // several leaves of every index, two levels
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bulk_path = dir_.File(std::string("Bulk") + c.name[0] + c.name[1]);
    const std::string each_path = dir_.File(std::string("Each") + c.name[0] + c.name[1]);
    Create(bulk_path, c);
    Create(each_path, c);
    TDataFile bulk, each;
    for (auto [t, path] : {std::pair{&bulk, bulk_path}, std::pair{&each, each_path}}) {
      t->SetFileName(path);
      t->SetExclusive(c.exclusive);
      t->Open();
    }
    std::vector<Bytes> rows = Rows(bulk, c.rows_before + kRows, c.clash);
    for (size_t i = 0; i < c.rows_before; ++i) {
      Bytes copy = rows[i];
      bulk.InsertRecord(rows[i].data());
      each.InsertRecord(copy.data());
    }
    Bytes batch;
    for (size_t i = c.rows_before; i < rows.size(); ++i) {
      batch.insert(batch.end(), rows[i].begin(), rows[i].end());
    }
    const int bulk_code = EngineCode([&] { bulk.AppendRecords(batch.data(), kRows); });
    const int each_code = EngineCode([&] {
      for (size_t i = c.rows_before; i < rows.size(); ++i) each.InsertRecord(rows[i].data());
    });
    EXPECT_EQ(bulk_code, c.clash ? kErrKeyViolation : 0);
    EXPECT_EQ(bulk_code, each_code);
    EXPECT_EQ(bulk.GetRecordCount(), each.GetRecordCount());
    EXPECT_EQ(ReadAll(bulk), ReadAll(each));
    bulk.Close();
    each.Close();
    const TTableCheckReport report = CheckTableFiles(bulk_path);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems.front());
    EXPECT_EQ(report.live_records, CheckTableFiles(each_path).live_records);
  }
}

}  // namespace
}  // namespace tessera
