#include "classlib/rtl/TList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "classlib/rtl/Exceptions.h"

namespace cl {
namespace {

void* P(intptr_t n) { return reinterpret_cast<void*>(n); }
intptr_t N(void* p) { return reinterpret_cast<intptr_t>(p); }

// Random edits against a std::vector holding the same items.
TEST(TListTest, BehavesLikeAVectorUnderRandomEdits) {
  std::mt19937 random(42);
  TList list;
  std::vector<void*> model;
  for (int step = 0; step < 5000; ++step) {
    const int count = static_cast<int>(model.size());
    switch (random() % 7) {
      case 0:
      case 1: {
        void* item = P(random() % 50);
        EXPECT_EQ(list.Add(item), count);
        model.push_back(item);
        break;
      }
      case 2: {
        const int at = static_cast<int>(random() % (count + 1));
        void* item = P(random() % 50);
        list.Insert(at, item);
        model.insert(model.begin() + at, item);
        break;
      }
      case 3:
        if (count > 0) {
          const int at = static_cast<int>(random() % count);
          list.Delete(at);
          model.erase(model.begin() + at);
        }
        break;
      case 4: {
        void* item = P(random() % 50);
        auto it = std::find(model.begin(), model.end(), item);
        const int expected = it == model.end() ? -1 : static_cast<int>(it - model.begin());
        EXPECT_EQ(list.Remove(item), expected);
        if (it != model.end()) model.erase(it);
        break;
      }
      case 5:
        if (count > 1) {
          const int from = static_cast<int>(random() % count);
          const int to = static_cast<int>(random() % count);
          list.Move(from, to);
          void* item = model[static_cast<size_t>(from)];
          model.erase(model.begin() + from);
          model.insert(model.begin() + to, item);
        }
        break;
      case 6:
        if (count > 1) {
          const int a = static_cast<int>(random() % count);
          const int b = static_cast<int>(random() % count);
          list.Exchange(a, b);
          std::swap(model[static_cast<size_t>(a)], model[static_cast<size_t>(b)]);
        }
        break;
    }
    ASSERT_EQ(list.List(), model) << "after step " << step;
  }
}

TEST(TListTest, SortOrdersByTheCallersCompare) {
  std::mt19937 random(7);
  for (int size : {0, 1, 2, 3, 17, 1000}) {
    TList list;
    std::vector<intptr_t> model;
    for (int i = 0; i < size; ++i) {
      const intptr_t n = static_cast<intptr_t>(random() % 100);
      list.Add(P(n));
      model.push_back(n);
    }
    list.Sort([](void* a, void* b) { return static_cast<int>(N(b) - N(a)); });  // descending
    std::sort(model.begin(), model.end(), std::greater<>());
    std::vector<intptr_t> got;
    for (void* p : list.List()) got.push_back(N(p));
    EXPECT_EQ(got, model);
  }
}

TEST(TListTest, IndexErrorsCarryTheIndex) {
  TList list;
  list.Add(P(1));
  try {
    list.Items(5);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (5)");
  }
  EXPECT_THROW(list.Insert(2, nullptr), EListError);
  EXPECT_THROW(list.Delete(-1), EListError);
  EXPECT_EQ(list.Last(), P(1));
  list.Delete(0);
  EXPECT_THROW(list.First(), EListError);
  EXPECT_THROW(list.SetCapacity(-1), EListError);
  list.SetCount(3);
  EXPECT_EQ(list.Items(2), nullptr);
  EXPECT_EQ(list.Extract(P(9)), nullptr);
}

}  // namespace
}  // namespace cl
