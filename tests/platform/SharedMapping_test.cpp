#include "platform/SharedMapping.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/ProcessStart.h"
#include "tests/platform/ServiceTestSupport.h"

namespace {

class SharedMappingTest : public ::testing::Test {
 protected:
  mirvel_test::PrivateRuntimeDir runtime_;
};

TEST_F(SharedMappingTest, FirstHolderIsDecidedByTheLockInOneProcess) {
  platform::SharedMapping first;
  ASSERT_EQ(first.Open("C:\\APP\\PROG.EXE", 4), 0u);
  EXPECT_TRUE(first.Created());
  EXPECT_EQ(first.Size(), 4u);
  first.Data()[0] = 0x7F;
  {
    platform::SharedMapping second;
    ASSERT_EQ(second.Open("C:\\APP\\PROG.EXE", 4), 0u);
    EXPECT_FALSE(second.Created());
    EXPECT_EQ(second.Data()[0], 0x7F);
    platform::SharedMapping other_name;
    ASSERT_EQ(other_name.Open("C:\\OTHER\\PROG.EXE", 4), 0u);
    EXPECT_TRUE(other_name.Created());
  }
  first.Close();
  platform::SharedMapping next;
  ASSERT_EQ(next.Open("C:\\APP\\PROG.EXE", 4), 0u);
  EXPECT_TRUE(next.Created());
  EXPECT_EQ(next.Data()[0], 0) << "a new first holder starts from zeros";

  struct stat info;
  ASSERT_EQ(stat((runtime_.Dir().Path() + "/mirvel/" +
                  platform::SharedMappingFileName("C:\\APP\\PROG.EXE"))
                     .c_str(),
                 &info),
            0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_NE(platform::SharedMapping().Open("x", 0), 0u);
}

TEST_F(SharedMappingTest, SecondProcessAndAKilledFirstHolder) {
  const std::string out = runtime_.Dir().File("holder");
  const int32_t pid =
      platform::StartProcess(std::string(MIRVEL_SERVICE_HELPER) + " hold instance \"" + out + "\"");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(mirvel_test::WaitForFile(out), "first");
  {
    platform::SharedMapping second;
    ASSERT_EQ(second.Open("instance", 4), 0u);
    EXPECT_FALSE(second.Created());
    const uint8_t expected[4] = {0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(std::memcmp(second.Data(), expected, 4), 0);
  }
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  // The lock goes with the dead process; the file stays behind and must not matter.
  bool created = false;
  for (int i = 0; i < 500 && !created; ++i) {
    platform::SharedMapping after;
    ASSERT_EQ(after.Open("instance", 4), 0u);
    created = after.Created();
    if (!created) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(created);
}

}  // namespace
