#include "platform/FileTime.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/platform/TempDirectory.h"

namespace {

TEST(FileTimeTest, LastWriteIsReadInUtcWhateverTheZone) {
  mirvel_test::TempDirectory dir("filetime");
  const std::string path = dir.File("f");
  std::ofstream(path) << "x";
  // 2021-03-04 05:06:07.890 UTC
  const timespec times[2] = {{1614834367, 890000000}, {1614834367, 890000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  const char* old_tz = getenv("TZ");
  const std::string saved = old_tz ? old_tz : "";
  setenv("TZ", "Pacific/Kiritimati", 1);  // UTC+14: a local reading would change the day
  tzset();
  platform::CalendarTime t;
  ASSERT_EQ(platform::GetFileLastWriteUtc(path, t), 0u);
  EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond}),
            std::vector<int>({2021, 3, 4, 5, 6, 7, 890}));
  if (old_tz) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  EXPECT_EQ(platform::GetFileLastWriteUtc(dir.File("missing"), t), platform::kErrorFileNotFound);
}

}  // namespace
