// Helpers shared by the SQL statement tests: parse a text into a dump, or catch its error text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "engine/sql/StatementDump.h"
#include "engine/sql/TQueryStatement.h"
#include "engine/sql/TStatementParser.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"

namespace tessera::testing {

// Starts the engine once so that raised errors keep their SQL text in the session.
class SqlEngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }
};

inline void ParseInto(TQueryStatement& query, std::string_view sql) {
  query.parser.SetText(sql);
  ParseStatement(query);
}

// The dump of the parsed statement, or "error: " + the SQL text of the error.
inline std::string Dump(std::string_view sql, std::string_view directory = {}, bool live = false) {
  TQueryStatement query;
  query.directory = std::string(directory);
  query.live = live;
  try {
    ParseInto(query, sql);
  } catch (const ETesseraEngineError& e) {
    return "error: " + GetEngineSession()->ErrorSql();
  }
  return DumpStatement(query);
}

// The SQL text of the error the statement raises, or "<no error>".  The error must be 11949 and
// its message the engine's form of that text.
inline std::string ErrorOf(std::string_view sql) {
  TQueryStatement query;
  try {
    ParseInto(query, sql);
  } catch (const ETesseraEngineError& e) {
    EXPECT_EQ(e.ErrorCount(), 1);
    EXPECT_EQ(e.GetError(0).ErrorCode(), kErrSql) << sql;
    std::string text = GetEngineSession()->ErrorSql();
    EXPECT_EQ(e.Message(),
              "Tessera Engine Error # 11949 " + ("SQL - " + text).substr(0, kMaxErrorTextLength));
    return text;
  }
  return "<no error>";
}

}  // namespace tessera::testing
