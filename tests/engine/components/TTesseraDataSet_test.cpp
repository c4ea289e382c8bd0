// The engine dataset on table components: record locks between two components, counts under
// filters, the field-setting rules, money, blob streams, and Locate's three paths.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/db/TFields.h"
#include "engine/components/TTesseraTable.h"
#include "engine/storage/core/EngineErrors.h"
#include "tests/engine/components/ComponentTestSupport.h"
#include "tests/engine/components/DataSetTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera {
namespace {

using cl::Variant;
using testing::EngineCode;
using testing::ErrorOf;

class DataSetTest : public testing::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    Default()->Open();
    // Numero (key), Nom (index "ParNom", case-insensitive), Montant money with 2 decimals,
    // Actif, Memo.
    TFieldDefinition money = testing::Field(3, "Montant", kFieldMoney);
    money.decimals = 2;
    TIndexDescriptor by_name = testing::Index("ParNom", {2}, false);
    by_name.case_insensitive = 1;
    testing::CreateTable(
        dir_.File("T"),
        {testing::Field(1, "Numero", kFieldInt32), testing::Field(2, "Nom", kFieldString, 20),
         money, testing::Field(4, "Actif", kFieldBoolean),
         testing::Sub(testing::Field(5, "Memo", kFieldBlob), 22)},
        testing::Index("", {1}, true), {by_name});
  }

  TTesseraTable* NewTable() {
    auto* table = cl::Create<TTesseraTable>(&owner_);
    table->SetDatabaseName(dir_.Path());
    table->SetTableName("T");
    table->SetLockRetryCount(0);
    return table;
  }

  // Records Numero 1..count, Nom "N<numero>", the first of each three without a name.
  TTesseraTable* Filled(int count) {
    TTesseraTable* table = NewTable();
    table->Open();
    for (int i = 1; i <= count; ++i) {
      table->Append();
      table->FieldByName("Numero")->SetAsInteger(i);
      if (i % 3 != 1) table->FieldByName("Nom")->SetAsString("N" + std::to_string(i));
      table->Post();
    }
    table->First();
    return table;
  }

  static int Numero(cl::TDataSet* table) { return table->FieldByName("Numero")->AsInteger(); }

  mirvel_test::TempDirectory dir_{"i18-dataset"};
  cl::TComponent owner_{nullptr};
};

// Edit takes the record lock; a second component (a second open of the file) is refused at Edit
// with 10258 until Cancel or Post; a Post refused for a duplicate key keeps the lock until
// Cancel; closing another component, its locate clone or a definitions read never frees it.
TEST_F(DataSetTest, EditHoldsTheRecordLockUntilPostOrCancel) {
  TTesseraTable* a = Filled(5);
  TTesseraTable* b = NewTable();
  b->Open();
  ASSERT_TRUE(a->Locate("Numero", Variant(2), {}));
  ASSERT_TRUE(b->Locate("Numero", Variant(2), {}));

  a->Edit();
  EXPECT_EQ(EngineCode([&] { b->Edit(); }), kErrRecordLocked);
  EXPECT_EQ(b->State(), cl::dsBrowse);
  EXPECT_EQ(EngineCode([&] { b->Edit(); }), kErrRecordLocked);  // still a's
  a->Cancel();
  b->Edit();
  b->FieldByName("Nom")->SetAsString("B");
  EXPECT_EQ(EngineCode([&] { a->Edit(); }), kErrRecordLocked);
  b->Post();
  a->Edit();
  EXPECT_EQ(a->FieldByName("Nom")->AsString(), "B");  // read under the lock
  a->FieldByName("Numero")->SetAsInteger(3);
  EXPECT_EQ(EngineCode([&] { a->Post(); }), kErrKeyViolation);
  EXPECT_EQ(a->State(), cl::dsEdit);
  EXPECT_EQ(EngineCode([&] { b->Edit(); }), kErrRecordLocked);

  // Another component that made a locate clone, and a closed one that read definitions.
  TTesseraTable* c = NewTable();
  c->Open();
  ASSERT_TRUE(c->Locate("Nom", Variant("n5"), {cl::loCaseInsensitive}));
  c->Close();
  TTesseraTable* d = NewTable();
  d->FieldDefs()->Update();
  d->IndexDefs()->Update();
  EXPECT_EQ(d->IndexDefs()->Count(), 2);
  EXPECT_EQ(EngineCode([&] { b->Edit(); }), kErrRecordLocked);

  a->Cancel();
  b->Edit();
  b->Cancel();
}

// RecordCount and RecNo show what the dataset shows: a text filter, a callback filter and both.
TEST_F(DataSetTest, RecordCountAndRecNoFollowTheFilters) {
  TTesseraTable* t = Filled(12);
  struct Case {
    std::string filter;
    bool even_only;
    std::vector<int> numeros;
  };
  const std::vector<Case> cases = {
      {"", false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
      {"Numero > 7", false, {8, 9, 10, 11, 12}},
      {"", true, {2, 4, 6, 8, 10, 12}},
      {"Numero > 7", true, {8, 10, 12}},
      {"Nom = NULL OR Numero = 12", true, {4, 10, 12}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter + (c.even_only ? " (even)" : ""));
    t->SetFiltered(false);
    t->SetFilter(c.filter);
    t->SetOnFilterRecord(c.even_only ? cl::TFilterRecordEvent([](cl::TDataSet* ds, bool& accept) {
      accept = ds->FieldByName("Numero")->AsInteger() % 2 == 0;
    })
                                     : cl::TFilterRecordEvent());
    t->SetFiltered(true);
    EXPECT_EQ(t->RecordCount(), static_cast<int>(c.numeros.size()));
    std::vector<int> seen;
    for (int rec_no = 1; !t->Eof(); ++rec_no, t->Next()) {
      EXPECT_EQ(t->RecNo(), rec_no);
      seen.push_back(Numero(t));
    }
    EXPECT_EQ(seen, c.numeros);
    t->SetRecNo(2);
    EXPECT_EQ(Numero(t), c.numeros[1]);
  }
  t->SetFiltered(false);
  EXPECT_EQ(t->RecordCount(), 12);
  // A bad text changes nothing.
  t->SetFiltered(true);
  EXPECT_EQ(ErrorOf([&] { t->SetFilter("Numero >"); }).empty(), false);
  EXPECT_EQ(t->Filter(), "Nom = NULL OR Numero = 12");
  EXPECT_EQ(t->RecordCount(), 3);
}

// A throwing OnFilterRecord reaches the caller; the dataset and the table stay usable.
TEST_F(DataSetTest, AThrowingFilterHandlerLeavesTheDataSetUsable) {
  TTesseraTable* t = Filled(6);
  bool fail = true;
  t->SetOnFilterRecord([&](cl::TDataSet* ds, bool& accept) {
    if (fail) cl::DatabaseError("refus");
    accept = ds->FieldByName("Numero")->AsInteger() > 4;
  });
  EXPECT_EQ(ErrorOf([&] { t->SetFiltered(true); }), "refus");
  EXPECT_EQ(t->State(), cl::dsBrowse);
  // Beside a text filter: the failure switches the text filter off again.
  t->SetFilter("Numero > 3");
  EXPECT_EQ(ErrorOf([&] { t->FindFirst(); }), "refus");
  EXPECT_EQ(t->RecordCount(), 6);
  EXPECT_EQ(ErrorOf([&] { t->SetFiltered(true); }), "refus");
  EXPECT_FALSE(t->Filtered());
  EXPECT_EQ(t->RecordCount(), 6);
  fail = false;
  t->SetFiltered(false);
  t->SetFiltered(true);
  EXPECT_EQ(t->RecordCount(), 2);
  t->First();
  EXPECT_EQ(Numero(t), 5);
}

// The setting rules' messages, and money rounded to its field's decimals.
TEST_F(DataSetTest, FieldSettingRulesAndMoney) {
  TTesseraTable* t = NewTable();
  t->FieldDefs()->Update();
  for (int i = 0; i < t->FieldDefs()->Count(); ++i) t->FieldDefs()->Items(i)->CreateField(&owner_);
  auto* calc = cl::Create<cl::TStringField>(&owner_);
  calc->SetFieldName("Calcul");
  calc->SetFieldKind(cl::fkCalculated);
  calc->SetDataSet(t);
  t->Open();
  t->AppendRecord({Variant(1), Variant("A")});
  t->First();

  EXPECT_EQ(ErrorOf([&] { t->FieldByName("Nom")->SetAsString("x"); }), cl::SNotEditing);
  t->SetKey();
  EXPECT_EQ(ErrorOf([&] { calc->SetAsString("x"); }), cl::DBFormat(cl::SNotIndexField, {"Calcul"}));
  EXPECT_EQ(ErrorOf([&] { t->FieldByName("Nom")->SetAsString("x"); }),
            cl::DBFormat(cl::SNotIndexField, {"Nom"}));
  t->Cancel();
  t->FieldByName("Nom")->SetReadOnly(true);
  t->Edit();
  EXPECT_EQ(ErrorOf([&] { t->FieldByName("Nom")->SetAsString("x"); }),
            cl::DBFormat(cl::SFieldReadOnly, {"Nom"}));

  t->FieldByName("Montant")->SetAsFloat(12.345);
  t->FieldByName("Actif")->SetAsBoolean(true);
  t->Post();
  t->Refresh();
  EXPECT_DOUBLE_EQ(t->FieldByName("Montant")->AsFloat(), 12.35);
  EXPECT_TRUE(t->FieldByName("Actif")->AsBoolean());

  // Bookmarks: nil ones first.
  cl::TBookmark one = t->GetBookmark();
  EXPECT_EQ(t->CompareBookmarks({}, one), 1);
  EXPECT_EQ(t->CompareBookmarks(one, {}), -1);
  EXPECT_EQ(t->CompareBookmarks({}, {}), 0);
}

// The blob stream: a short read at the end, Cancel keeps and Post stores, a failed write raises.
TEST_F(DataSetTest, BlobStreamReadsWritesAndReportsFailures) {
  TTesseraTable* t = Filled(2);
  auto* memo = static_cast<cl::TBlobField*>(t->FieldByName("Memo"));
  t->Edit();
  memo->SetAsString("ancien texte");
  t->Post();

  {
    auto stream = t->CreateBlobStream(memo, cl::bmRead);
    EXPECT_EQ(stream->Size(), 12);
    stream->SetPosition(11);
    char bytes[10] = {};
    EXPECT_EQ(stream->Read(bytes, 10), 1);
    EXPECT_EQ(bytes[0], 'e');
    EXPECT_EQ(stream->Read(bytes, 10), 0);
  }
  EXPECT_EQ(ErrorOf([&] { t->CreateBlobStream(memo, cl::bmWrite); }), cl::SNotEditing);

  t->Edit();
  memo->SetAsString("nouveau");
  t->Cancel();
  EXPECT_EQ(memo->AsString(), "ancien texte");
  t->Edit();
  {
    auto stream = t->CreateBlobStream(memo, cl::bmReadWrite);
    stream->Seek(0, cl::soFromEnd);
    stream->WriteBuffer(" suite", 6);
  }
  t->Post();
  t->Refresh();
  EXPECT_EQ(memo->AsString(), "ancien texte suite");

  // The value ended behind the stream's back: the write must not report success.
  t->Edit();
  {
    auto stream = t->CreateBlobStream(memo, cl::bmReadWrite);
    ASSERT_EQ(t->Handle()->CloseBlob(TFieldSet::kWorking, 5, t->ActiveBuffer()), 0);
    EXPECT_NE(EngineCode([&] { stream->WriteBuffer("x", 1); }), 0);
  }
  t->Cancel();
  EXPECT_EQ(memo->AsString(), "ancien texte suite");

  // A value read back before the post (as a data-aware memo does after each change) is still the
  // one stored, on edit and on insert.
  t->Edit();
  memo->SetAsString("relu");
  EXPECT_EQ(memo->AsString(), "relu");
  t->Post();
  EXPECT_EQ(memo->AsString(), "relu");
  t->Append();
  t->FieldByName("Numero")->SetAsInteger(900);
  memo->SetAsString("nouveau relu");
  EXPECT_EQ(memo->AsString(), "nouveau relu");
  t->Post();
  t->Refresh();
  ASSERT_TRUE(t->Locate("Numero", Variant(900), {}));
  EXPECT_EQ(memo->AsString(), "nouveau relu");
}

// Locate on the own handle, through a clone of another index, and through a temporary filter that
// never stays behind; Lookup does not move; options apply to text only.
TEST_F(DataSetTest, LocateAndLookupOnEachPath) {
  TTesseraTable* t = Filled(12);
  ASSERT_TRUE(t->Locate("Numero", Variant(10), {}));
  EXPECT_EQ(t->Lookup("Nom", Variant("absent"), "Numero").IsNull(), true);
  EXPECT_EQ(Numero(t), 10);
  EXPECT_EQ(t->Lookup("Nom", Variant("N5"), "Numero").AsInteger(), 5);
  EXPECT_EQ(Numero(t), 10);

  EXPECT_TRUE(t->Locate("Nom", Variant("n8"), {cl::loCaseInsensitive}));  // clone on ParNom
  EXPECT_EQ(Numero(t), 8);
  EXPECT_TRUE(t->Locate("Nom", Variant::Null(), {}));  // a blank name
  EXPECT_EQ(Numero(t) % 3, 1);
  // A partial key means nothing for a number: 1 is 1, not 10.
  EXPECT_TRUE(t->Locate("Numero", Variant(1), {cl::loPartialKey}));
  EXPECT_EQ(Numero(t), 1);

  // The filter path, with the engine one filter short of its limit: a filter left behind by one
  // Locate would make the next one fail.
  for (size_t i = 0; i + 1 < TDataFile::kMaxFilters; ++i) {
    TFilter* filter = nullptr;
    ASSERT_EQ(t->Handle()->AddFilter(
                  {}, nullptr, false, false, nullptr,
                  [](void*, const uint8_t*, uint32_t) { return true; }, &filter),
              0);
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(t->Locate("Actif;Nom", cl::VarArrayOf({Variant::Null(), Variant("N6")}), {}));
    EXPECT_EQ(Numero(t), 6);
  }
  EXPECT_FALSE(t->Locate("Actif;Nom", cl::VarArrayOf({Variant(true), Variant("N6")}), {}));
  EXPECT_EQ(t->RecordCount(), 12);
}

// An exclusive table cannot be cloned: Locate through another index's fields fails with the
// engine's refusal and changes nothing, while a field no index leads takes the filter path.
TEST_F(DataSetTest, ExclusiveTablesLocateWithoutAClone) {
  Filled(6)->Close();
  TTesseraTable* t = NewTable();
  t->SetExclusive(true);
  t->Open();
  ASSERT_TRUE(t->Locate("Numero", Variant(4), {}));
  EXPECT_EQ(EngineCode([&] { t->Locate("Nom", Variant("n5"), {cl::loCaseInsensitive}); }),
            kErrAccessDenied);
  EXPECT_EQ(Numero(t), 4);
  EXPECT_TRUE(t->Locate("Montant", Variant::Null(), {}));
  EXPECT_EQ(Numero(t), 1);
}

// FindFirst .. FindLast search through the filters of an unfiltered dataset and switch them off
// again, also when the search finds nothing.
TEST_F(DataSetTest, FindSearchesThroughTheFiltersOnlyForTheSearch) {
  TTesseraTable* t = Filled(9);
  t->SetFilter("Numero > 3");
  t->SetOnFilterRecord(
      [](cl::TDataSet* ds, bool& accept) { accept = ds->FieldByName("Numero")->AsInteger() < 8; });
  std::vector<int> seen;
  for (bool more = t->FindFirst(); more; more = t->FindNext()) seen.push_back(Numero(t));
  EXPECT_EQ(seen, (std::vector<int>{4, 5, 6, 7}));
  EXPECT_FALSE(t->Found());
  EXPECT_EQ(t->RecordCount(), 9);
  EXPECT_TRUE(t->FindLast());
  EXPECT_EQ(Numero(t), 7);
  EXPECT_TRUE(t->FindPrior());
  EXPECT_EQ(Numero(t), 6);
  t->SetFilter("Numero > 30");
  EXPECT_FALSE(t->FindFirst());
  EXPECT_EQ(Numero(t), 6);
  EXPECT_EQ(t->RecordCount(), 9);
  t->Last();
  EXPECT_EQ(Numero(t), 9);
}

// A dataset on a handle that belongs to someone else (a query's live result): closing forgets
// the handle without closing it and takes its filters off; no handle at all is refused.
class BorrowingDataSet : public TTesseraDataSet {
 public:
  BorrowingDataSet(cl::TComponent* owner, TDataFile* handle)
      : TTesseraDataSet(owner), borrowed_(handle) {}
  ~BorrowingDataSet() override { DestroyingClose(); }

 protected:
  TDataFile* CreateHandle() override {
    if (borrowed_ != nullptr) SetHandleOwned(false);
    return borrowed_;
  }

 private:
  TDataFile* borrowed_;
};

TEST_F(DataSetTest, ABorrowedHandleOutlivesTheDataSet) {
  Filled(5)->Close();
  TDataFile result;
  result.SetFileName(dir_.File("T"));
  result.Open();
  auto* ds = cl::Create<BorrowingDataSet>(&owner_, &result);
  ds->SetFilter("Numero < 3");
  ds->SetFiltered(true);
  ds->Open();
  EXPECT_EQ(ds->RecordCount(), 2);
  ds->Close();
  ASSERT_TRUE(result.IsOpen());
  EXPECT_EQ(result.GetRecordCount(), 5u);  // the dataset's filter went with it

  auto* none = cl::Create<BorrowingDataSet>(&owner_, nullptr);
  EXPECT_EQ(ErrorOf([&] { none->Open(); }), SCreateHandleError);
}

}  // namespace
}  // namespace tessera
