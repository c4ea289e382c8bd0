#include "components/data/FolderPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "components/data/Helpers.h"
#include "tests/platform/TempDirectory.h"

namespace comp {
namespace {

TEST(FolderPathsTest, ListedNamesAndMissingElements) {
  mirvel_test::TempDirectory dir("folders");
  std::filesystem::create_directories(dir.File("Data/Sub"));
  std::ofstream(dir.File("Data/Sub/File.txt")) << "x";
  const std::string root = dir.Path();

  EXPECT_TRUE(DirExists(root + "/Data"));
  EXPECT_TRUE(DirectoryExists(root + "/Data"));
  EXPECT_FALSE(DirExists(root + "/Data/Sub/File.txt"));
  EXPECT_FALSE(DirExists(root + "/None"));
  EXPECT_FALSE(DirExists(""));

  const struct {
    std::string in, out;
  } cases[] = {
      {"/", "/"},
      {root + "/Data/Sub/File.txt", root + "/Data/Sub/File.txt"},
      {root + "/data/SUB/file.TXT", root + "/Data/Sub/File.txt"},
      {root + "/Data/Sub/", root + "/Data/Sub/"},
      {root + "/Data/Missing", root + "/Data/"},
      {root + "/Missing/Sub", root + "//"},
      {"relative/Sub", "relative/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShortToLongPath(c.in), c.out) << c.in;
    EXPECT_EQ(LongToShortPath(c.in), c.out) << c.in;
  }
}

}  // namespace
}  // namespace comp
