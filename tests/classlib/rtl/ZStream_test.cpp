#include "classlib/rtl/ZStream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Resources.h"

namespace cl {
namespace {

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

// The installer resource's layout: a 4-byte length, then that many bytes.
std::vector<uint8_t> InstallerImage(size_t length) {
  std::mt19937 random(5);
  std::vector<uint8_t> image(4 + length);
  PutU32LE(image.data(), static_cast<uint32_t>(length));
  for (size_t i = 4; i < image.size(); ++i) image[i] = static_cast<uint8_t>(random() % 7);
  return image;
}

TEST(TZDecompressionStreamTest, InflatesWhatDeflateMade) {
  const std::vector<uint8_t> image = InstallerImage(225792);
  static std::vector<uint8_t> compressed;
  compressed = Deflate(image);
  RegisterResource("TAUTOINSTALLER", compressed.data(), compressed.size());

  TResourceStream resource("TAutoInstaller");
  TZDecompressionStream inflated(resource);
  uint8_t length_bytes[4];
  inflated.ReadBuffer(length_bytes, 4);
  const uint32_t length = GetU32LE(length_bytes);
  ASSERT_EQ(length, 225792u);
  TMemoryStream file;
  file.CopyFrom(inflated, length);
  EXPECT_TRUE(std::equal(file.Bytes().begin(), file.Bytes().end(), image.begin() + 4));
  uint8_t extra;
  EXPECT_EQ(inflated.Read(&extra, 1), 0) << "nothing after the end of the zlib stream";

  // Back to the start and skip forward.
  EXPECT_EQ(inflated.Seek(0, soFromBeginning), 0);
  EXPECT_EQ(inflated.Seek(1000, soFromCurrent), 1000);
  inflated.ReadBuffer(&extra, 1);
  EXPECT_EQ(extra, image[1000]);
  EXPECT_THROW(inflated.Seek(0, soFromEnd), EZDecompressionError);
  EXPECT_THROW(inflated.Write(&extra, 1), EZDecompressionError);
}

TEST(TZDecompressionStreamTest, TruncatedInputIsAShortReadAndDamageAnError) {
  const std::vector<uint8_t> image = InstallerImage(5000);
  const std::vector<uint8_t> compressed = Deflate(image);

  TMemoryStream truncated;
  truncated.WriteBuffer(compressed.data(), static_cast<int32_t>(compressed.size() / 2));
  truncated.SetPosition(0);
  TZDecompressionStream short_stream(truncated);
  std::vector<uint8_t> out(image.size());
  const int32_t n = short_stream.Read(out.data(), static_cast<int32_t>(out.size()));
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<int32_t>(image.size()));
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + n, image.begin()));
  truncated.SetPosition(0);
  TZDecompressionStream again(truncated);
  EXPECT_THROW(again.ReadBuffer(out.data(), static_cast<int32_t>(out.size())), EReadError);

  std::vector<uint8_t> damaged = compressed;
  for (size_t i = 2; i < damaged.size(); i += 3) damaged[i] ^= 0x5A;
  TMemoryStream bad;
  bad.WriteBuffer(damaged.data(), static_cast<int32_t>(damaged.size()));
  bad.SetPosition(0);
  TZDecompressionStream broken(bad);
  EXPECT_THROW(broken.ReadBuffer(out.data(), static_cast<int32_t>(out.size())),
               EZDecompressionError);
}

TEST(TResourceStreamTest, MissingResourceAndReadOnly) {
  try {
    TResourceStream missing("OX_NOSUCHCUR");
    FAIL() << "a missing resource opened";
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), "Ressource OX_NOSUCHCUR introuvable");
  }
  static const uint8_t kCursor[] = {1, 2, 3};
  RegisterResource("OX_HANDCUR", kCursor, sizeof kCursor);
  EXPECT_TRUE(ResourceExists("ox_handcur"));
  TResourceStream cursor("OX_HANDCUR");
  EXPECT_EQ(cursor.Size(), 3);
  EXPECT_THROW(cursor.WriteBuffer(kCursor, 1), EStreamError);
}

}  // namespace
}  // namespace cl
