// The in-memory dataset's filter language, as a table of filters and the records they accept.
#include "components/data/TFilterEvaluator.h"

#include <gtest/gtest.h>

#include "classlib/db/TFields.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {
namespace {

using namespace cl;

class FilterEvaluatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = std::make_unique<TComponent>(nullptr);
    ds_ = Create<TVirtualDataSet>(owner_.get());
    for (const char* name : {"Numero", "A", "B", "C"}) Add<TIntegerField>(name);
    Add<TStringField>("Nom", 12);
    Add<TStringField>("Prenom", 12);
    auto* calc = Add<TStringField>("Calcul", 12);
    calc->SetFieldKind(fkCalculated);
    ds_->Open();
    struct Row {
      int numero, a, b, c;  // numero -1: NULL
      const char* nom;
      const char* prenom;
    };
    // clang-format off
    const Row rows[] = {
        {1, 1, 0, 3, "DUPONT", "Jean"},
        {2, 0, 2, 3, "Dupont", "Dupont"},
        {3, 1, 2, 0, "DUPUIS", "a*"},
        {-1, 0, 0, 3, "LEDUP", "Paul"},
        {5, 0, 0, 0, "a*b", "a*b"},
        {6, 1, 1, 1, nullptr, "Luc"},
    };
    // clang-format on
    for (const Row& row : rows) {
      ds_->Append();
      if (row.numero >= 0) ds_->FieldByName("Numero")->SetAsInteger(row.numero);
      ds_->FieldByName("A")->SetAsInteger(row.a);
      ds_->FieldByName("B")->SetAsInteger(row.b);
      ds_->FieldByName("C")->SetAsInteger(row.c);
      if (row.nom != nullptr) ds_->FieldByName("Nom")->SetAsString(row.nom);
      ds_->FieldByName("Prenom")->SetAsString(row.prenom);
      ds_->Post();
    }
  }

  template <class T>
  TField* Add(const char* name, int size = 0) {
    auto* field = Create<T>(owner_.get());
    field->SetFieldName(name);
    if (size > 0) field->SetSize(size);
    field->SetDataSet(ds_);
    return field;
  }

  std::vector<int> Accepted(const std::string& filter, TFilterOptions options) {
    ds_->SetFiltered(false);
    ds_->SetFilterOptions(options);
    ds_->SetFilter(filter);
    ds_->SetFiltered(true);
    // The accepted rows, named by their position among all records (1-based).
    std::vector<int> all;
    for (ds_->First(); !ds_->Eof(); ds_->Next()) {
      std::string key =
          ds_->FieldByName("Prenom")->AsString() + "|" + ds_->FieldByName("Nom")->AsString();
      all.push_back(RowOf(key));
    }
    return all;
  }

  int RowOf(const std::string& key) {
    static const char* keys[] = {"Jean|DUPONT", "Dupont|Dupont", "a*|DUPUIS",
                                 "Paul|LEDUP",  "a*b|a*b",       "Luc|"};
    for (int i = 0; i < 6; ++i) {
      if (key == keys[i]) return i + 1;
    }
    return 0;
  }

  std::unique_ptr<TComponent> owner_;
  TVirtualDataSet* ds_ = nullptr;
};

TEST_F(FilterEvaluatorTest, FiltersAcceptTheRecordsTheyDescribe) {
  const TFilterOptions none;
  const TFilterOptions ci{foCaseInsensitive};
  const TFilterOptions literal{foNoPartialCompare};
  struct Case {
    std::string filter;
    TFilterOptions options;
    std::vector<int> rows;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"Nom = 'DUP*'", none, {1, 3}},
      {"Nom = '*DUP'", none, {4}},
      {"Nom = '*DUP*'", none, {1, 3, 4}},
      {"Nom <> '*DUP*'", none, {2, 5, 6}},
      {"nom = '*dup*'", ci, {1, 2, 3, 4}},
      {"Nom = 'a*b'", literal, {5}},
      {"Nom = 'dupont'", ci, {1, 2}},
      {"Nom = 'dupont'", none, {}},
      {"Nom = Prenom", none, {2, 5}},           // two fields: the star is a character
      {"Prenom = 'a*'", literal, {3}},
      {"A = 1 OR B = 2 AND C = 3", none, {1, 2}},  // (A = 1 OR B = 2) AND C = 3
      {"A = 1 OR (B = 2 AND C = 3)", none, {1, 2, 3, 6}},
      {"Numero = NULL", none, {4}},
      {"Numero <> NULL AND Numero >= 3", none, {3, 5, 6}},
      {"Nom = ''", none, {6}},                  // a NULL string reads as an empty text
      {"", none, {1, 2, 3, 4, 5, 6}},
      {"  True  ", none, {1, 2, 3, 4, 5, 6}},
      {"[Numero] > 4 and false", none, {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(Accepted(c.filter, c.options), c.rows) << c.filter;
  }
}

TEST_F(FilterEvaluatorTest, OnFilterRecordRunsAfterTheExpression) {
  ds_->SetFiltered(true);
  ds_->SetOnFilterRecord([](TDataSet* dataset, bool& accept) {
    accept = accept && dataset->FieldByName("C")->AsInteger() == 3;
  });
  EXPECT_EQ(ds_->RecordCount(), 3);
  ds_->SetFilter("A = 1");
  EXPECT_EQ(ds_->RecordCount(), 1);
}

TEST_F(FilterEvaluatorTest, AFilterThatDoesNotCompileLeavesThePreviousInForce) {
  ds_->SetFilter("A = 1");
  ds_->SetFiltered(true);
  ASSERT_EQ(ds_->RecordCount(), 3);
  try {
    ds_->SetFilter("Calcul = 'x'");
    FAIL();
  } catch (const EEvaluatorError& e) {
    EXPECT_EQ(e.Message(), "Symbole inconnu : \"Calcul\"");
  }
  EXPECT_EQ(ds_->Filter(), "A = 1");
  EXPECT_EQ(ds_->RecordCount(), 3);
  EXPECT_THROW(ds_->SetFilter("Nom AND A"), EEvaluatorError);  // string AND integer
  // A posted record is tested against the filter in force.
  ds_->Append();
  ds_->FieldByName("A")->SetAsInteger(2);
  ds_->Post();
  EXPECT_EQ(ds_->RecordCount(), 3);
  ds_->Append();
  ds_->FieldByName("A")->SetAsInteger(1);
  ds_->Post();
  EXPECT_EQ(ds_->RecordCount(), 4);
  EXPECT_EQ(ds_->FieldByName("A")->AsInteger(), 1);
}

}  // namespace
}  // namespace comp
