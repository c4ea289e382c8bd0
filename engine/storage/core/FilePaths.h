// Table and file name helpers.
//
// Names are Windows-1252 text; "/" is the separator (a backslash is an ordinary character in a
// name here).  Full names are ShortStrings: a name that would pass 255 bytes is refused with
// 11010 rather than cut, since a cut name would silently address another file.
#pragma once

#include <string>
#include <string_view>

namespace tessera {

// Trims blanks (and control characters) at both ends and appends "/" when the result is not
// empty and does not already end with one.
std::string AddTrailingBackslash(std::string_view dir);

// True when the name is empty or contains a "/".
bool ContainsPath(std::string_view name);

// The name cut before its last "." when that dot lies after the last "/".
std::string RemoveFileExtension(std::string_view name);

// The full path of `name` against the current directory ("." and ".." resolved), without its
// extension.  Raises 11010 when the current directory is unknown or the full name passes 255
// bytes.
std::string ExpandTableName(std::string_view name);

}  // namespace tessera
