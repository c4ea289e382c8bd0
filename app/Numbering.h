// Per-table numbering: the users, clients and callers tables number their records themselves
// through the shared table "Numeros.DAT" (NomTable, the numbered table's name in upper case
// without extension; Numero, the last number given out).
//
// The lock is the exclusive open of "Numeros.DAT": while one process has it open (in any mode)
// the others' exclusive opens fail, and OpenWithRetry tries again every 330 ms for up to 5 s of
// the steady retry clock (RetryClock.h).  The counter is written, flushed and the table closed
// before the number is used, so numbers may have gaps but are never given out twice.  The waits
// run on the calling (GUI) thread.
#pragma once

#include <cstdint>
#include <string>

#include "engine/components/TTesseraTable.h"

namespace mirvel {

inline constexpr int32_t kOpenRetryInterval = 330;  // ms between two tries
inline constexpr uint64_t kOpenRetryLimit = 5000;   // ms of tries

// Opens `table`, swallowing failures, until it is open or the limit has passed.
void OpenWithRetry(tessera::TTesseraTable& table);

// The next number of `table_name` ("Users.DAT" counts as "USERS"), taken while `numbers` (the
// numbering table) is open exclusively; a table without a counter starts at 1.  `numbers` is
// closed afterwards and gets its Exclusive setting back on every path.  Raises
// comp::ENextNumberError when the table does not open in time; other errors pass on.
int32_t NextNumber(tessera::TTesseraTable& numbers, const std::string& table_name);

// When `data_set` is inserting and its field `field_name` is null, gives that field
// NextNumber(numbers, the data set's TableName); otherwise nothing.
void SetNextNumber(tessera::TTesseraTable& numbers, tessera::TTesseraTable& data_set,
                   const std::string& field_name);

}  // namespace mirvel
