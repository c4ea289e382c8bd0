#include "engine/storage/core/JournalChecksum.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tessera {
namespace {

constexpr uint64_t kPrime = 0x100000001B3ull;

// Four lanes, each (lane ^ word) * kPrime, then lane ^= lane >> 29, over `blocks` blocks of 32
// bytes.  One multiply chain per lane would be the slowest part of a shared commit.
void MixPortable(const uint8_t* bytes, size_t blocks, uint64_t lane[4]) {
  for (size_t b = 0; b < blocks; ++b, bytes += 32) {
    for (int k = 0; k < 4; ++k) {
      uint64_t word = 0;
      std::memcpy(&word, bytes + 8 * k, 8);
      lane[k] = (lane[k] ^ word) * kPrime;
      lane[k] ^= lane[k] >> 29;
    }
  }
}

#if defined(__x86_64__)
// The same four lanes in one 256-bit register.  There is no 64-bit multiply before AVX-512, but
// kPrime is 2^40 + 0x1B3: x * kPrime = (x << 40) + lo32(x) * 0x1B3 + (hi32(x) * 0x1B3 << 32),
// all modulo 2^64, so two 32-bit multiplies give each lane's product exactly.
__attribute__((target("avx2"), always_inline)) inline __m256i MixBlockAvx2(__m256i h,
                                                                           const uint8_t* bytes,
                                                                           __m256i low_prime) {
  h = _mm256_xor_si256(h, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes)));
  const __m256i low = _mm256_mul_epu32(h, low_prime);
  const __m256i high = _mm256_mul_epu32(_mm256_srli_epi64(h, 32), low_prime);
  h = _mm256_add_epi64(_mm256_add_epi64(low, _mm256_slli_epi64(high, 32)),
                       _mm256_slli_epi64(h, 40));
  return _mm256_xor_si256(h, _mm256_srli_epi64(h, 29));
}

// Two blocks a turn: a journal is kilobytes, and the loop's own count is a fifth of each turn.
__attribute__((target("avx2"))) void MixAvx2(const uint8_t* bytes, size_t blocks,
                                             uint64_t lane[4]) {
  __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lane));
  const __m256i low_prime = _mm256_set1_epi64x(kPrime & 0xFFFFFFFFu);
  size_t b = 0;
  for (; b + 2 <= blocks; b += 2, bytes += 64) {
    h = MixBlockAvx2(h, bytes, low_prime);
    h = MixBlockAvx2(h, bytes + 32, low_prime);
  }
  if (b < blocks) h = MixBlockAvx2(h, bytes, low_prime);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lane), h);
}
static_assert(kPrime >> 32 == 0x100, "MixAvx2 takes the prime's high half as the shift by 40");
#endif

void Mix(const uint8_t* bytes, size_t blocks, uint64_t lane[4]) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return MixAvx2(bytes, blocks, lane);
#endif
  MixPortable(bytes, blocks, lane);
}

constexpr uint64_t kLanes[4] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                                0x27D4EB2F165667C5ull};
// The lanes' fold when no block moved them: most slices of a journal (a piece's 12-byte head)
// are shorter than a block, and need neither the lanes nor the mix.
constexpr uint64_t kUnmixedFold = (kLanes[1] * 3) ^ (kLanes[2] * 5) ^ (kLanes[3] * 7);

inline uint32_t Checksum(const uint8_t* bytes, size_t count) {
  const size_t blocks = count / 32;
  uint64_t hash = kLanes[0] ^ count ^ kUnmixedFold;
  if (blocks > 0) {
    uint64_t lane[4] = {kLanes[0] ^ count, kLanes[1], kLanes[2], kLanes[3]};
    Mix(bytes, blocks, lane);
    hash = lane[0] ^ (lane[1] * 3) ^ (lane[2] * 5) ^ (lane[3] * 7);
  }
  size_t i = blocks * 32;
  // The tail byte by byte, as the format has it, eight to a turn of the loop: a piece's 12-byte
  // head and the ends of pieces are a good part of a journal.
  for (; i + 8 <= count; i += 8) {
    for (size_t k = 0; k < 8; ++k) hash = (hash ^ bytes[i + k]) * kPrime;
  }
  for (; i < count; ++i) hash = (hash ^ bytes[i]) * kPrime;
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

}  // namespace

uint32_t JournalChecksum(const uint8_t* bytes, size_t count) { return Checksum(bytes, count); }

uint32_t JournalSlicesChecksum(const platform::FileSlice* slices, size_t count, size_t skip) {
  uint64_t hash = 0;
  for (size_t i = 0; i < count; ++i) {
    const auto* bytes = static_cast<const uint8_t*>(slices[i].data);
    const size_t from = i == 0 ? skip : 0;
    hash = (hash ^ Checksum(bytes + from, slices[i].count - from)) * kPrime;
  }
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

}  // namespace tessera
