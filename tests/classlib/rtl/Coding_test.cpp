#include "classlib/rtl/Coding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace cl {
namespace {

TEST(Coding, WritesLittleEndianAtUnalignedOffsets) {
  uint8_t buf[19] = {};
  PutU16LE(buf + 1, 0x1234);
  PutU32LE(buf + 3, 0xA1B2C3D4u);
  PutU64LE(buf + 7, 0x0102030405060708ull);
  const uint8_t expect[19] = {0,    0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0x08, 0x07, 0x06,
                              0x05, 0x04, 0x03, 0x02, 0x01, 0,    0,    0,    0};
  for (int i = 0; i < 19; ++i) EXPECT_EQ(buf[i], expect[i]) << "byte " << i;
  EXPECT_EQ(GetU16LE(buf + 1), 0x1234);
  EXPECT_EQ(GetU32LE(buf + 3), 0xA1B2C3D4u);
  EXPECT_EQ(GetU64LE(buf + 7), 0x0102030405060708ull);
}

TEST(Coding, SignedAndFloatRoundTrip) {
  uint8_t buf[8];
  PutI16LE(buf, -2);
  EXPECT_EQ(buf[0], 0xFE);
  EXPECT_EQ(buf[1], 0xFF);
  EXPECT_EQ(GetI16LE(buf), -2);
  PutI32LE(buf, std::numeric_limits<int32_t>::min());
  EXPECT_EQ(GetI32LE(buf), std::numeric_limits<int32_t>::min());
  PutI64LE(buf, -1234567890123ll);
  EXPECT_EQ(GetI64LE(buf), -1234567890123ll);
  PutF64LE(buf, 1.0);
  EXPECT_EQ(buf[7], 0x3F);
  EXPECT_EQ(buf[6], 0xF0);
  for (double d :
       {0.0, -0.0, 3.141592653589793, -1e300, std::numeric_limits<double>::denorm_min()}) {
    PutF64LE(buf, d);
    const double back = GetF64LE(buf);
    EXPECT_EQ(std::signbit(back), std::signbit(d));
    EXPECT_EQ(back, d);
  }
}

}  // namespace
}  // namespace cl
