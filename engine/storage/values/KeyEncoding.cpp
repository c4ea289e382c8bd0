#include "engine/storage/values/KeyEncoding.h"

#include <cstring>

namespace tessera {
namespace {

void PutBigEndian(uint64_t v, size_t n, uint8_t* dst) {
  for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
}

}  // namespace

void EncodeInt16Key(int16_t value, uint8_t* dst) {
  PutBigEndian(static_cast<uint16_t>(value) ^ 0x8000u, kInt16KeySize, dst);
}

void EncodeInt32Key(int32_t value, uint8_t* dst) {
  PutBigEndian(static_cast<uint32_t>(value) ^ 0x80000000u, kInt32KeySize, dst);
}

void EncodeInt64Key(int64_t value, uint8_t* dst) {
  PutBigEndian(static_cast<uint64_t>(value) ^ 0x8000000000000000ull, kInt64KeySize, dst);
}

void EncodeWordKey(uint16_t value, uint8_t* dst) { PutBigEndian(value, kWordKeySize, dst); }

void EncodeFloatKey(double value, uint8_t* dst) {
  if (value == 0.0) value = 0.0;  // -0 takes the bytes of +0
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const uint64_t sign = 0x8000000000000000ull;
  bits = (bits & sign) ? ~bits : (bits | sign);
  PutBigEndian(bits, kFloatKeySize, dst);
}

void FillKeyLow(uint8_t* key, size_t length, size_t start) {
  if (start < length) std::memset(key + start, 0, length - start);
}

void FillKeyHigh(uint8_t* key, size_t length, size_t start) {
  if (start < length) std::memset(key + start, 0xFF, length - start);
}

void IncrementKey(uint8_t* key, size_t length) {
  size_t i = length;
  while (i > 0 && key[i - 1] == 0xFF) --i;
  if (i == 0) return;  // all 255: the highest key already
  ++key[i - 1];
  std::memset(key + i, 0, length - i);
}

void DecrementKey(uint8_t* key, size_t length) {
  size_t i = length;
  while (i > 0 && key[i - 1] == 0) --i;
  if (i == 0) return;  // all 0: the lowest key already
  --key[i - 1];
  std::memset(key + i, 0xFF, length - i);
}

void InvertBytes(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
}

size_t CommonPrefixLength(const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

size_t TrailingZeroCount(const uint8_t* p, size_t n) {
  size_t count = 0;
  while (count < n && p[n - 1 - count] == 0) ++count;
  return count;
}

void ZeroFill(uint8_t* p, size_t n) {
  if (n > 0) std::memset(p, 0, n);
}

}  // namespace tessera
