// Trimming and file-name parts of Windows-1252 text.
//
// Trim cuts the blanks of Blanks.h (every byte up to 32) off both ends.  File names use "/" as
// their only delimiter.
#pragma once

#include <string>
#include <string_view>

namespace cl {

std::string Trim(std::string_view s);

// The directory part with its trailing "/" ("/a/b/" for "/a/b/c.txt"; "" without any "/").
std::string ExtractFilePath(std::string_view file_name);
// What follows the last "/" (the whole name without any "/").
std::string ExtractFileName(std::string_view file_name);

}  // namespace cl
