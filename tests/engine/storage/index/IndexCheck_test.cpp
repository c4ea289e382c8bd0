#include "engine/storage/index/IndexCheck.h"

#include <gtest/gtest.h>

#include <fstream>

#include "IndexTreeTestHost.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/values/KeyEncoding.h"

namespace tessera::testing {
namespace {

class IndexCheckTest : public TreeFixture {
 protected:
  static void SetUpTestSuite() { InitializeEngine(); }
  void SetUp() override {
    TreeFixture::SetUp();
    Make(0, Descriptor(20, kCompressNone));
    for (uint32_t n = 1; n <= 2000; ++n) {
      Bytes key(20, 0);
      key[0] = 1;
      EncodeInt32Key(static_cast<int32_t>(n), key.data() + 1);
      tree_->InsertKey(key.data(), n);
    }
    for (uint32_t n = 1; n <= 500; ++n) {
      Bytes key(20, 0);
      key[0] = 1;
      EncodeInt32Key(static_cast<int32_t>(n * 3), key.data() + 1);
      tree_->DeleteKey(key.data(), n * 3);
    }
    ASSERT_TRUE(Check().ok);
    root_ = IndexRoot(*host_, 0);
  }
  // Changes the bytes of a page on disk and checks the whole file.
  TIndexCheckReport Damaged(uint32_t offset, const std::function<void(uint8_t*)>& change) {
    cache_->Flush();
    uint8_t image[kIndexPageSize];
    host_->File().ReadAt(offset, image, kIndexPageSize);
    change(image);
    host_->File().WriteAt(offset, image, kIndexPageSize);
    return Check();
  }
  uint32_t Child(int slot) {
    uint8_t image[kIndexPageSize];
    host_->File().ReadAt(root_, image, kIndexPageSize);
    return cl::GetU32LE(image + kPageEntries + (slot - 1) * 28 + 20);
  }
  uint32_t root_ = 0;
};

TEST_F(IndexCheckTest, SoundFileCountsItsKeysAndPages) {
  const TIndexCheckReport report = Check();
  EXPECT_TRUE(report.ok);
  EXPECT_EQ(report.keys[0], 1500u);
  EXPECT_GT(report.free_pages, 0u) << "merges freed pages";
  EXPECT_EQ(report.tree_pages + report.free_pages + 1, IndexEndOffset(*host_) / kIndexPageSize);
}

TEST_F(IndexCheckTest, WrongSubtreeCount) {
  const TIndexCheckReport report = Damaged(root_, [](uint8_t* p) {
    cl::PutU32LE(p + kPageEntries + 24, cl::GetU32LE(p + kPageEntries + 24) + 1);
  });
  EXPECT_FALSE(report.ok);
  EXPECT_NE(report.problem.find("count"), std::string::npos) << report.problem;
}

TEST_F(IndexCheckTest, KeysOutOfOrder) {
  const TIndexCheckReport report = Damaged(Child(2), [](uint8_t* p) {
    p[kPageEntries + 24 + 3] = 0xFF;  // the second entry's key now sorts after the third
  });
  EXPECT_FALSE(report.ok);
  EXPECT_NE(report.problem.find("order"), std::string::npos) << report.problem;
}

TEST_F(IndexCheckTest, PageReachedTwice) {
  const uint32_t first = Child(1);
  const TIndexCheckReport report =
      Damaged(root_, [&](uint8_t* p) { cl::PutU32LE(p + kPageEntries + 28 + 20, first); });
  EXPECT_FALSE(report.ok);
}

TEST_F(IndexCheckTest, CyclicFreeChain) {
  const uint32_t head = IndexFreeHead(*host_, 0);
  ASSERT_NE(head, 0u);
  const TIndexCheckReport report =
      Damaged(head, [&](uint8_t* p) { cl::PutU32LE(p + kPageNext, head); });
  EXPECT_FALSE(report.ok);
  EXPECT_NE(report.problem.find("twice"), std::string::npos) << report.problem;
}

TEST_F(IndexCheckTest, LeakedPage) {
  SetIndexEndOffset(*host_, IndexEndOffset(*host_) + kIndexPageSize);
  const TIndexCheckReport report = Check();
  EXPECT_FALSE(report.ok);
  EXPECT_TRUE(Check(false).ok) << "unless every page need not be reached";
}

TEST_F(IndexCheckTest, BrokenNeighbourLink) {
  const TIndexCheckReport report =
      Damaged(Child(2), [](uint8_t* p) { cl::PutU32LE(p + kPagePrev, 0); });
  EXPECT_FALSE(report.ok);
  EXPECT_NE(report.problem.find("neighbour"), std::string::npos) << report.problem;
}

}  // namespace
}  // namespace tessera::testing
