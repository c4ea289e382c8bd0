#include "engine/storage/core/TPasswordList.h"

#include <gtest/gtest.h>

#include <string>

namespace tessera {
namespace {

TEST(TPasswordListTest, ExactCaseSensitiveMatching) {
  TPasswordList list;
  list.Add("");
  EXPECT_EQ(list.Count(), 0);
  list.Add("Secret");
  EXPECT_TRUE(list.Contains("Secret"));
  EXPECT_FALSE(list.Contains("secret"));
  EXPECT_FALSE(list.Contains("SECRET"));
  EXPECT_FALSE(list.Contains("Secret "));
  EXPECT_FALSE(list.Contains(""));
  // Byte for byte, not linguistic: "é" (0xE9) and "É" (0xC9) differ, as do "ss" and "ß".
  list.Add("caf\xE9");
  EXPECT_FALSE(list.Contains("caf\xC9"));
  const std::string strasse = std::string("stra\xDF") + "e";
  list.Add(strasse);
  EXPECT_FALSE(list.Contains("strasse"));
  EXPECT_TRUE(list.Contains(strasse));
}

TEST(TPasswordListTest, DuplicatesAndRemoveTakesTheFirst) {
  TPasswordList list;
  list.Add("a");
  list.Add("b");
  list.Add("a");  // the list itself keeps duplicates
  EXPECT_EQ(list.Count(), 3);
  list.Remove("a");
  EXPECT_EQ(list.Count(), 2);
  EXPECT_TRUE(list.Contains("a"));
  list.Remove("A");  // absent: nothing
  EXPECT_EQ(list.Count(), 2);
  list.Remove("a");
  EXPECT_FALSE(list.Contains("a"));
  EXPECT_TRUE(list.Contains("b"));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.Contains("b"));
}

TEST(TPasswordListTest, PasswordsAreShortStrings) {
  TPasswordList list;
  const std::string long_password(300, 'p');
  list.Add(long_password);
  // Kept as its first 255 characters, and found again under the text it was given.
  EXPECT_TRUE(list.Contains(std::string(255, 'p')));
  EXPECT_TRUE(list.Contains(long_password));
  EXPECT_FALSE(list.Contains(std::string(254, 'p')));
}

}  // namespace
}  // namespace tessera
