#include "engine/storage/table/TableRepair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCheck.h"
#include "engine/storage/table/TableCreation.h"
#include "platform/FaultyFile.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/LockHelperClient.h"
#include "tests/platform/TempDirectory.h"
#include "tools/TesseraDumpCommand.h"

namespace tessera {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr TFieldSet kSet = TFieldSet::kTable;
constexpr uint32_t kBlock = 512;

// What a record holds: A and its memo ("" for none); keyed by K.
struct Row {
  int32_t a = 0;
  std::string memo;
  bool operator==(const Row&) const = default;
};
using Model = std::map<int32_t, Row>;

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class TableRepairTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }

  std::string Path() const { return dir_.File("Rep"); }
  std::string File(const char* ext) const { return Path() + ext; }

  static void Put(TDataFile& t, uint16_t field, int32_t v, uint8_t* r) {
    uint8_t b[4];
    cl::PutU32LE(b, static_cast<uint32_t>(v));
    t.PutFieldValue(kSet, field, false, b, r);
  }

  // 40 records K = 1..40 (record n holds K = n), A = 10 K, a two-block memo on every third, the
  // records 5 and 10 deleted; the .IDX as it stood after 38 inserts is kept in stale_index_.
  void MakeTable(const std::string& password = "") {
    TNewTable table;
    table.encrypted = !password.empty();
    table.password = password;
    if (!password.empty()) GetEngineSession()->AddPassword(password);
    table.fields = {testing::Field(1, "K", kFieldInt32), testing::Field(2, "A", kFieldInt32),
                    testing::Field(3, "M", kFieldBlob)};
    table.indexes = {testing::Index("", {1}, true), testing::Index("ByA", {2}, false)};
    {
      TDataFile t;
      t.SetFileName(Path());
      t.SetExclusive(true);
      t.SetupNewTable(table);
    }
    TDataFile t;
    t.SetFileName(Path());
    t.SetExclusive(true);
    t.Open();
    Bytes r(t.GetRecordBufferSize());
    for (int32_t k = 1; k <= 40; ++k) {
      if (k == 39) {
        t.CommitTransaction(false, true, true);
        stale_index_ = ReadAll(File(".IDX"));
      }
      t.ApplyFieldDefaults(r.data());
      Put(t, 1, k, r.data());
      Put(t, 2, 10 * k, r.data());
      Row row{10 * k, k % 3 == 0 ? std::string(700, static_cast<char>('a' + k % 26)) : ""};
      if (!row.memo.empty()) {
        ASSERT_EQ(t.OpenBlob(kSet, 3, 0, r.data()), 0);
        ASSERT_EQ(t.WriteBlob(kSet, 3, 700, row.memo.data(), 0, r.data()), 0);
      }
      t.InsertRecord(r.data());
      if (!row.memo.empty()) t.CloseBlob(kSet, 3, r.data());
      model_[k] = row;
    }
    for (int32_t k : {5, 10}) {
      Put(t, 1, k, r.data());
      ASSERT_TRUE(t.FindRecordByKey(r.data(), nullptr));
      t.DeleteRecord();
      model_.erase(k);
    }
    data_start_ = t.Header().DataStart();
    record_size_ = t.GetRecordSize();
    memo_at_ = t.GetFieldDefinition(kSet, 3).offset + 1u;
    t.Close();
    GetEngineSession()->RemoveAllPasswords();
  }

  size_t At(uint32_t n) const { return data_start_ + (n - 1) * record_size_; }

  Model Read() {
    Model m;
    TDataFile t;
    t.SetFileName(Path());
    t.SetReadOnly(true);
    t.Open();
    Bytes r(t.GetRecordBufferSize());
    t.MoveToBeginning();
    while (t.GetNextRecord(r.data()) == 0) {
      uint8_t b[4];
      t.GetFieldValue(kSet, 1, b, r.data());
      Row& row = m[static_cast<int32_t>(cl::GetU32LE(b))];
      t.GetFieldValue(kSet, 2, b, r.data());
      row.a = static_cast<int32_t>(cl::GetU32LE(b));
      int32_t size = 0;
      if (t.OpenBlob(kSet, 3, 0, r.data()) == 0 && t.GetBlobSize(kSet, 3, size, r.data()) == 0 &&
          size > 0) {
        row.memo.resize(static_cast<size_t>(size));
        int32_t count = 0;
        t.ReadBlob(kSet, 3, count, size, row.memo.data(), 0, r.data());
        t.CloseBlob(kSet, 3, r.data());
      }
    }
    return m;
  }

  mirvel_test::TempDirectory dir_{"repair"};
  Model model_;
  Bytes stale_index_;
  size_t data_start_ = 0, record_size_ = 0, memo_at_ = 0;
};

// Each way a killed writer or a full disk leaves a table: the repair reports the change, the
// table passes the check, keeps every record that was whole (the model, as the damage changed
// it), and a second repair finds nothing to do.
TEST_F(TableRepairTest, EachDamageIsRepairedAndReported) {
  struct Files {
    Bytes dat, idx, blb, jnl;
  };
  Files pending;  // made below
  struct Case {
    const char* name;
    std::function<void(Files&, Model&)> damage;
    const char* reported;  // a part of one change line; nullptr: no change
  };
  const auto memo_of = [&](const Files& f, uint32_t n) {
    return cl::GetU32LE(f.dat.data() + At(n) + memo_at_);
  };
  const std::vector<Case> cases = {
      {"sound", [](Files&, Model&) {}, nullptr},
      {"record appended, header not written",
       [&](Files& f, Model& m) {
         Bytes copy(f.dat.begin() + At(1), f.dat.begin() + At(2));
         cl::PutU32LE(copy.data() + 1, 41);
         cl::PutU32LE(copy.data() + 5, 41);
         cl::PutU32LE(copy.data() + 10, 1000);
         f.dat.insert(f.dat.end(), copy.begin(), copy.end());
         m[1000] = Row{10, ""};
       },
       "counted 40 record slots, the file holds 41"},
      {"partial record at the end", [](Files& f, Model&) { f.dat.resize(f.dat.size() + 7); },
       "partial record of 7 bytes"},
      {"deleted chain through a live record",
       [](Files& f, Model&) { cl::PutU32LE(f.dat.data() + kDatDeletedHead, 2); },
       "deleted chain was rebuilt over 2"},
      {"interrupted delete: memo freed under a live record",
       [&](Files& f, Model& m) {
         cl::PutU32LE(f.blb.data() + memo_of(f, 3) + kBlkOwner, 0);
         m[3].memo.clear();
       },
       "record 3, field M: its value was lost"},
      {"memo past the end of the blob file",
       [&](Files& f, Model& m) {
         cl::PutU32LE(f.dat.data() + At(6) + memo_at_,
                      static_cast<uint32_t>(f.blb.size()) + kBlock);
         m[6].memo.clear();
       },
       "lies outside the blob file"},
      {"memo shared by two records",
       [&](Files& f, Model& m) {
         cl::PutU32LE(f.dat.data() + At(9) + memo_at_, memo_of(f, 12));
         m[9].memo.clear();
       },
       "belongs to record 12"},
      {"blob end offset past the file",
       [](Files& f, Model&) {
         cl::PutU32LE(f.blb.data() + kBlbEndOffset,
                      static_cast<uint32_t>(f.blb.size()) + 5 * kBlock);
       },
       "end offset"},
      {"repeated sequence number",
       [&](Files& f, Model&) {
         std::copy_n(f.dat.begin() + At(1) + 5, 4, f.dat.begin() + At(2) + 5);
       },
       "record 2 repeated the sequence number"},
      {"index behind its records", [&](Files& f, Model&) { f.idx = stale_index_; }, "keys missing"},
      {"index pages never written", [](Files& f, Model&) { f.idx.resize(kIndexPageSize + 100); },
       "its header pointed past its pages"},
      {"commit interrupted after its mark",
       [&](Files& f, Model& m) {
         f = pending;
         m[7].a = 777;
       },
       "was completed"},
      {"repeated unique key",
       [&](Files& f, Model& m) {
         cl::PutU32LE(f.dat.data() + At(4) + 10, 3);
         m.erase(4);
       },
       "record 4 repeated an earlier record's key in index Primary"},
  };
  MakeTable();
  const Files sound{ReadAll(File(".DAT")), ReadAll(File(".IDX")), ReadAll(File(".BLB")), {}};
  // A writer killed right after its journal and its commit mark: record 7 gets A = 777.
  {
    const auto at_7 = [&](TDataFile& h, Bytes& r) {
      r.resize(h.GetRecordBufferSize());
      Put(h, 1, 7, r.data());
      ASSERT_TRUE(h.FindRecordByKey(r.data(), nullptr));
      h.GetCurrentRecord(r.data());
    };
    TDataFile reader, t;
    reader.SetReadOnly(true);
    reader.SetStrictChangeDetection(true);
    reader.SetFileName(Path());
    reader.Open();
    auto faults = std::make_shared<platform::FileFaults>();
    t.InjectFaults(faults);
    t.SetFileName(Path());
    t.Open();
    Bytes r;
    at_7(t, r);
    Put(t, 2, 777, r.data());
    faults->stop_after = faults->writes + 2;
    t.ModifyRecord(r.data());
    t.Close();
    pending = {ReadAll(File(".DAT")), ReadAll(File(".IDX")), ReadAll(File(".BLB")),
               ReadAll(Path() + ".JNL")};
    std::ostringstream out, err;
    EXPECT_EQ(RunTesseraDump({"--check", Path()}, out, err), 3);
    EXPECT_NE(out.str().find("a commit is pending"), std::string::npos) << out.str();
    // A reader that meets it completes it through writable files of its own.
    at_7(reader, r);
    uint8_t a[4];
    reader.GetFieldValue(kSet, 2, a, r.data());
    EXPECT_EQ(cl::GetU32LE(a), 777u);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Files f = sound;
    Model expected = model_;
    c.damage(f, expected);
    WriteAll(File(".DAT"), f.dat);
    WriteAll(File(".IDX"), f.idx);
    WriteAll(File(".BLB"), f.blb);
    if (f.jnl.empty()) {
      std::filesystem::remove(Path() + ".JNL");
    } else {
      WriteAll(Path() + ".JNL", f.jnl);
    }
    if (c.reported != nullptr) {
      bool damaged = true;
      try {
        damaged = !CheckTableFiles(Path()).ok();
      } catch (const ETesseraEngineError&) {
        // Refused at open: damaged as well.
      }
      EXPECT_TRUE(damaged);
    }
    const TTableRepairReport report = RepairTableFiles(Path());
    std::string changes;
    for (const std::string& line : report.changes) changes += line + "\n";
    if (c.reported == nullptr) {
      EXPECT_EQ(changes, "");
      EXPECT_EQ(ReadAll(File(".DAT")), sound.dat);
      EXPECT_EQ(ReadAll(File(".IDX")), sound.idx);
    } else {
      EXPECT_NE(changes.find(c.reported), std::string::npos) << changes;
    }
    const TTableCheckReport check = CheckTableFiles(Path());
    EXPECT_TRUE(check.ok()) << (check.ok() ? "" : check.problems.front());
    EXPECT_EQ(report.live_records, expected.size());
    EXPECT_EQ(Read(), expected);
    EXPECT_TRUE(RepairTableFiles(Path()).changes.empty());
    if (::testing::Test::HasFailure()) std::cerr << changes;
  }
}

// The repair holds the table exclusively: while another process has it open it is refused and
// changes nothing; once that process let go, the tool repairs and checks it.
TEST_F(TableRepairTest, RefusedWhileAnotherProcessHasTheTableOpen) {
  MakeTable();
  Bytes dat = ReadAll(File(".DAT"));
  dat.resize(dat.size() + 3);
  WriteAll(File(".DAT"), dat);
  mirvel_test::LockHelperProcess peer;
  ASSERT_TRUE(peer.Started());
  ASSERT_EQ(peer.Send("open 0 ro shared " + File(".BLB")), "ok");
  std::ostringstream out, err;
  EXPECT_EQ(RunTesseraDump({"--repair", Path()}, out, err), 2);
  EXPECT_NE(err.str().find("repair refused"), std::string::npos) << err.str();
  EXPECT_EQ(ReadAll(File(".DAT")), dat);
  ASSERT_EQ(peer.Send("close 0"), "ok");
  std::ostringstream out2, err2;
  EXPECT_EQ(RunTesseraDump({"--repair", Path()}, out2, err2), 0) << err2.str();
  EXPECT_NE(out2.str().find("repair: data file: a partial record of 3 bytes"), std::string::npos)
      << out2.str();
  EXPECT_NE(out2.str().find("table check: ok, 38 records"), std::string::npos) << out2.str();
}

// An encrypted table is repaired and checked only with its password.
TEST_F(TableRepairTest, AnEncryptedTableNeedsItsPassword) {
  MakeTable("secret");
  Bytes dat = ReadAll(File(".DAT"));
  dat.resize(dat.size() + 5);
  WriteAll(File(".DAT"), dat);
  std::ostringstream out, err;
  EXPECT_EQ(RunTesseraDump({"--repair", Path()}, out, err), 2);
  EXPECT_NE(err.str().find("10498"), std::string::npos) << err.str();
  EXPECT_EQ(ReadAll(File(".DAT")), dat);
  for (const char* command : {"--repair", "--check"}) {
    std::ostringstream out2, err2;
    EXPECT_EQ(RunTesseraDump({command, "--password", "secret", Path()}, out2, err2), 0)
        << err2.str();
    EXPECT_NE(out2.str().find("table check: ok, 38 records"), std::string::npos) << out2.str();
  }
}

}  // namespace
}  // namespace tessera
