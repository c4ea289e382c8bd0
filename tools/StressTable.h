// The tables that the stress program and the multi-process test peer share, and one random
// operation on them.
//
// Every shape has the fields K (long integer), A (long integer), B (long integer) and, in the memo
// shape, M (blob):
//   kKeyed     primary index on K
//   kNoKey     no primary key fields (record-number order, slots never reused), a unique secondary
//              index on K and a non-unique one on A
//   kMemo      primary index on K, and M written with half the inserts and every edit
// Field values travel as the engine's field bytes; the helpers below convert.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tessera {

class TDataFile;

namespace stress {

enum class TShape { kKeyed, kNoKey, kMemo };
enum FieldNo : uint16_t { kK = 1, kA = 2, kB = 3, kM = 4 };

// Creates the table `path` (without extension) of that shape; an existing one is replaced.
void CreateTable(const std::string& path, TShape shape);
bool ParseShape(const std::string& name, TShape& shape);
const char* ShapeName(TShape shape);

void PutInt(TDataFile& table, uint16_t field, int32_t value, uint8_t* record);
int32_t GetInt(TDataFile& table, uint16_t field, const uint8_t* record);
// Opens the record's memo, sets it to `text` and leaves it open (the insert or edit saves it; the
// caller closes it with CloseMemo afterwards, whatever the write did).  0 or the engine code.
uint16_t SetMemo(TDataFile& table, const std::string& text, uint8_t* record);
void CloseMemo(TDataFile& table, uint8_t* record);

// A worker's account of its writes, kept outside the table's folder: a line of intent before each
// write begins and a line of outcome after it ended, so that a worker killed at any moment leaves
// at most one write whose outcome is unknown.  Lines (values in decimal, a memo as "-" for none or
// "<length>:<character>", the text being that character repeated):
//   I <k> <a> <b> <memo>           an insert
//   E <sequence> <k> <a> <b> <memo>  an edit of the record with that sequence number and key, to
//                                  those values (the memo "=" when the edit leaves it)
//   X <sequence> <k>               a delete
//   D [<sequence>]                 done (an insert gives the sequence number its record got)
//   F <code>                       refused with that engine code: nothing was changed
class TWriteJournal {
 public:
  virtual ~TWriteJournal() = default;
  // The line has reached the operating system when this returns.
  virtual void Line(const std::string& text) = 0;
};

// What one process did.
struct TStressCounts {
  uint64_t inserts = 0;
  uint64_t deletes = 0;
  uint64_t edits = 0;
  uint64_t reads = 0;
  uint64_t conflicts = 0;  // a record lock, a vanished record or a duplicate key refused the write
  uint64_t retries = 0;    // waits between lock attempts
  uint64_t errors = 0;     // any other engine error
  std::string first_error;
};

// `operations` random operations on the open, shared `table`: inserts, edits under a record lock,
// deletes and reads (a refresh and a walk of some records).  Every record written carries B = K,
// so that an edit written into another record shows.  Counts what happened, and tells `journal`
// (when given) each write; the waits of the lock levels are counted by the table's lock tuning,
// which the caller sets to count `counts.retries`.
void RunOperations(TDataFile& table, TShape shape, int operations, std::mt19937& rng,
                   TStressCounts& counts, TWriteJournal* journal = nullptr);

}  // namespace stress
}  // namespace tessera
