#include "engine/storage/index/RecordBitMap.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace tessera {
namespace {

TEST(RecordBitMap, NumberingIsLeastSignificantFirst) {
  uint8_t map[2] = {};
  SetBit(1, map);
  EXPECT_EQ(map[0], 0x01);
  SetBit(8, map);
  EXPECT_EQ(map[0], 0x81);
  SetBit(9, map);
  EXPECT_EQ(map[1], 0x01);
  ClearBit(1, map);
  EXPECT_EQ(map[0], 0x80);
  EXPECT_TRUE(TestBit(8, map));
  EXPECT_FALSE(TestBit(7, map));
}

TEST(RecordBitMap, NumbersOutsideTheMapAreIgnored) {
  // A guard byte behind a one-byte map shows that nothing is written past it.
  uint8_t bytes[2] = {0, 0};
  BitMapSpan map(bytes, 1);
  SetBit(0, map);
  SetBit(9, map);
  SetBit(UINT32_MAX, map);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 0);
  bytes[1] = 0xFF;
  EXPECT_FALSE(TestBit(9, map));
  ClearBit(9, map);
  EXPECT_EQ(bytes[1], 0xFF);
  uint32_t n = 0;
  EXPECT_FALSE(FindNextBit(map, UINT32_MAX, n));
  EXPECT_EQ(CountBits(map, UINT32_MAX), 0u);
  n = UINT32_MAX;
  EXPECT_FALSE(FindPriorBit(map, n));
  EXPECT_FALSE(FindNextBit(BitMapView(), 10, n));
  EXPECT_FALSE(FindPriorBit(BitMapView(), n));
}

TEST(RecordBitMap, SearchesStopAtTheLimit) {
  uint8_t map[2] = {0x80, 0x00};  // only number 8
  uint32_t n = 8;
  EXPECT_FALSE(FindNextBit(map, 16, n));
  n = 0;
  EXPECT_TRUE(FindNextBit(map, 16, n));
  EXPECT_EQ(n, 8u);
  n = 0;
  EXPECT_FALSE(FindNextBit(map, 7, n)) << "a set bit above the limit is ignored";
  n = 1;
  EXPECT_FALSE(FindPriorBit(map, n));
  n = 100;
  EXPECT_TRUE(FindPriorBit(map, n));
  EXPECT_EQ(n, 8u);

  uint8_t full[2] = {0xFF, 0xFF};
  EXPECT_EQ(CountBits(full, 10), 10u);
  EXPECT_EQ(CountBitsUpTo(4, full, 10), 4u);
  EXPECT_EQ(CountBitsUpTo(40, full, 10), 10u);
}

TEST(RecordBitMap, WholeMapOperations) {
  uint8_t a[3] = {0xF0, 0x0F, 0xAA};
  uint8_t b[3] = {0xFF, 0x01, 0x55};
  AndBitMaps(a, b);
  EXPECT_EQ(b[0], 0xF0);
  EXPECT_EQ(b[1], 0x01);
  EXPECT_EQ(b[2], 0x00);
  OrBitMaps(a, b);
  EXPECT_EQ(b[2], 0xAA);
  NotBitMap(a, b);
  EXPECT_EQ(b[0], 0x0F);
  EXPECT_EQ(b[1], 0xF0);
  EXPECT_EQ(b[2], 0x55);
  SetAllBits(b);
  EXPECT_EQ(CountBits(b, 20), 20u) << "bits past the limit are not counted";
  ClearAllBits(b);
  EXPECT_EQ(CountBits(b, 24), 0u);
}

// Every search and count against a vector<bool> reference, with limits and starting numbers
// that pass the end of the map.
TEST(RecordBitMap, MatchesReferenceOnRandomMaps) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 10000; ++round) {
    const size_t length = rng() % 9;
    std::vector<uint8_t> map(length);
    std::vector<bool> ref(length * 8 + 1);  // ref[n] for numbers 1..8 x length
    const int density = static_cast<int>(rng() % 4);
    for (uint32_t n = 1; n <= length * 8; ++n) {
      if (static_cast<int>(rng() % 8) < density) {
        SetBit(n, map);
        ref[n] = true;
      }
    }
    const uint32_t max_number = static_cast<uint32_t>(length * 8);
    const uint32_t limit = static_cast<uint32_t>(rng() % (max_number + 12));
    const uint32_t start = static_cast<uint32_t>(rng() % (max_number + 12));

    uint32_t expect_next = 0;
    for (uint32_t k = start + 1; k <= std::min(limit, max_number); ++k) {
      if (ref[k]) {
        expect_next = k;
        break;
      }
    }
    uint32_t n = start;
    ASSERT_EQ(FindNextBit(map, limit, n), expect_next != 0) << round;
    ASSERT_EQ(n, expect_next != 0 ? expect_next : start) << "a failed search leaves n alone";

    uint32_t expect_prior = 0;
    for (uint32_t k = std::min(start, max_number + 1); k-- > 1;) {
      if (ref[k]) {
        expect_prior = k;
        break;
      }
    }
    n = start;
    ASSERT_EQ(FindPriorBit(map, n), expect_prior != 0) << round;
    ASSERT_EQ(n, expect_prior != 0 ? expect_prior : start) << round;

    // Counts by repeated search, as the counts are defined.
    uint32_t by_search = 0, rank = 0;
    for (uint32_t k = 0; FindNextBit(map, limit, k);) {
      ++by_search;
      if (k <= start) ++rank;
    }
    ASSERT_EQ(CountBits(map, limit), by_search) << round;
    ASSERT_EQ(CountBitsUpTo(start, map, limit), rank) << round;
    for (uint32_t k = 0; k <= max_number + 2; ++k) {
      ASSERT_EQ(TestBit(k, map), k >= 1 && k <= max_number && ref[k]);
    }
  }
}

}  // namespace
}  // namespace tessera
