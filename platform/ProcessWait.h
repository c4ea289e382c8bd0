// Waiting for another process to end (the installer waits for the program it replaces).
#pragma once

#include <cstdint>

namespace platform {

// True once process `pid` has ended (or no such process exists), false when it still runs after
// `timeout_ms`.  A process that has ended but is not yet reaped by its parent counts as ended:
// it runs no code and holds no file open.
bool WaitForProcessEnd(int32_t pid, int32_t timeout_ms);

}  // namespace platform
