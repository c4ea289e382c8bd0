// String comparison, case mapping and LIKE matching of the engine.
//
// A table with a language (a nonzero language id) compares and case-maps its strings with the
// Windows-1252 collation of that language (classlib/rtl/Collation.h): linguistic order, where
// "case-sensitive" still means "a" < "A" < "b", not byte order.  A table without a language
// compares unsigned bytes, upper-casing ASCII letters only when the comparison ignores case.
// Nothing here reads the process locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "classlib/rtl/Collation.h"

namespace tessera {

// Unsigned byte-wise comparison of `length` bytes: -1, 0 or 1, the sign reversed when
// `descending`; length 0 gives 0.
int BinaryCompare(const uint8_t* a, const uint8_t* b, size_t length, bool descending);

// Compares a and b: -1, 0 or 1.
// `length` > 0: exactly that many bytes of each; 0: each up to its terminating zero.
// With a language: the collation of the language (`mode` word sort, or string sort for index
// keys), ignoring case on request; a NUL or control character weighs nothing, so zero padding
// does not matter.  A language without a table (never accepted by a table open) falls back to
// the neutral order rather than failing.
// Without a language: unsigned bytes, ASCII letters upper-cased on the fly when
// `case_insensitive` (the buffers are never changed); with `length` 0, "ab" sorts before "abc"
// by its terminating zero, and neither text is read past its own.
int CompareStrings(uint16_t language, uint16_t sort, const char* a, bool case_insensitive,
                   size_t length, const char* b, cl::TSortMode mode = cl::TSortMode::kWord);

// cl::CollatePrimaryWeights of `text` in the collation of `language` (the neutral one for a
// language without a table).  REQUIRES: language != 0.
std::string PrimaryWeights(uint16_t language, uint16_t sort, std::string_view text,
                           cl::TSortMode mode);

// cl::CollateSortKey of `text` in the collation of `language`, case-sensitive: its memcmp order
// is CompareStrings' with a length; its first `limit` bytes alone with one.  REQUIRES:
// language != 0.
std::string SortKey(uint16_t language, uint16_t sort, std::string_view text, cl::TSortMode mode,
                    size_t limit = std::string::npos);

// Maps `length` bytes of `source` into `dest` (which may be `source`).  With a language: the
// Windows-1252 case tables; without: ASCII letters only.
void UpperCaseText(uint16_t language, uint16_t sort, const char* source, size_t length, char* dest);
void LowerCaseText(uint16_t language, uint16_t sort, const char* source, size_t length, char* dest);
std::string UpperCaseText(uint16_t language, uint16_t sort, std::string_view source);
std::string LowerCaseText(uint16_t language, uint16_t sort, std::string_view source);

// sort x 65,536 + language.
uint32_t MakeLCID(uint16_t language, uint16_t sort);

// Raises 15878 naming `data_file` when the language is nonzero and its locale (with the sort id)
// is not installed; language 0 (binary comparison) always passes.
void CheckLanguageInstalled(uint16_t language, uint16_t sort, std::string_view data_file);

// SQL LIKE, case-sensitive: "%" matches any run of characters (also none), "_" any one
// character, every other pattern character itself.  A run of "%" left at the end of the pattern
// matches an empty rest of the text.  Time O(text x pattern) at worst.
bool LikeMatch(std::string_view text, std::string_view pattern);

}  // namespace tessera
