// The process's environment as the class library needs it: its own executable, environment
// variables and the configuration directories where the registry store and INI files live.
#pragma once

#include <string>

#include "platform/OsError.h"

namespace platform {

// The running executable's full path (UTF-8); empty when the system cannot tell.
std::string ExecutablePath();

// The value of an environment variable; empty when unset.
std::string GetEnv(const char* name);

// The user's configuration directory of this system: $XDG_CONFIG_HOME/mirvel when that variable
// holds an absolute path, else $HOME/.config/mirvel (HOME from the environment, else from the
// user database).  No trailing "/".  The directory may not exist yet.
std::string UserConfigDirectory();

// The system-wide configuration directory of this system (read-only for users): the first
// absolute entry of $XDG_CONFIG_DIRS, else /etc/xdg, followed by /mirvel.
std::string SystemConfigDirectory();

// Creates a directory and its missing parents: private ones (mode 0700) for the user's own
// settings, or `shared` ones (0777 less the umask) that the accounts the user lets in can reach,
// as a database folder.  Returns a Win32-style error number, 0 when the directory exists
// afterwards.
OsError CreateDirectories(const std::string& path, bool shared = false);

}  // namespace platform
