// Generated statements against a model, mutated statements for safety, and hostile sizes.
#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "SqlTestUtil.h"
#include "engine/sql/TStatementParser.h"

namespace tessera {
namespace {

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new testing::SqlEngineEnvironment);

std::string Quoted(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out + "'";
}

// Writes a random well-formed statement and, beside it, the dump the parser must produce.  The
// model knows only the grammar: which list each item lands in, how RIGHT JOIN reorders the
// sources, how conditions are ANDed and marked, and in which order parameters are numbered.
class StatementGenerator {
 public:
  explicit StatementGenerator(uint32_t seed) : rng_(seed) {}

  void Generate() {
    directory_ = Chance(50) ? "/db" : "";
    live_ = Chance(50);
    switch (Rand(4)) {
      case 0:
        Select();
        break;
      case 1:
        Insert();
        break;
      case 2:
        Update();
        break;
      default:
        Delete();
        break;
    }
  }

  const std::string& Text() const { return text_; }
  const std::string& Directory() const { return directory_; }
  bool Live() const { return live_; }

  std::string ExpectedDump() const {
    std::string out = header_;
    for (const char* flag : {"live", "distinct", "average", "expressions", "multiple", "conditions",
                             "order", "group", "nocase", "locks"}) {
      if (flags_.count(flag)) out += std::string(" ") + flag;
    }
    out += "\n";
    if (!into_.empty()) out += into_ + "\n";
    if (!encrypted_.empty()) out += encrypted_ + "\n";
    for (const auto& t : tables_) out += t + "\n";
    for (const auto* list : {&columns_, &targets_, &values_, &order_, &group_}) {
      for (const auto& line : *list) out += line + "\n";
    }
    if (!condition_.empty()) out += "where " + condition_ + "\n";
    if (parameters_ > 0) out += "parameters " + std::to_string(parameters_) + "\n";
    return out;
  }

 private:
  int Rand(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool Chance(int percent) { return Rand(100) < percent; }

  // A keyword in any case, sometimes in brackets, then a separator.
  void Word(std::string_view word) {
    std::string w;
    for (char c : word) w.push_back(Chance(50) ? c : static_cast<char>(std::tolower(c)));
    if (Chance(10)) w = "[" + w + "]";
    Emit(w, true);
  }
  // `free_separator`: anything may follow, a comment too; otherwise one blank, since an
  // expression's source text runs up to the next token.
  void Emit(std::string_view token, bool free_separator) {
    text_ += token;
    if (!free_separator) {
      text_ += " ";
      return;
    }
    switch (Rand(6)) {
      case 0:
        text_ += "\n\t";
        break;
      case 1:
        text_ += " /* note */ ";
        break;
      default:
        text_ += " ";
        break;
    }
  }
  std::string Parameter() { return "?" + std::to_string(++parameters_); }
  void Flag(const char* flag) { flags_.insert(flag); }

  // ---- pieces --------------------------------------------------------------------------------

  void AddCondition(const std::string& tree) {
    condition_ = condition_.empty() ? tree : "(AND " + condition_ + " " + tree + ")";
    Flag("conditions");
  }

  // [MEMORY] name [correlation]: returns the correlation name in effect.
  std::string Table(bool front, int correlation_style_limit) {
    int n = ++table_count_;
    bool memory = Chance(25);
    if (memory) Word("MEMORY");
    std::string file;
    std::string correlation = "T" + std::to_string(n);
    if (Chance(30)) {
      Emit("'dir/T" + std::to_string(n) + ".dat'", true);
      file = "dir/T" + std::to_string(n) + ".dat";
    } else {
      Emit("T" + std::to_string(n), true);
      file = (directory_.empty() ? "" : directory_ + "/") + "T" + std::to_string(n);
    }
    switch (Rand(correlation_style_limit)) {
      case 1:
        correlation = "k" + std::to_string(n);
        Emit(correlation, true);
        break;
      case 2:
        Word("AS");
        correlation = "k" + std::to_string(n);
        Emit(correlation, true);
        break;
      case 3:
        Word("AS");
        correlation = "k " + std::to_string(n);
        Emit(Quoted(correlation), true);
        break;
      case 4:  // a quoted string without AS: UPDATE and DELETE only
        correlation = "q" + std::to_string(n);
        Emit(Quoted(correlation), true);
        break;
      default:
        break;
    }
    std::string line = "table " + std::to_string(n) + " " + Quoted(file) + " as " +
                       Quoted(correlation) + (memory ? " memory" : "");
    tables_.insert(front ? tables_.begin() : tables_.end(), line);
    return correlation;
  }

  // A WHERE condition: OR-terms of AND-ed comparisons.
  void Where() {
    Word("WHERE");
    std::string tree;
    int terms = 1 + Rand(2);
    for (int t = 0; t < terms; ++t) {
      if (t > 0) Word("OR");
      std::string term;
      int factors = 1 + Rand(3);
      for (int f = 0; f < factors; ++f) {
        if (f > 0) Word("AND");
        std::string column = "c" + std::to_string(Rand(5));
        std::string comparison;
        switch (Rand(4)) {
          case 0:
            Emit(column, true), Emit("=", true), Emit("?", true);
            comparison = "(= " + column + " " + Parameter() + ")";
            break;
          case 1:
            Emit(column, true), Emit("<>", true), Emit("5", true);
            comparison = "(<> " + column + " 5)";
            break;
          case 2:
            Emit(column, true), Word("IS"), Word("NULL");
            comparison = "(= " + column + " NULL)";
            break;
          default:
            Emit(column, true), Word("LIKE"), Emit("'a%'", true);
            comparison = "(LIKE " + column + " 'a%')";
            break;
        }
        term = term.empty() ? comparison : "(AND " + term + " " + comparison + ")";
      }
      tree = tree.empty() ? term : "(OR " + tree + " " + term + ")";
    }
    AddCondition(tree);
  }

  // A value: its text, its tree.
  void Value() {
    std::string text;
    std::string tree;
    switch (Rand(5)) {
      case 0:
        text = "?";
        tree = Parameter();
        break;
      case 1:
        text = std::to_string(Rand(1000));
        tree = text;
        break;
      case 2:
        text = "'s t'";
        tree = "'s t'";
        break;
      case 3:
        text = "? + 1";
        tree = "(+ " + Parameter() + " 1)";
        break;
      default:
        text = "-?";
        tree = "(- " + Parameter() + ")";
        break;
    }
    Emit(text, false);
    values_.push_back("value text=" + Quoted(text) + " tree=" + tree);
  }

  void TargetColumn() {
    std::string name = "c" + std::to_string(Rand(9));
    std::string correlation = Chance(30) ? "x" : "";
    Emit(correlation.empty() ? name : correlation + "." + name, true);
    targets_.push_back("target name=" + Quoted(name) + " corr=" + Quoted(correlation));
  }

  // ---- SELECT --------------------------------------------------------------------------------

  void SelectColumn(int index) {
    std::string name;
    std::string correlation;
    std::string result;
    std::string aggregate;
    bool computed = false;
    std::string text;
    std::string tree;
    std::string column = "c" + std::to_string(Rand(9));
    std::string qualified = Chance(30) ? "t." + column : column;
    static const char* const kAggregates[] = {"SUM", "MIN", "MAX", "AVG", "COUNT"};
    switch (Rand(6)) {
      case 0:
      case 1:
        text = tree = qualified;
        name = column;
        correlation = qualified == column ? "" : "t";
        result = column;
        break;
      case 2:
        text = tree = name = "*";
        break;
      case 3: {
        aggregate = kAggregates[Rand(5)];
        std::string argument = Chance(20) ? std::string("*") : qualified;
        text = aggregate + "(" + argument + ")";
        tree = "(" + aggregate + " " + argument + ")";
        name = argument == "*" ? "*" : column;
        correlation = argument == qualified && qualified != column ? "t" : "";
        break;
      }
      case 4:
        text = column + " * 3";
        tree = "(* " + column + " 3)";
        computed = true;
        break;
      default:
        aggregate = kAggregates[Rand(4)];
        text = aggregate + "(" + column + " - 1)";
        tree = "(" + aggregate + " (- " + column + " 1))";
        computed = true;
        break;
    }
    if (aggregate == "AVG") Flag("average");
    if (computed) Flag("expressions");
    Emit(text, false);
    switch (Rand(5)) {
      case 1:
        result = "r" + std::to_string(index);
        Word("AS");
        Emit(result, true);
        break;
      case 2:
        result = "r" + std::to_string(index);
        Emit(result, true);
        break;
      case 3:
        result = "r " + std::to_string(index);
        Emit(Quoted(result), true);
        break;
      case 4:
        result = "s" + std::to_string(index);
        Word("AS");
        Emit("r", true);
        Emit(".", true);
        Emit(result, true);
        break;
      default:
        break;
    }
    std::string line =
        "column name=" + Quoted(name) + " corr=" + Quoted(correlation) + " as=" + Quoted(result);
    if (!aggregate.empty()) line += " agg=" + aggregate;
    if (computed) line += " computed";
    columns_.push_back(line + " text=" + Quoted(text) + " tree=" + tree);
  }

  void ColumnItem(std::string* name, std::string* correlation, int* number) {
    switch (Rand(4)) {
      case 0:
        *number = 1 + Rand(9);
        Emit(std::to_string(*number), true);
        break;
      case 1:
        *correlation = "t";
        *name = "c" + std::to_string(Rand(9));
        Emit("t", true), Emit(".", true), Emit(*name, true);
        break;
      case 2:
        *name = "c " + std::to_string(Rand(9));
        Emit(Quoted(*name), true);
        break;
      default:
        *name = "c" + std::to_string(Rand(9));
        Emit(*name, true);
        break;
    }
  }

  void Select() {
    header_ = "SELECT";
    Word("SELECT");
    if (Chance(20)) Word("ALL");
    if (Chance(30)) {
      Word("DISTINCT");
      Flag("distinct");
    }
    int columns = 1 + Rand(4);
    for (int i = 0; i < columns; ++i) {
      if (i > 0) Emit(",", true);
      SelectColumn(i);
    }
    bool live = live_;
    if (Chance(30)) {
      Word("INTO");
      live = false;
      std::string name = "R" + std::to_string(Rand(9));
      if (Chance(50)) {
        Word("MEMORY");
        into_ = "into memory " + Quoted(name);
      } else {
        into_ = "into " + Quoted(name);
      }
      Emit(name, true);
    }
    if (live) Flag("live");
    Word("FROM");
    int groups = 1 + Rand(3);
    for (int g = 0; g < groups; ++g) {
      if (g > 0) {
        Emit(",", true);
        Flag("multiple");
      }
      std::string parent = Table(false, 4);
      int joins = Rand(3);
      for (int j = 0; j < joins; ++j) {
        std::string type;
        switch (Rand(3)) {
          case 0:
            type = "INNER";
            if (Chance(50)) Word("INNER");
            break;
          case 1:
            type = "LEFT";
            Word("LEFT");
            if (Chance(50)) Word("OUTER");
            break;
          default:
            type = "RIGHT";
            Word("RIGHT");
            if (Chance(50)) Word("OUTER");
            break;
        }
        Word("JOIN");
        std::string child = Table(type == "RIGHT", 4);
        Word("ON");
        std::string left = (parent.find(' ') == std::string::npos ? parent : Quoted(parent));
        std::string right = (child.find(' ') == std::string::npos ? child : Quoted(child));
        Emit(left + ".k", true), Emit("=", true), Emit(right + ".k", true);
        std::string tree = "(=@" + type + " " + parent + ".k " + child + ".k)";
        if (Chance(40)) {
          Word("AND");
          Emit(right + ".z", true), Emit(">", true), Emit("?", true);
          tree = "(AND " + tree + " (> " + child + ".z " + Parameter() + "))";
        }
        AddCondition(tree);
        Flag("multiple");
        parent = child;
      }
    }
    if (Chance(50)) Where();
    if (Chance(30)) {
      Word("GROUP"), Word("BY");
      Flag("group");
      int items = 1 + Rand(3);
      for (int i = 0; i < items; ++i) {
        if (i > 0) Emit(",", true);
        std::string name, correlation;
        int number = 0;
        ColumnItem(&name, &correlation, &number);
        group_.push_back("group name=" + Quoted(name) + " corr=" + Quoted(correlation) +
                         " number=" + std::to_string(number));
      }
    }
    if (Chance(40)) {
      Word("ORDER"), Word("BY");
      Flag("order");
      int items = 1 + Rand(3);
      for (int i = 0; i < items; ++i) {
        if (i > 0) Emit(",", true);
        std::string name, correlation;
        int number = 0;
        ColumnItem(&name, &correlation, &number);
        bool descending = false;
        switch (Rand(5)) {
          case 1:
            Word("ASC");
            break;
          case 2:
            Word("ASCENDING");
            break;
          case 3:
            Word("DESC");
            descending = true;
            break;
          case 4:
            Word("DESCENDING");
            descending = true;
            break;
          default:
            break;
        }
        order_.push_back("order name=" + Quoted(name) + " corr=" + Quoted(correlation) +
                         " number=" + std::to_string(number) + (descending ? " desc" : ""));
      }
      if (Chance(30)) {
        Word("NOCASE");
        Flag("nocase");
      }
    }
    if (Chance(20)) {
      Word("WITH"), Word("LOCKS");
      Flag("locks");
    }
    if (Chance(20)) {
      Word("ENCRYPTED"), Word("WITH");
      std::string password = Chance(50) ? "pw" : "p w";
      Emit(password == "pw" ? password : Quoted(password), true);
      encrypted_ = "encrypted " + Quoted(password);
    }
    if (Chance(30)) Emit(";", true);
  }

  // ---- INSERT, UPDATE, DELETE ----------------------------------------------------------------

  void Insert() {
    header_ = "INSERT";
    Flag("live");
    Word("INSERT"), Word("INTO");
    Table(false, 2);
    int count = 1 + Rand(4);
    if (Chance(50)) {
      Emit("(", true);
      for (int i = 0; i < count; ++i) {
        if (i > 0) Emit(",", true);
        TargetColumn();
      }
      Emit(")", true);
    } else {
      targets_.push_back("target name='*' corr=''");
    }
    Word("VALUES");
    Emit("(", true);
    for (int i = 0; i < count; ++i) {
      if (i > 0) Emit(",", true);
      Value();
    }
    Emit(")", true);
    if (Chance(30)) Emit(";", true);
  }

  void Update() {
    header_ = "UPDATE";
    Flag("live");
    Word("UPDATE");
    Table(false, 5);
    Word("SET");
    int count = 1 + Rand(3);
    for (int i = 0; i < count; ++i) {
      if (i > 0) Emit(",", true);
      TargetColumn();
      Emit("=", true);
      Value();
    }
    if (Chance(60)) Where();
    if (Chance(30)) Emit(";", true);
  }

  void Delete() {
    header_ = "DELETE";
    Flag("live");
    Word("DELETE"), Word("FROM");
    Table(false, 5);
    if (Chance(60)) Where();
    if (Chance(30)) Emit(";", true);
  }

  std::mt19937 rng_;
  std::string directory_;
  bool live_ = false;
  std::string text_;
  std::string header_;
  std::set<std::string> flags_;
  std::string into_;
  std::string encrypted_;
  std::vector<std::string> tables_, columns_, targets_, values_, order_, group_;
  std::string condition_;
  int parameters_ = 0;
  int table_count_ = 0;
};

TEST(StatementParserModelTest, GeneratedStatementsGiveTheModelsDescriptors) {
  for (uint32_t seed = 1; seed <= 3000; ++seed) {
    StatementGenerator generator(seed);
    generator.Generate();
    ASSERT_EQ(testing::Dump(generator.Text(), generator.Directory(), generator.Live()),
              generator.ExpectedDump())
        << "seed " << seed << ": " << generator.Text();
  }
}

// Every text a mutated statement can raise is one of the grammar's or the expression parser's
// messages.
bool IsKnownMessage(const std::string& text) {
  static const char* const kPrefixes[] = {
      "SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found '",
      "Symbol or string expected after AS keyword, instead found '",
      "Symbol or string expected after table correlation name, instead found '",
      "Result table name expected in INTO MEMORY clause, instead found '",
      "Result table name expected in INTO clause, instead found '",
      "FROM keyword expected, instead found '",
      "Table name expected after FROM keyword, instead found '",
      "Table name expected after JOIN keyword, instead found '",
      "ON keyword expected in JOIN clause, instead found '",
      "JOIN keyword expected after INNER keyword, instead found '",
      "JOIN keyword expected after LEFT or OUTER keyword, instead found '",
      "JOIN keyword expected after RIGHT or OUTER keyword, instead found '",
      "Full outer joins are currently not supported in Tessera SQL SELECT statements",
      "BY keyword expected after GROUP keyword, instead found '",
      "Column name or column number expected in GROUP BY clause, instead found '",
      "BY keyword expected after ORDER keyword, instead found '",
      "Column name or column number expected in ORDER BY clause, instead found '",
      "LOCKS keyword expected after WITH keyword, instead found '",
      "WITH keyword expected after ENCRYPTED keyword, instead found '",
      "End of SELECT statement expected, instead found '",
      "INTO keyword expected, instead found '",
      "Table name expected after INTO keyword, instead found '",
      "Table name expected after INTO clause, instead found '",
      "Right parentheses expected after list of table columns, instead found '",
      "VALUES keyword expected, instead found '",
      "Left parentheses expected after VALUES keyword, instead found '",
      "Right parentheses expected after list of values, instead found '",
      "End of INSERT statement expected, instead found '",
      "Table name expected, instead found '",
      "SET keyword expected, instead found '",
      "Assignment (=) operator expected after column name, instead found '",
      "End of UPDATE statement expected, instead found '",
      "End of DELETE statement expected, instead found '",
      "Source column expression is empty",
      "Table column name is empty",
      "Table columns cannot contain expressions",
      "Value expression is empty",
      "WHERE or JOIN clause is empty",
      "WHERE or JOIN clause must be a boolean expression",
      "Duplicate table correlation name '",
      // The expression parser's.
      "Unknown or unexpected ",
      "Right parentheses expected",
      "Left parentheses expected",
      "Parameters are not allowed in ",
      "Aggregate functions are not allowed in ",
      "* (all columns) symbol is not allowed in ",
      "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in ",
      "Expected ",
      "You must provide at least one value",
      "Symbol or string expression expected after table correlation name separator",
      "Missing ",
      "Second concatenation symbol",
      "FROM keyword expected after ",
      "Source column expression exceeds",
      "String constant exceeds",
      "Invalid numeric constant",
      "Expression nesting too deep in ",
  };
  for (const char* prefix : kPrefixes) {
    if (text.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

TEST(StatementParserModelTest, MutatedStatementsParseOrRaiseAnSqlError) {
  static const char* const kTokens[] = {
      "SELECT", "FROM",   "WHERE", "JOIN", "ON",    "(",     ")",       ",",      ";",     "?",
      "*",      "'x'",    "[y]",   "1",    "1.5",   "AS",    "INTO",    "MEMORY", "GROUP", "BY",
      "ORDER",  "HAVING", "FULL",  "LEFT", "RIGHT", "INNER", "OUTER",   "NOCASE", "DESC",  "VALUES",
      "SET",    "=",      "AND",   "OR",   "NOT",   "IN",    "BETWEEN", "LIKE",   "IS",    "NULL",
      "'",      "\"",     "[",     "/*",   ".",     "SUM(",  "|",       "WITH",   "LOCKS"};
  std::mt19937 rng(4242);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  int parsed = 0;
  int refused = 0;
  for (uint32_t seed = 1; seed <= 4000; ++seed) {
    StatementGenerator generator(seed);
    generator.Generate();
    std::string text = generator.Text();
    int mutations = 1 + static_cast<int>(pick(3));
    for (int m = 0; m < mutations; ++m) {
      size_t at = pick(text.size() + 1);
      switch (pick(4)) {
        case 0:  // cut
          text.erase(at, pick(8));
          break;
        case 1:  // insert a token
          text.insert(at, std::string(" ") + kTokens[pick(std::size(kTokens))] + " ");
          break;
        case 2:  // truncate
          text.resize(at);
          break;
        default:  // repeat a piece
          text.insert(at, text.substr(pick(text.size() + 1), pick(12)));
          break;
      }
    }
    TQueryStatement query;
    query.parser.SetText(text);
    try {
      ParseStatement(query);
      ++parsed;
      EXPECT_GE(query.statement_kind, kStatementSelect) << text;
      EXPECT_FALSE(query.source_tables.empty()) << text;
      EXPECT_FALSE(DumpStatement(query).empty());
    } catch (const ETesseraEngineError& e) {
      ++refused;
      ASSERT_EQ(e.GetError(0).ErrorCode(), kErrSql) << text;
      std::string message = GetEngineSession()->ErrorSql();
      EXPECT_TRUE(IsKnownMessage(message)) << message << " <- " << text;
    }
  }
  EXPECT_GT(parsed, 100);
  EXPECT_GT(refused, 1000);
}

// ---- hostile sizes and bytes ------------------------------------------------------------------

std::string Repeat(std::string_view piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

TEST(StatementParserHostileTest, ManyTablesColumnsAndParameters) {
  std::string sql = "SELECT a FROM T0";
  for (int i = 1; i < 70000; ++i) sql += ", T" + std::to_string(i);
  TQueryStatement query;
  testing::ParseInto(query, sql);
  ASSERT_EQ(query.source_tables.size(), 70000u);
  EXPECT_EQ(query.source_tables[65533]->appearance, 65534);
  // Appearance numbers are u16: they stay at the top rather than wrap onto earlier tables.
  EXPECT_EQ(query.source_tables[65534]->appearance, 65535);
  EXPECT_EQ(query.source_tables.back()->appearance, 65535);
  EXPECT_EQ(query.source_tables.back()->correlation_name, "T69999");

  EXPECT_EQ(testing::ErrorOf("SELECT a FROM T" + Repeat(", T", 50000)),
            "Duplicate table correlation name 'T' found in source tables");

  testing::ParseInto(query, "SELECT " + Repeat("a, ", 100000) + "b FROM T");
  EXPECT_EQ(query.select_columns.size(), 100001u);
  EXPECT_EQ(query.select_columns.back()->result_name, "b");

  // A long IN list: its parameters in list order.
  testing::ParseInto(query, "DELETE FROM T WHERE a IN (" + Repeat("?, ", 199999) + "?)");
  ASSERT_EQ(query.parameters.size(), 200000u);
  size_t i = 0;
  for (const ExpressionNode* v = query.condition->second.get(); v; v = v->next.get(), ++i) {
    ASSERT_EQ(query.parameters[i], v) << i;
  }
  EXPECT_EQ(i, 200000u);
}

TEST(StatementParserHostileTest, NestingIsBoundedEverywhere) {
  const std::string deep = Repeat("(", 100000) + "a = 1" + Repeat(")", 100000);
  EXPECT_EQ(testing::ErrorOf("SELECT a FROM T WHERE " + deep),
            "Expression nesting too deep in WHERE or JOIN clause");
  EXPECT_EQ(testing::ErrorOf("SELECT " + Repeat("(", 100000) + "a FROM T"),
            "Expression nesting too deep in source columns");
  EXPECT_EQ(testing::ErrorOf("INSERT INTO T VALUES (" + Repeat("(", 100000) + "1"),
            "Expression nesting too deep in values");
  EXPECT_EQ(testing::ErrorOf("DELETE FROM T WHERE a" + Repeat(" IN (a", 100000)),
            "Expression nesting too deep in WHERE or JOIN clause");

  // Every ON condition adds a level to the ANDed condition tree, which the checker and the
  // evaluator walk recursively: it stays within the height of one expression.
  auto joins = [](int n) {
    std::string sql = "SELECT a FROM T0";
    for (int i = 1; i <= n; ++i) {
      std::string t = "T" + std::to_string(i);
      sql += " JOIN " + t + " ON " + t + ".k = T0.k";
    }
    return sql;
  };
  TQueryStatement query;
  testing::ParseInto(query, joins(kMaxExpressionNesting - 1));
  EXPECT_EQ(query.source_tables.size(), static_cast<size_t>(kMaxExpressionNesting));
  EXPECT_EQ(testing::ErrorOf(joins(kMaxExpressionNesting)),
            "Expression nesting too deep in WHERE or JOIN clause");
  EXPECT_EQ(testing::ErrorOf(joins(3000)), "Expression nesting too deep in WHERE or JOIN clause");
}

TEST(StatementParserHostileTest, LongNamesAndUnterminatedTexts) {
  const std::string long_name(10000, 'n');
  TQueryStatement query;
  testing::ParseInto(query, "SELECT a AS " + long_name + " FROM T " + long_name);
  EXPECT_EQ(query.select_columns[0]->result_name, std::string(255, 'n'));
  EXPECT_EQ(query.source_tables[0]->table_name, "T");
  EXPECT_EQ(query.source_tables[0]->correlation_name, std::string(255, 'n'));

  // A table name is refused instead of cut (the cut name would address another file), alone and
  // with the directory in front.
  for (const char* directory : {"", "/db"}) {
    query.directory = directory;
    query.parser.SetText("SELECT a FROM " + long_name);
    try {
      ParseStatement(query);
      ADD_FAILURE() << "no error";
    } catch (const ETesseraEngineError& e) {
      EXPECT_EQ(e.GetError(0).ErrorCode(), kErrInvalidPath);
    }
  }

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"SELECT a FROM 'T", "Missing single quote after 'T' in SQL statement"},
      {"SELECT a FROM T WHERE a = \"x", "Missing double quote after 'x' in SQL statement"},
      {"INSERT INTO T VALUES ('abc", "Missing single quote after 'abc' in SQL statement"},
      {"UPDATE [T SET a = 1", "Missing right bracket after 'T SET a = 1' in SQL statement"},
      {"SELECT a FROM T ENCRYPTED WITH 'pw", "Missing single quote after 'pw' in SQL statement"},
      {"SELECT a FROM T /* never closed",
       "Missing ending comment slash and asterisk in SQL statement"},
      {"INSERT INTO T VALUES ('" + std::string(300, 'v') + "')",
       "String constant exceeds maximum length of 254 characters in values"},
  };
  for (const auto& [sql, message] : cases) EXPECT_EQ(testing::ErrorOf(sql), message) << sql;

  // The text ends at its first NUL.
  testing::ParseInto(query, std::string("DELETE FROM T\0 garbage ( ' [", 27));
  EXPECT_EQ(query.statement_kind, kStatementDelete);
}

TEST(StatementParserHostileTest, RandomBytesParseOrRaiseAnSqlError) {
  std::mt19937 rng(99);
  static const std::string kAlphabet =
      "SELECT FROM WHERE JOIN ON INTO ( ) , ; ? * ' \" [ ] . = a b 1";
  for (int round = 0; round < 20000; ++round) {
    std::string text = round % 2 ? "SELECT " : "";
    int length = std::uniform_int_distribution<int>(0, 60)(rng);
    for (int i = 0; i < length; ++i) {
      if (round % 3 == 0) {
        text.push_back(static_cast<char>(std::uniform_int_distribution<int>(1, 255)(rng)));
      } else {
        text.push_back(
            kAlphabet[std::uniform_int_distribution<size_t>(0, kAlphabet.size() - 1)(rng)]);
      }
    }
    TQueryStatement query;
    query.parser.SetText(text);
    try {
      ParseStatement(query);
      EXPECT_FALSE(query.source_tables.empty()) << text;
    } catch (const ETesseraEngineError& e) {
      ASSERT_EQ(e.GetError(0).ErrorCode(), kErrSql) << text;
      EXPECT_TRUE(IsKnownMessage(GetEngineSession()->ErrorSql())) << GetEngineSession()->ErrorSql();
    }
  }
}

}  // namespace
}  // namespace tessera
