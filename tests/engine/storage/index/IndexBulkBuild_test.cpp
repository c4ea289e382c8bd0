#include "engine/storage/index/IndexBulkBuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "IndexTreeTestHost.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/values/KeyEncoding.h"

namespace tessera::testing {
namespace {

using Entries = std::vector<std::pair<Bytes, uint32_t>>;

struct Shape {
  uint16_t k;
  uint8_t mode;
  bool descending;
  bool duplicates;  // a secondary index whose keys repeat (else the primary, all distinct)
};

class IndexBulkBuildTest : public TreeFixture {
 protected:
  static void SetUpTestSuite() { InitializeEngine(); }

  void MakeFor(const Shape& s) {
    if (host_) {
      TearDown();
      std::filesystem::remove(Path());
    }
    TIndexDescriptor d = Descriptor(s.k, s.mode, false, s.descending);
    if (!s.duplicates) d.name.clear();
    Make(s.duplicates ? 1 : 0, d, 64);
  }

  // Keys sharing a long stem and zero tails (every compression mode has work); with duplicates
  // from a domain of a few dozen values, else distinct.
  static Entries MakeEntries(const Shape& s, size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> values(n);
    std::iota(values.begin(), values.end(), 0u);
    std::shuffle(values.begin(), values.end(), rng);
    Entries out;
    for (size_t i = 0; i < n; ++i) {
      Bytes key(s.k, 0);
      const size_t stem = std::min<size_t>(s.k - 4, 12);
      std::fill(key.begin(), key.begin() + static_cast<ptrdiff_t>(stem), 'q');
      const uint32_t v = s.duplicates ? static_cast<uint32_t>(rng() % 40) : values[i];
      EncodeInt32Key(static_cast<int32_t>(v), key.data() + s.k - 4);
      out.emplace_back(std::move(key), static_cast<uint32_t>(i + 1));
    }
    return out;
  }

  Entries ReadAll() {
    Entries seen;
    cursor_->First();
    Bytes key;
    while (!cursor_->AtEnd() && !cursor_->AtBeginning()) {
      key.assign(IndexParamsOf(host_->HeaderImage(), host_->CurrentSlot()).key_length, 0);
      EXPECT_TRUE(cursor_->CurrentKey(key.data()));
      seen.emplace_back(key, cursor_->CurrentRecordNumber());
      cursor_->MoveBy(1);
    }
    return seen;
  }
};

// The tree built bottom up holds what inserts in record order build, entry for entry and
// position for position, passes the index check, and takes further changes as any tree does.
TEST_F(IndexBulkBuildTest, EqualsTheTreeInsertsBuild) {
  const Shape shapes[] = {{5, kCompressNone, false, false},       {20, kCompressNone, true, false},
                          {20, kCompressLeading, false, true},    {20, kCompressBoth, false, true},
                          {255, kCompressTrailing, false, false}, {255, kCompressBoth, true, true}};
  for (const Shape& s : shapes) {
    // One entry, just past one leaf, and enough for three levels at the larger keys.
    for (const size_t n : {size_t{1}, LeafCapacity(s.k) + 1, size_t{4000}}) {
      SCOPED_TRACE("k " + std::to_string(s.k) + " mode " + std::to_string(s.mode) + " n " +
                   std::to_string(n));
      const Entries entries = MakeEntries(s, n, static_cast<uint32_t>(n * 31 + s.k));

      MakeFor(s);
      for (const auto& [key, record] : entries) tree_->InsertKey(key.data(), record);
      const Entries inserted = ReadAll();
      ASSERT_EQ(inserted.size(), n);

      MakeFor(s);
      Entries sorted = entries;
      const TKeyOrder order = tree_->CurrentOrder();
      std::stable_sort(sorted.begin(), sorted.end(), [&](const auto& a, const auto& b) {
        return order.Compare(a.first.data(), b.first.data(), s.k) < 0;
      });
      Bytes keys;
      std::vector<uint32_t> numbers;
      for (const auto& [key, record] : sorted) {
        keys.insert(keys.end(), key.begin(), key.end());
        numbers.push_back(record);
      }
      BuildIndexTree(*host_, *cache_, keys.data(), numbers.data(), n);
      tree_->BumpVersion();
      TIndexCheckReport report = Check();
      ASSERT_TRUE(report.ok) << report.problem;
      EXPECT_EQ(report.keys[s.duplicates ? 1 : 0], n);
      Reopen(64);
      ASSERT_EQ(ReadAll(), inserted);
      EXPECT_EQ(tree_->KeyCount(), n);
      for (const uint32_t p :
           {uint32_t{1}, static_cast<uint32_t>(n / 2 + 1), static_cast<uint32_t>(n)}) {
        cursor_->GotoPosition(p);
        EXPECT_EQ(cursor_->CurrentRecordNumber(), inserted[p - 1].second) << "position " << p;
      }
      // Full pages split and emptied ones go as after inserts.
      Bytes extra = entries.front().first;
      extra[0] = 'z';
      tree_->InsertKey(extra.data(), static_cast<uint32_t>(n + 1));
      tree_->DeleteKey(entries.back().first.data(), entries.back().second);
      report = Check();
      ASSERT_TRUE(report.ok) << report.problem;
      EXPECT_EQ(report.keys[s.duplicates ? 1 : 0], n);
    }
  }
}

}  // namespace
}  // namespace tessera::testing
