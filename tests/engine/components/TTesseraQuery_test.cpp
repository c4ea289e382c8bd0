// The query component: the application's caller search beside open tables, parameters of every
// type through the engine and in textual order, the component's messages, bad statements that
// must leave no lock or file, ExecSQL against Open, progress abort, master moves, stored data.
#include "engine/components/TTesseraQuery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TDataSource.h"
#include "classlib/db/TField.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/Filer.h"
#include "classlib/rtl/Loader.h"
#include "engine/components/TTesseraTable.h"
#include "engine/storage/blob/TBlobFile.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "tests/engine/components/ComponentTestSupport.h"
#include "tests/engine/components/DataSetTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera {
namespace {

using testing::EngineCode;
using testing::ErrorOf;
using testing::Field;
using testing::Index;
using V = std::vector<std::string>;

class QueryTest : public testing::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    std::filesystem::create_directory(dir_.File("private"));
    Default()->SetPrivateDir(dir_.File("private"));
    Default()->Open();
    testing::CreateStandardTable(dir_.File("T"));
  }

  TTesseraQuery* NewQuery(const V& lines) {
    auto* query = cl::Create<TTesseraQuery>(&owner_);
    query->SetDatabaseName(dir_.Path());
    for (const std::string& line : lines) query->SQL()->Add(line);
    return query;
  }

  void Exec(const std::string& sql) {
    TTesseraQuery* query = NewQuery({sql});
    query->ExecSQL();
    query->Free();
  }

  static V Rows(cl::TDataSet* dataset) {
    V rows;
    for (dataset->First(); !dataset->Eof(); dataset->Next()) {
      std::string row;
      for (int i = 0; i < dataset->FieldCount(); ++i) {
        row += (i > 0 ? "|" : "") + dataset->Fields(i)->AsString();
      }
      rows.push_back(row);
    }
    return rows;
  }

  bool TableLockFree(const std::string& name) {
    TDataFile other;
    other.SetFileName(dir_.File(name));
    other.Open();
    other.SetLockRetryCount(0);
    bool free = EngineCode([&] { other.LockTable(); }) == 0;
    if (free) other.UnlockTable();
    other.Close();
    return free;
  }

  size_t FilesIn(const std::string& path) const {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(path)) ++n;
    return n;
  }

  mirvel_test::TempDirectory dir_{"i19-query"};
  cl::TComponent owner_{nullptr};
};

// The application's caller search, shaped as its form holds it, while table components hold the
// same files; the query leaves them editable and keeps no file of its own.
TEST_F(QueryTest, CallerSearchBesideOpenTables) {
  testing::CreateTable(dir_.File("Clients.DAT"),
                       {Field(1, "NoSociete", kFieldInt32), Field(2, "Societe", kFieldString, 50),
                        Field(3, "Ville", kFieldString, 40)},
                       Index("", {1}, true));
  testing::CreateTable(
      dir_.File("Inter.DAT"),
      {Field(1, "NoSociete", kFieldInt32), Field(2, "NoInterlocuteur", kFieldInt32),
       Field(3, "Nom", kFieldString, 50), Field(4, "Fonction", kFieldString, 40)},
      Index("", {2}, true), {Index("ParSociete", {1, 3}, false)});
  TTesseraQuery* insert = NewQuery({"INSERT INTO Clients VALUES (:n, :s, :v)"});
  for (auto [n, s, v] :
       {std::tuple{0, "<Tous clients>", ""}, {1, "Alpha", "Lyon"}, {2, "Beta", "Paris"}}) {
    insert->ParamByName("n")->SetAsInteger(n);
    insert->ParamByName("s")->SetAsString(s);
    insert->ParamByName("v")->SetAsString(v);
    insert->ExecSQL();
    EXPECT_EQ(insert->RowsAffected(), 1);
  }
  Exec("INSERT INTO Inter VALUES (2, 10, 'Martin', 'Achats')");
  Exec("INSERT INTO Inter VALUES (1, 11, 'Durand', NULL)");
  Exec("INSERT INTO Inter VALUES (2, 12, 'Bernard', 'Direction')");
  Exec("INSERT INTO Inter VALUES (7, 13, 'Petit', NULL)");
  auto* clients = cl::Create<TTesseraTable>(&owner_);
  clients->SetDatabaseName(dir_.Path());
  clients->SetTableName("Clients.DAT");
  auto* callers = cl::Create<TTesseraTable>(&owner_);
  callers->SetDatabaseName(dir_.Path());
  callers->SetTableName("Inter.DAT");
  callers->SetIndexFieldNames("NoSociete;Nom");
  clients->Open();
  callers->Open();

  TTesseraQuery* query = NewQuery(
      {"SELECT I.NoSociete, I.NoInterlocuteur, I.Nom, I.Fonction, "
       "C.Societe, C.Ville",
       "FROM ", "Inter I, Clients C", "WHERE ", "I.NoSociete = C.NoSociete", "ORDER BY ", "I.Nom"});
  query->Open();
  EXPECT_EQ(Rows(query), (V{"2|12|Bernard|Direction|Beta|Paris", "1|11|Durand||Alpha|Lyon",
                            "2|10|Martin|Achats|Beta|Paris"}));
  EXPECT_EQ(query->FieldByName("Nom")->Size(), 50);
  EXPECT_FALSE(query->CanModify());
  // The caller dialog stands on the message's caller.
  EXPECT_TRUE(query->Locate("NoInterlocuteur", cl::Variant(11), {}));
  EXPECT_EQ(query->FieldByName("Nom")->AsString(), "Durand");
  EXPECT_GT(FilesIn(dir_.File("private")), 0u);  // the result's files
  callers->Edit();                               // Durand, first in NoSociete;Nom order
  callers->FieldByName("Fonction")->SetAsString("Ventes");
  callers->Post();
  query->Close();
  EXPECT_FALSE(query->Prepared());
  EXPECT_EQ(FilesIn(dir_.File("private")), 0u);
  query->Open();
  EXPECT_EQ(Rows(query)[1], "1|11|Durand|Ventes|Alpha|Lyon");
}

// Each type reaches the engine with the value it was given and comes back through the result;
// the engine numbers parameters in the text's order (INSERT values, SET values, then WHERE).
TEST_F(QueryTest, ParametersOfEveryTypeInTextualOrder) {
  TFieldDefinition money = Field(7, "M", kFieldMoney);
  money.decimals = 4;
  testing::CreateTable(
      dir_.File("Types"),
      {Field(1, "Id", kFieldInt32), Field(2, "S", kFieldString, 20), Field(3, "Si", kFieldInt16),
       Field(4, "W", kFieldWord), Field(5, "B", kFieldBoolean), Field(6, "F", kFieldFloat), money,
       Field(8, "D", kFieldDate), Field(9, "Tm", kFieldTime), Field(10, "Ts", kFieldTimeStamp)},
      Index("", {1}, true));
  const cl::TDateTime day = cl::EncodeDate(2001, 2, 3);
  const cl::TDateTime time = cl::EncodeTime(4, 5, 6, 7);
  TTesseraQuery* insert =
      NewQuery({"INSERT INTO Types VALUES (:id, :s, :si, :w, :b, :f, :m, :d, :tm, :ts)"});
  insert->ParamByName("id")->SetAsInteger(1);
  insert->ParamByName("s")->SetAsString("caf\xE9");
  insert->ParamByName("si")->SetAsSmallInt(-300);
  insert->ParamByName("w")->SetAsWord(65000);
  insert->ParamByName("b")->SetAsBoolean(true);
  insert->ParamByName("f")->SetAsCurrency(2.5);
  insert->ParamByName("m")->SetAsBCD(cl::Currency::FromRaw(123456));
  insert->ParamByName("d")->SetAsDate(day);
  insert->ParamByName("tm")->SetAsTime(time);
  insert->ParamByName("ts")->SetAsDateTime(day + time);
  insert->ExecSQL();
  TTesseraQuery* find = NewQuery({"SELECT Id FROM Types WHERE S = :s"});
  find->ParamByName("s")->SetAsString("caf\xE9");
  find->Open();
  EXPECT_EQ(Rows(find), V{"1"});
  find->Close();
  // A string and a small integer in SET, an integer in WHERE: taken in any other order, the
  // engine would refuse the types or change nothing.
  TTesseraQuery* update = NewQuery({"UPDATE Types SET Si = :si, S = :s WHERE Id = :id"});
  update->ParamByName("si")->SetAsSmallInt(5);
  update->ParamByName("s")->SetAsString("x");
  update->ParamByName("id")->SetAsInteger(1);
  update->ExecSQL();
  EXPECT_EQ(update->RowsAffected(), 1);

  TTesseraQuery* join = NewQuery(
      {"SELECT a.Id FROM Types a JOIN Types b ON a.Id = b.Id AND b.S = :s WHERE a.Si = :si"});
  join->ParamByName("s")->SetAsString("x");
  join->ParamByName("si")->SetAsSmallInt(5);
  join->Open();
  EXPECT_EQ(Rows(join), V{"1"});

  TTesseraQuery* select = NewQuery({"SELECT * FROM Types WHERE Id >= :p AND Id <= :p"});
  ASSERT_EQ(select->ParamCount(), 2);
  select->Params()->Item(0)->SetAsInteger(0);
  select->Params()->Item(1)->SetAsInteger(1);
  select->Open();
  ASSERT_EQ(select->RecordCount(), 1);
  EXPECT_EQ(select->FieldByName("S")->AsString(), "x");
  EXPECT_EQ(select->FieldByName("Si")->AsInteger(), 5);
  EXPECT_EQ(select->FieldByName("W")->AsInteger(), 65000);
  EXPECT_TRUE(select->FieldByName("B")->AsBoolean());
  EXPECT_EQ(select->FieldByName("F")->AsFloat(), 2.5);
  EXPECT_EQ(select->FieldByName("M")->AsCurrency().Raw, 123456);
  EXPECT_EQ(select->FieldByName("D")->AsDateTime(), day);
  EXPECT_DOUBLE_EQ(select->FieldByName("Tm")->AsDateTime(), time);
  EXPECT_DOUBLE_EQ(select->FieldByName("Ts")->AsDateTime(), day + time);
  select->Close();
  select->Params()->Item(1)->SetAsInteger(0);
  select->Open();
  EXPECT_EQ(select->RecordCount(), 0);
}

// One row per message of the component, as the user reads it.
TEST_F(QueryTest, Messages) {
  TTesseraQuery* q = NewQuery({"SELECT * FROM T WHERE Numero = :p"});
  TTesseraQuery* empty = NewQuery({});
  TTesseraQuery* one = NewQuery({"S"});
  auto* source = cl::Create<cl::TDataSource>(&owner_);
  source->SetDataSet(q);
  const std::string long_text(255, 'a');
  struct Row {
    std::function<void()> action;
    std::string message;
  };
  const Row rows[] = {
      {[&] { empty->Open(); }, "No SQL statement available"},
      {[&] { one->SetPrepared(true); },
       "Tessera Engine Error # 11949 SQL - SELECT, INSERT, UPDATE, or DELETE keyword expected, "
       "instead found 'S'"},
      {[&] { q->ParamByName("zz"); }, "Parameter 'zz' not found"},
      {[&] { q->Open(); }, "No value for parameter 'p'"},
      {[&] {
         q->ParamByName("p")->SetDataType(cl::ftBlob);
         q->Open();
       },
       "Field 'p' is of an unsupported type"},
      {[&] {
         q->ParamByName("p")->SetAsString(long_text);
         q->Open();
       },
       "Tessera Engine Error # 11949 SQL - Value of parameter 'p' exceeds the maximum length of "
       "254 characters"},
      {[&] { q->SetDataSource(source); }, cl::SCircularDataLink},
      {[&] {
         q->ParamByName("p")->SetAsInteger(1);
         q->Open();
         q->SetPrepared(false);
       },
       cl::SDataSetOpen},
      {[&] {
         q->Close();
         q->SQL()->Clear();
         q->SQL()->Add("DELETE FROM T");
         q->Open();
       },
       SCreateHandleError},
  };
  for (const Row& row : rows) EXPECT_EQ(ErrorOf(row.action), row.message);
  EXPECT_FALSE(q->Prepared());
  EXPECT_TRUE(TableLockFree("T"));
  // Without a line the statement is refused before the engine sees it.
  auto* blank = cl::Create<TTesseraQuery>(&owner_);
  EXPECT_EQ(ErrorOf([&] { blank->SetPrepared(true); }), "No SQL statement available");
}

// Seeded broken statements, through Open and through ExecSQL: each is an engine error, and
// afterwards no lock is held and no file is left.
TEST_F(QueryTest, BadStatementsLeaveNoLockAndNoFile) {
  Exec("INSERT INTO T (Numero, Nom, DateAppel) VALUES (1, 'a', '01/02/2003')");
  Exec("INSERT INTO T (Numero, Nom, DateAppel) VALUES (2, 'b', '01/02/2003')");
  const V shells = {"SELECT Numero , Nom FROM T WHERE Numero > 1 ORDER BY Nom",
                    "SELECT COUNT ( * ) , Nom FROM T GROUP BY Nom",
                    "UPDATE T SET Nom = 'x' WHERE Numero = 2", "DELETE FROM T WHERE Nom = 'a'",
                    "INSERT INTO T ( Numero , Nom ) VALUES ( 9 , 'n' )"};
  const V names = {"Numero", "Nom", "T"};
  const size_t files = FilesIn(dir_.Path());
  auto refused = [&](const std::string& sql, bool exec, const std::string& trace) {
    TTesseraQuery* query = NewQuery({sql});
    try {
      exec ? query->ExecSQL() : query->Open();
      ADD_FAILURE() << trace << " accepted: " << sql;
    } catch (const ETesseraEngineError&) {
    }
    EXPECT_FALSE(query->Prepared()) << sql;
    EXPECT_TRUE(TableLockFree("T")) << trace << ": " << sql;
    EXPECT_EQ(FilesIn(dir_.File("private")), 0u) << sql;
    EXPECT_EQ(FilesIn(dir_.Path()), files) << sql;
    query->Free();
  };
  // Well-formed statements that binding or execution refuses.
  std::string seventeen = "SELECT DISTINCT Numero";
  for (int i = 0; i < 16; ++i) seventeen += ", Numero";
  const V semantic = {
      "SELECT Numero FROM T WHERE Nom > 3",
      "UPDATE T SET Numero = 'abc' WHERE Numero = 2",
      "SELECT Numero FROM T ORDER BY 5",
      "SELECT Nom, COUNT(*) FROM T GROUP BY 3",
      seventeen + " FROM T",
      "SELECT * FROM T a, T b WHERE (a.Numero + b.Numero) = 3",
      "SELECT * FROM T a, T b LEFT JOIN T c ON a.Numero = c.Numero AND b.Numero = c.Numero"};
  for (const std::string& sql : semantic) {
    for (const bool exec : {false, true}) refused(sql, exec, exec ? "ExecSQL" : "Open");
  }
  for (uint32_t seed = 1; seed <= 120; ++seed) {
    std::mt19937 random(seed);
    std::string sql = shells[random() % shells.size()];
    std::vector<std::string> tokens;
    for (size_t start = 0, end; start < sql.size(); start = end + 1) {
      end = std::min(sql.find(' ', start), sql.size());
      tokens.push_back(sql.substr(start, end - start));
    }
    switch (random() % 4) {
      case 0: {  // an unknown name in place of a known one
        std::vector<size_t> at;
        for (size_t i = 0; i < tokens.size(); ++i) {
          if (std::find(names.begin(), names.end(), tokens[i]) != names.end()) at.push_back(i);
        }
        tokens[at[random() % at.size()]] = "Zz";
        break;
      }
      case 1:  // a character the language does not know
        tokens.insert(tokens.begin() + 1 + random() % (tokens.size() - 1), "@");
        break;
      case 2:  // a dangling operator
        tokens.push_back(random() % 2 == 0 ? "AND" : "=");
        break;
      default:  // an unterminated string
        tokens.push_back("'abc");
        break;
    }
    sql.clear();
    for (const std::string& token : tokens) sql += (sql.empty() ? "" : " ") + token;
    refused(sql, random() % 2 == 0, "seed " + std::to_string(seed));
  }
}

// ExecSQL counts the rows it changed; Open refuses a change before making it.
TEST_F(QueryTest, ExecSqlAgainstOpen) {
  for (int n = 1; n <= 4; ++n) {
    Exec("INSERT INTO T (Numero, Nom, DateAppel) VALUES (" + std::to_string(n) + ", 'n" +
         std::string(n % 2 == 0 ? "x" : "y") + "', '01/02/2003')");
  }
  TTesseraQuery* q = NewQuery({"DELETE FROM T WHERE Nom LIKE '%x'"});
  q->SetPrepared(true);
  EXPECT_EQ(ErrorOf([&] { q->Open(); }), SCreateHandleError);
  EXPECT_FALSE(q->Prepared());
  EXPECT_TRUE(TableLockFree("T"));
  TTesseraQuery* count = NewQuery({"SELECT Numero FROM T"});
  count->Open();
  EXPECT_EQ(count->RecordCount(), 4);
  count->Close();
  q->ExecSQL();
  EXPECT_EQ(q->RowsAffected(), 2);
  q->SQL()->Clear();
  q->SQL()->Add("UPDATE T SET Nom = 'z'");
  q->ExecSQL();
  EXPECT_EQ(q->RowsAffected(), 2);
  count->Open();
  EXPECT_EQ(Rows(count), (V{"1", "3"}));
}

// Lock settings changed on an open live query govern its table's next lock attempt; strict
// change detection set after Prepare reaches the tables the query opens.
TEST_F(QueryTest, LockSettingsReachTheOpenSources) {
  Exec("INSERT INTO T (Numero, Nom, DateAppel) VALUES (1, 'a', '01/02/2003')");
  auto* holder = cl::Create<TTesseraTable>(&owner_);
  holder->SetDatabaseName(dir_.Path());
  holder->SetTableName("T");
  holder->Open();
  holder->Edit();
  TTesseraQuery* q = NewQuery({"SELECT * FROM T"});
  q->SetRequestLive(true);
  q->SetLockRetryCount(0);
  q->Prepare();
  q->SetStrictChangeDetection(true);
  q->Open();
  ASSERT_TRUE(q->CanModify());
  EXPECT_TRUE(q->Handle()->StrictChangeDetection());
  int waits = 0;
  TDataFile::TLockTuning tuning;
  tuning.wait = [&](int32_t ms) { waits += ms == 5 ? 1 : 100; };
  q->Handle()->SetLockTuning(tuning);
  for (const uint8_t retries : {2, 4}) {
    q->SetLockRetryCount(retries);
    q->SetLockWaitTime(5);
    waits = 0;
    EXPECT_EQ(EngineCode([&] { q->Edit(); }), kErrRecordLocked);
    EXPECT_EQ(waits, retries);
  }
  holder->Cancel();
  q->Edit();
  q->Cancel();
}

// OnQueryProgress stopping the statement leaves a partial result and no error; a master move
// re-opens the query with the master's new value.
TEST_F(QueryTest, AbortAndMasterMoves) {
  for (int n = 1; n <= 6; ++n) {
    Exec("INSERT INTO T (Numero, Nom, DateAppel) VALUES (" + std::to_string(n) + ", 'n" +
         std::to_string(n % 2) + "', '01/02/2003')");
  }
  TTesseraQuery* aborted = NewQuery({"SELECT Numero FROM T"});
  int calls = 0;
  aborted->OnQueryProgress = [&](cl::TObject* sender, int, uint16_t, bool& abort) {
    EXPECT_EQ(sender, aborted);
    ++calls;
    abort = true;
  };
  aborted->Open();
  EXPECT_EQ(calls, 1);
  // The row at hand when the callback stopped the statement stays.
  EXPECT_EQ(Rows(aborted), V{"1"});

  TTesseraQuery* master = NewQuery({"SELECT DISTINCT Nom FROM T ORDER BY Nom"});
  auto* source = cl::Create<cl::TDataSource>(&owner_);
  source->SetDataSet(master);
  TTesseraQuery* detail = NewQuery({"SELECT Numero FROM T WHERE Nom = :Nom ORDER BY Numero"});
  detail->SetDataSource(source);
  master->Open();
  detail->Open();
  EXPECT_EQ(Rows(detail), (V{"2", "4", "6"}));
  master->Next();
  EXPECT_TRUE(detail->Active());
  EXPECT_EQ(Rows(detail), (V{"1", "3", "5"}));
  // A value the program gave wins over the master's.
  detail->ParamByName("Nom")->SetAsString("n0");
  master->First();
  master->Next();
  EXPECT_EQ(Rows(detail), (V{"2", "4", "6"}));
}

// The query's "Data" and its parameters' travel through the property writer and the loader.
TEST_F(QueryTest, StoredDataThroughTheLoader) {
  TTesseraQuery* source = NewQuery({"SELECT * FROM T WHERE Numero = :n AND Nom = :s"});
  source->ParamByName("n")->SetAsInteger(7);
  source->ParamByName("s")->Clear();
  std::vector<cl::TStoredProperty> stored = cl::TPropertyWriter::Collect(*source);
  ASSERT_EQ(stored.size(), 1u);  // no query data: not written
  EXPECT_EQ(stored[0].name, "Params.Data");

  cl::TComponent root(nullptr);
  TTesseraQuery* loaded = nullptr;
  {
    cl::TLoader loader(&root);
    loaded = loader.Create<TTesseraQuery>(&root, "Query1");
    loaded->SQL()->Add("SELECT * FROM T WHERE Numero = :n AND Nom = :s");
    loader.DefineData(loaded, "Params.Data", stored[0].bytes);
    loader.DefineData(loaded, "Data", {'a', 'b', 0, 'c'});
    loader.Finish();
  }
  EXPECT_EQ(loaded->Text().substr(0, 46), "SELECT * FROM T WHERE Numero = ? AND Nom = ?\r\n");
  ASSERT_EQ(loaded->ParamCount(), 2);
  EXPECT_EQ(loaded->Params()->Item(0)->AsInteger(), 7);
  EXPECT_TRUE(loaded->Params()->Item(1)->IsNull());
  std::vector<cl::TStoredProperty> again = cl::TPropertyWriter::Collect(*loaded);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[0].bytes, (std::vector<uint8_t>{'a', 'b'}));
  EXPECT_EQ(again[1].bytes, stored[0].bytes);
  // A new text drops the query's data and keeps same-named values.
  loaded->SQL()->Add("AND Numero > :n2");
  EXPECT_TRUE(loaded->Data().empty());
  EXPECT_EQ(loaded->ParamByName("n")->AsInteger(), 7);
  EXPECT_FALSE(loaded->ParamByName("n2")->Bound());
  // Without ParamCheck the engine gets the names as written and the list stays.
  loaded->SetParamCheck(false);
  loaded->SQL()->Add("AND Nom <> :zz");
  EXPECT_NE(loaded->Text().find("AND Numero > :n2\r\nAND Nom <> :zz"), std::string::npos);
  EXPECT_EQ(loaded->ParamCount(), 3);
}

// Statements that once gave wrong rows, changed part of a table or lost a table without an error:
// each gives its rows or its error, and a failing one leaves every table as it was.
TEST_F(QueryTest, StatementsAreNeverSilentlyWrong) {
  TIndexDescriptor by_name = Index("ParNom", {2}, true);
  by_name.unique = 1;
  testing::CreateTable(
      dir_.File("Clients"),
      {Field(1, "No", kFieldInt32), Field(2, "Nom", kFieldString, 20),
       Field(3, "Effectif", kFieldInt32), testing::Sub(Field(4, "Memo", kFieldBlob), 22)},
      Index("", {1}, true), {by_name});
  auto* clients = cl::Create<TTesseraTable>(&owner_);
  clients->SetDatabaseName(dir_.Path());
  clients->SetTableName("Clients");
  clients->Open();
  for (auto [no, nom, effectif, memo] :
       {std::tuple{1, "A", 10, "note"}, {2, "B", 20, ""}, {3, "C", 30, "suite"}}) {
    clients->Append();
    clients->FieldByName("No")->SetAsInteger(no);
    clients->FieldByName("Nom")->SetAsString(nom);
    clients->FieldByName("Effectif")->SetAsInteger(effectif);
    if (*memo != '\0') clients->FieldByName("Memo")->SetAsString(memo);
    clients->Post();
  }
  clients->Close();
  const V all = {"1|A|10", "2|B|20", "3|C|30"};
  const std::string copy = "'" + dir_.File("Copie") + "'";
  const std::string into = "SELECT No, Nom INTO " + copy + " FROM Clients WHERE Effectif > :e";
  Exec("SELECT No, Nom, Effectif INTO " + copy + " FROM Clients");
  const size_t files = FilesIn(dir_.Path());

  struct Case {
    std::string sql;
    cl::Variant param;  // the first parameter's value, when not empty
    std::string error;  // the start of the message; empty: none
    V rows;             // Open: the rows; ExecSQL (UPDATE, INTO): RowsAffected
    bool param_check = true;
  };
  const std::string sql_error = "Tessera Engine Error # 11949 SQL - ";
  const std::string nested = sql_error + "Aggregate functions cannot be part of an expression: '";
  const std::vector<Case> cases = {
      {"SELECT SUM(Effectif) + 1 FROM Clients", {}, nested + "SUM(Effectif) + 1'", {}},
      {"SELECT Nom, MAX(Effectif) - MIN(Effectif) FROM Clients GROUP BY Nom",
       {},
       nested + "MAX(Effectif) - MIN(Effectif)'",
       {}},
      {"SELECT SUM(MAX(Effectif)) FROM Clients", {}, nested, {}},
      {"SELECT SUM(Effectif), COUNT(*) FROM Clients", {}, "", {"60|3"}},
      {"UPDATE Clients SET Effectif = Effectif WHERE No >= 2", {}, "", {"2"}},
      // The second row's new name clashes with the first's: nothing stays changed, no rows told.
      {"UPDATE Clients SET Nom = 'Z' WHERE No >= 2", {}, "Tessera Engine Error # 9729", {"0"}},
      // A parameter that does not convert: the old copy stays whole, with its layout.
      {into, cl::Variant("abc"), sql_error, {"0"}},
      {"SELECT * FROM " + copy, {}, "", all},
      {into, cl::Variant(15), "", {"2"}},
      {"SELECT * FROM " + copy, {}, "", {"2|B", "3|C"}},
      // A "?" never given a value, whatever ParamCheck says.
      {"SELECT Nom FROM Clients WHERE No = ?", {}, "No value for parameter '1'", {}, false},
      {"SELECT Nom FROM Clients WHERE No = :n AND No <> ?",
       cl::Variant(2),
       "No value for parameter '2'",
       {}},
      // Colons in a comment or a string are no parameters.
      {"SELECT Nom FROM Clients /* 10:30 it's */ WHERE Nom <> '10:30' AND No = :n",
       cl::Variant(2),
       "",
       {"B"}},
      {"SELECT No FROM Clients WHERE Memo IS NULL", {}, "", {"2"}},
      {"SELECT No FROM Clients WHERE Memo IS NOT NULL", {}, "", {"1", "3"}},
  };
  TTesseraQuery* query = NewQuery({});
  TTesseraQuery* check = NewQuery({"SELECT No, Nom, Effectif FROM Clients"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    query->SetParamCheck(c.param_check);
    query->SQL()->Clear();
    query->SQL()->Add(c.sql);
    if (!c.param.IsEmpty()) query->Params()->Item(0)->SetValue(c.param);
    const bool exec = !c.sql.starts_with("SELECT") || c.sql.find(" INTO ") != std::string::npos;
    V rows;
    const std::string error = ErrorOf([&] {
      exec ? query->ExecSQL() : query->Open();
      rows = exec ? V{std::to_string(query->RowsAffected())} : Rows(query);
    });
    if (exec && !error.empty()) rows = {std::to_string(query->RowsAffected())};
    query->Close();
    EXPECT_EQ(error.substr(0, c.error.size()), c.error);
    EXPECT_EQ(error.empty(), c.error.empty()) << error;
    EXPECT_EQ(rows, c.rows);
    check->Open();
    EXPECT_EQ(Rows(check), all);
    check->Close();
    EXPECT_TRUE(TableLockFree("Clients"));
  }
  EXPECT_EQ(FilesIn(dir_.File("private")), 0u);
  EXPECT_EQ(FilesIn(dir_.Path()), files) << "no result left beside its target";

  // Blobs tested for NULL by the filter text of a dataset, on a result and on a live source.
  query->SQL()->Clear();
  query->SQL()->Add("SELECT No, Memo FROM Clients");
  for (const bool live : {false, true}) {
    query->SetRequestLive(live);
    query->Open();
    for (auto [filter, expected] : {std::pair<const char*, V>{"Memo = NULL", {"2|"}},
                                    {"Memo <> NULL", {"1|note", "3|suite"}}}) {
      SCOPED_TRACE(std::string(filter) + (live ? " (live)" : ""));
      query->SetFilter(filter);
      query->SetFiltered(true);
      EXPECT_EQ(Rows(query), expected);
    }
    query->Close();
  }
  query->SetFiltered(false);

  // A DELETE that meets a damaged memo on its last row: the rows before it come back, memos too.
  {
    std::fstream blb(dir_.File("Clients.BLB"), std::ios::in | std::ios::out | std::ios::binary);
    for (std::streamoff at = kBlobHeaderSize;; at += kDefaultBlobBlockSize) {
      uint8_t header[kBlockHeaderSize] = {};
      if (!blb.seekg(at).read(reinterpret_cast<char*>(header), sizeof header)) break;
      if (cl::GetU32LE(header + kBlkOwner) != 3) continue;
      cl::PutU32LE(header + kBlkOwner, 99);
      blb.seekp(at).write(reinterpret_cast<const char*>(header), sizeof header);
    }
  }
  EXPECT_EQ(ErrorOf([&] { Exec("DELETE FROM Clients"); }).substr(0, 28),
            "Tessera Engine Error # 8963 ");
  check->Open();
  EXPECT_EQ(Rows(check), all);
  query->SQL()->Clear();
  query->SQL()->Add("SELECT Memo FROM Clients WHERE No <> 3");
  query->Open();
  EXPECT_EQ(Rows(query), (V{"note", ""}));
}

}  // namespace
}  // namespace tessera
