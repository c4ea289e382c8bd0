#include "engine/storage/values/EngineStrings.h"

#include <algorithm>

#include "classlib/rtl/ShortString.h"

namespace tessera {

std::string PadLeft(std::string_view s, size_t length, char ch) {
  length = std::min(length, cl::kShortStringMax);
  if (s.size() >= length) return cl::ToShort(s);
  return std::string(length - s.size(), ch) + std::string(s);
}

std::string PadRight(std::string_view s, size_t length, char ch) {
  length = std::min(length, cl::kShortStringMax);
  if (s.size() >= length) return cl::ToShort(s);
  return std::string(s) + std::string(length - s.size(), ch);
}

std::string RepeatString(std::string_view s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n && out.size() < cl::kShortStringMax && !s.empty(); ++i) out += s;
  return cl::ToShort(out);
}

std::string LeftChars(std::string_view s, size_t n) { return cl::ToShort(s.substr(0, n)); }

std::string RightChars(std::string_view s, size_t n) {
  return cl::ToShort(n >= s.size() ? s : s.substr(s.size() - n));
}

size_t LastPos(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  size_t pos = s.rfind(sub);
  return pos == std::string_view::npos ? 0 : pos + 1;
}

std::string TrimChar(std::string_view s, char ch) { return TrimRightChar(TrimLeftChar(s, ch), ch); }

std::string TrimLeftChar(std::string_view s, char ch) {
  while (!s.empty() && s.front() == ch) s.remove_prefix(1);
  return cl::ToShort(s);
}

std::string TrimRightChar(std::string_view s, char ch) {
  while (!s.empty() && s.back() == ch) s.remove_suffix(1);
  return cl::ToShort(s);
}

void TrimTrailingBlanksZ(char* text, size_t capacity) {
  size_t n = 0;
  while (n < capacity && text[n] != '\0') ++n;
  while (n > 0 && text[n - 1] == ' ') text[--n] = '\0';
}

std::string RemoveLineBreaks(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return cl::ToShort(out);
}

bool IsNameLetter(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= 129 && u <= 254);
}

bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }

bool IsNameChar(char c) { return IsDigitChar(c) || IsNameLetter(c); }

size_t CountChar(char ch, std::string_view text) {
  size_t count = 0;
  for (char c : text) count += c == ch;
  return count;
}

}  // namespace tessera
