#include "components/data/StrRoutines.h"

namespace comp {
namespace {

bool In(const TCharSet& set, char c) { return set.test(static_cast<unsigned char>(c)); }

}  // namespace

TCharSet CharSet(std::string_view chars) {
  TCharSet set;
  for (char c : chars) set.set(static_cast<unsigned char>(c));
  return set;
}

int WordCount(std::string_view s, const TCharSet& delimiters) {
  int count = 0;
  bool in_word = false;
  for (char c : s) {
    const bool delimiter = In(delimiters, c);
    if (!delimiter && !in_word) ++count;
    in_word = !delimiter;
  }
  return count;
}

int WordPosition(int n, std::string_view s, const TCharSet& delimiters) {
  int count = 0;
  bool in_word = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool delimiter = In(delimiters, s[i]);
    if (!delimiter && !in_word && ++count == n) return static_cast<int>(i) + 1;
    in_word = !delimiter;
  }
  return 0;
}

std::string ExtractWord(int n, std::string_view s, const TCharSet& delimiters) {
  const int position = WordPosition(n, s, delimiters);
  if (position == 0) return std::string();
  size_t end = static_cast<size_t>(position) - 1;
  while (end < s.size() && !In(delimiters, s[end])) ++end;
  return std::string(s.substr(static_cast<size_t>(position) - 1, end - (position - 1)));
}

std::string ExtractSubstr(std::string_view s, int& pos, const TCharSet& delimiters) {
  size_t start = pos < 1 ? 0 : static_cast<size_t>(pos) - 1;
  if (start > s.size()) start = s.size();
  size_t end = start;
  while (end < s.size() && !In(delimiters, s[end])) ++end;
  std::string result(s.substr(start, end - start));
  pos = static_cast<int>(end < s.size() ? end + 2 : end + 1);
  return result;
}

std::string ReplaceStr(std::string_view s, std::string_view search, std::string_view replacement) {
  if (search.empty()) return std::string(s);
  std::string result;
  size_t from = 0;
  for (size_t at = s.find(search); at != std::string_view::npos; at = s.find(search, from)) {
    result.append(s.substr(from, at - from)).append(replacement);
    from = at + search.size();
  }
  return result.append(s.substr(from));
}

std::string MakeStr(char c, int n) { return n < 1 ? std::string() : std::string(n, c); }

bool AllCharsIn(std::string_view s, const TCharSet& set) {
  for (char c : s) {
    if (!In(set, c)) return false;
  }
  return true;
}

}  // namespace comp
