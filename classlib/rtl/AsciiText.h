// Case folding of the ASCII letters only, for identifiers and keywords: component, property and
// class names, the words of the expression language, fixed keywords in field texts.  Every other
// byte (the Windows-1252 letters too) compares as it is; text is compared linguistically in
// Collation.h.
#pragma once

#include <cstddef>
#include <string>
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

// Byte order after folding the ASCII letters: negative, zero or positive.
inline int CompareText(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int x = static_cast<unsigned char>(AsciiUpper(a[i]));
    int y = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (x != y) return x - y;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Plain byte order: negative, zero or positive.
inline int CompareStr(std::string_view a, std::string_view b) {
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// The ASCII letters upper-cased, every other byte kept.
inline std::string UpperCase(std::string_view s) {
  std::string result(s);
  for (char& c : result) c = AsciiUpper(c);
  return result;
}

}  // namespace cl
