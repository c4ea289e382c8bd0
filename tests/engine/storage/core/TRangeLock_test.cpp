#include "engine/storage/core/TRangeLock.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/TFileHandler.h"

namespace tessera {
namespace {

class TRangeLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    for (TFileHandler* h : {&a_, &b_}) {
      h->SetInMemory(true);
      h->SetFileName("Locks");
    }
    a_.SetExclusive(true);
    a_.CreateNew();
    a_.Close();
    a_.SetExclusive(false);
    a_.Open();
    b_.Open();
  }
  void TearDown() override {
    a_.Close();
    b_.Close();
    ShutdownEngine();
  }

  TFileHandler a_, b_;  // two handlers of one in-memory file
};

// Attempts and waits against a holder that lets go during a given wait (or never).
TEST_F(TRangeLockTest, RetriesAndWaitsFollowTheRule) {
  const TLockRange range{1000, 10};
  constexpr int kNever = -1;
  for (int retries : {0, 1, 4}) {
    for (int free_at_wait : {kNever, 1, 4}) {
      ASSERT_TRUE(a_.Lock(range.offset, range.length, true));
      std::vector<int32_t> waits;
      TLockRetry retry{retries, 7, [&](int32_t ms) {
                         waits.push_back(ms);
                         if (static_cast<int>(waits.size()) == free_at_wait) {
                           a_.Lock(range.offset, range.length, false);
                         }
                       }};
      {
        TRangeLock lock(b_, range, retry);
        const bool freed_in_time = free_at_wait != kNever && free_at_wait <= retries;
        EXPECT_EQ(lock.Locked(), freed_in_time) << retries << " " << free_at_wait;
        EXPECT_EQ(waits, std::vector<int32_t>(freed_in_time ? free_at_wait : retries, 7))
            << "no wait before the first attempt nor after the last";
      }
      // Whoever holds the range now gives it back; the guard's own share went with its scope.
      a_.Lock(range.offset, range.length, false);
      EXPECT_TRUE(a_.Lock(range.offset, range.length, true)) << "the guard left nothing behind";
      ASSERT_TRUE(a_.Lock(range.offset, range.length, false));
    }
  }
}

TEST_F(TRangeLockTest, EachAttemptPicksItsOwnRange) {
  ASSERT_TRUE(a_.Lock(500, 1, true));
  ASSERT_TRUE(a_.Lock(501, 1, true));
  uint32_t next = 500;
  int waits = 0;
  TRangeLock lock(b_, [&] { return TLockRange{next++, 1}; }, {5, 3, [&](int32_t) { ++waits; }});
  ASSERT_TRUE(lock.Locked());
  EXPECT_EQ(lock.Range().offset, 502u);
  EXPECT_EQ(waits, 2);
}

TEST_F(TRangeLockTest, ReleasedOnEveryExitPathUnlessForgotten) {
  const TLockRange range{42, 2};
  try {
    TRangeLock lock(b_, range, {});
    ASSERT_TRUE(lock.Locked());
    EXPECT_FALSE(a_.Lock(42, 1, true));
    throw std::runtime_error("a failure half-way");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(a_.Lock(42, 2, true)) << "the exception released the range";
  ASSERT_TRUE(a_.Lock(42, 2, false));

  // Moving hands the range over; assigning over a held guard releases what it held.
  TRangeLock first(b_, range, {});
  TRangeLock second(std::move(first));
  EXPECT_FALSE(first.Locked());
  EXPECT_TRUE(second.Locked());
  second = TRangeLock(b_, TLockRange{60, 1}, {});
  EXPECT_TRUE(second.Locked());
  EXPECT_TRUE(a_.Lock(42, 2, true));
  ASSERT_TRUE(a_.Lock(42, 2, false));

  // A refused unlock keeps the claim (in-memory locks belong to the file: another handler freed
  // the range, so this one's unlock finds nothing).
  ASSERT_TRUE(a_.Lock(60, 1, false));
  EXPECT_FALSE(second.Unlock());
  EXPECT_TRUE(second.Locked());
  second.Forget();
  EXPECT_FALSE(second.Locked());
  EXPECT_TRUE(second.Unlock()) << "nothing held: nothing to do";

  // Forgetting leaves the range to whoever releases the handle's locks.
  {
    TRangeLock kept(b_, TLockRange{70, 1}, {});
    ASSERT_TRUE(kept.Locked());
    kept.Forget();
  }
  EXPECT_FALSE(a_.Lock(70, 1, true));
}

}  // namespace
}  // namespace tessera
