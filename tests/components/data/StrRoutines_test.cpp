#include "components/data/StrRoutines.h"

#include <gtest/gtest.h>

namespace comp {
namespace {

TEST(StrRoutinesTest, Words) {
  const TCharSet comma = CharSet(",");
  EXPECT_EQ(WordCount(",a,,b,", comma), 2);
  EXPECT_EQ(WordCount("", comma), 0);
  EXPECT_EQ(WordPosition(2, ",a,,bc,", comma), 5);
  EXPECT_EQ(WordPosition(3, ",a,,bc,", comma), 0);
  EXPECT_EQ(ExtractWord(2, ",a,,bc,", comma), "bc");
  EXPECT_EQ(ExtractWord(3, ",a,,b,", comma), "");
  EXPECT_EQ(ExtractWord(1, "\xE9t\xE9 x", CharSet(" ")), "\xE9t\xE9");

  int pos = 1;
  EXPECT_EQ(ExtractSubstr("ab;cd", pos, CharSet(";")), "ab");
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(ExtractSubstr("ab;cd", pos, CharSet(";")), "cd");
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(ExtractSubstr("ab;cd", pos, CharSet(";")), "");
}

TEST(StrRoutinesTest, ReplaceMakeAndSets) {
  EXPECT_EQ(ReplaceStr("aaa", "a", "aa"), "aaaaaa");  // replacements are not rescanned
  EXPECT_EQ(ReplaceStr("abab", "ab", ""), "");
  EXPECT_EQ(ReplaceStr("abc", "", "x"), "abc");
  EXPECT_EQ(MakeStr('x', 0), "");
  EXPECT_EQ(MakeStr('x', -2), "");
  EXPECT_EQ(MakeStr('x', 3), "xxx");
  EXPECT_TRUE(AllCharsIn("", CharSet("")));
  EXPECT_TRUE(AllCharsIn("0110", CharSet("01")));
  EXPECT_FALSE(AllCharsIn("012", CharSet("01")));
  EXPECT_EQ(Max(-1, 2), 2);
  EXPECT_EQ(Min(-1, 2), -1);
}

}  // namespace
}  // namespace comp
