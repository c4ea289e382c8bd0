#include "platform/ProcessStart.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/ProcessInfo.h"
#include "tests/platform/ServiceTestSupport.h"

namespace {

using Args = std::vector<std::string>;

TEST(ProcessStartTest, SplitsByTheWindowsRules) {
  // clang-format off
  const struct { const char* line; Args expected; } cases[] = {
    {"", {}},
    {"   ", {}},
    {"prog", {"prog"}},
    {"  prog  a   b ", {"prog", "a", "b"}},
    {"\"C:\\Program Files\\x.exe\" arg", {"C:\\Program Files\\x.exe", "arg"}},
    {"prog\\ a\\b", {"prog\\", "a\\b"}},                  // backslashes in a program name stay
    {"p \"a b\" c", {"p", "a b", "c"}},
    {"p a\\\\\\\"b", {"p", "a\\\"b"}},                    // 3 backslashes + quote
    {"p a\\\\\"b c\"", {"p", "a\\b c"}},                  // 2 backslashes + quote toggles
    {"p \"a\"\"b\"", {"p", "a\"b"}},                      // doubled quote inside quotes
    {"p \"\"", {"p", ""}},                                // an empty quoted argument
    {"p \"unterminated arg", {"p", "unterminated arg"}},
    {"p\t\"x\"y\tz", {"p", "xy", "z"}},
    // The self-update launcher's line: quoted paths, a float and a number.
    {"/opt/a/~#Instal.Exe \"/u/new app\" \"/opt/a/app\" \"5\" \"Titre\" 42",
     {"/opt/a/~#Instal.Exe", "/u/new app", "/opt/a/app", "5", "Titre", "42"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(platform::SplitCommandLine(c.line), c.expected) << c.line;
  }
}

TEST(ProcessStartTest, FailureIsZero) {
  EXPECT_EQ(platform::StartProcess(""), 0);
  EXPECT_EQ(platform::StartProcess("/nonexistent/program arg"), 0);
  EXPECT_EQ(platform::StartProcess("no-such-program-in-path-4711"), 0);
}

TEST(ProcessStartTest, ChildHoldsOnlyStandardDescriptorsInItsOwnSession) {
  mirvel_test::TempDirectory dir("spawn");
  // A descriptor opened without O_CLOEXEC, as a library might: the child must not get it.
  const int leaky = open("/dev/null", O_RDONLY);
  ASSERT_GE(leaky, 3);
  const std::string out = dir.File("fds");
  const int32_t pid =
      platform::StartProcess(std::string(MIRVEL_SERVICE_HELPER) + " fds \"" + out + "\"");
  close(leaky);
  ASSERT_GT(pid, 0);
  EXPECT_NE(pid, platform::GetCurrentProcessId());
  EXPECT_EQ(mirvel_test::WaitForFile(out), "fd 0\nfd 1\nfd 2\nstdin empty\nown session\n");
}

TEST(ProcessInfoTest, IdentityIsShortAndWithoutDomain) {
  const std::string computer = platform::GetComputerName();
  EXPECT_FALSE(computer.empty());
  EXPECT_EQ(computer.find('.'), std::string::npos);
  EXPECT_LE(computer.size(), 255u);
  EXPECT_FALSE(platform::GetUserName().empty());
  EXPECT_EQ(platform::GetCurrentProcessId(), static_cast<int32_t>(getpid()));
}

}  // namespace
