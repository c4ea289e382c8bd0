// Path helpers of the folder browser: whether a directory exists, and a path rebuilt with each
// element spelled as the file system lists it.
//
// There are no short (8.3) names here, so both rebuilding routines give the listed name; an
// element is found ignoring case when its exact spelling is absent (platform/FileNames.h).
#pragma once

#include <string>
#include <string_view>

namespace comp {

// `name` exists and is a directory.
bool DirExists(std::string_view name);

// Each element after the first "/" replaced by its listed name, or by nothing when it cannot be
// found; the part before the first "/" is kept as it is.  "/" stays "/".
std::string ShortToLongPath(std::string_view path);
std::string LongToShortPath(std::string_view path);

}  // namespace comp
