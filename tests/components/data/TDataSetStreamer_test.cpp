// The streaming formats: golden bytes and texts written from the format tables, read back;
// damaged streams refused without posting; the streamer on another kind of dataset.
#include "components/data/TDataSetStreamer.h"

#include <gtest/gtest.h>

#include "FakeDataSet.h"
#include "classlib/db/TBlobField.h"
#include "classlib/db/TFields.h"
#include "classlib/rtl/FormatSettings.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {
namespace {

using namespace cl;

std::vector<uint8_t> BytesOf(TMemoryStream& stream) {
  const auto* data = static_cast<const uint8_t*>(stream.Memory());
  return std::vector<uint8_t>(data, data + stream.Size());
}

std::string TextOf(TMemoryStream& stream) {
  std::vector<uint8_t> bytes = BytesOf(stream);
  return std::string(bytes.begin(), bytes.end());
}

class DataSetStreamerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_settings_ = CurrentFormatSettings();
    TFormatSettings settings = saved_settings_;
    settings.DecimalSeparator = ',';
    settings.ShortDateFormat = "dd/MM/yyyy";
    settings.DateSeparator = '/';
    SetCurrentFormatSettings(settings);
    owner_ = std::make_unique<TComponent>(nullptr);
    ds_ = MakeDataSet();
  }
  void TearDown() override {
    owner_.reset();
    SetCurrentFormatSettings(saved_settings_);
  }

  template <class T>
  TField* Add(TDataSet* ds, const char* name, int size = 0) {
    auto* field = Create<T>(owner_.get());
    field->SetFieldName(name);
    if (size > 0) field->SetSize(size);
    field->SetDataSet(ds);
    return field;
  }

  // One field of every supported type, in the order of the format table.
  TVirtualDataSet* MakeDataSet() {
    auto* ds = Create<TVirtualDataSet>(owner_.get());
    Add<TStringField>(ds, "S", 5);
    Add<TSmallintField>(ds, "Sm");
    Add<TIntegerField>(ds, "I");
    Add<TWordField>(ds, "W");
    Add<TBooleanField>(ds, "Bo");
    Add<TFloatField>(ds, "F");
    Add<TCurrencyField>(ds, "Cu");
    Add<TBCDField>(ds, "Bc", 4);
    Add<TDateField>(ds, "D");
    Add<TTimeField>(ds, "T");
    Add<TDateTimeField>(ds, "DT");
    Add<TBytesField>(ds, "By", 2);
    Add<TVarBytesField>(ds, "VB", 3);
    Add<TMemoField>(ds, "M");
    Add<TBlobField>(ds, "Bl");
    ds->Open();
    return ds;
  }

  void AppendFullAndNullRecords(TDataSet* ds) {
    ds->Append();
    ds->FieldByName("S")->SetAsString("ab");
    ds->FieldByName("Sm")->SetAsInteger(-2);
    ds->FieldByName("I")->SetAsInteger(5);
    ds->FieldByName("W")->SetAsInteger(65535);
    ds->FieldByName("Bo")->SetAsBoolean(true);
    ds->FieldByName("F")->SetAsFloat(1.5);
    ds->FieldByName("Cu")->SetAsFloat(0.01);
    ds->FieldByName("Bc")->SetAsFloat(0.29);
    ds->FieldByName("D")->SetAsDateTime(2.0);  // 01/01/1900
    ds->FieldByName("T")->SetAsDateTime(0.5);
    ds->FieldByName("DT")->SetAsDateTime(2.5);
    ds->FieldByName("By")->SetAsString(std::string("\x01\x02", 2));
    ds->FieldByName("VB")->SetAsString("\x0A");
    ds->FieldByName("M")->SetAsString("a\r\nb");
    ds->Post();
    ds->Append();
    ds->Post();
  }

  TFormatSettings saved_settings_;
  std::unique_ptr<TComponent> owner_;
  TVirtualDataSet* ds_ = nullptr;
};

// clang-format off
const std::vector<uint8_t> kGolden = {
    // record 1
    0x01, 0x02, 0x00, 0x00, 0x00, 'a', 'b',                 // S "ab"
    0x01, 0xFE, 0xFF,                                       // Sm -2
    0x01, 0x05, 0x00, 0x00, 0x00,                           // I 5
    0x01, 0xFF, 0xFF,                                       // W 65535
    0x01, 0x01,                                             // Bo True
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F,   // F 1.5
    0x01, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,   // Cu 0.01 = 100
    0x01, 0x54, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,   // Bc 0.29 = 2900
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40,   // D 2.0
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x3F,   // T 0.5
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x40,   // DT 2.5
    0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0x02,               // By
    0x01, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0A, 0x00, 0x00,  // VB: length 1, "\x0A"
    0x04, 0x00, 0x00, 0x00, 'a', 0x0D, 0x0A, 'b',           // M
    0x00, 0x00, 0x00, 0x00,                                 // Bl empty
    // record 2: a NULL of each type
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00,
    // end
    0xFF, 0xFF, 0xFF, 0xFF,
};
// clang-format on

TEST_F(DataSetStreamerTest, BinaryFormatMatchesItsTableAndReadsBack) {
  TMemoryStream empty;
  ds_->SaveToStream(empty);
  EXPECT_EQ(BytesOf(empty), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));

  AppendFullAndNullRecords(ds_);
  TMemoryStream bytes;
  ds_->SaveToStream(bytes);
  ASSERT_EQ(BytesOf(bytes), kGolden);

  TVirtualDataSet* copy = MakeDataSet();
  bytes.SetPosition(0);
  copy->LoadFromStream(bytes);
  ASSERT_EQ(copy->RecordCount(), 2);
  EXPECT_EQ(copy->FieldByName("Bc")->AsCurrency().Raw, 2900);
  EXPECT_EQ(copy->FieldByName("M")->AsString(), "a\r\nb");
  TMemoryStream again;
  copy->SaveToStream(again);
  EXPECT_EQ(BytesOf(again), kGolden);
}

TEST_F(DataSetStreamerTest, DamagedBinaryStreamsPostNothing) {
  struct Damage {
    const char* what;
    std::vector<uint8_t> bytes;
    bool raises;
  };
  // A dataset of one string field (size 5) and one integer, then one valid record first.
  auto* ds = Create<TVirtualDataSet>(owner_.get());
  Add<TStringField>(ds, "S", 5);
  Add<TIntegerField>(ds, "I");
  ds->Open();
  const std::vector<uint8_t> good = {0x01, 0x01, 0x00, 0x00, 0x00, 'x',
                                     0x01, 0x07, 0x00, 0x00, 0x00};
  // clang-format off
  const std::vector<Damage> cases = {
      {"negative length", {0x01, 0xFE, 0xFF, 0xFF, 0xFF, 'x'}, true},
      {"length past the field", {0x01, 0x09, 0x00, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}, true},
      {"cut inside the string", {0x01, 0x03, 0x00, 0x00, 0x00, 'a'}, false},
      {"cut before the integer", {0x01, 0x01, 0x00, 0x00, 0x00, 'a', 0x01, 0x07}, false},
      {"cut after a flag", {0x00}, false},
  };
  // clang-format on
  for (const Damage& damage : cases) {
    SCOPED_TRACE(damage.what);
    std::vector<uint8_t> data = good;
    data.insert(data.end(), damage.bytes.begin(), damage.bytes.end());
    TMemoryStream stream;
    stream.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    stream.SetPosition(0);
    if (damage.raises) {
      EXPECT_THROW(ds->LoadFromStream(stream), EDatabaseError);
    } else {
      ds->LoadFromStream(stream);
    }
    EXPECT_EQ(ds->State(), dsBrowse);
    ASSERT_EQ(ds->RecordCount(), 1);  // the good record only, never a half-read one
    ds->First();
    EXPECT_EQ(ds->FieldByName("I")->AsInteger(), 7);
  }
  auto* blob = Create<TVirtualDataSet>(owner_.get());
  Add<TMemoField>(blob, "M");
  blob->Open();
  TMemoryStream stream;
  const std::vector<uint8_t> negative = {0xFB, 0xFF, 0xFF, 0xFF};
  stream.WriteBuffer(negative.data(), 4);
  stream.SetPosition(0);
  EXPECT_THROW(blob->LoadFromStream(stream), EDatabaseError);
  EXPECT_EQ(blob->RecordCount(), 0);
}

TEST_F(DataSetStreamerTest, CsvFormatQuotesAndFlattens) {
  AppendFullAndNullRecords(ds_);
  ds_->SetExportFormat(efTextCSV);
  TMemoryStream text;
  ds_->SaveToStream(text);
  EXPECT_EQ(TextOf(text),
            "\"ab\";\"-2\";\"5\";\"65535\";\"Vrai\";\"1,5\";\"0,01\";\"0,29\";\"01/01/1900\";"
            "\"12:00:00\";\"01/01/1900 12:00:00\";\"\x01\x02\";\"\x0A\";\"a b\"\r\n"
            "\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\"\r\n");

  TVirtualDataSet* copy = MakeDataSet();
  copy->SetExportFormat(efTextCSV);
  text.SetPosition(0);
  copy->LoadFromStream(text);
  TMemoryStream again;
  copy->SaveToStream(again);
  EXPECT_EQ(TextOf(again), TextOf(text));  // every value reads back to the same text

  auto* three = Create<TVirtualDataSet>(owner_.get());
  for (const char* name : {"X", "Y", "Z"}) Add<TStringField>(three, name, 5);
  three->Open();
  three->SetExportFormat(efTextCSV);
  TMemoryStream input;
  std::string lines = "\"x\"\"y\";;\r\na;\"b\"";  // the last line has no CR LF
  input.WriteBuffer(lines.data(), static_cast<int32_t>(lines.size()));
  input.SetPosition(0);
  three->LoadFromStream(input);
  ASSERT_EQ(three->RecordCount(), 2);
  three->First();
  EXPECT_EQ(three->FieldByName("X")->AsString(), "x\"y");
  EXPECT_EQ(three->FieldByName("Y")->AsString(), "");
  EXPECT_EQ(three->FieldByName("Z")->AsString(), "");
  three->Next();
  EXPECT_EQ(three->FieldByName("X")->AsString(), "a");
  EXPECT_EQ(three->FieldByName("Y")->AsString(), "b");
}

TEST_F(DataSetStreamerTest, FixedWidthFormatPadsAndRefusesWideValues) {
  auto* ds = Create<TVirtualDataSet>(owner_.get());
  Add<TStringField>(ds, "S", 4);
  Add<TSmallintField>(ds, "Sm");
  Add<TIntegerField>(ds, "I");
  Add<TBooleanField>(ds, "Bo");
  Add<TDateTimeField>(ds, "DT");
  Add<TMemoField>(ds, "M");  // no column
  ds->Open();
  ds->SetExportFormat(efTextConst);
  ds->Append();
  ds->FieldByName("S")->SetAsString("ab");
  ds->FieldByName("Sm")->SetAsInteger(-12);
  ds->FieldByName("I")->SetAsInteger(123);
  ds->FieldByName("Bo")->SetAsBoolean(true);
  ds->FieldByName("DT")->SetAsDateTime(2.5);
  ds->Post();
  ds->Append();
  ds->Post();
  TMemoryStream text;
  ds->SaveToStream(text);
  EXPECT_EQ(TextOf(text),
            "ab  -12   123       101/01/1900 12:00:00\r\n"
            "                                        \r\n");
  text.SetPosition(0);
  ds->LoadFromStream(text);
  ASSERT_EQ(ds->RecordCount(), 2);
  ds->First();
  EXPECT_EQ(ds->FieldByName("I")->AsInteger(), 123);
  EXPECT_TRUE(ds->FieldByName("Bo")->AsBoolean());
  EXPECT_DOUBLE_EQ(ds->FieldByName("DT")->AsDateTime(), 2.5);

  ds->Edit();
  ds->FieldByName("I")->SetAsInteger(-2147483647 - 1);  // 11 characters in a 10-wide column
  ds->Post();
  TMemoryStream wide;
  try {
    ds->SaveToStream(wide);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("'I'"), std::string::npos);
  }
}

TEST_F(DataSetStreamerTest, ReadLineStopsAtEveryLineEnd) {
  TMemoryStream stream;
  std::string data = "ab\r\ncd\ref\n5\" disk\r\n\"g\"\"\n\";\"h\r\n\"\nij";
  stream.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
  stream.SetPosition(0);
  for (const char* line : {"ab", "cd", "ef", "5\" disk", "\"g\"\"\n\";\"h\r\n\"", "ij", ""}) {
    EXPECT_EQ(ReadLine(stream), line);
  }
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST_F(DataSetStreamerTest, WorksOnAnyDataset) {
  auto* fake = Create<test::TFakeDataSet>(owner_.get());
  test::AddStandardDefs(fake);
  fake->Open();
  for (int i = 1; i <= 3; ++i) {
    fake->Append();
    fake->FieldByName("Numero")->SetAsInteger(i);
    fake->FieldByName("Nom")->SetAsString("n" + std::to_string(i));
    fake->FieldByName("DateAppel")->SetAsDateTime(100 + i);
    fake->FieldByName("Message")->SetAsString(std::string(i, 'm'));
    fake->Post();
  }
  TMemoryStream bytes;
  TDataSetStreamer(fake, efDataSet, false).Save(bytes);
  auto* other = Create<test::TFakeDataSet>(owner_.get());
  test::AddStandardDefs(other);
  other->Open();
  bytes.SetPosition(0);
  TDataSetStreamer(other, efDataSet, false).Load(bytes);
  ASSERT_EQ(other->RecordCount(), 3);
  other->Last();
  EXPECT_EQ(other->FieldByName("Message")->AsString(), "mmm");
  EXPECT_DOUBLE_EQ(other->FieldByName("DateAppel")->AsDateTime(), 103);
}

}  // namespace
}  // namespace comp
