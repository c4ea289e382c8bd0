#include "engine/storage/core/TCacheEntry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessera {
namespace {

struct TestEntry : TCacheEntry {
  uint8_t fill = 0;
};

struct Write {
  uint32_t offset;
  std::vector<uint8_t> bytes;
};

// Entries at the given offsets (stride 4), dirty, each filled with its own byte; `fail_at` makes
// the write of the run starting there throw.
std::vector<Write> Flush(std::vector<TestEntry>& entries, size_t max_run, uint32_t fail_at = 0) {
  std::vector<TestEntry*> due;
  for (TestEntry& e : entries) due.push_back(&e);
  std::vector<Write> writes;
  WriteBackRuns(
      due, 4, [](const TestEntry& e, uint8_t* image) { std::fill(image, image + 4, e.fill); },
      [&](uint32_t offset, const uint8_t* bytes, size_t length) {
        if (offset == fail_at) throw std::runtime_error("disk full");
        writes.push_back({offset, std::vector<uint8_t>(bytes, bytes + length)});
      },
      max_run);
  return writes;
}

std::vector<TestEntry> Entries(std::initializer_list<uint32_t> offsets) {
  std::vector<TestEntry> entries(offsets.size());
  size_t i = 0;
  for (uint32_t offset : offsets) {
    entries[i].SetOffset(offset);
    entries[i].SetDirty(true);
    entries[i].fill = static_cast<uint8_t>(offset / 4);
    ++i;
  }
  return entries;
}

TEST(TCacheEntryTest, RunsOfConsecutiveOffsetsAreWrittenOnceEach) {
  const struct {
    std::initializer_list<uint32_t> offsets;  // in cache order, not sorted
    size_t max_run;
    std::vector<std::pair<uint32_t, size_t>> runs;  // offset, entries
  } cases[] = {
      {{8, 4, 12, 24, 20, 40}, 64, {{4, 3}, {20, 2}, {40, 1}}},
      {{8, 4, 12, 24, 20, 40}, 2, {{4, 2}, {12, 1}, {20, 2}, {40, 1}}},
      {{16}, 1, {{16, 1}}},
      {{}, 4, {}},
  };
  for (const auto& c : cases) {
    std::vector<TestEntry> entries = Entries(c.offsets);
    const std::vector<Write> writes = Flush(entries, c.max_run);
    ASSERT_EQ(writes.size(), c.runs.size());
    for (size_t i = 0; i < writes.size(); ++i) {
      EXPECT_EQ(writes[i].offset, c.runs[i].first);
      ASSERT_EQ(writes[i].bytes.size(), c.runs[i].second * 4);
      for (size_t b = 0; b < writes[i].bytes.size(); ++b) {
        EXPECT_EQ(writes[i].bytes[b], (writes[i].offset + b / 4 * 4) / 4) << "entry in its place";
      }
    }
    for (const TestEntry& e : entries) EXPECT_FALSE(e.Dirty());
  }
}

TEST(TCacheEntryTest, AFailedRunLeavesItAndEveryLaterRunDirty) {
  std::vector<TestEntry> entries = Entries({4, 8, 20, 40, 44});
  entries[0].SetDirty(true);
  EXPECT_THROW(Flush(entries, 64, 20), std::runtime_error);
  std::string dirty;
  for (const TestEntry& e : entries) dirty += e.Dirty() ? 'D' : '-';
  EXPECT_EQ(dirty, "--DDD");
}

TEST(TCacheEntryTest, PinsStopAtTheLimit) {
  TestEntry e;
  for (int i = 0; i < TCacheEntry::kMaxPins; ++i) ASSERT_TRUE(e.TryPin());
  EXPECT_FALSE(e.TryPin());
  EXPECT_EQ(e.PinCount(), TCacheEntry::kMaxPins);
  e.ClearPins();
  e.Unpin();
  EXPECT_EQ(e.PinCount(), 0) << "never below zero";
}

// Random dirtying, cleaning, pins, sweeps and entries that come and go: the ledger's dirty list
// always yields exactly the dirty entries, and UnpinAll leaves no entry pinned.
TEST(TCacheEntryTest, TheLedgerNeverMissesADirtyOrPinnedEntry) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    TCacheLedger ledger;
    std::vector<std::unique_ptr<TestEntry>> entries(12);
    for (auto& e : entries) {
      e = std::make_unique<TestEntry>();
      e->SetLedger(&ledger);
    }
    for (int step = 0; step < 2000; ++step) {
      TestEntry& e = *entries[rng() % entries.size()];
      switch (rng() % 9) {
        case 0:
        case 1:
          e.SetDirty(true);
          break;
        case 2:
          e.SetDirty(false);
          break;
        case 3:
          (void)e.TryPin();
          break;
        case 4:
          e.Unpin();
          break;
        case 5:
          ledger.SweepDirty();
          break;
        case 6: {
          ledger.UnpinAll();
          for (const auto& x : entries) ASSERT_EQ(x->PinCount(), 0);
          break;
        }
        case 7: {  // an entry leaves the cache and a new one takes its place
          auto& slot = entries[rng() % entries.size()];
          slot = std::make_unique<TestEntry>();
          slot->SetLedger(&ledger);
          break;
        }
        default:
          e.ClearPins();
          break;
      }
      std::set<TestEntry*> dirty;
      for (const auto& x : entries) {
        if (x->Dirty()) dirty.insert(x.get());
      }
      const std::vector<TestEntry*> listed =
          ledger.DirtyEntries<TestEntry>([](const TestEntry&) { return true; });
      ASSERT_EQ(std::set<TestEntry*>(listed.begin(), listed.end()), dirty);
      ASSERT_EQ(listed.size(), dirty.size()) << "an entry listed twice";
    }
  }
}

}  // namespace
}  // namespace tessera
