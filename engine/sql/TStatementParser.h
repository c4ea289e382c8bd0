// The SQL statement grammar: SELECT, INSERT, UPDATE and DELETE.
//
//   SELECT [ALL] [DISTINCT] column [[AS] name[.name]] {, ...} [INTO [MEMORY] name]
//     FROM [MEMORY] table [[AS] correlation]
//       {[INNER | LEFT [OUTER] | RIGHT [OUTER]] JOIN [MEMORY] table [[AS] correlation]
//        ON condition}
//       {, table ...}
//     [WHERE condition] [GROUP BY item {, item}] [ORDER BY item [ASC|DESC] {, ...} [NOCASE]]
//     [WITH LOCKS] [ENCRYPTED WITH password] [;]
//   INSERT INTO [MEMORY] table [correlation] [(column {, column})] VALUES (value {, value}) [;]
//   UPDATE [MEMORY] table [[AS] correlation] SET column = value {, column = value}
//     [WHERE condition] [;]
//   DELETE FROM [MEMORY] table [[AS] correlation] [WHERE condition] [;]
//
// The clauses come in this fixed order; HAVING and FULL joins are refused.  Keywords are words
// compared without regard to case, bracketed or not; a quoted name or password reads as a string
// constant does, a doubled quote inside counting once.  Every expression inside a clause is read
// by TExpressionParser with what that clause allows; this grammar only places them.  Names are
// not resolved here: binding looks them up once the tables are open.
//
// Every error of the grammar raises engine error 11949 whose SQL text is the message; messages
// that end in "'" get the current token's text and a closing "'".  The texts are what users see
// and never change.  A table name (a source or the INTO result) longer than 255 characters, alone
// or placed in the statement's directory, is refused as a file name instead: 11010 with the name,
// never cut, since a cut name would address another file.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

#include "engine/sql/TQueryStatement.h"

namespace tessera {

// Parses the text already loaded into query.parser (SetText) into the statement's flags and
// lists, after clearing them (ClearStatement).  Raises 11949 (or 11010 for a table name too long,
// see above) at the first error; what was built up to it stays in the statement until it is
// cleared or freed.
void ParseStatement(TQueryStatement& query);

// The parser of one statement; ParseStatement is its only user.  The SELECT clauses live in
// TStatementParserSelect.cpp, the rest in TStatementParser.cpp.
class TStatementParser {
 public:
  explicit TStatementParser(TQueryStatement& query) : query_(query), parser_(query.parser) {}
  TStatementParser(const TStatementParser&) = delete;
  TStatementParser& operator=(const TStatementParser&) = delete;

  void Parse();

 private:
  // Where a correlation name may follow a table name.
  struct CorrelationRule {
    bool allow_as;                // AS followed by a name or quoted string
    bool allow_quoted;            // a quoted string without AS
    const char* const* excluded;  // words a bare name must not be, ending with nullptr
  };

  // Tokens.
  void Next() { parser_.NextToken(); }
  bool AtWord(std::string_view word) const { return parser_.TokenIs(word); }
  bool AtKind(int kind) const { return parser_.TokenKindIs(kind); }
  bool AtBareName() const;      // a symbol or bracketed name
  bool AtNameOrString() const;  // a symbol, bracketed name or quoted string
  bool AtAnyOf(const char* const* words) const;
  [[noreturn]] void Fail(std::string_view message) const;
  // message + the current token's text + "'".
  [[noreturn]] void FailFound(std::string_view message) const;
  // Requires a word, then steps over it.
  void ExpectWord(std::string_view word, std::string_view message);
  // An optional ";", then the end of the text.
  void ExpectEnd(std::string_view message);

  // Shared pieces.
  // [MEMORY] name-or-string: a new source table, appended or put first.  `message` is raised
  // for a missing name, `message_after_memory` for one missing after MEMORY.
  TSourceDataFile& ParseTable(std::string_view message, std::string_view message_after_memory,
                              bool at_front);
  // Reads the correlation name allowed by `rule`, then refuses one already given.
  void ParseCorrelation(TSourceDataFile& table, const CorrelationRule& rule);
  ExpressionNode* ParseCondition();
  void ParseOptionalWhere();
  void ParseValue(TUpdateDataValue& value);
  void ParseTargetColumn(TUpdateDataField& target, bool primary_only);

  // Statements.
  void ParseSelect();
  void ParseInsert();
  void ParseUpdate();
  void ParseDelete();

  // SELECT clauses.
  void ParseSelectList();
  void ParseSelectColumn(TResultDataField& column);
  void ParseResultName(TResultDataField& column);
  void ParseInto();
  void ParseFrom();
  bool ParseJoin();
  void ParseGroupBy();
  void ParseOrderBy();
  // A GROUP BY or ORDER BY item: a column number, or a name with an optional qualifier.
  void ParseColumnItem(std::string& column_name, std::string& correlation_name,
                       uint16_t& column_number, std::string_view message);

  TQueryStatement& query_;
  TExpressionParser& parser_;
  // The case-blind sort keys of the correlation names given so far.
  std::unordered_set<std::string> correlation_keys_;
};

}  // namespace tessera
