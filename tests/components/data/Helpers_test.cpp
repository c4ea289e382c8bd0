#include "components/data/Helpers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "classlib/rtl/FormatSettings.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace comp {
namespace {

TEST(HelpersTest, TokensCountsAndCleaning) {
  EXPECT_EQ(GetToken(2, ';', "1; 2 ;3"), "2");
  EXPECT_EQ(GetToken(3, ';', "1; 2 ;3"), "3");
  EXPECT_EQ(GetToken(4, ';', "1; 2 ;3"), "");
  EXPECT_EQ(GetToken(0, ';', "1; 2 ;3"), "");
  EXPECT_EQ(GetToken(1, ';', ""), "");
  EXPECT_EQ(GetToken(2, ';', "a;"), "");
  EXPECT_EQ(CountChar("", 'a'), 0);
  EXPECT_EQ(CountChar("abca", 'a'), 2);
  EXPECT_EQ(ReplaceControlChars("a\r\nb\t\x1F\x7F\xE9"), "a  b  \x7F\xE9");
  EXPECT_EQ(RemoveChars("a-b_c-", "-_"), "abc");
  EXPECT_EQ(DateTimeToSeconds(1.5 / 86400), 2);
  EXPECT_EQ(DateTimeToSeconds(2.5 / 86400), 2);
  EXPECT_EQ(DateTimeToSeconds(1.0), 86400);
}

TEST(HelpersTest, Paths) {
  EXPECT_EQ(IncludeTrailingBackslash(""), "");
  EXPECT_EQ(IncludeTrailingBackslash("/a"), "/a/");
  EXPECT_EQ(AddTrailingBackslash("/a/"), "/a/");
  EXPECT_EQ(ExcludeTrailingBackslash("/a/"), "/a");
  EXPECT_EQ(ExcludeTrailingBackslash("/a"), "/a");
  EXPECT_EQ(ExcludeTrailingBackslash(""), "");
}

TEST(HelpersTest, FormatCountFollowsTheFrenchPluralRule) {
  struct Case {
    const char* word;
    const char* suffix;
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {"enregistrement", "", 2,
       "2 enregistrement"
       "s"},
      {"enregistrement", "", 1, "1 enregistrement"},
      {"enregistrement", "", 0, "0 enregistrement"},
      {"fois", "", 3, "3 fois"},
      {"prix", "", 3, "3 prix"},
      {"CHEVAL", "AUX", 3, "3 CHEVALAUX"},
      {"caf\xE9", "", 2, "2 caf\xE9s"},
      {"num\xE9ro 1", "", 2, "2 num\xE9ro 1"},
      {"", "", 2, "2 "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatCount(c.word, c.suffix, c.value), c.expected) << c.word << " " << c.value;
  }
  // The number follows the current decimal separator (a comma in the French profile).
  cl::TFormatSettings settings = cl::SystemFormatSettings();
  settings.DecimalSeparator = ',';
  cl::SetCurrentFormatSettings(settings);
  EXPECT_EQ(FormatCount("jour", "", 1.5), "1,5 jours");
  cl::SetCurrentFormatSettings(cl::SystemFormatSettings());
}

TEST(HelpersTest, SwapMemory) {
  char a[] = "abc";
  char b[] = "xyz";
  SwapMemory(a, b, 3);
  EXPECT_STREQ(a, "xyz");
  EXPECT_STREQ(b, "abc");
  SwapMemory(nullptr, nullptr, 0);
}

TEST(HelpersTest, IdentityIsThePlatformsUnlessFixed) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof(host) - 1), 0);
  std::string computer(host);
  computer.resize(std::min(computer.find('.'), computer.size()));
  const passwd* user = getpwuid(getuid());
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(ComputerName(), computer);
  EXPECT_EQ(UserName(), user->pw_name);

  SetIdentityProvider([] { return std::string("POSTE-07"); }, [] { return std::string("paul"); });
  EXPECT_EQ(ComputerName() + "/" + UserName(), "POSTE-07/paul");
  SetIdentityProvider(nullptr, nullptr);
  EXPECT_EQ(ComputerName() + "/" + UserName(), computer + "/" + user->pw_name);
}

// Waits up to 5 s for `done`.
template <class F>
bool Eventually(F done) {
  for (int i = 0; i < 500 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

TEST(HelpersTest, FilesDirectoriesAndProcesses) {
  mirvel_test::TempDirectory dir("helpers");
  const std::string file = dir.File("data.txt");
  std::ofstream(file) << "x";

  // Last-write times, set in UTC: odd seconds fall to the even one below; outside 1980..2107
  // or no file at all gives 0.
  struct TimeCase {
    int year, month, day, hour, minute, second;
    cl::TDateTime expected;
  };
  const TimeCase times[] = {
      {2026, 12, 7, 9, 5, 3, cl::EncodeDate(2026, 12, 7) + cl::EncodeTime(9, 5, 2, 0)},
      {1999, 12, 31, 23, 59, 58, cl::EncodeDate(1999, 12, 31) + cl::EncodeTime(23, 59, 58, 0)},
      {1980, 1, 1, 0, 0, 0, cl::EncodeDate(1980, 1, 1)},
      {1979, 12, 31, 23, 59, 59, 0},
  };
  for (const TimeCase& c : times) {
    tm utc = {};
    utc.tm_year = c.year - 1900;
    utc.tm_mon = c.month - 1;
    utc.tm_mday = c.day;
    utc.tm_hour = c.hour;
    utc.tm_min = c.minute;
    utc.tm_sec = c.second;
    const time_t t = timegm(&utc);
    const timespec stamps[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), stamps, 0), 0);
    EXPECT_EQ(FileDateTime(file), c.expected) << c.year;
  }
  EXPECT_EQ(FileDateTime(dir.File("missing.txt")), 0);

  struct DirectoryCase {
    std::string path;
    bool expected;
  };
  const DirectoryCase directories[] = {{dir.Path(), true},
                                       {dir.Path() + "/", true},
                                       {file, false},
                                       {dir.File("missing"), false},
                                       {"", false}};
  for (const DirectoryCase& c : directories) {
    EXPECT_EQ(DirectoryExists(c.path), c.expected) << c.path;
  }

  // A missing program gives pid 0 and raises nothing; a real one runs, detached, and is reaped.
  TProcessInformation info;
  info.ProcessId = 123;
  StartProcess(dir.File("no-such-program") + " arg", info);
  EXPECT_EQ(info.ProcessId, 0);
  const std::string marker = dir.File("marker");
  StartProcess("/bin/sh -c \"echo started > '" + marker + "'\"", info);
  ASSERT_GT(info.ProcessId, 0);
  EXPECT_TRUE(Eventually([&] { return mirvel_test::ReadFileText(marker) == "started\n"; }));
  const pid_t child = info.ProcessId;
  EXPECT_TRUE(Eventually([&] { return kill(child, 0) != 0 && errno == ESRCH; }))
      << "no zombie left";
}

}  // namespace
}  // namespace comp
