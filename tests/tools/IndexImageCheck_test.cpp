#include "tools/IndexImageCheck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/index/TIndexFile.h"
#include "engine/storage/values/KeyEncoding.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace tessera {
namespace {

class Owner : public TIndexFileOwner {
 public:
  std::string name = "Calls.DAT";
  bool encrypted = false;
  const std::string& DataFileName() const override { return name; }
  bool Encrypted() const override { return encrypted; }
  bool InExclusivePhase() const override { return false; }
};

std::vector<uint8_t> BuildFile(const std::filesystem::path& dir, bool encrypted) {
  Owner owner;
  owner.encrypted = encrypted;
  {
    TIndexFile f(owner);
    f.SetExclusive(true);
    f.SetFileName((dir / "Calls").string());
    f.CreateNew();
    TIndexDescriptor d;
    d.key_length = 9;
    d.field_count = 1;
    d.compression = kCompressLeading;
    f.DefinePrimaryIndex(d);
    for (uint32_t n = 1; n <= 3000; ++n) {
      std::vector<uint8_t> key(9, 0);
      key[0] = 1;
      EncodeInt32Key(static_cast<int32_t>(n * 7 % 3001), key.data() + 1);
      f.InsertKey(key.data(), n);
    }
    f.WriteDirtyPages();
    f.WriteHeader(true);
  }
  return mirvel_test::ReadFileBytes(dir / "Calls.IDX");
}

TEST(IndexImageCheckTest, SoundFilesPassAndDamagedCopiesFail) {
  InitializeEngine();
  const mirvel_test::TempDirectory dir("btree-tool");
  for (bool encrypted : {false, true}) {
    const std::vector<uint8_t> image = BuildFile(dir.Path(), encrypted);
    std::ostringstream out;
    EXPECT_TRUE(CheckIndexImage(image, encrypted, out)) << out.str();
    EXPECT_NE(out.str().find("slot 0: 3000 keys"), std::string::npos) << out.str();

    std::vector<uint8_t> damaged = image;
    uint8_t* page = damaged.data() + 2 * kIndexPageSize;
    page[kPageCount] ^= 0x01;  // one key more or less than the parent counts
    std::ostringstream bad;
    EXPECT_FALSE(CheckIndexImage(damaged, encrypted, bad)) << bad.str();
    EXPECT_EQ(bad.str().rfind("check: ", 0), 0u) << bad.str();
  }
}

}  // namespace
}  // namespace tessera
