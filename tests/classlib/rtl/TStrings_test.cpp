#include "classlib/rtl/TStrings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "classlib/rtl/Collation.h"

namespace cl {
namespace {

std::vector<std::string> Lines(const TStrings& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(list.Get(i));
  return lines;
}

std::string RandomWord(std::mt19937& random) {
  static const char* const kWords[] = {"abc", "ABC", "Abd", "\xE9t\xE9", "\xC9T\xC9", "ete",
                                       "zz",  "Zz",  "a-b", "ab",        "",          "x y"};
  return kWords[random() % (sizeof kWords / sizeof *kWords)];
}

// A sorted list with each duplicates rule, against a vector kept in order by the same compare.
TEST(TStringListTest, SortedListMatchesAReference) {
  for (bool case_sensitive : {false, true}) {
    for (TDuplicates rule : {dupIgnore, dupAccept, dupError}) {
      auto compare = [case_sensitive](const std::string& a, const std::string& b) {
        return case_sensitive ? AnsiCompareStr(a, b) : AnsiCompareText(a, b);
      };
      std::mt19937 random(1234);
      TStringList list;
      list.SetCaseSensitive(case_sensitive);
      list.SetSorted(true);
      list.SetDuplicates(rule);
      std::vector<std::string> model;
      for (int step = 0; step < 400; ++step) {
        const std::string word = RandomWord(random);
        const bool present = std::any_of(model.begin(), model.end(), [&](const std::string& m) {
          return compare(m, word) == 0;
        });
        if (random() % 4 == 0 && !model.empty()) {
          const int index = static_cast<int>(random() % model.size());
          list.Delete(index);
          model.erase(model.begin() + index);
        } else if (present && rule == dupError) {
          EXPECT_THROW(list.Add(word), EStringListError);
        } else if (present && rule == dupIgnore) {
          const int index = list.Add(word);
          EXPECT_EQ(compare(list.Get(index), word), 0);
        } else {
          list.Add(word);
          // Equal lines go before the existing ones (dupAccept) or the word is new.
          auto at = std::lower_bound(
              model.begin(), model.end(), word,
              [&](const std::string& m, const std::string& w) { return compare(m, w) < 0; });
          model.insert(at, word);
        }
        ASSERT_EQ(static_cast<size_t>(list.Count()), model.size());
        for (size_t i = 0; i < model.size(); ++i) {
          ASSERT_EQ(compare(list.Get(static_cast<int>(i)), model[i]), 0) << "line " << i;
        }
        int index = -1;
        const bool found = list.Find(word, index);
        EXPECT_EQ(found, std::any_of(model.begin(), model.end(),
                                     [&](const std::string& m) { return compare(m, word) == 0; }));
        if (found) {
          EXPECT_EQ(compare(list.Get(index), word), 0);
        }
        EXPECT_EQ(list.IndexOf(word) >= 0, found);
      }
    }
  }
}

TEST(TStringListTest, CaseRulesOfFindAndIndexOf) {
  TStringList list;
  list.Add("Dupont");
  list.Add(
      "\xE9"
      "cole");  // école
  EXPECT_EQ(list.IndexOf("DUPONT"), 0);
  EXPECT_EQ(list.IndexOf("\xC9"
                         "COLE"),
            1);  // ÉCOLE
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("DUPONT"), -1);
  EXPECT_EQ(list.IndexOf("Dupont"), 0);

  // Changing the case rule of a sorted list re-sorts it, so Find stays right.
  TStringList sorted;
  sorted.SetCaseSensitive(true);
  sorted.SetSorted(true);
  sorted.SetDuplicates(dupAccept);
  for (const char* s : {"b", "B", "a", "A"}) sorted.Add(s);
  sorted.SetCaseSensitive(false);
  for (const char* s : {"a", "A", "b", "B"}) {
    int index = -1;
    EXPECT_TRUE(sorted.Find(s, index)) << s;
  }
  EXPECT_THROW(sorted.Insert(0, "c"), EStringListError);
  EXPECT_THROW(sorted.Put(0, "c"), EStringListError);
}

TEST(TStringListTest, TextJoinsWithCrLfAndSplitsAtEveryLineEnd) {
  TStringList list;
  list.SetText("SELECT *\r\nFROM Inter\nWHERE a = :p\rORDER BY b");
  EXPECT_EQ(Lines(list),
            (std::vector<std::string>{"SELECT *", "FROM Inter", "WHERE a = :p", "ORDER BY b"}));
  EXPECT_EQ(list.Text(), "SELECT *\r\nFROM Inter\r\nWHERE a = :p\r\nORDER BY b\r\n");
  list.SetText("a\r\n\r\nb\n\r");
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "", "b", ""}));
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Text(), "");
  list.SetText(std::string("x\0y", 3));
  EXPECT_EQ(Lines(list), std::vector<std::string>{std::string("x\0y", 3)});
}

TEST(TStringListTest, ReplacingTheListIsOneNotification) {
  TStringList source;
  source.Add("one");
  source.Add("two");
  source.Add("three");
  TStringList sql;
  sql.Add("old");
  int changing = 0;
  int changed = 0;
  sql.SetOnChanging([&](TObject*) { ++changing; });
  sql.SetOnChange([&](TObject* sender) {
    EXPECT_EQ(sender, &sql);
    ++changed;
  });
  sql.Assign(&source);
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(Lines(sql), Lines(source));
  sql.SetText("a\nb");
  EXPECT_EQ(changed, 2);
  sql.Add("c");
  sql.Delete(0);
  EXPECT_EQ(changed, 4);
  sql.BeginUpdate();
  sql.BeginUpdate();
  sql.Add("d");
  sql.Clear();
  sql.EndUpdate();
  EXPECT_EQ(changed, 4);
  sql.EndUpdate();
  EXPECT_EQ(changed, 5);
  EXPECT_THROW(sql.Assign(nullptr), EConvertError);
}

TEST(TStringListTest, AddingAnIgnoredDuplicateLeavesItsObjectAndIsOneChange) {
  TStringList list;
  list.SetSorted(true);
  int changed = 0;
  list.SetOnChange([&](TObject*) { ++changed; });
  EXPECT_EQ(list.AddObject("Martin", IntToObj(12)), 0);
  EXPECT_EQ(changed, 1) << "adding a line with its object is one modification";
  EXPECT_EQ(list.AddObject("MARTIN", IntToObj(99)), 0);
  EXPECT_EQ(ObjToInt(list.Objects(0)), 12) << "an ignored duplicate changes nothing";
  EXPECT_EQ(list.Count(), 1);
  list.SetDuplicates(dupError);
  EXPECT_THROW(list.AddObject("martin", IntToObj(5)), EStringListError);
  EXPECT_EQ(ObjToInt(list.Objects(0)), 12);
  list.SetDuplicates(dupAccept);
  EXPECT_EQ(list.AddObject("Martin", IntToObj(7)), 0);
  EXPECT_EQ(ObjToInt(list.Objects(0)), 7);
  EXPECT_EQ(ObjToInt(list.Objects(1)), 12);
  EXPECT_EQ(changed, 2);
}

TEST(TStringListTest, ObjectsTravelWithTheirLines) {
  TStringList list;
  list.AddObject("<Liste de destinataires>", IntToObj(-1));
  list.AddObject("Martin", IntToObj(12));
  list.AddObject("Durand", IntToObj(7));
  EXPECT_EQ(ObjToInt(list.Objects(0)), -1);
  EXPECT_EQ(list.IndexOfObject(IntToObj(7)), 2);
  list.Exchange(0, 2);
  EXPECT_EQ(list.Get(0), "Durand");
  EXPECT_EQ(ObjToInt(list.Objects(0)), 7);
  list.Move(0, 1);
  EXPECT_EQ(Lines(list),
            (std::vector<std::string>{"Martin", "Durand", "<Liste de destinataires>"}));
  EXPECT_EQ(ObjToInt(list.Objects(1)), 7);
  list.SetSorted(true);
  EXPECT_EQ(Lines(list),
            (std::vector<std::string>{"<Liste de destinataires>", "Durand", "Martin"}));
  EXPECT_EQ(ObjToInt(list.Objects(2)), 12);
  TStringList copy;
  copy.Assign(&list);
  EXPECT_EQ(ObjToInt(copy.Objects(0)), -1);
  EXPECT_THROW(list.Objects(3), EListError);
  list.SetSorted(false);
  list.Put(0, "x");
  EXPECT_EQ(ObjToInt(list.Objects(0)), -1) << "replacing a line keeps its object";
}

}  // namespace
}  // namespace cl
