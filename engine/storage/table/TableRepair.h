// The repair of a damaged table: its .DAT is taken as the truth, and everything else is rebuilt
// from it so that the whole-table check (TableCheck.h) passes afterwards.
//
// The table is first opened through the engine, exclusively, so that whatever an open brings back
// by itself is done before anything is judged: a commit that a writer left half-way is completed
// from its journal (or dropped with its mark when no whole journal names it), and reported.  Then, what a writer that died in the middle of a
// commit, or a disk that filled up, can leave behind, and what the repair makes of it, in this
// order:
//   0. the .IDX: a header whose end lies past the file, or whose roots or free heads lie off its
//      pages, is emptied (its index definitions kept), since step 4 rebuilds every tree;
//   1. the .DAT: a partial record at the end is cut off and the header's next record number is set
//      to the whole slots the file holds (a whole record appended before its header was written is
//      kept); a live slot that does not carry its own number gets it back, or is marked deleted
//      when it holds nothing but zeros; a sequence number that two live records share is replaced
//      by a new one in the later record; the last auto-increment number is raised to the largest
//      sequence number in use;
//   2. the .BLB: its end offset is brought onto the block grid inside the file; every blob field
//      of a live record whose chain leaves the grid or the end, belongs to another record, is
//      broken or shorter than its value, or was claimed by a record before it, becomes NULL; the
//      free chain is rebuilt from every block no value keeps;
//   3. the deleted chain is rebuilt over the deleted slots, in ascending order;
//   4. every index (and "Sys Deleted") is emptied and filled again from the live records.  A live
//      record whose key repeats an earlier record's key in a unique index is marked deleted and
//      the repair starts again from step 1 (once: removing records makes no new repetitions).
// Every change is reported in plain words, one line each; a field set to NULL names the record
// and the field.  A table that passes the check before step 4 and needed none of steps 1 to 3 is
// left untouched.
//
// What is not repaired: a damaged .DAT header or field definitions (8961), damaged index
// definitions in the .IDX header (they cannot be guessed: 8965) or a .BLB header of another version.  Those
// errors are raised and nothing is changed.
//
// The repair holds all three files exclusively while it changes them, so it is refused (the
// engine's "in use" error, nothing changed) while any other handle, in this process or another,
// has the table open.  An encrypted table needs its password in the session (10498 otherwise).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

struct TTableRepairReport {
  std::vector<std::string> changes;  // empty: the table was sound and was not touched
  uint32_t live_records = 0;
  uint32_t deleted_records = 0;
};

// Repairs the table `table_name` (a path with or without ".DAT") on disk.  Raises the engine's
// errors of opening it and of the damage it cannot repair (see above).
TTableRepairReport RepairTableFiles(std::string_view table_name);

}  // namespace tessera
