// The typed fields: classes made from definitions, native buffer bytes, conversions, range
// checks, text events and validation, on the fake dataset's default fields.
#include "classlib/db/TFields.h"

#include <gtest/gtest.h>

#include <cstring>

#include "FakeDataSet.h"
#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/rtl/DateTime.h"

namespace cl::test {
namespace {

// The field is exactly of class T (not of a class derived from it).
template <class T>
bool Is(TField* field) {
  return field != nullptr && typeid(*field) == typeid(T);
}

std::vector<uint8_t> NativeBytes(TField* field) {
  std::vector<uint8_t> bytes(static_cast<size_t>(field->DataSize()));
  EXPECT_TRUE(field->GetData(bytes.data()));
  return bytes;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EDatabaseError& e) {
    return e.Message();
  }
  return "(no error)";
}

class FieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds_ = Create<TFakeDataSet>(&owner_);
    ds_->AddFieldDef("S", ftString, 10);
    ds_->AddFieldDef("SI", ftSmallint);
    ds_->AddFieldDef("I", ftInteger);
    ds_->AddFieldDef("W", ftWord);
    ds_->AddFieldDef("A", ftAutoInc);
    ds_->AddFieldDef("B", ftBoolean);
    ds_->AddFieldDef("F", ftFloat);
    ds_->AddFieldDef("C", ftCurrency);
    ds_->AddFieldDef("BCD", ftBCD, 2);
    ds_->AddFieldDef("D", ftDate);
    ds_->AddFieldDef("T", ftTime);
    ds_->AddFieldDef("DT", ftDateTime);
    ds_->AddFieldDef("BY", ftBytes, 4);
    ds_->AddFieldDef("VB", ftVarBytes, 6);
    ds_->AddFieldDef("M", ftMemo);
    ds_->AddFieldDef("FM", ftFmtMemo);
    ds_->Open();
    ds_->Append();
  }

  TField* F(const char* name) { return ds_->FieldByName(name); }

  TComponent owner_{nullptr};
  TFakeDataSet* ds_ = nullptr;
};

TEST_F(FieldsTest, DefinitionsMakeTheirFieldClasses) {
  EXPECT_TRUE(ds_->DefaultFields());
  struct Expect {
    const char* name;
    TFieldType type;
    int data_size;
    bool ok;
  };
  const Expect expected[] = {
      {"S", ftString, 11, dynamic_cast<TStringField*>(F("S")) != nullptr},
      {"SI", ftSmallint, 2, dynamic_cast<TSmallintField*>(F("SI")) != nullptr},
      {"I", ftInteger, 4, Is<TIntegerField>(F("I"))},
      {"W", ftWord, 2, dynamic_cast<TWordField*>(F("W")) != nullptr},
      {"A", ftAutoInc, 4, dynamic_cast<TAutoIncField*>(F("A")) != nullptr},
      {"B", ftBoolean, 2, dynamic_cast<TBooleanField*>(F("B")) != nullptr},
      {"F", ftFloat, 8, Is<TFloatField>(F("F"))},
      {"C", ftCurrency, 8, dynamic_cast<TCurrencyField*>(F("C")) != nullptr},
      {"BCD", ftBCD, 8, dynamic_cast<TBCDField*>(F("BCD")) != nullptr},
      {"D", ftDate, 4, dynamic_cast<TDateField*>(F("D")) != nullptr},
      {"T", ftTime, 4, dynamic_cast<TTimeField*>(F("T")) != nullptr},
      {"DT", ftDateTime, 8, Is<TDateTimeField>(F("DT"))},
      {"BY", ftBytes, 4, Is<TBytesField>(F("BY"))},
      {"VB", ftVarBytes, 8, dynamic_cast<TVarBytesField*>(F("VB")) != nullptr},
      {"M", ftMemo, 0, dynamic_cast<TMemoField*>(F("M")) != nullptr},
      {"FM", ftFmtMemo, 0, Is<TBlobField>(F("FM"))},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(F(e.name)->DataType(), e.type);
    EXPECT_EQ(F(e.name)->DataSize(), e.data_size);
  }
  EXPECT_EQ(F("BCD")->Size(), 2);
  EXPECT_EQ(F("I")->Alignment(), taRightJustify);
  EXPECT_EQ(F("S")->Alignment(), taLeftJustify);
  EXPECT_EQ(F("S")->DisplayWidth(), 10);
  EXPECT_EQ(F("SI")->DisplayWidth(), 6);
  ds_->Cancel();
  ds_->Close();
  EXPECT_EQ(ds_->FieldCount(), 0);  // default fields die with the cursor
}

TEST_F(FieldsTest, NativeFormsAreTheStoredForms) {
  F("S")->SetAsString("abc");
  EXPECT_EQ(NativeBytes(F("S")), (std::vector<uint8_t>{'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 0}));
  F("SI")->SetAsInteger(-2);
  EXPECT_EQ(NativeBytes(F("SI")), (std::vector<uint8_t>{0xFE, 0xFF}));
  F("W")->SetAsInteger(65535);
  EXPECT_EQ(NativeBytes(F("W")), (std::vector<uint8_t>{0xFF, 0xFF}));
  F("I")->SetAsInteger(0x01020304);
  EXPECT_EQ(NativeBytes(F("I")), (std::vector<uint8_t>{4, 3, 2, 1}));
  F("B")->SetAsBoolean(true);
  EXPECT_EQ(NativeBytes(F("B")), (std::vector<uint8_t>{0xFF, 0xFF}));
  F("B")->SetAsBoolean(false);
  EXPECT_EQ(NativeBytes(F("B")), (std::vector<uint8_t>{0, 0}));
  const uint8_t stored_true[2] = {1, 0};  // the engine stores True as 1
  F("B")->SetData(stored_true);
  EXPECT_TRUE(F("B")->AsBoolean());
  // 1 January 1900 is day 693596 of the time stamp calendar.
  F("D")->SetAsDateTime(EncodeDate(1900, 1, 1));
  EXPECT_EQ(NativeBytes(F("D")), (std::vector<uint8_t>{0x5C, 0x95, 0x0A, 0x00}));
  F("T")->SetAsDateTime(EncodeTime(10, 30, 15, 250));
  EXPECT_EQ(NativeBytes(F("T")), (std::vector<uint8_t>{0xD2, 0x03, 0x41, 0x02}));  // 37815250 ms
  TDateTime moment = EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 999);
  F("DT")->SetAsDateTime(moment);
  double msecs;
  std::memcpy(&msecs, NativeBytes(F("DT")).data(), 8);
  EXPECT_EQ(msecs, TimeStampToMSecs(DateTimeToTimeStamp(moment)));
  EXPECT_EQ(F("DT")->AsDateTime(), TimeStampToDateTime(DateTimeToTimeStamp(moment)));
  F("BCD")->SetAsString("12,34");
  int64_t raw;
  std::memcpy(&raw, NativeBytes(F("BCD")).data(), 8);
  EXPECT_EQ(raw, 123400);
  F("VB")->SetAsString(std::string("x\0y", 3));
  EXPECT_EQ(NativeBytes(F("VB")), (std::vector<uint8_t>{3, 0, 'x', 0, 'y', 0, 0, 0}));
  EXPECT_EQ(F("VB")->AsString(), std::string("x\0y", 3));
  F("BY")->SetAsString("123456");
  EXPECT_EQ(F("BY")->AsString(), "1234");
}

TEST_F(FieldsTest, TextConversionsFollowEachClass) {
  F("S")->SetAsString("un texte trop long");
  EXPECT_EQ(F("S")->AsString(), "un texte t");
  F("S")->SetAsString("42");
  EXPECT_EQ(F("S")->AsInteger(), 42);
  F("S")->SetAsString("oui");
  EXPECT_FALSE(F("S")->AsBoolean());
  F("S")->SetAsBoolean(true);
  EXPECT_EQ(F("S")->AsString(), "T");
  EXPECT_TRUE(F("S")->AsBoolean());
  F("I")->SetAsString(" 17 ");
  EXPECT_EQ(F("I")->AsInteger(), 17);
  EXPECT_EQ(F("I")->AsFloat(), 17.0);
  EXPECT_TRUE(F("I")->AsBoolean());
  F("F")->SetAsString("2,5");
  EXPECT_EQ(F("F")->AsFloat(), 2.5);
  EXPECT_EQ(F("F")->AsString(), "2,5");
  EXPECT_EQ(F("F")->AsInteger(), 2);  // halves go to even
  F("B")->SetAsString("vr");
  EXPECT_TRUE(F("B")->AsBoolean());
  EXPECT_EQ(F("B")->AsString(), "Vrai");
  F("B")->SetAsString("FAUX");
  EXPECT_EQ(F("B")->AsString(), "Faux");
  F("D")->SetAsString("29/02/2024");
  EXPECT_EQ(F("D")->AsDateTime(), EncodeDate(2024, 2, 29));
  EXPECT_EQ(F("D")->AsString(), "29/02/2024");
  F("DT")->SetAsString("01/03/2024 08:15:00");
  EXPECT_EQ(F("DT")->AsString(), "01/03/2024 08:15:00");
  F("T")->SetAsString("08:15:30");
  EXPECT_EQ(F("T")->AsString(), "08:15:30");
  // An empty text clears every non-string field.
  const std::pair<const char*, const char*> texts[] = {
      {"SI", "1"}, {"I", "1"},   {"W", "1"},          {"B", "Vrai"},  {"F", "1"},
      {"C", "1"},  {"BCD", "1"}, {"D", "01/01/2024"}, {"T", "10:00"}, {"DT", "01/01/2024"}};
  for (const auto& [name, text] : texts) {
    SCOPED_TRACE(name);
    F(name)->SetAsString(text);
    ASSERT_FALSE(F(name)->IsNull());
    F(name)->SetAsString("");
    EXPECT_TRUE(F(name)->IsNull());
    EXPECT_EQ(F(name)->AsString(), "");
    EXPECT_TRUE(F(name)->AsVariant().IsNull());
  }
  EXPECT_EQ(F("I")->AsInteger(), 0);
  EXPECT_EQ(F("F")->AsFloat(), 0.0);
}

TEST_F(FieldsTest, FloatTextsRoundToThePrecisionAndMoneyShowsItsCurrency) {
  auto* plain = static_cast<TFloatField*>(F("F"));
  auto* money = static_cast<TFloatField*>(F("C"));
  EXPECT_EQ(plain->DisplayText(), "");
  EXPECT_EQ(money->DisplayText(), "");
  EXPECT_EQ(money->Text(), "");
  plain->SetAsFloat(0.1 + 0.2);
  EXPECT_EQ(plain->AsString(), "0,30000000000000004");
  EXPECT_EQ(plain->DisplayText(), "0,3");
  EXPECT_EQ(plain->Text(), "0,3");
  plain->SetPrecision(3);
  plain->SetAsFloat(2.0 / 3.0);
  EXPECT_EQ(plain->DisplayText(), "0,667");
  plain->SetAsFloat(123456);
  EXPECT_EQ(plain->DisplayText(), "1,23E5");
  EXPECT_TRUE(money->Currency());
  money->SetAsFloat(1234.5);
  EXPECT_EQ(money->DisplayText(),
            "1\xA0"
            "234,50 F");
  EXPECT_EQ(money->Text(), "1234,50");
  EXPECT_EQ(money->AsString(), "1234,5");
  money->SetAsFloat(-12.5);
  EXPECT_EQ(money->DisplayText(), "-12,50 F");
  // The edit text reads back to the value it shows.
  money->SetAsFloat(7.125);
  const std::string edited = money->Text();
  EXPECT_EQ(edited, "7,13");
  money->SetText(edited);
  EXPECT_EQ(money->AsFloat(), 7.13);
  // A float field set to show money shows it the same way; a handler still has the last word.
  plain->SetCurrency(true);
  plain->SetPrecision(15);
  plain->SetAsFloat(12.5);
  EXPECT_EQ(plain->DisplayText(), "12,50 F");
  plain->SetOnGetText([](TField*, std::string& text, bool display) { text = display ? "d" : "e"; });
  EXPECT_EQ(plain->DisplayText(), "d");
  EXPECT_EQ(plain->Text(), "e");
}

TEST_F(FieldsTest, BadTextsAndRangesAreRefusedBeforeWriting) {
  F("I")->SetAsInteger(5);
  EXPECT_EQ(ErrorOf([&] { F("I")->SetAsString("12a"); }),
            "'12a' n'est pas une valeur enti\xE8re correcte pour le champ 'I'");
  EXPECT_EQ(ErrorOf([&] { F("F")->SetAsString("1.2.3"); }),
            "'1.2.3' n'est pas une valeur en virgule flottante correcte pour le champ 'F'");
  EXPECT_EQ(ErrorOf([&] { F("B")->SetAsString("oui"); }),
            "'oui' n'est pas une valeur bool\xE9"
            "enne correcte pour le champ 'B'");
  EXPECT_EQ(ErrorOf([&] { F("SI")->SetAsInteger(40000); }),
            "40000 n'est pas une valeur correcte pour le champ 'SI'. Les valeurs autoris\xE9"
            "es "
            "sont comprises entre -32768 et 32767");
  EXPECT_EQ(ErrorOf([&] { F("W")->SetAsString("-1"); }),
            "-1 n'est pas une valeur correcte pour le champ 'W'. Les valeurs autoris\xE9"
            "es "
            "sont comprises entre 0 et 65535");
  EXPECT_EQ(ErrorOf([&] { F("I")->SetAsString("3000000000"); }).substr(0, 11), "3000000000 ");
  EXPECT_EQ(ErrorOf([&] { F("I")->AsDateTime(); }),
            "Le champ 'I' ne peut pas \xEAtre lu ou \xE9"
            "crit comme DateTime");
  EXPECT_EQ(ErrorOf([&] { F("B")->SetAsInteger(1); }),
            "Le champ 'B' ne peut pas \xEAtre lu ou \xE9"
            "crit comme Integer");
  EXPECT_EQ(F("I")->AsInteger(), 5);
  auto* bounded = static_cast<TIntegerField*>(F("I"));
  bounded->SetMinValue(1);
  bounded->SetMaxValue(10);
  EXPECT_EQ(ErrorOf([&] { F("I")->SetAsInteger(11); }),
            "11 n'est pas une valeur correcte pour le champ 'I'. Les valeurs autoris\xE9"
            "es "
            "sont comprises entre 1 et 10");
  F("I")->SetAsInteger(10);
  EXPECT_EQ(F("I")->AsInteger(), 10);
  // A value rejected here never reached the record: nothing was modified by it.
  ds_->Cancel();
  ds_->Append();
  EXPECT_THROW(F("SI")->SetAsInteger(-40000), EDatabaseError);
  EXPECT_FALSE(ds_->Modified());
}

// Each numeric field keeps its own bounds and precision, with its own defaults; a float field
// takes any value until a bound is set, then only what lies between both.
TEST_F(FieldsTest, NumericFieldsKeepTheirOwnBoundsAndPrecision) {
  auto* floating = static_cast<TFloatField*>(F("F"));
  auto* bcd = static_cast<TBCDField*>(F("BCD"));
  auto* integer = static_cast<TIntegerField*>(F("I"));
  EXPECT_EQ(floating->Precision(), 15);
  EXPECT_EQ(bcd->Precision(), 20);
  bcd->SetPrecision(4);
  EXPECT_EQ(floating->Precision(), 15);
  EXPECT_EQ(bcd->Precision(), 4);

  floating->SetAsFloat(-1e9);
  EXPECT_EQ(floating->AsFloat(), -1e9);
  floating->SetMinValue(0.5);
  floating->SetMaxValue(2.5);
  EXPECT_EQ(integer->MinValue(), 0);
  EXPECT_EQ(integer->MaxValue(), 0);
  for (double refused : {0.25, 3.0, -1e9}) {
    EXPECT_THROW(floating->SetAsFloat(refused), EDatabaseError) << refused;
  }
  for (double taken : {0.5, 1.75, 2.5}) {
    floating->SetAsFloat(taken);
    EXPECT_EQ(floating->AsFloat(), taken);
  }
  integer->SetAsInteger(-7);
  EXPECT_EQ(integer->AsInteger(), -7);
}

TEST_F(FieldsTest, VariantsConvertToTheFieldType) {
  F("DT")->SetValue(Variant::FromDate(EncodeDate(2024, 5, 6) + 0.25));
  EXPECT_EQ(F("DT")->AsDateTime(), EncodeDate(2024, 5, 6) + 0.25);
  EXPECT_EQ(F("DT")->Value().Kind(), Variant::Type::Date);
  F("I")->SetValue(Variant(1));
  EXPECT_EQ(F("I")->Value().Kind(), Variant::Type::Integer);
  F("I")->SetValue(Variant(2.5));
  EXPECT_EQ(F("I")->AsInteger(), 2);
  F("I")->SetValue(Variant("31"));
  EXPECT_EQ(F("I")->AsInteger(), 31);
  EXPECT_THROW(F("I")->SetValue(Variant("trente")), EDatabaseError);
  F("I")->SetValue(Variant::Null());
  EXPECT_TRUE(F("I")->IsNull());
  F("BCD")->SetValue(Variant(Currency::FromRaw(10050)));
  EXPECT_EQ(F("BCD")->Value().Kind(), Variant::Type::Currency);
  EXPECT_EQ(F("BCD")->AsFloat(), 1.005);
  F("B")->SetValue(Variant(true));
  EXPECT_EQ(F("B")->Value().Kind(), Variant::Type::Boolean);
  F("S")->SetValue(Variant(12));
  EXPECT_EQ(F("S")->AsString(), "12");
  F("M")->SetValue(Variant("note"));
  EXPECT_EQ(F("M")->Value().AsString(), "note");
  F("M")->SetValue(Variant());
  EXPECT_TRUE(F("M")->IsNull());
}

TEST_F(FieldsTest, TextEventsWrapOnlyTextAndDisplayText) {
  TField* statut = F("I");
  statut->SetOnGetText([](TField* field, std::string& text, bool) {
    if (field->IsNull()) return;
    int value = field->AsInteger();
    if (value == 0)
      text =
          "D\xE9"
          "connect\xE9";
    if (value == 1) text = "Connect\xE9";
  });
  statut->SetOnSetText([](TField* field, const std::string& text) {
    if (text ==
        "D\xE9"
        "connect\xE9")
      field->SetAsInteger(0);
    if (text == "Connect\xE9") field->SetAsInteger(1);
  });
  statut->SetText("Connect\xE9");
  EXPECT_EQ(statut->AsInteger(), 1);
  EXPECT_EQ(statut->Text(), "Connect\xE9");
  EXPECT_EQ(statut->DisplayText(), "Connect\xE9");
  EXPECT_EQ(statut->AsString(), "1");
  statut->SetText("absent");
  EXPECT_EQ(statut->AsInteger(), 1);
  statut->SetAsString("0");
  EXPECT_EQ(statut->DisplayText(),
            "D\xE9"
            "connect\xE9");
  statut->SetAsInteger(7);
  EXPECT_EQ(statut->DisplayText(), "");
  // Without events, Text is the class's own text.
  F("B")->SetText("f");
  EXPECT_EQ(F("B")->Text(), "Faux");
  EXPECT_EQ(F("M")->DisplayText(), "(memo)");
  F("FM")->SetAsString("x");
  EXPECT_EQ(F("FM")->DisplayText(), "(BLOB)");
}

TEST_F(FieldsTest, ValidationSeesThePendingValue) {
  F("I")->SetAsInteger(1);
  std::vector<std::string> seen;
  F("I")->SetOnValidate([&seen](TField* field) {
    seen.push_back(field->IsNull() ? "null" : field->AsString());
    if (field->AsInteger() < 0) throw EDatabaseError("n\xE9gatif");
  });
  F("I")->SetAsInteger(2);
  F("I")->Clear();
  EXPECT_THROW(F("I")->SetAsInteger(-3), EDatabaseError);
  EXPECT_EQ(seen, (std::vector<std::string>{"2", "null", "-3"}));
  EXPECT_TRUE(F("I")->IsNull());
}

TEST_F(FieldsTest, AssignCopiesThroughValues) {
  F("I")->SetAsInteger(12);
  F("S")->Assign(F("I"));
  EXPECT_EQ(F("S")->AsString(), "12");
  F("W")->Assign(F("SI"));  // SI is null
  EXPECT_TRUE(F("W")->IsNull());
  F("S")->Assign(nullptr);
  EXPECT_TRUE(F("S")->IsNull());
}

TEST_F(FieldsTest, ValidCharactersDependOnTheClass) {
  const char decimal = CurrentFormatSettings().DecimalSeparator;
  for (char c : std::string("+-0123456789")) {
    EXPECT_TRUE(F("I")->IsValidChar(c)) << c;
    EXPECT_TRUE(F("F")->IsValidChar(c)) << c;
  }
  EXPECT_FALSE(F("I")->IsValidChar(decimal));
  EXPECT_FALSE(F("I")->IsValidChar('a'));
  EXPECT_FALSE(F("I")->IsValidChar('E'));
  EXPECT_TRUE(F("I")->IsValidChar('\0'));
  EXPECT_TRUE(F("F")->IsValidChar(decimal));
  EXPECT_TRUE(F("F")->IsValidChar('E'));
  EXPECT_TRUE(F("F")->IsValidChar('e'));
  EXPECT_FALSE(F("F")->IsValidChar('x'));
  EXPECT_TRUE(F("BCD")->IsValidChar(decimal));
  EXPECT_TRUE(F("S")->IsValidChar('x'));
  EXPECT_TRUE(F("D")->IsValidChar('/'));
}

TEST(FieldWithoutDataSet, ValuesNeedADataSet) {
  TComponent owner(nullptr);
  auto* field = Create<TStringField>(&owner);
  field->SetFieldName("Libre");
  EXPECT_EQ(ErrorOf([&] { field->AsString(); }),
            "Pas d'ensemble de donn\xE9"
            "es pour le champ 'Libre'");
  EXPECT_THROW(field->SetAsString("x"), EDatabaseError);
  EXPECT_EQ(field->DisplayLabel(), "Libre");
  field->SetDisplayLabel("Champ libre");
  EXPECT_EQ(field->DisplayName(), "Champ libre");
  EXPECT_EQ(field->Index(), -1);
}

}  // namespace
}  // namespace cl::test
