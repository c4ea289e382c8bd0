// Little-endian readers and writers for file images.
//
// Every integer stored in a data, index or blob file goes through these helpers; file bytes are
// never overlaid with structs (alignment, padding and host byte order would leak into the format).
// The order-preserving big-endian key encoders live with the keys, not here.
#pragma once

#include <cstdint>
#include <cstring>

namespace cl {

inline uint16_t GetU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetU64LE(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32LE(p)) | (static_cast<uint64_t>(GetU32LE(p + 4)) << 32);
}
inline int16_t GetI16LE(const uint8_t* p) { return static_cast<int16_t>(GetU16LE(p)); }
inline int32_t GetI32LE(const uint8_t* p) { return static_cast<int32_t>(GetU32LE(p)); }
inline int64_t GetI64LE(const uint8_t* p) { return static_cast<int64_t>(GetU64LE(p)); }
inline double GetF64LE(const uint8_t* p) {
  uint64_t bits = GetU64LE(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

inline void PutU16LE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32LE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void PutU64LE(uint8_t* p, uint64_t v) {
  PutU32LE(p, static_cast<uint32_t>(v));
  PutU32LE(p + 4, static_cast<uint32_t>(v >> 32));
}
inline void PutI16LE(uint8_t* p, int16_t v) { PutU16LE(p, static_cast<uint16_t>(v)); }
inline void PutI32LE(uint8_t* p, int32_t v) { PutU32LE(p, static_cast<uint32_t>(v)); }
inline void PutI64LE(uint8_t* p, int64_t v) { PutU64LE(p, static_cast<uint64_t>(v)); }
inline void PutF64LE(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU64LE(p, bits);
}

}  // namespace cl
