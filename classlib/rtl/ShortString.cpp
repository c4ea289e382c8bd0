#include "classlib/rtl/ShortString.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace cl {

std::string ToShort(std::string_view s, size_t capacity) {
  return std::string(s.substr(0, std::min(capacity, kShortStringMax)));
}

void PutShortString(uint8_t* dst, size_t capacity, std::string_view s) {
  assert(capacity <= kShortStringMax);
  const size_t n = std::min({s.size(), capacity, kShortStringMax});
  dst[0] = static_cast<uint8_t>(n);
  std::memcpy(dst + 1, s.data(), n);
  std::memset(dst + 1 + n, 0, capacity - n);
}

std::string GetShortString(const uint8_t* src, size_t capacity) {
  const size_t n = std::min<size_t>(src[0], capacity);
  return std::string(reinterpret_cast<const char*>(src + 1), n);
}

}  // namespace cl
