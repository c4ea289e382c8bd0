// The join loop against brute force: every combination of the tables' rows tested with the
// whole condition, for random inner joins in chain, star and triangle shapes and for LEFT JOIN;
// and the odometer order of the combined rows.
#include "engine/sql/JoinLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/engine/sql/JoinTestSupport.h"

namespace tessera::testing {
namespace {

class JoinLoopTest : public JoinTablesTest {
 protected:
  // MIRVEL_SEED replays a run; otherwise the test's own fixed seed.
  static unsigned Seed(unsigned fixed) {
    const char* chosen = std::getenv("MIRVEL_SEED");
    return chosen != nullptr ? static_cast<unsigned>(std::strtoul(chosen, nullptr, 10)) : fixed;
  }

  int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  std::vector<JoinRow> RandomRows(int count) {
    static const char* kNames[] = {"", "Smith", "Simon", "Sam", "Brown", "sm", "Adams"};
    std::vector<JoinRow> rows;
    for (int k = 1; k <= count; ++k) {
      rows.push_back({k, Rand(0, 6) == 0, Rand(-1, 4), Rand(0, 6) == 0,
                      static_cast<int16_t>(Rand(0, 3)), kNames[Rand(0, 6)]});
    }
    return rows;
  }

  // Every row of each table, read before any filter is installed.
  static std::vector<std::vector<std::vector<uint8_t>>> AllRows(TQueryStatement& q) {
    std::vector<std::vector<std::vector<uint8_t>>> all;
    for (auto& t : q.source_tables) {
      auto& rows = all.emplace_back();
      std::vector<uint8_t> buf(t->data_file->GetRecordBufferSize());
      t->data_file->MoveToBeginning();
      while (t->data_file->GetNextRecord(buf.data()) == 0) rows.push_back(buf);
    }
    return all;
  }

  static bool Holds(TQueryStatement& q, const ExpressionNode* condition) {
    if (condition == nullptr) return true;
    ExpressionNode result;
    EvaluateExpression(*condition, result, 0, 0, JoinedRowColumns(q));
    return result.type == kExprTypeBoolean && !result.is_null && result.BooleanValue();
  }

  static ExpressionNodePtr CheckedCopy(TQueryStatement& q, const ExpressionNode* tree) {
    ExpressionNodePtr copy = CopyExpressionTree(tree);
    if (copy) {
      CheckExpression("WHERE or JOIN clause", *copy,
                      [&q](ExpressionNode& column) { return Lookup(q, column); });
    }
    return copy;
  }

  // The rows of every combination passing `where`, in the tables' list order; with `on`, the
  // second table joins the first as a LEFT JOIN under `on`.
  static std::vector<std::string> BruteForce(TQueryStatement& q, const ExpressionNode* where,
                                             const ExpressionNode* on) {
    const auto all = AllRows(q);
    std::vector<std::string> rows;
    std::vector<size_t> at(all.size(), 0);
    auto emit = [&] {
      if (!Holds(q, where)) return;
      std::string row;
      for (auto& t : q.source_tables) {
        ExpressionNode k;
        k.correlation_name = t->correlation_name;
        k.field_number = kK;
        ReadJoinedColumn(q, k);
        row +=
            (row.empty() ? "" : ",") +
            (k.is_null ? std::string("-") : t->correlation_name + std::to_string(k.Int32Value()));
      }
      rows.push_back(row);
    };
    std::function<void(size_t)> walk = [&](size_t i) {
      if (i == all.size()) return emit();
      TSourceDataFile& t = *q.source_tables[i];
      bool partner = false;
      for (const auto& r : all[i]) {
        t.record_buffer = r;
        t.null_row = false;
        if (on != nullptr && i == 1 && !Holds(q, on)) continue;
        partner = true;
        walk(i + 1);
      }
      if (on != nullptr && i == 1 && !partner) {
        t.null_row = true;
        walk(i + 1);
        t.null_row = false;
      }
    };
    walk(0);
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  std::string Column(const char* table) {
    static const char* kColumns[] = {"K", "X", "S"};
    return std::string(table) + "." + kColumns[Rand(0, 2)];
  }

  std::string SingleTablePart(const char* t) {
    static const char* kOps[] = {"=", "<>", "<", ">", "<=", ">="};
    switch (Rand(0, 8)) {
      case 0:
        return std::string(t) + ".X " + kOps[Rand(0, 5)] + " " + std::to_string(Rand(-1, 4));
      case 1:
        return std::string(t) + ".N LIKE 'S%'";
      case 2:
        return std::string(t) + ".N = 'Sm*'";
      case 3:
        return std::string(t) + ".S > 1.5";
      case 4:
        return std::string(t) + ".X IN (1, 3)";
      case 5:
        return std::string(t) + ".X BETWEEN 1 AND 2.5";
      case 6:
        return std::string(t) + ".N IS NULL";
      case 7:
        return std::string(t) + ".N NOT LIKE '%m%'";
      default:
        return std::string(t) + ".K <> " + std::to_string(Rand(1, 8));
    }
  }

  std::string RandomWhere(const std::vector<const char*>& tables) {
    static const char* kOps[] = {"=", "=", "=", "<", ">", "<=", ">=", "<>"};
    std::string where;
    const int parts = Rand(1, 4);
    for (int i = 0; i < parts; ++i) {
      const char* a = tables[Rand(0, static_cast<int>(tables.size()) - 1)];
      const char* b = tables[Rand(0, static_cast<int>(tables.size()) - 1)];
      std::string part;
      switch (Rand(0, 9)) {
        case 0:
          part = "(" + SingleTablePart(a) + " OR " + Column(b) + " = " + Column(a) + ")";
          break;
        case 1:
          part = "NOT (" + Column(a) + " = " + Column(b) + ")";
          break;
        case 2:
        case 3:
          part = SingleTablePart(a);
          break;
        default:
          part = Column(a) + " " + kOps[Rand(0, 7)] + " " + Column(b);
          break;
      }
      where += (where.empty() ? "" : " AND ") + part;
    }
    return where;
  }

  std::mt19937 rng_;
};

TEST_F(JoinLoopTest, InnerJoinsMatchBruteForce) {
  const unsigned seed = Seed(19);
  rng_.seed(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (const char* name : {"A", "B", "C"}) CreateTable(name, RandomRows(Rand(0, 9)));
  int joined = 0;
  for (int round = 0; round < 300; ++round) {
    const bool three = Rand(0, 1) == 1;
    std::vector<const char*> tables = {"A", "B"};
    if (three) tables.push_back("C");
    const std::string sql = std::string("SELECT * FROM ") + (three ? "A, B, C" : "A, B") +
                            " WHERE " + RandomWhere(tables);
    SCOPED_TRACE(sql);
    TQueryStatement q;
    ExpressionNodePtr whole;
    try {
      q.directory = dir_.Path();
      q.parser.SetText(sql);
      ParseStatement(q);
      for (size_t i = 0; i < q.source_tables.size(); ++i) {
        TSourceDataFile& t = *q.source_tables[i];
        t.position = static_cast<uint16_t>(i + 1);
        t.data_file->SetFileName(t.table_name);
        t.data_file->SetReadOnly(true);
        t.data_file->Open();
        t.data_file->SetCurrentIndexByNumber(255);
      }
      ResolveNames(q, q.condition.get());
      // The reference reads "= 'Sm*'" as the prefix match it is.
      std::string reference = sql;
      for (size_t at; (at = reference.find("= 'Sm*'")) != std::string::npos;) {
        reference.replace(at, 7, "LIKE 'Sm%'");
      }
      TQueryStatement reference_query;
      reference_query.parser.SetText(reference);
      ParseStatement(reference_query);
      whole = CheckedCopy(q, reference_query.condition.get());
      PlanJoins(q);
      Execute(q);
    } catch (const ETesseraEngineError&) {
      // Only the join shapes the analysis refuses; everything else must run.
      const std::string text = GetEngineSession()->ErrorSql();
      EXPECT_TRUE(text.find("Internal join error") == 0 ||
                  text.find("The join condition cannot contain") == 0)
          << text;
      continue;
    }
    const std::vector<std::string> expected = BruteForce(q, whole.get(), nullptr);
    // Brute force moved the buffers; the loop positions every table again.
    std::vector<std::string> got = Rows(q);
    std::sort(got.begin(), got.end());
    ASSERT_EQ(got, expected) << DumpPlan(q);
    ++joined;
  }
  EXPECT_GT(joined, 250);
}

TEST_F(JoinLoopTest, LeftJoinRowsWithoutPartnerReadNull) {
  const unsigned seed = Seed(19);
  rng_.seed(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  CreateTable("A", RandomRows(8));
  CreateTable("B", RandomRows(Rand(0, 8)));
  static const char* kOn[] = {"A.X = B.X", "A.X = B.X AND B.S > 1", "A.K < B.X AND B.N LIKE 'S%'",
                              "B.X = A.S AND B.K <> 3", "A.X = B.X AND A.S <= B.S"};
  static const char* kWhere[] = {"", " WHERE B.K IS NULL", " WHERE B.S = 1", " WHERE A.S > 0",
                                 " WHERE B.X = A.X OR A.K = 1"};
  for (const char* on : kOn) {
    for (const char* where : kWhere) {
      const std::string sql = std::string("SELECT * FROM A LEFT JOIN B ON ") + on + where;
      SCOPED_TRACE(sql);
      // The ON and WHERE trees alone, for brute force.
      TQueryStatement parts;
      parts.parser.SetText(std::string("SELECT * FROM A, B WHERE ") + on);
      ParseStatement(parts);
      TQueryStatement where_part;
      if (*where != '\0') {
        where_part.parser.SetText(std::string("SELECT * FROM A, B") + where);
        ParseStatement(where_part);
      }
      TQueryStatement q;
      Plan(q, sql);
      Execute(q);
      ExpressionNodePtr on_tree = CheckedCopy(q, parts.condition.get());
      ExpressionNodePtr where_tree = CheckedCopy(q, where_part.condition.get());
      const std::vector<std::string> expected = BruteForce(q, where_tree.get(), on_tree.get());
      std::vector<std::string> got = Rows(q);
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, expected) << DumpPlan(q);
    }
  }
}

TEST_F(JoinLoopTest, OdometerOrderLastLinkFastest) {
  CreateTable("A", {{1, false, 1, false, 0, "a"}, {2, false, 2, false, 1, "b"}});
  CreateTable(
      "B", {{1, false, 1, false, 0, ""}, {2, false, 1, false, 0, ""}, {3, false, 2, false, 0, ""}});
  CreateTable(
      "C", {{1, false, 0, false, 0, ""}, {2, false, 0, false, 1, ""}, {3, false, 0, false, 0, ""}});
  TQueryStatement q;
  Plan(q, "SELECT * FROM A, B, C WHERE A.X = B.X AND A.S = C.S");
  Execute(q);
  const std::vector<std::string> expected = {"A1,B1,C1", "A1,B1,C3", "A1,B2,C1", "A1,B2,C3",
                                             "A2,B3,C2"};
  EXPECT_EQ(Rows(q), expected);
  // Each parent row gives its child the comparison turned round: B.X > the value of A.X.
  TQueryStatement less;
  Plan(less, "SELECT * FROM A, B WHERE A.X < B.X");
  Execute(less);
  ASSERT_TRUE(FirstJoinedRow(*less.source_tables[0]));
  ASSERT_TRUE(NextJoinedRow(*less.source_tables[0]));
  EXPECT_EQ(DumpExpression(less.source_tables[0]->links[0]->filter_tree.get()), "(> B.X 1)");
  // A child whose parent finds no partner: nothing for that parent, the rest unchanged.
  TQueryStatement empty;
  Plan(empty, "SELECT * FROM A, B WHERE A.X = B.X AND B.K > 5");
  Execute(empty);
  EXPECT_TRUE(Rows(empty).empty());
}

// An equality served by a unique key (looked up, or a range when the child has a filter of its
// own) gives the rows the filter gives, in the same order; a non-unique index, whose equal keys
// come in another order than record order once a freed slot is taken again, is left to the
// filter.  NULL = NULL holds through the filter.
TEST_F(JoinLoopTest, KeyServedLinksKeepRecordOrder) {
  CreateTable(
      "A",
      {{1, false, 2, false, 1, "a"}, {2, true, 0, false, 3, "b"}, {3, false, 1, false, 2, "c"}});
  CreateTable("B", {{1, false, 2, false, 0, ""},
                    {2, false, 1, false, 0, ""},
                    {3, false, 2, false, 0, ""},
                    {4, false, 2, false, 0, ""}});
  {
    TDataFile b;
    b.SetFileName(dir_.File("B"));
    b.Open();
    std::vector<uint8_t> buf(b.GetRecordBufferSize());
    b.MoveToBeginning();
    ASSERT_EQ(b.GetNextRecord(buf.data()), 0);
    ASSERT_EQ(b.GetNextRecord(buf.data()), 0);
    b.DeleteRecord();
    for (int32_t k : {5, 6}) {
      b.ApplyFieldDefaults(buf.data());
      PutInt(b, kK, k, buf.data());
      if (k == 5) PutInt(b, kX, 2, buf.data());
      b.InsertRecord(buf.data());
    }
    b.Close();
  }
  struct Case {
    const char* sql;
    bool served, lookup;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {"SELECT * FROM A, B WHERE A.X = B.X",
       false,
       false,
       {"A1,B1", "A1,B5", "A1,B3", "A1,B4", "A2,B6"}},
      {"SELECT * FROM A, B WHERE A.S = B.K", true, true, {"A1,B1", "A2,B3"}},
      {"SELECT * FROM A, B WHERE A.S = B.K AND B.X = 2", true, false, {"A1,B1", "A2,B3"}},
      {"SELECT * FROM A, B WHERE B.K = A.K", true, true, {"A1,B1", "A3,B3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    TQueryStatement q;
    Plan(q, c.sql);
    Execute(q);
    EXPECT_EQ(Rows(q), c.rows) << DumpPlan(q);
    const TSourceDataLink& link = *q.source_tables[0]->links[0];
    EXPECT_EQ(link.range_slot >= 0, c.served);
    EXPECT_EQ(link.range_lookup, c.lookup);
  }
}

// A child looked up by its unique key is read into memory once the lookups come to a quarter of
// its rows: the rows before and after the switch, partners missing or NULL included, are the
// ones a brute-force join gives.  A parent column of the key's own type goes to the key as it is
// stored; its values repeat, go NULL and come back, under a lookup and under a range beside the
// child's own filter.
TEST_F(JoinLoopTest, KeyLookupsSwitchToRowsInMemoryWithTheSameRows) {
  std::vector<JoinRow> parents, children;
  for (int32_t k = 1; k <= 40; ++k) children.push_back({k, false, k % 7, false, 0, ""});
  for (int32_t k = 1; k <= 60; ++k) {
    parents.push_back({k, k % 5 == 0, k / 2 * 13 % 45 - 2, k % 11 == 0,
                       static_cast<int16_t>(k * 37 % 50 - 5), ""});
  }
  CreateTable("A", parents);
  CreateTable("B", children);
  struct Case {
    const char* sql;
    bool left, by_s, lookup;
    int32_t skip_x;  // children whose X is this have no part (-1: none)
  };
  const Case cases[] = {
      {"SELECT * FROM A JOIN B ON A.S = B.K", false, true, true, -1},
      {"SELECT * FROM A LEFT JOIN B ON A.S = B.K", true, true, true, -1},
      {"SELECT * FROM A JOIN B ON A.X = B.K", false, false, true, -1},
      {"SELECT * FROM A LEFT JOIN B ON A.X = B.K", true, false, true, -1},
      {"SELECT * FROM A, B WHERE A.X = B.K AND B.X <> 3", false, false, false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::vector<std::string> expected;
    for (const JoinRow& a : parents) {
      const bool is_null = c.by_s ? a.s_null : a.x_null;
      const int32_t v = c.by_s ? a.s : a.x;
      const bool partner = !is_null && v >= 1 && v <= 40 && v % 7 != c.skip_x;
      if (!partner && !c.left) continue;
      expected.push_back("A" + std::to_string(a.k) +
                         (partner ? ",B" + std::to_string(v) : std::string(",-")));
    }
    TQueryStatement q;
    Plan(q, c.sql);
    Execute(q);
    EXPECT_EQ(Rows(q), expected) << DumpPlan(q);
    const TSourceDataLink& link = *q.source_tables[0]->links[0];
    EXPECT_EQ(link.range_lookup, c.lookup);
    EXPECT_EQ(link.direct_field != nullptr, !c.by_s);
    EXPECT_EQ(Source(q, "B")->keyed_rows.built, c.lookup);
  }
}

}  // namespace
}  // namespace tessera::testing
