// TDataQuery: statements run end to end over real tables.
#include "engine/sql/TDataQuery.h"

#include <gtest/gtest.h>

#include "tests/engine/sql/QueryTestSupport.h"

namespace tessera {
namespace {

using testing::Field;
using testing::Index;
using V = std::vector<std::string>;

class DataQueryTest : public testing::QueryTest {
 protected:
  void SetUp() override {
    QueryTest::SetUp();
    Create("T.DAT",
           {Field(1, "Id", kFieldInt32), Field(2, "Nom", kFieldString, 20),
            Field(3, "Val", kFieldInt16), Field(4, "Amt", kFieldFloat)},
           {Index("", {1}, true), Index("ByNom", {2}, false)});
    for (const char* v : {"(1, 'Smith', 10, 1.5)", "(2, 'Jones', 20, 2.5)", "(3, 'Adams', NULL, 3)",
                          "(4, 'Smith', -5, NULL)"}) {
      Run(std::string("INSERT INTO T VALUES ") + v);
    }
  }
};

TEST_F(DataQueryTest, Smoke) {
  EXPECT_EQ(Run("SELECT * FROM T"),
            (V{"1|Smith|10|1.5", "2|Jones|20|2.5", "3|Adams|NULL|3", "4|Smith|-5|NULL"}));
  EXPECT_EQ(Run("SELECT Nom, COUNT(*), SUM(Val), AVG(Amt), MIN(Val), MAX(Val) FROM T GROUP BY Nom"),
            (V{"Adams|1|NULL|3|NULL|NULL", "Jones|1|20|2.5|20|20", "Smith|2|5|1.5|-5|10"}));
  EXPECT_EQ(Run("SELECT COUNT(*), COUNT(Val) FROM T"), (V{"4|3"}));
  EXPECT_EQ(Run("SELECT DISTINCT Nom FROM T ORDER BY Nom DESC"), (V{"Smith", "Jones", "Adams"}));
  EXPECT_EQ(Run("SELECT Id FROM T WHERE Val > 5 ORDER BY Id DESC"), (V{"2", "1"}));
  Run("UPDATE T SET Nom = Id + 100 WHERE Id = 1");
  EXPECT_EQ(last_rows_affected_, 1);
  Run("DELETE FROM T WHERE Nom = 'Smith'");
  EXPECT_EQ(last_rows_affected_, 1);
  EXPECT_EQ(Run("SELECT Nom FROM T"), (V{"101", "Jones", "Adams"}));
  EXPECT_EQ(PrivateFiles(), 0u);
}

}  // namespace
}  // namespace tessera
