#include "engine/storage/index/TIndexFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
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

class FakeOwner : public TIndexFileOwner {
 public:
  std::string name = "Users.DAT";
  bool encrypted = false;
  bool exclusive_phase = false;
  const std::string& DataFileName() const override { return name; }
  bool Encrypted() const override { return encrypted; }
  bool InExclusivePhase() const override { return exclusive_phase; }
};

using testing::EngineCode;

// The new file, written out by hand from the header table.
Bytes GoldenNewFile() {
  Bytes b(4096, 0);
  b[0] = 1;      // change counter after the first write
  b[8] = 3;      // version
  b[10] = 0x10;  // end offset 4096 = 00 10 00 00 at 9
  const char name[] = "Sys Deleted";
  b[3734] = 11;  // slot 31 at 14 + 120 x 31: length byte and name
  std::memcpy(&b[3735], name, 11);
  b[3765] = 5;  // key length 5 at +31
  b[3979] = 1;  // written while marked changed
  return b;
}

class IndexFileTest : public ::testing::Test {
 protected:
  std::string TableName() const { return dir_.File("Users"); }
  std::string FilePath() const { return dir_.File("Users.IDX"); }

  std::unique_ptr<TIndexFile> Make(bool exclusive) {
    auto f = std::make_unique<TIndexFile>(owner_);
    f->SetExclusive(exclusive);
    f->SetFileName(TableName());
    return f;
  }
  std::unique_ptr<TIndexFile> Open(bool exclusive = true) {
    auto f = Make(exclusive);
    f->Open();
    return f;
  }
  int OpenCode() {
    auto f = Make(true);
    const int code = EngineCode([&] { f->Open(); });
    if (code != 0) {
      EXPECT_FALSE(f->IsOpen()) << "a refused header leaves the file closed";
    }
    return code;
  }
  void CreateGolden() {
    auto f = Make(true);
    f->CreateNew();
    f->WriteHeader(false);
  }
  Bytes ReadDisk() const { return mirvel_test::ReadFileBytes(FilePath()); }
  void WriteDisk(const Bytes& bytes) const { mirvel_test::WriteFileBytes(FilePath(), bytes); }
  void Damage(const std::function<void(Bytes&)>& change) {
    Bytes b = GoldenNewFile();
    change(b);
    WriteDisk(b);
  }
  // Grows an image to the end offset its header gives: a file always holds the pages its header
  // counts (or is refused at open).
  static void Cover(Bytes& b) { b.resize(std::max<size_t>(b.size(), cl::GetU32LE(&b[9])), 0); }

  mirvel_test::TempDirectory dir_{"blobidx-idx"};
  FakeOwner owner_;
};

TIndexDescriptor Secondary(const std::string& name, uint16_t k, uint8_t compression) {
  TIndexDescriptor d;
  d.name = name;
  d.key_length = k;
  d.case_insensitive = 1;
  d.compression = compression;
  d.field_count = 2;
  d.field_descending[1] = 1;
  d.field_numbers[0] = 3;
  d.field_numbers[1] = 7;
  return d;
}

TEST_F(IndexFileTest, NewFileMatchesTheFormatTable) {
  CreateGolden();
  EXPECT_EQ(ReadDisk(), GoldenNewFile());
  auto f = Open();
  EXPECT_EQ(f->ChangeCounter(), 1u);
  EXPECT_EQ(f->EndOffset(), 4096u);
  EXPECT_EQ(f->RecordCount(), 0u);
  EXPECT_EQ(f->SecondaryCount(), 0);
  const TIndexDescriptor deleted = f->GetIndexDescriptor(31);
  EXPECT_EQ(deleted.name, "Sys Deleted");
  EXPECT_EQ(deleted.key_length, 5);
  EXPECT_EQ(deleted.compression, 0);
  EXPECT_EQ(f->GetIndexDescriptor(0), TIndexDescriptor{});
}

TEST_F(IndexFileTest, HeaderIsWrittenOnlyWhenChangedOrForced) {
  CreateGolden();
  auto f = Open();
  f->WriteHeader(false);
  EXPECT_EQ(ReadDisk(), GoldenNewFile()) << "an unchanged header is not written";
  f->WriteHeader(true);
  Bytes expect = GoldenNewFile();
  expect[0] = 2;
  expect[3979] = 0;  // forced while unchanged
  EXPECT_EQ(ReadDisk(), expect);
}

TEST_F(IndexFileTest, FileNames) {
  TIndexFile f(owner_);
  EXPECT_EQ(f.MakeFileName("Users"), "Users.IDX");
  EXPECT_EQ(f.MakeFileName("Users.IDX"), "Users.IDX");
  EXPECT_EQ(f.MakeFileName("users.idx"), "users.idx");
  EXPECT_EQ(f.MakeFileName("dir.idx/Users"), "dir.idx/Users.IDX");
  EXPECT_EQ(f.MakeFileName("Users.DAT"), "Users.DAT.IDX");
}

TEST_F(IndexFileTest, DescriptorsRoundTripThroughTheHeader) {
  Damage([](Bytes& b) {
    b[13] = 2;
    TIndexDescriptor primary;
    primary.key_length = 9;
    primary.unique = 1;
    primary.field_count = 1;
    primary.field_numbers[0] = 1;
    primary.root = 4096;
    EncodeIndexDescriptor(primary, &b[14]);
    EncodeIndexDescriptor(Secondary("ByName", 30, 3), &b[14 + 120]);
    EncodeIndexDescriptor(Secondary("ByDate", 10, 1), &b[14 + 240]);
    cl::PutU32LE(&b[9], 3 * 4096);
    Cover(b);
    cl::PutU32LE(&b[3974], 42);
    // A slot past the secondary count is not in use, whatever it holds.
    std::memset(&b[14 + 5 * 120], 0xEE, 120);
  });
  auto f = Open();
  EXPECT_EQ(f->SecondaryCount(), 2);
  EXPECT_EQ(f->RecordCount(), 42u);
  EXPECT_EQ(f->GetIndexDescriptor(1), Secondary("ByName", 30, 3));
  EXPECT_EQ(f->GetIndexDescriptor(2), Secondary("ByDate", 10, 1));
  EXPECT_EQ(f->GetIndexDescriptor(0).root, 4096u);
  // The byte layout of one descriptor, by hand.
  const uint8_t* raw = f->HeaderImage() + 14 + 120;
  EXPECT_EQ(raw[0], 6);
  EXPECT_EQ(std::string(raw + 1, raw + 7), "ByName");
  EXPECT_EQ(raw[31], 30);
  EXPECT_EQ(raw[34], 1);  // case-insensitive
  EXPECT_EQ(raw[36], 3);  // compression
  EXPECT_EQ(raw[37], 2);  // fields
  EXPECT_EQ(raw[39], 1);  // descending flag of field 2 at 37 + 2
  EXPECT_EQ(raw[54], 3);  // field numbers from 54
  EXPECT_EQ(raw[56], 7);

  f->SelectIndex(1);
  EXPECT_EQ(f->CurrentIndexParams().key_length, 30);
  EXPECT_EQ(f->CurrentIndexParams().compression, 3);
  f->SelectIndex(kRecordOrderSlot);
  EXPECT_EQ(f->CurrentIndexParams().key_length, 4);
  EXPECT_EQ(EngineCode([&] { f->SelectIndex(5); }), kErrIndexPageCorrupt);
  EXPECT_EQ(EngineCode([&] { f->SelectIndex(32); }), kErrIndexPageCorrupt);
  f->SelectIndex(31);
  EXPECT_EQ(f->CurrentIndexParams().key_length, 5);
}

TEST_F(IndexFileTest, DamagedHeadersAreRefused) {
  auto code_after = [&](const std::function<void(Bytes&)>& change) {
    Damage(change);
    return OpenCode();
  };
  EXPECT_EQ(code_after([](Bytes&) {}), 0);
  EXPECT_EQ(code_after([](Bytes& b) { b[8] = 4; }), kErrWrongVersion);
  EXPECT_EQ(code_after([](Bytes& b) { b[13] = 31; }), kErrIndexPageCorrupt);
  EXPECT_EQ(code_after([](Bytes& b) { b[13] = 1; }), kErrIndexPageCorrupt) << "slot 1 unused";
  EXPECT_EQ(code_after([](Bytes& b) { cl::PutU32LE(&b[9], 4097); }), kErrIndexPageCorrupt);
  EXPECT_EQ(code_after([](Bytes& b) { cl::PutU32LE(&b[9], 0); }), kErrIndexPageCorrupt);
  // Slot 31's descriptor at 3734: key length at +31, compression +36, fields +37, root +86,
  // free head +90.
  EXPECT_EQ(code_after([](Bytes& b) { cl::PutU16LE(&b[3734 + 31], 1037); }), kErrIndexPageCorrupt);
  EXPECT_EQ(code_after([](Bytes& b) { cl::PutU16LE(&b[3734 + 31], 1036); }), 0);
  EXPECT_EQ(code_after([](Bytes& b) { b[3734 + 36] = 4; }), kErrIndexPageCorrupt);
  EXPECT_EQ(code_after([](Bytes& b) { b[3734 + 37] = 17; }), kErrIndexPageCorrupt);
  EXPECT_EQ(code_after([](Bytes& b) { b[3734] = 31; }), kErrIndexPageCorrupt);
  EXPECT_EQ(code_after([](Bytes& b) { cl::PutU32LE(&b[3734 + 86], 4096); }), kErrIndexPageCorrupt)
      << "a root at the end offset";
  EXPECT_EQ(code_after([](Bytes& b) {
              cl::PutU32LE(&b[9], 8192);
              Cover(b);
              cl::PutU32LE(&b[3734 + 86], 4096);
            }),
            0);
  EXPECT_EQ(code_after([](Bytes& b) {
              cl::PutU32LE(&b[9], 8192);
              Cover(b);
              cl::PutU32LE(&b[3734 + 90], 4100);
            }),
            kErrIndexPageCorrupt);
  // A non-unique secondary index carries the 4-byte suffix: its key cannot be shorter.
  EXPECT_EQ(code_after([](Bytes& b) {
              b[13] = 1;
              EncodeIndexDescriptor(Secondary("Short", 3, 0), &b[134]);
            }),
            kErrIndexPageCorrupt);
  EXPECT_EQ(code_after([](Bytes& b) { b.resize(4000); }), kErrReadFailure);
}

TEST_F(IndexFileTest, ChangeCounterSeesAnotherHandle) {
  CreateGolden();
  auto a = Open(false);
  auto b = Open(false);
  EXPECT_FALSE(b->CheckChanged());
  a->WriteHeader(true);
  EXPECT_TRUE(b->CheckChanged());
  EXPECT_EQ(b->ChangeCounter(), 2u);
  EXPECT_FALSE(b->CheckChanged());
}

TEST_F(IndexFileTest, PagesAtCheckedOffsets) {
  Damage([](Bytes& b) {
    cl::PutU32LE(&b[9], 3 * 4096);
    Cover(b);
    b[13] = 1;
    EncodeIndexDescriptor(Secondary("ByName", 8, 1), &b[134]);
  });
  auto f = Open();
  f->SelectIndex(1);
  TPage page(*f);
  page.SetType(kPageRootLeaf);
  const uint8_t k1[8] = {1, 'A', 0, 0, 0x80, 0, 0, 1}, k2[8] = {1, 'B', 0, 0, 0x80, 0, 0, 2};
  page.InsertAfterCurrent(k1);
  page.SetCurrentValue(1);
  page.InsertAfterCurrent(k2);
  page.SetCurrentValue(2);
  page.SetOffset(8192);
  f->WritePage(page);
  TPage back(*f);
  f->ReadPage(8192, back);
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back.ValueAt(2), 2u);
  EXPECT_EQ(std::memcmp(back.KeyAt(2), k2, 8), 0);
  EXPECT_EQ(back.Offset(), 8192u);
  const Bytes disk = ReadDisk();
  ASSERT_EQ(disk.size(), 3u * 4096);
  EXPECT_EQ(disk[8192], kPageRootLeaf);
  EXPECT_EQ(disk[8192 + 13], 0) << "mode 1: the first entry shares nothing";

  for (const uint32_t bad : {0u, 4095u, 4100u, 12288u, 0x7FFFF000u}) {
    EXPECT_EQ(EngineCode([&] { f->ReadPage(bad, back); }), kErrIndexPageCorrupt) << bad;
    page.SetOffset(bad);
    EXPECT_EQ(EngineCode([&] { f->WritePage(page); }), kErrIndexPageCorrupt) << bad;
  }
  // The page between the header and the written one was never written: an exclusive file reads
  // it as zeros; a damaged page is refused.
  EXPECT_EQ(EngineCode([&] { f->ReadPage(4096, back); }), 0);
  EXPECT_EQ(back.Count(), 0);
  f->Close();
  Bytes damaged = disk;
  damaged[8192 + 1] = 0xFF;  // key count
  WriteDisk(damaged);
  f = Open();
  f->SelectIndex(1);
  TPage again(*f);  // a page belongs to the file object that caches it
  EXPECT_EQ(EngineCode([&] { f->ReadPage(8192, again); }), kErrIndexPageCorrupt);
}

TEST_F(IndexFileTest, EncipheredHeader) {
  owner_.encrypted = true;
  CreateGolden();
  Bytes disk = ReadDisk();
  EXPECT_NE(disk, GoldenNewFile());
  DecipherBuffer(disk.data(), 4096, kDataKeyA, kDataKeyB);
  EXPECT_EQ(disk, GoldenNewFile());
  auto f = Open(false);
  EXPECT_EQ(f->GetIndexDescriptor(31).name, "Sys Deleted");
  auto b = Open(false);
  f->WriteHeader(true);
  EXPECT_TRUE(b->CheckChanged()) << "the counter is read through the cipher";
}

// Random damage to a header with indexes in use: the header either opens with every used slot
// inside its bounds, or is refused with the version or corruption code.
TEST_F(IndexFileTest, MutatedHeadersOpenCheckedOrNotAtAll) {
  Bytes base = GoldenNewFile();
  base[13] = 3;
  cl::PutU32LE(&base[9], 5 * 4096);
  Cover(base);
  for (int slot = 1; slot <= 3; ++slot) {
    TIndexDescriptor d = Secondary("Index" + std::to_string(slot), 12, static_cast<uint8_t>(slot));
    d.root = 4096 * static_cast<uint32_t>(slot);
    EncodeIndexDescriptor(d, &base[14 + 120 * slot]);
  }
  std::mt19937 rng(4242);
  int opened = 0, refused = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes b = base;
    for (int m = 0, n = 1 + static_cast<int>(rng() % 3); m < n; ++m) {
      const size_t at = rng() % 2 ? rng() % 14 : 14 + 120 * (rng() % 4) + rng() % 120;
      b[at] = static_cast<uint8_t>(rng());
    }
    WriteDisk(b);
    auto f = Make(true);
    const int code = EngineCode([&] { f->Open(); });
    if (code != 0) {
      ASSERT_TRUE(code == kErrWrongVersion || code == kErrIndexPageCorrupt) << code;
      ++refused;
      continue;
    }
    ++opened;
    for (int slot = 0; slot <= f->SecondaryCount(); ++slot) {
      const TIndexDescriptor d = f->GetIndexDescriptor(slot);
      if (d.key_length == 0) continue;
      ASSERT_LE(d.key_length, kMaxKeyLength);
      ASSERT_LE(d.compression, 3);
      ASSERT_LE(d.field_count, 16);
      if (d.root != 0) {
        ASSERT_EQ(d.root % 4096, 0u);
        ASSERT_LT(d.root, f->EndOffset());
        f->SelectIndex(static_cast<uint8_t>(slot));
        TPage page(*f);
        const int read = EngineCode([&] { f->ReadPage(d.root, page); });
        ASSERT_TRUE(read == 0 || read == kErrIndexPageCorrupt) << read;
      }
    }
  }
  EXPECT_GT(opened, 100);
  EXPECT_GT(refused, 100);
}

}  // namespace
}  // namespace tessera
