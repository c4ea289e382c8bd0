#include "platform/PrivateDirectory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/platform/ServiceTestSupport.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

TEST(PrivateDirectoryTest, RuntimeDirOrOwnFolderInTemp) {
  {
    mirvel_test::PrivateRuntimeDir runtime;
    std::string path;
    ASSERT_EQ(platform::GetPrivateDirectory(path), 0u);
    EXPECT_EQ(path, runtime.Dir().Path() + "/mirvel");
    EXPECT_EQ(ModeOf(path), 0700u);
  }
  // Without XDG_RUNTIME_DIR: a folder of our own in TMPDIR; a widened mode is narrowed again,
  // and a symbolic link planted under the name is refused.
  mirvel_test::TempDirectory temp("tmpdir");
  const char* old_runtime = getenv("XDG_RUNTIME_DIR");
  const std::string saved_runtime = old_runtime ? old_runtime : "";
  const char* old_tmp = getenv("TMPDIR");
  const std::string saved_tmp = old_tmp ? old_tmp : "";
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", temp.Path().c_str(), 1);

  const std::string expected = temp.Path() + "/mirvel-" + std::to_string(geteuid());
  std::string path;
  ASSERT_EQ(platform::GetPrivateDirectory(path), 0u);
  EXPECT_EQ(path, expected);
  ASSERT_EQ(chmod(expected.c_str(), 0755), 0);
  ASSERT_EQ(platform::GetPrivateDirectory(path), 0u);
  EXPECT_EQ(ModeOf(expected), 0700u);

  ASSERT_EQ(rmdir(expected.c_str()), 0);
  ASSERT_EQ(mkdir(temp.File("elsewhere").c_str(), 0700), 0);
  ASSERT_EQ(symlink(temp.File("elsewhere").c_str(), expected.c_str()), 0);
  EXPECT_EQ(platform::GetPrivateDirectory(path), platform::kErrorAccessDenied);

  if (old_runtime) setenv("XDG_RUNTIME_DIR", saved_runtime.c_str(), 1);
  if (old_tmp) {
    setenv("TMPDIR", saved_tmp.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

}  // namespace
