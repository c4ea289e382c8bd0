// The lock levels and the change check of TDataFile: between handles of this process (a clone
// locks against its original like a stranger), and against peers in other processes
// (tessera-peer, driven through pipes), with the real lock offsets checked from the outside
// through plain platform files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCheck.h"
#include "engine/storage/table/TableCreation.h"
#include "platform/FaultyFile.h"
#include "platform/OsFile.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/LockHelperClient.h"
#include "tests/platform/TempDirectory.h"
#include "tools/StressTable.h"

namespace tessera {
namespace {

using testing::EngineCode;
using Clock = std::chrono::steady_clock;
namespace stress = tessera::stress;

constexpr uint32_t kSemaphore = 0x7FFFFFFF;
constexpr uint32_t kRegion = 0x7FFF0000;
constexpr uint32_t kRegionLength = 65535;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class LocksTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }

  std::string NewTable(const char* name, stress::TShape shape, int records) {
    const std::string path = dir_.File(name);
    stress::CreateTable(path, shape);
    if (records > 0) {
      TDataFile t;
      Open(t, path);
      for (int k = 1; k <= records; ++k) Insert(t, k * 10, k, 0);
    }
    return path;
  }

  // Shared, with short retries that count their waits instead of sleeping.
  void Open(TDataFile& t, const std::string& path) {
    t.SetFileName(path);
    t.SetLockRetryCount(2);
    t.SetLockWaitTime(7);
    TDataFile::TLockTuning tuning;
    tuning.region_retries = 3;
    tuning.wait = [this](int32_t ms) { waits_.push_back(ms); };
    t.SetLockTuning(tuning);
    t.Open();
  }

  // `faulty`'s files pass through the faults returned; `plain` is a second handle on the table.
  std::shared_ptr<platform::FileFaults> OpenPair(TDataFile& faulty, TDataFile& plain,
                                                 const std::string& path) {
    auto faults = std::make_shared<platform::FileFaults>();
    faulty.InjectFaults(faults);
    Open(faulty, path);
    Open(plain, path);
    return faults;
  }

  static void Insert(TDataFile& t, int32_t k, int32_t a, int32_t b) {
    std::vector<uint8_t> record(t.GetRecordBufferSize());
    t.ApplyFieldDefaults(record.data());
    stress::PutInt(t, stress::kK, k, record.data());
    stress::PutInt(t, stress::kA, a, record.data());
    stress::PutInt(t, stress::kB, b, record.data());
    t.InsertRecord(record.data());
  }

  static bool Seek(TDataFile& t, int32_t k) {
    std::vector<uint8_t> record(t.GetRecordBufferSize());
    t.ApplyFieldDefaults(record.data());
    stress::PutInt(t, stress::kK, k, record.data());
    return t.FindRecordByKey(record.data(), nullptr);
  }

  static int32_t Field(TDataFile& t, uint16_t field) {
    std::vector<uint8_t> record(t.GetRecordBufferSize());
    EXPECT_EQ(t.GetCurrentRecord(record.data()), 0);
    return stress::GetInt(t, field, record.data());
  }

  // Whether a stranger could lock [offset, offset + length) of the file now.
  static bool Free(const std::string& file, uint32_t offset, uint32_t length) {
    platform::OsFile f;
    if (f.Open(file, platform::FileAccess::kReadWrite, platform::FileShare::kDenyNone, false) !=
        platform::kErrorSuccess) {
      return false;
    }
    return f.Lock(offset, length) == platform::kErrorSuccess;
  }

  mirvel_test::TempDirectory dir_;
  std::vector<int32_t> waits_;
};

// Record and table locks between a table and its clone: the offsets, the retry rule, the list.
TEST_F(LocksTest, RecordAndTableLocksBetweenAHandleAndItsClone) {
  const std::string path = NewTable("T", stress::TShape::kKeyed, 8);
  TDataFile a;
  Open(a, path);
  ASSERT_TRUE(Seek(a, 50));
  const uint32_t n = a.CurrentRecord()->number;
  std::unique_ptr<TDataFile> b = a.Clone();
  b->SetLockTuning(TDataFile::TLockTuning{3, 3, [this](int32_t ms) { waits_.push_back(ms); }});

  a.LockRecord(0);
  a.LockRecord(n);  // the same record again: locked once
  EXPECT_TRUE(a.HoldsRecordLock(n));
  EXPECT_FALSE(Free(path + ".DAT", 0x7FFFFFFE - n, 1));
  EXPECT_TRUE(Free(path + ".DAT", 0x7FFFFFFE - n - 1, 1));

  // Two retries LockWaitTime apart, then 10258; none at all with LockRetryCount 0.
  waits_.clear();
  EXPECT_EQ(EngineCode([&] { b->LockRecord(n); }), kErrRecordLocked);
  EXPECT_EQ(waits_, (std::vector<int32_t>{7, 7}));
  b->SetLockRetryCount(0);
  waits_.clear();
  EXPECT_EQ(EngineCode([&] { b->LockRecord(n); }), kErrRecordLocked);
  EXPECT_TRUE(waits_.empty());
  b->SetLockRetryCount(2);
  EXPECT_FALSE(b->HoldsRecordLock(n));
  // A write of the locked record through the clone is refused too.
  ASSERT_TRUE(Seek(*b, 50));
  std::vector<uint8_t> record(b->GetRecordBufferSize());
  ASSERT_EQ(b->GetCurrentRecord(record.data()), 0);
  EXPECT_EQ(EngineCode([&] { b->ModifyRecord(record.data()); }), kErrRecordLocked);
  EXPECT_EQ(EngineCode([&] { b->DeleteRecord(); }), kErrRecordLocked);

  // The table lock waits for every record lock, and keeps record locks out.
  EXPECT_EQ(EngineCode([&] { b->LockTable(); }), kErrFileLocked);
  a.UnlockRecord(n);
  EXPECT_EQ(EngineCode([&] { a.UnlockRecord(n); }), kErrCannotUnlock);
  EXPECT_TRUE(Free(path + ".DAT", 0x7FFFFFFE - n, 1));
  Insert(a, 999, 0, 0);
  b->LockTable();  // and checks for changes, under the read level
  EXPECT_EQ(b->GetRecordCount(), 9u);
  EXPECT_FALSE(Free(path + ".DAT", 2047483645, 1));
  EXPECT_FALSE(Free(path + ".DAT", 0x7FFFFFFD, 1));
  EXPECT_EQ(EngineCode([&] { a.LockRecord(n); }), kErrRecordLocked);
  EXPECT_EQ(EngineCode([&] { a.LockTable(); }), kErrFileLocked);
  b->LockRecord(n);  // nothing under this handle's own table lock
  b->UnlockTable();
  a.LockRecord(n);
  EXPECT_EQ(EngineCode([&] { b->UnlockRecord(n); }), kErrCannotUnlock);
  a.Close();  // releases the record lock
  EXPECT_TRUE(Free(path + ".DAT", 0x7FFFFFFE - n, 1));
}

// The file calls one operation of a shared handle makes, counted where they leave the engine
// (each is a round trip on a network share), so that a change of the protocol's cost shows here
// without timing noise.  The table's pages are cached first; every row names its calls.
TEST_F(LocksTest, FileCallsPerOperation) {
  const std::string path = NewTable("Calls", stress::TShape::kMemo, 20);
  auto faults = std::make_shared<platform::FileFaults>();
  TDataFile t, other;
  t.InjectFaults(faults);
  t.SetStrictChangeDetection(true);  // every cursor operation checks, as a find from disk does
  Open(t, path);
  Open(other, path);
  std::vector<uint8_t> record(t.GetRecordBufferSize());
  auto edit = [&](int32_t k) {
    ASSERT_TRUE(Seek(t, k));
    ASSERT_EQ(t.GetCurrentRecord(record.data()), 0);
    stress::PutInt(t, stress::kA, -k, record.data());
  };
  auto post = [&](const char* memo, bool insert) {
    if (memo != nullptr) {
      ASSERT_EQ(stress::SetMemo(t, memo, record.data()), 0);
    }
    insert ? t.InsertRecord(record.data()) : t.ModifyRecord(record.data());
    if (memo != nullptr) stress::CloseMemo(t, record.data());
  };
  for (int k = 10; k <= 200; k += 10) ASSERT_TRUE(Seek(t, k));
  uint32_t held = 0;

  struct Calls {
    int64_t reads, writes, locks, unlocks;
    bool operator==(const Calls&) const = default;
  };
  struct Case {
    const char* what;
    std::function<void()> before, operation;  // `before` is not counted
    Calls calls;
  };
  // Levels: the index and blob reader bytes; or the record's lock, then the write level's
  // semaphore, index region and blob region, given back in three calls (the record's lock with
  // the semaphore).  Check: the index counter alone, which every commit moves.  Commit: journal, mark, the pieces in place (records, blocks, index pages, the data and
  // blob headers of a file written), the index header clearing the mark.
  const Case cases[] = {
      {"find, cached", [] {}, [&] { ASSERT_TRUE(Seek(t, 70)); }, {1, 0, 2, 2}},
      // Record, data header and index header are the pieces; the blob header stays.
      {"modify, memo kept", [&] { edit(150); }, [&] { post(nullptr, false); }, {1, 5, 4, 3}},
      // The memo opens under a read level of its own; then block and blob header too.
      {"modify with memo", [&] { edit(160); }, [&] { post("new text", false); }, {2, 7, 6, 5}},
      // Record, block, the three headers and the index page.
      {"insert with memo",
       [&] {
         t.ApplyFieldDefaults(record.data());
         stress::PutInt(t, stress::kK, 4, record.data());
         post("memo", true);  // the first insert reads the pages it needs
         t.ApplyFieldDefaults(record.data());
         stress::PutInt(t, stress::kK, 5, record.data());
       },
       [&] { post("memo", true); },
       {2, 8, 6, 5}},
      // Record, data header, the index pages in one run; the record had no memo.
      {"delete", [&] { ASSERT_TRUE(Seek(t, 90)); }, [&] { t.DeleteRecord(); }, {1, 6, 4, 3}},
      // A record lock the handle holds lies between the write's and the semaphore: one by one,
      // so that it stays held.
      {"modify beside a held lock",
       [&] {
         ASSERT_TRUE(Seek(t, 10));
         t.LockRecord(0);
         held = t.CurrentRecord()->number;
         edit(170);
       },
       [&] {
         post(nullptr, false);
         EXPECT_FALSE(Free(path + ".DAT", kRecordLockBase - held, 1));
       },
       {1, 5, 4, 4}},
      // Another handle's commit moved the index counter: index header, data header and blob
      // counter read again; the index page, the current record (the cursor finds its key again)
      // and the record sought come from the disk.
      {"find after another's insert",
       [&] { Insert(other, 1000, 0, 0); },
       [&] { ASSERT_TRUE(Seek(t, 110)); },
       {7, 0, 2, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.before();
    faults->reads = faults->writes = faults->locks = faults->unlocks = 0;
    c.operation();
    const Calls got{faults->reads, faults->writes, faults->locks, faults->unlocks};
    EXPECT_EQ(got, c.calls) << "reads " << got.reads << ", writes " << got.writes << ", locks "
                            << got.locks << ", unlocks " << got.unlocks;
  }
}

// What happens to a record while a handle waits for its lock (acted out from inside the wait):
// an edit is seen once the lock is obtained; a delete makes the lock fail and leaves it free.  A
// modify or delete that waits for an editor's lock waits without the write level, so that the
// editor can post (the editor's short semaphore retries would otherwise fail with 10249).
TEST_F(LocksTest, ARecordChangedWhileWaitingForItsLock) {
  enum class Waiter { kLock, kModify, kDelete };
  const std::string path = NewTable("R", stress::TShape::kKeyed, 8);
  TDataFile a;
  Open(a, path);
  std::unique_ptr<TDataFile> b = a.Clone();
  int32_t key = 10;
  for (const Waiter waiter : {Waiter::kLock, Waiter::kModify, Waiter::kDelete}) {
    for (const bool remove : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(waiter)) + (remove ? " remove" : ""));
      key += 10;
      ASSERT_TRUE(Seek(a, key));
      ASSERT_TRUE(Seek(*b, key));
      const uint32_t n = a.CurrentRecord()->number;
      std::vector<uint8_t> record(b->GetRecordBufferSize());
      ASSERT_EQ(b->GetCurrentRecord(record.data()), 0);  // cached before the change
      a.LockRecord(0);
      b->SetLockTuning(TDataFile::TLockTuning{3, 3, [&](int32_t) {
                                                if (!a.HoldsRecordLock(n)) return;
                                                if (remove) {
                                                  a.DeleteRecord();  // gives its lock back
                                                  return;
                                                }
                                                std::vector<uint8_t> r(a.GetRecordBufferSize());
                                                ASSERT_EQ(a.GetCurrentRecord(r.data()), 0);
                                                stress::PutInt(a, stress::kA, 77, r.data());
                                                a.ModifyRecord(r.data(), true);
                                              }});
      const auto wait = [&] {
        if (waiter == Waiter::kLock) b->LockRecord(0);
        if (waiter == Waiter::kDelete) b->DeleteRecord();
        if (waiter != Waiter::kModify) return;
        stress::PutInt(*b, stress::kB, 5, record.data());
        b->ModifyRecord(record.data(), true);
      };
      if (remove) {
        EXPECT_EQ(EngineCode(wait), kErrRecordNotFound);
        EXPECT_FALSE(b->HoldsRecordLock(n));
        EXPECT_TRUE(Free(path + ".DAT", 0x7FFFFFFE - n, 1));
        continue;
      }
      wait();
      EXPECT_FALSE(a.HoldsRecordLock(n));
      if (waiter == Waiter::kLock) {
        EXPECT_EQ(Field(*b, stress::kA), 77);
        b->UnlockRecord(0);
      }
      a.RefreshFromDisk();
      EXPECT_EQ(Seek(a, key), waiter != Waiter::kDelete);
      if (waiter == Waiter::kModify) {
        EXPECT_EQ(Field(a, stress::kB), 5);
      }
      EXPECT_TRUE(Free(path + ".DAT", 0x7FFFFFFE - n, 1));
    }
  }
}

// An open waits for no reader: it takes the index region (which every reader byte blocks) only
// to complete a commit that a writer left.
TEST_F(LocksTest, AnOpenWaitsForNoReader) {
  const std::string path = NewTable("O", stress::TShape::kKeyed, 2);
  TDataFile a;
  Open(a, path);
  a.LockRead();
  TDataFile b;
  waits_.clear();
  Open(b, path);
  EXPECT_TRUE(waits_.empty());
  EXPECT_EQ(b.GetRecordCount(), 2u);
}

// An insert whose slot (the last record deleted) is locked elsewhere waits for the lock without
// the write level, whose holder may be waiting for a read level; it gives up after the retries.
TEST_F(LocksTest, AnInsertWaitsForItsSlotWithoutTheWriteLevel) {
  const std::string path = NewTable("S", stress::TShape::kKeyed, 4);
  TDataFile t;
  Open(t, path);
  for (const bool released : {true, false}) {
    ASSERT_TRUE(Seek(t, 20));
    const uint32_t n = t.CurrentRecord()->number;
    t.DeleteRecord();
    platform::OsFile holder;
    ASSERT_EQ(holder.Open(path + ".DAT", platform::FileAccess::kReadWrite,
                          platform::FileShare::kDenyNone, false),
              platform::kErrorSuccess);
    ASSERT_EQ(holder.Lock(0x7FFFFFFE - n, 1), platform::kErrorSuccess);
    int waits = 0;
    t.SetLockTuning(TDataFile::TLockTuning{3, 3, [&](int32_t) {
                                             ++waits;
                                             EXPECT_TRUE(Free(path + ".DAT", kSemaphore, 1));
                                             if (released && waits == 2) holder.Close();
                                           }});
    const int code = EngineCode([&] { Insert(t, 20, 1, 0); });
    EXPECT_EQ(waits, 2);
    EXPECT_EQ(code, released ? 0 : kErrRecordLocked);
    t.RefreshFromDisk();
    EXPECT_EQ(Seek(t, 20), released);
    if (released) {
      EXPECT_EQ(t.CurrentRecord()->number, n);
    }
  }
}

// A write level refused at its last part gives back the parts already taken, and the handle's
// own held read level neither blocks its writes nor is lost by them.
TEST_F(LocksTest, WriteLevelGivesBackWhatItTookAndStepsAroundItsOwnReadLevel) {
  const std::string path = NewTable("M", stress::TShape::kMemo, 3);
  TDataFile t;
  Open(t, path);
  {
    platform::OsFile blob;
    ASSERT_EQ(blob.Open(path + ".BLB", platform::FileAccess::kReadWrite,
                        platform::FileShare::kDenyNone, false),
              platform::kErrorSuccess);
    ASSERT_EQ(blob.Lock(kRegion, kRegionLength), platform::kErrorSuccess);
    waits_.clear();
    EXPECT_EQ(EngineCode([&] { Insert(t, 1000, 0, 0); }), kErrLockFailure);
    EXPECT_EQ(waits_.size(), 3u);
    EXPECT_TRUE(Free(path + ".DAT", kSemaphore, 1));
    EXPECT_TRUE(Free(path + ".IDX", kRegion, kRegionLength));
  }
  Insert(t, 1000, 0, 0);

  t.LockRead();
  EXPECT_FALSE(Free(path + ".IDX", kRegion, kRegionLength));
  EXPECT_FALSE(Free(path + ".BLB", kRegion, kRegionLength));
  waits_.clear();
  Insert(t, 1001, 0, 0);
  EXPECT_TRUE(waits_.empty());
  EXPECT_FALSE(Free(path + ".IDX", kRegion, kRegionLength));  // the read level is back
  EXPECT_TRUE(Free(path + ".DAT", kSemaphore, 1));
  t.UnlockRead();
  EXPECT_TRUE(Free(path + ".IDX", kRegion, kRegionLength));
  EXPECT_TRUE(Free(path + ".BLB", kRegion, kRegionLength));

  // Close gives back every level still held.
  ASSERT_TRUE(Seek(t, 20));
  t.LockRecord(0);
  t.LockRead();
  t.Close();
  EXPECT_TRUE(Free(path + ".DAT", 0, 0x7FFFFFFF));
  EXPECT_TRUE(Free(path + ".IDX", kRegion, kRegionLength + 1));
  EXPECT_TRUE(Free(path + ".BLB", kRegion, kRegionLength + 1));
}

// A handle writing under its held read level gives its reader bytes back for the write and takes
// them again after it: what another handle commits in that gap is seen at once, not at the next
// release of the level.
TEST_F(LocksTest, AHeldReadLevelSeesWhatWasCommittedWhileItsWriteLetGo) {
  const std::string path = NewTable("G", stress::TShape::kKeyed, 5);
  TDataFile t, other;
  const auto faults = OpenPair(t, other, path);
  int gaps = 0;
  faults->after_unlock = [&](uint64_t offset, uint64_t) {
    if (offset != kSemaphore) return;  // the last part of the write level goes back
    ++gaps;
    Insert(other, 5000 + gaps, 0, 0);
  };
  t.LockRead();
  Insert(t, 1000, 0, 0);
  faults->after_unlock = nullptr;
  ASSERT_EQ(gaps, 1);
  EXPECT_EQ(t.GetRecordCount(), 7u);
  EXPECT_TRUE(Seek(t, 5001));
  t.UnlockRead();
}

// Another handle's writes are seen through the change counters: on a refresh, and by a bookmark
// that stays on its record when records come and go around it.
TEST_F(LocksTest, ChangesOfAnotherHandleAreSeenAfterARefresh) {
  const std::string path = NewTable("C", stress::TShape::kKeyed, 20);
  TDataFile reader, writer;
  Open(reader, path);
  Open(writer, path);
  ASSERT_TRUE(Seek(reader, 150));
  uint8_t bookmark[kMaxKeyLength] = {};
  reader.GetCurrentKey(bookmark);
  EXPECT_EQ(reader.GetRecordCount(), 20u);
  EXPECT_FALSE(reader.RefreshFromDisk());

  for (int k = 1; k <= 100; ++k) Insert(writer, -k, 0, 0);  // all before the bookmark
  ASSERT_TRUE(Seek(writer, 180));
  writer.DeleteRecord();
  ASSERT_TRUE(Seek(writer, 150));
  std::vector<uint8_t> record(writer.GetRecordBufferSize());
  ASSERT_EQ(writer.GetCurrentRecord(record.data()), 0);
  stress::PutInt(writer, stress::kA, 4242, record.data());
  writer.ModifyRecord(record.data());

  EXPECT_EQ(reader.GetRecordCount(), 20u);  // cached: no lock, no change seen yet
  EXPECT_TRUE(reader.RefreshFromDisk());
  EXPECT_EQ(reader.GetRecordCount(), 119u);
  EXPECT_EQ(Field(reader, stress::kK), 150);  // the cursor came back onto its key
  EXPECT_EQ(Field(reader, stress::kA), 4242);
  reader.MoveToBeginning();
  ASSERT_TRUE(reader.FindKey(bookmark, false));
  EXPECT_EQ(Field(reader, stress::kK), 150);
  EXPECT_EQ(reader.GetCurrentRecordNumber(), 115u);

  // With StrictChangeDetection every operation checks.
  TDataFile strict;
  strict.SetStrictChangeDetection(true);
  Open(strict, path);
  const uint32_t before = strict.GetRecordCount();
  Insert(writer, 5000, 0, 0);
  EXPECT_EQ(strict.GetRecordCount(), before + 1);
}

// A change check that fails part-way (one read refused, at each of its reads in turn) leaves the
// handle to see the change at its next check: the counter it read must not pass for the caches'
// own, or the records and groups of before stayed in use until the next commit elsewhere.
TEST_F(LocksTest, AChangeCheckThatFailsIsMadeAgainWhole) {
  const std::string path = NewTable("F", stress::TShape::kKeyed, 40);
  TDataFile reader, writer;
  const auto faults = OpenPair(reader, writer, path);
  std::vector<uint8_t> record(writer.GetRecordBufferSize());
  int64_t reads_of_a_check = 0;
  for (int64_t k = 0; k == 0 || k <= reads_of_a_check; ++k) {
    SCOPED_TRACE(::testing::Message() << "read " << k << " refused");
    ASSERT_TRUE(Seek(reader, 200));
    ASSERT_TRUE(Seek(writer, 200) && writer.GetCurrentRecord(record.data()) == 0);
    stress::PutInt(writer, stress::kA, 1000 + static_cast<int32_t>(k), record.data());
    writer.ModifyRecord(record.data());
    faults->reads = 0;
    faults->fail_read = k == 0 ? -1 : k;
    const int refused = EngineCode([&] { reader.RefreshFromDisk(); });
    EXPECT_EQ(refused != 0, k != 0 && faults->reads >= k);
    if (k == 0) reads_of_a_check = faults->reads;
    faults->fail_read = -1;
    reader.RefreshFromDisk();
    ASSERT_TRUE(Seek(reader, 200));
    EXPECT_EQ(Field(reader, stress::kA), 1000 + k);
  }
  EXPECT_GE(reads_of_a_check, 2);
}

// A record or memo block read from disk brings its group of neighbours, which serve later reads
// without a read of their own.  A record alone comes from its group without a level, as a cached
// record does: another handle's change shows at the next check.  A record wanted with its memo is
// read under a level, whose check shows the change at once; the groups go with the records.
TEST_F(LocksTest, RecordsAndMemosOfAGroupShowAnotherHandlesChanges) {
  for (const bool memos : {false, true}) {
    SCOPED_TRACE(memos);
    const std::string path = dir_.File(memos ? "GM" : "G");
    stress::CreateTable(path, memos ? stress::TShape::kMemo : stress::TShape::kKeyed);
    TDataFile reader, writer;
    Open(writer, path);
    std::vector<uint8_t> record(writer.GetRecordBufferSize());
    auto write = [&](int32_t k, int32_t a, bool insert) {
      writer.ApplyFieldDefaults(record.data());
      stress::PutInt(writer, stress::kK, k, record.data());
      if (!insert) {
        ASSERT_TRUE(Seek(writer, k) && writer.GetCurrentRecord(record.data()) == 0);
      }
      stress::PutInt(writer, stress::kA, a, record.data());
      if (memos) {
        ASSERT_EQ(stress::SetMemo(writer, "memo " + std::to_string(a), record.data()), 0);
      }
      insert ? writer.InsertRecord(record.data()) : writer.ModifyRecord(record.data());
      if (memos) stress::CloseMemo(writer, record.data());
    };
    // Keys out of record order: a find reads its record alone.
    for (int i = 0; i < 40; ++i) write((i * 17 % 40 + 1) * 10, 0, true);
    Open(reader, path);
    std::vector<uint8_t> seen(reader.GetRecordBufferSize());
    auto seek = [&](int32_t k) {
      EXPECT_TRUE(Seek(reader, k));
      EXPECT_EQ(reader.GetCurrentRecord(seen.data()), 0);
      std::string text = "memo " + std::to_string(stress::GetInt(reader, stress::kA, seen.data()));
      if (memos) {
        char got_text[32] = {};
        int32_t got = 0;
        EXPECT_EQ(reader.OpenBlob(TFieldSet::kTable, stress::kM, 0, seen.data()), 0);
        reader.ReadBlob(TFieldSet::kTable, stress::kM, got, 31, got_text, 0, seen.data());
        reader.CloseBlob(TFieldSet::kTable, stress::kM, seen.data());
        text = std::string(got_text, static_cast<size_t>(std::max(got, 0)));
      }
      return text;
    };
    EXPECT_EQ(seek(10), "memo 0");
    // A table this small comes in whole with the first read.
    ASSERT_GE(reader.RecordCache().GroupCount(), 1u);
    if (memos) {
      ASSERT_GE(reader.BlobFile()->GroupCount(), 1u);
    }
    const uint64_t reads = reader.RecordCache().RecordReads();
    EXPECT_EQ(seek(200), "memo 0");
    EXPECT_EQ(reader.RecordCache().RecordReads(), reads) << "served by the group";
    for (const int32_t key : {300, 310, 20}) {
      write(key, key + 1, false);
      if (!memos) {
        EXPECT_EQ(seek(key), "memo 0") << key;
        EXPECT_TRUE(reader.RefreshFromDisk());
      }
      EXPECT_EQ(seek(key), "memo " + std::to_string(key + 1)) << key;
    }
  }
}

// A memo opened after its record was read belongs to the record's moment, even when another
// handle deleted the record in between and a new one took its slot and its memo's block (before,
// the new record's memo came back, or 8963).  Keys descend in slot order, so each record of the
// walk is read from disk alone.
TEST_F(LocksTest, AMemoReadAfterItsRecordIsTheRecordsOwn) {
  const std::string path = dir_.File("M");
  stress::CreateTable(path, stress::TShape::kMemo);
  TDataFile reader, writer;
  Open(writer, path);
  std::vector<uint8_t> record(writer.GetRecordBufferSize());
  auto insert = [&](int32_t k, const std::string& memo) {
    writer.ApplyFieldDefaults(record.data());
    stress::PutInt(writer, stress::kK, k, record.data());
    ASSERT_EQ(stress::SetMemo(writer, memo, record.data()), 0);
    writer.InsertRecord(record.data());
    stress::CloseMemo(writer, record.data());
  };
  insert(30, "");  // blank until the last step below
  for (int32_t k : {20, 10}) insert(k, "memo of " + std::to_string(k));
  Open(reader, path);
  std::vector<uint8_t> seen(reader.GetRecordBufferSize());
  auto memo_of = [&](TDataFile& t) {
    char text[64] = {};
    int32_t got = 0;
    EXPECT_EQ(t.OpenBlob(TFieldSet::kTable, stress::kM, 0, seen.data()), 0);
    t.ReadBlob(TFieldSet::kTable, stress::kM, got, sizeof text - 1, text, 0, seen.data());
    t.CloseBlob(TFieldSet::kTable, stress::kM, seen.data());
    return std::string(text, static_cast<size_t>(std::max(got, 0)));
  };
  auto memo = [&] { return memo_of(reader); };
  reader.MoveToBeginning();
  ASSERT_EQ(reader.GetNextRecord(seen.data()), 0);
  EXPECT_EQ(memo(), "memo of 10");
  ASSERT_EQ(reader.GetNextRecord(seen.data()), 0);
  ASSERT_EQ(stress::GetInt(reader, stress::kK, seen.data()), 20);

  ASSERT_TRUE(Seek(writer, 20));
  const uint32_t slot = writer.CurrentRecord()->number;
  writer.DeleteRecord();
  insert(25, "memo of 25");
  ASSERT_TRUE(Seek(writer, 25));
  ASSERT_EQ(writer.CurrentRecord()->number, slot);  // the slot, and so the owner, reused

  EXPECT_EQ(memo(), "memo of 20");
  // Once the change is seen, no block read ahead of it is served.
  EXPECT_TRUE(reader.RefreshFromDisk());
  ASSERT_TRUE(Seek(reader, 25));
  ASSERT_EQ(reader.GetCurrentRecord(seen.data()), 0);
  EXPECT_EQ(memo(), "memo of 25");

  // A read of records alone checks the blob file's counter only when a value is opened: a memo
  // written into blocks appended after the handle last read the blob header still opens.
  TDataFile plain;
  Open(plain, path);
  ASSERT_TRUE(Seek(writer, 30));
  ASSERT_EQ(writer.GetCurrentRecord(record.data()), 0);
  const std::string grown = "grown " + std::string(600, 'g');
  ASSERT_EQ(stress::SetMemo(writer, grown, record.data()), 0);
  writer.ModifyRecord(record.data());
  stress::CloseMemo(writer, record.data());
  ASSERT_TRUE(Seek(plain, 30));  // its record was never read: from disk, the change seen
  ASSERT_EQ(plain.GetCurrentRecord(seen.data()), 0);
  EXPECT_EQ(memo_of(plain), grown.substr(0, 63));
}

// A record that comes from its group without a level shows the file as the last check found it;
// its memo, opened later under a level, must not come from that later moment.  Another handle
// deletes the next record and a new one takes its slot and its memo's block: whether or not the
// walk read a memo before (which makes it read the next record with its memos), the record shown
// and its memo are one record's.
TEST_F(LocksTest, ARecordFromItsGroupShowsItsOwnMemo) {
  for (const bool memo_read_before : {false, true}) {
    SCOPED_TRACE(memo_read_before);
    const std::string path = dir_.File(memo_read_before ? "GR" : "GN");
    stress::CreateTable(path, stress::TShape::kMemo);
    TDataFile reader, writer;
    Open(writer, path);
    std::vector<uint8_t> record(writer.GetRecordBufferSize());
    auto insert = [&](int32_t k) {
      writer.ApplyFieldDefaults(record.data());
      stress::PutInt(writer, stress::kK, k, record.data());
      ASSERT_EQ(stress::SetMemo(writer, "memo of " + std::to_string(k), record.data()), 0);
      writer.InsertRecord(record.data());
      stress::CloseMemo(writer, record.data());
    };
    for (int32_t k : {30, 20, 10}) insert(k);
    Open(reader, path);
    std::vector<uint8_t> seen(reader.GetRecordBufferSize());
    auto memo = [&] {
      char text[64] = {};
      int32_t got = 0;
      EXPECT_EQ(reader.OpenBlob(TFieldSet::kTable, stress::kM, 0, seen.data()), 0);
      reader.ReadBlob(TFieldSet::kTable, stress::kM, got, sizeof text - 1, text, 0, seen.data());
      reader.CloseBlob(TFieldSet::kTable, stress::kM, seen.data());
      return std::string(text, static_cast<size_t>(std::max(got, 0)));
    };
    reader.MoveToBeginning();
    ASSERT_EQ(reader.GetNextRecord(seen.data()), 0);
    ASSERT_EQ(stress::GetInt(reader, stress::kK, seen.data()), 10);
    ASSERT_GE(reader.RecordCache().GroupCount(), 1u);
    if (memo_read_before) {
      EXPECT_EQ(memo(), "memo of 10");
    }

    ASSERT_TRUE(Seek(writer, 20));
    const uint32_t slot = writer.CurrentRecord()->number;
    writer.DeleteRecord();
    insert(25);
    ASSERT_TRUE(Seek(writer, 25));
    ASSERT_EQ(writer.CurrentRecord()->number, slot);  // the slot, and so the owner, reused

    ASSERT_EQ(reader.GetNextRecord(seen.data()), 0);
    const int32_t key = stress::GetInt(reader, stress::kK, seen.data());
    EXPECT_EQ(memo(), "memo of " + std::to_string(key));
  }
}

// A walk along an index whose keys do not follow the record order reads the next keys' records
// ahead, under one level.  Each of them, when the walk reaches it, shows its own memo even after
// another handle deleted every record and inserted it again (the slots, and with them the blocks'
// owners, reused by other keys): never another record's memo, nor an empty one.  Small blocks
// spread each memo over several blocks; large ones leave the cache room for few memos.
class MemoWalkTest : public LocksTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(MemoWalkTest, ARecordReadAheadShowsItsOwnMemo) {
  const std::string path = dir_.File("W");
  {
    TNewTable t;
    t.blob_block_size = GetParam();
    t.fields = {
        testing::Field(stress::kK, "K", kFieldInt32), testing::Field(stress::kA, "A", kFieldInt32),
        testing::Field(stress::kB, "B", kFieldInt32), testing::Field(stress::kM, "M", kFieldBlob)};
    t.indexes = {testing::Index("", {stress::kK}, true)};
    TDataFile table;
    table.SetFileName(path);
    table.SetExclusive(true);
    table.SetupNewTable(std::move(t));
  }
  constexpr int32_t kRecords = 40;
  auto memo_for = [](int32_t k, int32_t version) {
    std::string text = "memo of " + std::to_string(k) + " v" + std::to_string(version) + " ";
    text.resize(1509, static_cast<char>('a' + (k + version) % 26));
    return text;
  };
  TDataFile reader, writer;
  Open(writer, path);
  std::vector<uint8_t> record(writer.GetRecordBufferSize());
  auto insert_all = [&](int32_t version) {
    for (int32_t k = kRecords; k >= 1; --k) {  // keys descend in slot order
      writer.ApplyFieldDefaults(record.data());
      stress::PutInt(writer, stress::kK, k, record.data());
      stress::PutInt(writer, stress::kA, version, record.data());
      ASSERT_EQ(stress::SetMemo(writer, memo_for(k, version), record.data()), 0);
      writer.InsertRecord(record.data());
      stress::CloseMemo(writer, record.data());
    }
  };
  insert_all(0);
  Open(reader, path);
  std::vector<uint8_t> seen(reader.GetRecordBufferSize());
  std::vector<char> text(4096);
  reader.MoveToBeginning();
  for (int32_t expected = 1; expected <= kRecords; ++expected) {
    ASSERT_EQ(reader.GetNextRecord(seen.data()), 0);
    const int32_t k = stress::GetInt(reader, stress::kK, seen.data());
    const int32_t version = stress::GetInt(reader, stress::kA, seen.data());
    ASSERT_EQ(k, expected);
    int32_t got = 0;
    const int code = EngineCode([&] {
      ASSERT_EQ(reader.OpenBlob(TFieldSet::kTable, stress::kM, 0, seen.data()), 0);
      reader.ReadBlob(TFieldSet::kTable, stress::kM, got, static_cast<int32_t>(text.size()),
                      text.data(), 0, seen.data());
      reader.CloseBlob(TFieldSet::kTable, stress::kM, seen.data());
    });
    ASSERT_EQ(code, 0) << "record " << k;
    const std::string memo(text.data(), static_cast<size_t>(std::max(got, 0)));
    ASSERT_TRUE(memo == memo_for(k, version))
        << "record " << k << " v" << version << ": \"" << memo.substr(0, 16) << "\"";
    for (int32_t d = 1; d <= kRecords; ++d) {
      ASSERT_TRUE(Seek(writer, d));
      writer.DeleteRecord();
    }
    insert_all(expected);
  }
  EXPECT_EQ(reader.GetNextRecord(seen.data()), kErrEndOfFile);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, MemoWalkTest, ::testing::Values(512u, 32768u));

// ---- other processes ---------------------------------------------------------------------------

class LocksProcessTest : public LocksTest {
 protected:
  std::unique_ptr<mirvel_test::LockHelperProcess> Peer() {
    auto peer = std::make_unique<mirvel_test::LockHelperProcess>();
    EXPECT_TRUE(peer->Started());
    return peer;
  }
};

// A record lock held by another process: at once with LockRetryCount 0, after about 1.5 s with
// the default 15 retries 100 ms apart; the table lock likewise; a killed holder frees everything.
TEST_F(LocksProcessTest, LocksHeldByAnotherProcessUntilItDies) {
  const std::string path = NewTable("P", stress::TShape::kKeyed, 5);
  auto peer = Peer();
  ASSERT_EQ(peer->Send("topen 0 rw shared " + path), "ok");
  ASSERT_EQ(peer->Send("seek 0 30"), "ok");
  ASSERT_EQ(peer->Send("lockrec 0"), "ok");

  TDataFile t;
  t.SetFileName(path);
  t.Open();
  ASSERT_TRUE(Seek(t, 30));
  t.SetLockRetryCount(0);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(EngineCode([&] { t.LockRecord(0); }), kErrRecordLocked);
  EXPECT_LT(MsSince(start), 300);
  t.SetLockRetryCount(15);
  start = Clock::now();
  EXPECT_EQ(EngineCode([&] { t.LockRecord(0); }), kErrRecordLocked);
  EXPECT_GE(MsSince(start), 1400);
  EXPECT_LE(MsSince(start), 3000);
  t.SetLockRetryCount(0);
  EXPECT_EQ(EngineCode([&] { t.LockTable(); }), kErrFileLocked);
  ASSERT_TRUE(Seek(t, 40));
  t.LockRecord(0);  // another record is free
  EXPECT_EQ(peer->Send("locktable 0"), "err 10241");
  t.UnlockRecord(0);

  ASSERT_EQ(peer->Send("unlockrec 0"), "ok");
  ASSERT_EQ(peer->Send("locktable 0"), "ok");
  EXPECT_EQ(EngineCode([&] { t.LockRecord(0); }), kErrRecordLocked);
  ASSERT_EQ(peer->Send("lockread 0"), "ok");
  t.SetLockTuning(TDataFile::TLockTuning{3, 3, [this](int32_t ms) { waits_.push_back(ms); }});
  EXPECT_EQ(EngineCode([&] { Insert(t, 1, 0, 0); }), kErrLockFailure);  // the peer's read level
  peer->Kill();
  ASSERT_TRUE(Seek(t, 30));
  t.LockRecord(0);
  EXPECT_EQ(EngineCode([&] { t.LockTable(); }), kErrFileLocked);  // over its own record lock
  t.UnlockRecord(0);
  t.LockTable();
  Insert(t, 1, 0, 0);
  t.UnlockTable();
}

// P1 edits and posts while P2 waits for the record lock; P2 then sees P1's change and both
// changes survive.
TEST_F(LocksProcessTest, ARecordLockObtainedAfterWaitingHandsBackTheRecordAsLeft) {
  const std::string path = NewTable("L", stress::TShape::kKeyed, 5);
  auto p1 = Peer();
  auto p2 = Peer();
  for (auto* p : {p1.get(), p2.get()}) {
    ASSERT_EQ(p->Send("topen 0 rw shared " + path), "ok");
    ASSERT_EQ(p->Send("seek 0 20"), "ok");
    ASSERT_EQ(p->Send("get 0"), "ok 20 2 0");  // both cache the record
  }
  ASSERT_EQ(p1->Send("lockrec 0"), "ok");
  ASSERT_TRUE(p2->Post("get 0 lock"));
  ASSERT_EQ(p2->Reply(300), "no-reply");    // waiting
  ASSERT_EQ(p1->Send("set 0 a 77"), "ok");  // posts and unlocks
  EXPECT_EQ(p2->Reply(), "ok 20 77 0");
  ASSERT_EQ(p2->Send("set 0 b 88"), "ok");

  TDataFile t;
  t.SetFileName(path);
  t.Open();
  ASSERT_TRUE(Seek(t, 20));
  EXPECT_EQ(Field(t, stress::kA), 77);
  EXPECT_EQ(Field(t, stress::kB), 88);
  t.LockRecord(0);  // both peers gave the lock back
}

// A record that comes from its group takes no lock and shows the file as this handle's last check
// found it; another process's change shows once the handle takes its next lock.
TEST_F(LocksProcessTest, ARecordFromItsGroupShowsAChangeElsewhereAtTheNextLock) {
  const std::string path = dir_.File("GP");
  stress::CreateTable(path, stress::TShape::kKeyed);
  {
    TDataFile t;
    Open(t, path);
    // Keys out of record order: a find reads its record alone, through the groups.
    for (int i = 0; i < 40; ++i) Insert(t, (i * 17 % 40 + 1) * 10, 0, 0);
  }
  auto faults = std::make_shared<platform::FileFaults>();
  TDataFile reader;
  reader.InjectFaults(faults);
  Open(reader, path);
  ASSERT_TRUE(Seek(reader, 10));
  ASSERT_GE(reader.RecordCache().GroupCount(), 1u);
  auto peer = Peer();
  ASSERT_EQ(peer->Send("topen 0 rw shared " + path), "ok");
  ASSERT_EQ(peer->Send("seek 0 200"), "ok");
  ASSERT_EQ(peer->Send("set 0 a 77"), "ok");
  faults->locks = 0;
  const uint64_t reads = reader.RecordCache().RecordReads();
  ASSERT_TRUE(Seek(reader, 200));
  EXPECT_EQ(Field(reader, stress::kA), 0);
  EXPECT_EQ(faults->locks, 0);
  EXPECT_EQ(reader.RecordCache().RecordReads(), reads);
  reader.LockRecord(0);  // its check finds the peer's commit and reads the record again
  EXPECT_EQ(Field(reader, stress::kA), 77);
  reader.UnlockRecord(0);
}

// Writes of another process are seen; a writer gets through while four readers loop; a failed
// duplicate insert holds nothing back; delete and modify refuse a record another writer removed.
TEST_F(LocksProcessTest, WritersAndReadersInSeveralProcesses) {
  const std::string path = NewTable("W", stress::TShape::kKeyed, 30);
  TDataFile t;
  t.SetFileName(path);
  t.Open();
  EXPECT_EQ(t.GetRecordCount(), 30u);

  auto writer = Peer();
  ASSERT_EQ(writer->Send("topen 0 rw shared " + path), "ok");
  ASSERT_EQ(writer->Send("append 0 10 1000"), "ok");
  EXPECT_TRUE(t.RefreshFromDisk());
  EXPECT_EQ(t.GetRecordCount(), 40u);

  std::vector<std::unique_ptr<mirvel_test::LockHelperProcess>> readers;
  for (int i = 0; i < 4; ++i) {
    readers.push_back(Peer());
    ASSERT_EQ(readers.back()->Send("topen 0 ro shared " + path), "ok");
    ASSERT_TRUE(readers.back()->Post("readloop 0 300"));
  }
  for (int k = 2000; k < 2020; ++k) Insert(t, k, 0, 0);  // the default region retries
  for (auto& r : readers) EXPECT_EQ(r->Reply(60000), "ok");

  // A duplicate key gives every lock back at once.
  ASSERT_EQ(writer->Send("insert 0 3000 0 0"), "ok");
  EXPECT_EQ(EngineCode([&] { Insert(t, 3000, 0, 0); }), kErrKeyViolation);
  ASSERT_EQ(writer->Send("insert 0 3001 0 0"), "ok");
  const std::string elapsed = writer->Send("elapsed");
  ASSERT_EQ(elapsed.substr(0, 3), "ok ");
  EXPECT_LT(std::stoi(elapsed.substr(3)), 1000);

  // The record this handle stands on goes in another process.
  t.RefreshFromDisk();
  ASSERT_TRUE(Seek(t, 3001));
  std::vector<uint8_t> record(t.GetRecordBufferSize());
  ASSERT_EQ(t.GetCurrentRecord(record.data()), 0);
  ASSERT_EQ(writer->Send("seek 0 3001"), "ok");
  ASSERT_EQ(writer->Send("tdelete 0"), "ok");
  EXPECT_EQ(EngineCode([&] { t.ModifyRecord(record.data()); }), kErrRecordNotFound);
  ASSERT_TRUE(Seek(t, 3000));
  ASSERT_EQ(writer->Send("seek 0 3000"), "ok");
  ASSERT_EQ(writer->Send("tdelete 0"), "ok");
  EXPECT_EQ(EngineCode([&] { t.DeleteRecord(); }), kErrRecordNotFound);
  t.Close();
  const TTableCheckReport report = CheckTableFiles(path);
  EXPECT_TRUE(report.ok()) << report.problems.front();
  EXPECT_EQ(report.live_records, 60u);
}

// Opening and checking a table a thousand times while another process appends never reads a
// header half written.
TEST_F(LocksProcessTest, OpeningWhileAnotherProcessAppends) {
  const std::string path = NewTable("O", stress::TShape::kMemo, 0);
  auto appender = Peer();
  auto opener = Peer();
  ASSERT_EQ(appender->Send("topen 0 rw shared " + path), "ok");
  ASSERT_TRUE(appender->Post("append 0 1000 1"));
  ASSERT_TRUE(opener->Post("opencheck " + path + " 1000"));
  EXPECT_EQ(opener->Reply(120000), "ok");
  EXPECT_EQ(appender->Reply(120000), "ok");
}

// Share modes between processes: an exclusive open keeps shared ones out and the reverse; a
// table open elsewhere is neither created over nor deleted.
TEST_F(LocksProcessTest, ShareModesAcrossProcesses) {
  const std::string path = NewTable("S", stress::TShape::kKeyed, 2);
  auto peer = Peer();
  ASSERT_EQ(peer->Send("topen 0 rw excl " + path), "ok");
  TDataFile t;
  t.SetFileName(path);
  EXPECT_EQ(EngineCode([&] { t.Open(); }), kErrAccessDenied);
  ASSERT_EQ(peer->Send("tclose 0"), "ok");
  ASSERT_EQ(peer->Send("topen 0 ro shared " + path), "ok");
  t.SetExclusive(true);
  EXPECT_EQ(EngineCode([&] { t.Open(); }), kErrAccessDenied);
  EXPECT_NE(EngineCode([&] { stress::CreateTable(path, stress::TShape::kKeyed); }), 0);
  EXPECT_NE(EngineCode([&] { t.DeleteTableFiles(); }), 0);
  ASSERT_EQ(peer->Send("count 0"), "ok 2");
}

// The data semaphore held elsewhere: an insert gives up with 10249 after its retries, with short
// ones and with the real 8192 x 3 ms.
TEST_F(LocksProcessTest, AnInsertGivesUpOnASemaphoreHeldElsewhere) {
  const std::string path = NewTable("X", stress::TShape::kKeyed, 1);
  TDataFile t;
  Open(t, path);
  TDataFile real;
  real.SetFileName(path);
  real.Open();
  auto peer = Peer();
  ASSERT_EQ(peer->Send("open 0 rw shared " + path + ".DAT"), "ok");
  ASSERT_EQ(peer->Send("lock 0 2147483647 1"), "ok");
  waits_.clear();
  EXPECT_EQ(EngineCode([&] { Insert(t, 99, 0, 0); }), kErrLockFailure);
  EXPECT_EQ(waits_, (std::vector<int32_t>{3, 3, 3}));
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(EngineCode([&] { Insert(real, 99, 0, 0); }), kErrLockFailure);
  EXPECT_GE(MsSince(start), 8192 * 3);
  EXPECT_LT(MsSince(start), 45000);
  ASSERT_EQ(peer->Send("unlock 0 2147483647 1"), "ok");
  Insert(real, 99, 0, 0);
}

}  // namespace
}  // namespace tessera
