// The in-memory dataset against a plain model: seeded random operations, each followed by a
// check of the whole view; then the edge cases the model does not reach.
#include "components/data/TVirtualDataSet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>

#include "classlib/db/TBlobField.h"
#include "classlib/db/TFields.h"
#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Filer.h"
#include "classlib/rtl/Loader.h"

namespace comp {
namespace {

using namespace cl;

struct Rec {
  int ident;
  std::optional<int> numero;
  std::optional<std::string> nom;
};

struct IndexSpec {
  std::string names;  // "", "Numero", "Nom", "Nom;Numero"
  bool descending = false;
  bool case_insensitive = false;
  bool unique = false;
};

// One filter text and the predicate it means.
struct FilterSpec {
  std::string text;
  std::function<bool(const Rec&)> accept;
};

int CompareNom(const std::optional<std::string>& a, const std::optional<std::string>& b, bool ci) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  return ci ? CompareText(*a, *b) : CompareStr(*a, *b);
}

int CompareNumero(const std::optional<int>& a, const std::optional<int>& b) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

int CompareKeys(const Rec& a, const Rec& b, const IndexSpec& index, int field_count = 2) {
  int c = 0;
  if (index.names == "Numero") {
    c = CompareNumero(a.numero, b.numero);
  } else if (index.names == "Nom") {
    c = CompareNom(a.nom, b.nom, index.case_insensitive);
  } else if (index.names == "Nom;Numero") {
    c = CompareNom(a.nom, b.nom, index.case_insensitive);
    if (c == 0 && field_count > 1) c = CompareNumero(a.numero, b.numero);
  }
  c = c < 0 ? -1 : (c > 0 ? 1 : 0);
  return index.descending ? -c : c;
}

class VirtualDataSetModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = std::make_unique<TComponent>(nullptr);
    ds_ = Create<TVirtualDataSet>(owner_.get());
    ident_ = AddField<TIntegerField>("Ident");
    numero_ = AddField<TIntegerField>("Numero");
    nom_ = AddField<TStringField>("Nom", 8);
    texte_ = AddField<TMemoField>("Texte");
    ds_->Open();
  }

  template <class T>
  TField* AddField(const char* name, int size = 0) {
    auto* field = Create<T>(owner_.get());
    field->SetFieldName(name);
    if (size > 0) field->SetSize(size);
    field->SetDataSet(ds_);
    return field;
  }

  void SetValues(const Rec& rec) {
    ident_->SetAsInteger(rec.ident);
    if (rec.numero) {
      numero_->SetAsInteger(*rec.numero);
    } else {
      numero_->Clear();
    }
    if (rec.nom) {
      nom_->SetAsString(*rec.nom);
    } else {
      nom_->Clear();
    }
    texte_->SetAsString("texte " + std::to_string(rec.ident) + "\r\nligne");
  }

  Rec Current() {
    Rec rec{ident_->AsInteger(), std::nullopt, std::nullopt};
    if (!numero_->IsNull()) rec.numero = numero_->AsInteger();
    if (!nom_->IsNull()) rec.nom = nom_->AsString();
    return rec;
  }

  bool InView(const Rec& rec) const {
    if (range_ && !(CompareKeys(rec, range_->first, index_, 1) >= 0 &&
                    CompareKeys(rec, range_->second, index_, 1) <= 0)) {
      return false;
    }
    return !filter_ || filter_->accept(rec);
  }

  std::vector<Rec> ExpectedView() const {
    std::vector<Rec> all;
    for (int ident : order_) all.push_back(records_.at(ident));
    if (!index_.names.empty()) {
      std::stable_sort(all.begin(), all.end(),
                       [&](const Rec& a, const Rec& b) { return CompareKeys(a, b, index_) < 0; });
    }
    std::vector<Rec> view;
    for (const Rec& rec : all) {
      if (InView(rec)) view.push_back(rec);
    }
    return view;
  }

  // The view as the dataset shows it, walking it; the position is restored.
  std::vector<Rec> ActualView() {
    int recno = ds_->RecNo();
    std::vector<Rec> view;
    ds_->DisableControls();
    for (ds_->First(); !ds_->Eof(); ds_->Next()) {
      view.push_back(Current());
      EXPECT_EQ(texte_->AsString(), "texte " + std::to_string(view.back().ident) + "\r\nligne");
    }
    ds_->EnableControls();
    if (recno > 0) ds_->SetRecNo(recno);
    return view;
  }

  void CheckView(const std::string& step) {
    SCOPED_TRACE(step);
    std::vector<Rec> expected = ExpectedView();
    int recno = ds_->RecNo();
    std::optional<int> current;
    if (!ds_->IsEmpty()) current = ident_->AsInteger();
    std::vector<Rec> actual = ActualView();
    ASSERT_EQ(ds_->RecordCount(), static_cast<int>(expected.size()));
    ASSERT_EQ(actual.size(), expected.size());
    if (index_.names.empty()) {
      for (size_t i = 0; i < actual.size(); ++i) ASSERT_EQ(actual[i].ident, expected[i].ident);
    } else {
      // Equal keys may come in any order: same members, and keys in order.
      std::vector<int> a;
      std::vector<int> e;
      for (size_t i = 0; i < actual.size(); ++i) {
        a.push_back(actual[i].ident);
        e.push_back(expected[i].ident);
        if (i > 0) {
          ASSERT_LE(CompareKeys(actual[i - 1], actual[i], index_), 0) << i;
        }
      }
      std::sort(a.begin(), a.end());
      std::sort(e.begin(), e.end());
      ASSERT_EQ(a, e);
    }
    for (const Rec& rec : actual) {
      const Rec& model = records_.at(rec.ident);
      ASSERT_EQ(rec.numero, model.numero);
      ASSERT_EQ(rec.nom, model.nom);
    }
    if (expected.empty()) {
      ASSERT_EQ(recno, 0);
      ASSERT_TRUE(ds_->IsEmpty());
    } else {
      ASSERT_TRUE(current.has_value());
      ASSERT_GE(recno, 1);
      ASSERT_EQ(actual[static_cast<size_t>(recno - 1)].ident, *current);
      ASSERT_EQ(ident_->AsInteger(), *current);
    }
    actual_ = std::move(actual);
  }

  int PositionOf(int ident) const {
    for (size_t i = 0; i < actual_.size(); ++i) {
      if (actual_[i].ident == ident) return static_cast<int>(i);
    }
    return -1;
  }

  Rec RandomRec(std::mt19937& rng) {
    static const char* kNoms[] = {"ab", "Ab", "AB", "b", "ba", "abc", "B", "c"};
    Rec rec{next_ident_++, std::nullopt, std::nullopt};
    if (rng() % 6 != 0) rec.numero = static_cast<int>(rng() % 40);
    if (rng() % 6 != 0) rec.nom = kNoms[rng() % 8];
    return rec;
  }

  bool ViolatesUnique(const Rec& rec, int self) const {
    std::vector<IndexSpec> all = maintained_;
    all.push_back(index_);
    for (const IndexSpec& index : all) {
      if (!index.unique || index.names.empty()) continue;
      for (const auto& [ident, other] : records_) {
        if (ident != self && CompareKeys(rec, other, index) == 0) return true;
      }
    }
    return false;
  }

  bool HasDuplicates(const IndexSpec& index) const {
    for (const auto& [a, ra] : records_) {
      for (const auto& [b, rb] : records_) {
        if (a < b && CompareKeys(ra, rb, index) == 0) return true;
      }
    }
    return false;
  }

  static bool SameSpec(const IndexSpec& a, const IndexSpec& b) {
    if (a.names.empty() && b.names.empty()) return true;
    return a.names == b.names && a.descending == b.descending &&
           a.case_insensitive == b.case_insensitive && a.unique == b.unique;
  }

  // The index switch as the model sees it: exchange with a maintained definition, or a sort.
  // Returns false when the sort must refuse duplicates.
  bool ModelSetIndex(IndexSpec next, bool maintain) {
    if (next.names.empty()) next = IndexSpec{};
    if (SameSpec(next, index_)) return true;
    auto found = std::find_if(maintained_.begin(), maintained_.end(),
                              [&](const IndexSpec& m) { return SameSpec(m, next); });
    if (found == maintained_.end() && !maintain && !next.names.empty()) {
      // A maintained definition differing only by uniqueness is taken as it is.
      found = std::find_if(maintained_.begin(), maintained_.end(), [&](const IndexSpec& m) {
        return m.names == next.names && m.descending == next.descending &&
               m.case_insensitive == next.case_insensitive;
      });
    }
    if (next.unique && HasDuplicates(next) && (found == maintained_.end() || !found->unique)) {
      return false;
    }
    if (found == maintained_.end() && maintain && !next.names.empty()) {
      maintained_.push_back(next);
      found = maintained_.end() - 1;
    }
    if (found != maintained_.end()) {
      if (index_.names.empty()) {
        maintained_.erase(found);
      } else {
        *found = index_;
      }
      index_ = next;
      list_is_maintained_ = true;
    } else {
      if (list_is_maintained_) maintained_.push_back(index_);
      index_ = next;
      list_is_maintained_ = false;
    }
    return true;
  }

  std::unique_ptr<TComponent> owner_;
  TVirtualDataSet* ds_ = nullptr;
  TField* ident_ = nullptr;
  TField* numero_ = nullptr;
  TField* nom_ = nullptr;
  TField* texte_ = nullptr;

  std::map<int, Rec> records_;
  std::vector<int> order_;  // the record list's order while there is no index
  IndexSpec index_;
  std::vector<IndexSpec> maintained_;
  bool list_is_maintained_ = false;
  std::optional<std::pair<Rec, Rec>> range_;
  std::optional<FilterSpec> filter_;
  std::vector<Rec> actual_;
  int next_ident_ = 1;
};

TEST_F(VirtualDataSetModelTest, RandomOperationsMatchTheModel) {
  const std::vector<FilterSpec> filters = {
      {"Numero > 15", [](const Rec& r) { return r.numero && *r.numero > 15; }},
      {"Nom = 'a*'", [](const Rec& r) { return r.nom && r.nom->rfind('a', 0) == 0; }},
      {"Numero = NULL", [](const Rec& r) { return !r.numero; }},
      {"Numero >= 10 AND Nom <> 'b'",
       [](const Rec& r) { return r.numero && *r.numero >= 10 && r.nom.value_or("") != "b"; }},
      {"Nom = '*b*' OR Numero < 8 AND Numero <> NULL",
       [](const Rec& r) {
         return (r.nom.value_or("").find('b') != std::string::npos ||
                 (r.numero && *r.numero < 8)) &&
                r.numero.has_value();
       }},
  };
  const std::vector<IndexSpec> indexes = {
      {"", false, false, false},          {"Numero", false, false, false},
      {"Numero", true, false, false},     {"Nom", false, true, false},
      {"Nom", true, false, false},        {"Nom;Numero", false, false, false},
      {"Nom;Numero", true, true, false},  {"Numero", false, false, true},
      {"Nom;Numero", false, false, true},
  };
  unsigned seed = std::random_device{}();
  if (const char* fixed = std::getenv("MIRVEL_SEED"))
    seed = static_cast<unsigned>(std::stoul(fixed));
  std::printf("seed %u (MIRVEL_SEED replays)\n", seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  size_t largest = 0;
  for (int step = 0; step < 1500; ++step) {
    int op = static_cast<int>(rng() % 20);
    if (op >= 16) op = static_cast<int>(rng() % 3);                 // mostly growing
    if (op == 14 && (filter_ || range_ || rng() % 4 != 0)) op = 6;  // a reload keeps the view
    std::string name = "step " + std::to_string(step) + " op " + std::to_string(op);
    bool has_current = !ds_->IsEmpty();
    switch (op) {
      case 0:
      case 1:
      case 2: {  // append or insert
        Rec rec = RandomRec(rng);
        bool insert = op == 2 && has_current && !filter_;
        int before = has_current ? ident_->AsInteger() : 0;
        if (insert) {
          ds_->Insert();
        } else {
          ds_->Append();
        }
        SetValues(rec);
        if (ViolatesUnique(rec, 0)) {
          EXPECT_THROW(ds_->Post(), Exception) << name;
          ds_->Cancel();
          break;
        }
        ds_->Post();
        records_[rec.ident] = rec;
        auto at = insert ? std::find(order_.begin(), order_.end(), before) : order_.end();
        order_.insert(at, rec.ident);
        if (InView(rec)) {
          EXPECT_EQ(ident_->AsInteger(), rec.ident) << name;
          if (!index_.names.empty()) {
            // A key equal to others goes before them.
            CheckView(name);
            int pos = PositionOf(rec.ident);
            ASSERT_TRUE(pos == 0 ||
                        CompareKeys(actual_[static_cast<size_t>(pos - 1)], rec, index_) < 0)
                << name;
          }
        }
        break;
      }
      case 3:
      case 4: {  // edit
        if (!has_current) break;
        Rec rec = records_.at(ident_->AsInteger());
        Rec changed = RandomRec(rng);
        --next_ident_;
        changed.ident = rec.ident;
        if (rng() % 2) changed.nom = rec.nom;  // key kept under a Nom index
        ds_->Edit();
        SetValues(changed);
        if (ViolatesUnique(changed, rec.ident)) {
          EXPECT_THROW(ds_->Post(), Exception) << name;
          ds_->Cancel();
          break;
        }
        ds_->Post();
        records_[rec.ident] = changed;
        if (InView(changed)) {
          EXPECT_EQ(ident_->AsInteger(), rec.ident) << name;
        }
        break;
      }
      case 5: {  // delete
        if (!has_current) break;
        CheckView(name + " before delete");
        int pos = ds_->RecNo() - 1;
        int ident = ident_->AsInteger();
        ds_->Delete();
        records_.erase(ident);
        std::erase(order_, ident);
        std::vector<Rec> view = ExpectedView();
        if (!view.empty()) {
          CheckView(name);
          EXPECT_EQ(ds_->RecNo() - 1, std::min(pos, static_cast<int>(view.size()) - 1)) << name;
        }
        break;
      }
      case 6:  // moves
        switch (rng() % 5) {
          case 0:
            ds_->First();
            break;
          case 1:
            ds_->Last();
            break;
          case 2:
            ds_->MoveBy(static_cast<int>(rng() % 7) - 3);
            break;
          case 3:
            if (ds_->RecordCount() > 0) {
              ds_->SetRecNo(1 +
                            static_cast<int>(rng() % static_cast<unsigned>(ds_->RecordCount())));
            }
            break;
          default:
            ds_->Next();
            break;
        }
        break;
      case 7: {  // index change (ranges are dropped first: their values belong to one key)
        if (range_) {
          ds_->CancelRange();
          range_.reset();
        }
        IndexSpec next = indexes[rng() % indexes.size()];
        TIndexOptions options;
        if (next.descending) options.Include(ixDescending);
        if (next.case_insensitive) options.Include(ixCaseInsensitive);
        if (next.unique) options.Include(ixUnique);
        bool maintain = rng() % 2 == 0;
        if (next.names.empty() && !index_.names.empty()) {
          // The record list keeps the sorted order the index left.
          if (filter_) {
            ds_->SetFiltered(false);
            filter_.reset();
          }
          CheckView(name + " before index removal");
        }
        std::vector<int> sorted_order;
        for (const Rec& rec : actual_) sorted_order.push_back(rec.ident);
        IndexSpec before = index_;
        if (!ModelSetIndex(next, maintain)) {
          EXPECT_THROW(ds_->SetIndex(next.names, options, maintain), Exception) << name;
        } else {
          ds_->SetIndex(next.names, options, maintain);
          if (index_.names.empty() && !before.names.empty()) order_ = sorted_order;
        }
        break;
      }
      case 8: {  // range on the first index field
        if (index_.names.empty()) break;
        Rec a = RandomRec(rng);
        Rec b = RandomRec(rng);
        next_ident_ -= 2;
        bool on_nom = index_.names.rfind("Nom", 0) == 0;
        Variant va =
            on_nom ? (a.nom ? Variant(*a.nom) : Variant("ab")) : Variant(a.numero.value_or(3));
        Variant vb =
            on_nom ? (b.nom ? Variant(*b.nom) : Variant("b")) : Variant(b.numero.value_or(6));
        a.nom = on_nom ? std::optional<std::string>(va.AsString()) : std::nullopt;
        b.nom = on_nom ? std::optional<std::string>(vb.AsString()) : std::nullopt;
        a.numero = on_nom ? std::nullopt : std::optional<int>(va.AsInteger());
        b.numero = on_nom ? std::nullopt : std::optional<int>(vb.AsInteger());
        ds_->SetRangeStart(va);
        ds_->SetRangeEnd(vb);
        ds_->ApplyRange();
        range_ = std::make_pair(a, b);
        break;
      }
      case 9:
        if (range_) {
          ds_->CancelRange();
          range_.reset();
        }
        break;
      case 10: {  // filter
        if (rng() % 3 == 0) {
          ds_->SetFiltered(false);
          filter_.reset();
        } else {
          const FilterSpec& spec = filters[rng() % filters.size()];
          ds_->SetFilter(spec.text);
          ds_->SetFiltered(true);
          filter_ = spec;
        }
        break;
      }
      case 11:
      case 12: {  // locate, partial or case-insensitive on Nom, or on Numero
        CheckView(name + " before locate");
        int before = ds_->IsEmpty() ? 0 : ident_->AsInteger();
        bool on_nom = rng() % 2 == 0;
        TLocateOptions options;
        if (rng() % 2) options.Include(loCaseInsensitive);
        if (rng() % 2) options.Include(loPartialKey);
        std::string text = std::string(1, "aAbBc"[rng() % 5]);
        int number = static_cast<int>(rng() % 45);
        auto matches = [&](const Rec& r) {
          if (!on_nom) return r.numero == number;
          if (!r.nom) return false;
          std::string value = *r.nom;
          if (options.Contains(loPartialKey)) value = value.substr(0, text.size());
          return options.Contains(loCaseInsensitive) ? CompareText(value, text) == 0
                                                     : value == text;
        };
        int first = -1;
        for (size_t i = 0; i < actual_.size() && first < 0; ++i) {
          if (matches(actual_[i])) first = static_cast<int>(i);
        }
        bool found = on_nom ? ds_->Locate("Nom", Variant(text), options)
                            : ds_->Locate("Numero", Variant(number), options);
        ASSERT_EQ(found, first >= 0) << name;
        if (found) {
          EXPECT_EQ(ident_->AsInteger(), actual_[static_cast<size_t>(first)].ident) << name;
        } else if (before != 0) {
          EXPECT_EQ(ident_->AsInteger(), before) << name;
        }
        break;
      }
      case 13: {  // lookup never moves
        CheckView(name + " before lookup");
        int before = ds_->IsEmpty() ? 0 : ident_->AsInteger();
        int number = static_cast<int>(rng() % 45);
        Variant result = ds_->Lookup("Numero", Variant(number), "Ident;Nom");
        const Rec* first = nullptr;
        for (const Rec& rec : actual_) {
          if (rec.numero == number) {
            first = &rec;
            break;
          }
        }
        ASSERT_EQ(result.IsNull(), first == nullptr) << name;
        if (first != nullptr) {
          EXPECT_EQ(result[0].AsInteger(), first->ident) << name;
        }
        if (before != 0) {
          EXPECT_EQ(ident_->AsInteger(), before) << name;
        }
        break;
      }
      case 14: {  // save and load the view
        CheckView(name + " before save");
        TMemoryStream bytes;
        ds_->SaveToStream(bytes);
        bytes.SetPosition(0);
        ds_->LoadFromStream(bytes);
        std::map<int, Rec> kept;
        order_.clear();
        for (const Rec& rec : actual_) {
          kept[rec.ident] = records_.at(rec.ident);
          order_.push_back(rec.ident);
        }
        records_ = std::move(kept);
        break;
      }
      default:
        break;
    }
    CheckView(name);
    if (HasFatalFailure()) return;
    largest = std::max(largest, records_.size());
  }
  std::printf("most records %zu, records at the end %zu\n", largest, records_.size());
  EXPECT_GT(largest, 15u);  // the run really exercised a populated dataset
}

// ---- edge cases --------------------------------------------------------------------------------

class VirtualDataSetTest : public VirtualDataSetModelTest {
 protected:
  void Add(int ident, std::optional<int> numero, std::optional<std::string> nom) {
    ds_->Append();
    SetValues({ident, numero, nom});
    ds_->Post();
  }

  std::vector<int> Idents() {
    std::vector<int> idents;
    for (const Rec& rec : ActualView()) idents.push_back(rec.ident);
    return idents;
  }
};

TEST_F(VirtualDataSetTest, EmptyRawDataOpensAnEmptyActiveDataset) {
  std::vector<TStoredProperty> stored = TPropertyWriter::Collect(*ds_);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].name, "RawData");
  EXPECT_EQ(stored[0].bytes, (std::vector<uint8_t>{4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  ds_->Close();
  EXPECT_TRUE(TPropertyWriter::Collect(*ds_).empty());  // written only while active
}

TEST_F(VirtualDataSetTest, RawDataLoadsAfterTheFormIsRead) {
  Add(1, 5, "x");
  Add(2, std::nullopt, "y");
  ds_->SetFilter("Numero = 5");
  ds_->SetFiltered(true);  // writing switches the filter off and back on
  std::vector<uint8_t> raw = TPropertyWriter::Collect(*ds_)[0].bytes;
  EXPECT_TRUE(ds_->Filtered());
  EXPECT_EQ(ds_->RecordCount(), 1);
  for (bool empty : {false, true}) {
    TComponent root(nullptr);
    TLoader loader(&root);
    auto* temp = loader.Create<TVirtualDataSet>(&root, "TempMultiPost");
    for (const char* name : {"Ident", "Numero"}) {
      auto* field = loader.Create<TIntegerField>(&root, std::string("TempMultiPost") + name);
      field->SetFieldName(name);
      field->SetDataSet(temp);
    }
    auto* nom = loader.Create<TStringField>(&root, "TempMultiPostNom");
    nom->SetFieldName("Nom");
    nom->SetSize(8);
    nom->SetDataSet(temp);
    auto* texte = loader.Create<TMemoField>(&root, "TempMultiPostTexte");
    texte->SetFieldName("Texte");
    texte->SetDataSet(temp);
    temp->SetActive(true);
    loader.DefineData(temp, "RawData",
                      empty ? std::vector<uint8_t>{4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF} : raw);
    loader.Finish();
    ASSERT_TRUE(temp->Active());
    EXPECT_EQ(temp->RecordCount(), empty ? 0 : 2);
    if (!empty) {
      temp->Last();
      EXPECT_TRUE(temp->FieldByName("Numero")->IsNull());
      EXPECT_EQ(temp->FieldByName("Texte")->AsString(), "texte 2\r\nligne");
    }
  }
}

TEST_F(VirtualDataSetTest, NullsSortFirstAscendingAndLastDescending) {
  Add(1, 5, "x");
  Add(2, std::nullopt, "y");
  Add(3, 1, "z");
  Add(4, std::nullopt, "w");
  ds_->SetIndexFieldNames("Numero");
  std::vector<int> ascending = Idents();
  EXPECT_EQ(std::vector<int>(ascending.begin() + 2, ascending.end()), (std::vector<int>{3, 1}));
  ds_->SetIndexOptions(TIndexOptions{ixDescending, ixPrimary, ixExpression});
  EXPECT_EQ(ds_->IndexOptions(), TIndexOptions{ixDescending});  // the others are dropped
  std::vector<int> descending = Idents();
  EXPECT_EQ(std::vector<int>(descending.begin(), descending.begin() + 2), (std::vector<int>{1, 3}));
  // The same names in another case change nothing.
  ds_->SetIndexFieldNames("NUMERO");
  EXPECT_EQ(ds_->IndexFieldNames(), "Numero");
}

TEST_F(VirtualDataSetTest, UniqueFailuresLeaveEveryListAsItWas) {
  Add(1, 5, "x");
  Add(2, 5, "y");
  Add(3, 1, "z");
  ds_->SetIndexFieldNames("Nom");
  std::vector<int> before = Idents();
  try {
    ds_->SetIndex("Numero", TIndexOptions{ixUnique}, false);
    FAIL() << "duplicate keys accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "Cl\xE9 dupliqu\xE9"
              "e dans l'index \"Numero\"");
  }
  EXPECT_EQ(Idents(), before);
  EXPECT_EQ(ds_->IndexFieldNames(), "Nom");
  ds_->SetIndex("Nom", TIndexOptions{ixUnique}, false);
  ds_->Append();
  SetValues({4, 9, "y"});
  try {
    ds_->Post();
    FAIL() << "unique violation accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Validation impossible : violation de cl\xE9 dans l'index \"Nom\" !");
  }
  ds_->Cancel();
  EXPECT_EQ(Idents(), before);
}

TEST_F(VirtualDataSetTest, IndexOnACalculatedFieldIsRefused) {
  ds_->Close();
  auto* calc = Create<TStringField>(owner_.get());
  calc->SetFieldName("Calcul");
  calc->SetFieldKind(fkCalculated);
  calc->SetDataSet(ds_);
  ds_->Open();
  try {
    ds_->SetIndexFieldNames("Calcul");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Type de champ incompatible pour les indexs : Calcul, fkCalculated");
  }
}

TEST_F(VirtualDataSetTest, RangesFollowTheirBoundsAndSurviveClosing) {
  for (int i = 1; i <= 6; ++i) Add(i, i * 10, "n");
  ds_->SetRangeStart(Variant(20));
  ds_->SetRangeEnd(Variant(45));
  try {
    ds_->ApplyRange();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "Il n'y a pas d'index d\xE9"
              "fini pour appliquer la port\xE9"
              "e");
  }
  ds_->SetIndexFieldNames("Numero");
  ds_->ApplyRange();
  EXPECT_EQ(Idents(), (std::vector<int>{2, 3, 4}));  // the end between 40 and 50 keeps 40
  ds_->SetRangeStart(Variant(50));
  ds_->SetRangeEnd(Variant(20));
  ds_->ApplyRange();
  EXPECT_EQ(ds_->RecordCount(), 0);
  ds_->SetRangeStart(Variant::Null());
  EXPECT_THROW(ds_->ApplyRange(), Exception);
  ds_->SetRangeStart(Variant(20));
  ds_->SetRangeEnd(Variant(30));
  ds_->ApplyRange();
  // An edit that leaves the range shows the next record.
  ds_->First();
  ds_->Edit();
  numero_->SetAsInteger(99);
  ds_->Post();
  EXPECT_EQ(ident_->AsInteger(), 3);
  EXPECT_EQ(ds_->RecordCount(), 1);
  ds_->Close();
  ds_->Open();
  EXPECT_TRUE(ds_->RangeActive());
  ds_->CancelRange();
  EXPECT_FALSE(ds_->RangeActive());
}

TEST_F(VirtualDataSetTest, DescendingRangeTestsPostedRecordsUnderTheIndexFlags) {
  for (int i = 1; i <= 5; ++i) Add(i, i, "n");
  ds_->SetIndex("Numero", TIndexOptions{ixDescending}, false);
  ds_->SetRangeStart(Variant(4));
  ds_->SetRangeEnd(Variant(2));
  ds_->ApplyRange();
  EXPECT_EQ(Idents(), (std::vector<int>{4, 3, 2}));
  Add(6, 3, "m");  // inside 4 >= k >= 2 in the index's own order
  EXPECT_EQ(ds_->RecordCount(), 4);
  Add(7, 1, "m");
  EXPECT_EQ(ds_->RecordCount(), 4);
}

TEST_F(VirtualDataSetTest, DetailFollowsItsMaster) {
  auto* master = Create<TVirtualDataSet>(owner_.get());
  auto* key = Create<TIntegerField>(owner_.get());
  key->SetFieldName("Cle");
  key->SetDataSet(master);
  master->Open();
  for (int k : {1, 2, 3}) {
    master->Append();
    key->SetAsInteger(k);
    master->Post();
  }
  Add(10, 1, "a");
  Add(11, 3, "b");
  Add(12, 1, "c");
  auto* source = Create<TDataSource>(owner_.get());
  source->SetDataSet(master);
  ds_->SetIndexFieldNames("Numero");
  ds_->SetMasterFields("Cle");
  ds_->SetMasterSource(source);
  master->First();
  EXPECT_EQ(Idents().size(), 2u);
  master->Next();
  EXPECT_EQ(ds_->RecordCount(), 0);  // no details
  master->Next();
  EXPECT_EQ(Idents(), (std::vector<int>{11}));
  master->Close();
  EXPECT_EQ(ds_->RecordCount(), 3);  // a closed master shows everything
  EXPECT_EQ(ds_->GetDataSource(), source);
  master->Open();  // reopened empty: the master key is NULL
  EXPECT_EQ(ds_->RecordCount(), 0);
  delete source;  // removing the source clears the property and the range
  EXPECT_EQ(ds_->MasterSource(), nullptr);
  EXPECT_EQ(ds_->RecordCount(), 3);
}

TEST_F(VirtualDataSetTest, AnsiCompareChoosesTheStringRoutines) {
  Add(1, 1, "f");
  Add(2, 2, "\xE9t\xE9");  // été
  Add(3, 3, "e");
  ds_->SetIndex("Nom", TIndexOptions{ixCaseInsensitive}, false);
  EXPECT_EQ(Idents(), (std::vector<int>{3, 1, 2}));  // bytes: 0xE9 after "f"
  EXPECT_FALSE(ds_->Locate("Nom", Variant("\xC9T\xC9"), TLocateOptions{loCaseInsensitive}));
  ds_->SetIndex("", TIndexOptions{}, false);
  ds_->SetAnsiCompare(true);
  ds_->SetIndex("Nom", TIndexOptions{ixCaseInsensitive}, false);
  EXPECT_EQ(Idents(), (std::vector<int>{3, 2, 1}));  // linguistic: été between e and f
  EXPECT_TRUE(ds_->Locate("Nom", Variant("\xC9T\xC9"), TLocateOptions{loCaseInsensitive}));
  EXPECT_EQ(ident_->AsInteger(), 2);
}

TEST_F(VirtualDataSetTest, StaleBookmarksNeverLandOnANewRecord) {
  Add(1, 1, "a");
  Add(2, 2, "b");
  ds_->First();
  TBookmark first = ds_->GetBookmark();
  ds_->Delete();
  Add(3, 3, "c");  // may reuse the freed block
  EXPECT_FALSE(ds_->BookmarkValid(first));
  ds_->Last();
  ds_->GotoBookmark(first);
  EXPECT_EQ(ident_->AsInteger(), 3);  // the cursor stays
}

TEST_F(VirtualDataSetTest, MaintainedIndexesStayInOrderAndSwapIn) {
  Add(1, 3, "c");
  Add(2, 1, "a");
  ds_->SetIndex("Numero", TIndexOptions{}, true);
  ds_->SetIndex("Nom", TIndexOptions{ixDescending}, false);
  Add(3, 2, "b");
  ds_->SetIndex("Numero", TIndexOptions{}, false);  // exchanged in, not sorted
  EXPECT_EQ(Idents(), (std::vector<int>{2, 3, 1}));
  ds_->SetIndex("Nom", TIndexOptions{ixDescending}, false);
  EXPECT_EQ(Idents(), (std::vector<int>{1, 3, 2}));
  // Locate through the maintained index on Numero.
  ASSERT_TRUE(ds_->Locate("Numero", Variant(2), TLocateOptions{}));
  EXPECT_EQ(ident_->AsInteger(), 3);
}

// A locate no index serves compares fixed-size fields in place: every type, nulls included,
// must still find the first equal record of the view.
TEST(VirtualDataSetScanTest, LocateWithoutAnIndexFindsTheFirstEqualOfEveryType) {
  TComponent owner(nullptr);
  auto* ds = Create<TVirtualDataSet>(&owner);
  std::vector<TField*> fields;
  auto add = [&](TField* field, const char* name) {
    field->SetFieldName(name);
    field->SetDataSet(ds);
    fields.push_back(field);
  };
  add(Create<TSmallintField>(&owner), "S");
  add(Create<TWordField>(&owner), "W");
  add(Create<TBooleanField>(&owner), "B");
  add(Create<TFloatField>(&owner), "F");
  add(Create<TCurrencyField>(&owner), "C");
  add(Create<TDateTimeField>(&owner), "DT");
  add(Create<TDateField>(&owner), "D");
  add(Create<TIntegerField>(&owner), "I");
  ds->Open();
  // Row r holds (r * 7) % 4 in every field (the boolean: above 1), row 0 nulls: values repeat.
  const int kRows = 9;
  auto value = [](TField* field, int r) {
    if (r == 0) return Variant::Null();
    const int v = (r * 7) % 4;
    return dynamic_cast<TBooleanField*>(field) ? Variant(v > 1) : Variant(v + 0.0);
  };
  for (int r = 0; r < kRows; ++r) {
    ds->Append();
    for (TField* field : fields) field->SetValue(value(field, r));
    ds->Post();
  }
  for (TField* field : fields) {
    for (int r = 0; r < kRows; ++r) {
      int first = 0;
      while (value(field, first).IsNull() != (r == 0) ||
             (r > 0 && !(value(field, first) == value(field, r)))) {
        ++first;
      }
      ds->Last();
      ASSERT_TRUE(ds->Locate(field->FieldName(), value(field, r), TLocateOptions{}))
          << field->FieldName() << " row " << r;
      EXPECT_EQ(ds->RecNo(), first + 1) << field->FieldName() << " row " << r;
    }
  }
}

}  // namespace
}  // namespace comp
