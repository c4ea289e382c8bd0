// Replacing a file, a running program's executable included, by a copy of another one.
//
// The copy is written to a temporary file in the target's directory, given the target's
// permission bits, flushed, and renamed over the target.  A rename within one directory is atomic,
// so the target is at every moment either the old file or the whole new one, never a torn copy;
// a process still running the old executable keeps its (now unnamed) file.  The new file's times
// are those of its writing, never older than the source's, so a launcher that compares the two
// does not see it as outdated again.
#pragma once

#include <string>

#include "platform/OsError.h"

namespace platform {

// Replaces `target` (UTF-8) by a copy of `source`.  A missing target takes the source's
// permission bits.  Returns 0 or a Win32-style error; on failure `target` is untouched and no
// temporary file is left.
OsError ReplaceFileWithCopy(const std::string& source, const std::string& target);

}  // namespace platform
