#include "engine/storage/core/TSystemList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "classlib/rtl/Exceptions.h"

namespace tessera {
namespace {

void* P(intptr_t v) { return reinterpret_cast<void*>(v); }
intptr_t V(void* p) { return reinterpret_cast<intptr_t>(p); }

TEST(TSystemListTest, GrowthSequence) {
  TSystemList list;
  std::vector<int32_t> capacities;
  for (int i = 0; i < 150; ++i) {
    list.Add(P(i + 1));
    if (capacities.empty() || capacities.back() != list.Capacity()) {
      capacities.push_back(list.Capacity());
    }
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183}));
  for (int i = 0; i < 150; ++i) ASSERT_EQ(V(list.Get(i)), i + 1);
  EXPECT_EQ(V(list.First()), 1);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_THROW(list.First(), cl::EListError);
}

TEST(TSystemListTest, RangeErrorsAndTheCapacityLimit) {
  TSystemList list;
  for (int i = 0; i < 3; ++i) list.Add(P(i + 1));
  EXPECT_THROW(list.Get(-1), cl::EListError);
  EXPECT_THROW(list.Get(3), cl::EListError);
  EXPECT_THROW(list.Insert(4, P(9)), cl::EListError);
  EXPECT_THROW(list.Insert(-1, P(9)), cl::EListError);
  EXPECT_THROW(list.Delete(3), cl::EListError);
  EXPECT_THROW(list.Move(0, 3), cl::EListError);
  EXPECT_THROW(list.Move(5, 1), cl::EListError);
  EXPECT_THROW(list.SetCapacity(2), cl::EListError);
  EXPECT_THROW(list.SetCount(-1), cl::EListError);
  EXPECT_THROW(list.SetCount(TSystemList::kCapacityLimit), cl::EListError);
  EXPECT_THROW(list.SetCapacity(262141), cl::EListError);
  EXPECT_EQ(list.Count(), 3);  // nothing changed by the refused calls
  EXPECT_EQ(V(list.Get(2)), 3);

  // The largest list allowed; one more item is a capacity error, not a crash.
  list.SetCapacity(262140);
  list.SetCount(262140);
  EXPECT_EQ(V(list.Get(1)), 2);
  EXPECT_EQ(list.Get(262139), nullptr);
  EXPECT_THROW(list.Add(P(1)), cl::EListError);
  EXPECT_EQ(list.Count(), 262140);
}

TEST(TSystemListTest, SetCountZeroFillsReusedSlots) {
  TSystemList list;
  for (int i = 0; i < 10; ++i) list.Add(P(100 + i));
  list.SetCount(2);
  EXPECT_EQ(list.Capacity(), 12);
  list.SetCount(8);  // within the capacity, over slots that held pointers
  EXPECT_EQ(V(list.Get(1)), 101);
  for (int i = 2; i < 8; ++i) EXPECT_EQ(list.Get(i), nullptr) << i;
  list.SetCount(40);  // beyond the capacity
  EXPECT_EQ(list.Capacity(), 40);
  for (int i = 2; i < 40; ++i) EXPECT_EQ(list.Get(i), nullptr) << i;
}

TEST(TSystemListTest, OperationsAgainstAVectorModel) {
  std::mt19937 rng(12345);
  TSystemList list;
  std::vector<void*> model;
  for (int step = 0; step < 20000; ++step) {
    const int op = static_cast<int>(rng() % 6);
    const int32_t n = static_cast<int32_t>(model.size());
    const intptr_t value = static_cast<intptr_t>(rng() % 1000000) + 1;
    if (op == 0 || n == 0) {
      EXPECT_EQ(list.Add(P(value)), n);
      model.push_back(P(value));
    } else if (op == 1) {
      const int32_t at = static_cast<int32_t>(rng() % (n + 1));
      list.Insert(at, P(value));
      model.insert(model.begin() + at, P(value));
    } else if (op == 2) {
      const int32_t at = static_cast<int32_t>(rng() % n);
      list.Delete(at);
      model.erase(model.begin() + at);
    } else if (op == 3) {
      const int32_t from = static_cast<int32_t>(rng() % n);
      const int32_t to = static_cast<int32_t>(rng() % n);
      list.Move(from, to);
      void* item = model[from];
      model.erase(model.begin() + from);
      model.insert(model.begin() + to, item);
    } else if (op == 4 && rng() % 50 == 0) {
      const int32_t count = static_cast<int32_t>(rng() % (n + 20));
      list.SetCount(count);
      model.resize(static_cast<size_t>(count), nullptr);
    } else if (op == 5 && rng() % 500 == 0) {
      list.Clear();
      model.clear();
    }
    ASSERT_EQ(list.Count(), static_cast<int32_t>(model.size()));
    ASSERT_GE(list.Capacity(), list.Count());
    if (step % 97 == 0) {
      for (int32_t i = 0; i < list.Count(); ++i) ASSERT_EQ(list.Get(i), model[i]) << step;
    }
  }
}

int CompareValues(void* a, void* b) {
  const intptr_t x = V(a), y = V(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

TEST(TSystemListTest, SortMatchesStdSortOnDistinctKeys) {
  std::mt19937 rng(777);
  for (int size : {0, 1, 2, 3, 7, 64, 1000, 5003}) {
    std::vector<intptr_t> values(static_cast<size_t>(size));
    std::iota(values.begin(), values.end(), 1);
    std::shuffle(values.begin(), values.end(), rng);
    if (size == 1000) std::sort(values.begin(), values.end());    // sorted input
    if (size == 5003) std::sort(values.rbegin(), values.rend());  // reversed input
    TSystemList list;
    for (intptr_t v : values) list.Add(P(v));
    list.Sort(CompareValues);
    std::sort(values.begin(), values.end());
    ASSERT_EQ(list.Count(), size);
    for (int i = 0; i < size; ++i) ASSERT_EQ(V(list.Get(i)), values[i]) << size << " " << i;
  }
}

TEST(TSystemListTest, SortOrderOfEqualKeysIsThatOfTheQuicksort) {
  // Keys 2,1,2,1 tagged a,b,c,d.  Worked through by hand: the first partition (pivot b) swaps
  // a with d, the right part (pivot c) swaps c with a, giving d b a c.  A stable sort would
  // give b d a c.
  struct Item {
    int key;
    char tag;
  };
  Item items[] = {{2, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}};
  TSystemList list;
  for (Item& item : items) list.Add(&item);
  int calls = 0;
  list.Sort([&calls](void* x, void* y) {
    ++calls;
    return static_cast<Item*>(x)->key - static_cast<Item*>(y)->key;
  });
  std::string order;
  for (int i = 0; i < 4; ++i) order += static_cast<Item*>(list.Get(i))->tag;
  EXPECT_EQ(order, "dbac");
  EXPECT_GT(calls, 0);
  const int before = calls;
  TSystemList empty;
  empty.Sort([&calls](void*, void*) { return ++calls; });  // never called on an empty list
  EXPECT_EQ(calls, before);
}

}  // namespace
}  // namespace tessera
