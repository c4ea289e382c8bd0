// Trimming and file-name parts of Windows-1252 text.
//
// "Blank" means every byte up to 32 (space and the control characters), as the runtime's trimming
// always did.  File names use "/" as their only delimiter.
#pragma once

#include <string>
#include <string_view>

namespace cl {

std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// The directory part with its trailing "/" ("/a/b/" for "/a/b/c.txt"; "" without any "/").
std::string ExtractFilePath(std::string_view file_name);
// What follows the last "/" (the whole name without any "/").
std::string ExtractFileName(std::string_view file_name);

}  // namespace cl
