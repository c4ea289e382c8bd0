#include "classlib/rtl/Cp1252.h"

#include <gtest/gtest.h>

namespace cl {
namespace {

TEST(Cp1252, FrenchTextConvertsBothWays) {
  const std::string cp = "T\xE9l\xE9phone \x80 \x9C\x75vre \xAB\xA0ok\xBB";
  const std::string utf8 = "Téléphone € œuvre «\u00A0ok»";
  EXPECT_EQ(Cp1252ToUtf8(cp), utf8);
  EXPECT_EQ(Utf8ToCp1252(utf8), cp);
}

TEST(Cp1252, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

TEST(Cp1252, UnmappableAndMalformedBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1252("\xE4\xB8\xAD"), "?");        // a CJK character
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");              // truncated sequence
  EXPECT_EQ(Utf8ToCp1252("\xC0\xAF"), "??");           // overlong "/"
  EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "???");      // surrogate
  EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80!"), "?!");  // emoji
  EXPECT_EQ(CodePointToCp1252(0x20AC), 0x80);
  EXPECT_EQ(CodePointToCp1252(0x4E2D), -1);
}

}  // namespace
}  // namespace cl
