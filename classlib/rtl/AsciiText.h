// Case folding of the ASCII letters only, for identifiers and keywords: component, property and
// class names, the words of the expression language, fixed keywords in field texts.  Every other
// byte (the Windows-1252 letters too) compares as it is; text is compared linguistically in
// Collation.h.
#pragma once

#include <cstddef>
#include <string_view>

namespace cl {

inline char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// True when `a` and `b` differ at most in the case of ASCII letters.
inline bool SameAsciiText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

}  // namespace cl
