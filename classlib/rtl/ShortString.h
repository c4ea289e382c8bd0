// Length-prefixed strings of at most 255 bytes, as the engine keeps names and stores them on disk.
//
// In memory a ShortString is a plain std::string of Windows-1252 bytes; these helpers apply the
// length limit where text enters one, and convert to and from the on-disk form (a length byte
// followed by `capacity` bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cl {

inline constexpr size_t kShortStringMax = 255;

// The text cut to at most `capacity` bytes, as every name the engine keeps is cut.
std::string ToShort(std::string_view s, size_t capacity = kShortStringMax);

// True when `s` fits `capacity` bytes without cutting.
inline bool FitsShort(std::string_view s, size_t capacity = kShortStringMax) {
  return s.size() <= capacity;
}

// Writes the on-disk form into `dst`, which holds 1 + capacity bytes: the length byte, the text
// (cut to capacity) and zero fill.  REQUIRES: capacity <= 255.
void PutShortString(uint8_t* dst, size_t capacity, std::string_view s);

// Reads the on-disk form from `src` (1 + capacity bytes).  The stored length byte is untrusted:
// a length above capacity is clamped to capacity.
std::string GetShortString(const uint8_t* src, size_t capacity);

// True when the stored length byte of the on-disk form is within its capacity.
inline bool ShortStringLengthValid(const uint8_t* src, size_t capacity) {
  return src[0] <= capacity;
}

}  // namespace cl
