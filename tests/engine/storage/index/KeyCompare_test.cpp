// Sort keys of an index order compare byte by byte as the order compares the keys.
#include "engine/storage/index/KeyCompare.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/engine/storage/index/IndexTreeTestHost.h"

namespace tessera::testing {

TEST(KeyCompare, SortKeysOrderAsTheKeysCompare) {
  // Language, index descending, then (type, size, field descending) per field.
  const std::vector<std::vector<int>> shapes = {{0x040C, 0, kFieldString, 8, 0, kFieldInt32, 4, 0},
                                                {0x0407, 0, kFieldString, 5, 1, kFieldString, 4, 0},
                                                {0x0409, 1, kFieldInt16, 2, 0, kFieldString, 6, 1},
                                                {0, 1, kFieldString, 8, 0, kFieldInt16, 2, 1},
                                                // Bytes compared a word at a time, and the tail.
                                                {0, 0, kFieldString, 20, 0, kFieldInt32, 4, 0},
                                                {0, 1, kFieldInt32, 4, 0, kFieldString, 11, 0}};
  // Few letters, so that texts differing only in case, accents, a ligature or a hyphen meet.
  const std::string letters = "aAe\xE9\xC9-'\xE6";
  std::mt19937 rng(7);
  for (size_t k = 0; k < shapes.size(); ++k) {
    const std::vector<int>& shape = shapes[k];
    TestHost host(::testing::TempDir() + "/keycompare.idx");
    host.language = static_cast<uint16_t>(shape[0]);
    TIndexDescriptor d;
    d.descending = static_cast<uint8_t>(shape[1]);
    size_t length = 0;
    for (size_t f = 2; f < shape.size(); f += 3) {
      host.fields[++d.field_count] = {static_cast<uint8_t>(shape[f]),
                                      static_cast<uint16_t>(shape[f + 1])};
      d.field_numbers[d.field_count - 1] = d.field_count;
      d.field_descending[d.field_count - 1] = static_cast<uint8_t>(shape[f + 2]);
      length += shape[f + 1] + 1u;
    }
    d.key_length = static_cast<uint16_t>(length);
    const TKeyOrder order(host, 1, d);
    std::vector<Bytes> keys(150);
    std::vector<std::vector<uint8_t>> sort_keys(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      // As the key builder makes them, with stray bytes where earlier builds may have left them:
      // in a NULL number, and after a text's end.
      for (size_t f = 2; f < shape.size(); f += 3) {
        const uint8_t invert = shape[f + 2] != 0 && shape[1] == 0 ? 0xFF : 0;
        const bool null = rng() % 5 == 0;
        const size_t size = shape[f + 1], chars = null ? 0 : rng() % size;
        keys[i].push_back((null ? 0 : 1) ^ invert);
        for (size_t c = 0; c < size; ++c) {
          if (shape[f] != kFieldString) {
            keys[i].push_back(!null || rng() % 2 ? static_cast<uint8_t>(rng() % 3) : 0);
            continue;
          }
          const bool letter = c < chars || (!null && c == chars + 1 && rng() % 2 == 0);
          const uint8_t b = letter ? letters[rng() % letters.size()] : 0;
          keys[i].push_back(c + 1 < size ? b ^ invert : 0);
        }
      }
      order.AppendSortKey(keys[i].data(), length, sort_keys[i]);
      // A head is the whole sort key's beginning, wherever the limit cuts.
      for (const size_t limit : {1, 5, 8, 13}) {
        std::vector<uint8_t> head;
        order.AppendSortKey(keys[i].data(), length, head, limit);
        const size_t n = std::min(limit, sort_keys[i].size());
        ASSERT_EQ(head, std::vector<uint8_t>(sort_keys[i].begin(), sort_keys[i].begin() + n));
      }
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      for (size_t j = 0; j < keys.size(); ++j) {
        const int got = sort_keys[i] < sort_keys[j] ? -1 : sort_keys[j] < sort_keys[i] ? 1 : 0;
        ASSERT_EQ(got, order.Compare(keys[i].data(), keys[j].data(), length))
            << "shape " << k << ", keys " << i << " and " << j;
      }
    }
  }
}

}  // namespace tessera::testing
