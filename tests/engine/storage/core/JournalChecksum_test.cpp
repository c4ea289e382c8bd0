#include "engine/storage/core/JournalChecksum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tessera {
namespace {

// The checksum as the journal format defines it, one lane and one byte at a time.
uint32_t Reference(const uint8_t* bytes, size_t count) {
  constexpr uint64_t kPrime = 0x100000001B3ull;
  uint64_t lane[4] = {0x9E3779B97F4A7C15ull ^ count, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                      0x27D4EB2F165667C5ull};
  size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    for (size_t k = 0; k < 32; k += 8) {
      uint64_t word = 0;
      for (size_t b = 0; b < 8; ++b) word |= uint64_t{bytes[i + k + b]} << (8 * b);
      uint64_t& l = lane[k / 8];
      l = (l ^ word) * kPrime;
      l ^= l >> 29;
    }
  }
  uint64_t hash = lane[0] ^ (lane[1] * 3) ^ (lane[2] * 5) ^ (lane[3] * 7);
  for (; i < count; ++i) hash = (hash ^ bytes[i]) * kPrime;
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// Every length up to a few hundred bytes (below and above the vector path's threshold, each tail
// length) at every alignment, and journals cut into slices as Commit cuts them, against the
// reference; bytes with every bit set catch a lost carry between the multiply's halves.
TEST(JournalChecksumTest, MatchesReferenceAtEveryLengthAndAlignment) {
  const uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (const char* fill : {"random", "ones", "zeros"}) {
    SCOPED_TRACE(fill);
    std::vector<uint8_t> buffer(5000);
    for (uint8_t& b : buffer) {
      b = fill[0] == 'r' ? static_cast<uint8_t>(rng()) : fill[0] == 'o' ? 0xFF : 0;
    }
    for (size_t count = 0; count <= 300; ++count) {
      for (size_t align = 0; align < 32; align += count < 140 ? 1 : 7) {
        ASSERT_EQ(JournalChecksum(buffer.data() + align, count),
                  Reference(buffer.data() + align, count))
            << "count " << count << " align " << align;
      }
    }
    ASSERT_EQ(JournalChecksum(buffer.data() + 3, 4993), Reference(buffer.data() + 3, 4993));

    for (int journal = 0; journal < 200; ++journal) {
      std::vector<platform::FileSlice> slices;
      uint64_t folded = 0;
      size_t at = 0;
      const size_t skip = journal % 2 == 0 ? 16 : 0;
      while (slices.size() < 12) {
        const size_t count = skip + rng() % (rng() % 4 == 0 ? 600 : 40);
        if (at + count > buffer.size()) break;
        slices.push_back({buffer.data() + at, count});
        const size_t from = slices.size() == 1 ? skip : 0;
        folded = (folded ^ Reference(buffer.data() + at + from, count - from)) * 0x100000001B3ull;
        at += count;
      }
      ASSERT_EQ(JournalSlicesChecksum(slices.data(), slices.size(), skip),
                static_cast<uint32_t>(folded ^ (folded >> 32)))
          << "journal " << journal;
    }
  }
}

}  // namespace
}  // namespace tessera
