// A whole-table check: the .DAT, .IDX and .BLB of one table against each other.
//
// What must hold, and is checked in this order (the first problem of each kind is reported):
//   - the .DAT length is data start + (next record number - 1) x record size;
//   - every live record carries its own number at +1, and no two live records share a sequence
//     number;
//   - tables that reuse slots: the deleted chain from the header's head visits exactly the deleted
//     slots, each once; tables that never reuse them: the head is 0 or a deleted slot;
//   - the index file passes its own whole-file check (engine/storage/index/IndexCheck.h) in the
//     table's key order (collated strings on a table with a language), its record count equals
//     the live records, and every index in use holds exactly the keys that the live records make,
//     one per record ("Sys Deleted": one per slot, on tables that reuse slots);
//   - every blob field of a live record holds 0 or the first block of a chain whose blocks lie on
//     the block grid below the end offset, are owned by that record, link back to their
//     predecessor, carry the value's length in their used bytes, and belong to no other chain or
//     to the free chain; the free chain is acyclic and every block of the file is reached.
//
// The table is read through an open handle (so encrypted tables and in-memory tables are checked
// alike) after whatever that handle has not yet written was committed.  File bytes are untrusted:
// damage is reported, never raised, except where the handle's own open refuses the table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

class TDataFile;

struct TTableCheckReport {
  bool ok() const { return problems.empty() && !commit_pending; }
  std::vector<std::string> problems;
  // A writer was interrupted in a commit that the next open completes (or drops); nothing else
  // was checked, and the one problem says so.
  bool commit_pending = false;
  uint32_t live_records = 0;
  uint32_t deleted_records = 0;
};

// Checks the open table as its files stand.  REQUIRES: `table` is open and has nothing
// uncommitted (a shared handle after its writes, or an exclusive one after CommitTransaction).
TTableCheckReport CheckTable(TDataFile& table);

// Opens the table `table_name` (a path with or without ".DAT") read-only as a shared reader,
// checks it and closes it.  Errors of the open are raised.  A pending commit is reported, not
// completed: a check changes nothing.
TTableCheckReport CheckTableFiles(std::string_view table_name);

}  // namespace tessera
