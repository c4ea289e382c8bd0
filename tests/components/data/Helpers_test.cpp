#include "components/data/Helpers.h"

#include <gtest/gtest.h>

#include "classlib/rtl/FormatSettings.h"

namespace comp {
namespace {

TEST(HelpersTest, TokensCountsAndCleaning) {
  EXPECT_EQ(GetToken(2, ';', "1; 2 ;3"), "2");
  EXPECT_EQ(GetToken(3, ';', "1; 2 ;3"), "3");
  EXPECT_EQ(GetToken(4, ';', "1; 2 ;3"), "");
  EXPECT_EQ(GetToken(0, ';', "1; 2 ;3"), "");
  EXPECT_EQ(GetToken(1, ';', ""), "");
  EXPECT_EQ(GetToken(2, ';', "a;"), "");
  EXPECT_EQ(CountChar("", 'a'), 0);
  EXPECT_EQ(CountChar("abca", 'a'), 2);
  EXPECT_EQ(ReplaceControlChars("a\r\nb\t\x1F\x7F\xE9"), "a  b  \x7F\xE9");
  EXPECT_EQ(RemoveChars("a-b_c-", "-_"), "abc");
  EXPECT_EQ(DateTimeToSeconds(1.5 / 86400), 2);
  EXPECT_EQ(DateTimeToSeconds(2.5 / 86400), 2);
  EXPECT_EQ(DateTimeToSeconds(1.0), 86400);
}

TEST(HelpersTest, Paths) {
  EXPECT_EQ(IncludeTrailingBackslash(""), "");
  EXPECT_EQ(IncludeTrailingBackslash("/a"), "/a/");
  EXPECT_EQ(AddTrailingBackslash("/a/"), "/a/");
  EXPECT_EQ(ExcludeTrailingBackslash("/a/"), "/a");
  EXPECT_EQ(ExcludeTrailingBackslash("/a"), "/a");
  EXPECT_EQ(ExcludeTrailingBackslash(""), "");
}

TEST(HelpersTest, FormatCountFollowsTheFrenchPluralRule) {
  struct Case {
    const char* word;
    const char* suffix;
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {"enregistrement", "", 2,
       "2 enregistrement"
       "s"},
      {"enregistrement", "", 1, "1 enregistrement"},
      {"enregistrement", "", 0, "0 enregistrement"},
      {"fois", "", 3, "3 fois"},
      {"prix", "", 3, "3 prix"},
      {"CHEVAL", "AUX", 3, "3 CHEVALAUX"},
      {"caf\xE9", "", 2, "2 caf\xE9s"},
      {"num\xE9ro 1", "", 2, "2 num\xE9ro 1"},
      {"", "", 2, "2 "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatCount(c.word, c.suffix, c.value), c.expected) << c.word << " " << c.value;
  }
  // The number follows the current decimal separator (a comma in the French profile).
  cl::TFormatSettings settings = cl::SystemFormatSettings();
  settings.DecimalSeparator = ',';
  cl::SetCurrentFormatSettings(settings);
  EXPECT_EQ(FormatCount("jour", "", 1.5), "1,5 jours");
  cl::SetCurrentFormatSettings(cl::SystemFormatSettings());
}

TEST(HelpersTest, SwapMemory) {
  char a[] = "abc";
  char b[] = "xyz";
  SwapMemory(a, b, 3);
  EXPECT_STREQ(a, "xyz");
  EXPECT_STREQ(b, "abc");
  SwapMemory(nullptr, nullptr, 0);
}

}  // namespace
}  // namespace comp
