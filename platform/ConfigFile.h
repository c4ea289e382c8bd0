// Small text files that several processes read and rewrite whole: the registry store's files
// and INI files.
//
// Reading takes no lock: a file is only ever replaced by a rename, which is atomic, so a reader
// sees either the old or the new version, never a mix.  Updating runs read-change-write under an
// exclusive lock on "<file>.lock" (an open-file-description lock, waited for, released when the
// descriptor closes, also when the process dies), writes the new text to "<file>.tmp", flushes it
// to disk and renames it over the file.  Two processes updating at once therefore apply their
// changes one after the other, each to the other's result: no update is lost and no file is
// torn.  The lock file stays in place (deleting it would let a third process lock a new file
// while the second still holds the old one).  Writers of these files must all go through
// UpdateConfigFile; nobody else should hold the lock file open.
#pragma once

#include <functional>
#include <string>

#include "platform/OsError.h"

namespace platform {

// The whole content of `path`; a missing file reads as empty with `*exists` false (no error).
OsError ReadConfigFile(const std::string& path, std::string* content, bool* exists);

// Locks, reads `path` (empty when missing), lets `change` edit the content and, when it returns
// true, replaces the file with the edited content (creating its directory when missing).  New
// files get mode 0600.  `change` runs under the lock: keep it short and never call
// UpdateConfigFile on the same file from it.  An exception from `change` releases the lock and
// passes on, leaving the file as it was.
OsError UpdateConfigFile(const std::string& path,
                         const std::function<bool(std::string& content)>& change);

}  // namespace platform
