// Order-preserving key encodings of numbers, and the byte-string helpers of index keys.
//
// Every encoder writes a fixed number of bytes, most significant first, chosen so that comparing
// two encodings as unsigned bytes (memcmp) orders them like the values:
//
//   field types     encoder           bytes  form
//   5 (i16)         EncodeInt16Key    2      big-endian two's complement, top bit inverted
//   2, 6, 10 (i32)  EncodeInt32Key    4      big-endian two's complement, top bit inverted
//   8 (money)       EncodeInt64Key    8      the stored integer, big-endian, top bit inverted
//   4, 12 (u16)     EncodeWordKey     2      big-endian, unchanged (True after False)
//   7, 11 (f64)     EncodeFloatKey    8      >= 0: IEEE bytes big-endian with the sign bit set;
//                                            < 0: all eight IEEE bytes big-endian, inverted;
//                                            -0 encodes like 0
//
// These bytes are stored in index pages: the forms never change.  The null byte in front of each
// key field, descending fields and the layout of a whole key belong to the key builder.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera {

inline constexpr size_t kInt16KeySize = 2;
inline constexpr size_t kInt32KeySize = 4;
inline constexpr size_t kInt64KeySize = 8;
inline constexpr size_t kWordKeySize = 2;
inline constexpr size_t kFloatKeySize = 8;

void EncodeInt16Key(int16_t value, uint8_t* dst);
void EncodeInt32Key(int32_t value, uint8_t* dst);
void EncodeInt64Key(int64_t value, uint8_t* dst);
void EncodeWordKey(uint16_t value, uint8_t* dst);
void EncodeFloatKey(double value, uint8_t* dst);

// Range bounds: bytes [start, length) of the key set to 0 (FillKeyLow) or 255 (FillKeyHigh);
// nothing when start >= length.
void FillKeyLow(uint8_t* key, size_t length, size_t start);
void FillKeyHigh(uint8_t* key, size_t length, size_t start);

// Adds 1 to the key as a big-endian number: trailing 255 bytes become 0 and the byte before them
// rises by 1; a key of only 255 bytes stays as it is (no carry out).
void IncrementKey(uint8_t* key, size_t length);
// The mirror: trailing 0 bytes become 255 and the byte before them falls by 1; a key of only 0
// bytes stays as it is.
void DecrementKey(uint8_t* key, size_t length);

// Complements n bytes (descending keys).
void InvertBytes(uint8_t* p, size_t n);

// Number of equal leading bytes of a and b within n.
size_t CommonPrefixLength(const uint8_t* a, const uint8_t* b, size_t n);

// Number of zero bytes at the end of the n bytes at p.
size_t TrailingZeroCount(const uint8_t* p, size_t n);

void ZeroFill(uint8_t* p, size_t n);

}  // namespace tessera
