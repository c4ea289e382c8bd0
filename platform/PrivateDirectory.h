// The per-user private directory: sockets, shared mappings and temporary results that no other
// user may see or replace.
//
// Under $XDG_RUNTIME_DIR (already private to the user, removed at logout) it is
// $XDG_RUNTIME_DIR/mirvel; without that variable it is mirvel-<uid> in the temporary directory
// ($TMPDIR, else /tmp).  In a shared temporary directory another user could create that name
// first and wait for us to put sockets in it, so the directory is accepted only when it is a real
// directory (not a symbolic link) owned by the effective user; its mode is then forced to 0700.
#pragma once

#include <string>

#include "platform/OsError.h"

namespace platform {

// Creates the directory when missing and checks it as described.  Returns 0 with `path` set
// (no trailing "/"), or a Win32-style error number: 5 when another user owns the name or it is
// not a directory.
OsError GetPrivateDirectory(std::string& path);

}  // namespace platform
