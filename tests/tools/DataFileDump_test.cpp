#include "tools/DataFileDump.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace tessera {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using testing::Field;

class DataFileDumpTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }

  // The users table with two slots: record 1 live, record 2 deleted.
  Bytes UsersImage(bool encrypted) {
    TNewTable table;
    table.encrypted = encrypted;
    table.password = "pw";
    table.fields = {Field(1, "No", kFieldInt32), Field(2, "Nom", kFieldString, 10),
                    Field(3, "Quand", kFieldDate), Field(4, "Lu", kFieldBoolean)};
    table.fields[0].sub_type = kSubTypeAutoIncrement;
    table.fields[1].default_value = "x";
    TDataFile t;
    t.SetFileName(dir_.File("Users"));
    t.SetExclusive(true);
    t.SetupNewTable(table);
    Bytes image = mirvel_test::ReadFileBytes(dir_.File("Users.DAT"));
    Bytes live(9 + 12 + 5 + 3, 0);  // record size 29
    live[1] = 1;
    live[5] = 42;
    live[9] = 1;
    std::memcpy(&live[10], "Dupont", 6);
    live[21] = 1;
    cl::PutU32LE(&live[22], 730120);  // 2000-01-01
    Bytes deleted(29, 0);
    deleted[0] = 1;
    for (Bytes* r : {&live, &deleted}) {
      if (encrypted) EncipherBuffer(r->data(), r->size(), kDataKeyA, kDataKeyB);
      image.insert(image.end(), r->begin(), r->end());
    }
    cl::PutU32LE(&image[13], 3);
    return image;
  }

  mirvel_test::TempDirectory dir_{"datdump"};
};

TEST_F(DataFileDumpTest, HeaderFieldsAndRecords) {
  for (bool encrypted : {false, true}) {
    std::ostringstream out;
    EXPECT_TRUE(DumpDataFile(UsersImage(encrypted), out));
    const std::string text = out.str();
    EXPECT_NE(text.find("  next record number  3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  record size         29\n"), std::string::npos);
    EXPECT_NE(
        text.find(encrypted ? "  password            \"pw\"\n" : "  encrypted           no\n"),
        std::string::npos);
    EXPECT_NE(text.find("  1 \"No\" int32(6) auto-increment size 0 decimals 0 stored 4 at 5\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  2 \"Nom\" string(1) size 10 decimals 0 stored 11 at 9 default \"x\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("  1 sequence 42 No=42 Nom=\"Dupont\" Quand=1/1/2000 Lu=NULL\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  2 deleted, next 0\n"), std::string::npos);
  }
}

TEST_F(DataFileDumpTest, DamageIsReportedAndNeverFollowed) {
  const Bytes good = UsersImage(false);
  Bytes partial = good;
  partial.resize(partial.size() - 3);
  std::ostringstream out;
  EXPECT_FALSE(DumpDataFile(partial, out));
  EXPECT_NE(out.str().find("damage: a partial record of 26 bytes at the end"), std::string::npos);
  Bytes shifted = good;
  shifted[127 + 768 + 90] = 10;  // the second field's offset
  out.str("");
  EXPECT_FALSE(DumpDataFile(shifted, out));
  EXPECT_NE(out.str().find("damage: field numbers"), std::string::npos);
  EXPECT_EQ(out.str().find("records"), std::string::npos);

  std::mt19937 rng(5);
  for (int round = 0; round < 3000; ++round) {
    Bytes image = good;
    for (int c = 0; c < 3; ++c) image[rng() % image.size()] = static_cast<uint8_t>(rng());
    if (rng() % 8 == 0) image.resize(rng() % image.size());
    std::ostringstream sink;
    const bool sound = DumpDataFile(image, sink);
    EXPECT_EQ(sound, sink.str().find("damage:") == std::string::npos);
  }
}

}  // namespace
}  // namespace tessera
