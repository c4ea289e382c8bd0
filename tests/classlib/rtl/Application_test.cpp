#include "classlib/rtl/Application.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "classlib/rtl/ManualEventLoop.h"
#include "classlib/rtl/Units.h"

namespace cl {
namespace {

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Application().OnException();
    Application().SetOnException(nullptr);
    Application().SetShowExceptionHook([this](Exception& e) { shown_.push_back(e.Message()); });
  }
  void TearDown() override {
    Application().SetOnException(saved_);
    Application().SetShowExceptionHook(nullptr);
  }

  // Raises `raise` and hands it to the application as a catch block would.
  template <class F>
  void Handle(TObject* sender, F raise) {
    try {
      raise();
    } catch (...) {
      Application().HandleException(sender);
    }
  }

  std::vector<std::string> shown_;
  TExceptionEvent saved_;
};

TEST_F(ApplicationTest, SilentAbortIsNeverShownNorPassedOn) {
  std::vector<std::string> logged;
  Handle(nullptr, [] { Abort(); });
  Application().SetOnException([&](TObject*, Exception& e) { logged.push_back(e.Message()); });
  Handle(nullptr, [] { throw EAbort("explained already"); });
  EXPECT_TRUE(shown_.empty());
  EXPECT_TRUE(logged.empty());
}

TEST_F(ApplicationTest, HandlerGetsOtherExceptionsElseTheyAreShown) {
  Handle(nullptr, [] { throw EDatabaseError("Table is busy"); });
  EXPECT_EQ(shown_, std::vector<std::string>{"Table is busy"});

  TComponent sender(nullptr);
  std::vector<std::string> logged;
  Application().SetOnException([&](TObject* s, Exception& e) {
    EXPECT_EQ(s, &sender);
    logged.push_back(ExceptionClassName(e) + ": " + e.Message());
  });
  Handle(&sender, [] { throw EConvertError("'x' is not a valid integer value"); });
  Handle(&sender, [] { throw std::runtime_error("vector too long"); });
  Handle(&sender, [] { throw 42; });
  EXPECT_EQ(logged, (std::vector<std::string>{"EConvertError: 'x' is not a valid integer value",
                                              "Exception: vector too long",
                                              "Exception: Exception inconnue"}));
  EXPECT_EQ(shown_.size(), 1u);
}

TEST_F(ApplicationTest, AMissingSenderIsTheApplication) {
  std::vector<TObject*> senders;
  Application().SetOnException([&](TObject* s, Exception&) { senders.push_back(s); });
  Handle(nullptr, [] { throw Exception("while finalising"); });
  EXPECT_EQ(senders, std::vector<TObject*>{&Application()});
}

TEST_F(ApplicationTest, ALogSavesReplacesAndRestoresTheHandler) {
  std::vector<std::string> journal;
  Application().SetOnException(
      [&](TObject*, Exception& e) { journal.push_back("app " + e.Message()); });
  // An error log takes over, calling the previous handler after its own line.
  const TExceptionEvent previous = Application().OnException();
  Application().SetOnException([&, previous](TObject* s, Exception& e) {
    journal.push_back("log " + e.Message());
    if (previous) previous(s, e);
  });
  Handle(nullptr, [] { throw Exception("one"); });
  Application().SetOnException(previous);  // the log is destroyed
  Handle(nullptr, [] { throw Exception("two"); });
  EXPECT_EQ(journal, (std::vector<std::string>{"log one", "app one", "app two"}));
}

TEST_F(ApplicationTest, AFailingHandlerHasBothErrorsShown) {
  Application().SetOnException([](TObject*, Exception&) { throw Exception("log file locked"); });
  Handle(nullptr, [] { throw Exception("original"); });
  EXPECT_EQ(shown_, (std::vector<std::string>{"original", "log file locked"}));
  Application().HandleException(nullptr);  // outside a catch block: nothing to report
  EXPECT_EQ(shown_.size(), 2u);
}

TEST_F(ApplicationTest, CommandLineAndExecutable) {
  const char* argv[] = {"mirvel", "SHOW", "caf\xC3\xA9"};
  SetCommandLine(3, argv);
  EXPECT_EQ(ParamCount(), 2);
  EXPECT_EQ(ParamStr(1), "SHOW");
  EXPECT_EQ(ParamStr(2), "caf\xE9") << "arguments are Windows-1252 inside";
  EXPECT_EQ(ParamStr(3), "");
  const std::string exe = Application().ExeName();
  EXPECT_EQ(exe.front(), '/');
  EXPECT_NE(exe.find("Application_test"), std::string::npos);
}

TEST(UnitsTest, InitialiseInOrderFinaliseInReverse) {
  ClearUnits();
  std::vector<std::string> journal;
  auto unit = [&](const std::string& name, int order) {
    RegisterUnit(
        name, [&journal, name] { journal.push_back("init " + name); },
        [&journal, name] { journal.push_back("final " + name); }, order);
  };
  unit("application", 500);
  unit("runtime", 100);
  unit("components", 300);
  unit("engine", 200);
  InitializeUnits();
  InitializeUnits();  // nothing runs twice
  FinalizeUnits();
  EXPECT_EQ(journal,
            (std::vector<std::string>{"init runtime", "init engine", "init components",
                                      "init application", "final application", "final components",
                                      "final engine", "final runtime"}));
  ClearUnits();
}

TEST(UnitsTest, AFailedInitialisationUndoesTheUnitsBeforeIt) {
  ClearUnits();
  std::vector<std::string> journal;
  RegisterUnit(
      "a", [&] { journal.push_back("init a"); }, [&] { journal.push_back("final a"); }, 1);
  RegisterUnit(
      "b", [] { throw Exception("no session list"); }, [&] { journal.push_back("final b"); }, 2);
  RegisterUnit(
      "c", [&] { journal.push_back("init c"); }, [&] { journal.push_back("final c"); }, 3);
  EXPECT_THROW(InitializeUnits(), Exception);
  EXPECT_EQ(journal, (std::vector<std::string>{"init a", "final a"}));
  ClearUnits();
}

struct HaltRequest {
  int code;
};

TEST(ApplicationMessagesTest, TheApplicationHandleKeepsMessagesUntilAMainFormExists) {
  TManualEventLoop loop;
  SetEventLoop(&loop);
  const HWND app = Application().Handle();
  EXPECT_TRUE(IsWindow(app));
  ASSERT_TRUE(PostMessage(app, WM_USER + 128, 1, 0));
  ASSERT_TRUE(PostMessage(app, WM_USER + 129, 2, 0));
  loop.RunPosted();

  std::vector<WPARAM> received;
  const HWND form = AllocateHWnd([&](TMessage& m) {
    received.push_back(m.WParam);
    m.Result = 7;
  });
  int stand_in = 0;  // the forms layer passes its form; only the pointer matters here
  Application().SetMainForm(reinterpret_cast<TForm*>(&stand_in), form);
  EXPECT_TRUE(received.empty()) << "kept messages are posted, not sent";
  PostMessage(app, WM_USER + 130, 3, 0);
  loop.RunPosted();
  EXPECT_EQ(received, (std::vector<WPARAM>{1, 2, 3}));
  EXPECT_EQ(SendMessage(app, WM_USER, 4, 0), 7);
  Application().SetMainForm(nullptr, 0);
  DeallocateHWnd(form);
  SetEventLoop(nullptr);
}

TEST(ApplicationMessagesTest, HaltFlushesAndEndsOrRunsTheTestHook) {
  SetHaltHook([](int code) { throw HaltRequest{code}; });
  try {
    Halt(255);
    ADD_FAILURE() << "Halt returned";
  } catch (const HaltRequest& request) {
    EXPECT_EQ(request.code, 255);
  }
  SetHaltHook(nullptr);
  EXPECT_EXIT(Halt(3), ::testing::ExitedWithCode(3), "");
}

TEST(ApplicationMessagesTest, TerminateSignalSendsTheEndOfSessionMessagesToTheMainForm) {
  TManualEventLoop loop;
  SetEventLoop(&loop);
  Application().Initialize();
  std::vector<std::pair<uint32_t, WPARAM>> received;
  const HWND form = AllocateHWnd([&](TMessage& m) { received.push_back({m.Msg, m.WParam}); });
  int stand_in = 0;
  Application().SetMainForm(reinterpret_cast<TForm*>(&stand_in), form);
  ASSERT_FALSE(Application().Terminated());
  ASSERT_EQ(raise(SIGTERM), 0);
  for (int i = 0; i < 500 && received.size() < 2; ++i) {
    if (loop.RunPosted() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(received, (std::vector<std::pair<uint32_t, WPARAM>>{{WM_QUERYENDSESSION, 0},
                                                                {WM_ENDSESSION, 1}}));
  EXPECT_TRUE(Application().Terminated());
  Application().SetMainForm(nullptr, 0);
  DeallocateHWnd(form);
  StopMessageReceiver();
  SetEventLoop(nullptr);
}

}  // namespace
}  // namespace cl
