#include "engine/storage/core/FilePaths.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "platform/ProcessInfo.h"

namespace tessera {
namespace {

TEST(FilePathsTest, TrailingSeparatorAndPathTest) {
  EXPECT_EQ(AddTrailingBackslash("  /data/base \t"), "/data/base/");
  EXPECT_EQ(AddTrailingBackslash("/data/base/"), "/data/base/");
  EXPECT_EQ(AddTrailingBackslash("   "), "");
  EXPECT_EQ(AddTrailingBackslash(""), "");
  EXPECT_EQ(AddTrailingBackslash("rel"), "rel/");

  EXPECT_TRUE(ContainsPath(""));
  EXPECT_TRUE(ContainsPath("/x"));
  EXPECT_TRUE(ContainsPath("dir/T"));
  EXPECT_FALSE(ContainsPath("T.DAT"));
  EXPECT_FALSE(ContainsPath("C:\\T"));  // no drive letters or backslashes on this system
}

TEST(FilePathsTest, RemoveFileExtension) {
  EXPECT_EQ(RemoveFileExtension("/db/Users.DAT"), "/db/Users");
  EXPECT_EQ(RemoveFileExtension("/db/a.b.c"), "/db/a.b");
  EXPECT_EQ(RemoveFileExtension("/db.old/Users"), "/db.old/Users");  // the dot is in the folder
  EXPECT_EQ(RemoveFileExtension("Users"), "Users");
  EXPECT_EQ(RemoveFileExtension("Users."), "Users");
  EXPECT_EQ(RemoveFileExtension(""), "");
}

TEST(FilePathsTest, ExpandTableName) {
  EXPECT_EQ(ExpandTableName("/db/Users.DAT"), "/db/Users");
  EXPECT_EQ(ExpandTableName("/db/./x/../Users.DAT"), "/db/Users");
  EXPECT_EQ(ExpandTableName("//db//Users"), "/db/Users");
  EXPECT_EQ(ExpandTableName("/../Users.IDX"), "/Users");
  const std::string cwd = platform::GetCurrentDir();
  ASSERT_FALSE(cwd.empty());
  ASSERT_EQ(cwd[0], '/');
  const std::string base = cwd == "/" ? "" : cwd;
  EXPECT_EQ(ExpandTableName("T.DAT"), base + "/T");
  EXPECT_EQ(ExpandTableName("sub/T.DAT"), base + "/sub/T");

  // 255 bytes fit; 256 are refused rather than cut.
  const std::string fits = "/" + std::string(250, 'n') + ".DAT";
  ASSERT_EQ(fits.size(), 255u);
  EXPECT_EQ(ExpandTableName(fits), "/" + std::string(250, 'n'));
  try {
    ExpandTableName("/" + std::string(251, 'n') + ".DAT");
    FAIL();
  } catch (const ETesseraEngineError& e) {
    EXPECT_EQ(e.GetError(0).ErrorCode(), kErrInvalidPath);
  }
}

TEST(ProcessInfoTest, ThreadIdIsPositive) { EXPECT_GT(platform::GetCurrentThreadId(), 0); }

}  // namespace
}  // namespace tessera
