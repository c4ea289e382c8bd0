#include "engine/storage/core/EngineAlloc.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"

namespace tessera {
namespace {

bool AllZero(const void* p, size_t from, size_t to) {
  const auto* bytes = static_cast<const unsigned char*>(p);
  for (size_t i = from; i < to; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(EngineAllocTest, ZeroFilledBlocksAndZeroTailOnGrowth) {
  EXPECT_EQ(EngineAlloc(0), nullptr);
  EXPECT_EQ(EngineAlloc(-5), nullptr);

  void* block = EngineAlloc(100);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(EngineBlockSize(block), 100);
  EXPECT_TRUE(AllZero(block, 0, 100));
  std::memset(block, 0xAB, 100);

  // Shrink, then grow past the old size: the contents kept, everything new reads zero even
  // though the allocator may hand back the same storage with the old bytes in it.
  block = EngineRealloc(block, 40);
  EXPECT_EQ(EngineBlockSize(block), 40);
  block = EngineRealloc(block, 5000);
  ASSERT_NE(block, nullptr);
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(bytes[i], 0xAB) << i;
  EXPECT_TRUE(AllZero(block, 40, 5000));

  EngineFreeAndNil(block);
  EXPECT_EQ(block, nullptr);
  EngineFreeAndNil(block);  // nil is ignored

  // Null reallocates as a fresh block; size 0 frees.
  char* p = static_cast<char*>(EngineRealloc(nullptr, 8));
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(AllZero(p, 0, 8));
  EXPECT_EQ(EngineRealloc(p, 0), nullptr);
}

TEST(EngineAllocTest, TooLargeRaisesOutOfMemory) {
  try {
    EngineAlloc(int64_t{3} << 30);
    FAIL();
  } catch (const ETesseraEngineError& e) {
    EXPECT_EQ(e.GetError(0).ErrorCode(), kErrOutOfMemory);
  }
  void* block = EngineAlloc(16);
  try {
    block = EngineRealloc(block, int64_t{1} << 40);
    FAIL();
  } catch (const ETesseraEngineError& e) {
    EXPECT_EQ(e.GetError(0).ErrorCode(), kErrOutOfMemory);
  }
  // The old block is still valid and still owned by the caller.
  EXPECT_EQ(EngineBlockSize(block), 16);
  EngineFreeAndNil(block);
}

}  // namespace
}  // namespace tessera
