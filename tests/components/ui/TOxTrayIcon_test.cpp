#include "components/ui/TOxTrayIcon.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/ManualEventLoop.h"
#include "classlib/rtl/Streams.h"

namespace comp {
namespace {

// A 32 x 32 icon of 16 colours, filled with `shade`: 6 + 16 + 40 + 64 + 512 + 128 = 766 bytes,
// the size of the application's two icons.
cl::TIcon MakeIcon(uint8_t shade) {
  std::vector<uint8_t> b(766, 0);
  cl::PutU16LE(&b[2], 1);   // type: icon
  cl::PutU16LE(&b[4], 1);   // one image
  b[6] = 32;                // width
  b[7] = 32;                // height
  b[8] = 16;                // colours
  cl::PutU16LE(&b[10], 1);  // planes
  cl::PutU16LE(&b[12], 4);  // bits per pixel
  cl::PutU32LE(&b[14], 744);
  cl::PutU32LE(&b[18], 22);
  uint8_t* h = &b[22];
  cl::PutU32LE(h, 40);
  cl::PutU32LE(h + 4, 32);
  cl::PutU32LE(h + 8, 64);  // XOR and AND masks stacked
  cl::PutU16LE(h + 12, 1);
  cl::PutU16LE(h + 14, 4);
  uint8_t* palette = h + 40;
  palette[4] = shade;  // colour 1 (blue, green, red, 0)
  palette[5] = shade;
  for (size_t i = 22 + 40 + 64; i < 22 + 40 + 64 + 512; ++i) b[i] = 0x11;
  cl::TIcon icon;
  icon.LoadFromBytes(b);
  return icon;
}

struct TrayFixture : ::testing::Test {
  TrayFixture() {
    cl::SetTrayBackend(&fake);
    cl::Application().SetOnException(
        [this](cl::TObject*, cl::Exception& e) { errors.push_back(e.Message()); });
  }
  ~TrayFixture() override {
    cl::SetTrayBackend(nullptr);
    cl::Application().SetOnException(nullptr);
  }
  const cl::TFakeTrayBackend::Icon& Shown(const TOxTrayIcon& tray) {
    return fake.icons.at(cl::TrayKey(tray.Handle(), 0));
  }
  cl::TFakeTrayBackend fake;
  std::vector<std::string> errors;
};

TEST_F(TrayFixture, ShowHintAndAnimationOnTheFakeTray) {
  TOxTrayIcon tray(nullptr);
  EXPECT_TRUE(tray.Active());
  EXPECT_EQ(tray.Interval(), 150);
  EXPECT_FALSE(tray.IconVisible()) << "no picture yet";
  EXPECT_TRUE(fake.icons.empty());

  const cl::TIcon still = MakeIcon(0x10);
  tray.SetIcon(still);
  ASSERT_TRUE(tray.IconVisible());
  tray.SetHint(std::string(64, 'a') + "|long part");
  EXPECT_EQ(Shown(tray).tip, std::string(63, 'a'));

  tray.SetAnimated(true);
  EXPECT_FALSE(tray.Animated()) << "no frames";

  tray.Icons().Add(MakeIcon(0x40));
  tray.Icons().Add(MakeIcon(0x80));
  tray.SetAnimated(true);
  ASSERT_TRUE(tray.Animated());
  EXPECT_EQ(Shown(tray).icon.Bytes(), tray.Icons().Items(0).Bytes());
  // The worker only posts steps: here the test sends them, as the loop would deliver them.
  const std::vector<int> expected_frames = {1, 0, 1};
  for (int frame : expected_frames) {
    cl::SendMessage(tray.Handle(), kTrayAnimationStep, 0, 0);
    EXPECT_EQ(tray.FrameIndex(), frame);
    EXPECT_EQ(Shown(tray).icon.Bytes(), tray.Icons().Items(frame).Bytes());
  }
  tray.SetAnimated(false);
  EXPECT_EQ(tray.FrameIndex(), 0);
  EXPECT_EQ(Shown(tray).icon.Bytes(), still.Bytes()) << "back to the still icon";

  // Clearing the frames while animated switches the animation off.
  tray.SetAnimated(true);
  tray.Icons().Clear();
  EXPECT_FALSE(tray.Animated());
  EXPECT_EQ(Shown(tray).icon.Bytes(), still.Bytes());

  tray.SetActive(false);
  EXPECT_FALSE(tray.IconVisible());
  EXPECT_TRUE(fake.icons.empty());
  // No tray host: Active stays, the icon is not visible.
  fake.available = false;
  tray.SetActive(true);
  EXPECT_TRUE(tray.Active());
  EXPECT_FALSE(tray.IconVisible());
}

TEST_F(TrayFixture, TheWorkerStepsThroughTheLoop) {
  TOxTrayIcon tray(nullptr);
  tray.SetIcon(MakeIcon(1));
  tray.Icons().Add(MakeIcon(2));
  tray.Icons().Add(MakeIcon(3));
  tray.SetInterval(1);
  tray.SetAnimated(true);
  // The one test of the thread's wiring: it waits for a real post, at most two seconds.
  for (int i = 0; i < 2000 && tray.FrameIndex() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    cl::Application().ProcessMessages();
  }
  EXPECT_EQ(tray.FrameIndex(), 1);
  tray.SetAnimated(false);
  EXPECT_EQ(tray.FrameIndex(), 0);
}

// The manual loop, keeping what worker threads post so that the test runs each call itself.
class THeldPostsLoop : public cl::TManualEventLoop {
 public:
  void Post(std::function<void()> call) override {
    std::lock_guard<std::mutex> guard(mutex_);
    calls_.push_back(std::move(call));
  }
  int Posted() {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(calls_.size()) + ran_;
  }
  // Runs the oldest call held; false when none is.
  bool RunOne() {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (calls_.empty()) return false;
      call = std::move(calls_.front());
      calls_.pop_front();
      ++ran_;
    }
    call();
    return true;
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
  int ran_ = 0;
};

TEST_F(TrayFixture, ABusyLoopGetsOneStepAtATime) {
  THeldPostsLoop loop;
  cl::TEventLoop* real_loop = cl::CurrentEventLoop();
  cl::SetEventLoop(&loop);
  {
    TOxTrayIcon tray(nullptr);
    tray.SetIcon(MakeIcon(1));
    tray.Icons().Add(MakeIcon(2));
    tray.Icons().Add(MakeIcon(3));
    tray.SetInterval(1);
    tray.SetAnimated(true);
    // While the step waits, thirty intervals post nothing more; running it lets the next come.
    for (int round = 1; round <= 2; ++round) {
      for (int i = 0; i < 2000 && loop.Posted() < round; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      EXPECT_EQ(loop.Posted(), round);
      EXPECT_TRUE(loop.RunOne());
      EXPECT_EQ(tray.FrameIndex(), round % 2);
    }
    tray.SetAnimated(false);
    while (loop.RunOne()) {
    }
  }
  cl::SetEventLoop(real_loop);
}

TEST_F(TrayFixture, MouseRules) {
  TOxTrayIcon tray(nullptr);
  tray.SetIcon(MakeIcon(1));
  std::vector<std::string> log;
  auto name = [](cl::TMouseButton b) {
    return b == cl::mbLeft ? "L" : b == cl::mbRight ? "R" : "M";
  };
  tray.SetOnMouseDown([&](cl::TObject*, cl::TMouseButton b, cl::TShiftState, int, int) {
    log.push_back(std::string("down ") + name(b));
  });
  tray.SetOnMouseUp([&](cl::TObject*, cl::TMouseButton b, cl::TShiftState, int, int) {
    log.push_back(std::string("up ") + name(b));
  });
  tray.SetOnClick([&](cl::TObject*, cl::TMouseButton b, cl::TShiftState, int, int) {
    log.push_back(std::string("click ") + name(b));
  });
  tray.SetOnDblClick([&](cl::TObject*) { log.push_back("dblclick"); });
  auto send = [&](uint32_t mouse) {
    cl::SendMessage(tray.Handle(), kTrayCallbackMessage, 0, static_cast<cl::LPARAM>(mouse));
  };

  const struct {
    std::vector<uint32_t> messages;
    std::vector<std::string> expected;
  } cases[] = {
      {{cl::WM_LBUTTONDOWN, cl::WM_LBUTTONUP}, {"down L", "click L", "up L"}},
      // Without a menu the right click is only mouse events and OnClick.
      {{cl::WM_RBUTTONDOWN, cl::WM_RBUTTONUP}, {"down R", "click R", "up R"}},
      // A release without its press is no click.
      {{cl::WM_LBUTTONUP}, {"up L"}},
      {{cl::WM_MBUTTONDOWN, cl::WM_MBUTTONUP}, {"down M", "up M"}},
      {{cl::WM_LBUTTONDBLCLK}, {"dblclick", "down L"}},
      {{cl::WM_RBUTTONDBLCLK}, {"down R"}},
  };
  for (const auto& c : cases) {
    log.clear();
    for (uint32_t m : c.messages) send(m);
    EXPECT_EQ(log, c.expected) << c.messages.front();
  }

  // With a menu: the right click opens it; the double click runs the default enabled item.
  cl::TPopupMenu menu(nullptr);
  auto* first = new cl::TMenuItem(&menu);
  auto* second = new cl::TMenuItem(&menu);
  menu.Items()->Add(first);
  menu.Items()->Add(second);
  first->SetDefault(true);
  first->SetEnabled(false);
  second->SetDefault(true);
  second->SetOnClick([&](cl::TObject*) { log.push_back("second"); });
  tray.SetPopupMenu(&menu);
  cl::TPopupMenu* shown = nullptr;
  cl::SetPopupMenuResponder([&](cl::TPopupMenu* m) -> cl::TMenuItem* {
    shown = m;
    return nullptr;
  });
  log.clear();
  send(cl::WM_RBUTTONDOWN);
  send(cl::WM_RBUTTONUP);
  EXPECT_EQ(shown, &menu);
  EXPECT_EQ(menu.PopupComponent(), &tray);
  EXPECT_EQ(log, (std::vector<std::string>{"down R", "up R"}));
  log.clear();
  send(cl::WM_LBUTTONDBLCLK);
  EXPECT_EQ(log, (std::vector<std::string>{"second", "down L"}));
  second->SetEnabled(false);
  log.clear();
  send(cl::WM_LBUTTONDBLCLK);
  EXPECT_EQ(log, (std::vector<std::string>{"dblclick", "down L"}));
  cl::SetPopupMenuResponder(nullptr);

  // A handler's exception goes to the application's handler.
  tray.SetOnDblClick([](cl::TObject*) { throw cl::Exception("tray failed"); });
  send(cl::WM_LBUTTONDBLCLK);
  EXPECT_EQ(errors, std::vector<std::string>{"tray failed"});
  tray.SetPopupMenu(nullptr);
}

TEST(TIconListTest, StreamRoundTripAndDamage) {
  TIconList list;
  list.Add(MakeIcon(1));
  list.Add(MakeIcon(2));
  cl::TMemoryStream stream;
  list.SaveToStream(stream);
  ASSERT_EQ(stream.Size(), 1544);
  EXPECT_EQ(cl::GetU32LE(stream.Bytes().data()), 2u);
  EXPECT_EQ(cl::GetU32LE(stream.Bytes().data() + 4), 766u);

  TIconList copy;
  stream.SetPosition(0);
  copy.LoadFromStream(stream);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.Items(1).Bytes(), list.Items(1).Bytes());

  // An empty entry is a size of 0 and comes back empty.
  TIconList with_empty;
  with_empty.Add(cl::TIcon());
  with_empty.Add(MakeIcon(3));
  cl::TMemoryStream s2;
  with_empty.SaveToStream(s2);
  EXPECT_EQ(s2.Size(), 4 + 4 + 4 + 766);
  s2.SetPosition(0);
  copy.LoadFromStream(s2);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_TRUE(copy.Items(0).Empty());
  EXPECT_FALSE(copy.Items(1).Empty());

  // Damage: a huge count, a size past the end, a truncated header.  The list stays as it was.
  const std::vector<uint8_t> good = stream.Bytes();
  auto damaged = [&](size_t offset, uint32_t value, size_t cut) {
    std::vector<uint8_t> bytes = good;
    if (offset + 4 <= bytes.size()) cl::PutU32LE(&bytes[offset], value);
    bytes.resize(cut);
    cl::TMemoryStream s;
    if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    s.SetPosition(0);
    return s.Bytes();
  };
  const struct {
    size_t offset;
    uint32_t value;
    size_t cut;
  } cases[] = {{0, 0xFFFFFFFFu, good.size()},
               {4, 0x7FFFFFFFu, good.size()},
               {0, 2, good.size() - 1},
               {0, 2, 2},
               {774, 767, good.size()}};
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = damaged(c.offset, c.value, c.cut);
    cl::TMemoryStream s;
    if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    s.SetPosition(0);
    EXPECT_THROW(copy.LoadFromStream(s), cl::EReadError) << c.offset << " " << c.cut;
    EXPECT_EQ(copy.Count(), 2);
  }
}

}  // namespace
}  // namespace comp
