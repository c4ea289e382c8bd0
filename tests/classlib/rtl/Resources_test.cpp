#include "classlib/rtl/Resources.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace cl {
namespace {

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> ResourceBytes(const std::string& name) {
  TResourceStream stream(name);
  std::vector<uint8_t> bytes(static_cast<size_t>(stream.Size()));
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

TEST(ResourcesTest, EmbeddedFilesAreRegisteredVerbatimBeforeMain) {
  const std::string dir = MIRVEL_RESOURCE_DIR;
  EXPECT_EQ(ResourceBytes("SAMPLE"), FileBytes(dir + "/sample.bin"));
  EXPECT_EQ(ResourceBytes("sample"), FileBytes(dir + "/sample.bin")) << "names ignore case";
  EXPECT_EQ(ResourceBytes("LARGE.BIN"), FileBytes(dir + "/large.bin"));
  EXPECT_EQ(FileBytes(dir + "/large.bin").size(), 3000u);
  EXPECT_TRUE(ResourceBytes("EMPTY").empty());
  EXPECT_TRUE(ResourceExists("EMPTY"));
  EXPECT_THROW(TResourceStream("MISSING"), EResNotFound);
}

}  // namespace
}  // namespace cl
