#include "engine/storage/table/TableCheck.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace tessera {
namespace {

using testing::Field;
using testing::Index;
using Bytes = std::vector<uint8_t>;

// Users with a memo: Id primary, Nom secondary; 12 records, three of them deleted (slots 3, 6,
// 9, the chain 9 -> 6 -> 3), memos on the even ones.
class TableCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    path_ = dir_.File("Users");
    Make(path_, 0, {"Anne", "Bruno", "Claire", "Denis"});
  }

  void Make(const std::string& path, uint16_t language, const std::vector<std::string>& names) {
    TNewTable table;
    table.language = language;
    table.fields = {Field(1, "Id", kFieldInt32), Field(2, "Nom", kFieldString, 20),
                    Field(3, "Memo", kFieldBlob)};
    table.indexes = {Index("", {1}, true), Index("ParNom", {2}, false)};
    {
      TDataFile t;
      t.SetFileName(path);
      t.SetExclusive(true);
      t.SetupNewTable(table);
    }
    TDataFile t;
    t.SetFileName(path);
    t.Open();
    Bytes buf(t.GetRecordBufferSize());
    for (int i = 1; i <= 12; ++i) {
      t.ApplyFieldDefaults(buf.data());
      uint8_t id[4];
      cl::PutU32LE(id, static_cast<uint32_t>(i));
      t.PutFieldValue(TFieldSet::kTable, 1, false, id, buf.data());
      char nom[21] = {};
      std::strncpy(nom, names[static_cast<size_t>(i) % names.size()].c_str(), 20);
      t.PutFieldValue(TFieldSet::kTable, 2, false, reinterpret_cast<uint8_t*>(nom), buf.data());
      if (i % 2 == 0) {
        const std::string memo(static_cast<size_t>(300 * i), 'm');
        ASSERT_EQ(t.OpenBlob(TFieldSet::kTable, 3, 0, buf.data()), 0);
        t.WriteBlob(TFieldSet::kTable, 3, static_cast<int32_t>(memo.size()), memo.data(), 0,
                    buf.data());
      }
      t.InsertRecord(buf.data());
      t.CloseBlob(TFieldSet::kTable, 3, buf.data());
    }
    for (uint8_t id : {3, 6, 9}) {
      Bytes record(t.GetRecordBufferSize());
      uint8_t value[4];
      cl::PutU32LE(value, id);
      t.PutFieldValue(TFieldSet::kTable, 1, false, value, record.data());
      ASSERT_TRUE(t.SeekRecordKey(false, record.data(), nullptr, 0, false, 0));
      t.DeleteRecord();
    }
    t.Close();
  }

  size_t RecordAt(const Bytes& dat, uint32_t n) {
    const size_t data_start = DataStart(cl::GetU16LE(dat.data() + kDatFieldCount));
    return data_start + (n - 1) * cl::GetU16LE(dat.data() + kDatRecordSize);
  }

  std::string path_;
  mirvel_test::TempDirectory dir_;
};

TEST_F(TableCheckTest, FindsDamageAtEachLevel) {
  ASSERT_TRUE(CheckTableFiles(path_).ok());
  struct Case {
    const char* what;
    std::function<void()> damage;
    const char* reported;
  };
  const std::string dat = path_ + ".DAT", idx = path_ + ".IDX", blb = path_ + ".BLB";
  auto edit = [](const std::string& file, const std::function<void(Bytes&)>& change) {
    Bytes b = mirvel_test::ReadFileBytes(file);
    change(b);
    mirvel_test::WriteFileBytes(file, b);
  };
  // Record field offsets: Id at 9, Nom at 14, Memo at 36 (null byte, then the first block).
  const std::vector<Case> cases = {
      {"record number", [&] { edit(dat, [&](Bytes& b) { b[RecordAt(b, 5) + 1] = 99; }); },
       "carries the number"},
      {"sequence",
       [&] {
         edit(dat,
              [&](Bytes& b) { std::memcpy(&b[RecordAt(b, 5) + 5], &b[RecordAt(b, 4) + 5], 4); });
       },
       "repeats a sequence number"},
      {"deleted chain", [&] { edit(dat, [&](Bytes& b) { b[RecordAt(b, 6) + 1] = 7; }); },
       "deleted chain"},
      {"record count", [&] { edit(idx, [](Bytes& b) { b[kIdxRecordCount] += 1; }); },
       "index record count"},
      {"missing key",
       [&] {
         TDataFile t;
         t.SetFileName(path_);
         t.SetExclusive(true);
         t.Open();
         Bytes record(t.GetRecordBufferSize());
         t.SetCurrentIndexByName("ParNom");
         t.GoToPosition(2);
         ASSERT_EQ(t.GetCurrentRecord(record.data()), 0);
         const uint32_t n = t.CurrentRecord()->number;
         uint8_t key[kMaxKeyLength];
         t.BuildKey(record.data(), key);
         t.IndexFile().DeleteKey(key, n);
         t.Close();
       },
       "keys missing"},
      {"blob owner",
       [&] {
         Bytes d = mirvel_test::ReadFileBytes(dat);
         const uint32_t first = cl::GetU32LE(&d[RecordAt(d, 4) + 37]);
         edit(blb, [&](Bytes& b) { cl::PutU32LE(&b[first + kBlkOwner], 8); });
       },
       "is not this value's"},
      {"blob shared",
       [&] {
         edit(dat,
              [&](Bytes& b) { std::memcpy(&b[RecordAt(b, 8) + 37], &b[RecordAt(b, 4) + 37], 4); });
       },
       "in another chain"},
  };
  const Bytes files[] = {mirvel_test::ReadFileBytes(dat), mirvel_test::ReadFileBytes(idx),
                         mirvel_test::ReadFileBytes(blb)};
  for (const Case& c : cases) {
    c.damage();
    const TTableCheckReport report = CheckTableFiles(path_);
    ASSERT_FALSE(report.ok()) << c.what;
    EXPECT_NE(report.problems.front().find(c.reported), std::string::npos)
        << c.what << ": " << report.problems.front();
    mirvel_test::WriteFileBytes(dat, files[0]);
    mirvel_test::WriteFileBytes(idx, files[1]);
    mirvel_test::WriteFileBytes(blb, files[2]);
  }
}

// The tool mode: exit 0 for a sound table, also one whose string keys follow a language's
// collation rather than byte order, and 1 for damage.
TEST_F(TableCheckTest, ToolChecksATableInItsOwnKeyOrder) {
  const std::string french = dir_.File("Clients");
  Make(french, 0x040C,
       {"\xC9ric", "eric", "Zo\xE9",
        "\xE9"
        "cole",
        "Emile", "f\xE9lix"});
  auto run = [](const std::string& table) {
    const std::string command = std::string(TESSERA_DUMP) + " --check '" + table + "' >/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run(french), 0);
  EXPECT_EQ(run(french + ".IDX"), 0);  // the index alone is checked in its table's order too
  EXPECT_EQ(run(path_ + ".DAT"), 0);
  Bytes b = mirvel_test::ReadFileBytes(path_ + ".IDX");
  b[kIdxRecordCount] += 1;
  mirvel_test::WriteFileBytes(path_ + ".IDX", b);
  EXPECT_EQ(run(path_), 1);
  EXPECT_EQ(run(dir_.File("Nowhere")), 2);
}

}  // namespace
}  // namespace tessera
