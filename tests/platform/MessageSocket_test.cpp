#include "platform/MessageSocket.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "platform/EndSessionSignal.h"
#include "tests/platform/ServiceTestSupport.h"

namespace {

class MessageSocketTest : public ::testing::Test {
 protected:
  mirvel_test::PrivateRuntimeDir runtime_;
};

TEST_F(MessageSocketTest, DatagramsArriveWholeAndInOrder) {
  platform::MessageSocket socket;
  ASSERT_EQ(socket.Open(), 0u);
  EXPECT_EQ(socket.Path(),
            runtime_.Dir().Path() + "/mirvel/msg-" + std::to_string(getpid()) + ".sock");
  const uint8_t first[16] = {1, 2, 3};
  const uint8_t second[3] = {9, 8, 7};
  ASSERT_EQ(platform::SendMessageDatagram(getpid(), first, sizeof(first)), 0u);
  ASSERT_EQ(platform::SendMessageDatagram(getpid(), second, sizeof(second)), 0u);
  std::vector<uint8_t> got;
  ASSERT_TRUE(socket.Receive(got));
  EXPECT_EQ(got, std::vector<uint8_t>(first, first + 16));
  ASSERT_TRUE(socket.Receive(got));
  EXPECT_EQ(got, std::vector<uint8_t>(second, second + 3));

  std::thread waker([&socket] { socket.Shutdown(); });
  EXPECT_FALSE(socket.Receive(got));
  waker.join();
  socket.Close();
  EXPECT_EQ(platform::SendMessageDatagram(getpid(), first, sizeof(first)),
            platform::kErrorInvalidHandle);
  // A process that never listened: no socket file at all.
  EXPECT_EQ(platform::SendMessageDatagram(0x3FFFFF, first, 16), platform::kErrorInvalidHandle);
}

TEST(EndSessionSignalTest, TerminateAndHangupReachTheWaiter) {
  ASSERT_EQ(platform::InstallEndSessionSignals(), 0u);
  ASSERT_EQ(platform::InstallEndSessionSignals(), 0u);
  ASSERT_EQ(raise(SIGTERM), 0);
  EXPECT_EQ(platform::WaitForEndSessionSignal(), SIGTERM);
  ASSERT_EQ(raise(SIGHUP), 0);
  EXPECT_EQ(platform::WaitForEndSessionSignal(), SIGHUP);
  platform::StopEndSessionWait();
  EXPECT_EQ(platform::WaitForEndSessionSignal(), 0);
}

}  // namespace
