// TDataQuery: statements bound and run end to end over real tables: result-table definitions,
// the engine's messages, aggregates, the live decision, and the safety of files and locks.
#include "engine/sql/TDataQuery.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/table/TableCheck.h"
#include "platform/FaultyFile.h"
#include "tests/engine/sql/QueryTestSupport.h"
#include "tests/platform/LockHelperClient.h"

namespace tessera {
namespace {

using testing::EngineCode;
using testing::Field;
using testing::Index;
using V = std::vector<std::string>;

class DataQueryTest : public testing::QueryTest {
 protected:
  void SetUp() override {
    QueryTest::SetUp();
    Create("T.DAT",
           {Field(1, "Id", kFieldInt32), Field(2, "Nom", kFieldString, 20),
            Field(3, "Val", kFieldInt16), Field(4, "Amt", kFieldFloat), Field(5, "D", kFieldDate)},
           {Index("", {1}, true), Index("ByNom", {2}, false)});
    for (const char* v : {"(1, 'Smith', 10, 1.5, NULL)", "(2, 'Jones', 20, 2.5, NULL)",
                          "(3, 'Adams', NULL, 3, NULL)", "(4, 'Smith', -5, NULL, NULL)"}) {
      Run(std::string("INSERT INTO T VALUES ") + v);
    }
  }

  std::string Bytes(std::string_view name) {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // A second handle takes T's table lock without waiting.
  bool TableLockFree(std::string_view name = "T.DAT") {
    TDataFile other;
    other.SetFileName(Path(name));
    other.Open();
    other.SetLockRetryCount(0);
    const bool free = EngineCode([&] { other.LockTable(); }) == 0;
    if (free) other.UnlockTable();
    return free;
  }

  // Fields "name:type[:size]" then indexes "[name](fields)[D][C][U]".
  static std::string DumpResult(const TDataQuery& q) {
    std::ostringstream out;
    for (const TFieldDefinition& f : q.ResultFields()) {
      out << f.name << ":" << int{f.type};
      if (f.size != 0) out << ":" << int{f.size};
      if (f.sub_type != 0) out << "/" << int{f.sub_type};
      out << " ";
    }
    for (const TIndexDescriptor& x : q.ResultIndexes()) {
      out << "[" << x.name << "](";
      for (int k = 0; k < x.field_count; ++k) {
        out << (k ? "," : "") << x.field_numbers[k] << (x.field_descending[k] ? "d" : "");
      }
      out << ")" << (x.descending ? "D" : "") << (x.case_insensitive ? "C" : "")
          << (x.unique ? "U" : "") << " ";
    }
    return out.str();
  }
};

TEST_F(DataQueryTest, StatementsOverOneTable) {
  EXPECT_EQ(Run("SELECT * FROM T"), (V{"1|Smith|10|1.5|NULL", "2|Jones|20|2.5|NULL",
                                       "3|Adams|NULL|3|NULL", "4|Smith|-5|NULL|NULL"}));
  EXPECT_EQ(Run("SELECT Nom, COUNT(*), SUM(Val), AVG(Amt), MIN(Val), MAX(Val), COUNT(Amt) "
                "FROM T GROUP BY Nom"),
            (V{"Adams|1|NULL|3|NULL|NULL|1", "Jones|1|20|2.5|20|20|1", "Smith|2|5|1.5|-5|10|1"}));
  EXPECT_EQ(Run("SELECT Nom, COUNT(Val) FROM T WHERE Id = 3 GROUP BY Nom"), (V{"Adams|0"}));
  // Aggregates only: one row; COUNT over no rows is 0 and AVG of no values 0.
  EXPECT_EQ(Run("SELECT COUNT(*), COUNT(Val), AVG(Val), MAX(Val) FROM T"), (V{"4|3|8.33333|20"}));
  EXPECT_EQ(Run("SELECT COUNT(*), COUNT(Val), AVG(Val), SUM(Val) FROM T WHERE Id > 9"),
            (V{"0|0|0|NULL"}));
  EXPECT_EQ(Run("SELECT COUNT(*) FROM T WHERE Id > 9"), (V{"0"}));
  // Each AVG divides by its own non-NULL values.
  EXPECT_EQ(Run("SELECT AVG(Val), AVG(Amt) FROM T"), (V{"8.33333|2.33333"}));
  EXPECT_EQ(Run("SELECT MAX(Val) FROM T WHERE Val < 0"), (V{"-5"}));
  EXPECT_EQ(Run("SELECT DISTINCT Nom FROM T ORDER BY Nom DESC"), (V{"Smith", "Jones", "Adams"}));
  EXPECT_EQ(Run("SELECT Id, Id * 2 AS Twice FROM T WHERE Id < 3 ORDER BY 1 DESC"),
            (V{"2|4", "1|2"}));
  // Values are converted, never stored as reinterpreted bytes.
  Run("UPDATE T SET Nom = Id + 100, Val = 7.6 WHERE Id = 1");
  EXPECT_EQ(last_rows_affected_, 1);
  EXPECT_EQ(Run("SELECT Nom, Val FROM T WHERE Id = 1"), (V{"101|8"}));
  Run("INSERT INTO T (Id, Nom, D) VALUES (5, 42, '3/1/2001')");
  EXPECT_EQ(Run("SELECT Nom, EXTRACT(MONTH FROM D) FROM T WHERE Id = 5"), (V{"42|3"}));
  // Rows affected counts the rows changed, not the rows read.
  Run("DELETE FROM T WHERE Nom LIKE '%mith'");
  EXPECT_EQ(last_rows_affected_, 1);
  Run("DELETE FROM T");
  EXPECT_EQ(last_rows_affected_, 4);
  EXPECT_EQ(Run("SELECT * FROM T"), V{});
  EXPECT_EQ(PrivateFiles(), 0u);
}

// Ordered rows are stored in the order their ORDER BY index reads them.
TEST_F(DataQueryTest, OrderedRowsAreStoredInTheirReadingOrder) {
  const char* const names[] = {"smith", "Smith", "\xC9mile", "emile", "co-op", "coop", "", "Zo"};
  for (int i = 0; i < 40; ++i) {
    Run("INSERT INTO T (Id, Nom, Val) VALUES (" + std::to_string(10 + i) + ", '" +
        names[i * 5 % 8] + "', " + (i % 7 ? std::to_string(i % 5 - 2) : "NULL") + ")");
  }
  for (const char* sql : {"SELECT Nom, Val FROM T ORDER BY Nom DESC, Val NOCASE",
                          "SELECT Val, Nom FROM T ORDER BY 1, 2 DESC",
                          "SELECT a.Nom, b.Id FROM T a, T b WHERE a.Id = b.Id ORDER BY a.Nom"}) {
    TDataQuery q;
    const V ordered = Run(sql, &q);
    q.ResultTable().SetCurrentIndexByNumber(kRecordOrderIndex);
    EXPECT_EQ(ReadRows(q.ResultTable()), ordered) << sql;
  }
}

TEST_F(DataQueryTest, ResultTableDefinitions) {
  Create("W.DAT", {Field(1, "Big", kFieldString, 250), Field(2, "Auto", kFieldInt32)}, {});
  Create("R.DAT", {Field(1, "Row___No", kFieldInt32), Field(2, "X", kFieldInt32)}, {});
  struct Case {
    const char* sql;
    const char* dump;
  };
  // clang-format off
  const Case cases[] = {
    {"SELECT Id, Id, Id FROM T",
     "Row___No:6/29 Id_1:6 Id_2:6 Id:6 []()U "},
    {"SELECT Nom AS abcdefghijabcdefghijabcdefghij, Id AS abcdefghijabcdefghijabcdefghij FROM T",
     "Row___No:6/29 cdefghijabcdefghijabcdefghij_1:1:20 abcdefghijabcdefghijabcdefghij:6 []()U "},
    {"SELECT SUM(Val), AVG(Val), COUNT(*), MIN(Amt), Id + 1 FROM T GROUP BY 5",
     "Row___No:6/29 Sum Of Val:5 Average Of Val:7 Count Of *:6 Min Of Amt:7 Expression:6 "
     "Avg__Count:6 [](6) "},
    {"SELECT AVG(Val), AVG(Amt) FROM T",
     "Row___No:6/29 Average Of Val:7 Average Of Amt:7 Avg__Count:6 Avg__Count_2:6 []()U "},
    {"SELECT Nom, Id FROM T ORDER BY Nom DESC, Id DESC NOCASE",
     "Row___No:6/29 Nom:1:20 Id:6 [](2,3,1)DC "},
    {"SELECT Nom, Id FROM T ORDER BY Nom, Id DESC",
     "Row___No:6/29 Nom:1:20 Id:6 [](2,3d,1) "},
    {"SELECT DISTINCT Nom, Val FROM T",
     "Row___No:6/29 Nom:1:20 Val:5 [](2,3) "},
    {"SELECT DISTINCT Nom, Val FROM T ORDER BY Nom, Val",
     "Row___No:6/29 Nom:1:20 Val:5 [](2,3) "},
    {"SELECT DISTINCT Nom, Val FROM T ORDER BY Val",
     "Row___No:6/29 Nom:1:20 Val:5 [](3,1) [Distinct](2,3) "},
    {"SELECT Nom, COUNT(*) FROM T GROUP BY Nom ORDER BY 2 DESC",
     "Row___No:6/29 Nom:1:20 Count Of *:6 [](3,1)D [GroupBy](2) "},
    {"SELECT * FROM R, W",
     "Row___No:6/29 X:6 Big:1:250 Auto:6 []()U "},
    {"SELECT Big, Auto FROM W",
     "Row___No:6/29 Big:1:250 Auto:6 []()U "},
    {"SELECT UPPER(Nom) u, Amt / 2 FROM T",
     "Row___No:6/29 u:1:20 Expression:7 []()U "},
  };
  // clang-format on
  for (const Case& c : cases) {
    TDataQuery q;
    q.SetDirectory(dir_.Path());
    ASSERT_EQ(EngineCode([&] { q.PrepareQuery(c.sql); }), 0) << c.sql;
    EXPECT_EQ(DumpResult(q), c.dump) << c.sql;
  }
}

TEST_F(DataQueryTest, EveryMessageInFull) {
  Create("R.DAT", {Field(1, "Row___No", kFieldInt32), Field(2, "X", kFieldInt32)}, {});
  Create("W.DAT", {Field(1, "Big", kFieldString, 200), Field(2, "B", kFieldBlob)}, {});
  std::string seventeen = "SELECT DISTINCT Id";
  for (int i = 0; i < 16; ++i) seventeen += ", Id";
  std::string sixteen_orders = "SELECT Id FROM T ORDER BY 1";
  for (int i = 0; i < 15; ++i) sixteen_orders += ", 1";
  struct Case {
    std::string sql;
    const char* message;
  };
  // clang-format off
  const Case cases[] = {
    {"SELECT Row___No FROM R", "Invalid use of reserved field name 'Row___No'in source columns"},
    {seventeen + " FROM T", "Maximum number of columns (16) in DISTINCT clause exceeded"},
    {"SELECT Id FROM T ORDER BY 2", "Invalid column number '2' specified in ORDER BY clause"},
    {sixteen_orders, "Too many columns in ORDER BY clause"},
    {"SELECT Nom, SUM(Id) FROM T GROUP BY 3",
     "Invalid column number '3' specified in GROUP BY clause"},
    {"SELECT Id FROM T ORDER BY Zz",
     "Invalid column name 'Zz' or table correlation name '' specified in ORDER BY clause"},
    {"SELECT Big || Big FROM W",
     "Column expression 'Big || Big' exceeds the maximum allowable field size"},
    {"SELECT SUM(Val), Nom FROM T",
     "Invalid use of aggregate function for column 'Val', the necessary GROUP BY clause is missing"},
    {"SELECT * x FROM T",
     "Invalid use of column correlation name 'x' for '*' specified in source columns"},
    {"SELECT q.Zz FROM T q",
     "Invalid column name 'Zz' or table correlation name 'q' specified in source columns"},
    {"SELECT Id FROM T WHERE Zz = 1",
     "Invalid column name 'Zz' or table correlation name '' specified in WHERE or JOIN clause"},
    {"INSERT INTO T (Zz) VALUES (1)",
     "Invalid column name 'Zz' or table correlation name '' specified in table columns"},
    {"INSERT INTO T VALUES (1, 'a')", "The number of values must match the number of table columns"},
    {"INSERT INTO T (D) VALUES ('2001-13-45')",
     "Date, time, or timestamp expression expected, instead found '2001-13-45' in update values"},
    {"INSERT INTO T (Val) VALUES ('abc')",
     "Type mismatch between constant 'abc' and column 'Val' in update values"},
    {"UPDATE W SET B = Big", "Type mismatch between column 'Big' and column 'B' in update values"},
    {"UPDATE T SET Val = Id * 20000",
     "Type mismatch between column Val and constant value Id * 20000 in UPDATE statement"},
    {"SELECT Nom, SUM(Val) FROM T GROUP BY Nom ORDER BY 2",
     "Numeric overflow in aggregate function for column 'Val'"},
  };
  // clang-format on
  Run("UPDATE T SET Val = 30000 WHERE Nom = 'Smith'");
  for (const Case& c : cases) {
    const std::string expected =
        ("Tessera Engine Error # 11949 SQL - " + std::string(c.message)).substr(0, 127);
    EXPECT_EQ(ErrorOf(c.sql), expected) << c.sql;
  }
  // The parameter messages.
  TDataQuery q;
  q.SetDirectory(dir_.Path());
  ASSERT_EQ(q.PrepareQuery("INSERT INTO T (Id, Val) VALUES (9, ?)"), 0);
  std::vector<uint8_t> buffer(10, 0);
  buffer[0] = 1;
  const int32_t big = 70000;
  std::memcpy(buffer.data() + 1, &big, 4);
  TQueryParamDescriptor d{1, "p", kFieldInt32, 0, 4, 0, 0};
  EXPECT_EQ(EngineCode([&] { q.SetQueryParams({d, d}, buffer.data(), buffer.size()); }), kErrSql);
  EXPECT_EQ(GetEngineSession()->ErrorSql(), "Internal parameter error");
  EXPECT_FALSE(q.Prepared());
  EXPECT_TRUE(q.Statement().source_tables.empty());
  ASSERT_EQ(q.PrepareQuery("INSERT INTO T (Id, Val) VALUES (9, ?)"), 0);
  q.SetQueryParams({d}, buffer.data(), buffer.size());
  TDataFile* result = nullptr;
  EXPECT_EQ(EngineCode([&] { q.ExecuteQuery(result); }), kErrSql);
  EXPECT_EQ(GetEngineSession()->ErrorSql(),
            "Type mismatch between column Val and constant value ? in INSERT statement");
  EXPECT_FALSE(q.Prepared());
  EXPECT_TRUE(TableLockFree());
}

TEST_F(DataQueryTest, PrepareAfterExecuteAndAbort) {
  TDataQuery q;
  EXPECT_EQ(Run("SELECT Id FROM T", &q), (V{"1", "2", "3", "4"}));
  EXPECT_EQ(q.PrepareQuery("SELECT Id FROM T"), kErrUnknownOSError);
  // An abort on the first call keeps the row at hand and stops.
  TDataQuery a;
  int calls = 0;
  a.SetProgressCallback([&](int32_t, uint16_t percent, bool& abort) {
    EXPECT_LE(percent, 100);
    ++calls;
    abort = true;
  });
  EXPECT_EQ(Run("SELECT Id FROM T", &a), (V{"1"}));
  EXPECT_EQ(calls, 1);
}

// Lock settings changed after preparation govern the table lock that execution takes on the
// source already open.
TEST_F(DataQueryTest, LockSettingsReachTheOpenSource) {
  TDataFile holder;
  holder.SetFileName(Path("T.DAT"));
  holder.Open();
  holder.LockTable();
  TDataQuery q;
  q.SetDirectory(dir_.Path());
  q.SetLockRetryCount(0);
  ASSERT_EQ(q.PrepareQuery("UPDATE T SET Val = 1"), 0);
  int waits = 0;
  TDataFile::TLockTuning tuning;
  tuning.wait = [&](int32_t ms) { waits += ms == 5 ? 1 : 100; };
  q.Statement().source_tables.front()->data_file->SetLockTuning(tuning);
  q.SetLockRetryCount(3);
  q.SetLockWaitTime(5);
  TDataFile* result = nullptr;
  EXPECT_EQ(EngineCode([&] { q.ExecuteQuery(result); }), kErrFileLocked);
  EXPECT_EQ(waits, 3);
  holder.UnlockTable();
}

// Parameters are typed only when set: the conditions are checked at execution.
TEST_F(DataQueryTest, ParametersAndTheCountShortcut) {
  auto params = [](std::vector<std::pair<uint8_t, std::string>> values,
                   std::vector<TQueryParamDescriptor>& descriptors) {
    std::vector<uint8_t> buffer;
    for (auto& [type, bytes] : values) {
      TQueryParamDescriptor d;
      d.number = static_cast<uint16_t>(descriptors.size() + 1);
      d.type = type;
      d.size = static_cast<uint8_t>(bytes.size());
      d.offset = static_cast<uint32_t>(buffer.size());
      buffer.push_back(1);
      buffer.insert(buffer.end(), bytes.begin(), bytes.end());
      descriptors.push_back(d);
    }
    return buffer;
  };
  auto int32 = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  auto run = [&](const char* sql, std::vector<std::pair<uint8_t, std::string>> values) {
    TDataQuery q;
    q.SetDirectory(dir_.Path());
    EXPECT_EQ(q.PrepareQuery(sql), 0);
    std::vector<TQueryParamDescriptor> descriptors;
    std::vector<uint8_t> buffer = params(std::move(values), descriptors);
    q.SetQueryParams(descriptors, buffer.data(), buffer.size());
    TDataFile* result = nullptr;
    EXPECT_EQ(q.ExecuteQuery(result), 0);
    return result != nullptr ? ReadRows(*result) : V{};
  };
  EXPECT_EQ(run("SELECT Id FROM T WHERE Id > ? AND Nom = ?",
                {{kFieldInt32, int32(1)}, {kFieldString, std::string("Smith\0", 6)}}),
            (V{"4"}));
  run("UPDATE T SET Val = ? + 1 WHERE Id = ?", {{kFieldInt32, int32(41)}, {kFieldInt32, int32(3)}});
  EXPECT_EQ(Run("SELECT Val FROM T WHERE Id = 3"), (V{"42"}));
  EXPECT_EQ(run("SELECT Id FROM T WHERE ? = 1", {{kFieldInt32, int32(2)}}), V{});
  // COUNT(*) alone over filters an index serves: the count without reading rows, one callback.
  TDataQuery q;
  std::vector<std::pair<int32_t, uint16_t>> calls;
  q.SetProgressCallback(
      [&](int32_t current, uint16_t percent, bool&) { calls.emplace_back(current, percent); });
  EXPECT_EQ(Run("SELECT COUNT(*) FROM T WHERE Id > 2", &q), (V{"2"}));
  EXPECT_EQ(calls, (std::vector<std::pair<int32_t, uint16_t>>{{2, 100}}));
}

TEST_F(DataQueryTest, LiveOrCanned) {
  struct Case {
    const char* sql;
    bool live;
  };
  const Case cases[] = {
      {"SELECT * FROM T ORDER BY Id", true},     {"SELECT Nom, Id, Id * 2 FROM T", true},
      {"SELECT Id * 2 FROM T", false},           {"SELECT DISTINCT Nom FROM T", false},
      {"SELECT Nom FROM T GROUP BY Nom", false}, {"SELECT * INTO X FROM T", false},
      {"SELECT * FROM T ORDER BY Val", false},   {"SELECT * FROM T a, T b", false},
  };
  for (const Case& c : cases) {
    TDataQuery q;
    q.SetDirectory(dir_.Path());
    q.SetRequestLive(true);
    ASSERT_EQ(EngineCode([&] { q.PrepareQuery(c.sql); }), 0) << c.sql;
    EXPECT_EQ(q.LiveResult(), c.live) << c.sql;
  }
  // A computed column reads the column it names, whatever the other columns are called.
  TDataQuery renamed;
  renamed.SetRequestLive(true);
  EXPECT_EQ(Run("SELECT Val AS Id, Id AS Ident, Id + 1 FROM T WHERE Id = 2", &renamed),
            (V{"20|2|3"}));
  EXPECT_TRUE(renamed.LiveResult());
  // The live result reads the table in the index that serves its order.
  TDataQuery ordered;
  ordered.SetRequestLive(true);
  EXPECT_EQ(Run("SELECT Nom FROM T ORDER BY Nom", &ordered),
            (V{"Adams", "Jones", "Smith", "Smith"}));
  EXPECT_TRUE(ordered.LiveResult());
  TDataQuery q;
  q.SetRequestLive(true);
  EXPECT_EQ(Run("SELECT Nom, Id, Id * 2 AS Twice FROM T WHERE Id <= 2", &q),
            (V{"Smith|1|2", "Jones|2|4"}));
  EXPECT_TRUE(q.LiveResult());
}

TEST_F(DataQueryTest, IntoMemoryEncryptedAndIntoNames) {
  Run("SELECT Id, Nom INTO MEMORY M FROM T WHERE Id < 3");
  EXPECT_EQ(Run("SELECT Nom FROM MEMORY M"), (V{"Smith", "Jones"}));
  GetEngineSession()->AddPassword("kept");
  const int before = GetEngineSession()->Passwords().Count();
  Run("SELECT Id INTO Secret FROM T ENCRYPTED WITH pw");
  EXPECT_EQ(GetEngineSession()->Passwords().Count(), before);
  EXPECT_FALSE(GetEngineSession()->HasPassword("pw"));
  // INTO a bare name lands in the session's private directory.
  EXPECT_TRUE(std::filesystem::exists(private_dir() + "/Secret.DAT"));
}

// An UPDATE or DELETE one of whose writes fails, at each of its writes in turn: it either
// reports no rows and the table is as it was, its indexes included, or (the failure past a
// commit's point, which the commit completes) reports every row done, the table as after it.
TEST_F(DataQueryTest, AStatementFailingAtAnyOfItsWritesChangesNothing) {
  auto contents = [&] {
    V rows = Run("SELECT * FROM T");
    rows.push_back(CheckTableFiles(Path("T")).ok() ? "sound" : "damaged");
    return rows;
  };
  auto restore = [&] {
    for (const std::string ext : {".DAT", ".IDX"}) {
      std::filesystem::copy_file(Path("Saved" + ext), Path("T" + ext),
                                 std::filesystem::copy_options::overwrite_existing);
    }
  };
  const V before = contents();
  for (const std::string ext : {".DAT", ".IDX"}) {
    std::filesystem::copy_file(Path("T" + ext), Path("Saved" + ext));
  }
  for (const char* statement :
       {"UPDATE T SET Nom = 'X' + Nom WHERE Id > 1", "DELETE FROM T WHERE Id > 1"}) {
    SCOPED_TRACE(statement);
    restore();
    TDataFile* result = nullptr;
    int64_t rows = 0;
    {
      TDataQuery q;
      q.SetDirectory(dir_.Path());
      q.PrepareQuery(statement);
      q.ExecuteQuery(result);
      rows = q.RowsAffected();
    }
    const V after = contents();
    ASSERT_NE(after, before);
    int refused = 0;
    for (int64_t k = 1;; ++k) {
      ASSERT_LT(k, 200) << "the fault never stopped firing";
      SCOPED_TRACE("write " + std::to_string(k));
      restore();
      TDataQuery q;
      q.SetDirectory(dir_.Path());
      q.PrepareQuery(statement);
      TDataFile& file = *q.Statement().source_tables.front()->data_file;
      auto faults = std::make_shared<platform::FileFaults>();
      faults->write_error = platform::kErrorIoDevice;
      faults->fail_write = k;
      faults->fail_count = 1;
      file.InjectFaults(faults);
      file.IndexFile().InjectFaults(faults);
      const int code = EngineCode([&] { q.ExecuteQuery(result); });
      if (faults->failed == 0) break;  // past the statement's last write
      if (code == 0) {
        EXPECT_EQ(q.RowsAffected(), rows);
        EXPECT_EQ(contents(), after);
      } else {
        ++refused;
        EXPECT_EQ(q.RowsAffected(), 0);
        EXPECT_EQ(contents(), before);
      }
    }
    EXPECT_GT(refused, 0);
  }
}

TEST_F(DataQueryTest, FilesAreSafe) {
  const std::string dat = Bytes("T.DAT"), idx = Bytes("T.IDX");
  // Into its own source, and into a table another handle holds open: refused, nothing touched.
  const std::string denied = "Tessera Engine Error # 11013 Access denied to data file ";
  EXPECT_EQ(ErrorOf("SELECT * INTO '" + Path("T") + "' FROM T"), denied + Path("T.DAT"));
  EXPECT_EQ(Bytes("T.DAT"), dat);
  EXPECT_EQ(Bytes("T.IDX"), idx);
  Run("SELECT * INTO '" + Path("U") + "' FROM T");
  const std::string u = Bytes("U.DAT");
  {
    TDataFile holder;
    holder.SetFileName(Path("U.DAT"));
    holder.Open();
    EXPECT_EQ(ErrorOf("SELECT Id INTO '" + Path("U") + "' FROM T"), denied + Path("U.DAT"));
  }
  EXPECT_EQ(Bytes("U.DAT"), u);
  // A key longer than an index allows is refused before any file exists.
  Create("W.DAT",
         {Field(1, "A", kFieldString, 250), Field(2, "B", kFieldString, 250),
          Field(3, "C", kFieldString, 250), Field(4, "D", kFieldString, 250),
          Field(5, "E", kFieldString, 250)},
         {});
  EXPECT_EQ(ErrorOf("SELECT DISTINCT * FROM W").substr(0, 28), "Tessera Engine Error # 10026");
  // A failing UPDATE gives the table lock back at once.
  Run("UPDATE T SET Val = 30000 WHERE Id = 2");
  EXPECT_EQ(
      ErrorOf("UPDATE T SET Val = Val * 2"),
      "Tessera Engine Error # 11949 SQL - Type mismatch between column Val and constant value "
      "Val * 2 in UPDATE statement");
  EXPECT_TRUE(TableLockFree());
  EXPECT_EQ(PrivateFiles(), 0u);
}

// A temporary name whose table file another process made first is passed over for the next.
TEST_F(DataQueryTest, TakenTemporaryNameGoesToTheNext) {
  const std::string taken = MakeTempTableNameIn(*GetEngineSession(), false, private_dir());
  ASSERT_EQ(taken.substr(taken.size() - 5), "0.DAT");
  std::ofstream(taken) << "other";
  {
    TDataQuery q;
    q.SetDirectory(dir_.Path());
    ASSERT_EQ(q.PrepareQuery("SELECT Id FROM T"), 0);
    EXPECT_EQ(q.ResultName(), taken.substr(0, taken.size() - 5) + "1.DAT");
  }
  std::ifstream in(taken);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "other");
  std::filesystem::remove(taken);
  EXPECT_EQ(PrivateFiles(), 0u);
}

TEST_F(DataQueryTest, BadSqlLeavesNothingBehind) {
  const char* const statements[] = {
      "SELECT",
      "SELECT * FROM Missing",
      "SELECT Id FROM T ORDER BY 9",
      "SELECT Id FROM T WHERE Nom > 3",
      "SELECT Id, SUM(Val) FROM T",
      "DELETE FROM T WHERE Zz = 1",
      "UPDATE T SET Zz = 1",
      "INSERT INTO T (Id) VALUES ('x')",
      "SELECT Nom FROM T GROUP BY Zz",
      "SELECT Id FROM T WHERE Id = 'a'",
      "SELECT * FROM T WHERE Nom LIKE 3",
  };
  for (const char* sql : statements) {
    const std::string error = ErrorOf(sql);
    EXPECT_EQ(error.rfind("Tessera Engine Error # ", 0), 0u) << sql << ": " << error;
    EXPECT_TRUE(TableLockFree()) << sql;
  }
  // Valid statements with words dropped, doubled or swapped: each runs or ends in an engine
  // error, and either way leaves no lock and no temporary file.
  const std::vector<std::string> words = {
      "SELECT", "DISTINCT", "Id",    ",",     "Nom",    "SUM(Val)", "COUNT(*)", "*",   "FROM",
      "T",      "a",        "WHERE", "Id",    ">",      "1",        "AND",      "Nom", "LIKE",
      "'S%'",   "GROUP",    "BY",    "ORDER", "1",      "DESC",     "UPDATE",   "SET", "Val",
      "=",      "Val",      "+",     "1",     "DELETE", "INTO",     "(",        ")",   "VALUES",
      "'x'",    "NULL",     "LEFT",  "JOIN",  "ON",     "a.Id",     "=",        "T.Id"};
  const char* chosen = std::getenv("MIRVEL_SEED");
  const unsigned seed = chosen != nullptr ? static_cast<unsigned>(std::atoi(chosen)) : 19u;
  std::mt19937 rng(seed);
  const std::vector<std::vector<std::string>> bases = {
      {"SELECT", "Nom", ",", "SUM(Val)", "FROM", "T", "WHERE", "Id", ">", "1", "GROUP", "BY", "Nom",
       "ORDER", "BY", "2", "DESC"},
      {"SELECT", "DISTINCT", "a.Id", ",", "T.Nom", "FROM", "T", "a", "LEFT", "JOIN", "T", "ON",
       "a.Id", "=", "T.Id", "WHERE", "Nom", "LIKE", "'S%'"},
      {"UPDATE", "T", "SET", "Val", "=", "Val", "+", "1", "WHERE", "Id", "=", "2"},
      {"INSERT", "INTO", "T", "(", "Id", ",", "Nom", ")", "VALUES", "(", "9", ",", "'x'", ")"},
      {"DELETE", "FROM", "T", "WHERE", "Nom", "=", "'Jones'"}};
  for (int i = 0; i < 400; ++i) {
    std::vector<std::string> tokens = bases[rng() % bases.size()];
    for (int edits = 1 + static_cast<int>(rng() % 3); edits > 0; --edits) {
      const size_t at = rng() % tokens.size();
      switch (rng() % 3) {
        case 0:
          tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(at));
          break;
        case 1:
          tokens.insert(tokens.begin() + static_cast<std::ptrdiff_t>(at),
                        words[rng() % words.size()]);
          break;
        default:
          tokens[at] = words[rng() % words.size()];
      }
      if (tokens.empty()) tokens.push_back("SELECT");
    }
    std::string sql;
    for (const std::string& t : tokens) sql += t + " ";
    TDataQuery q;
    q.SetDirectory(dir_.Path());
    try {
      if (q.PrepareQuery(sql) == 0) {
        TDataFile* result = nullptr;
        q.ExecuteQuery(result);
      }
    } catch (const ETesseraEngineError&) {
      EXPECT_FALSE(q.Prepared()) << "seed " << seed << ": " << sql;
    }
    ASSERT_TRUE(TableLockFree()) << "seed " << seed << ": " << sql;
  }
  EXPECT_EQ(PrivateFiles(), 0u);
}

// The application's caller search over fixture tables, while table handles hold the same files.
TEST_F(DataQueryTest, JoinsAndTheCallerSearch) {
  Create("Clients.DAT",
         {Field(1, "NoSociete", kFieldInt32), Field(2, "Societe", kFieldString, 30),
          Field(3, "Ville", kFieldString, 20)},
         {Index("", {1}, true)});
  Create("Inter.DAT",
         {Field(1, "NoInterlocuteur", kFieldInt32), Field(2, "NoSociete", kFieldInt32),
          Field(3, "Nom", kFieldString, 30), Field(4, "Fonction", kFieldString, 20)},
         {Index("", {1}, true), Index("BySociete", {2}, false)});
  Run("INSERT INTO Clients VALUES (1, 'Alpha', 'Lyon')");
  Run("INSERT INTO Clients VALUES (2, 'Beta', 'Paris')");
  Run("INSERT INTO Inter VALUES (10, 2, 'Martin', 'Achats')");
  Run("INSERT INTO Inter VALUES (11, 1, 'Durand', NULL)");
  Run("INSERT INTO Inter VALUES (12, 2, 'Bernard', 'Direction')");
  Run("INSERT INTO Inter VALUES (13, 3, 'Petit', NULL)");
  TDataFile clients, inter;
  clients.SetFileName(Path("Clients.DAT"));
  clients.Open();
  inter.SetFileName(Path("Inter.DAT"));
  inter.Open();
  EXPECT_EQ(Run("SELECT I.NoSociete, I.NoInterlocuteur, I.Nom, I.Fonction, C.Societe, C.Ville\n"
                "FROM \nInter I, Clients C\nWHERE \nI.NoSociete = C.NoSociete\nORDER BY \nI.Nom"),
            (V{"2|12|Bernard|Direction|Beta|Paris", "1|11|Durand|NULL|Alpha|Lyon",
               "2|10|Martin|Achats|Beta|Paris"}));
  // "*" lists each table's fields in turn; a row without partner reads NULL on the outer side.
  EXPECT_EQ(Run("SELECT * FROM Clients C LEFT JOIN Inter I ON C.NoSociete = I.NoSociete "
                "WHERE C.NoSociete = 1"),
            (V{"1|Alpha|Lyon|11|1|Durand|NULL"}));
  EXPECT_EQ(Run("SELECT I.Nom, C.Societe FROM Inter I LEFT JOIN Clients C "
                "ON I.NoSociete = C.NoSociete WHERE I.NoInterlocuteur = 13"),
            (V{"Petit|NULL"}));
  EXPECT_EQ(Run("SELECT C.Ville, COUNT(*), AVG(I.NoInterlocuteur) FROM Inter I, Clients C "
                "WHERE I.NoSociete = C.NoSociete GROUP BY C.Ville WITH LOCKS"),
            (V{"Lyon|1|11", "Paris|2|11"}));
  EXPECT_TRUE(TableLockFree("Inter.DAT"));
}

TEST_F(DataQueryTest, BlobsAreCopied) {
  Create("M.DAT", {Field(1, "Id", kFieldInt32), Field(2, "Texte", kFieldBlob)},
         {Index("", {1}, true)});
  {
    TDataFile m;
    m.SetFileName(Path("M.DAT"));
    m.Open();
    std::vector<uint8_t> record(m.GetRecordBufferSize());
    m.ApplyFieldDefaults(record.data());
    const int32_t id = 1;
    m.PutFieldValue(TFieldSet::kTable, 1, false, reinterpret_cast<const uint8_t*>(&id),
                    record.data());
    const std::string text(3000, 'x');
    ASSERT_EQ(m.OpenBlob(TFieldSet::kTable, 2, 0, record.data()), 0);
    ASSERT_EQ(m.WriteBlob(TFieldSet::kTable, 2, 3000, text.data(), 0, record.data()), 0);
    m.InsertRecord(record.data());
  }
  TDataQuery q;
  q.SetDirectory(dir_.Path());
  ASSERT_EQ(q.PrepareQuery("SELECT Texte, Id + 1 FROM M"), 0);
  TDataFile* result = nullptr;
  ASSERT_EQ(q.ExecuteQuery(result), 0);
  std::vector<uint8_t> row(result->GetRecordBufferSize());
  result->MoveToBeginning();
  ASSERT_EQ(result->GetNextRecord(row.data()), 0);
  ASSERT_EQ(result->OpenBlob(TFieldSet::kWorking, 1, 0, row.data()), 0);
  int32_t size = 0;
  result->GetBlobSize(TFieldSet::kWorking, 1, size, row.data());
  EXPECT_EQ(size, 3000);
}

// Another process (a second workstation) holds the files.
using QueryProcessTest = DataQueryTest;

TEST_F(QueryProcessTest, ResultsAndChangesRespectAnotherProcess) {
  Run("SELECT * INTO '" + Path("U") + "' FROM T");
  const std::string t = Bytes("T.DAT"), u = Bytes("U.DAT");
  mirvel_test::LockHelperProcess peer;
  ASSERT_TRUE(peer.Started());
  // Its open file is never replaced by an INTO result.
  ASSERT_EQ(peer.Send("open 0 rw shared " + Path("U.DAT")), "ok");
  EXPECT_EQ(ErrorOf("SELECT Id INTO '" + Path("U") + "' FROM T"),
            "Tessera Engine Error # 11013 Access denied to data file " + Path("U.DAT"));
  EXPECT_EQ(Bytes("U.DAT"), u);
  // Its table lock holds a change off, which then leaves the table as it was.
  ASSERT_EQ(peer.Send("topen 0 rw shared " + Path("T.DAT")), "ok");
  ASSERT_EQ(peer.Send("locktable 0"), "ok");
  TDataQuery q;
  q.SetLockRetryCount(1);
  q.SetLockWaitTime(1);
  EXPECT_EQ(ErrorOf("UPDATE T SET Val = 1", &q).substr(0, 28), "Tessera Engine Error # 10241");
  EXPECT_EQ(Bytes("T.DAT"), t);
  ASSERT_EQ(peer.Send("unlocktable 0"), "ok");
  Run("UPDATE T SET Val = 1");
  EXPECT_EQ(last_rows_affected_, 4);
  EXPECT_EQ(peer.Send("count 0"), "ok 4");
}

}  // namespace
}  // namespace tessera
