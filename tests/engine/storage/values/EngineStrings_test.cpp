#include "engine/storage/values/EngineStrings.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tessera {
namespace {

TEST(EngineStrings, PaddingRepeatingAndCutting) {
  EXPECT_EQ(PadLeft("42", 5, '0'), "00042");
  EXPECT_EQ(PadRight("ab", 4, '.'), "ab..");
  EXPECT_EQ(PadLeft("abcdef", 3, ' '), "abcdef");  // never cut to the length
  EXPECT_EQ(PadRight("", 0, 'x'), "");
  EXPECT_EQ(PadRight("a", 300, ' ').size(), 255u);  // a ShortString
  EXPECT_EQ(RepeatString("ab", 3), "ababab");
  EXPECT_EQ(RepeatString("ab", 0), "");
  EXPECT_EQ(RepeatString("", 5), "");
  EXPECT_EQ(RepeatString("abc", 1000).size(), 255u);
  EXPECT_EQ(LeftChars("abcdef", 2), "ab");
  EXPECT_EQ(LeftChars("ab", 5), "ab");
  EXPECT_EQ(RightChars("abcdef", 2), "ef");
  EXPECT_EQ(RightChars("ab", 5), "ab");
  EXPECT_EQ(RightChars("ab", 0), "");
}

TEST(EngineStrings, SearchingAndCounting) {
  EXPECT_EQ(LastPos("ab", "abcabc"), 4u);
  EXPECT_EQ(LastPos("abc", "abc"), 1u);
  EXPECT_EQ(LastPos("x", "abc"), 0u);
  EXPECT_EQ(LastPos("", "abc"), 0u);
  EXPECT_EQ(LastPos("abcd", "abc"), 0u);
  EXPECT_EQ(CountChar('a', "banana"), 3u);
  EXPECT_EQ(CountChar('z', "banana"), 0u);
  EXPECT_EQ(CountChar('\xE9', "\xE9t\xE9"), 2u);
}

TEST(EngineStrings, Trimming) {
  EXPECT_EQ(TrimChar("**ab*c**", '*'), "ab*c");
  EXPECT_EQ(TrimLeftChar("**ab**", '*'), "ab**");
  EXPECT_EQ(TrimRightChar("**ab**", '*'), "**ab");
  EXPECT_EQ(TrimChar("****", '*'), "");
  EXPECT_EQ(RemoveLineBreaks("a\r\nb\nc\rd"), "abcd");

  char text[12] = "abc  ";
  TrimTrailingBlanksZ(text, sizeof text);
  EXPECT_STREQ(text, "abc");
  char blanks[4] = "   ";
  TrimTrailingBlanksZ(blanks, sizeof blanks);
  EXPECT_STREQ(blanks, "");
  // Without a terminator inside the capacity, nothing beyond it is touched.
  char unterminated[6] = {'a', ' ', ' ', ' ', 'x', '\0'};
  TrimTrailingBlanksZ(unterminated, 3);
  EXPECT_EQ(std::memcmp(unterminated, "a\0\0 x", 6), 0);
}

TEST(EngineStrings, CharacterClasses) {
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 129 && c <= 254);
    const bool digit = c >= '0' && c <= '9';
    EXPECT_EQ(IsNameLetter(ch), letter) << c;
    EXPECT_EQ(IsDigitChar(ch), digit) << c;
    EXPECT_EQ(IsNameChar(ch), letter || digit) << c;
  }
  EXPECT_FALSE(IsNameLetter('_'));
  EXPECT_FALSE(IsNameLetter('\x80'));
  EXPECT_FALSE(IsNameLetter('\xFF'));
}

}  // namespace
}  // namespace tessera
