#include "classlib/rtl/Blanks.h"

#include <gtest/gtest.h>

#include <string>

namespace cl {
namespace {

// Every byte value at either end and in the middle: only 0-32 is cut, and only at the ends (a
// signed char would make the letters above 127 blanks).
TEST(BlanksTest, EveryByteAtEitherEnd) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const bool blank = b <= 32;
    EXPECT_EQ(IsBlank(c), blank) << b;
    const std::string framed = std::string(1, c) + "a" + c + "b" + c;
    const std::string inner = std::string("a") + c + "b";
    EXPECT_EQ(TrimBlanks(framed), blank ? inner : framed) << b;
  }
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(TrimBlanks(std::string(" \t\r\n\0 ", 6)), "");
  static_assert(TrimBlanks("  Msg.DAT\r\n") == "Msg.DAT");
}

}  // namespace
}  // namespace cl
