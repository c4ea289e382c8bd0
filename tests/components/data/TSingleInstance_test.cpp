#include "components/data/TSingleInstance.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "ProcessRunner.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "tests/platform/TempDirectory.h"

namespace comp {
namespace {

using mirvel_test::ReadFileText;
using mirvel_test::WaitForText;

TEST(TFileMapStreamTest, NamesBoundsAndCreation) {
  const std::string name = "mirvel\\test\\" + std::string(300, 'x') + std::to_string(getpid());
  TFileMapStream first(name, 4);
  EXPECT_EQ(first.Name().size(), 260u);
  EXPECT_EQ(first.Name().find('\\'), std::string::npos);
  EXPECT_TRUE(first.Created());
  const uint8_t bytes[4] = {1, 2, 3, 4};
  first.WriteBuffer(bytes, 4);
  EXPECT_THROW(first.WriteBuffer(bytes, 1), cl::EWriteError);  // past the block
  first.SetPosition(2);
  EXPECT_THROW(first.WriteBuffer(bytes, 3), cl::EWriteError);

  TFileMapStream second(name, 4);  // same name once cut: the same block
  EXPECT_FALSE(second.Created());
  uint8_t read[4] = {};
  second.ReadBuffer(read, 4);
  EXPECT_EQ(read[3], 4);
}

struct HaltCalled {
  int code;
};

TEST(TSingleInstanceTest, ASecondStartWaitsForAHandleNotYetWritten) {
  const std::string name = "Mirvel\\late\\" + std::to_string(getpid());
  TFileMapStream first(name, 4);  // a first instance between taking the block and writing it
  ASSERT_TRUE(first.Created());
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    uint8_t bytes[4];
    cl::PutU32LE(bytes, 0x12345);
    first.WriteBuffer(bytes, 4);
  });
  cl::SetHaltHook([](int code) { throw HaltCalled{code}; });
  TSingleInstance guard(nullptr);
  cl::HWND seen = 0;
  guard.SetOnAppRunning([&](cl::TObject*, cl::HWND handle) { seen = handle; });
  try {
    guard.OpenInstanceMap(name);
    ADD_FAILURE() << "not halted";
  } catch (const HaltCalled& halt) {
    EXPECT_EQ(halt.code, 0);
  }
  writer.join();
  cl::SetHaltHook(nullptr);
  EXPECT_EQ(seen, 0x12345u);
}

class TSingleInstanceProcessTest : public ::testing::Test {
 protected:
  std::string Result(const std::string& tag) const { return dir_.File(tag + ".txt"); }
  pid_t Start(const std::string& program, const std::string& id, const std::string& tag,
              const char* extra = nullptr) {
    std::vector<std::string> args = {program, id, Result(tag)};
    if (extra != nullptr) args.push_back(extra);
    return mirvel_test::Spawn(args);
  }

  mirvel_test::TempDirectory dir_{"instance"};
  const std::string helper_ = MIRVEL_SINGLE_INSTANCE_HELPER;
  const std::string id_ = "Mirvel\\Test\\" + dir_.Path();
};

TEST_F(TSingleInstanceProcessTest, SecondStartHandsOverAndKilledFirstNeverBlocks) {
  const pid_t first = Start(helper_, id_, "a");
  ASSERT_TRUE(WaitForText(Result("a"), "first "));

  const pid_t second = Start(helper_, id_, "b");
  EXPECT_EQ(mirvel_test::WaitExit(second), 0);
  EXPECT_TRUE(WaitForText(Result("a"), "received 1152"));
  // The handle the second one found is the one the first one published.
  const std::string a = ReadFileText(Result("a"));
  const std::string handle = a.substr(6, a.find('\n') - 6);
  EXPECT_EQ(ReadFileText(Result("b")), "second " + handle + "\n");

  mirvel_test::Kill(first);  // kill -9: the next start is first again
  const pid_t third = Start(helper_, id_, "c");
  EXPECT_TRUE(WaitForText(Result("c"), "first "));

  // Another identifier does not meet it.
  const pid_t other = Start(helper_, id_ + "-other", "d");
  EXPECT_TRUE(WaitForText(Result("d"), "first "));
  mirvel_test::Kill(third);
  mirvel_test::Kill(other);
}

TEST_F(TSingleInstanceProcessTest, CopiesAtTwoPathsAndAFreedGuard) {
  // Without an identifier the executable's path names the block.
  std::filesystem::copy_file(helper_, dir_.File("one"));
  std::filesystem::copy_file(helper_, dir_.File("two"));
  const pid_t one = Start(dir_.File("one"), "-", "one");
  const pid_t two = Start(dir_.File("two"), "-", "two");
  EXPECT_TRUE(WaitForText(Result("one"), "first "));
  EXPECT_TRUE(WaitForText(Result("two"), "first "));
  mirvel_test::Kill(one);
  mirvel_test::Kill(two);

  // A first instance that frees its guard lets the next start be first while it still runs.
  const pid_t releasing = Start(helper_, id_, "r", "release");
  ASSERT_TRUE(WaitForText(Result("r"), "released"));
  const pid_t next = Start(helper_, id_, "n");
  EXPECT_TRUE(WaitForText(Result("n"), "first "));
  mirvel_test::Kill(releasing);
  mirvel_test::Kill(next);
}

}  // namespace
}  // namespace comp
