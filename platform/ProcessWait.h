// Waiting for another process to end (the installer waits for the program it replaces), and
// ending one (the stress program kills its workers).
#pragma once

#include <cstdint>

namespace platform {

// True once process `pid` has ended (or no such process exists), false when it still runs after
// `timeout_ms`.  A process that has ended but is not yet reaped by its parent counts as ended:
// it runs no code and holds no file open.
bool WaitForProcessEnd(int32_t pid, int32_t timeout_ms);

// Ends process `pid` at once, the way a crash or a power cut would: it runs no more code, and its
// files and byte-range locks go with it.  False when there is no such process.
bool KillProcess(int32_t pid);

}  // namespace platform
