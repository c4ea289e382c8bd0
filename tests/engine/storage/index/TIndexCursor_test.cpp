#include "engine/storage/index/TIndexCursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "IndexTreeTestHost.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/index/RecordBitMap.h"
#include "engine/storage/values/KeyEncoding.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera::testing {
namespace {

Bytes IntKey(int32_t n) {
  Bytes key(5, 0);
  key[0] = 1;
  EncodeInt32Key(n, key.data() + 1);
  return key;
}

class IndexCursorTest : public TreeFixture {
 protected:
  static void SetUpTestSuite() { InitializeEngine(); }

  // Keys of distinct random integers; record number i for the i-th inserted.
  void Fill(int count, bool descending, uint32_t seed) {
    Make(0, Descriptor(5, kCompressNone, true, descending), 5);
    std::mt19937 rng(seed);
    for (int i = 1; i <= count; ++i) {
      int32_t v;
      do {
        v = static_cast<int32_t>(rng() % 100000) - 50000;
      } while (std::find_if(model_.begin(), model_.end(), [&](auto& e) { return e.first == v; }) !=
               model_.end());
      model_.push_back({v, static_cast<uint32_t>(i)});
      tree_->InsertKey(IntKey(v).data(), static_cast<uint32_t>(i));
    }
    std::sort(model_.begin(), model_.end());
    if (descending) std::reverse(model_.begin(), model_.end());
  }

  std::vector<std::pair<int32_t, uint32_t>> model_;  // in index order
};

TEST_F(IndexCursorTest, RandomRangesMatchTheModel) {
  for (bool descending : {false, true}) {
    SCOPED_TRACE(descending ? "descending" : "ascending");
    model_.clear();
    Fill(1500, descending, descending ? 3 : 4);
    std::mt19937 rng(9);
    for (int round = 0; round < 250; ++round) {
      const int32_t a = static_cast<int32_t>(rng() % 110000) - 55000;
      const int32_t b = static_cast<int32_t>(rng() % 110000) - 55000;
      const bool has_start = rng() % 5 != 0;
      const bool has_end = rng() % 5 != 0;
      // Whole keys, or prefixes of 1 + 1..3 bytes (the null byte and leading value bytes).
      const size_t start_len = rng() % 3 == 0 ? 2 + rng() % 3 : 5;
      const size_t end_len = rng() % 3 == 0 ? 2 + rng() % 3 : 5;
      const Bytes sk = IntKey(a), ek = IntKey(b);
      const TKeyOrder order = TKeyOrder::Bytes(descending);
      std::vector<uint32_t> inside;
      uint32_t first_pos = 0;
      for (size_t i = 0; i < model_.size(); ++i) {
        const Bytes k = IntKey(model_[i].first);
        if (has_start && order.Compare(k.data(), sk.data(), start_len) < 0) continue;
        if (has_end && order.Compare(k.data(), ek.data(), end_len) > 0) continue;
        if (inside.empty()) first_pos = static_cast<uint32_t>(i + 1);
        inside.push_back(model_[i].second);
      }
      cursor_->SetRangeStart(has_start ? sk.data() : nullptr, start_len);
      cursor_->SetRangeEnd(has_end ? ek.data() : nullptr, end_len);
      cursor_->ApplyRange();
      ASSERT_EQ(cursor_->RangeCount(), inside.size()) << "round " << round;
      cursor_->First();
      if (inside.empty()) {
        EXPECT_TRUE(cursor_->AtBeginning() && cursor_->AtEnd());
        EXPECT_EQ(cursor_->CurrentRecordNumber(), 0u);
        continue;
      }
      ASSERT_EQ(cursor_->RangeFirst(), first_pos);
      ASSERT_EQ(cursor_->CurrentRecordNumber(), inside.front());
      ASSERT_EQ(cursor_->CurrentPosition(), 1u);
      cursor_->MoveBy(-1);
      EXPECT_TRUE(cursor_->AtBeginning());
      cursor_->MoveBy(1);
      EXPECT_EQ(cursor_->CurrentRecordNumber(), inside.front()) << "from the flag onto the first";
      cursor_->Last();
      ASSERT_EQ(cursor_->CurrentRecordNumber(), inside.back());
      cursor_->MoveBy(3);
      EXPECT_TRUE(cursor_->AtEnd());
      cursor_->MoveBy(-1);
      EXPECT_EQ(cursor_->CurrentRecordNumber(), inside.back());
      for (int i = 0; i < 3; ++i) {
        const uint32_t p = 1 + static_cast<uint32_t>(rng() % inside.size());
        cursor_->GotoPosition(p);
        ASSERT_EQ(cursor_->CurrentPosition(), p);
        ASSERT_EQ(cursor_->CurrentRecordNumber(), inside[p - 1]);
        const int32_t jump = static_cast<int32_t>(rng() % 200) - 100;
        cursor_->MoveBy(jump);
        const int64_t target = int64_t{p} + jump;
        if (target < 1) {
          EXPECT_TRUE(cursor_->AtBeginning());
        } else if (target > static_cast<int64_t>(inside.size())) {
          EXPECT_TRUE(cursor_->AtEnd());
        } else {
          ASSERT_EQ(cursor_->CurrentRecordNumber(), inside[target - 1]) << "jump " << jump;
        }
      }
      cursor_->GotoPosition(static_cast<uint32_t>(inside.size()) + 1);
      EXPECT_TRUE(cursor_->AtEnd());
      // A key below the range goes to its first key, above it to its last.
      const Bytes below = IntKey(descending ? 60000 : -60000);
      const Bytes above = IntKey(descending ? -60000 : 60000);
      EXPECT_FALSE(cursor_->FindKey(below.data(), true));
      if (has_start) {
        EXPECT_EQ(cursor_->CurrentRecordNumber(), inside.front());
      }
      EXPECT_FALSE(cursor_->FindKey(above.data(), true));
      if (has_end) {
        EXPECT_EQ(cursor_->CurrentRecordNumber(), inside.back());
      }
    }
    cursor_->CancelRange();
    EXPECT_EQ(cursor_->RangeCount(), model_.size());
  }
}

TEST_F(IndexCursorTest, StartAboveEndIsEmpty) {
  Fill(300, false, 1);
  const Bytes hi = IntKey(1000), lo = IntKey(-1000);
  cursor_->SetRangeStart(hi.data(), 5);
  cursor_->SetRangeEnd(lo.data(), 5);
  cursor_->ApplyRange();
  EXPECT_EQ(cursor_->RangeCount(), 0u);
  cursor_->GotoPosition(1);
  EXPECT_TRUE(cursor_->AtEnd());
}

TEST_F(IndexCursorTest, FindKeyNearestAndExact) {
  Fill(800, false, 2);
  std::mt19937 rng(3);
  cursor_->First();
  for (int round = 0; round < 300; ++round) {
    const int32_t v = static_cast<int32_t>(rng() % 110000) - 55000;
    const auto lb = std::lower_bound(model_.begin(), model_.end(), std::make_pair(v, 0u));
    const bool exists = lb != model_.end() && lb->first == v;
    const uint32_t before = cursor_->CurrentRecordNumber();
    ASSERT_EQ(cursor_->FindKey(IntKey(v).data(), false), exists);
    if (!exists) {
      ASSERT_EQ(cursor_->CurrentRecordNumber(), before) << "a failed exact find keeps the place";
    }
    ASSERT_EQ(cursor_->FindKey(IntKey(v).data(), true), exists);
    if (lb == model_.end()) {
      ASSERT_TRUE(cursor_->AtEnd());
      cursor_->First();
    } else {
      ASSERT_EQ(cursor_->CurrentRecordNumber(), lb->second);
      ASSERT_EQ(cursor_->CurrentPosition(), static_cast<uint32_t>(lb - model_.begin()) + 1);
    }
  }
}

TEST_F(IndexCursorTest, CursorFollowsItsKeyThroughChanges) {
  Fill(600, false, 5);
  cursor_->GotoPosition(300);
  const uint32_t record = cursor_->CurrentRecordNumber();
  const int32_t value = model_[299].first;
  tree_->InsertKey(IntKey(-99999).data(), 9000);  // before it: its position moves, not its record
  EXPECT_EQ(cursor_->CurrentRecordNumber(), record);
  EXPECT_EQ(cursor_->CurrentPosition(), 301u);
  tree_->DeleteKey(IntKey(value).data(), record);  // it goes: the cursor stands on the next key
  EXPECT_EQ(cursor_->CurrentRecordNumber(), model_[300].second);
  EXPECT_EQ(cursor_->CurrentPosition(), 301u);
}

TEST_F(IndexCursorTest, BitMapModeCountsOnlyVisibleRecords) {
  Fill(700, false, 6);
  std::mt19937 rng(8);
  std::vector<uint8_t>& map = cursor_->VisibleMap();
  map.assign(700 / 8 + 1, 0);
  for (uint32_t r = 1; r <= 700; ++r) {
    if (rng() % 3 == 0) SetBit(r, map);
  }
  cursor_->SetVisibleCount(CountBits(map, 700));
  cursor_->SetBitMapMode(true);
  std::vector<uint32_t> visible;
  for (const auto& e : model_) {
    if (TestBit(e.second, map)) visible.push_back(e.second);
  }
  EXPECT_EQ(cursor_->RangeCount(), visible.size());
  std::vector<uint32_t> walked;
  for (cursor_->First(); !cursor_->AtEnd(); cursor_->MoveBy(1)) {
    walked.push_back(cursor_->CurrentRecordNumber());
    ASSERT_LE(walked.size(), visible.size());
  }
  EXPECT_EQ(walked, visible);
  for (int i = 0; i < 20; ++i) {
    const uint32_t p = 1 + static_cast<uint32_t>(rng() % visible.size());
    cursor_->GotoPosition(p);
    ASSERT_EQ(cursor_->CurrentRecordNumber(), visible[p - 1]);
    ASSERT_EQ(cursor_->CurrentPosition(), p);
  }
  cursor_->Last();
  EXPECT_EQ(cursor_->CurrentRecordNumber(), visible.back());
}

TEST_F(IndexCursorTest, RecordOrderWalksPhysicalRecordsThroughTheMap) {
  Make(0, Descriptor(5, kCompressNone, true));
  host_->Select(0, true);
  host_->physical_records = 40;  // more than the live count: deleted slots stay addressable
  cursor_->First();
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 1u);
  cursor_->GotoPosition(40);
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 40u);
  EXPECT_EQ(cursor_->RangeCount(), 40u);
  EXPECT_EQ(cursor_->CountSequential(10, -1), 10u);
  cursor_->MoveBy(1);
  EXPECT_TRUE(cursor_->AtEnd());

  std::vector<uint8_t>& map = cursor_->VisibleMap();
  map.assign(6, 0);
  for (uint32_t r : {3u, 4u, 5u, 9u, 17u, 40u}) SetBit(r, map);
  SetBit(41, map);  // past the physical count: never visible
  cursor_->SetVisibleCount(6);
  cursor_->SetBitMapMode(true);
  cursor_->First();
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 3u);
  EXPECT_EQ(cursor_->CountSequential(5, 1), 2u) << "3, then 4 and 5 follow";
  cursor_->MoveBy(3);
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 9u);
  EXPECT_EQ(cursor_->CurrentPosition(), 4u);
  cursor_->GotoPosition(6);
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 40u);
  cursor_->MoveBy(1);
  EXPECT_TRUE(cursor_->AtEnd());
  cursor_->Last();
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 40u);
  uint8_t key[4];
  cl::PutU32LE(key, 10);
  EXPECT_FALSE(cursor_->FindKey(key, false));
  EXPECT_FALSE(cursor_->FindKey(key, true));
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 17u) << "nearest: the next visible record";
  cl::PutU32LE(key, 5);
  EXPECT_TRUE(cursor_->FindKey(key, false));
  EXPECT_EQ(cursor_->RangeCount(), 6u);
}

TEST_F(IndexCursorTest, CountSequentialFollowsRecordNumbers) {
  Make(0, Descriptor(5, kCompressNone, true));
  // Keys 1..30 with records 101..110, then 200, then 112..130.
  for (int32_t v = 1; v <= 30; ++v) {
    const uint32_t record = v <= 10 ? 100 + v : v == 11 ? 200 : 101 + v;
    tree_->InsertKey(IntKey(v).data(), record);
  }
  cursor_->First();
  EXPECT_EQ(cursor_->CountSequential(100, 1), 9u);
  EXPECT_EQ(cursor_->CountSequential(4, 1), 4u);
  cursor_->GotoPosition(30);
  EXPECT_EQ(cursor_->CountSequential(100, -1), 18u);
}

// The look-ahead of a walk (runs of record numbers, the records of the next keys) against the
// model over several leaves, both directions, inside random ranges and with hidden records.
TEST_F(IndexCursorTest, LookAheadMatchesTheModelAcrossLeavesAndRanges) {
  Make(0, Descriptor(5, kCompressNone, true));
  std::mt19937 rng(21);
  std::vector<uint32_t> records;  // by key 1..n: runs of consecutive numbers with jumps between
  uint32_t record = 1;
  for (int32_t v = 1; v <= 2500; ++v) {
    record = rng() % 8 == 0 ? 1 + rng() % 5000 : record + 1;
    records.push_back(record);
    tree_->InsertKey(IntKey(v).data(), record);
  }
  for (int round = 0; round < 6; ++round) {
    const int32_t lo = 1 + static_cast<int32_t>(rng() % 1200);
    const int32_t hi = lo + 300 + static_cast<int32_t>(rng() % 1200);
    const bool bitmap = round % 2 == 1;
    SCOPED_TRACE("range " + std::to_string(lo) + ".." + std::to_string(hi) +
                 (bitmap ? " map" : ""));
    std::vector<uint8_t>& map = cursor_->VisibleMap();
    map.assign(5002 / 8 + 1, 0);
    for (uint32_t r = 1; r <= 5001; ++r) {
      if (rng() % 10 != 0) SetBit(r, map);
    }
    auto visible = [&](uint32_t r) { return !bitmap || TestBit(r, map); };
    cursor_->SetBitMapMode(bitmap);
    cursor_->SetRangeStart(IntKey(lo).data(), 5);
    cursor_->SetRangeEnd(IntKey(hi).data(), 5);
    cursor_->ApplyRange();
    for (int32_t v = lo; v <= hi; ++v) {
      if (!visible(records[v - 1])) continue;
      ASSERT_TRUE(cursor_->FindKey(IntKey(v).data(), false)) << v;
      for (int dir : {1, -1}) {
        for (uint32_t count : {1u, 7u, 100u}) {
          uint32_t run = 0;
          std::vector<uint32_t> expected;
          for (int32_t w = v + dir; w >= lo && w <= hi && expected.size() < count; w += dir) {
            if (!visible(records[w - 1])) break;
            expected.push_back(records[w - 1]);
          }
          for (int32_t w = v + dir; w >= lo && w <= hi && run < count; w += dir) {
            if (!visible(records[w - 1]) || records[w - 1] != records[w - 1 - dir] + dir) break;
            ++run;
          }
          uint32_t out[100];
          const uint32_t ahead = cursor_->FollowingRecords(count, dir, out);
          ASSERT_EQ(std::vector<uint32_t>(out, out + ahead), expected) << v << " dir " << dir;
          ASSERT_EQ(cursor_->CountSequential(count, dir), run) << v << " dir " << dir;
        }
      }
    }
  }
}

// Strings on a table with a language compare by its collation; a descending field (stored
// inverted by the key builder) sorts in exact reverse collation order; a partial end bound covers
// every key with that prefix, whatever letter follows.
TEST_F(IndexCursorTest, LanguageOrderDescendingFieldsAndPartialBounds) {
  const std::vector<std::string> names = {"Smith", "smith",    "Sma",   "Smz",   "Sm\xFF", "Sn",
                                          "Sl",    "\xC9mile", "Emile", "emile", "Zo",     "Sm"};
  for (bool field_descending : {false, true}) {
    SCOPED_TRACE(field_descending ? "descending field" : "ascending field");
    TIndexDescriptor d = Descriptor(9, kCompressBoth, true);
    d.field_count = 1;
    d.field_numbers[0] = 1;
    d.field_descending[0] = field_descending ? 1 : 0;
    Make(1, d);
    host_->language = 0x040C;
    host_->fields[1] = {kFieldString, 8};
    auto key_of = [&](const std::string& s) {
      Bytes key(9, 0);
      key[0] = 1;
      std::copy(s.begin(), s.end(), key.begin() + 1);
      if (field_descending) InvertBytes(key.data(), 9);
      return key;
    };
    for (size_t i = 0; i < names.size(); ++i) {
      tree_->InsertKey(key_of(names[i]).data(), static_cast<uint32_t>(i + 1));
    }
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end(), [](std::string a, std::string b) {
      a.resize(8, '\0');
      b.resize(8, '\0');
      return CompareStrings(0x040C, 0, a.data(), false, 8, b.data(), cl::TSortMode::kString) < 0;
    });
    if (field_descending) std::reverse(expected.begin(), expected.end());
    std::vector<std::string> walked;
    for (cursor_->First(); !cursor_->AtEnd(); cursor_->MoveBy(1)) {
      walked.push_back(names[cursor_->CurrentRecordNumber() - 1]);
    }
    EXPECT_EQ(walked, expected);
    EXPECT_TRUE(Check().ok) << Check().problem;
    if (field_descending) continue;
    // "Sm" as both bounds, 1 + 2 significant bytes.
    const Bytes sm = key_of("Sm");
    cursor_->SetRangeStart(sm.data(), 3);
    cursor_->SetRangeEnd(sm.data(), 3);
    cursor_->ApplyRange();
    std::vector<std::string> in_range;
    for (cursor_->First(); !cursor_->AtEnd(); cursor_->MoveBy(1)) {
      in_range.push_back(names[cursor_->CurrentRecordNumber() - 1]);
    }
    std::sort(in_range.begin(), in_range.end());
    // A range is a run of positions: "smith" sorts inside it (lower case just before upper).
    EXPECT_EQ(in_range, (std::vector<std::string>{"Sm", "Sma", "Smith", "Smz", "Sm\xFF", "smith"}));
    cursor_->CancelRange();
  }
}

}  // namespace
}  // namespace tessera::testing
