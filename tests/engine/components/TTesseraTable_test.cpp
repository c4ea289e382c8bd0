// The table component: its file name, index selection, definitions while closed, master/detail,
// FlushBuffers, the settings it refuses or passes on, passwords, and record locks against
// another process.
#include "engine/components/TTesseraTable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TDataSource.h"
#include "engine/storage/core/EngineErrors.h"
#include "tests/engine/components/ComponentTestSupport.h"
#include "tests/engine/components/DataSetTestSupport.h"
#include "tests/platform/LockHelperClient.h"
#include "tests/platform/TempDirectory.h"
#include "tools/StressTable.h"

namespace tessera {
namespace {

using cl::Variant;
using testing::EngineCode;
using testing::ErrorOf;
using testing::Field;
using testing::Index;

class TableTest : public testing::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    Default()->Open();
  }

  // Clients (NoSociete key, Societe) and Inter (NoInter key, NoSociete, Nom; index "ParSociete"
  // on NoSociete;Nom), shaped like the application's.
  void CreateClientsAndInter() {
    testing::CreateTable(
        dir_.File("Clients"),
        {Field(1, "NoSociete", kFieldInt32), Field(2, "Societe", kFieldString, 30)},
        Index("", {1}, true));
    testing::CreateTable(dir_.File("Inter"),
                         {Field(1, "NoInter", kFieldInt32), Field(2, "NoSociete", kFieldInt32),
                          Field(3, "Nom", kFieldString, 30)},
                         Index("", {1}, true), {Index("ParSociete", {2, 3}, false)});
  }

  TTesseraTable* NewTable(const std::string& name) {
    auto* table = cl::Create<TTesseraTable>(&owner_);
    table->SetDatabaseName(dir_.Path());
    table->SetTableName(name);
    return table;
  }

  static std::vector<std::string> Column(cl::TDataSet* table, const char* field) {
    std::vector<std::string> values;
    for (table->First(); !table->Eof(); table->Next()) {
      values.push_back(table->FieldByName(field)->AsString());
    }
    return values;
  }

  mirvel_test::TempDirectory dir_{"i18-table"};
  cl::TComponent owner_{nullptr};
};

// The detail shows only the master's rows in Nom order, follows the master, counts its own rows,
// and a new detail row carries the master's key before OnNewRecord runs.
TEST_F(TableTest, MasterDetailFollowsTheMaster) {
  CreateClientsAndInter();
  TTesseraTable* clients = NewTable("Clients");
  clients->Open();
  clients->AppendRecord({Variant(1), Variant("Alpha")});
  clients->AppendRecord({Variant(2), Variant("Beta")});
  clients->AppendRecord({Variant(3), Variant("Vide")});
  TTesseraTable* inter = NewTable("Inter");
  inter->Open();
  const std::vector<std::pair<int, const char*>> rows = {
      {1, "Martin"}, {2, "Durand"}, {1, "Bernard"}, {2, "Adam"}, {1, "Claude"}, {0, "Sans"}};
  for (size_t i = 0; i < rows.size(); ++i) {
    inter->AppendRecord({Variant(static_cast<int>(i) + 1),
                         rows[i].first == 0 ? Variant::Null() : Variant(rows[i].first),
                         Variant(rows[i].second)});
  }
  inter->Close();

  auto* source = cl::Create<cl::TDataSource>(&owner_);
  source->SetDataSet(clients);
  inter->SetIndexFieldNames("NoSociete");  // the leading field of ParSociete
  inter->SetMasterSource(source);
  inter->SetMasterFields("NoSociete");
  int seen_in_new_record = -1;
  inter->SetOnNewRecord(
      [&](cl::TDataSet* ds) { seen_in_new_record = ds->FieldByName("NoSociete")->AsInteger(); });
  clients->First();
  inter->Open();
  EXPECT_EQ(Column(inter, "Nom"), (std::vector<std::string>{"Bernard", "Claude", "Martin"}));
  EXPECT_EQ(inter->RecordCount(), 3);
  clients->Next();
  EXPECT_EQ(Column(inter, "Nom"), (std::vector<std::string>{"Adam", "Durand"}));
  EXPECT_EQ(inter->RecordCount(), 2);

  inter->Append();
  EXPECT_EQ(seen_in_new_record, 2);
  inter->FieldByName("NoInter")->SetAsInteger(10);
  inter->FieldByName("Nom")->SetAsString("Bruno");
  inter->Post();
  EXPECT_EQ(Column(inter, "Nom"), (std::vector<std::string>{"Adam", "Bruno", "Durand"}));

  clients->Next();  // a client without callers
  EXPECT_TRUE(inter->IsEmpty());
  EXPECT_EQ(inter->RecordCount(), 0);
  // A master with no records at all: the range is on blank keys.
  clients->SetFilter("NoSociete > 100");
  clients->SetFiltered(true);
  EXPECT_EQ(Column(inter, "Nom"), (std::vector<std::string>{"Sans"}));
  // A name the table lacks keeps the detail's index, range and record.
  EXPECT_EQ(EngineCode([&] { inter->SetIndexName("Absent"); }), kErrInvalidIndexName);
  EXPECT_EQ(inter->IndexFieldNames(), "NoSociete");
  EXPECT_EQ(inter->RecordCount(), 1);
  EXPECT_EQ(inter->FieldByName("Nom")->AsString(), "Sans");
  EXPECT_EQ(Column(inter, "Nom"), (std::vector<std::string>{"Sans"}));
  clients->SetFiltered(false);
  EXPECT_EQ(ErrorOf([&] { inter->SetMasterFields("Inconnu"); }),
            cl::DBFormat(cl::SFieldNotFound, {"Inconnu"}));
  inter->SetMasterSource(nullptr);
  EXPECT_EQ(inter->RecordCount(), 7);

  EXPECT_EQ(ErrorOf([&] {
              auto* own = cl::Create<cl::TDataSource>(&owner_);
              own->SetDataSet(inter);
              inter->SetMasterSource(own);
            }),
            cl::SCircularDataLink);
}

// Records another table component on the same file added, changed or deleted since this one
// last read are found (or not) by a Locate or Lookup on fields that lead another index: the
// search runs on a second handle that refreshes, and the table's own handle must see the same
// state before it stands on the found record.
TEST_F(TableTest, LocateThroughAnotherIndexSeesOtherHandlesChanges) {
  CreateClientsAndInter();
  TTesseraTable* reader = NewTable("Inter");
  reader->Open();  // primary order: a search on NoSociete;Nom goes through the second handle
  reader->AppendRecord({Variant(1), Variant(1), Variant("Martin")});
  TTesseraTable* writer = NewTable("Inter");
  writer->Open();
  // The second handle exists before the changes, as it does in a running program.
  ASSERT_TRUE(reader->Locate("NoSociete;Nom", cl::VarArrayOf({Variant(1), Variant("Martin")}), {}));

  struct Step {
    const char* change;  // "insert", "rename" or "delete", by the writer on NoInter `no`
    int no;
    int societe;
    const char* nom;
    bool lookup;  // Lookup instead of Locate
  };
  const Step steps[] = {
      {"insert", 2, 1, "Durand", false},  {"insert", 3, 2, "Adam", true},
      {"insert", 4, 1, "Bernard", false}, {"rename", 4, 1, "Bruno", false},
      {"insert", 5, 1, "Claude", true},   {"delete", 2, 1, "Durand", false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.change) + " " + s.nom);
    const Variant key = cl::VarArrayOf({Variant(s.societe), Variant(s.nom)});
    if (std::string(s.change) == "insert") {
      writer->AppendRecord({Variant(s.no), Variant(s.societe), Variant(s.nom)});
    } else {
      ASSERT_TRUE(writer->Locate("NoInter", Variant(s.no), {}));
      if (std::string(s.change) == "delete") {
        writer->Delete();
      } else {
        writer->Edit();
        writer->FieldByName("Nom")->SetAsString(s.nom);
        writer->Post();
      }
    }
    const bool present = std::string(s.change) != "delete";
    if (s.lookup) {
      const Variant found = reader->Lookup("NoSociete;Nom", key, "NoInter");
      EXPECT_EQ(found.IsNull() ? 0 : found.AsInteger(), present ? s.no : 0);
    } else {
      EXPECT_EQ(reader->Locate("NoSociete;Nom", key, {}), present);
      if (present) {
        EXPECT_EQ(reader->FieldByName("NoInter")->AsInteger(), s.no);
        EXPECT_EQ(reader->FieldByName("Nom")->AsString(), s.nom);
      }
    }
  }
  // The reader browses the writer's table as it now stands.
  EXPECT_EQ(Column(reader, "Nom"), (std::vector<std::string>{"Martin", "Adam", "Bruno", "Claude"}));
}

// Index selection by field names: the first index they lead; unknown fields raise at opening
// (leaving the table closed) and on an open table (leaving its order); "Primary" is the primary.
TEST_F(TableTest, IndexSelection) {
  CreateClientsAndInter();
  TTesseraTable* inter = NewTable("Inter");
  inter->Open();
  inter->AppendRecord({Variant(1), Variant(2), Variant("B")});
  inter->AppendRecord({Variant(2), Variant(1), Variant("C")});
  inter->AppendRecord({Variant(3), Variant(1), Variant("A")});
  EXPECT_EQ(Column(inter, "NoInter"), (std::vector<std::string>{"1", "2", "3"}));
  inter->SetIndexFieldNames("NoSociete");
  EXPECT_EQ(Column(inter, "NoInter"), (std::vector<std::string>{"3", "2", "1"}));
  const std::string message = cl::DBFormat(SNoIndexForFields, {"Inter", "Nom"});
  EXPECT_EQ(ErrorOf([&] { inter->SetIndexFieldNames("Nom"); }), message);
  EXPECT_EQ(inter->IndexFieldNames(), "NoSociete");
  EXPECT_EQ(Column(inter, "NoInter"), (std::vector<std::string>{"3", "2", "1"}));
  inter->SetIndexName("Primary");
  EXPECT_EQ(Column(inter, "NoInter"), (std::vector<std::string>{"1", "2", "3"}));
  inter->SetIndexName("ParSociete");
  EXPECT_EQ(Column(inter, "NoInter"), (std::vector<std::string>{"3", "2", "1"}));
  EXPECT_TRUE(inter->FindKey({Variant(1), Variant("C")}));
  EXPECT_EQ(inter->FieldByName("NoInter")->AsInteger(), 2);
  EXPECT_FALSE(inter->FindKey({Variant(3)}));
  inter->SetKey();
  inter->FieldByName("NoSociete")->SetAsInteger(2);
  inter->FieldByName("Nom")->SetAsString("B");
  inter->Post();
  EXPECT_TRUE(inter->GotoKey());
  EXPECT_EQ(inter->FieldByName("NoInter")->AsInteger(), 1);
  inter->Close();

  inter->SetIndexFieldNames("Nom");
  EXPECT_EQ(ErrorOf([&] { inter->Open(); }), message);
  EXPECT_FALSE(inter->Active());
  EXPECT_EQ(inter->Handle(), nullptr);
}

// Field and index definitions while closed, through a handle that is gone afterwards (an
// exclusive open then succeeds); the engine's types as the dataset's.
TEST_F(TableTest, DefinitionsWhileClosed) {
  CreateClientsAndInter();
  TFieldDefinition money = Field(7, "Montant", kFieldMoney);
  money.decimals = 3;
  testing::CreateTable(
      dir_.File("Types"),
      {Field(1, "S", kFieldString, 12), Field(2, "D", kFieldDate),
       testing::Sub(Field(3, "G", kFieldBlob), 26), Field(4, "L", kFieldBoolean),
       Field(5, "I", kFieldInt16), testing::Sub(Field(6, "A", kFieldInt32), kSubTypeAutoIncrement),
       money, testing::Sub(Field(8, "C", kFieldFloat), 21), Field(9, "B", kFieldBytes, 5),
       Field(10, "T", kFieldTime), Field(11, "TS", kFieldTimeStamp), Field(12, "W", kFieldWord),
       Field(13, "F", kFieldFourBytes), Field(14, "X", kFieldTenBytes),
       Field(15, "V", kFieldSized, 8)},
      Index("", {}, false));
  TTesseraTable* types = NewTable("Types");
  types->FieldDefs()->Update();
  struct Expected {
    const char* name;
    cl::TFieldType type;
    int size;
  };
  const std::vector<Expected> expected = {
      {"S", cl::ftString, 12},   {"D", cl::ftDate, 0},      {"G", cl::ftGraphic, 0},
      {"L", cl::ftBoolean, 0},   {"I", cl::ftSmallint, 0},  {"A", cl::ftAutoInc, 0},
      {"Montant", cl::ftBCD, 3}, {"C", cl::ftCurrency, 0},  {"B", cl::ftBytes, 5},
      {"T", cl::ftTime, 0},      {"TS", cl::ftDateTime, 0}, {"W", cl::ftWord, 0},
      {"F", cl::ftInteger, 0},   {"V", cl::ftVarBytes, 8}};
  ASSERT_EQ(types->FieldDefs()->Count(), static_cast<int>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    const cl::TFieldDef* def = types->FieldDefs()->Items(static_cast<int>(i));
    EXPECT_EQ(def->Name(), expected[i].name);
    EXPECT_EQ(def->DataType(), expected[i].type) << def->Name();
    EXPECT_EQ(def->Size(), expected[i].size) << def->Name();
  }
  EXPECT_EQ(types->FieldDefs()->Find("Montant")->Precision(), 20);

  TTesseraTable* inter = NewTable("Inter");
  inter->IndexDefs()->Update();
  ASSERT_EQ(inter->IndexDefs()->Count(), 2);
  EXPECT_EQ(inter->IndexDefs()->Items(1)->Name(), "ParSociete");
  EXPECT_EQ(inter->IndexDefs()->Items(1)->Fields(), "NoSociete;Nom");
  EXPECT_TRUE(inter->IndexDefs()->Items(0)->Options().Contains(cl::ixPrimary));
  EXPECT_EQ(inter->Handle(), nullptr);
  inter->SetExclusive(true);
  inter->Open();  // nothing of the definitions reads holds the files
  EXPECT_EQ(std::string(inter->EngineVersion()), "1.19");

  // Settings only a closed table takes.
  EXPECT_EQ(ErrorOf([&] { inter->SetExclusive(false); }), cl::SDataSetOpen);
  EXPECT_EQ(ErrorOf([&] { inter->SetReadOnly(true); }), cl::SDataSetOpen);
  EXPECT_EQ(ErrorOf([&] { inter->SetTableName("Clients"); }), cl::SDataSetOpen);
  inter->SetLockRetryCount(3);
  inter->SetLockWaitTime(7);
  EXPECT_EQ(inter->Handle()->LockRetryCount(), 3);
  EXPECT_EQ(inter->Handle()->LockWaitTime(), 7);

  TTesseraTable* long_name = NewTable(std::string(300, 'x'));
  EXPECT_EQ(EngineCode([&] { long_name->Open(); }), kErrInvalidPath);  // refused, never cut
  TTesseraTable* nameless = NewTable("");
  EXPECT_EQ(ErrorOf([&] { nameless->Open(); }), SMissingTableName);
  EXPECT_EQ(ErrorOf([&] { nameless->FieldDefs()->Update(); }), SMissingTableName);
}

// The directory is trimmed before "/" and the table name are added; an empty one leaves the bare
// name.
TEST_F(TableTest, FileNameFromTheDatabaseDirectory) {
  CreateClientsAndInter();
  auto* database = cl::Create<TTesseraDatabase>(&owner_);
  database->SetDatabaseName("Base");
  database->SetDirectory("  " + dir_.Path() + "  ");
  TTesseraTable* clients = NewTable("Clients");
  clients->SetDatabaseName("Base");
  clients->Open();
  EXPECT_EQ(clients->Handle()->FileName(), dir_.Path() + "/Clients.DAT");
  clients->Close();

  database->Close();
  database->SetDirectory("");
  std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_.Path());
  std::string name;
  EXPECT_NO_THROW({
    clients->Open();
    name = clients->Handle()->FileName();
  });
  std::filesystem::current_path(cwd);
  EXPECT_EQ(name, "Clients.DAT");
}

// An encrypted table opens once OnPassword supplies the password; without a handler the request
// answers at once and the open fails with 10498, leaving nothing open.
TEST_F(TableTest, EncryptedTables) {
  TNewTable secret;
  secret.encrypted = true;
  secret.password = "Sesame";
  secret.fields = {Field(1, "N", kFieldInt32)};
  secret.indexes = {Index("", {1}, true)};
  {
    TDataFile file;
    file.SetFileName(dir_.File("Secret"));
    file.SetExclusive(true);
    file.SetupNewTable(secret);
  }
  TTesseraTable* table = NewTable("Secret");
  EXPECT_EQ(EngineCode([&] { table->Open(); }), kErrPasswordRequired);
  EXPECT_FALSE(table->Active());
  // A table another handle holds exclusively: refused, and nothing kept open.
  {
    TDataFile holder;
    holder.SetFileName(dir_.File("Secret"));
    holder.SetExclusive(true);
    Default()->AddPassword("Sesame");
    holder.Open();
    Default()->RemoveAllPasswords();
    EXPECT_NE(EngineCode([&] { table->Open(); }), 0);
    EXPECT_EQ(table->Handle(), nullptr);
  }
  int asked = 0;
  Default()->SetOnPassword([&](cl::TObject*, bool& proceed) {
    ++asked;
    Default()->AddPassword("Sesame");
    proceed = true;
  });
  table->Open();
  EXPECT_EQ(asked, 1);
  table->AppendRecord({Variant(4)});
  EXPECT_EQ(table->RecordCount(), 1);
}

// FlushBuffers on an exclusive table: the three files copied while it is still open hold the
// record and its memo.
TEST_F(TableTest, FlushBuffersWritesAnExclusiveTable) {
  testing::CreateTable(dir_.File("Notes"),
                       {Field(1, "NoSociete", kFieldInt32), Field(2, "Societe", kFieldString, 30),
                        testing::Sub(Field(3, "Note", kFieldBlob), 22)},
                       Index("", {1}, true));
  const std::string memo(5000, 'm');  // several blocks
  TTesseraTable* notes = NewTable("Notes");
  notes->SetExclusive(true);
  notes->Open();
  notes->AppendRecord({Variant(7), Variant("Sept"), Variant(memo)});
  notes->FlushBuffers();
  mirvel_test::TempDirectory copy("i18-flush");
  for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
    std::filesystem::copy_file(dir_.File(std::string("Notes") + extension),
                               copy.File(std::string("Notes") + extension));
  }
  TTesseraTable* copied = cl::Create<TTesseraTable>(&owner_);
  copied->SetDatabaseName(copy.Path());
  copied->SetTableName("Notes");
  copied->Open();
  EXPECT_EQ(Column(copied, "Societe"), (std::vector<std::string>{"Sept"}));
  copied->First();
  EXPECT_EQ(copied->FieldByName("Note")->AsString(), memo);
}

// LockRetryCount and LockWaitTime changed on an open table govern its next lock attempt.
TEST_F(TableTest, LockSettingsReachAnOpenHandle) {
  CreateClientsAndInter();
  TTesseraTable* holder = NewTable("Clients");
  holder->Open();
  holder->AppendRecord({Variant(1), Variant("Un")});
  holder->Edit();
  TTesseraTable* t = NewTable("Clients");
  t->SetLockRetryCount(0);
  t->Open();
  int waits = 0;
  TDataFile::TLockTuning tuning;
  tuning.wait = [&](int32_t ms) { waits += ms == 5 ? 1 : 100; };
  t->Handle()->SetLockTuning(tuning);
  for (const uint8_t retries : {2, 4}) {
    t->SetLockRetryCount(retries);
    t->SetLockWaitTime(5);
    waits = 0;
    EXPECT_EQ(EngineCode([&] { t->Edit(); }), kErrRecordLocked);
    EXPECT_EQ(waits, retries);
  }
  holder->Cancel();
  t->Edit();
  t->Cancel();
}

// Against another process (the locking tests' peer): 10258 at Edit while it holds the record;
// Cancel and Post give the lock back.
TEST_F(TableTest, ProcessRecordLocksAgainstAPeer) {
  const std::string path = dir_.File("P");
  stress::CreateTable(path, stress::TShape::kKeyed);
  TTesseraTable* t = NewTable("P");
  t->SetLockRetryCount(0);
  t->Open();
  for (int k = 1; k <= 3; ++k) t->AppendRecord({Variant(k * 10), Variant(k), Variant(0)});
  mirvel_test::LockHelperProcess peer;
  ASSERT_TRUE(peer.Started());
  ASSERT_EQ(peer.Send("settings 0 0 0"), "ok");
  ASSERT_EQ(peer.Send("topen 0 rw shared " + path), "ok");
  ASSERT_EQ(peer.Send("seek 0 20"), "ok");
  ASSERT_EQ(peer.Send("lockrec 0"), "ok");

  ASSERT_TRUE(t->Locate("K", Variant(20), {}));
  EXPECT_EQ(EngineCode([&] { t->Edit(); }), kErrRecordLocked);
  ASSERT_EQ(peer.Send("unlockrec 0"), "ok");
  t->Edit();
  EXPECT_EQ(peer.Send("lockrec 0"), "err 10258");
  t->Cancel();
  ASSERT_EQ(peer.Send("lockrec 0"), "ok");
  ASSERT_EQ(peer.Send("unlockrec 0"), "ok");
  t->Edit();
  t->FieldByName("A")->SetAsInteger(99);
  t->Post();
  EXPECT_EQ(peer.Send("get 0 lock"), "ok 20 99 0");
}

// Two tables on one file, the second deleting, re-keying or replacing (deleted, its key given to
// a new record) the first one's record: every write meant for it fails with 8710 and changes
// nothing.  Engine calls come on a handle that has not looked at the files since, the dataset's
// after its handle saw the change (its cursor then on the nearest key or the new record).  A delete from edit state lets the second table insert into the freed slot.
TEST_F(TableTest, WritesForAVanishedRecordFailAndADeleteFromEditFreesTheSlot) {
  stress::CreateTable(dir_.File("V"), stress::TShape::kKeyed);
  TTesseraTable* a = NewTable("V");
  TTesseraTable* b = NewTable("V");
  a->Open();
  b->Open();
  for (int k = 10; k <= 50; k += 10) a->AppendRecord({Variant(k), Variant(k / 10), Variant(0)});
  TDataFile& h = *a->Handle();
  std::vector<uint8_t> r(h.GetRecordBufferSize());
  const std::vector<std::pair<bool, std::function<void()>>> attempts = {
      {false, [&] { h.GetCurrentRecord(r.data(), true); }},
      {false, [&] { h.ModifyRecord(r.data()); }},
      {true, [&] { a->Edit(), a->FieldByName("A")->SetAsInteger(9), a->Post(); }},
      {true, [&] { a->Delete(); }}};
  enum { kDelete, kRekey, kReplace };
  for (const int change : {kDelete, kRekey, kReplace}) {
    for (const auto& [refresh, attempt] : attempts) {
      a->Refresh();
      ASSERT_TRUE(a->Locate("K", Variant(20), {}) && b->Locate("K", Variant(20), {}));
      ASSERT_EQ(h.GetCurrentRecord(r.data()), 0);
      change == kRekey ? (b->Edit(), b->FieldByName("K")->SetAsInteger(120), b->Post())
                       : b->Delete();
      if (change == kReplace) b->AppendRecord({Variant(20), Variant(2), Variant(0)});
      const std::vector<std::string> before = Column(b, "A");
      if (refresh) h.RefreshFromDisk();
      EXPECT_EQ(EngineCode(attempt), kErrRecordNotFound) << change;
      if (a->State() == cl::dsEdit) a->Cancel();
      b->Refresh();
      EXPECT_EQ(Column(b, "A"), before);
      if (change == kDelete) b->AppendRecord({Variant(20), Variant(2), Variant(0)});
      if (change == kRekey && b->Locate("K", Variant(120), {})) {
        b->Edit(), b->FieldByName("K")->SetAsInteger(20), b->Post();
      }
    }
  }
  a->Refresh();
  ASSERT_TRUE(a->Locate("K", Variant(40), {}));
  a->Edit();
  a->Delete();
  b->AppendRecord({Variant(45), Variant(7), Variant(0)});
  EXPECT_EQ(Column(b, "A"), (std::vector<std::string>{"1", "2", "3", "7", "5"}));
}

}  // namespace
}  // namespace tessera
