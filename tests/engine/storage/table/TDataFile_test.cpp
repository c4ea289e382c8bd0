#include "engine/storage/table/TDataFile.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/DateTime.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TableCreation.h"
#include "platform/FaultyFile.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/LockHelperClient.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace tessera {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using mirvel_test::ReadFileBytes;
using mirvel_test::WriteFileBytes;

using testing::EngineCode;
using testing::Field;
using testing::Index;

// The users table of the application: a number and a network name.
TNewTable UsersTable() {
  TNewTable t;
  t.description = "Utilisateurs";
  t.creator_a = 7;
  t.creator_b = 9;
  TFieldDefinition nom = Field(2, "NomReseau", kFieldString, 50);
  nom.required = true;
  nom.minimum = "A";
  nom.maximum = "zz";
  nom.default_value = "Anonyme";
  t.fields = {Field(1, "NoUtilisateur", kFieldInt32), nom};
  t.indexes = {Index("", {1}, true)};
  return t;
}

// One field of every type, an auto-increment number and a memo.
TNewTable EveryTypeTable() {
  TNewTable t;
  t.fields = {Field(1, "No", kFieldInt32),      Field(2, "S", kFieldString, 20),
              Field(3, "D", kFieldDate),        Field(4, "Memo", kFieldBlob),
              Field(5, "L", kFieldBoolean),     Field(6, "I", kFieldInt16),
              Field(7, "J", kFieldInt32),       Field(8, "F", kFieldFloat),
              Field(9, "M", kFieldMoney),       Field(10, "Y", kFieldBytes, 6),
              Field(11, "T", kFieldTime),       Field(12, "TS", kFieldTimeStamp),
              Field(13, "W", kFieldWord),       Field(14, "X4", kFieldFourBytes),
              Field(15, "X10", kFieldTenBytes), Field(16, "X", kFieldSized, 3)};
  t.fields[0].sub_type = kSubTypeAutoIncrement;
  t.fields[8].decimals = 2;
  t.fields[2].default_value = "DATE";
  t.fields[11].default_value = "NOW";
  t.indexes = {Index("", {1}, true), Index("ParNom", {2}, false)};
  t.blob_block_size = 1024;
  return t;
}

// The table cipher written out from its rule, for the data key pair.
Bytes DataCipher(Bytes bytes) {
  uint8_t a = 0xA7, b = 0x3C;
  for (auto& x : bytes) {
    x = static_cast<uint8_t>(x ^ a ^ b);
    ++a;
    --b;
  }
  return bytes;
}

class TDataFileTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }

  std::string Table(const std::string& name) const { return dir_.File(name); }

  size_t FileCount() const {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()));
  }

  void Create(const std::string& name, TNewTable table, bool in_memory = false) {
    TDataFile t;
    t.SetInMemory(in_memory);
    t.SetFileName(Table(name));
    t.SetExclusive(true);
    t.SetupNewTable(std::move(table));
    ASSERT_FALSE(t.IsOpen());
  }

  static void OpenOn(TDataFile& t, const std::string& path, bool exclusive,
                     bool read_only = false) {
    t.SetFileName(path);
    t.SetExclusive(exclusive);
    t.SetReadOnly(read_only);
    t.Open();
  }

  mirvel_test::TempDirectory dir_{"datafile"};
};

TEST_F(TDataFileTest, FileNamesOfATable) {
  TDataFile t;
  EXPECT_EQ(t.MakeFileName("x.txt"), "x.DAT");
  EXPECT_EQ(t.MakeFileName("x"), "x.DAT");
  EXPECT_EQ(t.MakeFileName("x.dat"), "x.DAT");
  EXPECT_EQ(t.MakeFileName("  dir.v2/x  "), "dir.v2/x.DAT");
  EXPECT_EQ(t.MakeFileName("dir.v2/x.y.z"), "dir.v2/x.y.DAT");
  t.SetFileName(Table("Users.dat"));
  EXPECT_EQ(t.FileName(), Table("Users.DAT"));
}

TEST_F(TDataFileTest, NewTableBytesFollowTheOffsetTables) {
  const double before = cl::Now() - 693594.0;
  Create("Users", UsersTable());
  const double after = cl::Now() - 693594.0;

  const Bytes file = ReadFileBytes(Table("Users.DAT"));
  ASSERT_EQ(file.size(), 1663u);  // 127 + 2 x 768, no records
  Bytes header(127, 0);
  header[0] = 1;                           // written once
  header[5] = 2;                           // block size 512
  header[8] = 3;                           // version
  header[13] = 1;                          // next record number
  header[21] = 66;                         // record size
  header[23] = 2;                          // field count
  std::memcpy(&header[27], &file[27], 8);  // the update stamp, checked below
  header[35] = 12;
  std::memcpy(&header[36], "Utilisateurs", 12);
  header[107] = 7;  // creator values
  header[109] = 9;
  header[113] = 1;  // written as changed
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 127), header);
  const double stamp = cl::GetF64LE(&file[27]);
  EXPECT_GE(stamp, before - 1e-6);
  EXPECT_LE(stamp, after + 1e-6);

  Bytes first(768, 0);
  first[0] = 1;
  first[2] = 13;
  std::memcpy(&first[3], "NoUtilisateur", 13);
  first[84] = 6;
  first[88] = 4;
  first[90] = 9;
  Bytes second(768, 0);
  second[0] = 2;
  second[2] = 9;
  std::memcpy(&second[3], "NomReseau", 9);
  second[84] = 1;
  second[86] = 50;
  second[88] = 51;
  second[90] = 14;
  second[92] = 1;
  second[94] = 1;
  second[95] = 'A';
  second[145] = 2;
  std::memcpy(&second[146], "zz", 2);
  second[196] = 7;
  std::memcpy(&second[197], "Anonyme", 7);
  EXPECT_EQ(Bytes(file.begin() + 127, file.begin() + 895), first);
  EXPECT_EQ(Bytes(file.begin() + 895, file.end()), second);

  // The index file beside it holds only its header; no blob file without blob fields.
  EXPECT_EQ(fs::file_size(Table("Users.IDX")), 4096u);
  EXPECT_FALSE(fs::exists(Table("Users.BLB")));
  EXPECT_EQ(FileCount(), 2u);
}

TEST_F(TDataFileTest, OpenGivesDefinitionsSizesAndNames) {
  Create("Users", UsersTable());
  TDataFile t;
  OpenOn(t, Table("Users"), false);
  EXPECT_TRUE(t.IndexFile().IsOpen());
  EXPECT_EQ(t.IndexFile().FileName(), Table("Users.IDX"));
  EXPECT_EQ(t.BlobFile(), nullptr);
  EXPECT_EQ(t.GetFieldCount(), 2);
  EXPECT_EQ(t.GetFieldsInUse(), 2);
  EXPECT_EQ(t.GetRecordSize(), 66);
  EXPECT_EQ(t.GetRecordBufferSize(), 66);
  EXPECT_EQ(t.GetBlobBlockSize(), 512);
  EXPECT_EQ(t.PerReadMaximum(), 496u);
  EXPECT_EQ(t.RecordCacheCapacity(), 1985u);
  EXPECT_EQ(t.GetFieldDefinition(TFieldSet::kTable, 2).name, "NomReseau");
  EXPECT_EQ(t.GetFieldDefinition(TFieldSet::kWorking, 2).offset, 14);
  EXPECT_EQ(t.FindFieldDefinition(TFieldSet::kTable, "nomreseau").number, 2);
  EXPECT_EQ(EngineCode([&] { t.GetFieldDefinition(TFieldSet::kTable, 0); }), kErrInvalidField);
  EXPECT_EQ(GetEngineSession()->ErrorField(), "0");
  EXPECT_EQ(EngineCode([&] { t.GetFieldDefinition(TFieldSet::kWorking, 3); }), kErrInvalidField);
  EXPECT_EQ(EngineCode([&] { t.FindFieldDefinition(TFieldSet::kTable, "Nom"); }), kErrInvalidField);
  EXPECT_EQ(GetEngineSession()->ErrorField(), "Nom");

  // A new record: defaults, then the rules of the table's own set.
  Bytes record(t.GetRecordBufferSize(), 0xCC);
  t.ApplyFieldDefaults(record.data());
  Bytes name(51);
  EXPECT_FALSE(t.GetFieldValue(TFieldSet::kTable, 2, name.data(), record.data()));
  EXPECT_STREQ(reinterpret_cast<const char*>(name.data()), "Anonyme");
  EXPECT_TRUE(t.GetFieldValue(TFieldSet::kTable, 1, nullptr, record.data()));
  EXPECT_EQ(EngineCode([&] { t.ValidateRecord(record.data()); }), 0);
  t.PutFieldValue(TFieldSet::kTable, 2, false, nullptr, record.data());
  EXPECT_EQ(EngineCode([&] { t.ValidateRecord(record.data()); }), kErrRequiredField);
  std::memcpy(name.data(), "zzz", 4);
  t.PutFieldValue(TFieldSet::kTable, 2, false, name.data(), record.data());
  EXPECT_EQ(EngineCode([&] { t.ValidateRecord(record.data()); }), kErrAboveMaximum);
  t.Close();
  EXPECT_FALSE(t.IndexFile().IsOpen());
}

TEST_F(TDataFileTest, EncryptedTablesKeepTheHeaderPlainAndAskForTheirPassword) {
  TNewTable table = EveryTypeTable();
  table.encrypted = true;
  table.password = " Secret ";
  table.description = "Notes";
  Create("Crypt", table);
  EXPECT_FALSE(GetEngineSession()->HasPassword("Secret"));  // added only during creation

  const Bytes file = ReadFileBytes(Table("Crypt.DAT"));
  ASSERT_EQ(file.size(), 127u + 16 * 768);
  EXPECT_EQ(file[8], 3);
  EXPECT_EQ(file[86], 1);
  EXPECT_EQ(file[87], 6);  // the password, trimmed; its characters enciphered
  EXPECT_NE(std::memcmp(&file[88], "Secret", 6), 0);
  EXPECT_EQ(file[35], 5);
  EXPECT_NE(std::memcmp(&file[36], "Notes", 5), 0);
  EXPECT_EQ(fs::file_size(Table("Crypt.BLB")), 512u);
  // The definitions are one enciphered block: deciphered, the first one reads in plain.
  const Bytes block = DataCipher(Bytes(file.begin() + 127, file.end()));
  EXPECT_EQ(block[0], 1);
  EXPECT_EQ(block[2], 2);
  EXPECT_EQ(std::memcmp(&block[3], "No", 2), 0);
  EXPECT_EQ(block[84], 6);
  EXPECT_EQ(block[85], 29);
  EXPECT_EQ(block[90], 5);  // the auto-increment field at +5
  EXPECT_EQ(block[768 + 84], 1);
  EXPECT_EQ(block[768 + 86], 20);

  TDataFile t;
  t.SetFileName(Table("Crypt"));
  EXPECT_EQ(EngineCode([&] { t.Open(); }), kErrPasswordRequired);
  EXPECT_FALSE(t.IsOpen());
  EXPECT_FALSE(t.IndexFile().IsOpen());

  // An event that claims to have supplied a password but did not is asked once, not for ever.
  int asked = 0;
  t.SetPasswordEvent([&] { return ++asked < 100; });
  EXPECT_EQ(EngineCode([&] { t.Open(); }), kErrPasswordRequired);
  EXPECT_EQ(asked, 1);
  // Wrong passwords are asked again until the event gives up; the right one opens.
  std::vector<std::string> answers = {"secret", "Secret!", "Secret"};
  asked = 0;
  t.SetPasswordEvent([&] {
    GetEngineSession()->AddPassword(answers[asked++]);
    return true;
  });
  t.Open();
  EXPECT_EQ(asked, 3);
  EXPECT_TRUE(t.Encrypted());
  EXPECT_EQ(t.Header().Password(), "Secret");
  EXPECT_EQ(t.Header().Description(), "Notes");
  EXPECT_EQ(t.GetFieldDefinition(TFieldSet::kTable, 4).name, "Memo");
  EXPECT_EQ(t.GetRecordSize(),
            9 + (21 + 1) + 5 + 5 + 3 + 3 + 5 + 9 + 9 + 7 + 5 + 9 + 3 + 5 + 11 + 4);
  ASSERT_NE(t.BlobFile(), nullptr);
  EXPECT_EQ(t.GetBlobBlockSize(), 1024);
  EXPECT_EQ(t.BlobFile()->BlockSize(), 1024u);
  t.Close();
}

TEST_F(TDataFileTest, CreationErrorsComeInOrderAndLeaveNoFiles) {
  struct Case {
    const char* what;
    std::function<void(TNewTable&)> change;
    uint16_t code;
  };
  auto many_blobs = [](TNewTable& t) {
    t.fields.clear();
    for (uint16_t i = 1; i <= 33; ++i) {
      t.fields.push_back(Field(i, ("B" + std::to_string(i)).c_str(), kFieldBlob));
    }
    t.indexes.clear();
  };
  const Case cases[] = {
      {"empty password", [](TNewTable& t) { t.encrypted = true, t.password = "  "; },
       kErrInvalidPassword},
      {"16 characters", [](TNewTable& t) { t.encrypted = true, t.password = "0123456789abcdef"; },
       kErrInvalidPassword},
      {"language", [](TNewTable& t) { t.language = 0x7777; }, kErrLanguageDriverMissing},
      {"1025 fields",
       [](TNewTable& t) {
         t.fields.clear();
         for (uint16_t i = 1; i <= 1025; ++i) {
           t.fields.push_back(Field(i, ("F" + std::to_string(i)).c_str(), kFieldWord));
         }
       },
       kErrFieldLimits},
      {"33 indexes", [](TNewTable& t) { t.indexes.resize(33, Index("X", {1}, false)); },
       kErrIndexLimits},
      {"block size", [](TNewTable& t) { t.blob_block_size = 63; }, kErrInvalidBlobBlockSize},
      {"leading digit", [](TNewTable& t) { t.fields[1].name = "2Nom"; }, kErrInvalidFieldName},
      {"empty name", [](TNewTable& t) { t.fields[1].name = "   "; }, kErrInvalidFieldName},
      {"same name", [](TNewTable& t) { t.fields[1].name = "noutilisateur"; }, kErrInvalidFieldName},
      {"number", [](TNewTable& t) { std::swap(t.fields[0].number, t.fields[1].number); },
       kErrInvalidFieldDefinition},
      {"type 0", [](TNewTable& t) { t.fields[0].type = 0; }, kErrInvalidFieldDefinition},
      {"type 16", [](TNewTable& t) { t.fields[0].type = 16; }, kErrInvalidFieldDefinition},
      {"size 251", [](TNewTable& t) { t.fields[1].size = 251; }, kErrInvalidFieldDefinition},
      {"decimals", [](TNewTable& t) { t.fields[0].type = kFieldMoney, t.fields[0].decimals = 10; },
       kErrInvalidFieldDefinition},
      {"default", [](TNewTable& t) { t.fields[0].default_value = "un"; }, kErrInvalidValidityCheck},
      {"minimum", [](TNewTable& t) { t.fields[0].minimum = "NOW"; }, kErrInvalidValidityCheck},
      {"key field", [](TNewTable& t) { t.indexes.push_back(Index("ParX", {3}, false)); },
       kErrInvalidIndexField},
      {"17 key fields",
       [](TNewTable& t) {
         t.indexes.push_back(Index("Big", {1}, false));
         t.indexes.back().field_count = 17;
       },
       kErrIndexLimits},
      {"key length",
       [](TNewTable& t) {
         for (uint16_t i = 3; i <= 7; ++i) {
           t.fields.push_back(Field(i, ("S" + std::to_string(i)).c_str(), kFieldString, 250));
         }
         t.indexes.push_back(Index("Long", {3, 4, 5, 6}, true));  // 4 x 252 + 4 fits
         t.indexes.push_back(Index("Longer", {3, 4, 5, 6, 7}, true));
       },
       kErrInvalidKeySize},
      {"index name", [](TNewTable& t) { t.indexes.push_back(Index("1Nom", {2}, false)); },
       kErrInvalidIndexName},
      {"same index",
       [](TNewTable& t) {
         t.indexes.push_back(Index("ParNom", {2}, false));
         t.indexes.push_back(Index("PARNOM", {1}, false));
       },
       kErrIndexExists},
      {"33 blob fields", many_blobs, kErrInvalidBlobBlockSize},
      {"record buffer",
       [](TNewTable& t) {
         t.indexes.clear();
         t.fields.clear();
         for (uint16_t i = 1; i <= 261; ++i) {
           t.fields.push_back(Field(i, ("S" + std::to_string(i)).c_str(), kFieldString, 250));
         }
       },
       kErrRecordSizeExceeded},
  };
  for (const Case& c : cases) {
    TNewTable table = UsersTable();
    c.change(table);
    TDataFile t;
    t.SetFileName(Table("New"));
    t.SetExclusive(true);
    EXPECT_EQ(EngineCode([&] { t.SetupNewTable(table); }), c.code) << c.what;
    EXPECT_EQ(FileCount(), 0u) << c.what;
  }
  // 260 strings of 250 fill 9 + 260 x 252 = 65529 bytes: the largest table still allowed.
  TNewTable largest;
  for (uint16_t i = 1; i <= 260; ++i) {
    largest.fields.push_back(Field(i, ("S" + std::to_string(i)).c_str(), kFieldString, 250));
  }
  Create("Largest", largest);
  TDataFile t;
  t.SetFileName(Table("New"));
  EXPECT_EQ(EngineCode([&] { t.SetupNewTable(UsersTable()); }), kErrNeedExclusive);
  t.SetExclusive(true);
  t.SetReadOnly(true);
  EXPECT_EQ(EngineCode([&] { t.SetupNewTable(UsersTable()); }), kErrAccessDenied);
}

// Damage at a named offset of a good file, then open it.
struct Damage {
  const char* what;
  size_t offset;
  std::vector<uint8_t> bytes;  // written at the offset; empty: append a partial record
  uint16_t code;
};

TEST_F(TDataFileTest, DamagedHeadersAndDefinitionsGiveEngineErrors) {
  Create("Users", UsersTable());
  const Bytes good = ReadFileBytes(Table("Users.DAT"));
  const size_t second = 127 + 768;
  const Damage damages[] = {
      {"version", 8, {2}, kErrWrongVersion},
      {"record size 0", 21, {0, 0}, kErrHeaderCorrupt},
      {"record size 67", 21, {67, 0}, kErrHeaderCorrupt},
      {"1025 fields", 23, {0x01, 0x04}, kErrHeaderCorrupt},
      {"3 fields", 23, {3, 0}, kErrReadFailure},  // the third definition lies past the end
      {"1 field", 23, {1, 0}, kErrHeaderCorrupt},
      {"blob fields", 25, {1, 0}, kErrHeaderCorrupt},
      {"block size", 4, {63, 0, 0, 0}, kErrHeaderCorrupt},
      {"next record", 13, {2, 0, 0, 0}, kErrHeaderCorrupt},
      {"computed area", 111, {52, 0}, kErrHeaderCorrupt},
      {"language", 103, {0x77, 0x77}, kErrLanguageDriverMissing},
      {"encrypted", 86, {1}, kErrPasswordRequired},
      {"field number", 127, {2, 0}, kErrHeaderCorrupt},
      {"field offset", second + 90, {15, 0}, kErrHeaderCorrupt},
      {"field type", second + 84, {6}, kErrHeaderCorrupt},
      {"declared size", second + 86, {251}, kErrHeaderCorrupt},
      {"partial record", 0, {}, kErrHeaderCorrupt},
  };
  for (const Damage& d : damages) {
    Bytes image = good;
    if (d.bytes.empty()) {
      image.resize(image.size() + 65);
    } else {
      std::copy(d.bytes.begin(), d.bytes.end(), image.begin() + static_cast<ptrdiff_t>(d.offset));
    }
    WriteFileBytes(Table("Users.DAT"), image);
    TDataFile t;
    t.SetFileName(Table("Users"));
    EXPECT_EQ(EngineCode([&] { t.Open(); }), d.code) << d.what;
    EXPECT_FALSE(t.IsOpen()) << d.what;
    EXPECT_FALSE(t.IndexFile().IsOpen()) << d.what;
  }
  // A stored block size of 0 reads as 512; a whole record is welcome once the header counts it.
  Bytes image = good;
  image[4] = image[5] = 0;
  image[13] = 2;
  image.resize(image.size() + 66);
  WriteFileBytes(Table("Users.DAT"), image);
  TDataFile t;
  OpenOn(t, Table("Users"), false);
  EXPECT_EQ(t.GetBlobBlockSize(), 512);
}

// Replaces an in-memory file's bytes.
void StoreInMemory(const std::string& file_name, const Bytes& bytes) {
  TFileHandler file;
  file.SetInMemory(true);
  file.SetExclusive(true);
  file.SetFileName(file_name);
  file.CreateNew();
  if (!bytes.empty()) file.WriteAt(0, bytes.data(), static_cast<int32_t>(bytes.size()));
  file.Close();
}

Bytes InMemoryContent(const std::string& file_name) {
  TFileHandler file;
  file.SetInMemory(true);
  file.SetFileName(file_name);
  file.Open();
  Bytes bytes(static_cast<size_t>(file.Size()));
  file.ReadAt(0, bytes.data(), static_cast<int32_t>(bytes.size()));
  file.Close();
  return bytes;
}

TEST_F(TDataFileTest, MutatedImagesOnlyEverGiveEngineErrors) {
  // In memory, so that thousands of images cost no disk writes; the open path is the same.
  TNewTable crypt = EveryTypeTable();
  crypt.encrypted = true;
  crypt.password = "pw";
  Create("Crypt", crypt, /*in_memory=*/true);
  Create("Plain", EveryTypeTable(), /*in_memory=*/true);
  GetEngineSession()->AddPassword("pw");
  std::mt19937 rng(2024);
  int opened = 0;
  for (const char* name : {"Plain", "Crypt"}) {
    const std::string dat = Table(std::string(name) + ".DAT");
    const Bytes good = InMemoryContent(dat);
    for (int round = 0; round < 2500; ++round) {
      Bytes image = good;
      const int changes = 1 + static_cast<int>(rng() % 4);
      for (int c = 0; c < changes; ++c) {
        // Mostly the header and the meaningful bytes of the definitions.
        size_t at = rng() % image.size();
        if (rng() % 10 < 5) {
          at = rng() % 127;
        } else if (rng() % 10 < 8) {
          const size_t field = rng() % 16;
          size_t within = rng() % (33 + 9 + 154);
          within = within < 33 ? within : within < 42 ? 84 + within - 33 : 94 + within - 42;
          at = 127 + field * 768 + within;
        }
        image[at] = static_cast<uint8_t>(rng() % 3 == 0 ? image[at] ^ (1u << (rng() % 8)) : rng());
      }
      if (rng() % 10 == 0) image.resize(rng() % image.size());
      StoreInMemory(dat, image);
      TDataFile t;
      t.SetInMemory(true);
      t.SetFileName(Table(name));
      try {
        t.Open();
        ++opened;
        // Whatever opened must be usable: defaults and checks stay inside the record buffer.
        Bytes record(t.GetRecordBufferSize());
        try {
          t.ApplyFieldDefaults(record.data());
          t.ValidateRecord(record.data());
        } catch (const ETesseraEngineError&) {
        }
        t.Close();
      } catch (const ETesseraEngineError&) {
        EXPECT_FALSE(t.IsOpen());
      }
    }
  }
  // Both outcomes occur: a file is not simply refused whatever its bytes.
  EXPECT_GT(opened, 100);
  EXPECT_LT(opened, 4000);
}

TEST_F(TDataFileTest, HeaderWritesCountAndStamp) {
  Create("Users", UsersTable());
  TDataFile t;
  OpenOn(t, Table("Users"), true);
  const Bytes on_disk = ReadFileBytes(Table("Users.DAT"));
  t.WriteHeader(false);  // nothing changed: nothing written
  EXPECT_EQ(ReadFileBytes(Table("Users.DAT")), on_disk);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  t.WriteHeader(true);
  t.CommitTransaction(false, false, false);  // what an exclusive handle wrote reaches the file
  const Bytes forced = ReadFileBytes(Table("Users.DAT"));
  EXPECT_EQ(cl::GetU32LE(forced.data()), cl::GetU32LE(on_disk.data()) + 1);
  EXPECT_NE(cl::GetF64LE(&forced[27]), cl::GetF64LE(&on_disk[27]));
  EXPECT_EQ(forced[113], 0);  // forced without a change: written as unchanged
  EXPECT_TRUE(std::equal(forced.begin() + 35, forced.begin() + 113, on_disk.begin() + 35));
  EXPECT_TRUE(std::equal(forced.begin() + 114, forced.end(), on_disk.begin() + 114));
  t.Close();
}

TEST_F(TDataFileTest, EmptyingResetsTheCountersAndCutsTheFiles) {
  Create("Memo", EveryTypeTable());
  // Two records as another writer left them: slots on disk, counted by the header.
  Bytes image = ReadFileBytes(Table("Memo.DAT"));
  const size_t data_start = image.size();
  image.resize(data_start + 2 * 114, 0x11);
  cl::PutU32LE(&image[13], 3);  // next record number
  cl::PutU32LE(&image[17], 2);  // last auto-increment
  cl::PutU32LE(&image[9], 2);   // deleted chain
  WriteFileBytes(Table("Memo.DAT"), image);
  const uint32_t index_counter = cl::GetU32LE(ReadFileBytes(Table("Memo.IDX")).data());

  TDataFile t;
  OpenOn(t, Table("Memo"), true);
  EXPECT_EQ(t.PhysicalRecordCount(), 2u);
  t.EmptyTable();
  EXPECT_EQ(t.PhysicalRecordCount(), 0u);
  t.Close();
  const Bytes emptied = ReadFileBytes(Table("Memo.DAT"));
  ASSERT_EQ(emptied.size(), data_start);
  EXPECT_EQ(cl::GetU32LE(&emptied[0]), 1u);  // reset to 0, then written once
  EXPECT_EQ(cl::GetU32LE(&emptied[9]), 0u);
  EXPECT_EQ(cl::GetU32LE(&emptied[13]), 1u);
  EXPECT_EQ(cl::GetU32LE(&emptied[17]), 0u);
  const Bytes index = ReadFileBytes(Table("Memo.IDX"));
  EXPECT_EQ(index.size(), 4096u);
  EXPECT_EQ(cl::GetU32LE(index.data()), index_counter + 1);
  EXPECT_EQ(fs::file_size(Table("Memo.BLB")), 512u);
  OpenOn(t, Table("Memo"), false);  // and the result opens
}

TEST_F(TDataFileTest, ReadOnlyFilesOpenReadOnlyWithoutLocks) {
  Create("Memo", EveryTypeTable());
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    fs::permissions(Table(std::string("Memo") + ext),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  const Bytes before = ReadFileBytes(Table("Memo.DAT"));
  TDataFile t;
  OpenOn(t, Table("Memo"), false);
  EXPECT_TRUE(t.ReadOnly());
  EXPECT_TRUE(t.ReadOnlyAttribute());
  EXPECT_TRUE(t.IndexFile().ReadOnly());
  ASSERT_NE(t.BlobFile(), nullptr);
  EXPECT_TRUE(t.BlobFile()->ReadOnly());
  t.MarkHeaderChanged();
  t.Close();  // a read-only table writes nothing
  EXPECT_EQ(ReadFileBytes(Table("Memo.DAT")), before);
}

TEST_F(TDataFileTest, ATableCreatedWithAComputedFieldReopens) {
  TNewTable table = UsersTable();
  table.fields.push_back(Field(3, "Calc", kFieldInt32));
  table.fields.back().computed = true;
  Create("Calc", table);
  EXPECT_EQ(cl::GetU16LE(&ReadFileBytes(Table("Calc.DAT"))[111]), 5);
  TDataFile t;
  OpenOn(t, Table("Calc"), false);
  EXPECT_EQ(t.GetRecordSize(), 66);
  EXPECT_EQ(t.GetRecordBufferSize(), 71);
  EXPECT_EQ(t.GetFieldDefinition(TFieldSet::kTable, 3).offset, 66);
  EXPECT_TRUE(t.HasComputedFields());
}

TEST_F(TDataFileTest, DeleteOnCloseAndDeletingTheFiles) {
  Create("Memo", EveryTypeTable());
  EXPECT_EQ(FileCount(), 3u);
  TDataFile t;
  OpenOn(t, Table("Memo"), false);
  EXPECT_EQ(EngineCode([&] { t.SetDeleteOnClose(true); }), kErrFileInUse);
  t.Close();
  t.SetDeleteOnClose(true);
  t.Open();
  t.Close();
  EXPECT_EQ(FileCount(), 0u);

  Create("Users", UsersTable());
  TDataFile u;
  u.SetFileName(Table("Users"));
  u.DeleteTableFiles();
  EXPECT_EQ(FileCount(), 0u);
  EXPECT_EQ(EngineCode([&] { u.DeleteTableFiles(); }), kErrCannotDelete);
}

TEST_F(TDataFileTest, InMemoryTablesLiveInTheSession) {
  Create("Temp", EveryTypeTable(), /*in_memory=*/true);
  EXPECT_EQ(FileCount(), 0u);
  TDataFile t;
  t.SetInMemory(true);
  OpenOn(t, Table("Temp"), false);
  EXPECT_EQ(t.GetFieldCount(), 16);
  ASSERT_NE(t.BlobFile(), nullptr);
  EXPECT_TRUE(t.BlobFile()->InMemory());
  EXPECT_TRUE(t.IndexFile().InMemory());
  EXPECT_EQ(t.Size(), 127 + 16 * 768);
  t.Close();
  t.SetDeleteOnClose(true);
  t.Open();
  t.Close();
  EXPECT_FALSE(t.Exists());
  EXPECT_EQ(GetEngineSession()->MemoryFiles().Count(), 0);
}

TEST_F(TDataFileTest, SharingBetweenHandles) {
  // Share modes and locks belong to each open handle, so two handles of one process meet each
  // other exactly as two workstations do.
  Create("Users", UsersTable());
  const Bytes dat = ReadFileBytes(Table("Users.DAT"));
  const Bytes idx = ReadFileBytes(Table("Users.IDX"));
  TDataFile first;
  OpenOn(first, Table("Users"), false);
  TDataFile second;
  second.SetFileName(Table("Users"));
  second.SetExclusive(true);
  EXPECT_EQ(EngineCode([&] { second.Open(); }), kErrAccessDenied);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(EngineCode([&] { second.SetupNewTable(EveryTypeTable()); }), kErrAccessDenied);
  EXPECT_EQ(ReadFileBytes(Table("Users.DAT")), dat);
  EXPECT_EQ(ReadFileBytes(Table("Users.IDX")), idx);
  EXPECT_FALSE(fs::exists(Table("Users.BLB")));
  second.SetExclusive(false);
  EXPECT_EQ(EngineCode([&] { second.DeleteTableFiles(); }), kErrCannotDelete);
  EXPECT_EQ(FileCount(), 2u);
  // Emptying needs the table to itself.
  EXPECT_EQ(EngineCode([&] { first.EmptyTable(); }), kErrNeedExclusive);
  first.Close();

  OpenOn(first, Table("Users"), true);
  EXPECT_EQ(EngineCode([&] { second.Open(); }), kErrAccessDenied);
  first.Close();
  OpenOn(first, Table("Users"), true, /*read_only=*/true);
  EXPECT_EQ(EngineCode([&] { first.EmptyTable(); }), kErrAccessDenied);
}

class TDataFileProcessTest : public TDataFileTest {};

// Another workstation holding any one file of a table, or one file marked read-only: creating the
// table anew and deleting it are refused with their codes before a single byte changes.  And a
// creation that fails part-way deletes only the files it made.
TEST_F(TDataFileProcessTest, RefusedCreatesAndDeletesChangeNoFile) {
  mirvel_test::LockHelperProcess helper;
  ASSERT_TRUE(helper.Started());
  Create("Memo", EveryTypeTable());
  const std::vector<std::string> paths = {Table("Memo.DAT"), Table("Memo.IDX"), Table("Memo.BLB")};
  std::vector<Bytes> before;
  for (const std::string& path : paths) before.push_back(ReadFileBytes(path));
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (const std::string& path : paths) {
    for (const bool read_only : {false, true}) {
      const std::string what = path + (read_only ? " read-only" : " held");
      if (read_only) {
        fs::permissions(path, write, fs::perm_options::remove);
      } else {
        ASSERT_EQ(helper.Send("open 0 ro shared " + path), "ok");
      }
      TDataFile t;
      t.SetFileName(Table("Memo"));
      t.SetExclusive(true);
      EXPECT_EQ(EngineCode([&] { t.SetupNewTable(EveryTypeTable()); }), kErrAccessDenied) << what;
      EXPECT_EQ(EngineCode([&] { t.DeleteTableFiles(); }), kErrCannotDelete) << what;
      for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(ReadFileBytes(paths[i]), before[i]) << what << ": " << paths[i];
      }
      if (read_only) {
        fs::permissions(path, write, fs::perm_options::add);
      } else {
        ASSERT_EQ(helper.Send("close 0"), "ok");
      }
    }
  }
  TDataFile t;
  OpenOn(t, Table("Memo"), true);
  t.Close();

  // No New.DAT before; New.IDX cannot be made (a folder has its name); New.BLB belongs to
  // somebody else.  Only the .DAT this call made goes again.
  fs::create_directory(Table("New.IDX"));
  WriteFileBytes(Table("New.BLB"), {1, 2, 3});
  TDataFile n;
  n.SetFileName(Table("New"));
  n.SetExclusive(true);
  EXPECT_NE(EngineCode([&] { n.SetupNewTable(EveryTypeTable()); }), 0);
  EXPECT_FALSE(fs::exists(Table("New.DAT")));
  EXPECT_TRUE(fs::is_directory(Table("New.IDX")));
  EXPECT_EQ(ReadFileBytes(Table("New.BLB")), Bytes({1, 2, 3}));
}

// A workstation that appends holds the data semaphore from its first record write to its header
// write; an open that comes in between must wait for the header instead of calling the file
// corrupt.
TEST_F(TDataFileTest, OpenWaitsForAWriterBetweenRecordsAndHeader) {
  Create("Users", UsersTable());
  TDataFile writer;
  OpenOn(writer, Table("Users"), false);
  ASSERT_TRUE(writer.Lock(0x7FFFFFFF, 1, true));
  Bytes record(66, 0);
  writer.WriteAt(writer.Size(), record.data(),
                 66);  // the record is there, the header does not count it yet

  std::thread finish([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    // As the writer would: the header next, then the semaphore.
    TDataHeader header = writer.Header();
    header.SetNextRecord(2);
    writer.WriteAt(0, header.Bytes().data(), 127);
    writer.Lock(0x7FFFFFFF, 1, false);
  });
  const auto start = std::chrono::steady_clock::now();
  TDataFile reader;
  EXPECT_EQ(EngineCode([&] { OpenOn(reader, Table("Users"), false); }), 0);
  const auto waited = std::chrono::steady_clock::now() - start;
  finish.join();
  EXPECT_GE(waited, std::chrono::milliseconds(100));
  EXPECT_EQ(reader.Header().NextRecord(), 2u);
}

TEST_F(TDataFileTest, CloseReleasesTheFilesEvenWhenItsWriteFails) {
  Create("Users", UsersTable());
  TDataFile t;
  OpenOn(t, Table("Users"), true);
  t.MarkHeaderChanged();
  auto faults = std::make_shared<platform::FileFaults>();
  faults->write_limit = 10;
  t.InjectFaults(faults);
  EXPECT_EQ(EngineCode([&] { t.Close(); }), kErrWriteFailure);
  EXPECT_FALSE(t.IsOpen());
  EXPECT_FALSE(t.IndexFile().IsOpen());
  TDataFile again;
  OpenOn(again, Table("Users"), true);  // nobody holds the files any more
  EXPECT_TRUE(again.IsOpen());
}

TEST_F(TDataFileTest, WorkingDefinitionsNeverReachTheHeader) {
  Create("Users", UsersTable());
  TDataFile t;
  OpenOn(t, Table("Users"), true);
  std::vector<TFieldDefinition> working = {t.GetFieldDefinition(TFieldSet::kTable, 2),
                                           Field(2, "Calc", kFieldFloat),
                                           Field(3, "Calc2", kFieldString, 9)};
  working[0].number = 1;
  working[1].computed = working[2].computed = true;
  t.DefineFields(working);
  EXPECT_EQ(t.GetFieldsInUse(), 3);
  EXPECT_TRUE(t.HasComputedFields());
  EXPECT_EQ(t.GetRecordBufferSize(), 66 + 9 + 11);
  EXPECT_EQ(t.GetFieldDefinition(TFieldSet::kWorking, 2).offset, 66);
  EXPECT_EQ(t.GetFieldDefinition(TFieldSet::kWorking, 3).offset, 66 + 9);
  EXPECT_EQ(t.GetFieldDefinition(TFieldSet::kWorking, 1).offset,
            14);  // the stored field keeps its place
  EXPECT_EQ(t.Header().StoredComputedAreaSize(), 0);

  // Taking one of two computed fields out of use keeps the other one computed.
  t.DecFieldsInUse();
  EXPECT_TRUE(t.HasComputedFields());
  t.DecFieldsInUse();
  EXPECT_FALSE(t.HasComputedFields());
  t.IncFieldsInUse();
  t.IncFieldsInUse();
  EXPECT_EQ(EngineCode([&] { t.IncFieldsInUse(); }), kErrFieldLimits);

  // Stored fields must address the record; the buffer stays within 65535 bytes.
  std::vector<TFieldDefinition> outside = working;
  outside[0].offset = 60;
  EXPECT_EQ(EngineCode([&] { t.DefineFields(outside); }), kErrInvalidFieldDefinition);
  std::vector<TFieldDefinition> huge;
  for (uint16_t i = 1; i <= 261; ++i) {
    huge.push_back(Field(i, ("C" + std::to_string(i)).c_str(), kFieldString, 250));
    huge.back().computed = true;
  }
  EXPECT_EQ(EngineCode([&] { t.DefineFields(huge); }), kErrRecordSizeExceeded);
  t.MarkHeaderChanged();
  t.Close();  // writes the header of this exclusive table
  EXPECT_EQ(cl::GetU16LE(&ReadFileBytes(Table("Users.DAT"))[111]), 0);
  OpenOn(t, Table("Users"), false);
  EXPECT_EQ(t.GetRecordBufferSize(), 66);
}

TEST_F(TDataFileTest, BlobValuesThroughTheRecordBuffer) {
  Create("Memo", EveryTypeTable());
  TDataFile t;
  OpenOn(t, Table("Memo"), true);
  Bytes record(t.GetRecordBufferSize(), 0);
  cl::PutU32LE(&record[1], 1);  // record number 1
  const uint16_t memo = 4;
  EXPECT_EQ(t.OpenBlob(TFieldSet::kTable, 2, 0, record.data()), kErrInvalidBlobField);
  EXPECT_EQ(t.CloseBlob(TFieldSet::kTable, memo, record.data()), kErrInvalidBlobHandle);
  EXPECT_FALSE(t.IsBlobOpen(TFieldSet::kTable, memo, record.data()));
  ASSERT_EQ(t.OpenBlob(TFieldSet::kTable, memo, 0, record.data()), 0);
  EXPECT_TRUE(t.IsBlobOpen(TFieldSet::kWorking, memo, record.data()));
  EXPECT_EQ(t.OpenBlob(TFieldSet::kTable, memo, 0, record.data()), 0);  // already open
  EXPECT_TRUE(t.GetFieldValue(TFieldSet::kTable, memo, nullptr, record.data()));

  Bytes text(3000);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(t.WriteBlob(TFieldSet::kTable, memo, 3000, text.data(), 0, record.data()), 0);
  EXPECT_FALSE(t.GetFieldValue(TFieldSet::kTable, memo, nullptr, record.data()));
  int32_t size = 0;
  EXPECT_EQ(t.GetBlobSize(TFieldSet::kTable, memo, size, record.data()), 0);
  EXPECT_EQ(size, 3000);
  // Saved as the record's post saves it, then closed: the field holds the first block.
  t.BlobFile()->SaveOpenBlobs();
  Bytes stored_record = record;
  t.StoreBlobOffsets(stored_record.data());
  const uint16_t at = t.GetFieldDefinition(TFieldSet::kTable, memo).offset;
  EXPECT_EQ(stored_record[at], 1);
  EXPECT_EQ(cl::GetU32LE(&stored_record[at + 1]), 512u);
  ASSERT_EQ(t.CloseBlob(TFieldSet::kTable, memo, record.data()), 0);
  EXPECT_EQ(cl::GetU32LE(&record[at + 1]), 512u);

  ASSERT_EQ(t.OpenBlob(TFieldSet::kTable, memo, 0, record.data()), 0);
  Bytes back(3000);
  int32_t count = 0;
  EXPECT_EQ(t.ReadBlob(TFieldSet::kTable, memo, count, 3000, back.data(), 0, record.data()), 0);
  EXPECT_EQ(count, 3000);
  EXPECT_EQ(back, text);
  EXPECT_EQ(t.ReadBlob(TFieldSet::kTable, memo, count, 10, back.data(), 2995, record.data()),
            kErrEndOfBlob);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(t.TruncateBlob(TFieldSet::kTable, memo, 0, record.data()), 0);
  EXPECT_TRUE(t.GetFieldValue(TFieldSet::kTable, memo, nullptr, record.data()));
  // A handle the blob file does not know.
  cl::PutI32LE(&record[at + 1], -999);
  EXPECT_EQ(t.OpenBlob(TFieldSet::kTable, memo, 0, record.data()), kErrInvalidBlobOffset);
  EXPECT_EQ(t.WriteBlob(TFieldSet::kTable, memo, 1, text.data(), 0, record.data()),
            kErrInvalidBlobHandle);
  t.Close();
}

// An end offset past the real length of an .IDX or .BLB is damage and refused at open: trusted,
// the first new page or block would be written out there (a 512-byte .BLB grew to 2 GB, and an
// in-memory table set the 2 GB aside).  A file longer than its end offset still opens.
TEST_F(TDataFileTest, EndOffsetsPastTheFileAreRefusedAtOpen) {
  struct Case {
    const char* ext;
    size_t at;
    uint32_t unit;     // page or block size
    uint32_t far_end;  // on the grid, within the format's limit
    uint16_t code;
  };
  const Case cases[] = {
      {".IDX", kIdxEndOffset, 4096, 4096u * 488281, kErrIndexPageCorrupt},
      {".BLB", kBlbEndOffset, 1024, 512 + 1024u * 1953124, kErrBlobBufferCorrupt}};
  for (const bool in_memory : {false, true}) {
    for (const Case& c : cases) {
      const std::string file = Table(std::string("Memo") + c.ext);
      const std::string what = file + (in_memory ? " in memory" : "");
      Create("Memo", EveryTypeTable(), in_memory);
      const Bytes good = in_memory ? InMemoryContent(file) : ReadFileBytes(file);
      auto store = [&](const Bytes& bytes) {
        if (in_memory) {
          StoreInMemory(file, bytes);
        } else {
          WriteFileBytes(file, bytes);
        }
      };
      auto open_code = [&] {
        TDataFile t;
        t.SetInMemory(in_memory);
        return EngineCode([&] { OpenOn(t, Table("Memo"), true); });
      };
      const auto size = static_cast<uint32_t>(good.size());
      for (const uint32_t end : {size + c.unit, c.far_end}) {
        Bytes damaged = good;
        cl::PutU32LE(&damaged[c.at], end);
        store(damaged);
        EXPECT_EQ(open_code(), c.code) << what << " end " << end;
        if (end < 1u << 20) {
          damaged.resize(end, 0);  // the pages or blocks it counts are there after all
          store(damaged);
          EXPECT_EQ(open_code(), 0) << what << " end " << end;
        }
      }
      Bytes longer = good;
      longer.resize(good.size() + 3 * c.unit, 0);
      store(longer);
      EXPECT_EQ(open_code(), 0) << what << " longer than its end";
      if (in_memory) {
        TDataFile t;
        t.SetInMemory(true);
        t.SetFileName(Table("Memo"));
        t.DeleteTableFiles();
      }
    }
  }
}

// A read-only .IDX or .BLB beside a writable .DAT: a write open is refused (11013) and changes
// nothing; a read-only open still works.  Read-only is what the system answers for the user, so
// under root the opens run in a child process as an unprivileged user, for whom the companion
// (owned by root, mode 0644) is not writable while the .DAT (given to that user) is.
TEST_F(TDataFileTest, AReadOnlyCompanionRefusesAWriteOpen) {
  Create("Memo", EveryTypeTable());
  const std::vector<std::string> paths = {Table("Memo.DAT"), Table("Memo.IDX"), Table("Memo.BLB")};
  const struct passwd* nobody = getpwnam("nobody");
  const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
  const gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
  const bool root = geteuid() == 0;
  for (const std::string& companion : {paths[1], paths[2]}) {
    std::vector<Bytes> before;
    for (const std::string& path : paths) before.push_back(ReadFileBytes(path));
    if (root) {
      ASSERT_EQ(chmod(dir_.Path().c_str(), 0755), 0);
      for (const std::string& path : paths) {
        ASSERT_EQ(chmod(path.c_str(), 0644), 0);
        ASSERT_EQ(chown(path.c_str(), path == companion ? 0 : uid, path == companion ? 0 : gid), 0);
      }
    } else {
      ASSERT_EQ(chmod(companion.c_str(), 0444), 0);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (root && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(3);
      TDataFile t;
      t.SetFileName(Table("Memo"));
      t.SetExclusive(true);
      if (EngineCode([&] { t.Open(); }) != kErrAccessDenied || t.IsOpen()) _exit(1);
      t.SetReadOnly(true);
      if (EngineCode([&] { t.Open(); }) != 0 || !t.IndexFile().ReadOnly()) _exit(2);
      t.Close();
      _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << companion << ": child status " << status << " (1: write open not refused, 2: read-only "
        << "open failed, 3: no unprivileged user)";
    for (const std::string& path : paths) {
      ASSERT_EQ(chown(path.c_str(), geteuid(), getegid()), 0);
      ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    }
    for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(ReadFileBytes(paths[i]), before[i]);
  }
}

// A blank table name would make files named only ".DAT", ".IDX" and ".BLB", hidden in the current
// directory (or the one named): refused as an invalid file name, on disk and in memory.
TEST_F(TDataFileTest, BlankTableNamesAreRefused) {
  const std::string dir = dir_.Path();
  for (const bool in_memory : {false, true}) {
    for (const std::string& name : {std::string(), std::string("   "), dir + "/", dir + "/  \t",
                                    dir + "/.DAT", dir + "/ .txt"}) {
      TDataFile t;
      t.SetInMemory(in_memory);
      t.SetExclusive(true);
      EXPECT_EQ(EngineCode([&] { t.SetFileName(name); }), kErrInvalidPath) << "'" << name << "'";
      EXPECT_EQ(EngineCode([&] { t.SetupNewTable(UsersTable()); }), kErrInvalidPath) << name;
    }
  }
  EXPECT_EQ(FileCount(), 0u);
  EXPECT_FALSE(fs::exists(".DAT"));
  EXPECT_EQ(GetEngineSession()->MemoryFiles().Count(), 0);
  // Names with something before the extension still work.
  TDataFile t;
  EXPECT_EQ(EngineCode([&] { t.SetFileName(dir + "/ x"); }), 0);
  EXPECT_EQ(t.FileName(), dir + "/ x.DAT");
}

}  // namespace
}  // namespace tessera
