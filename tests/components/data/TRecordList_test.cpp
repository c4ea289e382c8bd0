// The chunked record list against a plain vector: random insertions and removals across many
// chunk splits and merges, every position checked after each batch.
#include "components/data/TRecordList.h"

#include <gtest/gtest.h>

#include <random>

namespace comp {
namespace {

TStoredRecord* Fake(uintptr_t n) { return reinterpret_cast<TStoredRecord*>(n * 8); }

TEST(RecordListTest, MatchesAVectorUnderRandomEdits) {
  std::mt19937 rng(12345);
  TRecordList list;
  std::vector<TStoredRecord*> model;
  uintptr_t next = 1;
  for (int batch = 0; batch < 40; ++batch) {
    bool growing = batch % 8 < 6;
    for (int i = 0; i < 500; ++i) {
      if (growing || model.empty() || rng() % 3 == 0) {
        size_t at = rng() % (model.size() + 1);
        list.Insert(at, Fake(next));
        model.insert(model.begin() + static_cast<std::ptrdiff_t>(at), Fake(next));
        ++next;
      } else {
        size_t at = rng() % model.size();
        list.Erase(at);
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
      }
    }
    ASSERT_EQ(list.size(), model.size());
    ASSERT_EQ(list.ToVector(), model);
    for (size_t i = 0; i < model.size(); i += 7) ASSERT_EQ(list[i], model[i]) << i;
    size_t walked = 0;
    for (TStoredRecord* record : list) ASSERT_EQ(record, model[walked++]);
    ASSERT_EQ(walked, model.size());
    if (!model.empty()) {
      TStoredRecord* probe = model[rng() % model.size()];
      ASSERT_EQ(model[static_cast<size_t>(list.IndexOf(probe))], probe);
    }
  }
  EXPECT_GT(model.size(), 5 * TRecordList::kMaxChunk);  // many chunks were in play
  TRecordList slice = list.Slice(100, 1300);
  EXPECT_EQ(slice.ToVector(),
            std::vector<TStoredRecord*>(model.begin() + 100, model.begin() + 1300));
  list.Remove(model[5]);
  EXPECT_EQ(list.IndexOf(model[5]), -1);
  EXPECT_EQ(list.size(), model.size() - 1);
}

}  // namespace
}  // namespace comp
