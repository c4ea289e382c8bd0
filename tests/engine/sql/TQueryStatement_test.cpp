#include "engine/sql/TQueryStatement.h"

#include <gtest/gtest.h>

#include "SqlTestUtil.h"

namespace tessera {
namespace {

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new testing::SqlEngineEnvironment);

TEST(SourceDataFileTest, TableNameTakesTheDirectoryAndGivesTheCorrelationName) {
  struct Case {
    const char* name;
    const char* directory;
    const char* table_name;
    const char* correlation_name;
  };
  const Case cases[] = {
      {"Messages", "/srv/db", "/srv/db/Messages", "Messages"},
      {"Messages.DAT", " /srv/db/ ", "/srv/db/Messages.DAT", "Messages"},
      {"Messages", "", "Messages", "Messages"},
      {"sub/Users.dat", "/srv/db", "sub/Users.dat", "Users"},
      {"/abs/a.b.c", "/srv/db", "/abs/a.b.c", "a.b"},
      {"x.dir/Plain", "/srv/db", "x.dir/Plain", "Plain"},
      {"", "/srv/db", "", ""},
  };
  for (const Case& c : cases) {
    TSourceDataFile table;
    table.correlation_name = "old";
    table.SetTableName(c.name, c.directory);
    EXPECT_EQ(table.table_name, c.table_name) << c.name;
    EXPECT_EQ(table.correlation_name, c.correlation_name) << c.name;
  }
  // 251 characters fit after "/db/", 252 would not: the name is refused, not cut.
  TSourceDataFile table;
  table.SetTableName(std::string(251, 'n'), "/db");
  EXPECT_EQ(table.table_name.size(), 255u);
  try {
    table.SetTableName(std::string(252, 'n'), "/db");
    ADD_FAILURE() << "no error";
  } catch (const ETesseraEngineError& e) {
    EXPECT_EQ(e.GetError(0).ErrorCode(), kErrInvalidPath);
  }
}

TEST(QueryStatementTest, ClearStatementKeepsWhatTheOwnerSupplied) {
  TQueryStatement query;
  query.directory = "/db";
  query.live = true;
  testing::ParseInto(query,
                     "SELECT DISTINCT AVG(a), a + 1 INTO MEMORY R FROM A JOIN B ON A.k = B.k "
                     "WHERE a = ? GROUP BY 1 ORDER BY 1 NOCASE WITH LOCKS ENCRYPTED WITH pw");
  ASSERT_EQ(query.parameters.size(), 1u);
  EXPECT_EQ(query.condition->first->join_type, kJoinInner);
  EXPECT_EQ(query.condition->second->join_type, kJoinNone);
  query.ClearStatement();
  EXPECT_EQ(DumpStatement(query), "NONE\n");
  EXPECT_EQ(query.directory, "/db");
  EXPECT_FALSE(query.live);  // cleared by INTO, not restored
  // Conditions added after clearing start a new tree.
  testing::ParseInto(query, "DELETE FROM T WHERE a = 1");
  EXPECT_EQ(DumpExpression(query.condition.get(), &query), "(= a 1)");
  EXPECT_EQ(query.source_tables[0]->table_name, "/db/T");
  EXPECT_TRUE(query.live);
}

TEST(QueryStatementTest, ConditionsAreAndedFromTheLeft) {
  TQueryStatement query;
  testing::ParseInto(query, "SELECT a FROM A JOIN B ON x = y WHERE z = 1");
  const ExpressionNode* root = query.condition.get();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->kind, kNodeBinary);
  EXPECT_EQ(root->code, kOpAnd);
  EXPECT_EQ(root->text, "AND");
  EXPECT_EQ(root->type, kExprTypeBoolean);
  EXPECT_EQ(root->size, 2);
  EXPECT_EQ(DumpExpression(root->first.get(), &query), "(=@INNER x y)");
  EXPECT_EQ(DumpExpression(root->second.get(), &query), "(= z 1)");
  // The mark belongs to the node: a copy of the tree carries it.
  ExpressionNodePtr copy = CopyExpressionTree(root);
  EXPECT_EQ(DumpExpression(copy.get()), "(AND (=@INNER x y) (= z 1))");
}

}  // namespace
}  // namespace tessera
