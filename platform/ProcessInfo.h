// Identity of the running process and thread, and its current directory.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The current working directory as UTF-8, without a trailing "/" (except for "/" itself);
// empty when the system cannot tell (the directory was removed, or the path is too long).
std::string GetCurrentDir();

// The kernel's id of the calling thread (positive).
int32_t GetCurrentThreadId();

}  // namespace platform
