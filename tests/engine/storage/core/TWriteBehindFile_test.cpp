#include "engine/storage/core/TWriteBehindFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace tessera {
namespace {

using Bytes = std::vector<uint8_t>;

// The file beneath: bytes in a vector, counting the writes that reach it; writes fail on demand.
class VectorFile final : public platform::File {
 public:
  platform::OsError ReadAt(int64_t offset, void* buffer, size_t count, size_t* done) override {
    const size_t from = std::min(bytes.size(), static_cast<size_t>(offset));
    *done = std::min(count, bytes.size() - from);
    std::memcpy(buffer, bytes.data() + from, *done);
    return platform::kErrorSuccess;
  }
  platform::OsError WriteAt(int64_t offset, const void* buffer, size_t count,
                            size_t* done) override {
    *done = 0;
    if (fail_writes) return platform::kErrorDiskFull;
    const size_t end = static_cast<size_t>(offset) + count;
    if (bytes.size() < end) bytes.resize(end, 0);
    std::memcpy(bytes.data() + offset, buffer, count);
    *done = count;
    ++writes;
    return platform::kErrorSuccess;
  }
  platform::OsError Truncate(int64_t size) override {
    bytes.resize(static_cast<size_t>(size), 0);
    return platform::kErrorSuccess;
  }
  platform::OsError GetSize(int64_t* size) const override {
    *size = static_cast<int64_t>(bytes.size());
    return platform::kErrorSuccess;
  }
  platform::OsError Sync() override { return platform::kErrorSuccess; }
  platform::OsError Lock(uint64_t, uint64_t) override { return platform::kErrorSuccess; }
  platform::OsError Unlock(uint64_t, uint64_t) override { return platform::kErrorSuccess; }

  Bytes bytes;
  bool fail_writes = false;
  int writes = 0;
};

// Random writes (pages in place, pieces across others, appends, beyond the end, held, staged or
// not), reads, truncations, flushes, and staged writes kept or dropped, against a plain byte
// vector: every read and size must be the model's, what finally reaches the file beneath must be
// the model byte for byte, no held piece may overlap another, and the held changes must cover
// every held byte the file lacks.
TEST(TWriteBehindFileTest, ReadsAndTheFinalFileMatchAPlainFile) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    auto owned = std::make_unique<VectorFile>();
    VectorFile& below = *owned;
    below.bytes.assign(rng() % 9000, 7);
    Bytes model = below.bytes;
    TWriteBehindFile file(std::move(owned));
    bool holding = true;
    file.SetHolding(true);
    bool staging = false;
    Bytes kept;  // the model when staging began
    size_t last_end = 0;
    for (int step = 0; step < 400; ++step) {
      uint32_t op = rng() % 22;
      if (op >= 20) {
        if (!staging) {
          kept = model;
        } else if (op == 20) {
          file.CommitStaged();
        } else {
          file.DiscardStaged();
          model = kept;
        }
        staging = !staging;
        file.SetStaging(staging);
        op = 11;  // and a read
      }
      if (staging && op >= 17) op = 11;  // no truncation, flush or mode change while staging
      if (op < 11) {
        size_t offset = op < 5 ? (rng() % 8) * 1024 : rng() % 24000;
        size_t count = op < 5 ? 1024 : 1 + rng() % 3000;
        if (op >= 9) {
          // Appends: right behind the last write, or behind a held piece.
          offset = last_end;
          if (op == 10 && !file.Held().empty()) {
            auto piece =
                std::next(file.Held().begin(), static_cast<ptrdiff_t>(rng() % file.Held().size()));
            offset = static_cast<size_t>(piece->first) + piece->second.size();
          }
          count = 1 + rng() % 700;
        }
        last_end = offset + count;
        Bytes data(count);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        size_t done = 0;
        if (op < 5) {
          // A page written again with a few bytes changed, naming just those (and what lies
          // past the end).
          for (size_t i = 0; i < count && offset + i < model.size(); ++i) {
            if (rng() % 64 != 0) data[i] = model[offset + i];
          }
          std::vector<TWriteBehindFile::Range> changed;
          for (size_t i = 0; i < count; ++i) {
            if (offset + i < model.size() && data[i] == model[offset + i]) continue;
            const int64_t at = static_cast<int64_t>(offset + i);
            if (!changed.empty() && changed.back().to == at) {
              ++changed.back().to;
            } else {
              changed.push_back({at, at + 1});
            }
          }
          ASSERT_EQ(
              file.WriteChangedAt(static_cast<int64_t>(offset), data.data(), count, changed, &done),
              platform::kErrorSuccess);
        } else {
          ASSERT_EQ(file.WriteAt(static_cast<int64_t>(offset), data.data(), count, &done),
                    platform::kErrorSuccess);
        }
        ASSERT_EQ(done, count);
        if (model.size() < offset + count) model.resize(offset + count, 0);
        std::copy(data.begin(), data.end(), model.begin() + static_cast<ptrdiff_t>(offset));
        // A write made while neither holding nor staging goes down after everything held.
        if (!holding && !staging) {
          ASSERT_EQ(below.bytes, model);
        }
      } else if (op < 17) {
        const size_t offset = rng() % 26000;
        const size_t count = 1 + rng() % 5000;
        Bytes got(count, 0xEE);
        size_t done = 0;
        ASSERT_EQ(file.ReadAt(static_cast<int64_t>(offset), got.data(), count, &done),
                  platform::kErrorSuccess);
        const size_t expected = offset >= model.size() ? 0 : std::min(count, model.size() - offset);
        ASSERT_EQ(done, expected) << "read at " << offset << " of " << count;
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<ptrdiff_t>(done),
                               model.begin() + static_cast<ptrdiff_t>(offset)))
            << "read at " << offset << " of " << count;
      } else if (op == 17) {
        const size_t size = rng() % 20000;
        ASSERT_EQ(file.Truncate(static_cast<int64_t>(size)), platform::kErrorSuccess);
        model.resize(size, 0);
        ASSERT_EQ(file.HeldBytes(), 0u);
      } else if (op == 18) {
        ASSERT_EQ(file.Sync(), platform::kErrorSuccess);
        ASSERT_EQ(below.bytes, model);
      } else {
        holding = !holding;
        file.SetHolding(holding);
      }
      int64_t size = 0;
      ASSERT_EQ(file.GetSize(&size), platform::kErrorSuccess);
      ASSERT_EQ(size, static_cast<int64_t>(model.size()));
      size_t held = 0;
      int64_t held_end = 0;
      for (const auto& [at, bytes] : file.Held()) {
        ASSERT_GE(at, held_end) << "pieces overlap at step " << step;
        held_end = at + static_cast<int64_t>(bytes.size());
        held += bytes.size();
      }
      ASSERT_EQ(file.HeldBytes(), held);
      // Every held byte that differs from the file beneath lies in the held changes (past its
      // end the journal takes every byte).
      const TWriteBehindFile::Ranges& changes = file.HeldChanges();
      for (size_t i = 1; i < changes.size(); ++i) ASSERT_LT(changes[i - 1].to, changes[i].from);
      for (const auto& [at, bytes] : file.Held()) {
        for (size_t i = 0; i < bytes.size(); ++i) {
          const int64_t b = at + static_cast<int64_t>(i);
          if (b >= static_cast<int64_t>(below.bytes.size()) || bytes[i] == below.bytes[b]) {
            continue;
          }
          ASSERT_TRUE(std::any_of(changes.begin(), changes.end(),
                                  [&](const auto& r) { return r.from <= b && b < r.to; }))
              << "step " << step << " byte " << b;
        }
      }
    }
    file.CommitStaged();
    ASSERT_EQ(file.WriteHeld(), platform::kErrorSuccess);
    EXPECT_EQ(below.bytes, model);
  }
}

// Pages written again and again reach the file once; a failing file keeps every byte held until
// a later attempt succeeds.
TEST(TWriteBehindFileTest, RewritesGoDownOnceAndFailuresKeepTheBytes) {
  auto owned = std::make_unique<VectorFile>();
  VectorFile& below = *owned;
  TWriteBehindFile file(std::move(owned));
  file.SetHolding(true);
  Bytes page(4096);
  for (int round = 0; round < 50; ++round) {
    for (int64_t offset : {0, 4096, 12288}) {
      std::fill(page.begin(), page.end(), static_cast<uint8_t>(round + offset / 4096));
      size_t done = 0;
      ASSERT_EQ(file.WriteAt(offset, page.data(), page.size(), &done), platform::kErrorSuccess);
    }
  }
  EXPECT_EQ(below.writes, 0);
  EXPECT_EQ(file.HeldBytes(), 3u * 4096);

  below.fail_writes = true;
  EXPECT_EQ(file.Sync(), platform::kErrorDiskFull);
  EXPECT_EQ(file.HeldBytes(), 3u * 4096);
  Bytes got(4096);
  size_t done = 0;
  ASSERT_EQ(file.ReadAt(12288, got.data(), got.size(), &done), platform::kErrorSuccess);
  EXPECT_EQ(done, 4096u);
  EXPECT_EQ(got[0], 49 + 3);

  below.fail_writes = false;
  ASSERT_EQ(file.WriteHeld(), platform::kErrorSuccess);
  EXPECT_EQ(below.writes, 2);  // pages 0 and 1 in one run, page 3 alone
  ASSERT_EQ(below.bytes.size(), 4u * 4096);
  EXPECT_EQ(below.bytes[0], 49);
  EXPECT_EQ(below.bytes[4096], 50);
  EXPECT_EQ(below.bytes[8192], 0);  // the gap reads as zeros, as on a disk
  EXPECT_EQ(below.bytes[12288], 52);
}

}  // namespace
}  // namespace tessera
