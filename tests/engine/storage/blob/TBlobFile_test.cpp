#include "engine/storage/blob/TBlobFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/TableCipher.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace tessera {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The data file's part, played by the test.
class FakeOwner : public TBlobFileOwner {
 public:
  std::string name = "Memo.DAT";
  bool encrypted = false;
  bool strict = false;
  bool exclusive_phase = false;
  int read_level_calls = 0;
  // Called on each read level; answers whether another process changed the table.
  std::function<bool()> on_read_level;

  const std::string& DataFileName() const override { return name; }
  bool Encrypted() const override { return encrypted; }
  bool StrictChangeDetection() const override { return strict; }
  bool InExclusivePhase() const override { return exclusive_phase; }
  bool TakeReadLevel() override {
    ++read_level_calls;
    return on_read_level ? on_read_level() : false;
  }
};

using testing::EngineCode;

Bytes Pattern(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

class BlobFileTest : public ::testing::Test {
 protected:
  std::string TableName() const { return dir_.File("Memo"); }
  std::string FilePath() const { return dir_.File("Memo.BLB"); }

  std::unique_ptr<TBlobFile> NewFile(uint32_t block_size, bool exclusive = true) {
    auto f = std::make_unique<TBlobFile>(owner_, block_size);
    f->SetExclusive(exclusive);
    f->SetFileName(TableName());
    f->CreateNew();
    return f;
  }
  std::unique_ptr<TBlobFile> OpenFile(uint32_t block_size, bool exclusive = true) {
    auto f = std::make_unique<TBlobFile>(owner_, block_size);
    f->SetExclusive(exclusive);
    f->SetFileName(TableName());
    f->Open();
    return f;
  }

  Bytes ReadDisk() const { return mirvel_test::ReadFileBytes(FilePath()); }
  void WriteDisk(const Bytes& bytes) const { mirvel_test::WriteFileBytes(FilePath(), bytes); }

  mirvel_test::TempDirectory dir_{"blobidx-blob"};
  FakeOwner owner_;
};

// Saves `value` as the record's value whose chain starts at `first` (0: none); returns the new
// first block.
uint32_t Save(TBlobFile& f, uint32_t record, uint32_t first, const Bytes& value) {
  int32_t h = 0;
  EXPECT_EQ(f.OpenBlob(record, 1, first, h), 0);
  EXPECT_EQ(f.TruncateBlob(h, 0), 0);
  EXPECT_EQ(f.WriteBlob(h, 0, static_cast<int32_t>(value.size()), value.data()), 0);
  f.SaveOpenBlobs();
  uint32_t out = 0;
  EXPECT_EQ(f.CloseBlob(h, out), 0);
  return out;
}

Bytes Load(TBlobFile& f, uint32_t record, uint32_t first) {
  int32_t h = 0;
  EXPECT_EQ(f.OpenBlob(record, 1, first, h), 0);
  int32_t size = 0;
  EXPECT_EQ(f.GetBlobSize(h, size), 0);
  Bytes b(static_cast<size_t>(size));
  int32_t count = 0;
  EXPECT_EQ(f.ReadBlob(h, 0, count, size, b.data()), 0);
  EXPECT_EQ(count, size);
  uint32_t ignored = 0;
  f.CloseBlob(h, ignored);
  return b;
}

void Commit(TBlobFile& f) {
  f.UnpinAll();
  f.FlushDirtyBlocks();
  f.WriteHeader(false);
}

// The file as the format describes it, read back by the test: chains and the free chain.
struct DiskView {
  Bytes bytes;
  uint32_t block_size;
  uint32_t FreeHead() const { return cl::GetU32LE(&bytes[9]); }
  uint32_t End() const { return cl::GetU32LE(&bytes[13]); }
  TBlockHeader Block(uint32_t offset) const { return DecodeBlockHeader(&bytes[offset]); }
  const uint8_t* Payload(uint32_t offset) const { return &bytes[offset + 18]; }

  // Offsets of the free chain; fails the test on a loop or an offset off the grid.
  std::vector<uint32_t> FreeChain() const {
    std::vector<uint32_t> chain;
    std::set<uint32_t> seen;
    for (uint32_t at = FreeHead(); at != 0; at = Block(at).next) {
      EXPECT_TRUE(at >= 512 && (at - 512) % block_size == 0 && at < End()) << at;
      if (!seen.insert(at).second) {
        ADD_FAILURE() << "free chain loops at " << at;
        break;
      }
      chain.push_back(at);
    }
    return chain;
  }
  // A value's chain, with its links and owners checked; the value's bytes in `value`.
  std::vector<uint32_t> Chain(uint32_t first, uint32_t record, Bytes* value) const {
    std::vector<uint32_t> chain;
    const uint32_t payload = block_size - 18;
    const uint32_t total = Block(first).total_length;
    value->clear();
    uint32_t prev = 0;
    for (uint32_t at = first; at != 0; at = Block(at).next) {
      const TBlockHeader h = Block(at);
      EXPECT_EQ(h.owner_record, record);
      EXPECT_EQ(h.previous, prev);
      EXPECT_EQ(h.total_length, at == first ? total : 0u);
      EXPECT_LE(h.used, payload);
      value->insert(value->end(), Payload(at), Payload(at) + h.used);
      chain.push_back(at);
      prev = at;
      if (chain.size() > bytes.size() / block_size) {
        ADD_FAILURE() << "chain loops";
        break;
      }
    }
    EXPECT_EQ(value->size(), total);
    return chain;
  }
};

TEST_F(BlobFileTest, NewFileMatchesTheFormatTable) {
  auto f = NewFile(512);
  f->WriteHeader(true);
  f->Close();
  Bytes expect(512, 0);
  expect[0] = 1;      // change counter 1 after the first header write
  expect[8] = 3;      // version
  expect[14] = 0x02;  // end offset 512 = 00 02 00 00 at 13
  expect[17] = 1;     // written while marked changed
  EXPECT_EQ(ReadDisk(), expect);
}

TEST_F(BlobFileTest, ThreeBlockChainMatchesTheFormatTable) {
  auto f = NewFile(64);  // payload 46
  const Bytes value = Pattern(100, 1);
  const uint32_t first = Save(*f, 7, 0, value);
  EXPECT_EQ(first, 512u);
  Commit(*f);
  f->Close();

  Bytes expect(512 + 3 * 64, 0);
  expect[0] = 1;
  expect[8] = 3;
  cl::PutU32LE(&expect[13], 704);
  expect[17] = 1;
  const uint8_t headers[3][18] = {
      {0, 0, 0, 0, 0x40, 2, 0, 0, 46, 0, 7, 0, 0, 0, 100, 0, 0, 0},  // next 576, total 100
      {0, 2, 0, 0, 0x80, 2, 0, 0, 46, 0, 7, 0, 0, 0, 0, 0, 0, 0},    // prev 512, next 640
      {0x40, 2, 0, 0, 0, 0, 0, 0, 8, 0, 7, 0, 0, 0, 0, 0, 0, 0},     // prev 576, last, 8 used
  };
  for (int b = 0; b < 3; ++b) {
    std::copy(headers[b], headers[b] + 18, expect.begin() + 512 + 64 * b);
    const size_t used = b < 2 ? 46 : 8;
    std::copy(value.begin() + 46 * b, value.begin() + 46 * b + static_cast<ptrdiff_t>(used),
              expect.begin() + 512 + 64 * b + 18);
  }
  EXPECT_EQ(ReadDisk(), expect);
}

TEST_F(BlobFileTest, ValuesOfEverySizeRoundTrip) {
  const uint32_t bs = 64, payload = 46;
  auto f = NewFile(bs);
  const size_t sizes[] = {0, 1, payload - 1, payload, payload + 1, 2 * payload, 50 * payload + 7};
  std::vector<uint32_t> firsts;
  uint32_t record = 1;
  for (const size_t n : sizes)
    firsts.push_back(Save(*f, record++, 0, Pattern(n, static_cast<uint32_t>(n))));
  Commit(*f);
  f->Close();

  DiskView disk{ReadDisk(), bs};
  auto g = OpenFile(bs);
  record = 1;
  size_t blocks = 0;
  for (size_t i = 0; i < std::size(sizes); ++i, ++record) {
    const Bytes expect = Pattern(sizes[i], static_cast<uint32_t>(sizes[i]));
    if (sizes[i] == 0) {
      EXPECT_EQ(firsts[i], 0u) << "an empty value has no chain";
      continue;
    }
    EXPECT_EQ(Load(*g, record, firsts[i]), expect);
    Bytes on_disk;
    const auto chain = disk.Chain(firsts[i], record, &on_disk);
    EXPECT_EQ(on_disk, expect);
    EXPECT_EQ(chain.size(), (sizes[i] + payload - 1) / payload) << sizes[i];
    blocks += chain.size();
  }
  EXPECT_EQ(disk.End(), 512 + blocks * bs);
  EXPECT_TRUE(disk.FreeChain().empty());
}

TEST_F(BlobFileTest, ShrinkFreesTheTailAndNewValuesReuseIt) {
  const uint32_t bs = 64, payload = 46;
  auto f = NewFile(bs);
  uint32_t first = Save(*f, 3, 0, Pattern(5 * payload, 1));  // 5 blocks
  const uint32_t end_before = f->EndOffset();
  first = Save(*f, 3, first, Pattern(payload + 1, 2));  // 2 blocks: 3 freed
  EXPECT_EQ(f->EndOffset(), end_before);
  Commit(*f);
  DiskView disk{ReadDisk(), bs};
  EXPECT_EQ(disk.FreeChain().size(), 3u);
  Bytes value;
  EXPECT_EQ(disk.Chain(first, 3, &value).size(), 2u);
  EXPECT_EQ(value, Pattern(payload + 1, 2));

  // A new value of three blocks takes the freed ones; the file does not grow.
  const uint32_t other = Save(*f, 4, 0, Pattern(3 * payload, 3));
  EXPECT_EQ(f->EndOffset(), end_before);
  // Growing the first again appends only what the free chain cannot give.
  first = Save(*f, 3, first, Pattern(4 * payload, 4));
  EXPECT_EQ(f->EndOffset(), end_before + 2 * bs);
  Commit(*f);
  disk = DiskView{ReadDisk(), bs};
  EXPECT_TRUE(disk.FreeChain().empty());
  EXPECT_EQ(disk.Chain(other, 4, &value).size(), 3u);
  EXPECT_EQ(value, Pattern(3 * payload, 3));
  EXPECT_EQ(disk.Chain(first, 3, &value).size(), 4u);
  EXPECT_EQ(value, Pattern(4 * payload, 4));
  EXPECT_EQ(Load(*f, 3, first), Pattern(4 * payload, 4));
}

// Random values for a handful of records against a std::map, with the whole file checked after
// each batch: every block is on the free chain or in exactly one record's chain, nothing loops.
TEST_F(BlobFileTest, RandomSavesKeepEveryBlockAccountedFor) {
  const uint32_t bs = 80, payload = bs - 18;
  std::mt19937 rng(99);
  std::map<uint32_t, Bytes> model;
  std::map<uint32_t, uint32_t> firsts;
  auto f = NewFile(bs);
  for (int batch = 0; batch < 40; ++batch) {
    for (int op = 0; op < 25; ++op) {
      const uint32_t record = 1 + rng() % 12;
      const size_t n = rng() % 4 == 0 ? 0 : rng() % (payload * (rng() % 2 ? 3 : 30));
      const Bytes value = Pattern(n, static_cast<uint32_t>(rng()));
      firsts[record] = Save(*f, record, firsts[record], value);
      model[record] = value;
      if (rng() % 5 == 0) {
        const uint32_t probe = 1 + rng() % 12;
        if (firsts[probe] != 0) {
          ASSERT_EQ(Load(*f, probe, firsts[probe]), model[probe]);
        }
      }
    }
    Commit(*f);
    if (batch % 7 == 6) {
      f->Close();
      f = OpenFile(bs);
    }
    DiskView disk{ReadDisk(), bs};
    std::set<uint32_t> owned;
    for (const auto& [record, value] : model) {
      if (value.empty()) {
        ASSERT_EQ(firsts[record], 0u);
        continue;
      }
      Bytes on_disk;
      for (const uint32_t at : disk.Chain(firsts[record], record, &on_disk)) {
        ASSERT_TRUE(owned.insert(at).second) << "block " << at << " in two chains";
      }
      ASSERT_EQ(on_disk, value) << "record " << record;
    }
    for (const uint32_t at : disk.FreeChain()) {
      ASSERT_TRUE(owned.insert(at).second) << "block " << at << " both free and used";
    }
    ASSERT_EQ(owned.size(), (disk.End() - 512) / bs) << "a block was lost";
  }
}

TEST_F(BlobFileTest, CacheAndReadAheadFollowTheBlockSize) {
  auto f = NewFile(512);
  EXPECT_EQ(f->CacheCapacity(), 511u);
  EXPECT_EQ(f->ReadAheadLimit(), 127u);
  f->Close();
  auto big = std::make_unique<TBlobFile>(owner_, 65535);
  big->SetExclusive(true);
  big->SetFileName(dir_.File("Big"));
  big->CreateNew();
  EXPECT_EQ(big->CacheCapacity(), 4u);
  EXPECT_EQ(big->ReadAheadLimit(), 1u);
  auto zero = std::make_unique<TBlobFile>(owner_, 0);
  EXPECT_EQ(zero->BlockSize(), 512u) << "a stored 0 means 512";
  auto bad = std::make_unique<TBlobFile>(owner_, 63);
  bad->SetExclusive(true);
  bad->SetFileName(dir_.File("Bad"));
  EXPECT_EQ(EngineCode([&] { bad->CreateNew(); }), kErrInvalidBlobBlockSize);
}

TEST_F(BlobFileTest, SmallCacheEvictsAndTheExclusivePhaseGrowsIt) {
  auto f = NewFile(65535);  // four cached blocks
  const Bytes value = Pattern(10 * 65517 + 3, 5);
  const uint32_t first = Save(*f, 1, 0, value);
  EXPECT_LE(f->CachedBlockCount(), 4u);
  Commit(*f);
  EXPECT_EQ(Load(*f, 1, first), value);

  owner_.exclusive_phase = true;
  const int64_t size_before = static_cast<int64_t>(ReadDisk().size());
  const uint32_t other = Save(*f, 2, 0, Pattern(6 * 65517, 6));
  EXPECT_EQ(f->CacheCapacity(), 4u + 256u);
  EXPECT_EQ(static_cast<int64_t>(ReadDisk().size()), size_before)
      << "nothing written before commit";
  EXPECT_EQ(Load(*f, 2, other), Pattern(6 * 65517, 6)) << "short reads allowed in the phase";
  owner_.exclusive_phase = false;
  Commit(*f);
  f->ShrinkCache();
  EXPECT_EQ(f->CacheCapacity(), 4u);
  EXPECT_LE(f->CachedBlockCount(), 4u);
  EXPECT_EQ(Load(*f, 2, other), Pattern(6 * 65517, 6));
}

TEST_F(BlobFileTest, HandlesCountsAndLengths) {
  auto f = NewFile(64);
  const uint32_t first = Save(*f, 1, 0, Pattern(30, 1));
  int32_t h = 0, count = -1;
  ASSERT_EQ(f->OpenBlob(1, 1, first, h), 0);
  uint8_t buf[16];
  EXPECT_EQ(f->ReadBlob(h, 29, count, 10, buf), kErrEndOfBlob);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(buf[0], Pattern(30, 1)[29]);
  EXPECT_EQ(f->ReadBlob(h, 30, count, 1, buf), kErrEndOfBlob);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(f->ReadBlob(h, 30, count, 0, buf), 0);
  EXPECT_EQ(f->ReadBlob(h, -1, count, 1, buf), kErrEndOfBlob);
  EXPECT_EQ(f->ReadBlob(h, 0, count, -1, buf), kErrInvalidBlobLength);
  EXPECT_EQ(f->WriteBlob(h, -1, 1, buf), kErrInvalidBlobLength);
  EXPECT_EQ(f->WriteBlob(h, 0, -1, buf), kErrInvalidBlobLength);
  EXPECT_EQ(f->WriteBlob(h, INT32_MAX, 1, buf), kErrInvalidBlobLength);
  EXPECT_EQ(f->WriteBlob(h, 1999999999, 2, buf), kErrInvalidBlobLength);
  EXPECT_EQ(f->TruncateBlob(h, -5), kErrInvalidBlobLength);
  int32_t size = 0;
  EXPECT_EQ(f->GetBlobSize(h, size), 0);
  EXPECT_EQ(size, 30) << "refused writes leave the value alone";

  // Bytes overwritten without a change of size are saved as well.
  const uint8_t patch[3] = {0xAA, 0xBB, 0xCC};
  EXPECT_EQ(f->WriteBlob(h, 5, 3, patch), 0);
  f->SaveOpenBlobs();
  uint32_t out = 0;
  EXPECT_EQ(f->CloseBlob(h, out), 0);
  Bytes expect = Pattern(30, 1);
  std::copy(patch, patch + 3, expect.begin() + 5);
  EXPECT_EQ(Load(*f, 1, out), expect);

  // Closed handles stay dead; the 65th open value is refused.
  EXPECT_EQ(f->CloseBlob(h, out), kErrInvalidBlobHandle);
  EXPECT_EQ(f->ReadBlob(h, 0, count, 1, buf), kErrInvalidBlobHandle);
  EXPECT_EQ(f->GetBlobSize(h, size), kErrInvalidBlobHandle);
  std::set<int32_t> handles;
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(f->OpenBlob(2, static_cast<uint16_t>(i), 0, h), 0);
    EXPECT_TRUE(handles.insert(h).second);
  }
  EXPECT_EQ(f->OpenBlob(2, 99, 0, h), kErrTooManyBlobsOpen);
  const int32_t middle = *std::next(handles.begin(), 10);
  EXPECT_EQ(f->CloseBlob(middle, out), 0);
  EXPECT_EQ(f->OpenBlob(2, 99, 0, h), 0);
  EXPECT_NE(h, middle) << "a handle is never handed out twice";
  EXPECT_EQ(f->OpenBlobCount(), 64);

  // Values of two records are never saved together.
  f->FreeOpenBlobs();
  int32_t a = 0, b = 0;
  f->OpenBlob(5, 1, 0, a);
  f->OpenBlob(6, 2, 0, b);
  f->WriteBlob(a, 0, 3, patch);
  f->WriteBlob(b, 0, 3, patch);
  const uint32_t end = f->EndOffset();
  EXPECT_EQ(EngineCode([&] { f->SaveOpenBlobs(); }), kErrBlobBufferCorrupt);
  EXPECT_EQ(f->EndOffset(), end) << "nothing saved";
  f->SetBlobRecordNumber(5);
  f->SaveOpenBlobs();
  std::vector<std::pair<uint16_t, uint32_t>> stored;
  f->StoreBlobOffsets([&](uint16_t field, uint32_t offset) { stored.emplace_back(field, offset); });
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].first, 1);
  EXPECT_EQ(stored[1].first, 2);
  EXPECT_NE(stored[0].second, 0u);
  EXPECT_NE(stored[0].second, stored[1].second);
}

TEST_F(BlobFileTest, EncryptedPiecesAreCipheredSeparately) {
  owner_.encrypted = true;
  auto f = NewFile(64);
  const Bytes value = Pattern(50, 8);
  const uint32_t first = Save(*f, 9, 0, value);
  Commit(*f);
  f->Close();
  Bytes disk = ReadDisk();
  ASSERT_EQ(disk.size(), 512u + 2 * 64);
  DecipherBuffer(&disk[0], 512, kDataKeyA, kDataKeyB);
  EXPECT_EQ(disk[8], 3);
  EXPECT_EQ(cl::GetU32LE(&disk[13]), 640u);
  for (uint32_t at : {512u, 576u}) {
    DecipherBuffer(&disk[at], 18, kDataKeyA, kDataKeyB);
    DecipherBuffer(&disk[at + 18], 46, kDataKeyA, kDataKeyB);
    EXPECT_EQ(DecodeBlockHeader(&disk[at]).owner_record, 9u);
  }
  EXPECT_EQ(DecodeBlockHeader(&disk[512]).total_length, 50u);
  EXPECT_TRUE(std::equal(value.begin(), value.begin() + 46, disk.begin() + 530));
  auto g = OpenFile(64);
  EXPECT_EQ(Load(*g, 9, first), value);
}

TEST_F(BlobFileTest, ChangeCounterAndReadLevelRestarts) {
  auto f = NewFile(64, true);
  const uint32_t first = Save(*f, 1, 0, Pattern(200, 1));
  Commit(*f);
  f->Close();

  auto a = OpenFile(64, false);
  auto b = OpenFile(64, false);
  EXPECT_FALSE(b->CheckChanged());
  a->WriteHeader(true);
  EXPECT_TRUE(b->CheckChanged());
  EXPECT_EQ(b->ChangeCounter(), a->ChangeCounter());
  EXPECT_FALSE(b->CheckChanged());

  // The first disk read reports another writer: the load starts over and succeeds.
  int changes = 1;
  owner_.on_read_level = [&] {
    if (changes == 0) return false;
    --changes;
    b->InvalidateCache();
    return true;
  };
  owner_.read_level_calls = 0;
  EXPECT_EQ(Load(*b, 1, first), Pattern(200, 1));
  EXPECT_GE(owner_.read_level_calls, 2);
  // Under strict change detection the cursor layer has checked already.
  owner_.strict = true;
  owner_.read_level_calls = 0;
  b->EmptyCache();
  EXPECT_EQ(Load(*b, 1, first), Pattern(200, 1));
  EXPECT_EQ(owner_.read_level_calls, 0);
  // A writer that never stops changing the table makes the load give up, not spin.
  owner_.strict = false;
  owner_.on_read_level = [&] {
    b->InvalidateCache();
    return true;
  };
  b->EmptyCache();
  int32_t h = 0;
  EXPECT_EQ(EngineCode([&] { b->OpenBlob(1, 1, first, h); }), kErrBlobBufferCorrupt);
  EXPECT_EQ(b->OpenBlobCount(), 0);
}

TEST_F(BlobFileTest, WriteRegionExcludesReaders) {
  NewFile(64)->WriteHeader(true);
  auto a = OpenFile(64, false);
  auto b = OpenFile(64, false);
  a->SetLockRetry({2, 1});
  b->SetLockRetry({2, 1});
  ASSERT_TRUE(a->WriteLock());
  EXPECT_FALSE(b->ReadLock()) << "every reader byte lies in the write region";
  EXPECT_FALSE(b->ReadLockHeld());
  EXPECT_FALSE(b->WriteLock());
  ASSERT_TRUE(a->WriteUnlock());
  ASSERT_TRUE(b->ReadLock());
  ASSERT_TRUE(a->ReadLock()) << "readers rarely collide and retry when they do";
  EXPECT_FALSE(a->WriteLock()) << "a writer waits for every reader";
  ASSERT_TRUE(b->ReadUnlock());
  EXPECT_TRUE(b->ReadUnlock()) << "unlocking what is not held does nothing";
  ASSERT_TRUE(a->ReadUnlock());
  EXPECT_TRUE(a->WriteLock());
  EXPECT_TRUE(a->WriteUnlock());
}

TEST_F(BlobFileTest, FileFullBeyondTwoBillionBytes) {
  auto f = NewFile(64);
  f->WriteHeader(true);
  f->Close();
  Bytes disk = ReadDisk();
  const uint32_t end = 512 + 64 * ((kMaxBlobFileOffset - 512) / 64 + 1);
  ASSERT_GT(end, kMaxBlobFileOffset);
  cl::PutU32LE(&disk[13], end);
  WriteDisk(disk);
  std::filesystem::resize_file(FilePath(), end);  // sparse: the blocks the header counts
  auto g = OpenFile(64);
  int32_t h = 0;
  ASSERT_EQ(g->OpenBlob(1, 1, 0, h), 0);
  g->WriteBlob(h, 0, 1, disk.data());
  EXPECT_EQ(EngineCode([&] { g->SaveOpenBlobs(); }), kErrDataFileFull);
}

// A file with known chains, damaged at named offsets.  Block size 64 (payload 46):
//   record 1: 512 -> 576 -> 640 (120 bytes)   record 2: 704 -> 768 (60 bytes)
//   free chain: 832
class DamagedBlobFileTest : public BlobFileTest {
 protected:
  static constexpr uint32_t kA = 512, kB = 576, kC = 640, kD = 704, kF = 832;

  void SetUp() override {
    BlobFileTest::SetUp();
    auto f = NewFile(64);
    ASSERT_EQ(Save(*f, 1, 0, Pattern(120, 1)), kA);
    ASSERT_EQ(Save(*f, 2, 0, Pattern(60, 2)), kD);
    ASSERT_EQ(Save(*f, 3, 0, Pattern(10, 3)), kF);
    ASSERT_EQ(Save(*f, 3, kF, {}), 0u);
    Commit(*f);
    f->Close();
    good_ = ReadDisk();
    ASSERT_EQ(DiskView({good_, 64}).FreeHead(), kF);
  }

  void Damage(const std::function<void(Bytes&)>& change) {
    Bytes bytes = good_;
    change(bytes);
    WriteDisk(bytes);
  }
  static void Put32(Bytes& b, size_t at, uint32_t v) { cl::PutU32LE(&b[at], v); }
  // The free chain as far as it can be followed.
  static std::vector<uint32_t> FreeChainOf(const Bytes& b) {
    std::vector<uint32_t> chain;
    for (uint32_t at = cl::GetU32LE(&b[kBlbFreeHead]); at != 0 && at + 64 <= b.size();
         at = cl::GetU32LE(&b[at + kBlkNext])) {
      if (std::find(chain.begin(), chain.end(), at) != chain.end()) break;
      chain.push_back(at);
    }
    return chain;
  }

  // Opens, runs `op`, and answers its engine code; on failure checks that the free chain on disk
  // is what it was after everything that could be written has been written.
  int Run(const std::function<void(TBlobFile&)>& op) {
    auto f = OpenFile(64);
    const Bytes before = ReadDisk();
    const int code = EngineCode([&] { op(*f); });
    if (code != 0) {
      Commit(*f);
      EXPECT_EQ(FreeChainOf(ReadDisk()), FreeChainOf(before)) << "code " << code;
    }
    return code;
  }
  Bytes good_;
};

TEST_F(DamagedBlobFileTest, LoopingChains) {
  // The last block leads back to the first.  The load stops at the length; freeing sees the loop.
  Damage([](Bytes& b) { Put32(b, kC + kBlkNext, kA); });
  EXPECT_EQ(Run([](TBlobFile& f) { EXPECT_EQ(Load(f, 1, kA), Pattern(120, 1)); }), 0);
  EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 1, kA, {}); }), kErrInvalidBlobOffset);
  // Shortening it walks into the loop when freeing the tail.
  EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 1, kA, Pattern(5, 5)); }), kErrInvalidBlobOffset);
  // With a length that needs more blocks than the chain has before it loops, the load stops.
  Damage([](Bytes& b) {
    Put32(b, kC + kBlkNext, kA);
    Put32(b, kA + kBlkTotalLength, 46 * 6);
  });
  EXPECT_EQ(Run([](TBlobFile& f) { Load(f, 1, kA); }), kErrBlobBufferCorrupt);
  // Growing the value over the loop refuses to take a block twice.
  EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 1, kA, Pattern(46 * 5, 6)); }), kErrBlobBufferCorrupt);
}

TEST_F(DamagedBlobFileTest, ForeignAndFreeBlocksInAChain) {
  // A block of another record inside the value: loading (which opening for a change does
  // first) refuses it.
  Damage([](Bytes& b) { Put32(b, kB + kBlkOwner, 2); });
  EXPECT_EQ(Run([](TBlobFile& f) { Load(f, 1, kA); }), kErrBlobBufferCorrupt);
  EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 1, kA, {}); }), kErrBlobBufferCorrupt);
  // Behind the value's end, the chain runs on into record 2's value or into a free block
  // (owner 0): the value reads, but freeing or shortening it leaves those blocks alone.
  for (const uint32_t target : {kD, kF}) {
    Damage([&](Bytes& b) { Put32(b, kC + kBlkNext, target); });
    EXPECT_EQ(Run([](TBlobFile& f) { EXPECT_EQ(Load(f, 1, kA), Pattern(120, 1)); }), 0);
    EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 1, kA, {}); }), kErrInvalidBlobOffset);
    EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 1, kA, Pattern(50, 8)); }), kErrInvalidBlobOffset);
    EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 1, kA, Pattern(46 * 4, 8)); }), kErrBlobBufferCorrupt);
    auto f = OpenFile(64);
    EXPECT_EQ(Load(*f, 2, kD), Pattern(60, 2)) << "the other value is untouched";
  }
  // Another record's first block.
  Damage([](Bytes&) {});
  EXPECT_EQ(Run([](TBlobFile& f) { Load(f, 2, kA); }), kErrBlobBufferCorrupt);
  EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 2, kA, Pattern(3, 3)); }), kErrBlobBufferCorrupt);
  // A reference into the middle of the record's own value: not an empty value.
  EXPECT_EQ(Run([](TBlobFile& f) { Load(f, 1, kB); }), kErrBlobBufferCorrupt);
  EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 1, kB, Pattern(3, 3)); }), kErrBlobBufferCorrupt);
  auto f = OpenFile(64);
  EXPECT_EQ(Load(*f, 1, kA), Pattern(120, 1)) << "the other value is untouched";
}

TEST_F(DamagedBlobFileTest, OffsetsOffTheGridOrPastTheEnd) {
  Damage([](Bytes& b) { Put32(b, kB + kBlkNext, kB + 30); });
  EXPECT_EQ(Run([](TBlobFile& f) { Load(f, 1, kA); }), kErrBlobBufferCorrupt);
  Damage([](Bytes& b) { Put32(b, kC + kBlkNext, kB + 30); });
  EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 1, kA, {}); }), kErrInvalidBlobOffset);
  Damage([](Bytes& b) { Put32(b, kB + kBlkNext, 64 * 1000 + 512); });
  EXPECT_EQ(Run([](TBlobFile& f) { Load(f, 1, kA); }), kErrBlobBufferCorrupt);
  Damage([](Bytes&) {});
  int32_t h = 0;
  EXPECT_EQ(Run([&](TBlobFile& f) { f.OpenBlob(1, 1, kA + 1, h); }), kErrInvalidBlobOffset);
  EXPECT_EQ(Run([&](TBlobFile& f) { f.OpenBlob(1, 1, 896, h); }), kErrInvalidBlobOffset);
  EXPECT_EQ(Run([&](TBlobFile& f) { f.OpenBlob(1, 1, 100, h); }), kErrInvalidBlobOffset);
}

TEST_F(DamagedBlobFileTest, ShortChainsAndImpossibleLengths) {
  Damage([](Bytes& b) { Put32(b, kB + kBlkNext, 0); });
  EXPECT_EQ(Run([](TBlobFile& f) { Load(f, 1, kA); }), kErrEndOfBlob);
  // A length no file of this size can hold: refused before any memory is set aside.
  Damage([](Bytes& b) { Put32(b, kA + kBlkTotalLength, 0xFFFFFFFF); });
  EXPECT_EQ(Run([](TBlobFile& f) { Load(f, 1, kA); }), kErrBlobBufferCorrupt);
  Damage([](Bytes& b) { Put32(b, kA + kBlkTotalLength, 7 * 46 + 1); });
  EXPECT_EQ(Run([](TBlobFile& f) { Load(f, 1, kA); }), kErrBlobBufferCorrupt);
}

TEST_F(DamagedBlobFileTest, DamagedHeaders) {
  auto open_code = [&] { return EngineCode([&] { OpenFile(64); }); };
  Damage([](Bytes& b) { b[kBlbVersion] = 2; });
  EXPECT_EQ(open_code(), kErrWrongVersion);
  Damage([](Bytes& b) { Put32(b, kBlbEndOffset, 900); });
  EXPECT_EQ(open_code(), kErrBlobBufferCorrupt);
  Damage([](Bytes& b) { Put32(b, kBlbEndOffset, 256); });
  EXPECT_EQ(open_code(), kErrBlobBufferCorrupt);
  Damage([](Bytes& b) { Put32(b, kBlbFreeHead, kF + 64); });
  EXPECT_EQ(open_code(), kErrBlobBufferCorrupt);
  Damage([](Bytes& b) { Put32(b, kBlbFreeHead, kF + 1); });
  EXPECT_EQ(open_code(), kErrBlobBufferCorrupt);
  Damage([](Bytes& b) { b.resize(100); });
  EXPECT_EQ(open_code(), kErrReadFailure);
  // A block size that does not fit the file shows in its end offset.
  Damage([](Bytes&) {});
  EXPECT_EQ(EngineCode([&] { OpenFile(100); }), kErrBlobBufferCorrupt);
  // A header that fails leaves the handler closed.
  Damage([](Bytes& b) { b[kBlbVersion] = 4; });
  TBlobFile f(owner_, 64);
  f.SetExclusive(true);
  f.SetFileName(TableName());
  EXPECT_EQ(EngineCode([&] { f.Open(); }), kErrWrongVersion);
  EXPECT_FALSE(f.IsOpen());
  // A damaged header another writer left, seen through its change counter, is refused and kept
  // out: the handle goes on with the header it had, so new blocks stay on the block grid.
  Damage([](Bytes&) {});
  auto shared = OpenFile(64, false);
  Damage([](Bytes& b) {
    Put32(b, kBlbChangeCounter, cl::GetU32LE(&b[kBlbChangeCounter]) + 1);
    Put32(b, kBlbEndOffset, 900);
  });
  EXPECT_EQ(EngineCode([&] { shared->CheckChanged(); }), kErrBlobBufferCorrupt);
  EXPECT_EQ(shared->EndOffset(), DiskView({good_, 64}).End());
  EXPECT_EQ(shared->FreeHead(), kF);
  EXPECT_EQ(shared->ChangeCounter(), cl::GetU32LE(&good_[kBlbChangeCounter]));
}

TEST_F(DamagedBlobFileTest, DamagedFreeChain) {
  // A free block that names itself as the next free one would be handed out twice.
  Damage([](Bytes& b) { Put32(b, kF + kBlkNext, kF); });
  EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 4, 0, Pattern(100, 4)); }), kErrBlobBufferCorrupt);
  Damage([](Bytes& b) { Put32(b, kF + kBlkNext, kF + 3); });
  EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 4, 0, Pattern(10, 4)); }), kErrBlobBufferCorrupt);
  // A chain of two free blocks that runs back to its head: a value of four blocks would take the
  // first one again and write itself into a loop.
  constexpr uint32_t kG = kF + 64;
  Damage([](Bytes& b) {
    b.resize(kG + 64, 0);
    Put32(b, kBlbEndOffset, kG + 64);
    Put32(b, kF + kBlkNext, kG);
    Put32(b, kG + kBlkNext, kF);
  });
  EXPECT_EQ(Run([](TBlobFile& f) { Save(f, 4, 0, Pattern(150, 4)); }), kErrBlobBufferCorrupt);
  EXPECT_EQ(Run([](TBlobFile& f) { EXPECT_EQ(Load(f, 2, kD), Pattern(60, 2)); }), 0);
  // A file cut short of its end offset after it was opened: a shared reader meets the short read.
  Damage([](Bytes&) {});
  auto shared = OpenFile(64, false);
  Damage([](Bytes& b) { b.resize(kB + 10); });
  EXPECT_EQ(EngineCode([&] { Load(*shared, 1, kA); }), kErrReadFailure);
  shared->Close();
  Damage([](Bytes&) {});
  auto exclusive = OpenFile(64, true);
  Damage([](Bytes& b) { b.resize(kB + 10); });
  EXPECT_EQ(EngineCode([&] { Load(*exclusive, 1, kA); }), kErrBlobBufferCorrupt);
}

// Thousands of randomly damaged files, each opened, read, rewritten and freed: every failure is
// one of the engine's codes, and under the sanitizers nothing reaches outside a buffer.
TEST_F(DamagedBlobFileTest, MutatedFilesOnlyRaiseEngineErrors) {
  const std::set<int> allowed = {kErrBlobBufferCorrupt, kErrInvalidBlobOffset, kErrEndOfBlob,
                                 kErrWrongVersion,      kErrReadFailure,       kErrDataFileFull};
  std::mt19937 rng(31337);
  int failures = 0, clean = 0;
  for (int round = 0; round < 3000; ++round) {
    Damage([&](Bytes& b) {
      for (int m = 0, n = 1 + static_cast<int>(rng() % 4); m < n; ++m) {
        size_t at;
        switch (rng() % 3) {
          case 0:
            at = rng() % 18;
            break;  // file header
          case 1:
            at = 512 + 64 * (rng() % 6) + rng() % 18;
            break;  // a block header
          default:
            at = rng() % b.size();
            break;
        }
        b[at] = rng() % 3 == 0 ? static_cast<uint8_t>(b[at] ^ (1u << (rng() % 8)))
                               : static_cast<uint8_t>(rng());
      }
      if (rng() % 20 == 0) b.resize(rng() % b.size());
    });
    auto attempt = [&](const std::function<void()>& fn) {
      const int code = EngineCode(fn);
      if (code != 0 && !allowed.count(code)) ADD_FAILURE() << "round " << round << " code " << code;
      return code;
    };
    const int code = attempt([&] {
      auto f = OpenFile(64, rng() % 2 == 0);
      for (uint32_t record = 1; record <= 3; ++record) {
        const uint32_t first = record == 1 ? kA : record == 2 ? kD : kF;
        attempt([&] { Load(*f, record, first); });
      }
      attempt([&] { Save(*f, 1, kA, Pattern(rng() % 300, 9)); });
      attempt([&] { Save(*f, 2, kD, {}); });
      attempt([&] { Save(*f, 5, 0, Pattern(rng() % 200, 10)); });
      Commit(*f);
    });
    if (code == 0) {
      ++clean;
    } else {
      ++failures;
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(failures, 0);
  EXPECT_GT(clean, 0);
}

}  // namespace
}  // namespace tessera
