#include "components/ui/TOxWindowHook.h"

#include <gtest/gtest.h>

#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Filer.h"

namespace comp {
namespace {

constexpr uint32_t kProbe = cl::WM_USER + 1;

struct HookFixture : ::testing::Test {
  HookFixture() {
    panel = new cl::TPanel(&form);
    panel->SetParent(&form);
    // A procedure already in the chain: it records what reaches it.
    original = panel->WindowProc();
    panel->SetWindowProc(
        [this](cl::TMessage& m) {
          if (m.Msg == kProbe || m.Msg == cl::WM_DESTROY) log.push_back("previous");
          original(m);
          if (m.Msg == kProbe) m.Result = 42;
        },
        &token);
  }
  TOxWindowHook* Watch(const std::string& name, bool handle_before) {
    auto* hook = new TOxWindowHook(&form);
    hook->SetBeforeMessage([this, name, handle_before](cl::TObject*, cl::TMessage& m, bool& h) {
      if (m.Msg != kProbe && m.Msg != cl::WM_DESTROY) return;
      log.push_back("before " + name);
      if (handle_before) h = true;
    });
    hook->SetAfterMessage([this, name](cl::TObject*, cl::TMessage& m, bool&) {
      if (m.Msg != kProbe && m.Msg != cl::WM_DESTROY) return;
      log.push_back("after " + name + " " + std::to_string(m.Result));
    });
    hook->SetWinControl(panel);
    return hook;
  }

  // Declared before the form: the panel's last WM_DESTROY still runs through these.
  std::vector<std::string> log;
  cl::TWndMethod original;
  int token = 0;
  cl::TForm form{nullptr};
  cl::TPanel* panel;
};

TEST_F(HookFixture, OrderAndStopRules) {
  TOxWindowHook* a = Watch("a", false);
  TOxWindowHook* b = Watch("b", false);
  EXPECT_EQ(THookList::Instance().Find(panel, false)->HookCount(), 2) << "one hook per control";
  EXPECT_EQ(panel->Perform(kProbe, 0, 0), 42);
  EXPECT_EQ(log, (std::vector<std::string>{"before b", "before a", "previous", "after b 42",
                                           "after a 42"}));

  // A watcher that handles stops the others and the previous procedure, except on WM_DESTROY.
  log.clear();
  TOxWindowHook* c = Watch("c", true);
  EXPECT_EQ(panel->Perform(kProbe, 0, 0), 0);
  EXPECT_EQ(log, std::vector<std::string>{"before c"});

  log.clear();
  panel->RecreateWnd();
  EXPECT_EQ(log, (std::vector<std::string>{"before c", "previous", "after c 0"}));
  // Re-installed once the posted re-hook runs.
  cl::Application().ProcessMessages();
  c->SetActive(false);
  log.clear();
  EXPECT_EQ(panel->Perform(kProbe, 0, 0), 42) << "the hook works again after recreation";
  EXPECT_EQ(log, (std::vector<std::string>{"before b", "before a", "previous", "after b 42",
                                           "after a 42"}));
  delete c;
  delete a;
  delete b;
  // Every watcher gone: the chain is what it was, and the control hook is freed later.
  EXPECT_EQ(panel->WindowProcOwner(), &token);
  cl::Application().ProcessMessages();
  EXPECT_EQ(THookList::Instance().Find(panel, false), nullptr);
}

TEST_F(HookFixture, ALaterSubclassSurvivesTheHooksRemoval) {
  TOxWindowHook* a = Watch("a", false);
  cl::TWndMethod hooked = panel->WindowProc();
  int later = 0;
  panel->SetWindowProc(
      [this, hooked](cl::TMessage& m) {
        if (m.Msg == kProbe) log.push_back("later");
        hooked(m);
      },
      &later);
  a->SetActive(false);
  EXPECT_EQ(panel->WindowProcOwner(), &later) << "not cut off";
  log.clear();
  EXPECT_EQ(panel->Perform(kProbe, 0, 0), 42);
  EXPECT_EQ(log, (std::vector<std::string>{"later", "previous"})) << "the hook passes through";
  delete a;
  cl::Application().ProcessMessages();
  log.clear();
  EXPECT_EQ(panel->Perform(kProbe, 0, 0), 42) << "still safe once the control hook is freed";
}

TEST_F(HookFixture, RemovalAndIsForm) {
  TOxWindowHook* a = Watch("a", false);
  delete panel;  // the watcher lets go of a dying control
  EXPECT_EQ(a->WinControl(), nullptr);
  cl::Application().ProcessMessages();
  a->SetWinControl(&form);
  auto props = cl::TPropertyWriter::Collect(*a);
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(props[0].name, "IsForm");
  EXPECT_TRUE(props[0].value.AsBoolean());
  a->SetWinControl(nullptr);
  EXPECT_TRUE(cl::TPropertyWriter::Collect(*a).empty());
  delete a;
  cl::Application().ProcessMessages();
}

}  // namespace
}  // namespace comp
