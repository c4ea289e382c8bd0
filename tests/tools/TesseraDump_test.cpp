#include "tools/TesseraDump.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/blob/TBlobFile.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/index/TPage.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace tessera {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class PageOwner : public TPageOwner {
 public:
  TIndexParams params;
  std::string name = "T.DAT";
  TIndexParams CurrentIndexParams() const override { return params; }
  bool PagesEnciphered() const override { return false; }
  const std::string& ErrorFileName() const override { return name; }
};

class BlobOwner : public TBlobFileOwner {
 public:
  std::string name = "T.DAT";
  const std::string& DataFileName() const override { return name; }
  bool Encrypted() const override { return false; }
  bool StrictChangeDetection() const override { return false; }
  bool InExclusivePhase() const override { return false; }
  bool TakeReadLevel() override { return false; }
};

// An index file by hand: slot 1 "ByName" (K = 8, mode 1) with a root inner page at 4096 over
// two leaves at 8192 and 12288, and one free page at 16384.
Bytes TwoLevelIndex() {
  Bytes file(5 * 4096, 0);
  file[8] = 3;
  cl::PutU32LE(&file[9], 5 * 4096);
  file[13] = 1;
  cl::PutU32LE(&file[3974], 4);
  TIndexDescriptor d;
  d.name = "ByName";
  d.key_length = 8;
  d.case_insensitive = 1;
  d.compression = 1;
  d.field_count = 2;
  d.field_numbers = {3, 7};
  d.field_descending[1] = 1;
  d.root = 4096;
  d.free_head = 16384;
  EncodeIndexDescriptor(d, &file[DescriptorOffset(1)]);
  TIndexDescriptor deleted;
  deleted.name = "Sys Deleted";
  deleted.key_length = 5;
  EncodeIndexDescriptor(deleted, &file[DescriptorOffset(31)]);

  PageOwner owner;
  owner.params = {8, 1, false, false, 1};
  auto key = [](uint8_t c, uint8_t seq) { return Bytes{1, c, 0, 0, 0x80, 0, 0, seq}; };
  TPage root(owner), left(owner), right(owner), free(owner);
  root.SetType(kPageRootInner);
  root.InsertAfterCurrent(key('A', 1).data());
  root.SetCurrentValue(8192);
  root.SetCurrentSubtreeCount(2);
  root.InsertAfterCurrent(key('C', 3).data());
  root.SetCurrentValue(12288);
  root.SetCurrentSubtreeCount(2);
  left.SetType(kPageLeaf);
  left.SetNext(12288);
  right.SetType(kPageLeaf);
  right.SetPrev(8192);
  for (uint8_t i = 0; i < 4; ++i) {
    TPage& leaf = i < 2 ? left : right;
    leaf.CurrentToLast();
    leaf.InsertAfterCurrent(key(static_cast<uint8_t>('A' + i), static_cast<uint8_t>(i + 1)).data());
    leaf.SetCurrentValue(i + 1u);
  }
  free.SetType(kPageLeaf);
  free.SetFree(true);
  root.Pack(&file[4096]);
  left.Pack(&file[8192]);
  right.Pack(&file[12288]);
  free.Pack(&file[16384]);
  return file;
}

std::string Dump(const Bytes& image, bool blob, bool* sound, TDumpOptions options = {}) {
  std::ostringstream out;
  *sound = blob ? DumpBlobFile(image, options, out) : DumpIndexFile(image, options, out);
  return out.str();
}

TEST(TesseraDump, IndexTreesLevelByLevel) {
  bool sound = false;
  TDumpOptions options;
  options.entries = true;
  const std::string text = Dump(TwoLevelIndex(), false, &sound, options);
  EXPECT_TRUE(sound) << text;
  EXPECT_NE(text.find("secondary indexes 1, records 4"), std::string::npos) << text;
  EXPECT_NE(text.find("slot 1 \"ByName\": key length 8, compression 1, case-insensitive, "
                      "fields 3 7 desc, root 4096, free head 16384"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  level 1:\n    4096: root inner, 2 keys, prev 0, next 0, total 4"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  level 2:\n    8192: leaf, 2 keys"), std::string::npos) << text;
  EXPECT_NE(text.find("    12288: leaf, 2 keys"), std::string::npos) << text;
  EXPECT_NE(text.find("#2 01 44 00 00 80 00 00 04 record 4"), std::string::npos) << text;
  EXPECT_NE(text.find("free pages: 16384\n"), std::string::npos) << text;
  EXPECT_NE(text.find("slot 31 \"Sys Deleted\": key length 5"), std::string::npos) << text;
}

TEST(TesseraDump, IndexDamageIsReported) {
  bool sound = true;
  Bytes image = TwoLevelIndex();
  cl::PutU32LE(&image[12288 + kPageNext], 8192);  // the right leaf links back to the left one
  std::string text = Dump(image, false, &sound);
  EXPECT_FALSE(sound);
  EXPECT_NE(text.find("8192: reached twice"), std::string::npos) << text;

  image = TwoLevelIndex();
  image[8192 + kPageCount] = 0xFF;
  text = Dump(image, false, &sound);
  EXPECT_FALSE(sound);
  EXPECT_NE(text.find("8192: damaged page"), std::string::npos) << text;

  image = TwoLevelIndex();
  image[8] = 2;
  text = Dump(image, false, &sound);
  EXPECT_FALSE(sound);
  EXPECT_NE(text.find("header check: wrong version"), std::string::npos) << text;
  std::ostringstream out;
  EXPECT_FALSE(DumpIndexFile(Bytes(100), {}, out)) << "shorter than a header";
}

class TesseraDumpBlob : public ::testing::Test {
 protected:
  void SetUp() override {
    TBlobFile f(owner_, 64);
    f.SetExclusive(true);
    f.SetFileName(dir_.File("T"));
    f.CreateNew();
    auto save = [&](uint32_t record, uint32_t first, size_t n) {
      int32_t h = 0;
      f.OpenBlob(record, 1, first, h);
      f.TruncateBlob(h, 0);
      const Bytes value(n, static_cast<uint8_t>(record));
      f.WriteBlob(h, 0, static_cast<int32_t>(n), value.data());
      f.SaveOpenBlobs();
      uint32_t out = 0;
      f.CloseBlob(h, out);
      return out;
    };
    save(1, 0, 120);             // 512 576 640
    save(2, 0, 60);              // 704 768
    save(3, save(3, 0, 10), 0);  // 832, freed
    f.FlushDirtyBlocks();
    f.WriteHeader(true);
    f.Close();
    image_ = mirvel_test::ReadFileBytes(dir_.File("T.BLB"));
  }
  TDumpOptions Options() const {
    TDumpOptions o;
    o.block_size = 64;
    return o;
  }

  mirvel_test::TempDirectory dir_{"blobidx-dump"};
  BlobOwner owner_;
  Bytes image_;
};

TEST_F(TesseraDumpBlob, ChainsAndFreeBlocks) {
  bool sound = false;
  const std::string text = Dump(image_, true, &sound, Options());
  EXPECT_TRUE(sound) << text;
  EXPECT_NE(text.find("block size 64 (payload 46)"), std::string::npos) << text;
  EXPECT_NE(text.find("free chain: 832 (1 blocks)"), std::string::npos) << text;
  EXPECT_NE(text.find("  record 1: 120 bytes: 512 576 640 (3 blocks)"), std::string::npos) << text;
  EXPECT_NE(text.find("  record 2: 60 bytes: 704 768 (2 blocks)"), std::string::npos) << text;
  EXPECT_NE(text.find("blocks no chain reaches: none"), std::string::npos) << text;
}

TEST_F(TesseraDumpBlob, DamageIsReported) {
  bool sound = true;
  Bytes image = image_;
  cl::PutU32LE(&image[640 + kBlkNext], 704);  // record 1 runs into record 2
  std::string text = Dump(image, true, &sound, Options());
  EXPECT_FALSE(sound);
  EXPECT_NE(text.find("640 704 (owner 2)"), std::string::npos) << text;
  image = image_;
  cl::PutU32LE(&image[576 + kBlkNext], 0);
  text = Dump(image, true, &sound, Options());
  EXPECT_FALSE(sound);
  EXPECT_NE(text.find("the chain is shorter than its length"), std::string::npos) << text;
  EXPECT_NE(text.find("blocks no chain reaches: 640"), std::string::npos) << text;
}

// Damaged images of both kinds: the dump always finishes, and under the sanitizers never reads
// outside the image.
TEST_F(TesseraDumpBlob, MutatedImagesAlwaysFinish) {
  std::mt19937 rng(7);
  const Bytes index = TwoLevelIndex();
  int damaged = 0;
  for (int round = 0; round < 2000; ++round) {
    const bool blob = round % 2 == 0;
    Bytes image = blob ? image_ : index;
    for (int m = 0, n = 1 + static_cast<int>(rng() % 5); m < n; ++m) {
      const size_t at = rng() % 2 ? rng() % 20 : rng() % image.size();
      image[at] = static_cast<uint8_t>(rng());
    }
    if (rng() % 10 == 0) image.resize(rng() % image.size());
    bool sound = true;
    TDumpOptions options = Options();
    options.entries = rng() % 2 == 0;
    Dump(image, blob, &sound, options);
    if (!sound) ++damaged;
  }
  EXPECT_GT(damaged, 500);
}

}  // namespace
}  // namespace tessera
