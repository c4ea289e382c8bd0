#include "engine/storage/core/TFlatIndex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>

namespace tessera {
namespace {

// Random inserts, overwrites and erases against std::unordered_map, over key sets that crowd
// probe runs (page offsets share their low bits; a small range forces wrap-around and long runs),
// with every model key looked up after each batch.
TEST(TFlatIndexTest, MatchesMapModelUnderChurn) {
  struct Case {
    const char* name;
    uint32_t key_range;
    uint32_t stride;
  };
  for (const Case& c : {Case{"record numbers", 300, 1}, Case{"page offsets", 400, 4096},
                        Case{"dense small", 24, 1}}) {
    const uint32_t seed = std::random_device{}();
    SCOPED_TRACE(std::string(c.name) + " seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    TFlatIndex<uint64_t> index;
    std::unordered_map<uint32_t, uint64_t> model;
    for (int batch = 0; batch < 60; ++batch) {
      for (int op = 0; op < 200; ++op) {
        const uint32_t key = (1 + rng() % c.key_range) * c.stride;
        if (rng() % 3 == 0) {
          index.Erase(key);
          model.erase(key);
        } else {
          const uint64_t value = rng();
          index.Insert(key, value);
          model[key] = value;
        }
      }
      ASSERT_EQ(index.Size(), model.size());
      for (uint32_t k = 1; k <= c.key_range; ++k) {
        const uint32_t key = k * c.stride;
        const auto it = model.find(key);
        const uint64_t* got = index.Find(key);
        ASSERT_EQ(got != nullptr, it != model.end()) << "key " << key;
        if (got != nullptr) {
          ASSERT_EQ(*got, it->second) << "key " << key;
        }
      }
    }
    index.Clear();
    EXPECT_EQ(index.Size(), 0u);
    EXPECT_EQ(index.Find(c.stride), nullptr);
  }
}

}  // namespace
}  // namespace tessera
