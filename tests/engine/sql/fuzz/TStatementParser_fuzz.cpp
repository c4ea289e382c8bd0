// libFuzzer target: any text as an SQL statement.  The first byte chooses the statement
// directory and the live flag; the rest is the text.  Every input ends in a statement (whose
// dump walks all that was built) or in engine error 11949, or 11010 for a table name too long to
// hold: never a crash, a leak or undefined behaviour.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/sql/StatementDump.h"
#include "engine/sql/TQueryStatement.h"
#include "engine/sql/TStatementParser.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = (tessera::InitializeEngine(), true);
  (void)started;
  if (size == 0 || size > 1 << 16) return 0;
  tessera::TQueryStatement query;
  query.directory = (data[0] & 1) != 0 ? "/data" : "";
  query.live = (data[0] & 2) != 0;
  query.parser.SetText(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  try {
    tessera::ParseStatement(query);
    tessera::DumpStatement(query);
  } catch (const tessera::ETesseraEngineError& e) {
    const uint16_t code = e.GetError(0).ErrorCode();
    if (code != tessera::kErrSql && code != tessera::kErrInvalidPath) std::abort();
  }
  return 0;
}
