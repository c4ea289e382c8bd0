// What counts as a blank around a name, and cutting blanks off both ends.
//
// A blank is any byte from 0 to 32: the space and every control character.  Table, file and
// directory names, field name lists and the like are trimmed with this rule, so that a name read
// from a line with its line break or tab still names the same file.  The Windows-1252 letters and
// signs above 127 (the no-break space 0xA0 too) are never blanks.  Where a different rule
// applies (stored string values, field names and passwords as the header keeps them, INI lines),
// its caller says so beside its own code.
#pragma once

#include <string_view>

namespace cl {

constexpr bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// `s` without the blanks at either end; a view into `s`.
constexpr std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace cl
