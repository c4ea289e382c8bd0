// Replacing a file, a running program's executable included, by a copy of another one.
//
// The copy is written to a temporary file in the target's directory, given the target's
// permission bits, flushed, and renamed over the target.  A rename within one directory is atomic,
// so the target is at every moment either the old file or the whole new one, never a torn copy;
// a process still running the old executable keeps its (now unnamed) file.  The new file takes
// the source's last-write time, so a launcher that compares the two sees them equal and does not
// update again, whatever the clocks of the machines that wrote them say.
#pragma once

#include <string>

#include "platform/OsError.h"

namespace platform {

// Replaces `target` (UTF-8) by a copy of `source`.  A missing target takes the source's
// permission bits.  Returns 0 or a Win32-style error; on failure `target` is untouched and no
// temporary file is left.
OsError ReplaceFileWithCopy(const std::string& source, const std::string& target);

// Gives a file the permission bits 0755 (a program written out by this one).
OsError MakeExecutable(const std::string& path);

}  // namespace platform
