// The join plan of statements at the edges of the analysis: links with their types and
// conditions, table filters, residual, and the errors.
#include "engine/sql/JoinAnalysis.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/engine/sql/JoinTestSupport.h"

namespace tessera::testing {
namespace {

class JoinAnalysisTest : public JoinTablesTest {
 protected:
  void SetUp() override {
    JoinTablesTest::SetUp();
    std::vector<JoinRow> rows;
    static const char* kNames[] = {"Smith", "Simon", "Brown", "Sam", "Adams"};
    for (int i = 1; i <= 40; ++i) {
      rows.push_back({i, false, i % 7, false, static_cast<int16_t>(i % 3), kNames[i % 5]});
    }
    for (const char* name : {"A", "B", "C", "D"}) CreateTable(name, rows);
  }
};

struct PlanCase {
  const char* sql;
  const char* plan;
};

// clang-format off
const PlanCase kPlans[] = {
  // A join comparison and a condition on one table: one link, a filter, no residual.
  {"SELECT * FROM A, B WHERE A.X = B.X AND A.K = 5",
   "table 1 'A'\n  link inner 'B' (= A.X B.X)\n  filter (= A.K 5)\ntable 2 'B'\nwhere (= A.K 5)\n"},
  // An OR naming two tables goes whole to the residual; the plain link joins A and B.
  {"SELECT * FROM A, B WHERE A.X = B.X OR A.K = 5",
   "table 1 'A'\n  link plain 'B'\ntable 2 'B'\nresidual (OR (= A.X B.X) (= A.K 5))\n"},
  // The sides are exchanged so that the parent's is on the left, the operator mirrored.
  {"SELECT * FROM A, B WHERE B.X > A.S",
   "table 1 'A'\n  link inner 'B' (< A.S B.X)\ntable 2 'B'\n"},
  {"SELECT * FROM A, B, C WHERE C.X = B.X",
   "table 1 'A'\n  link plain 'B'\ntable 2 'B'\n  link inner 'C' (= B.X C.X)\ntable 3 'C'\n"},
  // Conditions on the same pair are ANDed onto one link.
  {"SELECT * FROM A, B WHERE A.X = B.X AND B.S <= A.S",
   "table 1 'A'\n  link inner 'B' (AND (= A.X B.X) (>= A.S B.S))\ntable 2 'B'\n"},
  // A star: the plain link to C goes, as C is reached from A.
  {"SELECT * FROM A, B, C WHERE A.X = B.X AND A.S = C.S",
   "table 1 'A'\n  link inner 'B' (= A.X B.X)\n  link inner 'C' (= A.S C.S)\ntable 2 'B'\ntable 3 'C'\n"},
  // C is already a typed child and the join is inner: C becomes B's parent, B moves after it.
  {"SELECT * FROM A, B, C WHERE A.X = C.X AND B.X = C.X",
   "table 1 'A'\n  link inner 'C' (= A.X C.X)\ntable 2 'C'\n  link inner 'B' (= C.X B.X)\ntable 3 'B'\n"},
  // C, already a typed child, stays the parent and A moves after it: B drives.
  {"SELECT * FROM A, B, C WHERE B.X = C.X AND C.S = A.S",
   "table 1 'B'\n  link inner 'C' (= B.X C.X)\ntable 2 'C'\n  link inner 'A' (= C.S A.S)\ntable 3 'A'\n"},
  // The triangle: the third comparison would close a cycle and is tested per row.
  {"SELECT * FROM A, B, C WHERE A.X = B.X AND B.S = C.S AND A.K = C.K",
   "table 1 'A'\n  link inner 'B' (= A.X B.X)\ntable 2 'B'\n  link inner 'C' (= B.S C.S)\n"
   "table 3 'C'\nresidual (= A.K C.K)\n"},
  // Outer joins: a RIGHT JOIN's table drives; a WHERE part on the child is tested after the row
  // without partner is made; an ON part on the child stays a filter even though no index serves it.
  {"SELECT * FROM A LEFT JOIN B ON A.K = B.X",
   "table 1 'A'\n  link outer 'B' (=@LEFT A.K B.X)\ntable 2 'B'\n"},
  {"SELECT * FROM A RIGHT JOIN B ON A.K = B.X",
   "table 1 'B'\n  link outer 'A' (=@RIGHT B.X A.K)\ntable 2 'A'\n"},
  {"SELECT * FROM A LEFT JOIN B ON A.K = B.X AND B.S = 1 WHERE B.S = 2 AND B.K = A.S",
   "table 1 'A'\n  link outer 'B' (=@LEFT A.K B.X)\ntable 2 'B'\n  filter (=@LEFT B.S 1)\n"
   "where (AND (=@LEFT B.S 1) (= B.S 2))\nresidual (AND (= B.K A.S) (= B.S 2))\n"},
  // A NOT over a join comparison is tested per row, never turned into a link.
  {"SELECT * FROM A, B WHERE NOT (A.X = B.X)",
   "table 1 'A'\n  link plain 'B'\ntable 2 'B'\nresidual (NOT (= A.X B.X))\n"},
  // Conditions naming no table are tested per row, not dropped.
  {"SELECT * FROM A WHERE 1 = 0", "table 1 'A'\nresidual (= 1 0)\n"},
  {"SELECT * FROM A WHERE ? = 1 AND A.K = 2",
   "table 1 'A'\n  filter (= A.K 2)\nwhere (= A.K 2)\nresidual (= ? 1)\n"},
  // Prefix rewrites: LIKE 'Sm%', = 'Sm*', a lone '*'; other patterns stay and, served by no
  // index, go to the residual.
  {"SELECT * FROM A WHERE A.N LIKE 'Sm%'",
   "table 1 'A'\n  filter (PREFIX = A.N 'Sm')\nwhere (LIKE A.N 'Sm%')\n"},
  {"SELECT * FROM A WHERE A.N NOT LIKE 'S_m%' AND A.N LIKE '%m'",
   "table 1 'A'\nwhere (AND (NOT LIKE A.N 'S_m%') (LIKE A.N '%m'))\n"
   "residual (AND (NOT LIKE A.N 'S_m%') (LIKE A.N '%m'))\n"},
  {"SELECT * FROM A WHERE A.N = 'Sa*'",
   "table 1 'A'\n  filter (PREFIX = A.N 'Sa')\nwhere (= A.N 'Sa*')\n"},
  {"SELECT * FROM A WHERE A.N <> '*'",
   "table 1 'A'\n  filter (ISNULL A.N)\nwhere (<> A.N '*')\n"},
  // The same rule where an OR across tables carries the pattern to the residual.
  {"SELECT * FROM A, B WHERE A.N = 'Sm*' OR B.K = 1",
   "table 1 'A'\n  link plain 'B'\ntable 2 'B'\nresidual (OR (PREFIX = A.N 'Sm') (= B.K 1))\n"},
  // Constants are evaluated once and converted only when the column's type holds them exactly.
  {"SELECT * FROM A WHERE A.X = 1 + 2.0 AND A.X > 2.5",
   "table 1 'A'\n  filter (AND (= A.X 3) (> A.X 2.5f))\nwhere (AND (= A.X (+ 1 2f)) (> A.X 2.5f))\n"},
  {"SELECT * FROM A WHERE A.S < 70000", "table 1 'A'\nwhere (< A.S 70000)\nresidual (< A.S 70000)\n"},
  // Errors.
  {"SELECT * FROM A, B WHERE (A.X + B.X) = 3",
   "error: The join condition cannot contain multiple table correlation names in either the left "
   "or right operand in WHERE or JOIN clause"},
  {"SELECT * FROM A, B, C WHERE A.X = B.X + C.X",
   "error: The join condition cannot contain multiple table correlation names in either the left "
   "or right operand in WHERE or JOIN clause"},
  {"SELECT * FROM A, B LEFT JOIN C ON A.X = C.X AND B.X = C.X",
   "error: Internal join error - table correlation name \"C\" is target of multiple join "
   "conditions in WHERE or JOIN clause"},
};
// clang-format on

TEST_F(JoinAnalysisTest, GoldenPlans) {
  for (const PlanCase& c : kPlans) EXPECT_EQ(PlanOf(c.sql), c.plan) << c.sql;
}

// Binding refuses an unknown correlation name first; the filter assignment still names it when
// a tree reaches it unresolved.
TEST_F(JoinAnalysisTest, UnknownCorrelationNameInAFilter) {
  TQueryStatement q;
  Plan(q, "SELECT * FROM A WHERE C.X = 1");
  try {
    AssignTableFilters(q, {});
    ADD_FAILURE() << "no error";
  } catch (const ETesseraEngineError&) {
    EXPECT_EQ(GetEngineSession()->ErrorSql(),
              "Table correlation name 'C' referenced in WHERE clause is not defined in the FROM "
              "clause");
  }
}

// The internal errors guard plans that binding never hands over (every name resolved, every part
// naming two tables consumed by the analysis): reached here by direct calls.
TEST_F(JoinAnalysisTest, InternalErrorsOnPlansBindingNeverMakes) {
  auto error_of = [](const std::function<void()>& action) {
    try {
      action();
    } catch (const ETesseraEngineError&) {
      return GetEngineSession()->ErrorSql();
    }
    return std::string("<none>");
  };
  const std::string validate =
      "Internal join error attempting to validate table correlation names involved in join";
  // A join comparison naming a table outside the FROM list.
  TQueryStatement unknown;
  EXPECT_EQ(error_of([&] { Plan(unknown, "SELECT * FROM A, B WHERE A.X = C.X"); }), validate);
  // Links that leave a table unreached from the driving one.
  TQueryStatement unreached;
  Plan(unreached, "SELECT * FROM A, B, C");
  unreached.source_tables.front()->links.clear();
  EXPECT_EQ(error_of([&] { CleanUpLinks(unreached); }), validate);
  // A part naming two tables that no analysis took apart.
  TQueryStatement unanalyzed;
  Plan(unanalyzed, "SELECT * FROM A, B WHERE A.X = B.X OR A.K = 1");
  unanalyzed.condition = std::move(unanalyzed.residual);
  EXPECT_EQ(error_of([&] { AssignTableFilters(unanalyzed, {}); }), "Internal table filter error");
}

}  // namespace
}  // namespace tessera::testing
