// Filter text: the compiled buffers byte for byte, one row per message, and random filters run
// through the engine (index-served and record by record) against a predicate written here.
#include "engine/components/TFilterExpr.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "FakeDataSet.h"
#include "classlib/db/DBConsts.h"
#include "classlib/db/TFields.h"
#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"
#include "engine/storage/values/MoneyStorage.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera {
namespace {

using cl::TFilterOptions;

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const cl::Exception& e) {
    return e.Message();
  }
  return "";
}

// A dataset whose fields (in this order, numbered from 1) the parser sees; Calcul is calculated.
class TestFields {
 public:
  TestFields() : dataset_(cl::Create<cl::test::TFakeDataSet>(nullptr)) {
    Add<cl::TStringField>("Nom", cl::ftString, 20);
    Add<cl::TIntegerField>("Age", cl::ftInteger);
    Add<cl::TBooleanField>("Actif", cl::ftBoolean);
    Add<cl::TBCDField>("Montant", cl::ftBCD, 2);
    Add<cl::TStringField>("Nom complet", cl::ftString, 30);
    Add<cl::TSmallintField>("Petit", cl::ftSmallint);
    Add<cl::TWordField>("Mot", cl::ftWord);
    Add<cl::TFloatField>("Prix", cl::ftFloat);
    Add<cl::TDateField>("Jour", cl::ftDate);
    Add<cl::TTimeField>("Heure", cl::ftTime);
    Add<cl::TDateTimeField>("Quand", cl::ftDateTime);
    auto* calcul = cl::Create<cl::TStringField>(dataset_.get());
    calcul->SetFieldName("Calcul");
    calcul->SetSize(10);
    calcul->SetFieldKind(cl::fkCalculated);
    calcul->SetDataSet(dataset_.get());
    dataset_->Open();
  }
  cl::TDataSet& DataSet() { return *dataset_; }

 private:
  template <class T>
  void Add(const std::string& name, cl::TFieldType type, int size = 0) {
    dataset_->AddFieldDef(name, type, size);
    auto* field = cl::Create<T>(dataset_.get());
    field->SetFieldName(name);
    if (size != 0) field->SetSize(size);
    field->SetDataSet(dataset_.get());
  }

  std::unique_ptr<cl::test::TFakeDataSet> dataset_;
};

std::vector<uint8_t> Compile(cl::TDataSet& dataset, const std::string& text,
                             TFilterOptions options = {}) {
  return TExprParser(dataset, text, options).FilterData();
}

// Hand-laid from the buffer's layout: header | 16-byte nodes, parent before children |
// literals in the order the nodes are laid.
TEST(TFilterExprGolden, BuffersByteForByte) {
  TestFields fields;
  struct Row {
    const char* text;
    TFilterOptions options;
    const char* hex;
  };
  // clang-format off
  const Row rows[] = {
    // binary > | field Age (2) | integer 5
    {"Age > 5", {},
     "0000" "4200" "FFFF" "0A00" "3A00"
     "02000000" "05000000" "1000" "2000" "0000" "0000"
     "04000000" "0D000000" "0200" "0000" "0000" "0000"
     "05000000" "0E000000" "0600" "0400" "0400" "0000"
     "41676500" "05000000"},
    // constant on the left, mirrored: 5 < Age is Age > 5
    {"5 < Age", {},
     "0000" "4200" "FFFF" "0A00" "3A00"
     "02000000" "05000000" "1000" "2000" "0000" "0000"
     "04000000" "0D000000" "0200" "0000" "0000" "0000"
     "05000000" "0E000000" "0600" "0400" "0400" "0000"
     "41676500" "05000000"},
    // extended compare: case-sensitive, prefix of 2 | field Nom (1) | string "Du"
    {"Nom = 'Du*'", {},
     "0000" "4100" "FFFF" "0A00" "3A00"
     "03000000" "03000000" "0000" "0200" "1000" "2000"
     "04000000" "0D000000" "0100" "0000" "0000" "0000"
     "05000000" "0E000000" "0100" "0300" "0400" "0000"
     "4E6F6D00" "447500"},
    // no partial compare: the "*" is a character
    {"Nom = 'Du*'", {cl::foNoPartialCompare},
     "0000" "4200" "FFFF" "0A00" "3A00"
     "02000000" "03000000" "1000" "2000" "0000" "0000"
     "04000000" "0D000000" "0100" "0000" "0000" "0000"
     "05000000" "0E000000" "0100" "0400" "0400" "0000"
     "4E6F6D00" "44752A00"},
    // case-insensitive <> on a bracketed name: extended compare, whole value
    {"[Nom complet] <> 'x'", {cl::foCaseInsensitive},
     "0000" "4800" "FFFF" "0A00" "3A00"
     "03000000" "04000000" "0100" "0000" "1000" "2000"
     "04000000" "0D000000" "0500" "0000" "0000" "0000"
     "05000000" "0E000000" "0100" "0200" "0C00" "0000"
     "4E6F6D20636F6D706C657400" "7800"},
    // a Boolean field alone: Actif = true (0xFFFF)
    {"Actif", {},
     "0000" "4200" "FFFF" "0A00" "3A00"
     "02000000" "03000000" "1000" "2000" "0000" "0000"
     "04000000" "0D000000" "0300" "0000" "0000" "0000"
     "05000000" "0E000000" "0400" "0200" "0600" "0000"
     "416374696600" "FFFF"},
    // OR | NOT | is null | Age ; >= | Montant (4) | BCD 12.35 (12.345 rounded to 2 places)
    {"not (Age = NULL) or Montant >= 12.345", {},
     "0000" "9800" "FFFF" "0A00" "7A00"
     "02000000" "0B000000" "1000" "4000" "0000" "0000"
     "01000000" "09000000" "2000" "0000" "0000" "0000"
     "01000000" "01000000" "3000" "0000" "0000" "0000"
     "04000000" "0D000000" "0200" "0000" "0000" "0000"
     "02000000" "07000000" "5000" "6000" "0000" "0000"
     "04000000" "0D000000" "0400" "0400" "0000" "0000"
     "05000000" "0E000000" "0800" "1200" "0C00" "0000"
     "41676500" "4D6F6E74616E7400"
     "6CE2010000000000" "00000000000000000000"},
    // AND binds tighter than OR; <> NULL is not null; smallint -3 and word 65535
    {"Petit = -3 or Mot <> NULL and Mot <= 65535", {},
     "0000" "BC00" "FFFF" "0A00" "AA00"
     "02000000" "0B000000" "1000" "4000" "0000" "0000"
     "02000000" "03000000" "2000" "3000" "0000" "0000"
     "04000000" "0D000000" "0600" "0000" "0000" "0000"
     "05000000" "0E000000" "0500" "0200" "0600" "0000"
     "02000000" "0A000000" "5000" "7000" "0000" "0000"
     "01000000" "02000000" "6000" "0000" "0000" "0000"
     "04000000" "0D000000" "0700" "0800" "0000" "0000"
     "02000000" "08000000" "8000" "9000" "0000" "0000"
     "04000000" "0D000000" "0700" "0C00" "0000" "0000"
     "05000000" "0E000000" "0C00" "0200" "1000" "0000"
     "506574697400" "FDFF" "4D6F7400" "4D6F7400" "FFFF"},
    // float, date (day number), time (milliseconds), date-time (milliseconds as a double);
    // numbers facing a date or time are day counts
    {"Prix = 1.5", {},
     "0000" "4700" "FFFF" "0A00" "3A00"
     "02000000" "03000000" "1000" "2000" "0000" "0000"
     "04000000" "0D000000" "0800" "0000" "0000" "0000"
     "05000000" "0E000000" "0700" "0800" "0500" "0000"
     "5072697800" "000000000000F83F"},
    {"Jour = 2", {},
     "0000" "4300" "FFFF" "0A00" "3A00"
     "02000000" "03000000" "1000" "2000" "0000" "0000"
     "04000000" "0D000000" "0900" "0000" "0000" "0000"
     "05000000" "0E000000" "0200" "0400" "0500" "0000"
     "4A6F757200" "5C950A00"},
    {"Heure = 0.5", {},
     "0000" "4400" "FFFF" "0A00" "3A00"
     "02000000" "03000000" "1000" "2000" "0000" "0000"
     "04000000" "0D000000" "0A00" "0000" "0000" "0000"
     "05000000" "0E000000" "0A00" "0400" "0600" "0000"
     "486575726500" "002E9302"},
    {"Quand = 1.5", {},
     "0000" "4800" "FFFF" "0A00" "3A00"
     "02000000" "03000000" "1000" "2000" "0000" "0000"
     "04000000" "0D000000" "0B00" "0000" "0000" "0000"
     "05000000" "0E000000" "0B00" "0800" "0600" "0000"
     "5175616E6400" "0000F1606140CB42"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Hex(Compile(fields.DataSet(), row.text, row.options)), row.hex);
  }
}

// One row per message, and the limits that guard the engine: a text constant of 255 characters
// (the engine's value area holds 254 and the terminator) and a buffer past 65,535 bytes.
TEST(TFilterExprGolden, EveryMessage) {
  TestFields fields;
  std::string long_chain = "Age = 1";
  for (int i = 0; i < 800; ++i) long_chain += " or Age = 1";
  std::string or_chain = long_chain;
  for (int i = 0; i < 200; ++i) or_chain += " or Age = 1";
  struct Row {
    std::string text;
    TFilterOptions options;
    std::string message;
  };
  // clang-format off
  const Row rows[] = {
    {"[Nom complet = 'x'", {}, "Nom de champ non termin\xE9"},
    {"Nom = 'abc", {}, "Constante cha\xEEne non termin\xE9" "e"},
    {"Age # 5", {}, "Caract\xE8re d'expression filtre incorrect : '#'"},
    {"(Age = 5 or Actif", {}, "')' attendu mais vide trouv\xE9"},
    {"(Age = 5 'x')", {}, "')' attendu mais 'x' trouv\xE9"},
    {"Age = ", {}, "Expression attendue mais vide trouv\xE9"},
    {"Age = )", {}, "Expression attendue mais ) trouv\xE9"},
    {"Petit = 32768", {}, "Constante hors limites"},
    {"Mot = -1", {}, "Constante hors limites"},
    {"Age = 1.5", {}, "Constante hors limites"},
    {"Nom = '" + std::string(255, 'x') + "'", {}, "Constante hors limites"},
    {"Age", {}, "Le champ 'Age' n'est pas de type BOOLEAN"},
    {"'x'", {}, "Expression filtre form\xE9" "e incorrectement"},
    {"(Age = 1) = Age", {}, "Expression filtre form\xE9" "e incorrectement"},
    {or_chain, {}, "Expression filtre form\xE9" "e incorrectement"},
    {"Age = 5 6", {}, "Expression filtre termin\xE9" "e incorrectement"},
    {"Calcul = 'x'", {}, "Le champ 'Calcul' ne peut \xEAtre utilis\xE9 dans une expression filtre"},
    {"Age > NULL", {}, "NULL autoris\xE9 seulement avec '=' et '<>'"},
    {"NULL <= Age", {}, "NULL autoris\xE9 seulement avec '=' et '<>'"},
    {"Inconnu = 1", {}, "Champ 'Inconnu' non trouv\xE9"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text.substr(0, 60));
    EXPECT_EQ(ErrorOf([&] { Compile(fields.DataSet(), row.text, row.options); }), row.message);
  }
  // Just inside the limits: 254 characters, and a long filter whose size field does not wrap.
  EXPECT_EQ(Compile(fields.DataSet(), "Nom = '" + std::string(254, 'x') + "'").size(),
            10u + 48 + 4 + 255);
  const std::vector<uint8_t> long_filter = Compile(fields.DataSet(), long_chain);
  EXPECT_GT(long_filter.size(), 50000u);
  EXPECT_EQ(cl::GetU16LE(&long_filter[2]), long_filter.size());
}

}  // namespace
}  // namespace tessera
