// Word splitting, replacement and small integer helpers shared by the component units.
//
// Texts are Windows-1252 byte strings; character positions are 1-based, as the stored lists and
// the date routines count them.  Delimiter sets hold any of the 256 byte values.
#pragma once

#include <bitset>
#include <string>
#include <string_view>

namespace comp {

using TCharSet = std::bitset<256>;

// The set of the bytes of `chars`.
TCharSet CharSet(std::string_view chars);

// The number of maximal runs of bytes outside `delimiters`.
int WordCount(std::string_view s, const TCharSet& delimiters);
// The position of the first byte of the n-th word (n >= 1); 0 when there are fewer words.
int WordPosition(int n, std::string_view s, const TCharSet& delimiters);
// The n-th word; empty when there is none.
std::string ExtractWord(int n, std::string_view s, const TCharSet& delimiters);
// The text from `pos` up to the next delimiter (not included); `pos` then points past that
// delimiter, or one past the end.  A `pos` below 1 counts as 1.
std::string ExtractSubstr(std::string_view s, int& pos, const TCharSet& delimiters);

// Every occurrence of `search` replaced, left to right; replaced text is never scanned again.
// An empty `search` leaves `s` unchanged.
std::string ReplaceStr(std::string_view s, std::string_view search, std::string_view replacement);
// `n` copies of `c`; empty when n < 1.
std::string MakeStr(char c, int n);
// True when every byte of `s` is in `set` (true for an empty `s`).
bool AllCharsIn(std::string_view s, const TCharSet& set);

inline int Max(int a, int b) { return a > b ? a : b; }
inline int Min(int a, int b) { return a < b ? a : b; }

}  // namespace comp
