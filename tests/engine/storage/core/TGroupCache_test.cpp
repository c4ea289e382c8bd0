#include "engine/storage/core/TGroupCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <utility>
#include <vector>

namespace tessera {
namespace {

// The groups against a model: a kept group is copied back (its own records, up to the
// count read, as last patched) until it is forgotten, taken again or pushed out as the least
// recently used of kMaxGroups; a Take without its Keep (a failed read) leaves nothing behind.
// Records are rewritten now and then, and patched into whatever groups hold them.
TEST(GroupCacheTest, AgreeWithAModel) {
  TGroupCache groups;
  groups.Configure(64);
  const uint32_t per = groups.GroupUnits();
  ASSERT_EQ(per, 64u);
  std::map<uint32_t, std::pair<uint32_t, uint64_t>> model;  // group -> count, last use
  uint64_t clock = 0;
  std::map<uint32_t, uint8_t> version;  // record -> times rewritten
  auto fill = [&](uint32_t number, uint8_t* out) {
    std::memset(out, (number * 7 + version[number] * 13) % 251, 64);
  };
  std::mt19937 rng(7);
  for (int step = 0; step < 30000; ++step) {
    const uint32_t group = rng() % (TGroupCache::kMaxGroups * 3 / 2);
    const uint32_t op = rng() % 9;
    if (op == 8) {
      const uint32_t first = group * per + 1 + rng() % per, count = 1 + rng() % 100;
      std::vector<uint8_t> images(size_t{count} * 64);
      for (uint32_t i = 0; i < count; ++i) {
        ++version[first + i];
        fill(first + i, images.data() + i * 64);
      }
      groups.Patch(first, count, images.data());
    } else if (op == 0) {
      const uint32_t first = group * per + 1 + rng() % per, count = 1 + rng() % 100;
      groups.Forget(first, count);
      for (uint32_t g = (first - 1) / per; g <= (first + count - 2) / per; ++g) model.erase(g);
    } else if (op <= 3) {
      uint8_t* room = groups.Take(group);
      model.erase(group);
      if (op == 3) continue;
      const uint32_t count = 1 + rng() % per;
      for (uint32_t i = 0; i < count; ++i) fill(group * per + 1 + i, room + i * 64);
      groups.Keep(group, count);
      model[group] = {count, ++clock};
      if (model.size() > TGroupCache::kMaxGroups) {
        model.erase(std::min_element(model.begin(), model.end(), [](auto& a, auto& b) {
                      return a.second.second < b.second.second;
                    })->first);
      }
    } else {
      const uint32_t number = group * per + 1 + rng() % per;
      uint8_t got[64], want[64];
      const auto held = model.find(group);
      const bool expected = held != model.end() && (number - 1) % per < held->second.first;
      ASSERT_EQ(groups.Copy(number, got), expected) << step;
      if (!expected) continue;
      held->second.second = ++clock;
      fill(number, want);
      ASSERT_EQ(std::memcmp(got, want, 64), 0) << step;
    }
    ASSERT_EQ(groups.Size(), model.size()) << step;
  }
}

}  // namespace
}  // namespace tessera
