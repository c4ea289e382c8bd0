#include "engine/sql/TStatementParser.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "SqlTestUtil.h"

namespace tessera {
namespace {

using testing::Dump;
using testing::ErrorOf;

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new testing::SqlEngineEnvironment);

struct Golden {
  std::string sql;
  std::string dump;
};

void ExpectGoldens(const std::vector<Golden>& cases, std::string_view directory = {}) {
  for (const auto& c : cases) EXPECT_EQ(Dump(c.sql, directory), c.dump) << c.sql;
}

TEST(StatementParserTest, SelectListColumnsAndResultNames) {
  ExpectGoldens({
      {"select * from T;",
       "SELECT\n"
       "table 1 'T' as 'T'\n"
       "column name='*' corr='' as='' text='*' tree=*\n"},
      {"SELECT ALL a b FROM T x WHERE c = 1",
       "SELECT conditions\n"
       "table 1 'T' as 'x'\n"
       "column name='a' corr='' as='b' text='a' tree=a\n"
       "where (= c 1)\n"},
      {"SELECT a FROM T WHERE a > 2",
       "SELECT conditions\n"
       "table 1 'T' as 'T'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"
       "where (> a 2)\n"},
      {"SELECT DISTINCT t.a, SUM(b) AS total, COUNT(*), AVG(t.c), MAX(a + 1), a * 2 FROM T t",
       "SELECT distinct average expressions\n"
       "table 1 'T' as 't'\n"
       "column name='a' corr='t' as='a' text='t.a' tree=t.a\n"
       "column name='b' corr='' as='total' agg=SUM text='SUM(b)' tree=(SUM b)\n"
       "column name='*' corr='' as='' agg=COUNT text='COUNT(*)' tree=(COUNT *)\n"
       "column name='c' corr='t' as='' agg=AVG text='AVG(t.c)' tree=(AVG t.c)\n"
       "column name='' corr='' as='' agg=MAX computed text='MAX(a + 1)' tree=(MAX (+ a 1))\n"
       "column name='' corr='' as='' computed text='a * 2' tree=(* a 2)\n"},
      {"SELECT a AS \"Total Sum\", b 'lbl', c AS x.y, d e.'f', MIN(g) h FROM T",
       "SELECT\n"
       "table 1 'T' as 'T'\n"
       "column name='a' corr='' as='Total Sum' text='a' tree=a\n"
       "column name='b' corr='' as='lbl' text='b' tree=b\n"
       "column name='c' corr='' as='y' text='c' tree=c\n"
       "column name='d' corr='' as='f' text='d' tree=d\n"
       "column name='g' corr='' as='h' agg=MIN text='MIN(g)' tree=(MIN g)\n"},
      // Quoted texts and bracketed names as columns; the source text is kept as written.
      {"SELECT [First Name], 'x' || UPPER(b)  ,  -c FROM T",
       "SELECT expressions\n"
       "table 1 'T' as 'T'\n"
       "column name='First Name' corr='' as='First Name' text='[First Name]' tree=First Name\n"
       "column name='' corr='' as='' computed text='''x'' || UPPER(b)' tree=(|| 'x' (UPPER b))\n"
       "column name='' corr='' as='' computed text='-c' tree=(- c)\n"},
      // A bracketed keyword is still the keyword.
      {"[SELECT] a FROM [T] [WHERE] a = TRUE",
       "SELECT conditions\n"
       "table 1 'T' as 'T'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"
       "where (= a TRUE)\n"},
      {"SeLeCt/* any case */a\n\tFROM\r\nT ; ",
       "SELECT\n"
       "table 1 'T' as 'T'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"},
  });
}

TEST(StatementParserTest, SourceTablesCorrelationNamesAndDirectory) {
  ExpectGoldens(
      {
          {"SELECT a FROM 'Messages.DAT' m, 'sub/Users.dat', MEMORY Temp AS \"tt\"",
           "SELECT multiple\n"
           "table 1 '/data/Messages.DAT' as 'm'\n"
           "table 2 'sub/Users.dat' as 'Users'\n"
           "table 3 '/data/Temp' as 'tt' memory\n"
           "column name='a' corr='' as='a' text='a' tree=a\n"},
          // No correlation name is taken from a word that ends the table.
          {"SELECT a FROM A ORDER BY a",
           "SELECT order\n"
           "table 1 '/data/A' as 'A'\n"
           "column name='a' corr='' as='a' text='a' tree=a\n"
           "order name='a' corr='' number=0\n"},
      },
      "/data");
  ExpectGoldens({
      {"SELECT a FROM A WITH LOCKS",
       "SELECT locks\n"
       "table 1 'A' as 'A'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"},
      {"SELECT a FROM A ENCRYPTED WITH \"pw1\";",
       "SELECT\n"
       "encrypted 'pw1'\n"
       "table 1 'A' as 'A'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"},
      {"SELECT a FROM A x GROUP BY a",
       "SELECT group\n"
       "table 1 'A' as 'x'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"
       "group name='a' corr='' number=0\n"},
  });
}

// A qualified "*" stands for every field of that table wherever "*" itself is allowed.
TEST(StatementParserTest, QualifiedAllColumns) {
  ExpectGoldens({
      {"SELECT t.*, COUNT(t.*), u.\"*\", [u].[*] FROM T t, U u",
       "SELECT multiple\n"
       "table 1 'T' as 't'\n"
       "table 2 'U' as 'u'\n"
       "column name='*' corr='t' as='' text='t.*' tree=t.*\n"
       "column name='*' corr='t' as='' agg=COUNT text='COUNT(t.*)' tree=(COUNT t.*)\n"
       "column name='*' corr='u' as='' text='u.\"*\"' tree=u.*\n"
       "column name='*' corr='u' as='' text='[u].[*]' tree=u.*\n"},
  });
  EXPECT_EQ(ErrorOf("SELECT a FROM T WHERE T.* = 1"),
            "Symbol or string expression expected after table correlation name separator '.', "
            "instead found '*' in WHERE or JOIN clause");
  EXPECT_EQ(ErrorOf("INSERT INTO T (T.*) VALUES (1)"),
            "Symbol or string expression expected after table correlation name separator '.', "
            "instead found '*' in table columns");
}

// A quoted name reads as a quoted value does: a doubled quote inside counts once.
TEST(StatementParserTest, QuotedNamesTakeDoubledQuotesOnce) {
  TQueryStatement query;
  testing::ParseInto(
      query,
      "SELECT a AS 'it''s', b \"say \"\"x\"\"\" INTO 'R''s' FROM 'L''Or.dat' AS 'l''o', "
      "U AS 'u''v' GROUP BY 'g''h' ORDER BY 'q''r'.'o''p' ENCRYPTED WITH 'p''w'");
  EXPECT_EQ(query.select_columns[0]->result_name, "it's");
  EXPECT_EQ(query.select_columns[1]->result_name, "say \"x\"");
  EXPECT_EQ(query.into_name, "R's");
  EXPECT_EQ(query.source_tables[0]->table_name, "L'Or.dat");
  EXPECT_EQ(query.source_tables[0]->correlation_name, "l'o");
  EXPECT_EQ(query.source_tables[1]->correlation_name, "u'v");
  EXPECT_EQ(query.group_by[0]->column_name, "g'h");
  EXPECT_EQ(query.order_by[0]->correlation_name, "q'r");
  EXPECT_EQ(query.order_by[0]->column_name, "o'p");
  EXPECT_EQ(query.password, "p'w");
  testing::ParseInto(query, "UPDATE 'T''s' 'x''y' SET a = 1");
  EXPECT_EQ(query.source_tables[0]->table_name, "T's");
  EXPECT_EQ(query.source_tables[0]->correlation_name, "x'y");
  // The same name written twice is the same correlation name.
  EXPECT_EQ(ErrorOf("SELECT a FROM A AS 'x''y', B AS \"x'y\""),
            "Duplicate table correlation name 'x'y' found in source tables");
}

TEST(StatementParserTest, IntoClearsLiveAndNamesTheResult) {
  EXPECT_EQ(Dump("SELECT a INTO MEMORY Result FROM T", {}, true),
            "SELECT\n"
            "into memory 'Result'\n"
            "table 1 'T' as 'T'\n"
            "column name='a' corr='' as='a' text='a' tree=a\n");
  EXPECT_EQ(Dump("SELECT a INTO \"c:/x.db\" FROM T", {}, true),
            "SELECT\n"
            "into 'c:/x.db'\n"
            "table 1 'T' as 'T'\n"
            "column name='a' corr='' as='a' text='a' tree=a\n");
  // Without INTO the owner's live request stands.
  EXPECT_EQ(Dump("SELECT a FROM T", {}, true),
            "SELECT live\n"
            "table 1 'T' as 'T'\n"
            "column name='a' corr='' as='a' text='a' tree=a\n");
}

TEST(StatementParserTest, JoinsOrderTheSourcesAndMarkTheirConditions) {
  ExpectGoldens({
      {"SELECT * FROM A LEFT OUTER JOIN B ON A.k = B.k "
       "RIGHT JOIN C c ON c.k = A.k AND c.z = 1 "
       "INNER JOIN MEMORY D AS d ON d.k = A.k WHERE A.x = ?",
       "SELECT multiple conditions\n"
       "table 3 'C' as 'c'\n"
       "table 1 'A' as 'A'\n"
       "table 2 'B' as 'B'\n"
       "table 4 'D' as 'd' memory\n"
       "column name='*' corr='' as='' text='*' tree=*\n"
       "where (AND (AND (AND (=@LEFT A.k B.k) (AND (=@RIGHT c.k A.k) (= c.z 1))) "
       "(=@INNER d.k A.k)) (= A.x ?1))\n"
       "parameters 1\n"},
      // Marks go through NOT, AND and OR to comparisons with columns on both sides.
      {"SELECT * FROM A JOIN B ON NOT (A.k <> B.k OR A.x + 1 >= B.y * 2) AND B.z IN (A.z, 1) "
       "LEFT JOIN C ON A.k < C.k, E RIGHT OUTER JOIN F f ON f.a <= ?",
       "SELECT multiple conditions\n"
       "table 5 'F' as 'f'\n"
       "table 1 'A' as 'A'\n"
       "table 2 'B' as 'B'\n"
       "table 3 'C' as 'C'\n"
       "table 4 'E' as 'E'\n"
       "column name='*' corr='' as='' text='*' tree=*\n"
       "where (AND (AND (AND (NOT (OR (<>@INNER A.k B.k) (>=@INNER (+ A.x 1) (* B.y 2)))) "
       "(IN B.z A.z 1)) (<@LEFT A.k C.k)) (<= f.a ?1))\n"
       "parameters 1\n"},
      {"SELECT a FROM A, B b WHERE a = b.a",
       "SELECT multiple conditions\n"
       "table 1 'A' as 'A'\n"
       "table 2 'B' as 'b'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"
       "where (= a b.a)\n"},
  });
}

TEST(StatementParserTest, GroupByAndOrderByItems) {
  ExpectGoldens({
      {"SELECT a, SUM(b) FROM T t GROUP BY 1, t.a, \"x\", [y z]",
       "SELECT group\n"
       "table 1 'T' as 't'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"
       "column name='b' corr='' as='' agg=SUM text='SUM(b)' tree=(SUM b)\n"
       "group name='' corr='' number=1\n"
       "group name='a' corr='t' number=0\n"
       "group name='x' corr='' number=0\n"
       "group name='y z' corr='' number=0\n"},
      {"SELECT a, b FROM T ORDER BY a DESC, 2 ASC, T.b DESCENDING, c ASCENDING NOCASE",
       "SELECT order nocase\n"
       "table 1 'T' as 'T'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"
       "column name='b' corr='' as='b' text='b' tree=b\n"
       "order name='a' corr='' number=0 desc\n"
       "order name='' corr='' number=2\n"
       "order name='b' corr='T' number=0 desc\n"
       "order name='c' corr='' number=0\n"},
      {"SELECT a FROM T GROUP BY 2 ORDER BY 2 DESC, 0100000",
       "SELECT order group\n"
       "table 1 'T' as 'T'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"
       "order name='' corr='' number=2 desc\n"
       "order name='' corr='' number=65535\n"
       "group name='' corr='' number=2\n"},
  });
}

TEST(StatementParserTest, InsertUpdateDelete) {
  ExpectGoldens({
      {"INSERT INTO T VALUES (1, 'a', ?)",
       "INSERT live\n"
       "table 1 'T' as 'T'\n"
       "target name='*' corr=''\n"
       "value text='1' tree=1\n"
       "value text='''a''' tree='a'\n"
       "value text='?' tree=?1\n"
       "parameters 1\n"},
      {"insert into memory T x (a, x.b) values (?, -? * 2.5) ;",
       "INSERT live\n"
       "table 1 'T' as 'x' memory\n"
       "target name='a' corr=''\n"
       "target name='b' corr='x'\n"
       "value text='?' tree=?1\n"
       "value text='-? * 2.5' tree=(* (- ?2) 2.5f)\n"
       "parameters 2\n"},
      {"UPDATE T SET a = 1, b = ? WHERE c = ? AND d = ?",
       "UPDATE live conditions\n"
       "table 1 'T' as 'T'\n"
       "target name='a' corr=''\n"
       "target name='b' corr=''\n"
       "value text='1' tree=1\n"
       "value text='?' tree=?1\n"
       "where (AND (= c ?2) (= d ?3))\n"
       "parameters 3\n"},
      {"UPDATE MEMORY T AS u SET u.a = u.a + 1, (b) = NULL",
       "UPDATE live\n"
       "table 1 'T' as 'u' memory\n"
       "target name='a' corr='u'\n"
       "target name='b' corr=''\n"
       "value text='u.a + 1' tree=(+ u.a 1)\n"
       "value text='NULL' tree=NULL\n"},
      {"UPDATE T 'u' SET a = 2",
       "UPDATE live\n"
       "table 1 'T' as 'u'\n"
       "target name='a' corr=''\n"
       "value text='2' tree=2\n"},
      {"DELETE FROM T x WHERE x.a IN (1, ?, 3) OR x.b NOT BETWEEN ? AND ?",
       "DELETE live conditions\n"
       "table 1 'T' as 'x'\n"
       "where (OR (IN x.a 1 ?1 3) (NOT BETWEEN x.b ?2 ?3))\n"
       "parameters 3\n"},
      {"delete from MEMORY T AS \"d\";",
       "DELETE live\n"
       "table 1 'T' as 'd' memory\n"},
      {"DELETE FROM T 'q' WHERE a IS NOT NULL",
       "DELETE live conditions\n"
       "table 1 'T' as 'q'\n"
       "where (<> a NULL)\n"},
  });
}

// Parameters are numbered as they stand in the text, inside functions too: that is how the
// query component hands their values over.
TEST(StatementParserTest, ParameterOrder) {
  ExpectGoldens({
      {"SELECT a FROM T WHERE SUBSTRING(a FROM ? FOR ?) = ? AND TRIM(LEADING ? FROM b) = ? "
       "AND UPPER(?) LIKE ? AND NOT x = ? AND EXTRACT(YEAR FROM ?) BETWEEN ? AND ?",
       "SELECT conditions\n"
       "table 1 'T' as 'T'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"
       "where (AND (AND (AND (AND (= (SUBSTRING a ?1 ?2) ?3) (= (TRIM LEADING b ?4) ?5)) "
       "(LIKE (UPPER ?6) ?7)) (= (NOT x) ?8)) (BETWEEN (EXTRACT YEAR ?9) ?10 ?11))\n"
       "parameters 11\n"},
      // ON conditions come before WHERE; a parameter in a select column is refused.
      {"SELECT a FROM A JOIN B ON A.k = ? LEFT JOIN C ON C.k = B.k + ? WHERE a = ? OR ? = a",
       "SELECT multiple conditions\n"
       "table 1 'A' as 'A'\n"
       "table 2 'B' as 'B'\n"
       "table 3 'C' as 'C'\n"
       "column name='a' corr='' as='a' text='a' tree=a\n"
       "where (AND (AND (= A.k ?1) (=@LEFT C.k (+ B.k ?2))) (OR (= a ?3) (= ?4 a)))\n"
       "parameters 4\n"},
      {"UPDATE T SET a = ? || ?, b = -? WHERE c IN (?, -?, ?) AND d LIKE ?",
       "UPDATE live conditions\n"
       "table 1 'T' as 'T'\n"
       "target name='a' corr=''\n"
       "target name='b' corr=''\n"
       "value text='? || ?' tree=(|| ?1 ?2)\n"
       "value text='-?' tree=(- ?3)\n"
       "where (AND (IN c ?4 (- ?5) ?6) (LIKE d ?7))\n"
       "parameters 7\n"},
  });
  EXPECT_EQ(ErrorOf("SELECT ? FROM T"), "Parameters are not allowed in source columns");
}

// An IN value, a BETWEEN bound or a SUBSTRING start written as an expression keeps both its
// operands: the values of a list are linked apart from their operands.
TEST(StatementParserTest, CompoundListValuesKeepTheirOperands) {
  ExpectGoldens({
      {"DELETE FROM T WHERE x IN (a + 1, 2) AND y NOT BETWEEN b * 2 AND 5 "
       "AND SUBSTRING(c FROM (1 + 1) FOR 3) = 'z'",
       "DELETE live conditions\n"
       "table 1 'T' as 'T'\n"
       "where (AND (AND (IN x (+ a 1) 2) (NOT BETWEEN y (* b 2) 5)) "
       "(= (SUBSTRING c (+ 1 1) 3) 'z'))\n"},
      {"DELETE FROM T WHERE x IN (1 + ?, ?) AND y BETWEEN ? * 2 AND -?",
       "DELETE live conditions\n"
       "table 1 'T' as 'T'\n"
       "where (AND (IN x (+ 1 ?1) ?2) (BETWEEN y (* ?3 2) (- ?4)))\n"
       "parameters 4\n"},
  });
}

TEST(StatementParserTest, ParameterListPointsIntoTheTrees) {
  TQueryStatement query;
  testing::ParseInto(query, "INSERT INTO T (a, b) VALUES (?, ?)");
  ASSERT_EQ(query.parameters.size(), 2u);
  EXPECT_EQ(query.parameters[0], query.values[0]->expression.get());
  EXPECT_EQ(query.parameters[1], query.values[1]->expression.get());
  // Parsing again starts from nothing.
  testing::ParseInto(query, "DELETE FROM T WHERE a = ?");
  ASSERT_EQ(query.parameters.size(), 1u);
  EXPECT_EQ(query.parameters[0], query.condition->second.get());
  EXPECT_TRUE(query.values.empty());
  EXPECT_TRUE(query.target_columns.empty());
  EXPECT_EQ(query.source_tables.size(), 1u);
}

// One case per message of the statement grammar, the current token quoted as each message quotes it.
TEST(StatementParserTest, EveryMessageWithItsToken) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"CREATE TABLE x",
       "SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found 'CREATE'"},
      {"", "SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found ''"},
      {"/* only */ ", "SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found ''"},
      {"SELECT a AS , b FROM T", "Symbol or string expected after AS keyword, instead found ','"},
      {"SELECT a FROM T AS 1", "Symbol or string expected after AS keyword, instead found '1'"},
      {"SELECT a AS x.1 FROM T",
       "Symbol or string expected after table correlation name, instead found '1'"},
      {"SELECT a INTO MEMORY (x) FROM T",
       "Result table name expected in INTO MEMORY clause, instead found '('"},
      {"SELECT a INTO 5 FROM T", "Result table name expected in INTO clause, instead found '5'"},
      {"SELECT a", "FROM keyword expected, instead found ''"},
      // WHERE may name a result column: only INTO and FROM may not.
      {"SELECT a WHERE x", "FROM keyword expected, instead found 'x'"},
      {"DELETE T", "FROM keyword expected, instead found 'T'"},
      {"SELECT a FROM (T)", "Table name expected after FROM keyword, instead found '('"},
      {"SELECT a FROM T, ", "Table name expected after FROM keyword, instead found ''"},
      {"SELECT a FROM MEMORY", "Table name expected after FROM keyword, instead found ''"},
      {"SELECT a FROM T JOIN 5 ON x", "Table name expected after JOIN keyword, instead found '5'"},
      // Only ON ends a joined table: WHERE becomes its correlation name.
      {"SELECT a FROM A JOIN B WHERE x = 1",
       "ON keyword expected in JOIN clause, instead found 'x'"},
      {"SELECT a FROM A JOIN B b, C", "ON keyword expected in JOIN clause, instead found ','"},
      {"SELECT a FROM A INNER B ON x = y",
       "JOIN keyword expected after INNER keyword, instead found 'B'"},
      {"SELECT a FROM A LEFT OUTER OUTER JOIN B ON x = y",
       "JOIN keyword expected after LEFT or OUTER keyword, instead found 'OUTER'"},
      {"SELECT a FROM A LEFT B ON x = y",
       "JOIN keyword expected after LEFT or OUTER keyword, instead found 'B'"},
      {"SELECT a FROM A RIGHT OUTER B ON x = y",
       "JOIN keyword expected after RIGHT or OUTER keyword, instead found 'B'"},
      {"SELECT a FROM A x FULL OUTER JOIN B ON A.k = B.k",
       "Full outer joins are currently not supported in Tessera SQL SELECT statements"},
      {"SELECT a FROM A FULL JOIN B ON k1 = k2",
       "Full outer joins are currently not supported in Tessera SQL SELECT statements"},
      {"SELECT a FROM A JOIN B ON a = b FULL JOIN C ON a = c",
       "Full outer joins are currently not supported in Tessera SQL SELECT statements"},
      {"SELECT a FROM T GROUP a", "BY keyword expected after GROUP keyword, instead found 'a'"},
      {"SELECT a FROM T GROUP BY (a)",
       "Column name or column number expected in GROUP BY clause, instead found '('"},
      {"SELECT a FROM T GROUP BY t.5",
       "Column name or column number expected in GROUP BY clause, instead found '5'"},
      {"SELECT a FROM T GROUP BY 1.5",
       "Column name or column number expected in GROUP BY clause, instead found '1.5'"},
      {"SELECT a FROM T GROUP BY a,",
       "Column name or column number expected in GROUP BY clause, instead found ''"},
      {"SELECT a FROM T ORDER a", "BY keyword expected after ORDER keyword, instead found 'a'"},
      {"SELECT a FROM T ORDER BY -1",
       "Column name or column number expected in ORDER BY clause, instead found '-'"},
      {"SELECT a FROM T ORDER BY a DESC, ?",
       "Column name or column number expected in ORDER BY clause, instead found '?'"},
      {"SELECT a FROM T WITH LOCK",
       "LOCKS keyword expected after WITH keyword, instead found 'LOCK'"},
      {"SELECT a FROM T ENCRYPTED 'pw'",
       "WITH keyword expected after ENCRYPTED keyword, instead found 'pw'"},
      {"SELECT a FROM T ORDER BY a GROUP BY a",
       "End of SELECT statement expected, instead found 'GROUP'"},
      {"SELECT a FROM T GROUP BY a HAVING COUNT(*) > 1",
       "End of SELECT statement expected, instead found 'HAVING'"},
      {"SELECT a FROM T HAVING a > 1", "End of SELECT statement expected, instead found 'HAVING'"},
      {"select * from T; x", "End of SELECT statement expected, instead found 'x'"},
      {"select * from T;;", "End of SELECT statement expected, instead found ';'"},
      {"SELECT a FROM T ORDER BY a NOCASE, b",
       "End of SELECT statement expected, instead found ','"},
      {"SELECT a FROM T WITH LOCKS WITH LOCKS",
       "End of SELECT statement expected, instead found 'WITH'"},
      {"INSERT T VALUES (1)", "INTO keyword expected, instead found 'T'"},
      {"INSERT INTO MEMORY (a) VALUES (1)",
       "Table name expected after INTO keyword, instead found '('"},
      {"INSERT INTO (a) VALUES (1)", "Table name expected after INTO clause, instead found '('"},
      {"INSERT INTO T (a, b VALUES (1)",
       "Right parentheses expected after list of table columns, instead found 'VALUES'"},
      {"INSERT INTO T (a) VALUE (1)", "VALUES keyword expected, instead found 'VALUE'"},
      {"INSERT INTO T x y VALUES (1)", "VALUES keyword expected, instead found 'y'"},
      {"INSERT INTO T AS x VALUES (1)", "VALUES keyword expected, instead found 'x'"},
      {"INSERT INTO T VALUES 1",
       "Left parentheses expected after VALUES keyword, instead found '1'"},
      {"INSERT INTO T VALUES (1 2)",
       "Right parentheses expected after list of values, instead found '2'"},
      {"INSERT INTO T VALUES (1) x", "End of INSERT statement expected, instead found 'x'"},
      {"UPDATE 5 SET a = 1", "Table name expected, instead found '5'"},
      {"UPDATE MEMORY", "Table name expected, instead found ''"},
      {"DELETE FROM ;", "Table name expected, instead found ';'"},
      {"UPDATE T x y SET a = 1", "SET keyword expected, instead found 'y'"},
      // SET is a table name when it stands where the table goes.
      {"UPDATE SET a = 1", "SET keyword expected, instead found '='"},
      {"UPDATE T SET a + 1 = 2",
       "Assignment (=) operator expected after column name, instead found '+'"},
      {"UPDATE T SET a 1", "Assignment (=) operator expected after column name, instead found '1'"},
      {"UPDATE T SET a = 1 b = 2", "End of UPDATE statement expected, instead found 'b'"},
      {"DELETE FROM T x y", "End of DELETE statement expected, instead found 'y'"},
      {"SELECT", "Source column expression is empty"},
      {"SELECT a,", "Source column expression is empty"},
      {"INSERT INTO T (", "Table column name is empty"},
      {"UPDATE T SET", "Table column name is empty"},
      {"INSERT INTO T (a + 1) VALUES (2)", "Table columns cannot contain expressions"},
      {"UPDATE T SET 'a' = 1", "Table columns cannot contain expressions"},
      {"UPDATE T SET UPPER(a) = 1", "Table columns cannot contain expressions"},
      {"INSERT INTO T VALUES (", "Value expression is empty"},
      {"UPDATE T SET a =", "Value expression is empty"},
      {"SELECT a FROM T WHERE", "WHERE or JOIN clause is empty"},
      {"SELECT a FROM A JOIN B ON", "WHERE or JOIN clause is empty"},
      {"SELECT a FROM T WHERE 1", "WHERE or JOIN clause must be a boolean expression"},
      {"DELETE FROM T WHERE 'x'", "WHERE or JOIN clause must be a boolean expression"},
      {"SELECT a FROM A JOIN B ON 1 + a", "WHERE or JOIN clause must be a boolean expression"},
      {"SELECT a FROM A x, B X", "Duplicate table correlation name 'X' found in source tables"},
      {"SELECT a FROM T, T", "Duplicate table correlation name 'T' found in source tables"},
      {"SELECT a FROM A, B a", "Duplicate table correlation name 'a' found in source tables"},
      {"SELECT a FROM A \xE9 JOIN B \xC9 ON a = b",
       "Duplicate table correlation name '\xC9' found in source tables"},
      {"SELECT a FROM 'd1/T', 'd2/T.dat'",
       "Duplicate table correlation name 'T' found in source tables"},
  };
  for (const auto& [sql, message] : cases) EXPECT_EQ(ErrorOf(sql), message) << sql;
}

// Errors inside a clause's expression come from the expression parser, named after the clause.
TEST(StatementParserTest, ExpressionErrorsNameTheirClause) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"SELECT a FROM T WHERE SUM(a) > 1",
       "Aggregate functions are not allowed in WHERE or JOIN clause"},
      {"INSERT INTO T VALUES (a LIKE b)",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in values"},
      {"INSERT INTO T (*) VALUES (1)", "* (all columns) symbol is not allowed in table columns"},
      {"UPDATE T SET a = *", "* (all columns) symbol is not allowed in values"},
      {"UPDATE T SET ? = 1", "Parameters are not allowed in table columns"},
      {"SELECT a FROM T WHERE b = *",
       "* (all columns) symbol is not allowed in WHERE or JOIN clause"},
      // FROM right after a comma is read as a column named FROM, and T as its result name.
      {"SELECT a, FROM T", "FROM keyword expected, instead found ''"},
      {"SELECT , a FROM T", "Unknown or unexpected symbol ',' found in source columns"},
      {"SELECT a FROM T WHERE (a = 1",
       "Right parentheses expected, instead found '' in WHERE or JOIN clause"},
      {"SELECT 'unterminated", "Missing single quote after 'unterminated' in SQL statement"},
      {"SELECT a FROM [T", "Missing right bracket after 'T' in SQL statement"},
      {"SELECT a /* open", "Missing ending comment slash and asterisk in SQL statement"},
      {"SELECT a FROM T WHERE a = b.",
       "Symbol or string expression expected after table correlation "
       "name separator '.', instead found '' in WHERE or JOIN clause"},
      {"SELECT FOO(a) FROM T", "Unknown or unexpected function 'FOO' found in source columns"},
  };
  for (const auto& [sql, message] : cases) EXPECT_EQ(ErrorOf(sql), message) << sql;
  // A select column longer than a ShortString.
  std::string long_column = "a" + std::string(300, ' ') + "+ 1";
  EXPECT_EQ(ErrorOf("SELECT " + long_column + " FROM T"),
            "Source column expression exceeds maximum expression length of 255 characters");
}

// The source text of a value only names it: a long one is cut, never refused.  A select
// column's text becomes a result column's expression and stays limited.
TEST(StatementParserTest, LongValueTextsAreCut) {
  const std::string literal = "'" + std::string(254, 'v') + "'";
  for (const std::string& sql :
       {"INSERT INTO T VALUES (" + literal + ", 1)", "UPDATE T SET a = " + literal + ", b = 1"}) {
    TQueryStatement query;
    testing::ParseInto(query, sql);
    ASSERT_EQ(query.values.size(), 2u) << sql;
    EXPECT_EQ(query.values[0]->expression_text, literal.substr(0, 255)) << sql;
    EXPECT_EQ(query.values[0]->expression->StringValue(), std::string(254, 'v')) << sql;
    EXPECT_EQ(query.values[1]->expression_text, "1") << sql;
  }
  EXPECT_EQ(ErrorOf("SELECT " + literal + " FROM T"),
            "Source column expression exceeds maximum expression length of 255 characters");
}

TEST(StatementParserTest, LongMessagesAreCutInTheExceptionOnly) {
  std::string name(100, 'n');
  TQueryStatement query;
  query.parser.SetText("SELECT a FROM T ORDER BY a DESC z" + name);
  try {
    ParseStatement(query);
    FAIL() << "no error";
  } catch (const ETesseraEngineError& e) {
    const std::string full = "End of SELECT statement expected, instead found 'z" + name + "'";
    EXPECT_EQ(GetEngineSession()->ErrorSql(), full);
    EXPECT_EQ(e.Message(), "Tessera Engine Error # 11949 " + ("SQL - " + full).substr(0, 127));
  }
  // The session keeps a ShortString.
  query.parser.SetText("SELECT a FROM T x" + name + name + " y" + name + name);
  EXPECT_THROW(ParseStatement(query), ETesseraEngineError);
  EXPECT_EQ(
      GetEngineSession()->ErrorSql(),
      ("End of SELECT statement expected, instead found 'y" + name + name + "'").substr(0, 255));
}

// A table name longer than 255 characters, alone or placed in the statement's directory, is
// refused as a file name (11010) and never cut: the cut name would address another file.
TEST(StatementParserTest, OverlongTableNamesAreRefusedNotCut) {
  auto code = [](const std::string& sql, std::string_view directory) {
    TQueryStatement query;
    query.directory = std::string(directory);
    try {
      testing::ParseInto(query, sql);
    } catch (const ETesseraEngineError& e) {
      return e.GetError(0).ErrorCode();
    }
    return 0;
  };
  const std::string forms[] = {"DELETE FROM %",
                               "SELECT a FROM %",
                               "SELECT a FROM T JOIN % ON a = b",
                               "INSERT INTO % VALUES (1)",
                               "UPDATE % SET a = 1",
                               "SELECT a INTO % FROM T",
                               "SELECT a INTO MEMORY % FROM T"};
  struct Name {
    std::string text;       // as written in the statement
    std::string directory;  // the statement's
    int code;
  };
  std::string doubled = "'" + std::string(200, 'q');  // 300 characters written, 250 meant
  for (int i = 0; i < 50; ++i) doubled += "''";
  doubled += "'";
  const Name names[] = {
      {std::string(255, 'n'), "", 0},
      {std::string(256, 'n'), "", kErrInvalidPath},
      {"\"" + std::string(256, 'n') + "\"", "", kErrInvalidPath},
      {"[" + std::string(300, 'n') + "]", "", kErrInvalidPath},
      {doubled, "", 0},
      {std::string(249, 'n'), "/data", 0},
      {std::string(250, 'n'), "/data", kErrInvalidPath},
  };
  for (const std::string& form : forms) {
    for (const Name& name : names) {
      std::string sql = form;
      sql.replace(sql.find('%'), 1, name.text);
      const bool into = form.rfind("SELECT a INTO", 0) == 0;
      // The INTO result is a name of its own, not placed in the directory.
      const int expected = into && !name.directory.empty() ? 0 : name.code;
      EXPECT_EQ(code(sql, name.directory), expected) << form << " " << name.text.size();
    }
  }
}

}  // namespace
}  // namespace tessera
