// File names at the operating system: UTF-8 paths with "/" as the separator.
//
// A database directory copied from a Windows share keeps the letter case its files had there,
// while the engine asks for "USERS.DAT" or "Users.dat" as its callers wrote it.  So when no entry
// of the exact name exists, the name resolves to the one entry of its directory that differs
// only in letter case.  Only the last component is resolved; with two or more such entries the
// name stays as given (and the caller then reports the file as missing), because picking one
// would be a guess.  Case is folded for ASCII and for the Latin letters of Windows-1252, the only
// characters engine names can hold.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Turns the case-insensitive fallback on or off for the whole process (on at start).
void SetCaseInsensitiveNames(bool on);
bool CaseInsensitiveNames();

// The name under which an existing file should be reached: `path` itself when an entry of that
// exact name exists, when the fallback is off, or when no single case-insensitive match exists;
// otherwise the directory part of `path` followed by the matching entry's name.
std::string ResolveFileName(const std::string& path);

// True when two UTF-8 names are equal without regard to letter case (see above).
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// True when `path` (resolved as above) names an existing directory, following symbolic links.
bool DirectoryExists(const std::string& path);

// True when `path` (resolved as above) names an existing entry of any kind.
bool PathExists(const std::string& path);

}  // namespace platform
