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

// ReadSpanThrough, against a model of the groups held: on a file whose groups all fit, one read
// from the first unit of the aligned run of kSpanGroups about the wanted group, trimmed at either
// end while the groups there are held, and cut at the end of the file; a larger file reads the
// wanted group alone.  Whole units read come back as the file has them, the groups held before
// keep theirs, and a short read keeps what it brought.
TEST(GroupCacheTest, SpanReadsBringTheMissingGroupsAboutAUnit) {
  std::mt19937 rng(11);
  for (const uint32_t units : {1u, 63u, 64u * 40 + 5, 64u * TGroupCache::kMaxGroups + 1}) {
    SCOPED_TRACE(units);
    TGroupCache groups;
    groups.Configure(64);
    const uint32_t per = groups.GroupUnits();
    const uint32_t group_count = (units - 1) / per + 1;
    const bool spans = group_count <= TGroupCache::kMaxGroups;
    std::vector<uint32_t> held(group_count, 0);  // units held per group
    auto fill = [](uint32_t number, uint8_t* out) { std::memset(out, number * 7 % 251, 64); };
    for (int step = 0; step < 400; ++step) {
      const uint32_t number = 1 + rng() % units;
      const uint32_t group = (number - 1) / per;
      if (step % 5 == 4) {
        const uint32_t count = 1 + rng() % 200;
        groups.Forget(number, count);
        for (uint32_t g = group; g <= std::min((number + count - 2) / per, group_count - 1); ++g) {
          held[g] = 0;
        }
        continue;
      }
      uint8_t got[64], want[64];
      fill(number, want);
      const bool expected = (number - 1) % per < held[group];
      if (held[group] != 0) {
        ASSERT_EQ(groups.Copy(number, got), expected) << step;
        continue;
      }
      uint32_t low = group, high = group + 1;
      if (spans) {
        low = group - group % TGroupCache::kSpanGroups;
        high = std::min(low + TGroupCache::kSpanGroups, group_count);
        while (low < group && held[low] != 0) ++low;
        while (high > group + 1 && held[high - 1] != 0) --high;
      }
      const uint32_t first = low * per + 1;
      const uint32_t count = std::min(units - first + 1, (high - low) * per);
      const bool short_read = rng() % 4 == 0;
      uint32_t reads = 0, brought = 0;
      const bool read =
          groups.ReadSpanThrough(number, units, got, [&](uint32_t from, uint32_t n, uint8_t* room) {
            ++reads;
            EXPECT_EQ(from, first) << step;
            EXPECT_EQ(n, count) << step;
            brought = short_read ? rng() % (n + 1) : n;
            for (uint32_t i = 0; i < brought; ++i) fill(from + i, room + i * 64);
            return brought;
          });
      ASSERT_EQ(reads, 1u) << step;
      for (uint32_t g = low, at = 0; g < high && at < brought; ++g, at += per) {
        if (held[g] == 0) held[g] = std::min(per, brought - at);
      }
      ASSERT_EQ(read, number - first < brought) << step;
      if (read) {
        ASSERT_EQ(std::memcmp(got, want, 64), 0) << step;
      }
      for (uint32_t probe = 1; probe <= units; probe += 1 + rng() % 97) {
        const uint32_t g = (probe - 1) / per;
        ASSERT_EQ(groups.Copy(probe, got), (probe - 1) % per < held[g]) << step << " " << probe;
        if ((probe - 1) % per < held[g]) {
          fill(probe, want);
          ASSERT_EQ(std::memcmp(got, want, 64), 0) << step << " " << probe;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tessera
