// Filter text: the compiled buffers byte for byte, one row per message, and random filters run
// through the engine (index-served and record by record) against a predicate written here.
#include "engine/components/TFilterExpr.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// ---- random filters through the engine ----------------------------------------------------

enum DiffField : uint16_t { kId = 1, kNom = 2, kVal = 3, kActif = 4, kMontant = 5 };

// One row as the test knows it; nullopt is a blank field.
struct Row {
  int32_t id = 0;
  std::optional<std::string> nom;
  std::optional<int> val;
  std::optional<bool> actif;
  std::optional<int64_t> cents;
};

// The engine's rules for blanks: "=" with a blank side is false, "<>" true, an ordering false;
// NOT, AND and OR are then plain logic.
using Predicate = std::function<bool(const Row&)>;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

class FilterDifferential : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    dataset_.reset(cl::Create<cl::test::TFakeDataSet>(nullptr));
    dataset_->AddFieldDef("Id", cl::ftInteger);
    dataset_->AddFieldDef("Nom", cl::ftString, 12);
    dataset_->AddFieldDef("Val", cl::ftSmallint);
    dataset_->AddFieldDef("Actif", cl::ftBoolean);
    dataset_->AddFieldDef("Montant", cl::ftBCD, 2);
    dataset_->Open();
  }

  // The same fields as the dataset; with `indexed` an index on each tested field.
  void CreateTable(const std::string& path, bool indexed) {
    using testing::Field;
    using testing::Index;
    TNewTable t;
    TFieldDefinition montant = Field(kMontant, "Montant", kFieldMoney);
    montant.decimals = 2;
    t.fields = {Field(kId, "Id", kFieldInt32), Field(kNom, "Nom", kFieldString, 12),
                Field(kVal, "Val", kFieldInt16), Field(kActif, "Actif", kFieldBoolean), montant};
    t.indexes.push_back(Index("", {kId}, true));
    if (indexed) {
      t.indexes.push_back(Index("ByNom", {kNom}, false));
      TIndexDescriptor ci = Index("ByNomCi", {kNom}, false);
      ci.case_insensitive = 1;
      t.indexes.push_back(ci);
      t.indexes.push_back(Index("ByVal", {kVal}, false));
      t.indexes.push_back(Index("ByActif", {kActif}, false));
      t.indexes.push_back(Index("ByMontant", {kMontant}, false));
    }
    TDataFile d;
    d.SetFileName(path);
    d.SetExclusive(true);
    d.SetupNewTable(std::move(t));
  }

  static void Put(TDataFile& t, uint16_t field, const uint8_t* value, uint8_t* buf) {
    t.PutFieldValue(TFieldSet::kWorking, field, false, value, buf);
  }

  void Insert(TDataFile& t, const Row& row) {
    std::vector<uint8_t> buf(t.GetRecordBufferSize());
    t.ApplyFieldDefaults(buf.data());
    uint8_t bytes[256] = {};
    cl::PutU32LE(bytes, static_cast<uint32_t>(row.id));
    Put(t, kId, bytes, buf.data());
    if (row.nom) {
      uint8_t text[256] = {};
      std::memcpy(text, row.nom->data(), row.nom->size());
      Put(t, kNom, text, buf.data());
    }
    if (row.val) {
      cl::PutU16LE(bytes, static_cast<uint16_t>(*row.val));
      Put(t, kVal, bytes, buf.data());
    }
    if (row.actif) {
      cl::PutU16LE(bytes, *row.actif ? 1 : 0);
      Put(t, kActif, bytes, buf.data());
    }
    if (row.cents) {
      const cl::Currency amount = cl::Currency::FromRaw(*row.cents * 100);
      cl::PutU64LE(bytes, static_cast<uint64_t>(MoneyToStored(2, amount)));
      Put(t, kMontant, bytes, buf.data());
    }
    t.InsertRecord(buf.data());
  }

  static std::set<int32_t> Visible(TDataFile& t) {
    std::set<int32_t> ids;
    std::vector<uint8_t> buf(t.GetRecordBufferSize());
    t.MoveToBeginning();
    while (t.GetNextRecord(buf.data()) == 0) {
      uint8_t id[4];
      t.GetFieldValue(TFieldSet::kTable, kId, id, buf.data());
      ids.insert(static_cast<int32_t>(cl::GetU32LE(id)));
    }
    return ids;
  }

  int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int in) { return Rand(1, in) == 1; }

  Row RandomRow(int32_t id) {
    static const char* kNames[] = {"a",  "A",      "ab",     "AB",     "Ab",  "b",
                                   "Du", "dupont", "DUPONT", "Durand", "du*", "x*"};
    Row r;
    r.id = id;
    if (!Chance(6)) r.nom = kNames[Rand(0, 11)];
    if (!Chance(6)) r.val = Rand(-5, 5);
    if (!Chance(6)) r.actif = Chance(2);
    if (!Chance(6)) r.cents = Rand(-30, 30) * 5;
    return r;
  }

  std::string Name(const char* name) {
    return Chance(3) ? std::string("[") + name + "]" : std::string(name);
  }

  // A comparison of a number field, written either way round.
  std::pair<std::string, Predicate> NumberAtom(bool montant) {
    static const char* kOps[] = {"=", "<>", "<", ">", "<=", ">="};
    static const char* kMirrored[] = {"=", "<>", ">", "<", ">=", "<="};
    const int op = Rand(0, 5);
    std::string constant;
    int64_t value;  // Val itself, or Montant in cents after rounding to two places
    if (montant) {
      // Thousandths, so the constant rounds (halves away from zero) to the field's cents.
      const int thousandths = Rand(-32, 32) * 50 + (Chance(2) ? 0 : Rand(-9, 9));
      char text[32];
      std::snprintf(text, sizeof text, "%s%d.%03d", thousandths < 0 ? "-" : "",
                    std::abs(thousandths) / 1000, std::abs(thousandths) % 1000);
      constant = text;
      value = (std::abs(thousandths) + 5) / 10 * (thousandths < 0 ? -1 : 1);
    } else {
      value = Rand(-6, 6);
      constant = std::to_string(value);
    }
    const std::string name = Name(montant ? "Montant" : "Val");
    std::string text = Chance(2) ? name + " " + kOps[op] + " " + constant
                                 : constant + " " + kMirrored[op] + " " + name;
    return {text, [=](const Row& r) {
              const std::optional<int64_t> f =
                  montant ? r.cents : (r.val ? std::optional<int64_t>(*r.val) : std::nullopt);
              if (!f) return op == 1;
              switch (op) {
                case 0:
                  return *f == value;
                case 1:
                  return *f != value;
                case 2:
                  return *f < value;
                case 3:
                  return *f > value;
                case 4:
                  return *f <= value;
                default:
                  return *f >= value;
              }
            }};
  }

  // Nom = / <> a text, perhaps with a trailing "*", under the round's options.
  std::pair<std::string, Predicate> NameAtom(TFilterOptions options) {
    static const char* kTexts[] = {"a", "A", "ab", "Du", "du", "DU", "dupont", "x", "du*", "*"};
    const std::string constant = std::string(kTexts[Rand(0, 9)]) + (Chance(3) ? "*" : "");
    const bool equal = Chance(3) ? false : true;
    const bool ci = options.Contains(cl::foCaseInsensitive);
    const bool prefix =
        constant.size() >= 2 && constant.back() == '*' && !options.Contains(cl::foNoPartialCompare);
    const std::string wanted = prefix ? constant.substr(0, constant.size() - 1) : constant;
    const std::string name = Name("Nom");
    const std::string quoted = "'" + constant + "'";
    std::string text = Chance(4) ? quoted + (equal ? " = " : " <> ") + name
                                 : name + (equal ? " = " : " <> ") + quoted;
    return {text, [=](const Row& r) {
              if (!r.nom) return !equal;
              std::string value = *r.nom;
              std::string target = wanted;
              if (ci) {
                value = Upper(value);
                target = Upper(target);
              }
              const bool match =
                  prefix ? value.compare(0, target.size(), target) == 0 : value == target;
              return match == equal;
            }};
  }

  std::pair<std::string, Predicate> Atom(TFilterOptions options) {
    static const char* kFields[] = {"Nom", "Val", "Actif", "Montant"};
    switch (Rand(0, 6)) {
      case 0: {
        const int f = Rand(0, 3);
        const bool is_null = Chance(2);
        const std::string name = Name(kFields[f]);
        std::string text = Chance(3) ? std::string("NULL ") + (is_null ? "= " : "<> ") + name
                                     : name + (is_null ? " = NULL" : " <> NULL");
        return {
            text, [=](const Row& r) {
              const bool blank = f == 0 ? !r.nom : f == 1 ? !r.val : f == 2 ? !r.actif : !r.cents;
              return blank == is_null;
            }};
      }
      case 1: {
        // A Boolean field alone, or compared with its own text.
        const int form = Rand(0, 2);
        const std::string name = Name("Actif");
        const std::string text = form == 0   ? name
                                 : form == 1 ? name + " = 'Vrai'"
                                             : name + " <> 'vrai'";
        return {text, [=](const Row& r) {
                  if (!r.actif) return form == 2;
                  return form == 2 ? !*r.actif : *r.actif;
                }};
      }
      case 2:
      case 3:
        return NameAtom(options);
      case 4:
        return NumberAtom(true);
      default:
        return NumberAtom(false);
    }
  }

  std::pair<std::string, Predicate> Condition(int depth, TFilterOptions options) {
    if (depth == 0 || Chance(3)) return Atom(options);
    auto [a, pa] = Condition(depth - 1, options);
    switch (Rand(0, 2)) {
      case 0: {
        auto [b, pb] = Condition(depth - 1, options);
        return {"(" + a + ") and (" + b + ")", [pa, pb](const Row& r) { return pa(r) && pb(r); }};
      }
      case 1: {
        auto [b, pb] = Condition(depth - 1, options);
        return {"(" + a + ") OR (" + b + ")", [pa, pb](const Row& r) { return pa(r) || pb(r); }};
      }
      default:
        return {"NOT (" + a + ")", [pa](const Row& r) { return !pa(r); }};
    }
  }

  mirvel_test::TempDirectory dir_;
  std::unique_ptr<cl::test::TFakeDataSet> dataset_;
  std::mt19937 rng_;
};

TEST_F(FilterDifferential, EngineShowsWhatThePredicateSelects) {
  const char* given = std::getenv("MIRVEL_SEED");
  const uint32_t seed = given != nullptr ? static_cast<uint32_t>(std::strtoul(given, nullptr, 10))
                                         : std::random_device{}();
  std::printf("seed %u (MIRVEL_SEED replays it)\n", seed);
  rng_.seed(seed);
  for (const bool indexed : {true, false}) {
    SCOPED_TRACE(indexed ? "index-served" : "record by record");
    const std::string path = dir_.File(indexed ? "Indexed" : "Plain");
    CreateTable(path, indexed);
    TDataFile table;
    table.SetFileName(path);
    table.Open();
    std::vector<Row> rows;
    for (int32_t id = 1; id <= 300; ++id) {
      rows.push_back(RandomRow(id));
      Insert(table, rows.back());
    }
    // Each kind of condition alone is served by an index there (a Boolean against 0xFFFF, money
    // in 1/10000 units against stored cents), so the rounds below compare that path too.
    if (indexed) {
      for (const char* text : {"Actif", "Actif <> 'Faux'", "Montant >= 0.125", "Montant = -0.25",
                               "Val > -3", "Nom = 'Du*'", "Nom = NULL"}) {
        TFilter* probe = nullptr;
        ASSERT_EQ(MakeTextFilter(table, *dataset_, text, {}, &probe), 0);
        EXPECT_EQ(probe->evaluation_class, 0) << text;
        ASSERT_EQ(table.DropFilter(probe), 0);
      }
    }
    int served = 0;
    for (int round = 0; round < 600; ++round) {
      TFilterOptions options;
      if (Chance(3)) options.Include(cl::foCaseInsensitive);
      if (Chance(4)) options.Include(cl::foNoPartialCompare);
      auto [text, predicate] = Condition(3, options);
      SCOPED_TRACE(text + (options.Contains(cl::foCaseInsensitive) ? " [ci]" : "") +
                   (options.Contains(cl::foNoPartialCompare) ? " [no partial]" : ""));
      std::set<int32_t> expected;
      for (const Row& r : rows) {
        if (predicate(r)) expected.insert(r.id);
      }
      TFilter* filter = nullptr;
      ASSERT_EQ(MakeTextFilter(table, *dataset_, text, options, &filter), 0);
      ASSERT_EQ(table.ActivateFilter(filter), 0);
      if (filter->evaluation_class == 0) ++served;
      ASSERT_EQ(Visible(table), expected);
      ASSERT_EQ(table.DropFilter(filter), 0);
    }
    if (indexed) {
      EXPECT_GT(served, 100);
    }
  }
}

// Locate conditions and the record callback, on fixed rows.
TEST_F(FilterDifferential, LocateAndCallbackFilters) {
  const std::string path = dir_.File("Locate");
  CreateTable(path, true);
  TDataFile table;
  table.SetFileName(path);
  table.Open();
  const std::vector<Row> rows = {{1, "dupont", 3, true, 125},   {2, "DUPONT", 33, false, 0},
                                 {3, "du*", -3, {}, -5},        {4, {}, 3, true, {}},
                                 {5, "Durand", {}, false, 125}, {6, "x", 3, true, 12}};
  for (const Row& r : rows) Insert(table, r);
  cl::TDataSet& ds = *dataset_;
  auto field = [&](const char* name) { return ds.FieldByName(name); };
  using cl::loCaseInsensitive;
  using cl::loPartialKey;
  struct Case {
    std::vector<cl::TField*> fields;
    cl::Variant values;
    cl::TLocateOptions options;
    std::set<int32_t> ids;
  };
  const Case cases[] = {
      {{field("Nom")}, "dupont", {}, {1}},
      {{field("Nom")}, "dupont", {loCaseInsensitive}, {1, 2}},
      {{field("Nom")}, "du", {loPartialKey}, {1, 3}},
      {{field("Nom")}, "DU", {loPartialKey, loCaseInsensitive}, {1, 2, 3, 5}},
      // A located value ending in "*" is taken literally.
      {{field("Nom")}, "du*", {}, {3}},
      {{field("Nom")}, cl::Variant::Null(), {}, {4}},
      // Partial and case options do not touch a number: 3 is not a prefix of 33.
      {{field("Val")}, 3, {loPartialKey, loCaseInsensitive}, {1, 4, 6}},
      {{field("Nom"), field("Val")}, cl::VarArrayOf({"x", 3}), {}, {6}},
      {{field("Actif"), field("Montant")}, cl::VarArrayOf({true, 1.25}), {}, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    TFilter* filter = nullptr;
    ASSERT_EQ(MakeLocateFilter(table, ds, c.fields, c.values, c.options, &filter), 0);
    ASSERT_EQ(table.ActivateFilter(filter), 0);
    EXPECT_EQ(Visible(table), c.ids);
    ASSERT_EQ(table.DropFilter(filter), 0);
  }

  std::vector<uint32_t> asked;
  TFilter* filter = nullptr;
  ASSERT_EQ(MakeCallbackFilter(
                table, &asked,
                [](void* data, const uint8_t*, uint32_t number) {
                  static_cast<std::vector<uint32_t>*>(data)->push_back(number);
                  return number % 2 == 0;
                },
                &filter),
            0);
  ASSERT_EQ(table.ActivateFilter(filter), 0);
  EXPECT_EQ(Visible(table), (std::set<int32_t>{2, 4, 6}));
  EXPECT_EQ(asked.size(), rows.size());
}

}  // namespace
}  // namespace tessera
