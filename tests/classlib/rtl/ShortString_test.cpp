#include "classlib/rtl/ShortString.h"

#include <gtest/gtest.h>

namespace cl {
namespace {

TEST(ShortString, CutsAtCapacity) {
  const std::string long_text(300, 'x');
  EXPECT_EQ(ToShort(long_text).size(), 255u);
  EXPECT_EQ(ToShort("abcdef", 4), "abcd");
  EXPECT_EQ(ToShort("ab", 4), "ab");
  EXPECT_TRUE(FitsShort(std::string(255, 'a')));
  EXPECT_FALSE(FitsShort(std::string(256, 'a')));
}

TEST(ShortString, DiskFormIsLengthByteTextAndZeroFill) {
  uint8_t buf[16];
  std::fill(buf, buf + 16, 0xEE);
  PutShortString(buf, 15, "Secret");
  EXPECT_EQ(buf[0], 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 1), 6), "Secret");
  for (int i = 7; i < 16; ++i) EXPECT_EQ(buf[i], 0) << i;
  EXPECT_EQ(GetShortString(buf, 15), "Secret");

  PutShortString(buf, 15, "a text longer than fifteen");
  EXPECT_EQ(buf[0], 15);
  EXPECT_EQ(GetShortString(buf, 15), "a text longer t");
}

TEST(ShortString, DamagedLengthByteIsClamped) {
  uint8_t buf[16] = {200, 'a', 'b', 'c'};
  EXPECT_FALSE(ShortStringLengthValid(buf, 15));
  EXPECT_EQ(GetShortString(buf, 15).size(), 15u);
}

}  // namespace
}  // namespace cl
