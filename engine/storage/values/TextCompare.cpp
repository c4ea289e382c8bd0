#include "engine/storage/values/TextCompare.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/core/EngineErrors.h"
#include "platform/LocaleInfo.h"

namespace tessera {
namespace {

unsigned char AsciiUpper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 0x20) : c;
}

unsigned char AsciiLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

const cl::TCollation& CollationOf(uint16_t language) {
  const cl::TCollation* collation = cl::FindCollation(language);
  return collation != nullptr ? *collation : cl::NeutralCollation();
}

int Sign(int v) { return (v > 0) - (v < 0); }

template <class Map>
void MapText(const char* source, size_t length, char* dest, Map map) {
  for (size_t i = 0; i < length; ++i) {
    dest[i] = static_cast<char>(map(static_cast<unsigned char>(source[i])));
  }
}

}  // namespace

int BinaryCompare(const uint8_t* a, const uint8_t* b, size_t length, bool descending) {
  const int r = length == 0 ? 0 : Sign(std::memcmp(a, b, length));
  return descending ? -r : r;
}

int CompareStrings(uint16_t language, uint16_t sort, const char* a, bool case_insensitive,
                   size_t length, const char* b, cl::TSortMode mode) {
  (void)sort;  // sort id 0 is the only one a table can hold (CheckLanguageInstalled)
  if (language != 0) {
    const cl::TCollation* collation = &CollationOf(language);
    const std::string_view va = length > 0 ? std::string_view(a, length) : std::string_view(a);
    const std::string_view vb = length > 0 ? std::string_view(b, length) : std::string_view(b);
    return cl::CollateCompare(*collation, va, vb, case_insensitive, mode);
  }
  if (length == 0) {
    // Up to the shorter text's terminating zero, which differs from the other text's byte there
    // when the lengths differ: the same order as over the longer length, without reading past
    // the shorter buffer.
    length = std::min(std::strlen(a), std::strlen(b)) + 1;
  }
  const auto* ua = reinterpret_cast<const unsigned char*>(a);
  const auto* ub = reinterpret_cast<const unsigned char*>(b);
  if (!case_insensitive) return BinaryCompare(ua, ub, length, false);
  for (size_t i = 0; i < length; ++i) {
    const unsigned char ca = AsciiUpper(ua[i]);
    const unsigned char cb = AsciiUpper(ub[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

std::string PrimaryWeights(uint16_t language, uint16_t sort, std::string_view text,
                           cl::TSortMode mode) {
  (void)sort;
  return cl::CollatePrimaryWeights(CollationOf(language), text, mode);
}

std::string SortKey(uint16_t language, uint16_t sort, std::string_view text, cl::TSortMode mode,
                    size_t limit) {
  (void)sort;
  return cl::CollateSortKey(CollationOf(language), text, false, mode, limit);
}

void UpperCaseText(uint16_t language, uint16_t sort, const char* source, size_t length,
                   char* dest) {
  (void)sort;
  if (language != 0) {
    MapText(source, length, dest, cl::AnsiUpperChar);
  } else {
    MapText(source, length, dest, AsciiUpper);
  }
}

void LowerCaseText(uint16_t language, uint16_t sort, const char* source, size_t length,
                   char* dest) {
  (void)sort;
  if (language != 0) {
    MapText(source, length, dest, cl::AnsiLowerChar);
  } else {
    MapText(source, length, dest, AsciiLower);
  }
}

std::string UpperCaseText(uint16_t language, uint16_t sort, std::string_view source) {
  std::string out(source);
  UpperCaseText(language, sort, out.data(), out.size(), out.data());
  return out;
}

std::string LowerCaseText(uint16_t language, uint16_t sort, std::string_view source) {
  std::string out(source);
  LowerCaseText(language, sort, out.data(), out.size(), out.data());
  return out;
}

uint32_t MakeLCID(uint16_t language, uint16_t sort) {
  return static_cast<uint32_t>(sort) * 65536u + language;
}

void CheckLanguageInstalled(uint16_t language, uint16_t sort, std::string_view data_file) {
  if (language != 0 && !platform::IsValidLocale(MakeLCID(language, sort))) {
    RaiseEngineError(kErrLanguageDriverMissing, data_file);
  }
}

bool LikeMatch(std::string_view text, std::string_view pattern) {
  // Greedy with one backtrack point: on a mismatch only the last "%" seen is moved on, since
  // any earlier "%" could only absorb what the last one can.
  size_t t = 0;
  size_t p = 0;
  size_t star = std::string_view::npos;  // pattern position of the last "%"
  size_t resume = 0;                     // text position that "%" is to absorb up to next
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && (pattern[p] == '_' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

}  // namespace tessera
