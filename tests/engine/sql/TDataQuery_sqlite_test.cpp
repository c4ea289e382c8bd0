// Differential test of whole statements against SQLite, an independent reference engine.
//
// Seeded generators load the same rows into four tables of ours and of SQLite, then run
// generated SELECT statements (projections, expressions, WHERE parts served by indexes, tested
// per record and left to the residual, inner and cross joins in chain, star and triangle shapes,
// LEFT JOIN with a leaf child, DISTINCT, GROUP BY with aggregates, aggregates alone, ORDER BY
// ASC/DESC/NOCASE, parameters) and INSERT/UPDATE/DELETE on both.  Each SELECT also runs on a
// copy of the tables without secondary indexes, with strict change detection on.  Results compare
// as multisets, under ORDER BY as sequences of tie groups, DML by the tables' contents.
//
// The SQLite text of each statement is written for the dialect's documented differences (README,
// SQL section): two-valued NULL logic ("=" as IS, comparisons under coalesce(..., 0)), "/" always
// a float, "= 'ab*'" a prefix match, AVG of nothing 0, the engine's collation registered for
// strings, case-sensitive LIKE.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/sql/TDataQuery.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"
#include "engine/storage/values/TextCompare.h"
#include "platform/LocaleInfo.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera::testing {
namespace {

// ---- values -------------------------------------------------------------------------------------

// One result value: NULL, a number or a string.
struct Cell {
  int kind = 0;  // 0 NULL, 1 number, 2 string
  double number = 0;
  std::string text;

  std::string Show() const {
    if (kind == 0) return "NULL";
    if (kind == 2) return "'" + text + "'";
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.9g", number);
    return buffer;
  }
};
using Row = std::vector<Cell>;

bool SameCell(const Cell& a, const Cell& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == 2) return a.text == b.text;
  if (a.kind == 1) {
    const double scale = std::max({1.0, std::fabs(a.number), std::fabs(b.number)});
    return std::fabs(a.number - b.number) <= 1e-9 * scale;
  }
  return true;
}

std::string ShowRow(const Row& row) {
  std::string out;
  for (const Cell& c : row) out += (out.empty() ? "" : "|") + c.Show();
  return out;
}

bool SameRows(std::vector<Row> a, std::vector<Row> b) {
  if (a.size() != b.size()) return false;
  auto by_text = [](const Row& x, const Row& y) { return ShowRow(x) < ShowRow(y); };
  std::sort(a.begin(), a.end(), by_text);
  std::sort(b.begin(), b.end(), by_text);
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].size() != b[i].size()) return false;
    for (size_t j = 0; j < a[i].size(); ++j) {
      if (!SameCell(a[i][j], b[i][j])) return false;
    }
  }
  return true;
}

std::string ShowRows(const std::vector<Row>& rows) {
  std::string out;
  for (size_t i = 0; i < rows.size() && i < 12; ++i) out += "    " + ShowRow(rows[i]) + "\n";
  if (rows.size() > 12) out += "    ... " + std::to_string(rows.size()) + " rows\n";
  return out;
}

// Day numbers (0001-01-01 is day 1) and the engine's "M/d/yyyy" text of one.
std::string DateText(int32_t day) {
  int64_t z = day - 719163 + 719468;  // days since 1970-01-01, shifted to 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  return std::to_string(m) + "/" + std::to_string(d) + "/" + std::to_string(y);
}

// ---- the two engines --------------------------------------------------------------------------

enum Column : uint16_t { kK = 1, kA = 2, kB = 3, kF = 4, kS = 5, kD = 6 };
constexpr const char* kTables[] = {"T1", "T2", "T3", "T4"};
constexpr int kRowCounts[] = {120, 40, 16, 8};

struct SourceRow {
  int32_t k, a;
  bool b_null, f_null, s_null, d_null;
  int16_t b;
  double f;
  std::string s;
  int32_t d;
};

int CollationCompare(void* ignore_case, int na, const void* a, int nb, const void* b) {
  const std::string x(static_cast<const char*>(a), static_cast<size_t>(na));
  const std::string y(static_cast<const char*>(b), static_cast<size_t>(nb));
  return CompareStrings(platform::GetUserDefaultLangID(), 0, x.c_str(), ignore_case != nullptr, 0,
                        y.c_str());
}

class SqliteDifferentialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    std::filesystem::create_directories(indexed_.File("private"));
    GetEngineSession()->SetPrivateDirectory(indexed_.File("private"));
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    static int ignore_case = 1;
    sqlite3_create_collation(db_, "ENG", SQLITE_UTF8, nullptr, CollationCompare);
    sqlite3_create_collation(db_, "ENGNC", SQLITE_UTF8, &ignore_case, CollationCompare);
    // Upper case as the engine maps it (SQLite's upper() knows ASCII only).
    sqlite3_create_function(
        db_, "eupper", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
        [](sqlite3_context* context, int, sqlite3_value** argv) {
          if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
          const std::string upper =
              UpperCaseText(platform::GetUserDefaultLangID(), 0,
                            reinterpret_cast<const char*>(sqlite3_value_text(argv[0])));
          sqlite3_result_text(context, upper.c_str(), -1, SQLITE_TRANSIENT);
        },
        nullptr, nullptr);
    Exec("PRAGMA case_sensitive_like = ON");
  }
  void TearDown() override {
    sqlite3_close(db_);
    ShutdownEngine();
  }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error ? error : "");
  }

  int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  template <size_t N>
  const char* Pick(const char* const (&items)[N]) {
    return items[Rand(0, static_cast<int>(N) - 1)];
  }

  SourceRow RandomRow(int32_t k) {
    // A few Windows-1252 accented words: "\xE9t\xE9", "\xC9lan", "z\xE8le".
    static const char* kWords[] = {"abc",   "Abc",       "ABC",     "x y",    "Smith", "smith",
                                   "Sm1th", "Sam",       "bob",     "Bob a",  "zed",   "Zed",
                                   "m",     "\xE9t\xE9", "\xC9lan", "z\xE8le"};
    SourceRow r;
    r.k = k;
    r.a = Rand(-2, 12);
    r.b_null = Rand(0, 7) == 0;
    r.b = static_cast<int16_t>(Rand(-50, 50));
    r.f_null = Rand(0, 7) == 0;
    r.f = Rand(-40, 40) * 0.25;
    r.s_null = Rand(0, 9) == 0;
    r.s = Pick(kWords);
    r.d_null = Rand(0, 9) == 0;
    r.d = 730000 + Rand(-200, 200);
    return r;
  }

  void CreateEngineTable(const std::string& path, bool secondary) {
    TNewTable t;
    t.language = platform::GetUserDefaultLangID();
    t.fields = {Field(kK, "K", kFieldInt32),      Field(kA, "A", kFieldInt32),
                Field(kB, "B", kFieldInt16),      Field(kF, "F", kFieldFloat),
                Field(kS, "S", kFieldString, 12), Field(kD, "D", kFieldDate)};
    t.indexes.push_back(Index("", {kK}, true));
    if (secondary) {
      t.indexes.push_back(Index("ByA", {kA}, false));
      t.indexes.push_back(Index("ByS", {kS}, false));
    }
    TDataFile d;
    d.SetFileName(path);
    d.SetExclusive(true);
    d.SetupNewTable(std::move(t));
  }

  static void Put(TDataFile& d, uint16_t field, uint8_t type, bool null,
                  const std::function<void(ExpressionNode&)>& set, uint8_t* buf) {
    if (null) return;
    const TFieldDefinition& f = d.GetFieldDefinition(TFieldSet::kTable, field);
    ExpressionNode v;
    v.type = type;
    v.size = ValueSizeOfType(type);
    set(v);
    uint8_t stored[260] = {};
    ASSERT_TRUE(ExpressionValueToStored(v, f, false, stored));
    d.PutFieldValue(TFieldSet::kTable, field, false, stored, buf);
  }

  void Load(const std::string& path, const std::vector<SourceRow>& rows) {
    TDataFile d;
    d.SetFileName(path);
    d.Open();
    std::vector<uint8_t> buf(d.GetRecordBufferSize());
    for (const SourceRow& r : rows) {
      d.ApplyFieldDefaults(buf.data());
      Put(
          d, kK, kExprTypeInt32, false, [&](ExpressionNode& v) { v.SetInt32(r.k); }, buf.data());
      Put(
          d, kA, kExprTypeInt32, false, [&](ExpressionNode& v) { v.SetInt32(r.a); }, buf.data());
      Put(
          d, kB, kExprTypeInt16, r.b_null, [&](ExpressionNode& v) { v.SetInt16(r.b); }, buf.data());
      Put(
          d, kF, kExprTypeFloat, r.f_null, [&](ExpressionNode& v) { v.SetFloat(r.f); }, buf.data());
      Put(
          d, kS, kExprTypeString, r.s_null, [&](ExpressionNode& v) { v.SetString(r.s); },
          buf.data());
      Put(
          d, kD, kExprTypeDate, r.d_null, [&](ExpressionNode& v) { v.SetUInt32(r.d); }, buf.data());
      d.InsertRecord(buf.data());
    }
    d.Close();
  }

  void LoadSqlite(const std::string& name, const std::vector<SourceRow>& rows) {
    Exec("CREATE TABLE " + name +
         " (K INTEGER PRIMARY KEY, A INTEGER, B INTEGER, F REAL, S TEXT COLLATE ENG, D INTEGER)");
    Exec("CREATE INDEX " + name + "ByA ON " + name + " (A)");
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db_, ("INSERT INTO " + name + " VALUES (?,?,?,?,?,?)").c_str(), -1,
                                 &st, nullptr),
              SQLITE_OK);
    for (const SourceRow& r : rows) {
      sqlite3_bind_int(st, 1, r.k);
      sqlite3_bind_int(st, 2, r.a);
      r.b_null ? sqlite3_bind_null(st, 3) : sqlite3_bind_int(st, 3, r.b);
      r.f_null ? sqlite3_bind_null(st, 4) : sqlite3_bind_double(st, 4, r.f);
      r.s_null ? sqlite3_bind_null(st, 5)
               : sqlite3_bind_text(st, 5, r.s.c_str(), -1, SQLITE_TRANSIENT);
      r.d_null ? sqlite3_bind_null(st, 6) : sqlite3_bind_int(st, 6, r.d);
      ASSERT_EQ(sqlite3_step(st), SQLITE_DONE);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
  }

  void LoadAll() {
    std::filesystem::create_directories(plain_.File("private"));
    for (size_t t = 0; t < 4; ++t) {
      std::vector<SourceRow> rows;
      for (int k = 1; k <= kRowCounts[t]; ++k) rows.push_back(RandomRow(k));
      CreateEngineTable(indexed_.File(kTables[t]), true);
      CreateEngineTable(plain_.File(kTables[t]), false);
      Load(indexed_.File(kTables[t]), rows);
      Load(plain_.File(kTables[t]), rows);
      LoadSqlite(kTables[t], rows);
    }
  }

  // The rows of our statement; `error` receives an engine error's text.
  std::vector<Row> RunOurs(const std::string& dir, const std::string& sql,
                           const std::vector<int32_t>& params, bool strict, std::string& error,
                           int32_t* rows_affected = nullptr, bool live = false) {
    std::vector<Row> rows;
    try {
      TDataQuery q;
      q.SetDirectory(dir);
      q.SetRequestLive(live);
      q.SetStrictChangeDetection(strict);
      q.PrepareQuery(sql);
      if (!params.empty()) {
        std::vector<TQueryParamDescriptor> descriptors;
        std::vector<uint8_t> buffer(params.size() * 5);
        for (size_t i = 0; i < params.size(); ++i) {
          TQueryParamDescriptor d;
          d.number = static_cast<uint16_t>(i + 1);
          d.type = kExprTypeInt32;
          d.size = 4;
          d.offset = static_cast<uint32_t>(i * 5);
          buffer[i * 5] = 1;
          cl::PutU32LE(&buffer[i * 5 + 1], static_cast<uint32_t>(params[i]));
          descriptors.push_back(d);
        }
        q.SetQueryParams(descriptors, buffer.data(), buffer.size());
      }
      TDataFile* result = nullptr;
      q.ExecuteQuery(result);
      if (rows_affected != nullptr) *rows_affected = q.RowsAffected();
      if (result != nullptr) rows = ReadOurs(*result);
    } catch (const ETesseraEngineError& e) {
      error = e.Message();
    }
    return rows;
  }

  static std::vector<Row> ReadOurs(TDataFile& table) {
    std::vector<Row> rows;
    std::vector<uint8_t> buffer(table.GetRecordBufferSize());
    table.MoveToBeginning();
    while (table.GetNextRecord(buffer.data()) == 0) {
      Row row;
      for (uint16_t f = 1; f <= table.GetFieldsInUse(); ++f) {
        const TFieldDefinition& d = table.GetFieldDefinition(TFieldSet::kWorking, f);
        uint8_t value[260] = {};
        Cell c;
        if (!table.GetFieldValue(TFieldSet::kWorking, f, value, buffer.data())) {
          ExpressionNode n;
          BindColumnNode(d, n);
          StoredToExpressionValue(d, value, false, n);
          c.kind = 1;
          switch (d.type) {
            case kFieldString:
              c.kind = 2;
              c.text = std::string(n.StringValue());
              break;
            case kFieldInt16:
              c.number = n.Int16Value();
              break;
            case kFieldInt32:
              c.number = n.Int32Value();
              break;
            case kFieldFloat:
              c.number = n.FloatValue();
              break;
            default:
              c.number = n.UInt32Value();
              break;
          }
        }
        row.push_back(c);
      }
      rows.push_back(row);
    }
    return rows;
  }

  std::vector<Row> RunSqlite(const std::string& sql, const std::vector<int32_t>& params,
                             int* changes = nullptr) {
    std::vector<Row> rows;
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db_);
    if (st == nullptr) return rows;
    for (size_t i = 0; i < params.size(); ++i) {
      sqlite3_bind_int(st, static_cast<int>(i + 1), params[i]);
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      Row row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        Cell c;
        switch (sqlite3_column_type(st, i)) {
          case SQLITE_INTEGER:
          case SQLITE_FLOAT:
            c.kind = 1;
            c.number = sqlite3_column_double(st, i);
            break;
          case SQLITE_TEXT:
            c.text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
            // Our engine keeps no empty string: it is NULL.
            c.kind = c.text.empty() ? 0 : 2;
            break;
          default:
            break;
        }
        row.push_back(c);
      }
      rows.push_back(row);
    }
    sqlite3_finalize(st);
    if (changes != nullptr) *changes = sqlite3_changes(db_);
    return rows;
  }

  // ---- statement generator --------------------------------------------------------------------

  // One statement in both dialects.
  struct Sql {
    std::string ours, theirs;
    Sql& operator+=(const Sql& o) {
      ours += o.ours;
      theirs += o.theirs;
      return *this;
    }
  };
  static Sql Same(const std::string& s) { return {s, s}; }

  // A condition on table `t` (one correlation name) that the engine may serve by index, by
  // record filter or leave to the residual.
  Sql SingleTableCondition(const std::string& t, std::vector<int32_t>& params) {
    static const char* kOps[] = {"<", ">", "<=", ">="};
    static const char* kWords[] = {"abc", "Abc", "Smith", "m", "bob", "Zed", "x y"};
    const std::string op = Pick(kOps);
    switch (Rand(0, 12)) {
      case 0: {
        const std::string v = std::to_string(Rand(-2, 12));
        return {t + ".A = " + v, t + ".A IS " + v};
      }
      case 1: {
        const std::string v = std::to_string(Rand(-2, 12));
        return {t + ".A " + op + " " + v, "coalesce(" + t + ".A " + op + " " + v + ", 0)"};
      }
      case 2: {
        const std::string w = Pick(kWords);
        return {t + ".S = '" + w + "'", t + ".S IS '" + w + "'"};
      }
      case 3: {
        const std::string w = Pick(kWords);
        return {t + ".S " + op + " '" + w + "'", "coalesce(" + t + ".S " + op + " '" + w + "', 0)"};
      }
      case 4: {
        static const char* kPatterns[] = {"Sm%", "a%", "%b%", "S_m%", "%c", "Bob%"};
        const std::string p = Pick(kPatterns);
        const bool negated = Rand(0, 3) == 0;
        return {t + ".S " + (negated ? "NOT " : "") + "LIKE '" + p + "'",
                std::string(negated ? "NOT " : "") + "coalesce(" + t + ".S LIKE '" + p + "', 0)"};
      }
      case 5: {
        static const char* kPrefixes[] = {"Sm", "a", "Bob", "z"};
        const std::string p = Pick(kPrefixes);
        return {t + ".S = '" + p + "*'", "coalesce(" + t + ".S LIKE '" + p + "%', 0)"};
      }
      case 6: {
        const std::string v = std::to_string(Rand(-30, 30)) + ".5";
        return {t + ".B " + op + " " + v, "coalesce(" + t + ".B " + op + " " + v + ", 0)"};
      }
      case 7:
        return {t + ".B < 70000", "coalesce(" + t + ".B < 70000, 0)"};
      case 8: {
        const int32_t day = 730000 + Rand(-200, 200);
        return {t + ".D " + op + " '" + DateText(day) + "'",
                "coalesce(" + t + ".D " + op + " " + std::to_string(day) + ", 0)"};
      }
      case 9: {
        const std::string lo = std::to_string(Rand(-2, 5)), hi = std::to_string(Rand(4, 12));
        return {t + ".A BETWEEN " + lo + " AND " + hi,
                "coalesce(" + t + ".A BETWEEN " + lo + " AND " + hi + ", 0)"};
      }
      case 10:
        return {t + ".A IN (1, 3, 7)", "coalesce(" + t + ".A IN (1, 3, 7), 0)"};
      case 11:
        params.push_back(Rand(-2, 12));
        return {t + ".A " + op + " ?", "coalesce(" + t + ".A " + op + " ?, 0)"};
      default:
        return {t + ".F IS NULL", t + ".F IS NULL"};
    }
  }

  // Select items over the tables: plain columns and expressions.
  Sql SelectItems(const std::vector<std::string>& tables) {
    Sql items;
    const int count = Rand(1, 4);
    for (int i = 0; i < count; ++i) {
      const std::string t = tables[Rand(0, static_cast<int>(tables.size()) - 1)];
      Sql item;
      switch (Rand(0, 9)) {
        case 0:
          item = {t + ".A + " + t + ".B", t + ".A + " + t + ".B"};
          break;
        case 1:
          item = {t + ".A / 4", "1.0 * " + t + ".A / 4"};
          break;
        case 2:
          item = {"UPPER(" + t + ".S)", "eupper(" + t + ".S)"};
          break;
        case 3:
          item = {t + ".F * 2", t + ".F * 2"};
          break;
        case 4:
          item = {t + ".D + 1", t + ".D + 1"};
          break;
        default: {
          static const char* kColumns[] = {"K", "A", "B", "F", "S", "D"};
          item = Same(t + "." + Pick(kColumns));
          break;
        }
      }
      if (i > 0) items += Same(", ");
      items += item;
    }
    return items;
  }

  // FROM and its join conditions: the shapes of the acceptance.
  struct From {
    Sql from;
    Sql conditions;  // WHERE parts of the join, may be empty
    std::vector<std::string> tables;
    bool left = false;
  };
  From RandomFrom() {
    From f;
    switch (Rand(0, 10)) {
      case 10: {  // two outer links: in chain or from the same parent
        const bool chain = Rand(0, 1) == 0;
        f.from = Same(std::string("T1 LEFT JOIN T2 ON T1.A = T2.K LEFT JOIN T3 ON ") +
                      (chain ? "T2.A = T3.K" : "T1.A = T3.K"));
        f.tables = {"T1", "T2", "T3"};
        f.left = true;
        break;
      }
      case 0:
        f.from = Same("T1");
        f.tables = {"T1"};
        break;
      case 1:  // chain through JOIN ... ON
        f.from = Same("T1 JOIN T2 ON T1.A = T2.K JOIN T3 ON T2.A = T3.K");
        f.tables = {"T1", "T2", "T3"};
        break;
      case 2:  // chain through WHERE, the comparisons written child first
        f.from = Same("T2, T3, T4");
        f.conditions = {"T3.K = T2.A AND T4.K = T3.A", "T3.K = T2.A AND T4.K = T3.A"};
        f.tables = {"T2", "T3", "T4"};
        break;
      case 3:  // star
        f.from = Same("T1, T2, T3, T4");
        f.conditions = {"T1.A = T2.K AND T1.A = T3.K AND T1.K = T4.K",
                        "T1.A = T2.K AND T1.A = T3.K AND T1.K = T4.K"};
        f.tables = {"T1", "T2", "T3", "T4"};
        break;
      case 4:  // triangle: one comparison tested per row
        f.from = Same("T2, T3, T4");
        f.conditions = {"T2.A = T3.K AND T3.A = T4.K AND T4.A <= T2.A",
                        "T2.A = T3.K AND T3.A = T4.K AND T4.A <= T2.A"};
        f.tables = {"T2", "T3", "T4"};
        break;
      case 5:  // cross join
        f.from = Same("T3, T4");
        f.tables = {"T3", "T4"};
        break;
      case 6:  // an inequality join
        f.from = Same("T3 X, T4 Y");
        f.conditions = {"X.A < Y.A", "X.A < Y.A"};
        f.tables = {"X", "Y"};
        break;
      case 7: {  // LEFT JOIN, its child a leaf
        static const char* kOn[] = {"", " AND T2.B > 0", " AND T2.S LIKE '%b%'"};
        const std::string on = Pick(kOn);
        f.from = {"T1 LEFT JOIN T2 ON T1.A = T2.K" + on,
                  "T1 LEFT JOIN T2 ON T1.A = T2.K" +
                      (on.empty() ? on : " AND coalesce(" + on.substr(5) + ", 0)")};
        f.tables = {"T1", "T2"};
        f.left = true;
        break;
      }
      default:
        f.from = Same("T1, T2");
        f.conditions = {"T1.A = T2.K", "T1.A = T2.K"};
        f.tables = {"T1", "T2"};
        break;
    }
    return f;
  }

  Sql RandomWhere(const From& f, std::vector<int32_t>& params) {
    Sql where = f.conditions;
    const int parts = Rand(0, 2);
    for (int i = 0; i < parts; ++i) {
      const std::string t = f.tables[Rand(0, static_cast<int>(f.tables.size()) - 1)];
      Sql part = SingleTableCondition(t, params);
      if (f.tables.size() > 1 && Rand(0, 4) == 0) {
        // An OR across two tables: the residual.
        const std::string u = f.tables[Rand(0, static_cast<int>(f.tables.size()) - 1)];
        Sql other = SingleTableCondition(u, params);
        part = {"(" + part.ours + " OR " + other.ours + ")",
                "(" + part.theirs + " OR " + other.theirs + ")"};
      }
      if (!where.ours.empty()) where += Same(" AND ");
      where += part;
    }
    if (Rand(0, 15) == 0) {
      // A condition naming no table.
      params.push_back(Rand(0, 1));
      if (!where.ours.empty()) where += Same(" AND ");
      where += Sql{"? = 1", "? IS 1"};
    }
    if (f.left && Rand(0, 3) == 0) {
      if (!where.ours.empty()) where += Same(" AND ");
      where += Same("T2.K IS NULL");
    }
    return where;
  }

  // One SELECT; `order_items` receives the ORDER BY columns (0-based, with NOCASE) for tie
  // groups.
  struct Select {
    Sql sql;
    std::vector<int32_t> params;
    std::vector<size_t> order_columns;
    bool order_nocase = false;
    bool live = false;  // also run with RequestLive: one table, plain select list
  };
  Select RandomSelect() {
    Select s;
    From f = RandomFrom();
    const Sql where = RandomWhere(f, s.params);
    const std::string t = f.tables[Rand(0, static_cast<int>(f.tables.size()) - 1)];
    Sql head;
    int columns = 0;
    bool grouped = false;
    switch (Rand(0, 5)) {
      case 0: {  // GROUP BY with aggregates
        static const char* kGroups[] = {"A", "S", "B"};
        const std::string g = t + "." + Pick(kGroups);
        head = {"SELECT " + g + ", COUNT(*), SUM(" + t + ".A), MIN(" + t + ".B), MAX(" + t +
                    ".D), AVG(" + t + ".B), COUNT(" + t + ".F)",
                "SELECT " + g + ", count(*), sum(" + t + ".A), min(" + t + ".B), max(" + t +
                    ".D), coalesce(avg(" + t + ".B), 0), count(" + t + ".F)"};
        s.sql.ours = " GROUP BY " + g;
        s.sql.theirs = " GROUP BY " + g;
        columns = 7;
        grouped = true;
        break;
      }
      case 1:  // aggregates only
        head = {
            "SELECT COUNT(*), SUM(" + t + ".F), MAX(" + t + ".A), AVG(" + t + ".A)",
            "SELECT count(*), sum(" + t + ".F), max(" + t + ".A), coalesce(avg(" + t + ".A), 0)"};
        columns = 4;
        grouped = true;
        break;
      case 2: {  // DISTINCT
        static const char* kColumns[] = {"A", "S", "B"};
        const std::string a = t + "." + Pick(kColumns), b = t + "." + Pick(kColumns);
        head = Same("SELECT DISTINCT " + a + ", " + b);
        columns = 2;
        break;
      }
      default: {
        const Sql items = SelectItems(f.tables);
        head = Sql{"SELECT ", "SELECT "};
        head += items;
        s.live = f.tables.size() == 1;
        columns = static_cast<int>(std::count(items.ours.begin(), items.ours.end(), ',')) + 1;
        break;
      }
    }
    Sql sql = head;
    sql += Sql{" FROM " + f.from.ours, " FROM " + f.from.theirs};
    if (!where.ours.empty()) sql += Sql{" WHERE " + where.ours, " WHERE " + where.theirs};
    sql += s.sql;
    if (!grouped || Rand(0, 1) == 0) {
      if (Rand(0, 1) == 0) {
        const size_t c = static_cast<size_t>(Rand(1, columns));
        const bool desc = Rand(0, 1) == 0;
        s.order_nocase = Rand(0, 3) == 0;
        s.order_columns = {c - 1};
        Sql order{" ORDER BY " + std::to_string(c) + (desc ? " DESC" : ""),
                  " ORDER BY " + std::to_string(c) +
                      (s.order_nocase ? " COLLATE ENGNC" : " COLLATE ENG") + (desc ? " DESC" : "")};
        if (columns > 1 && Rand(0, 2) == 0) {
          // A second item in the same direction: the engine's index is descending as a whole
          // only when every item is.
          const size_t d = static_cast<size_t>(Rand(1, columns));
          s.order_columns.push_back(d - 1);
          order +=
              Sql{", " + std::to_string(d) + (desc ? " DESC" : ""),
                  ", " + std::to_string(d) + (s.order_nocase ? " COLLATE ENGNC" : " COLLATE ENG") +
                      (desc ? " DESC" : "")};
        }
        if (s.order_nocase) order.ours += " NOCASE";
        sql += order;
      }
    }
    s.sql = sql;
    return s;
  }

  // Rows in groups of equal ORDER BY keys, each group's rows in a canonical order.
  std::vector<std::vector<Row>> TieGroups(const std::vector<Row>& rows, const Select& s) {
    std::vector<std::vector<Row>> groups;
    for (const Row& r : rows) {
      bool same = !groups.empty();
      if (same) {
        for (size_t c : s.order_columns) {
          const Cell& a = groups.back().back()[c];
          const Cell& b = r[c];
          if (a.kind == 2 && b.kind == 2) {
            same = same && CompareStrings(platform::GetUserDefaultLangID(), 0, a.text.c_str(),
                                          s.order_nocase, 0, b.text.c_str()) == 0;
          } else {
            same = same && SameCell(a, b);
          }
        }
      }
      if (!same) groups.emplace_back();
      groups.back().push_back(r);
    }
    return groups;
  }

  bool SameResult(const std::vector<Row>& ours, const std::vector<Row>& theirs, const Select& s) {
    if (s.order_columns.empty()) return SameRows(ours, theirs);
    const auto a = TieGroups(ours, s), b = TieGroups(theirs, s);
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (!SameRows(a[i], b[i])) return false;
    }
    return true;
  }

  void Report(const std::string& what, const std::string& ours_sql, const std::string& theirs_sql,
              const std::vector<Row>& ours, const std::vector<Row>& theirs,
              const std::string& error) {
    if (++mismatches_ > 10) return;
    ADD_FAILURE() << what << " (seed " << seed_ << ")\n  ours:   " << ours_sql
                  << "\n  SQLite: " << theirs_sql << "\n  " << (error.empty() ? "" : error)
                  << "\n  got " << ours.size() << " rows:\n"
                  << ShowRows(ours) << "  expected " << theirs.size() << " rows:\n"
                  << ShowRows(theirs);
  }

  void CheckSelect(const Select& s) {
    const std::vector<Row> expected = RunSqlite(s.sql.theirs, s.params);
    std::string error;
    const std::vector<Row> ours = RunOurs(indexed_.Path(), s.sql.ours, s.params, false, error);
    if (!error.empty() || !SameResult(ours, expected, s)) {
      Report("SELECT", s.sql.ours, s.sql.theirs, ours, expected, error);
      return;
    }
    // Again without secondary indexes, with strict change detection: the same multiset.
    const std::vector<Row> plain = RunOurs(plain_.Path(), s.sql.ours, s.params, true, error);
    if (!error.empty() || !SameRows(plain, expected)) {
      Report("SELECT without secondary indexes", s.sql.ours, s.sql.theirs, plain, expected, error);
    }
    if (s.live) {
      const std::vector<Row> live =
          RunOurs(indexed_.Path(), s.sql.ours, s.params, false, error, nullptr, true);
      if (!error.empty() || !SameResult(live, expected, s)) {
        Report("SELECT with RequestLive", s.sql.ours, s.sql.theirs, live, expected, error);
      }
    }
  }

  void CheckTableContents(const std::string& table) {
    Select all;
    all.sql = Same("SELECT K, A, B, F, S, D FROM " + table);
    CheckSelect(all);
  }

  void CheckDml(const Sql& dml, const std::string& table) {
    int changes = 0;
    RunSqlite(dml.theirs, {}, &changes);
    for (const std::string& dir : {indexed_.Path(), plain_.Path()}) {
      std::string error;
      int32_t affected = -1;
      RunOurs(dir, dml.ours, {}, false, error, &affected);
      if (!error.empty() || affected != changes) {
        Report(
            "DML rows affected " + std::to_string(affected) + " against " + std::to_string(changes),
            dml.ours, dml.theirs, {}, {}, error);
      }
    }
    CheckTableContents(table);
  }

  void RandomDml(int32_t& next_key) {
    std::vector<int32_t> unused;
    const std::string t = kTables[Rand(1, 3)];
    switch (Rand(0, 3)) {
      case 0: {
        const SourceRow r = RandomRow(next_key++);
        const std::string values = std::to_string(r.k) + ", " + std::to_string(r.a) + ", " +
                                   std::to_string(r.b) + ", " + std::to_string(r.f) + ", '" + r.s +
                                   "', ";
        CheckDml({"INSERT INTO " + t + " VALUES (" + values + "'" + DateText(r.d) + "')",
                  "INSERT INTO " + t + " VALUES (" + values + std::to_string(r.d) + ")"},
                 t);
        break;
      }
      case 1: {
        Sql where = SingleTableCondition(t, unused);
        if (!unused.empty()) break;
        CheckDml({"UPDATE " + t + " SET B = B + 1, S = 'upd', D = D + 7 WHERE " + where.ours,
                  "UPDATE " + t + " SET B = B + 1, S = 'upd', D = D + 7 WHERE " + where.theirs},
                 t);
        break;
      }
      case 2: {
        Sql where = SingleTableCondition(t, unused);
        if (!unused.empty()) break;
        CheckDml({"UPDATE " + t + " SET F = F * 2 WHERE " + where.ours,
                  "UPDATE " + t + " SET F = F * 2 WHERE " + where.theirs},
                 t);
        break;
      }
      default: {
        Sql where = SingleTableCondition(t, unused);
        if (!unused.empty()) break;
        CheckDml({"DELETE FROM " + t + " WHERE " + where.ours,
                  "DELETE FROM " + t + " WHERE " + where.theirs},
                 t);
        break;
      }
    }
  }

  mirvel_test::TempDirectory indexed_{"sqldiff"};
  mirvel_test::TempDirectory plain_{"sqldiffp"};
  sqlite3* db_ = nullptr;
  std::mt19937 rng_;
  unsigned seed_ = 0;
  int mismatches_ = 0;
};

TEST_F(SqliteDifferentialTest, StatementsAgreeWithSqlite) {
  seed_ = 19;
  if (const char* s = std::getenv("MIRVEL_SQL_SEED")) seed_ = static_cast<unsigned>(std::atoi(s));
  rng_.seed(seed_);
  LoadAll();
  // The application's caller search: callers joined to their clients, in name order.
  Select search;
  search.sql = Same("SELECT I.K, I.A, I.S, C.S, C.B FROM T1 I, T2 C WHERE I.A = C.K ORDER BY I.S");
  search.order_columns = {2};
  CheckSelect(search);
  // A live result filters by what names no table too.
  for (int32_t p : {0, 1}) {
    Select live;
    live.sql = {"SELECT T1.K, T1.S FROM T1 WHERE ? = 1 AND T1.A > 3",
                "SELECT T1.K, T1.S FROM T1 WHERE ? IS 1 AND T1.A > 3"};
    live.params = {p};
    live.live = true;
    CheckSelect(live);
  }
  int32_t next_key = 1000;
  for (int i = 0; i < 1100; ++i) {
    CheckSelect(RandomSelect());
    if (i % 25 == 24) RandomDml(next_key);
  }
  EXPECT_EQ(mismatches_, 0) << "seed " << seed_;
}

}  // namespace
}  // namespace tessera::testing
