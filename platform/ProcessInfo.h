// Identity of the running process, its thread, its user and its workstation, and its current
// directory.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The current working directory as UTF-8, without a trailing "/" (except for "/" itself);
// empty when the system cannot tell (the directory was removed, or the path is too long).
std::string GetCurrentDir();

// The kernel's id of the calling thread (positive).
int32_t GetCurrentThreadId();

// The id of this process (positive).
int32_t GetCurrentProcessId();

// The login name of the effective user: the user database's entry, else $USER, else $LOGNAME;
// at most 255 bytes (UTF-8), empty when none of them is known.
std::string GetUserName();

// The host name cut at its first "." (the workstation's name without its domain); at most 255
// bytes, empty when the system cannot tell.
std::string GetComputerName();

}  // namespace platform
