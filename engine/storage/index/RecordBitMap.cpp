#include "engine/storage/index/RecordBitMap.h"

#include <algorithm>
#include <bit>

namespace tessera {
namespace {

// The highest number the map can hold, capped to what a record number can be.
uint32_t MaxNumber(BitMapView map) {
  const uint64_t bits = static_cast<uint64_t>(map.size()) * 8;
  return static_cast<uint32_t>(std::min<uint64_t>(bits, UINT32_MAX));
}

// The lowest `bits_in_byte` bits of a byte.
inline uint8_t LowMask(uint32_t bits_in_byte) {
  return bits_in_byte >= 8 ? 0xFF : static_cast<uint8_t>((1u << bits_in_byte) - 1);
}

}  // namespace

void AndBitMaps(BitMapView source, BitMapSpan destination) {
  const size_t n = std::min(source.size(), destination.size());
  for (size_t i = 0; i < n; ++i) destination[i] &= source[i];
}

void OrBitMaps(BitMapView source, BitMapSpan destination) {
  const size_t n = std::min(source.size(), destination.size());
  for (size_t i = 0; i < n; ++i) destination[i] |= source[i];
}

void NotBitMap(BitMapView source, BitMapSpan destination) {
  const size_t n = std::min(source.size(), destination.size());
  for (size_t i = 0; i < n; ++i) destination[i] = static_cast<uint8_t>(~source[i]);
}

void SetAllBits(BitMapSpan map) { std::fill(map.begin(), map.end(), uint8_t{0xFF}); }

void ClearAllBits(BitMapSpan map) { std::fill(map.begin(), map.end(), uint8_t{0}); }

void SetBit(uint32_t n, BitMapSpan map) {
  if (n == 0 || n > MaxNumber(map)) return;
  map[(n - 1) / 8] |= static_cast<uint8_t>(1u << ((n - 1) % 8));
}

void ClearBit(uint32_t n, BitMapSpan map) {
  if (n == 0 || n > MaxNumber(map)) return;
  map[(n - 1) / 8] &= static_cast<uint8_t>(~(1u << ((n - 1) % 8)));
}

bool TestBit(uint32_t n, BitMapView map) {
  if (n == 0 || n > MaxNumber(map)) return false;
  return (map[(n - 1) / 8] >> ((n - 1) % 8)) & 1;
}

bool FindNextBit(BitMapView map, uint32_t limit, uint32_t& n) {
  const uint32_t last = std::min(limit, MaxNumber(map));
  if (n >= last) return false;
  const uint32_t first = n + 1;  // no overflow: n < last <= UINT32_MAX
  size_t byte = (first - 1) / 8;
  const size_t last_byte = (last - 1) / 8;
  // Clear the bits below `first` in its byte, then skip whole zero bytes.
  uint8_t bits = static_cast<uint8_t>(map[byte] & ~LowMask((first - 1) % 8));
  while (bits == 0) {
    if (byte == last_byte) return false;
    bits = map[++byte];
  }
  const uint32_t found = static_cast<uint32_t>(byte * 8 + std::countr_zero(bits) + 1);
  if (found > last) return false;
  n = found;
  return true;
}

bool FindPriorBit(BitMapView map, uint32_t& n) {
  if (n <= 1) return false;
  const uint32_t top = std::min(n - 1, MaxNumber(map));
  if (top == 0) return false;
  size_t byte = (top - 1) / 8;
  // Keep the bits up to `top` in its byte, then skip whole zero bytes downward.
  uint8_t bits = static_cast<uint8_t>(map[byte] & LowMask((top - 1) % 8 + 1));
  while (bits == 0) {
    if (byte == 0) return false;
    bits = map[--byte];
  }
  n = static_cast<uint32_t>(byte * 8 + (7 - std::countl_zero(bits)) + 1);
  return true;
}

uint32_t CountBits(BitMapView map, uint32_t limit) {
  const uint32_t last = std::min(limit, MaxNumber(map));
  if (last == 0) return 0;
  const size_t whole = last / 8;
  uint32_t count = 0;
  for (size_t i = 0; i < whole; ++i) count += std::popcount(map[i]);
  if (last % 8 != 0) count += std::popcount(static_cast<uint8_t>(map[whole] & LowMask(last % 8)));
  return count;
}

uint32_t CountBitsUpTo(uint32_t n, BitMapView map, uint32_t limit) {
  return CountBits(map, std::min(n, limit));
}

}  // namespace tessera
