#include "classlib/forms/ShellApi.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "tests/classlib/forms/FormsTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace cl {
namespace {

using mirvel_test::PumpUntil;

TEST(ShellApiTest, TrayActionsBecomeMouseMessages) {
  // clang-format off
  const struct { TTrayAction action; bool double_clicks; std::vector<uint32_t> expected; } cases[] = {
    {TTrayAction::kTrigger,     true,  {WM_LBUTTONDOWN, WM_LBUTTONUP}},
    {TTrayAction::kTrigger,     false, {WM_LBUTTONDBLCLK}},
    {TTrayAction::kContext,     true,  {WM_RBUTTONDOWN, WM_RBUTTONUP}},
    {TTrayAction::kContext,     false, {WM_RBUTTONDOWN, WM_RBUTTONUP}},
    {TTrayAction::kDoubleClick, true,  {WM_LBUTTONDBLCLK}},
    {TTrayAction::kMiddleClick, true,  {WM_MBUTTONDOWN, WM_MBUTTONUP}},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(TrayActionMessages(c.action, c.double_clicks), c.expected)
        << static_cast<int>(c.action) << c.double_clicks;
  }
  EXPECT_FALSE(NotifyIconAvailable()) << "no tray host offscreen";
  TNotifyIconData none;
  EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, none));
}

TEST(ShellApiTest, TrayDoubleClicksFollowTheHostTheToolkitChooses) {
  // A private session bus: a bus alone keeps the embedded X11 icon; a StatusNotifierItem
  // watcher on it takes the icon, and double clicks are gone.
  FILE* daemon = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
  ASSERT_NE(daemon, nullptr);
  char address[512] = {};
  char pid_text[32] = {};
  const bool read = fgets(address, sizeof(address), daemon) != nullptr &&
                    fgets(pid_text, sizeof(pid_text), daemon) != nullptr;
  pclose(daemon);
  ASSERT_TRUE(read) << "dbus-daemon (scripts/setup.sh installs it) did not start";
  address[strcspn(address, "\n")] = '\0';
  const pid_t pid = static_cast<pid_t>(std::atoi(pid_text));
  ASSERT_GT(pid, 0);
  setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
  EXPECT_TRUE(ToolkitTrayReportsDoubleClicks("xcb"));
  QDBusConnection watcher = QDBusConnection::connectToBus(QString::fromUtf8(address), "watcher");
  ASSERT_TRUE(watcher.registerService("org.kde.StatusNotifierWatcher"));
  EXPECT_FALSE(ToolkitTrayReportsDoubleClicks("xcb"));
  EXPECT_FALSE(ToolkitTrayReportsDoubleClicks("wayland"));
  QDBusConnection::disconnectFromBus("watcher");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  kill(pid, SIGTERM);
}

TEST(ShellApiTest, FakeTrayCallsFromAWorkerAreAppliedInOrderAndActionsReachTheWindow) {
  mirvel_test::UiRecorder ui;
  TFakeTrayBackend fake;
  SetTrayBackend(&fake);
  std::vector<std::pair<WPARAM, LPARAM>> received;
  const HWND wnd = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == 0xB054) received.push_back({m.WParam, m.LParam});
    if (m.LParam == WM_RBUTTONUP) throw Exception("tray handler");
  });
  TNotifyIconData data;
  data.Wnd = wnd;
  data.ID = 1;
  data.Flags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.CallbackMessage = 0xB054;
  data.Tip = std::string(64, 'x');
  ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, data));
  EXPECT_EQ(fake.icons[TrayKey(wnd, 1)].tip.size(), 64u) << "the layer never cuts a tip";

  std::thread worker([&] {
    TNotifyIconData step;
    step.Wnd = wnd;
    step.ID = 1;
    step.Flags = NIF_TIP;
    for (int i = 0; i < 5; ++i) {
      step.Tip = "step " + std::to_string(i);
      Shell_NotifyIcon(NIM_MODIFY, step);
    }
  });
  worker.join();
  EXPECT_EQ(fake.log.size(), 1u) << "nothing applied off the GUI thread";
  ASSERT_TRUE(PumpUntil([&] { return fake.log.size() == 6; }));
  EXPECT_EQ(fake.log.back(), "modify 1 step 4");
  EXPECT_EQ(fake.log[1], "modify 1 step 0");

  fake.Act(wnd, 1, TTrayAction::kDoubleClick);
  fake.Act(wnd, 1, TTrayAction::kContext);
  fake.double_clicks = false;
  fake.Act(wnd, 1, TTrayAction::kTrigger);
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 4; }));
  EXPECT_EQ(
      received,
      (std::vector<std::pair<WPARAM, LPARAM>>{
          {1, WM_LBUTTONDBLCLK}, {1, WM_RBUTTONDOWN}, {1, WM_RBUTTONUP}, {1, WM_LBUTTONDBLCLK}}));
  EXPECT_EQ(ui.errors, std::vector<std::string>{"tray handler"});

  EXPECT_TRUE(Shell_NotifyIcon(NIM_DELETE, data));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_MODIFY, data)) << "gone";
  fake.available = false;
  EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, data));
  SetTrayBackend(nullptr);
  DeallocateHWnd(wnd);
}

TEST(ShellApiTest, FolderDialogsThroughTheModalDriver) {
  mirvel_test::UiRecorder ui;
  mirvel_test::TempDirectory temp("browse");
  const std::string dir = temp.Path();
  std::string folder;

  // A missing initial folder preselects nothing; a missing directory cannot be accepted.
  TBrowseFolderOptions options;
  options.text = "Dossier de la base";
  options.folder = dir + "/missing";
  std::vector<std::string> changes;
  options.on_sel_changed = [&](TFolderDialogControl& d) { changes.push_back(d.Selection()); };
  AddModalAction([&] {
    TFolderDialogControl* d = ActiveFolderDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Selection(), "");
    EXPECT_FALSE(d->HasHelpButton());
    d->SetSelection(dir + "/missing");
    EXPECT_FALSE(d->OKEnabled());
    d->Accept();  // refused
    d->Cancel();
  });
  EXPECT_FALSE(BrowseForFolder(options, folder));

  // "/" stays "/"; a trailing "/" goes; "&Aide" only with a help context.
  options.folder = "/";
  options.help_context = 12;
  AddModalAction([&] {
    TFolderDialogControl* d = ActiveFolderDialog();
    EXPECT_TRUE(d->HasHelpButton());
    EXPECT_EQ(d->Selection(), "/");
    d->Accept();
  });
  ASSERT_TRUE(BrowseForFolder(options, folder));
  EXPECT_EQ(folder, "/");
  AddModalAction([&] {
    ActiveFolderDialog()->SetSelection(dir + "/");
    ActiveFolderDialog()->Accept();
  });
  ASSERT_TRUE(BrowseForFolder(options, folder));
  EXPECT_EQ(folder, dir);
  EXPECT_FALSE(changes.empty());
  options.kind = bfComputers;
  EXPECT_FALSE(BrowseForFolder(options, folder));

  // SelectDirectory: a typed new directory is created after the prompt's Yes.
  std::string chosen = dir;
  ui.answers = {mrYes};
  AddModalAction([&] {
    TFolderDialogControl* d = ActiveFolderDialog();
    // A name Windows-1252 cannot hold is refused whole, with a beep.
    QLineEdit* edit = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->isVisible() && w->findChild<QLineEdit*>() != nullptr)
        edit = w->findChild<QLineEdit*>();
    }
    ASSERT_NE(edit, nullptr);
    const int beeps = MessageBeepCount();
    const QString before = edit->text();
    edit->insert(QString::fromUtf8("aΩb"));
    EXPECT_EQ(edit->text(), before);
    EXPECT_EQ(MessageBeepCount(), beeps + 1);
    d->SetSelection(dir + "/new/sub");
    EXPECT_TRUE(d->OKEnabled());
    d->Accept();
  });
  ASSERT_TRUE(SelectDirectory(chosen, TSelectDirOpts{sdAllowCreate, sdPerformCreate, sdPrompt}, 0));
  EXPECT_EQ(chosen, dir + "/new/sub");
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/new/sub"));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].type, mtConfirmation);
}

TEST(ShellApiTest, DroppedFilesArriveAsAPathList) {
  TForm form(nullptr);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  panel->SetAcceptFiles(true);
  std::vector<std::string> dropped;
  panel->SetWindowProc([&](TMessage& m) {
    if (m.Msg == WM_DROPFILES) dropped = DroppedFiles(m);
  });
  form.Show();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile("/tmp/a b.txt"), QUrl::fromLocalFile("/tmp/c")});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(mirvel_test::Widget(panel), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(mirvel_test::Widget(panel), &drop);
  EXPECT_EQ(dropped, (std::vector<std::string>{"/tmp/a b.txt", "/tmp/c"}));
}

}  // namespace
}  // namespace cl
