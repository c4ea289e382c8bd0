// Appending one record to a text file that several workstations share (the error log).
//
// Why a lock around a single append.  O_APPEND makes each write land at the end on a local disk,
// but a network file system may emulate it (read the size, then write there), so two
// workstations appending at once can overwrite or interleave each other's lines.  The append
// therefore takes an exclusive open-file-description lock on [0, 2^32) first, which the other
// writers' appends wait for.  The range stops before the share-mode byte of OsFile.h, so a
// program that has the file open through an OsFile does not block the log.  The wait is bounded:
// a writer that cannot get the lock in time writes anyway, because a line that may interleave is
// worth more than a line lost.  The lock goes with the descriptor, which is closed at the end of
// the call (a crashed writer never blocks the others).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/OsError.h"

namespace platform {

// Opens `path` (UTF-8, resolved without regard to case) for appending, creating it (mode 0644
// before the umask) when missing, locks as described (waiting at most `lock_wait_ms`), writes
// all of `bytes` and closes the file.  Returns 0 or the Win32-style error of the open or write.
// `opened` tells whether the file could be opened or created (so a caller can tell the two
// failures apart).
OsError AppendToFile(const std::string& path, std::string_view bytes, int32_t lock_wait_ms,
                     bool* opened);

}  // namespace platform
