// The tessera-dump command: prints a table's .DAT, .IDX or .BLB file as the engine sees it.
//
//   tessera-dump FILE.DAT                          (header, field definitions, record slots)
//   tessera-dump [--block-size N] [--encrypted] [--entries] FILE.IDX|FILE.BLB
//   tessera-dump --check [--encrypted] FILE.IDX   (every tree and free chain verified)
//   tessera-dump --check [--password TEXT] TABLE  (.DAT, .IDX and .BLB against each other, keys
//                                                  in the table's own order; TABLE with or
//                                                  without ".DAT")
//   tessera-dump --repair [--password TEXT] TABLE (engine/storage/table/TableRepair.h: prints
//                                                  each change, then checks the table)
//
// The kind of file comes from its extension.  A blob file's block size is its data file's
// (header +4 of the .DAT, 0 meaning 512); it is not stored in the blob file itself.
//
// The file is reached as the engine reaches it: its name found without regard to letter case,
// opened as a shared reader (so a table another process holds exclusively, and may be writing,
// is refused with the engine's message), after a check that the name is a regular file.  Only
// what the account needs is read: a .DAT whole, an .IDX or .BLB up to the end offset its header
// gives; a file longer than its format allows is refused unread.
//
// The whole-table check opens the table through the engine (engine/storage/table/TableCheck.h);
// an encrypted table needs --password with its password.  The repair is refused while any other
// handle has the table open.
//
// Exit status: 0 when the file looks sound (after a repair: when the table passes the check), 1
// when damage was found, 2 for a usage error, a refused repair or a file that cannot be read as
// a table file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tessera {

// Runs the command on `args` (without the program name); the account goes to `out`, errors to
// `err`.  Returns the exit status.
int RunTesseraDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tessera
