#include "engine/storage/index/TPageCache.h"

#include <gtest/gtest.h>

#include "IndexTreeTestHost.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/values/KeyEncoding.h"

namespace tessera::testing {
namespace {

Bytes Key(uint32_t n) {
  Bytes key(20, 0);
  key[0] = 1;
  EncodeInt32Key(static_cast<int32_t>(n), key.data() + 1);
  return key;
}

class PageCacheTest : public TreeFixture {
 protected:
  static void SetUpTestSuite() { InitializeEngine(); }
  // About 40 leaves of K = 20 keys, all on disk, nothing cached.
  void Build(size_t cache_pages) {
    Make(0, Descriptor(20, kCompressNone), cache_pages);
    for (uint32_t n = 1; n <= 6000; ++n) tree_->InsertKey(Key(n).data(), n);
    Reopen(cache_pages);
  }
};

TEST_F(PageCacheTest, LeastRecentlyUsedCleanPagesMakeRoom) {
  Build(4);
  host_->disk_reads = 0;
  cursor_->First();
  for (int i = 0; i < 5999; ++i) cursor_->MoveBy(1);
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 6000u);
  EXPECT_LE(cache_->ListSize(0), 4u) << "clean pages are reused, the list does not grow";
  const int64_t reads = host_->disk_reads;
  EXPECT_GE(reads, 40);
  // The last leaf is among the most recently used: going back to the end reads the root only.
  cursor_->GotoPosition(6000);
  EXPECT_LE(host_->disk_reads, reads + 1);
  EXPECT_GT(cache_->CacheHits(), 0u);
}

TEST_F(PageCacheTest, DirtyPagesAreWrittenBackOutsideTheExclusivePhase) {
  Build(3);
  host_->disk_writes = 0;
  for (uint32_t n = 1; n <= 6000; n += 50) tree_->DeleteKey(Key(n).data(), n);
  EXPECT_GT(host_->disk_writes, 0) << "evicting dirty pages writes them";
  EXPECT_LE(cache_->ListSize(0), 8u) << "beyond 3 only by the pages one operation pins";
  EXPECT_TRUE(Check().ok);
}

TEST_F(PageCacheTest, ExclusivePhaseGrowsTheListAndWritesNothingUntilFlush) {
  Build(3);
  host_->exclusive_phase = true;
  host_->disk_writes = 0;
  for (uint32_t n = 1; n <= 6000; n += 50) tree_->DeleteKey(Key(n).data(), n);
  EXPECT_EQ(host_->disk_writes, 0);
  EXPECT_GT(cache_->ListSize(0), 3u);
  EXPECT_GE(cache_->ListSize(0), 3u + TPageCache::kGrowth) << "grown by 64 pages at a time";
  const size_t dirty = cache_->DirtyCount();
  host_->exclusive_phase = false;
  cache_->Flush();
  EXPECT_EQ(cache_->DirtyCount(), 0u);
  EXPECT_LT(host_->disk_writes, static_cast<int64_t>(dirty)) << "consecutive pages go in runs";
  EXPECT_EQ(cache_->ListSize(0), 3u) << "trimmed back after the flush";
  EXPECT_TRUE(Check().ok);
}

TEST_F(PageCacheTest, InvalidateDropsUnwrittenPages) {
  Build(31);
  tree_->InsertKey(Key(7000).data(), 7000);
  cache_->Invalidate();
  tree_->BumpVersion();
  EXPECT_FALSE(tree_->Contains(Key(7000).data()));
  EXPECT_EQ(tree_->KeyCount(), 6000u);
}

TEST_F(PageCacheTest, ChangeSeenBeforeADiskReadRestartsFromTheRoot) {
  Build(2);
  int calls = 0;
  host_->read_lock_hook = [&] {
    // The second disk read of the operation finds the table changed: the host drops the cache.
    if (++calls != 2) return false;
    cache_->Invalidate();
    return true;
  };
  EXPECT_TRUE(tree_->Contains(Key(4321).data()));
  EXPECT_GT(calls, 2) << "the operation ran again after the restart";
  tree_->DeleteKey(Key(4321).data(), 4321);
  EXPECT_FALSE(tree_->Contains(Key(4321).data()));
  host_->read_lock_hook = nullptr;
  EXPECT_TRUE(Check().ok);
}

// Lookups grow a full list up to the cache's bound and keep what they grew through a flush; a
// walk along the leaves and changes recycle pages as before.
TEST_F(PageCacheTest, LookupsGrowTheListUpToTheBound) {
  Build(4);
  cache_->SetListCapacity(4, 24);
  cursor_->First();
  for (int i = 0; i < 5999; ++i) cursor_->MoveBy(1);
  EXPECT_LE(cache_->ListSize(0), 4u) << "a walk does not grow the list";
  for (uint32_t n = 1; n <= 6000; n += 50) tree_->DeleteKey(Key(n).data(), n);
  EXPECT_LE(cache_->ListSize(0), 8u) << "nor do changes, beyond their pins";
  const size_t before = cache_->ListSize(0);
  host_->disk_reads = 0;
  for (uint32_t n = 2; n <= 6000; n += 7) tree_->LowerBound(Key(n).data(), 20);
  EXPECT_GT(host_->disk_reads, 24) << "the tree has more leaves than the bound";
  EXPECT_GT(cache_->ListSize(0), before);
  EXPECT_EQ(cache_->ListSize(0), 24u) << "lookups grow it up to the bound";
  EXPECT_EQ(cache_->PageCount(), 24u);
  // The pages the lookups brought in stay: finding them again reads nothing.
  host_->disk_reads = 0;
  tree_->LowerBound(Key(5996).data(), 20);
  tree_->LowerBound(Key(5989).data(), 20);
  EXPECT_EQ(host_->disk_reads, 0);
  cache_->Flush();
  EXPECT_EQ(cache_->ListSize(0), 24u) << "a flush trims no further than the lookups grew";
  EXPECT_TRUE(Check().ok);
  // Pages that already hold more memory than the bound give no room to grow.
  cache_->SetListCapacity(4, SIZE_MAX, 4 * kIndexPageSize);
  for (uint32_t n = 2; n <= 6000; n += 7) tree_->LowerBound(Key(n).data(), 20);
  EXPECT_LE(cache_->ListSize(0), 4u) << "the memory bound holds the list to its capacity";
}

// Pages a change check emptied are taken again before lookups grow the list: after each check
// that found the file moved, the same finds reread their pages into the emptied ones, whatever
// the bound (else every check would leave its pages behind until the bound was reached).
TEST_F(PageCacheTest, LookupsAfterAnInvalidationReuseTheEmptiedPages) {
  Build(4);
  for (const size_t bound : {size_t{24}, size_t{200}}) {
    SCOPED_TRACE(bound);
    cache_->SetListCapacity(4, bound);
    auto finds = [&] {
      for (uint32_t n = 2; n <= 1200; n += 13) tree_->LowerBound(Key(n).data(), 20);
    };
    finds();
    const size_t grown = cache_->PageCount();
    ASSERT_GT(grown, 4u);
    ASSERT_LE(grown, bound);
    for (int round = 0; round < 3; ++round) {
      cache_->Invalidate();
      host_->disk_reads = 0;
      finds();
      EXPECT_GT(host_->disk_reads, 0);
      EXPECT_EQ(cache_->PageCount(), grown) << "round " << round;
    }
    EXPECT_TRUE(Check().ok);
  }
}

}  // namespace
}  // namespace tessera::testing
