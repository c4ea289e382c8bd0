// A table's indexes from creation to use: the descriptors a new table's index file holds, byte
// for byte, and keys inserted through the index file of the reopened table, kept over closes and
// reopens and verified by the whole-file check.
#include "engine/storage/table/TableCreation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/IndexCheck.h"
#include "engine/storage/index/KeyCompare.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/values/KeyEncoding.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace tessera {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using mirvel_test::ReadFileBytes;

using testing::Field;
using testing::Index;

// Clients: a number (primary key), a name and a town.  "ParNom" is a non-unique, case-insensitive
// index with leading-byte compression; "ParVille" a unique, descending index on town and number
// with both compressions and a descending second field.
TNewTable ClientsTable() {
  TNewTable t;
  t.fields = {Field(1, "No", kFieldInt32), Field(2, "Nom", kFieldString, 20),
              Field(3, "Ville", kFieldString, 10)};
  TIndexDescriptor by_name = Index("ParNom", {2}, false);
  by_name.case_insensitive = 1;
  by_name.compression = kCompressLeading;
  TIndexDescriptor by_town = Index("ParVille", {3, 1}, true);
  by_town.descending = 1;
  by_town.compression = kCompressBoth;
  by_town.field_descending[1] = 1;
  t.indexes = {Index("", {1}, true), by_name, by_town};
  return t;
}

// The key lengths: null byte + stored size per field, + 4 for the record-number suffix.
constexpr size_t kNoKey = 1 + 4;
constexpr size_t kNameKey = 1 + 21 + 4;
constexpr size_t kTownKey = (1 + 11) + (1 + 4);

// Keys as the key builder lays them out: a null byte and the value per field; strings are their
// bytes zero-filled to the stored size.
Bytes NoKey(uint32_t no) {
  Bytes key(kNoKey, 0);
  key[0] = 1;
  EncodeInt32Key(static_cast<int32_t>(no), key.data() + 1);
  return key;
}

Bytes NameKey(const std::string& name, uint32_t sequence) {
  Bytes key(kNameKey, 0);
  key[0] = 1;
  std::memcpy(key.data() + 1, name.data(), name.size());
  EncodeInt32Key(static_cast<int32_t>(sequence), key.data() + 22);
  return key;
}

Bytes TownKey(const std::string& town, uint32_t no) {
  Bytes key(kTownKey, 0);
  key[0] = 1;
  std::memcpy(key.data() + 1, town.data(), town.size());
  key[12] = 1;
  EncodeInt32Key(static_cast<int32_t>(no), key.data() + 13);
  return key;
}

struct Client {
  std::string name;  // upper case, as a case-insensitive index stores it
  std::string town;
};

// The contents every index must have: key -> record number, in each index's own order.
struct Model {
  explicit Model(const TKeyOrder& name_order, const TKeyOrder& town_order)
      : by_name(Less{name_order, kNameKey}), by_town(Less{town_order, kTownKey}) {}
  struct Less {
    TKeyOrder order;
    size_t length;
    bool operator()(const Bytes& a, const Bytes& b) const {
      return order.Compare(a.data(), b.data(), length) < 0;
    }
  };
  void Add(uint32_t no, const Client& c) {
    by_no[NoKey(no)] = no;
    by_name[NameKey(c.name, no)] = no;
    by_town[TownKey(c.town, no)] = no;
  }
  void Remove(uint32_t no, const Client& c) {
    by_no.erase(NoKey(no));
    by_name.erase(NameKey(c.name, no));
    by_town.erase(TownKey(c.town, no));
  }
  std::map<Bytes, uint32_t> by_no;
  std::map<Bytes, uint32_t, Less> by_name;
  std::map<Bytes, uint32_t, Less> by_town;
};

class TableCreationTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }

  std::string Table(const std::string& name) const { return dir_.File(name); }

  void Create(const std::string& name, TNewTable table) {
    TDataFile t;
    t.SetFileName(Table(name));
    t.SetExclusive(true);
    t.SetupNewTable(std::move(table));
    ASSERT_FALSE(t.IsOpen());
  }

  static void OpenOn(TDataFile& t, const std::string& path, bool exclusive) {
    t.SetFileName(path);
    t.SetExclusive(exclusive);
    t.Open();
  }

  // The whole-file check over the .IDX as it lies on disk, in the open table's key orders.
  static TIndexCheckReport CheckOnDisk(TDataFile& t, const std::string& idx_path) {
    const Bytes image = ReadFileBytes(idx_path);
    EXPECT_GE(image.size(), kIndexHeaderSize);
    if (image.size() < kIndexHeaderSize) return {false, "short file", {}, 0, 0};
    Bytes header(image.begin(), image.begin() + kIndexHeaderSize);
    if (t.Encrypted()) DecipherBuffer(header.data(), header.size(), kDataKeyA, kDataKeyB);
    return CheckIndexFile(
        header.data(),
        [&image](uint32_t offset, uint8_t* page) {
          std::memset(page, 0, kIndexPageSize);
          if (offset < image.size()) {
            std::memcpy(page, image.data() + offset,
                        std::min<size_t>(kIndexPageSize, image.size() - offset));
          }
        },
        [&t](int slot, const TIndexDescriptor& d) { return TKeyOrder(t.IndexFile(), slot, d); },
        t.Encrypted());
  }

  // Walks the index selected by `name` ("" for the primary index) from its first key and
  // compares keys and record numbers with the model, then finds a few keys by their bytes.
  template <class Map>
  static void ExpectIndex(TDataFile& t, const std::string& name, const Map& model, size_t k) {
    SCOPED_TRACE("index \"" + name + "\"");
    TIndexFile& f = t.IndexFile();
    f.SelectIndexByName(name);
    ASSERT_EQ(f.CurrentIndexName(), name);
    EXPECT_EQ(f.RangeCount(), model.size());
    TIndexCursor& cursor = f.Cursor();
    cursor.First();
    Bytes key(k);
    size_t position = 0;
    for (const auto& [want_key, want_record] : model) {
      ++position;
      ASSERT_FALSE(cursor.AtEnd()) << "the index ends at position " << position;
      ASSERT_TRUE(cursor.CurrentKey(key.data()));
      ASSERT_EQ(key, want_key) << "position " << position;
      ASSERT_EQ(cursor.CurrentRecordNumber(), want_record) << "position " << position;
      cursor.MoveBy(1);
    }
    EXPECT_TRUE(cursor.AtEnd() || model.empty()) << "more keys than the model";
    position = 0;
    for (const auto& [want_key, want_record] : model) {
      if (++position % 37 != 1) continue;
      ASSERT_TRUE(f.FindKey(want_key.data(), false));
      EXPECT_EQ(cursor.CurrentPosition(), position);
      EXPECT_EQ(f.CurrentRecordNumber(), want_record);
    }
  }

  void ExpectAll(TDataFile& t, const Model& model) {
    ExpectIndex(t, "", model.by_no, kNoKey);
    ExpectIndex(t, "ParNom", model.by_name, kNameKey);
    ExpectIndex(t, "ParVille", model.by_town, kTownKey);
  }

  mirvel_test::TempDirectory dir_{"tablecreation"};
};

TEST_F(TableCreationTest, NewIndexFileHoldsTheDefinedIndexes) {
  Create("Clients", ClientsTable());
  Bytes want(kIndexHeaderSize, 0);
  want[0] = 1;      // written once
  want[8] = 3;      // version
  want[10] = 0x10;  // end offset 4096
  want[13] = 2;     // two secondary indexes
  // Slot 0 at 14: no name, key length 5, unique, one field: number 1.
  want[14 + 31] = 5;
  want[14 + 35] = 1;
  want[14 + 37] = 1;
  want[14 + 54] = 1;
  // Slot 1 at 134: "ParNom", key length 26, case-insensitive, mode 1, field 2.
  want[134] = 6;
  std::memcpy(&want[135], "ParNom", 6);
  want[134 + 31] = 26;
  want[134 + 34] = 1;
  want[134 + 36] = 1;
  want[134 + 37] = 1;
  want[134 + 54] = 2;
  // Slot 2 at 254: "ParVille", key length 17, descending, unique, mode 3, fields 3 and 1 (the
  // second descending).
  want[254] = 8;
  std::memcpy(&want[255], "ParVille", 8);
  want[254 + 31] = 17;
  want[254 + 33] = 1;
  want[254 + 35] = 1;
  want[254 + 36] = 3;
  want[254 + 37] = 2;
  want[254 + 39] = 1;
  want[254 + 54] = 3;
  want[254 + 56] = 1;
  // Slot 31 at 3734: "Sys Deleted", key length 5.
  want[3734] = 11;
  std::memcpy(&want[3735], "Sys Deleted", 11);
  want[3734 + 31] = 5;
  want[3979] = 1;  // written as changed
  EXPECT_EQ(ReadFileBytes(Table("Clients.IDX")), want);

  // Without primary key fields: byte 3978 set, slot 0 all zero, the secondary index in slot 1.
  TNewTable plain = ClientsTable();
  plain.indexes[0] = Index("", {}, false);
  plain.indexes.pop_back();
  Create("Notes", plain);
  const Bytes notes = ReadFileBytes(Table("Notes.IDX"));
  ASSERT_EQ(notes.size(), kIndexHeaderSize);
  EXPECT_EQ(notes[13], 1);
  EXPECT_EQ(notes[3978], 1);
  EXPECT_TRUE(
      std::all_of(notes.begin() + 14, notes.begin() + 134, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(notes.begin() + 134, notes.begin() + 254, want.begin() + 134));
}

// One field of every type code: an auto-increment number, a memo, money with 2 decimals and
// the date-time default keywords.
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
  t.fields[0].sub_type = 29;
  t.fields[8].decimals = 2;
  t.fields[2].default_value = "DATE";
  t.fields[11].default_value = "NOW";
  t.indexes = {Index("", {1}, true), Index("ParS", {2}, false)};
  t.blob_block_size = 1024;
  return t;
}

// The table cipher written out from its rule: each byte XOR A XOR B, then A + 1 and B - 1,
// starting from the given key pair.
Bytes Cipher(Bytes bytes, uint8_t a, uint8_t b) {
  for (auto& x : bytes) {
    x = static_cast<uint8_t>(x ^ a ^ b);
    ++a;
    --b;
  }
  return bytes;
}
Bytes DataCipher(const Bytes& bytes) { return Cipher(bytes, 0xA7, 0x3C); }
Bytes PasswordCipher(const Bytes& bytes) { return Cipher(bytes, 0x6D, 0xD2); }

TEST_F(TableCreationTest, EveryTypeTableBytesFollowTheOffsetTables) {
  // number, name, type, sub-type, declared size, decimals, stored size, null-byte offset, default
  struct Def {
    const char* name;
    uint8_t type, sub_type, size, decimals, stored;
    uint16_t offset;
    const char* default_text;
  };
  const Def defs[16] = {{"No", 6, 29, 0, 0, 4, 5, ""},    {"S", 1, 0, 20, 0, 21, 9, ""},
                        {"D", 2, 0, 0, 0, 4, 31, "DATE"}, {"Memo", 3, 0, 0, 0, 4, 36, ""},
                        {"L", 4, 0, 0, 0, 2, 41, ""},     {"I", 5, 0, 0, 0, 2, 44, ""},
                        {"J", 6, 0, 0, 0, 4, 47, ""},     {"F", 7, 0, 0, 0, 8, 52, ""},
                        {"M", 8, 0, 0, 2, 8, 61, ""},     {"Y", 9, 0, 6, 0, 6, 70, ""},
                        {"T", 10, 0, 0, 0, 4, 77, ""},    {"TS", 11, 0, 0, 0, 8, 82, "NOW"},
                        {"W", 12, 0, 0, 0, 2, 91, ""},    {"X4", 13, 0, 0, 0, 4, 94, ""},
                        {"X10", 14, 0, 0, 0, 10, 99, ""}, {"X", 15, 0, 3, 0, 3, 110, ""}};
  Bytes definitions(16 * 768, 0);
  for (int i = 0; i < 16; ++i) {
    uint8_t* d = &definitions[i * 768];
    d[0] = static_cast<uint8_t>(i + 1);
    d[2] = static_cast<uint8_t>(std::strlen(defs[i].name));
    std::memcpy(d + 3, defs[i].name, d[2]);
    d[84] = defs[i].type;
    d[85] = defs[i].sub_type;
    d[86] = defs[i].size;
    d[87] = defs[i].decimals;
    d[88] = defs[i].stored;
    d[89] = defs[i].decimals;
    d[90] = static_cast<uint8_t>(defs[i].offset);
    d[196] = static_cast<uint8_t>(std::strlen(defs[i].default_text));
    std::memcpy(d + 197, defs[i].default_text, d[196]);
  }
  // Record size 9 + the stored size + 1 of every field but the auto-increment one.
  constexpr uint8_t kRecordSize = 114;
  Bytes index(kIndexHeaderSize, 0);
  index[0] = 1;
  index[8] = 3;
  index[10] = 0x10;
  index[13] = 1;
  index[14 + 31] = 5;  // slot 0: the auto-increment number, unique
  index[14 + 35] = 1;
  index[14 + 37] = 1;
  index[14 + 54] = 1;
  index[134] = 4;  // slot 1: "ParS", key length 1 + 21 + 4
  std::memcpy(&index[135], "ParS", 4);
  index[134 + 31] = 26;
  index[134 + 37] = 1;
  index[134 + 54] = 2;
  index[3734] = 11;
  std::memcpy(&index[3735], "Sys Deleted", 11);
  index[3734 + 31] = 5;
  index[3979] = 1;
  Bytes blob(512, 0);
  blob[0] = 1;
  blob[8] = 3;
  blob[14] = 2;  // end offset 512
  blob[17] = 1;

  for (const bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    const std::string name = encrypted ? "Crypt" : "Plain";
    TNewTable table = EveryTypeTable();
    table.encrypted = encrypted;
    table.password = encrypted ? "Secret" : "";
    table.description = "Types";
    Create(name, table);
    const Bytes file = ReadFileBytes(Table(name + ".DAT"));
    ASSERT_EQ(file.size(), 127u + 16 * 768);  // the data start: no records
    Bytes header(127, 0);
    header[0] = 1;
    header[5] = 4;  // blob block size 1024
    header[8] = 3;
    header[13] = 1;
    header[21] = kRecordSize;
    header[23] = 16;
    header[25] = 1;                          // one blob field
    std::memcpy(&header[27], &file[27], 8);  // the update stamp
    Bytes description(50, 0);
    std::memcpy(description.data(), "Types", 5);
    header[35] = 5;
    const Bytes stored_description = encrypted ? PasswordCipher(description) : description;
    std::copy(stored_description.begin(), stored_description.end(), header.begin() + 36);
    if (encrypted) {
      header[86] = 1;
      Bytes password(15, 0);
      std::memcpy(password.data(), "Secret", 6);
      header[87] = 6;
      const Bytes stored_password = PasswordCipher(password);
      std::copy(stored_password.begin(), stored_password.end(), header.begin() + 88);
    }
    header[113] = 1;
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 127), header);
    EXPECT_EQ(Bytes(file.begin() + 127, file.end()),
              encrypted ? DataCipher(definitions) : definitions);
    EXPECT_EQ(ReadFileBytes(Table(name + ".IDX")), encrypted ? DataCipher(index) : index);
    EXPECT_EQ(ReadFileBytes(Table(name + ".BLB")), encrypted ? DataCipher(blob) : blob);
  }
}

TEST_F(TableCreationTest, KeysInsertedAfterReopeningSurviveAndCheck) {
  for (const bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    const std::string name = encrypted ? "Secret" : "Clients";
    TNewTable table = ClientsTable();
    table.language = 0x040C;  // string keys in the French collation
    table.encrypted = encrypted;
    table.password = encrypted ? "pw" : "";
    Create(name, table);
    if (encrypted) GetEngineSession()->AddPassword("pw");

    const char* const kNames[] = {"DUPONT", "DUPOND",  "MARTIN", "\xC9TIENNE", "LEF\xC8VRE",
                                  "DURAND", "BERNARD", "PETIT",  "ROBERT",     "RICHARD"};
    const char* const kTowns[] = {"LYON", "NANTES", "\xC9VREUX", "PARIS", "LILLE", "NICE"};
    std::mt19937 rng(encrypted ? 11 : 7);
    std::map<uint32_t, Client> clients;
    TDataFile t;
    OpenOn(t, Table(name), true);
    const TKeyOrder name_order(t.IndexFile(), 1, t.IndexFile().GetIndexDescriptor(1));
    const TKeyOrder town_order(t.IndexFile(), 2, t.IndexFile().GetIndexDescriptor(2));
    Model model(name_order, town_order);

    // Enough keys for several levels in every index; inserted in random order.
    std::vector<uint32_t> numbers(1500);
    for (uint32_t i = 0; i < numbers.size(); ++i) numbers[i] = i + 1;
    std::shuffle(numbers.begin(), numbers.end(), rng);
    TIndexFile& f = t.IndexFile();
    for (const uint32_t no : numbers) {
      const Client c{std::string(kNames[rng() % 10]) + std::to_string(rng() % 40),
                     kTowns[rng() % 6]};
      f.SelectIndex(0);
      f.CheckKeyViolation(NoKey(no).data());
      f.InsertKey(NoKey(no).data(), no);
      f.SelectIndexByName("ParNom");
      f.InsertKey(NameKey(c.name, no).data(), no);
      f.SelectIndexByName("ParVille");
      f.InsertKey(TownKey(c.town, no).data(), no);
      f.IncRecordCount();
      clients[no] = c;
      model.Add(no, c);
    }
    ExpectAll(t, model);
    t.Close();

    // Another handle, shared, sees every key; the file checks whole in the table's orders.
    OpenOn(t, Table(name), false);
    EXPECT_EQ(t.IndexFile().RecordCount(), 1500u);
    EXPECT_EQ(t.IndexFile().SecondaryCount(), 2);
    ExpectAll(t, model);
    TIndexCheckReport report = CheckOnDisk(t, Table(name + ".IDX"));
    ASSERT_TRUE(report.ok) << report.problem;
    EXPECT_EQ(report.keys[0], 1500u);
    EXPECT_EQ(report.keys[1], 1500u);
    EXPECT_EQ(report.keys[2], 1500u);
    EXPECT_GT(report.tree_pages, 12u);
    t.Close();

    // Deleting two records in three frees pages onto the chains; the rest survive a reopen.
    OpenOn(t, Table(name), true);
    for (auto it = clients.begin(); it != clients.end();) {
      const uint32_t no = it->first;
      if (no % 3 == 0) {
        ++it;
        continue;
      }
      t.IndexFile().SelectIndex(0);
      t.IndexFile().DeleteKey(NoKey(no).data(), no);
      t.IndexFile().SelectIndexByName("ParNom");
      t.IndexFile().DeleteKey(NameKey(it->second.name, no).data(), no);
      t.IndexFile().SelectIndexByName("ParVille");
      t.IndexFile().DeleteKey(TownKey(it->second.town, no).data(), no);
      t.IndexFile().DecRecordCount();
      model.Remove(no, it->second);
      it = clients.erase(it);
    }
    t.Close();
    OpenOn(t, Table(name), false);
    EXPECT_EQ(t.IndexFile().RecordCount(), 500u);
    ExpectAll(t, model);
    report = CheckOnDisk(t, Table(name + ".IDX"));
    ASSERT_TRUE(report.ok) << report.problem;
    EXPECT_EQ(report.keys[1], 500u);
    EXPECT_GT(report.free_pages, 0u);
    t.Close();

    // Emptied, the table keeps its indexes, with no keys and no pages.
    OpenOn(t, Table(name), true);
    t.EmptyTable();
    t.Close();
    EXPECT_EQ(fs::file_size(Table(name + ".IDX")), kIndexHeaderSize);
    OpenOn(t, Table(name), false);
    EXPECT_EQ(t.IndexFile().GetIndexDescriptor(2).name, "ParVille");
    ExpectAll(t, Model(name_order, town_order));
    report = CheckOnDisk(t, Table(name + ".IDX"));
    ASSERT_TRUE(report.ok) << report.problem;
    EXPECT_EQ(report.tree_pages + report.free_pages, 0u);
    t.Close();
  }
}

// An index file whose descriptor disagrees with the table's fields (a key length, a field that
// does not exist, the suffix a unique flag takes away) would get keys of another length than its
// tree holds: the table does not open.
TEST_F(TableCreationTest, IndexKeysThatDoNotFitTheFieldsAreRefusedAtOpen) {
  Create("Clients", ClientsTable());
  const std::string idx = Table("Clients.IDX");
  const Bytes good = ReadFileBytes(idx);
  struct Damage {
    const char* what;
    size_t at;
    uint8_t value;
  };
  const Damage damages[] = {{"primary key length", 14 + 31, 6},
                            {"secondary key length", 134 + 31, 30},
                            {"unique without its suffix", 134 + 35, 1},
                            {"missing field", 254 + 54, 9},
                            {"no field", 254 + 37, 0}};
  for (const Damage& d : damages) {
    Bytes bad = good;
    bad[d.at] = d.value;
    std::ofstream(idx, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bad.data()), static_cast<std::streamsize>(bad.size()));
    TDataFile t;
    t.SetFileName(Table("Clients"));
    int code = 0;
    try {
      t.Open();
    } catch (const ETesseraEngineError& e) {
      code = e.GetError(0).ErrorCode();
    }
    EXPECT_EQ(code, kErrIndexPageCorrupt) << d.what;
    EXPECT_FALSE(t.IsOpen()) << d.what;
    EXPECT_FALSE(t.IndexFile().IsOpen()) << d.what;
  }
  std::ofstream(idx, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(good.data()), static_cast<std::streamsize>(good.size()));
  TDataFile t;
  OpenOn(t, Table("Clients"), false);
  EXPECT_TRUE(t.IndexFile().IsOpen());
}

TEST_F(TableCreationTest, TableWithoutPrimaryFieldsKeepsItsSecondaryIndex) {
  TNewTable table = ClientsTable();
  table.indexes[0] = Index("", {}, false);
  table.indexes.pop_back();
  Create("Notes", table);
  TDataFile t;
  OpenOn(t, Table("Notes"), true);
  EXPECT_TRUE(t.IndexFile().NoPrimaryFields());
  EXPECT_TRUE(t.IndexFile().InRecordOrder());  // slot 0 is record-number order
  const TKeyOrder bytes = TKeyOrder::Bytes(false);
  Model model(bytes, bytes);
  t.IndexFile().SelectIndexByName("ParNom");
  for (uint32_t no = 1; no <= 400; ++no) {
    const Client c{"N" + std::to_string(no % 17), ""};
    t.IndexFile().InsertKey(NameKey(c.name, no).data(), no);
    model.by_name[NameKey(c.name, no)] = no;
  }
  t.Close();
  OpenOn(t, Table("Notes"), false);
  ExpectIndex(t, "ParNom", model.by_name, kNameKey);
  const TIndexCheckReport report = CheckOnDisk(t, Table("Notes.IDX"));
  ASSERT_TRUE(report.ok) << report.problem;
  EXPECT_EQ(report.keys[0], 0u);
  EXPECT_EQ(report.keys[1], 400u);
  t.Close();
}

}  // namespace
}  // namespace tessera
