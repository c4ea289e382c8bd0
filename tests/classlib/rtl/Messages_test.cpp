#include "classlib/rtl/Messages.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/ManualEventLoop.h"
#include "classlib/rtl/TTimer.h"
#include "platform/MessageSocket.h"
#include "tests/platform/ServiceTestSupport.h"

namespace cl {
namespace {

struct Seen {
  uint32_t msg;
  WPARAM w;
};

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEventLoop(&loop_);
    Application().SetOnException([this](TObject* sender, Exception& e) {
      errors_.push_back(e.Message());
      senders_.push_back(sender);
    });
  }
  void TearDown() override {
    for (HWND h : handles_) DeallocateHWnd(h);
    Application().SetOnException(nullptr);
    Application().SetOnMessage(nullptr);
    SetEventLoop(nullptr);
  }
  HWND Recorder() {
    const HWND h = AllocateHWnd([this](TMessage& m) {
      seen_.push_back({m.Msg, m.WParam});
      m.Result = static_cast<LRESULT>(m.WParam) * 2;
    });
    handles_.push_back(h);
    return h;
  }
  // Pumps the loop until `count` messages were seen or five seconds passed (another thread or
  // process is posting).
  void WaitForSeen(size_t count) {
    for (int i = 0; i < 500 && seen_.size() < count; ++i) {
      if (loop_.RunPosted() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  std::vector<uint32_t> SeenNumbers() const {
    std::vector<uint32_t> numbers;
    for (const Seen& s : seen_) numbers.push_back(s.msg);
    return numbers;
  }

  TManualEventLoop loop_;
  std::vector<HWND> handles_;
  std::vector<Seen> seen_;
  std::vector<std::string> errors_;
  std::vector<TObject*> senders_;
};

TEST_F(MessagesTest, PostedMessagesKeepOrderAndARepostRunsAfterThem) {
  std::vector<std::string> trace;
  HWND h = 0;
  h = AllocateHWnd([&](TMessage& m) {
    trace.push_back(std::to_string(m.Msg - WM_USER));
    if (m.Msg == WM_USER + 1) PostMessage(h, WM_USER + 9, 0, 0);
    m.Result = 5;
  });
  handles_.push_back(h);
  EXPECT_EQ(h >> 10, static_cast<HWND>(getpid()));
  EXPECT_NE(h & 1023, 0u);
  EXPECT_FALSE(IsForeignHandle(h));
  for (uint32_t i = 1; i <= 3; ++i) ASSERT_TRUE(PostMessage(h, WM_USER + i, 0, 0));
  EXPECT_EQ(PendingMessageCount(), 3);
  EXPECT_TRUE(trace.empty()) << "posting never delivers at once";
  EXPECT_EQ(SendMessage(h, WM_USER + 7, 0, 0), 5);
  loop_.RunPosted();
  EXPECT_EQ(trace, (std::vector<std::string>{"7", "1", "2", "3", "9"}));

  DeallocateHWnd(h);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
  EXPECT_EQ(SendMessage(h, WM_USER, 0, 0), 0);
  EXPECT_FALSE(PostMessage(0, WM_USER, 0, 0));
  SetEventLoop(nullptr);
  EXPECT_FALSE(PostMessage(Recorder(), WM_USER, 0, 0)) << "no loop, no posting";
}

TEST_F(MessagesTest, FreeingAHandleDropsItsMessagesAndIndexesAreReusedOldestFirst) {
  const HWND a = Recorder();
  const HWND b = Recorder();
  PostMessage(a, WM_USER + 1, 0, 0);
  PostMessage(b, WM_USER + 2, 0, 0);
  PostMessage(a, WM_USER + 3, 0, 0);
  DeallocateHWnd(a);
  loop_.RunPosted();
  EXPECT_EQ(SeenNumbers(), std::vector<uint32_t>{WM_USER + 2});

  // Exhaust the table, then free two: they come back in the order they were freed.
  std::vector<HWND> all;
  try {
    for (;;) all.push_back(AllocateHWnd([](TMessage&) {}));
  } catch (EOutOfResources&) {
  }
  EXPECT_GE(all.size(), 1000u);
  DeallocateHWnd(all[10]);
  DeallocateHWnd(all[3]);
  const HWND first = AllocateHWnd([](TMessage&) {});
  const HWND second = AllocateHWnd([](TMessage&) {});
  EXPECT_EQ(first, all[10]);
  EXPECT_EQ(second, all[3]);
  all[10] = first;
  all[3] = second;
  for (HWND h : all) DeallocateHWnd(h);
}

TEST_F(MessagesTest, RemovingAPendingMessageTakesTheFirstOfItsNumberButNeverQuit) {
  const HWND h = Recorder();
  const HWND other = Recorder();
  PostMessage(h, WM_USER, 1, 0);
  PostMessage(other, WM_USER, 2, 0);
  PostMessage(h, WM_QUIT, 3, 0);
  PostMessage(h, WM_USER, 4, 0);
  EXPECT_TRUE(RemovePendingMessage(h, WM_USER));
  EXPECT_FALSE(RemovePendingMessage(h, WM_QUIT));
  EXPECT_FALSE(RemovePendingMessage(h, WM_USER + 1));
  loop_.RunPosted();
  std::vector<WPARAM> order;
  for (const Seen& s : seen_) order.push_back(s.w);
  EXPECT_EQ(order, (std::vector<WPARAM>{2, 3, 4}));
}

TEST_F(MessagesTest, OnMessageComesFirstAndExceptionsStayOutOfTheLoop) {
  const HWND h = Recorder();
  const HWND failing = AllocateHWnd([](TMessage&) { throw Exception("handler failed"); });
  handles_.push_back(failing);
  std::vector<TMsg> offered;
  Application().SetOnMessage([&](TMsg& msg, bool& handled) {
    offered.push_back(msg);
    handled = msg.wParam == 1;
    if (msg.wParam == 2) throw Exception("filter failed");
  });
  PostMessage(h, WM_USER, 1, 10);  // handled by OnMessage
  PostMessage(h, WM_USER, 2, 0);   // OnMessage fails: not delivered, reported
  PostMessage(failing, WM_USER, 3, 0);
  PostMessage(h, WM_USER, 4, 0);
  loop_.RunPosted();
  ASSERT_EQ(offered.size(), 4u);
  EXPECT_EQ(offered[0].hwnd, h);
  EXPECT_EQ(offered[0].lParam, 10);
  EXPECT_EQ(SeenNumbers(), std::vector<uint32_t>{WM_USER});
  EXPECT_EQ(seen_[0].w, 4u);
  EXPECT_EQ(errors_, (std::vector<std::string>{"filter failed", "handler failed"}));
  EXPECT_EQ(senders_, (std::vector<TObject*>{&Application(), &Application()}));
}

class Base : public TMessageObject {
 public:
  explicit Base(std::vector<std::string>* trace) : trace_(trace) {
    SetMessageMethod(WM_USER, [this](TMessage& m, const TWndMethod&) {
      trace_->push_back("base");
      m.Result = 1;
    });
  }
  void DefaultHandler(TMessage& m) override {
    trace_->push_back("default " + std::to_string(m.Msg - WM_USER));
  }

 protected:
  std::vector<std::string>* trace_;
};

class Derived : public Base {
 public:
  explicit Derived(std::vector<std::string>* trace) : Base(trace) {
    SetMessageMethod(WM_USER, [this](TMessage& m, const TWndMethod& inherited) {
      trace_->push_back("derived");
      inherited(m);
    });
    SetMessageMethod(WM_USER + 1, [this](TMessage& m, const TWndMethod& inherited) {
      trace_->push_back("derived 1");
      if (m.WParam != 0) inherited(m);
    });
  }
};

TEST(MessageObjectTest, MethodsOverrideAndReachInheritedOrDefault) {
  std::vector<std::string> trace;
  Derived object(&trace);
  TMessage m{WM_USER, 0, 0, 0};
  object.Dispatch(m);
  EXPECT_EQ(m.Result, 1);
  TMessage consumed{WM_USER + 1, 0, 0, 0};
  object.Dispatch(consumed);
  TMessage passed{WM_USER + 1, 1, 0, 0};
  object.Dispatch(passed);
  TMessage unknown{WM_USER + 2, 0, 0, 0};
  object.Dispatch(unknown);
  EXPECT_EQ(trace, (std::vector<std::string>{"derived", "base", "derived 1", "derived 1",
                                             "default 1", "default 2"}));
}

class MessagesBetweenProcessesTest : public MessagesTest {
 protected:
  void SetUp() override {
    MessagesTest::SetUp();
    ASSERT_EQ(StartMessageReceiver(), 0u);
  }
  void TearDown() override {
    StopMessageReceiver();
    MessagesTest::TearDown();
  }
  static void SendRaw(HWND wnd, uint32_t msg, size_t size = 16) {
    uint8_t datagram[17] = {};
    PutU32LE(datagram, wnd);
    PutU32LE(datagram + 4, msg);
    PutU32LE(datagram + 8, 77);
    ASSERT_EQ(platform::SendMessageDatagram(getpid(), datagram, size), 0u);
  }

  mirvel_test::PrivateRuntimeDir runtime_;
};

TEST_F(MessagesBetweenProcessesTest, TheReceiverAcceptsOnlyUserMessagesForItsOwnHandles) {
  const HWND h = Recorder();
  const HWND dead = Recorder();
  DeallocateHWnd(dead);
  const HWND foreign = ((static_cast<HWND>(getpid()) + 1) << 10) | (h & 1023);
  SendRaw(h, WM_CLOSE);  // a system message
  SendRaw(h, WM_USER - 1);
  SendRaw(h, kLastUserMessage + 1);
  SendRaw(foreign, WM_USER + 1);  // not ours
  SendRaw(dead, WM_USER + 2);     // gone
  SendRaw(h, WM_USER + 3, 15);    // malformed
  SendRaw(h, WM_USER + 4, 17);
  SendRaw(h, WM_USER + 128);
  SendRaw(h, kLastUserMessage);
  WaitForSeen(2);
  loop_.RunPosted();
  EXPECT_EQ(SeenNumbers(), (std::vector<uint32_t>{WM_USER + 128, kLastUserMessage}));
  EXPECT_EQ(seen_[0].w, 77u);
}

TEST_F(MessagesBetweenProcessesTest, AnotherProcessPostsAndAGoneProcessIsRefused) {
  const HWND h = Recorder();
  const std::string helper = MIRVEL_MESSAGE_HELPER;
  EXPECT_EQ(std::system((helper + " " + std::to_string(h) + " 1152 42").c_str()), 0);
  WaitForSeen(1);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].msg, WM_USER + 128);
  EXPECT_EQ(seen_[0].w, 42u);
  // Numbers the receiver would drop are refused by the sender.
  for (const uint32_t msg : {WM_CLOSE, WM_USER - 1, kLastUserMessage + 1}) {
    EXPECT_NE(
        std::system((helper + " " + std::to_string(h) + " " + std::to_string(msg) + " 1").c_str()),
        0)
        << msg;
  }

  StopMessageReceiver();  // as if this process were gone
  EXPECT_NE(std::system((helper + " " + std::to_string(h) + " 1152 43").c_str()), 0);
  const HWND nobody = (0x3FFFFFu << 10) | 1;
  EXPECT_TRUE(IsForeignHandle(nobody));
  EXPECT_FALSE(PostMessage(nobody, WM_USER, 0, 0));
}

}  // namespace
}  // namespace cl
