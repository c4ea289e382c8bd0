#include "engine/storage/table/DataFileFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/engine/storage/StorageTestSupport.h"

namespace tessera {
namespace {

using Bytes = std::vector<uint8_t>;

using testing::Field;

// The stored form of the table cipher, written out from its rule: each byte XOR A XOR B, then
// A + 1 and B - 1, starting from the password key pair 0x6D, 0xD2.
Bytes PasswordCipher(const Bytes& plain) {
  Bytes out(plain);
  uint8_t a = 0x6D, b = 0xD2;
  for (auto& x : out) {
    x = static_cast<uint8_t>(x ^ a ^ b);
    ++a;
    --b;
  }
  return out;
}

TEST(DataFileFormatTest, FieldDefinitionBytesFollowTheOffsetTable) {
  TFieldDefinition d = Field(2, "NomReseau", kFieldString, 50);
  d.stored_size = 51;
  d.offset = 14;
  d.required = true;
  d.minimum = "A";
  d.maximum = "Z";
  d.default_value = "abc";

  Bytes expected(768, 0);
  expected[0] = 2;  // u16 number
  expected[2] = 9;  // name: length byte + 30 characters
  std::memcpy(&expected[3], "NomReseau", 9);
  expected[84] = 1;   // type
  expected[86] = 50;  // declared size
  expected[88] = 51;  // stored size
  expected[90] = 14;  // u16 null-byte offset
  expected[92] = 1;   // required
  expected[94] = 1;   // minimum: length byte + 50 characters
  expected[95] = 'A';
  expected[145] = 1;  // maximum
  expected[146] = 'Z';
  expected[196] = 3;  // default
  std::memcpy(&expected[197], "abc", 3);

  Bytes image(768, 0xEE);
  EncodeFieldDefinition(d, image.data());
  EXPECT_EQ(image, expected);
  EXPECT_EQ(DecodeFieldDefinition(image.data()), d);

  // The in-memory slot at +504 is written as zero and the reserved ranges never survive a decode.
  Bytes foreign = expected;
  foreign[504] = 0x78;
  foreign[300] = 0x55;
  foreign[2] = 200;  // a damaged name length is clamped to 30 characters
  const TFieldDefinition back = DecodeFieldDefinition(foreign.data());
  EXPECT_EQ(back.name.size(), 30u);
  Bytes again(768, 0);
  EncodeFieldDefinition(back, again.data());
  EXPECT_EQ(again[504], 0);
  EXPECT_EQ(again[300], 0);
}

TEST(DataFileFormatTest, StoredSizesAndOffsets) {
  // code: stored size for a declared size of 7
  const uint16_t expected[16] = {7, 8, 4, 4, 2, 2, 4, 8, 8, 7, 4, 8, 2, 4, 10, 7};
  for (uint8_t type = 0; type <= 15; ++type) {
    EXPECT_EQ(StoredFieldSize(type, 7), expected[type]) << int(type);
  }

  // The worked example: an integer and a string of 50.
  std::vector<TFieldDefinition> users = {Field(1, "NoUtilisateur", kFieldInt32),
                                         Field(2, "NomReseau", kFieldString, 50)};
  TRecordLayout layout = AssignFieldOffsets(users);
  EXPECT_EQ(users[0].offset, 9);
  EXPECT_EQ(users[1].offset, 14);
  EXPECT_EQ(layout.record_size, 66u);
  EXPECT_EQ(layout.computed_area_size, 0u);
  EXPECT_EQ(DataStart(2), 1663u);

  // Only an auto-increment field: it lives at +5 and the record is its 9 header bytes.
  std::vector<TFieldDefinition> counter = {Field(1, "No", kFieldInt32)};
  counter[0].sub_type = kSubTypeAutoIncrement;
  layout = AssignFieldOffsets(counter);
  EXPECT_EQ(counter[0].offset, 5);
  EXPECT_EQ(layout.record_size, 9u);

  // Computed fields sit after the record, in their own area; money keeps its decimals copy.
  std::vector<TFieldDefinition> mixed = {Field(1, "A", kFieldString, 250),
                                         Field(2, "C", kFieldFloat), Field(3, "M", kFieldMoney),
                                         Field(4, "D", kFieldWord)};
  mixed[1].computed = true;
  mixed[2].decimals = 2;
  mixed[3].computed = true;
  layout = AssignFieldOffsets(mixed);
  EXPECT_EQ(mixed[0].stored_size, 251);
  EXPECT_EQ(mixed[0].offset, 9);
  EXPECT_EQ(mixed[2].offset, 9 + 252);
  EXPECT_EQ(mixed[2].decimals_copy, 2);
  EXPECT_EQ(layout.record_size, 9u + 252 + 9);
  EXPECT_EQ(mixed[1].offset, 270);
  EXPECT_EQ(mixed[3].offset, 270 + 9);
  EXPECT_EQ(layout.computed_area_size, 9u + 3);
}

TEST(DataFileFormatTest, HeaderFieldsLieAtTheirOffsets) {
  TDataHeader h;
  h.SetChangeCounter(0x01020304);
  h.SetBlobBlockSize(0);
  h.SetVersion(3);
  h.SetDeletedHead(0x0A0B0C0D);
  h.SetNextRecord(0x11223344);
  h.SetLastAutoIncrement(0x55667788);
  h.SetRecordSize(0x1234);
  h.SetFieldCount(0x0102);
  h.SetBlobFieldCount(7);
  h.SetUpdateStamp(1.5);
  h.SetLanguage(0x040C);
  h.SetSort(0x0001);
  h.SetCreatorA(0xBEEF);
  h.SetCreatorB(0xCAFE);
  h.SetStoredComputedAreaSize(0x0203);
  h.SetChanged(true);
  const auto& b = h.Bytes();
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 4), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(b[8], 3);
  EXPECT_EQ(Bytes(b.begin() + 9, b.begin() + 13), (Bytes{0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_EQ(Bytes(b.begin() + 13, b.begin() + 17), (Bytes{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(Bytes(b.begin() + 17, b.begin() + 21), (Bytes{0x88, 0x77, 0x66, 0x55}));
  EXPECT_EQ(Bytes(b.begin() + 21, b.begin() + 27), (Bytes{0x34, 0x12, 0x02, 0x01, 7, 0}));
  // 1.5 as an IEEE double: 3F F8 00 .. 00, little-endian at the odd offset 27.
  EXPECT_EQ(Bytes(b.begin() + 27, b.begin() + 35), (Bytes{0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
  EXPECT_EQ(Bytes(b.begin() + 103, b.begin() + 114),
            (Bytes{0x0C, 0x04, 0x01, 0x00, 0xEF, 0xBE, 0xFE, 0xCA, 0x03, 0x02, 1}));
  EXPECT_EQ(h.BlobBlockSize(), 512u);  // a stored 0 reads as 512
  EXPECT_EQ(h.StoredBlobBlockSize(), 0u);
  EXPECT_EQ(h.DataStart(), 127u + 768u * 0x0102);

  // Plain description; once encrypted, description and password characters are enciphered with
  // the password key while their length bytes stay plain.
  h.SetDescription("Query Result Set");
  EXPECT_EQ(b[35], 16);
  EXPECT_EQ(std::memcmp(&b[36], "Query Result Set", 16), 0);
  h.SetEncrypted(true);
  EXPECT_EQ(b[86], 1);
  h.SetPassword("abc");
  h.SetDescription("Notes");
  Bytes password_chars(15, 0);
  std::memcpy(password_chars.data(), "abc", 3);
  EXPECT_EQ(b[87], 3);
  EXPECT_EQ(Bytes(b.begin() + 88, b.begin() + 103), PasswordCipher(password_chars));
  Bytes description_chars(50, 0);
  std::memcpy(description_chars.data(), "Notes", 5);
  EXPECT_EQ(b[35], 5);
  EXPECT_EQ(Bytes(b.begin() + 36, b.begin() + 86), PasswordCipher(description_chars));
  EXPECT_EQ(h.Password(), "abc");
  EXPECT_EQ(h.Description(), "Notes");
  // Reserved bytes are kept as they are found.
  h.Bytes()[120] = 0x5A;
  h.SetRecordSize(9);
  EXPECT_EQ(h.Bytes()[120], 0x5A);
}

TDataHeader GoodHeader() {
  TDataHeader h;
  h.SetVersion(3);
  h.SetRecordSize(66);
  h.SetFieldCount(2);
  h.SetNextRecord(1);
  return h;
}

TEST(DataFileFormatTest, HeaderLimitsAreCheckedBeforeUse) {
  EXPECT_EQ(CheckDataHeader(GoodHeader()), TDataFileFault::kNone);
  struct Case {
    void (*damage)(TDataHeader&);
    TDataFileFault fault;
  } cases[] = {
      {[](TDataHeader& h) { h.SetVersion(2); }, TDataFileFault::kVersion},
      // the version is looked at first, whatever else is wrong
      {[](TDataHeader& h) { h.SetVersion(4), h.SetRecordSize(0); }, TDataFileFault::kVersion},
      {[](TDataHeader& h) { h.SetRecordSize(0); }, TDataFileFault::kCorrupt},
      {[](TDataHeader& h) { h.SetRecordSize(8); }, TDataFileFault::kCorrupt},
      {[](TDataHeader& h) { h.SetFieldCount(1025); }, TDataFileFault::kCorrupt},
      {[](TDataHeader& h) { h.SetBlobFieldCount(3); }, TDataFileFault::kCorrupt},
      {[](TDataHeader& h) { h.SetFieldCount(40), h.SetBlobFieldCount(33); },
       TDataFileFault::kCorrupt},
      {[](TDataHeader& h) { h.SetBlobBlockSize(63); }, TDataFileFault::kCorrupt},
      {[](TDataHeader& h) { h.SetBlobBlockSize(65536); }, TDataFileFault::kCorrupt},
      {[](TDataHeader& h) { h.SetBlobBlockSize(64); }, TDataFileFault::kNone},
      {[](TDataHeader& h) { h.SetBlobBlockSize(65535); }, TDataFileFault::kNone},
      {[](TDataHeader& h) { h.SetFieldCount(1024), h.SetBlobFieldCount(32); },
       TDataFileFault::kNone},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    TDataHeader h = GoodHeader();
    cases[i].damage(h);
    EXPECT_EQ(CheckDataHeader(h), cases[i].fault) << "case " << i;
  }
}

TEST(DataFileFormatTest, DefinitionsMustMatchTheHeader) {
  auto good = [] {
    std::vector<TFieldDefinition> f = {Field(1, "No", kFieldInt32),
                                       Field(2, "Nom", kFieldString, 50),
                                       Field(3, "Memo", kFieldBlob)};
    AssignFieldOffsets(f);
    return f;
  };
  TDataHeader h = GoodHeader();
  h.SetFieldCount(3);
  h.SetRecordSize(9 + 5 + 52 + 5);
  h.SetBlobFieldCount(1);
  ASSERT_TRUE(CheckFieldStructure(good(), h));

  using Damage = void (*)(std::vector<TFieldDefinition>&, TDataHeader&);
  const Damage damages[] = {
      [](auto& f, auto&) { f[1].number = 3; },
      [](auto& f, auto&) { f[1].offset += 1; },
      [](auto& f, auto&) { f[0].sub_type = kSubTypeAutoIncrement; },  // not at +5
      [](auto&, auto& h) { h.SetRecordSize(h.RecordSize() + 1); },
      [](auto&, auto& h) { h.SetStoredComputedAreaSize(5); },
      [](auto&, auto& h) { h.SetBlobFieldCount(0); },
      [](auto&, auto& h) { h.SetFieldCount(2); },
      [](auto& f, auto&) {
        f[1].size = 251;
        f[1].stored_size = StoredFieldSize(f[1].type, f[1].size);
      },
      [](auto& f, auto&) { f[2].computed = true; },  // a computed field needs its area
  };
  for (size_t i = 0; i < std::size(damages); ++i) {
    auto f = good();
    TDataHeader damaged = h;
    damages[i](f, damaged);
    EXPECT_FALSE(CheckFieldStructure(f, damaged)) << "damage " << i;
  }

  // The auto-increment field at +5 does not take room in the record.
  std::vector<TFieldDefinition> f = {Field(1, "No", kFieldInt32), Field(2, "Nom", kFieldString, 5)};
  f[0].sub_type = kSubTypeAutoIncrement;
  const TRecordLayout layout = AssignFieldOffsets(f);
  TDataHeader auto_header = GoodHeader();
  auto_header.SetRecordSize(static_cast<uint16_t>(layout.record_size));
  EXPECT_EQ(layout.record_size, 9u + 7);
  EXPECT_TRUE(CheckFieldStructure(f, auto_header));
}

TEST(DataFileFormatTest, FileLengthHoldsWholeRecordsUpToTheNextNumber) {
  TDataHeader h = GoodHeader();  // 2 fields, record size 66, data start 1663
  EXPECT_TRUE(CheckFileLength(h, 1663));
  EXPECT_FALSE(CheckFileLength(h, 1662));
  EXPECT_FALSE(CheckFileLength(h, 1663 + 66));  // one record the header does not count
  h.SetNextRecord(4);
  EXPECT_TRUE(CheckFileLength(h, 1663 + 3 * 66));
  EXPECT_FALSE(CheckFileLength(h, 1663 + 3 * 66 - 1));  // a partial trailing record
  EXPECT_FALSE(CheckFileLength(h, 1663 + 3 * 66 + 10));
  h.SetNextRecord(0);
  EXPECT_FALSE(CheckFileLength(h, 1663));
}

}  // namespace
}  // namespace tessera
