#include "platform/FileReplace.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

TEST(FileReplaceTest, ReplacesWholeKeepsModeTakesTimeAndLeavesNothingOnFailure) {
  mirvel_test::TempDirectory dir("replace");
  const std::string source = dir.File("update");
  const std::string target = dir.File("program");
  mirvel_test::WriteFileBytes(source, {1, 2, 3, 4});
  mirvel_test::WriteFileBytes(target, {9});
  fs::permissions(target, fs::perms(0751));
  fs::last_write_time(source, fs::last_write_time(target) - std::chrono::hours(48));

  ASSERT_EQ(ReplaceFileWithCopy(source, target), kErrorSuccess);
  EXPECT_EQ(mirvel_test::ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0751));
  EXPECT_EQ(fs::last_write_time(target), fs::last_write_time(source));

  // A missing source: the target stays as it was and no temporary file is left.
  EXPECT_EQ(ReplaceFileWithCopy(dir.File("none"), target), kErrorFileNotFound);
  EXPECT_EQ(mirvel_test::ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);

  ASSERT_EQ(MakeExecutable(source), kErrorSuccess);
  EXPECT_EQ(fs::status(source).permissions() & fs::perms::all, fs::perms(0755));
}

}  // namespace
}  // namespace platform
