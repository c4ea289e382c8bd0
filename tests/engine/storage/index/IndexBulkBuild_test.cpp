#include "engine/storage/index/IndexBulkBuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "IndexTreeTestHost.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/values/KeyEncoding.h"

namespace tessera::testing {
namespace {

using IndexBulkBuildTest = TreeFixture;

// Built bottom up, the tree holds what inserts in record order build, entry for entry, passes
// the index check (subtree counts included) and takes further changes.  Keys share a stem and
// zero tails (work for every compression); a secondary index repeats them.
TEST_F(IndexBulkBuildTest, EqualsTheTreeInsertsBuild) {
  InitializeEngine();
  using Entries = std::vector<std::pair<Bytes, uint32_t>>;
  auto read_all = [&](size_t k) {
    Entries seen;
    Bytes key(k);
    for (cursor_->First(); !cursor_->AtEnd() && !cursor_->AtBeginning(); cursor_->MoveBy(1)) {
      EXPECT_TRUE(cursor_->CurrentKey(key.data()));
      seen.emplace_back(key, cursor_->CurrentRecordNumber());
    }
    return seen;
  };
  struct Shape {
    uint16_t k;
    uint8_t mode;
    bool descending, duplicates;
  };
  const Shape shapes[] = {{5, kCompressNone, false, false},       {20, kCompressNone, true, false},
                          {20, kCompressLeading, false, true},    {20, kCompressBoth, false, true},
                          {255, kCompressTrailing, false, false}, {255, kCompressBoth, true, true}};
  for (const Shape& s : shapes) {
    for (const size_t n : {size_t{1}, LeafCapacity(s.k) + 1, size_t{4000}}) {
      SCOPED_TRACE("k " + std::to_string(s.k) + " mode " + std::to_string(s.mode) + " n " +
                   std::to_string(n));
      std::mt19937 rng(static_cast<uint32_t>(n + s.k));
      Entries entries;
      for (uint32_t i = 0; i < n; ++i) {
        Bytes key(s.k, 0);
        std::fill(key.begin(), key.begin() + std::min<ptrdiff_t>(s.k - 4, 12), 'q');
        const uint32_t v = s.duplicates ? rng() % 40 : (i * 7919u) % 100003u;
        EncodeInt32Key(static_cast<int32_t>(v), key.data() + s.k - 4);
        entries.emplace_back(std::move(key), i + 1);
      }
      const int slot = s.duplicates ? 1 : 0;
      TIndexDescriptor d = Descriptor(s.k, s.mode, false, s.descending);
      if (slot == 0) d.name.clear();
      Make(slot, d, 64);
      for (const auto& [key, record] : entries) tree_->InsertKey(key.data(), record);
      const Entries inserted = read_all(s.k);
      ASSERT_EQ(inserted.size(), n);

      TearDown();
      std::filesystem::remove(Path());
      Make(slot, d, 64);
      const TKeyOrder order = tree_->CurrentOrder();
      std::stable_sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
        return order.Compare(a.first.data(), b.first.data(), s.k) < 0;
      });
      Bytes keys;
      std::vector<uint32_t> numbers;
      for (const auto& [key, record] : entries) {
        keys.insert(keys.end(), key.begin(), key.end());
        numbers.push_back(record);
      }
      BuildIndexTree(*host_, *cache_, keys.data(), numbers.data(), n);
      tree_->BumpVersion();
      Reopen(64);
      ASSERT_EQ(read_all(s.k), inserted);
      Bytes extra = entries.front().first;
      extra[0] = 'z';
      tree_->InsertKey(extra.data(), static_cast<uint32_t>(n + 1));
      tree_->DeleteKey(entries.back().first.data(), entries.back().second);
      const TIndexCheckReport report = Check();
      ASSERT_TRUE(report.ok) << report.problem;
      EXPECT_EQ(report.keys[slot], n);
    }
  }
}

}  // namespace
}  // namespace tessera::testing
