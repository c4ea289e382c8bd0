#include "classlib/forms/Forms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/forms/Buttons.h"
#include "classlib/forms/ComCtrls.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/HintWindow.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/DataModule.h"
#include "classlib/rtl/Loader.h"
#include "classlib/rtl/TTimer.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

using mirvel_test::PumpUntil;
using mirvel_test::Widget;

std::vector<std::string> g_trace;

class TTraceModule : public TDataModule {
 public:
  explicit TTraceModule(TComponent* owner) : TDataModule(owner) {
    SetOnDestroy([](TObject*) { g_trace.push_back("module destroyed"); });
  }
};

// The main form of the start-up scenario: hidden at first, shown by WM_USER+128 from a timer.
class TMainForm : public TForm {
 public:
  explicit TMainForm(TComponent* owner) : TForm(owner) {
    TLoader loader(this);
    timer_ = loader.Create<TTimer>(this, "Timer");
    timer_->SetInterval(1);
    timer_->SetOnTimer([this](TObject*) {
      timer_->SetEnabled(false);
      PostMessage(Handle(), WM_USER + 128, 0, 0);
    });
    loader.Finish();
    SetOnCreate([](TObject*) { g_trace.push_back("main created"); });
    SetOnDestroy([](TObject*) { g_trace.push_back("main destroyed"); });
    SetMessageMethod(WM_USER + 128, [this](TMessage&, const TWndMethod&) {
      g_trace.push_back("WM_USER+128");
      Show();
    });
  }

 private:
  TTimer* timer_ = nullptr;
};

class TSecondForm : public TForm {
 public:
  explicit TSecondForm(TComponent* owner) : TForm(owner) {
    SetOnDestroy([](TObject*) { g_trace.push_back("second destroyed"); });
  }
};

TEST(FormsTest, StartUpScenarioRunsUntilTheMainFormCloses) {
  mirvel_test::UiRecorder ui;
  g_trace.clear();
  TTraceModule* module = nullptr;
  TMainForm* main = nullptr;
  TSecondForm* second = nullptr;
  Application().SetShowMainForm(false);
  Application().CreateForm(module);
  Application().CreateForm(main);
  Application().CreateForm(second);
  ASSERT_EQ(Application().MainForm(), main) << "a data module never becomes the main form";

  // A message box before Run, answered by the responder.
  EXPECT_EQ(MessageDlg("Base introuvable", mtWarning, TMsgDlgButtons{mbOK, mbCancel}, 0), mrOk);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Avertissement");

  Application().SetOnMessage([&](TMsg& msg, bool& handled) {
    if (msg.message == WM_SYSCOMMAND && msg.wParam == SC_CLOSE) {
      g_trace.push_back("SC_CLOSE");
      main->Hide();
      handled = true;
    }
  });
  // After the timer showed the main form: a spontaneous close only hides it; with every window
  // hidden Run goes on; then the main form's Close ends Run.
  TTimer script(nullptr);
  int step = 0;
  script.SetInterval(5);
  script.SetOnTimer([&](TObject*) {
    if (step == 0 && main->Visible()) {
      second->Show();
      Widget(main)->close();
      ++step;
    } else if (step == 1) {
      EXPECT_FALSE(main->Visible());
      second->Hide();
      ++step;
    } else if (step >= 2 && step < 5) {
      ++step;  // a few turns of the loop with nothing visible
    } else if (step == 5) {
      g_trace.push_back("closing");
      ++step;
      main->Close();
    }
  });
  Application().Run();
  script.SetEnabled(false);
  Application().SetOnMessage(nullptr);
  EXPECT_EQ(g_trace,
            (std::vector<std::string>{"main created", "WM_USER+128", "SC_CLOSE", "closing",
                                      "second destroyed", "main destroyed", "module destroyed"}));
  EXPECT_EQ(Application().MainForm(), nullptr);
  EXPECT_EQ(Screen().FormCount(), 0);
  EXPECT_TRUE(ui.errors.empty());
}

TEST(FormsTest, TheApplicationMinimisesAndRestoresItsMainForm) {
  TForm* main = nullptr;
  Application().CreateForm(main);
  ASSERT_EQ(Application().MainForm(), main);
  main->Show();
  Application().Minimize();
  EXPECT_TRUE(Application().IsIconic());
  Application().Restore();
  EXPECT_FALSE(Application().IsIconic());
  EXPECT_EQ(main->WindowState(), wsNormal);
  // A minimise posted to the application, as from another process.
  ASSERT_TRUE(PostMessage(Application().Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0));
  EXPECT_TRUE(mirvel_test::PumpUntil([] { return Application().IsIconic(); }));
  Application().Restore();
  Application().BringToFront();
  delete main;
  EXPECT_EQ(Application().MainForm(), nullptr);
}

TEST(FormsTest, ShowModalRunsUntilAModalResultAndRestoresTheOtherForms) {
  mirvel_test::UiRecorder ui;
  TForm owner_form(nullptr);
  owner_form.Show();
  TForm dialog(nullptr);
  auto* ok = new TButton(&dialog);
  ok->SetParent(&dialog);
  ok->SetModalResult(mrOk);

  // A button's ModalResult ends the loop; the other form is disabled meanwhile.
  bool was_disabled = false;
  AddModalAction([&] {
    was_disabled = !owner_form.Enabled();
    ok->Click();
  });
  EXPECT_EQ(dialog.ShowModal(), mrOk);
  EXPECT_TRUE(was_disabled);
  EXPECT_TRUE(owner_form.Enabled());
  EXPECT_FALSE(dialog.Visible());

  // ModalResult set from a timer; Close inside the loop gives mrCancel after the close query.
  TTimer timer(nullptr);
  timer.SetInterval(1);
  timer.SetOnTimer([&](TObject*) {
    timer.SetEnabled(false);
    dialog.SetModalResult(mrRetry);
  });
  EXPECT_EQ(dialog.ShowModal(), mrRetry);
  int queries = 0;
  dialog.SetOnCloseQuery([&](TObject*, bool& can_close) { can_close = ++queries > 1; });
  AddModalAction([&] {
    dialog.Close();  // refused
    EXPECT_EQ(dialog.ModalResult(), mrNone);
    dialog.Close();
  });
  EXPECT_EQ(dialog.ShowModal(), mrCancel);

  // A showing form cannot be made modal.
  dialog.Show();
  EXPECT_THROW(dialog.ShowModal(), EInvalidOperation);
  EXPECT_EQ(PendingModalActions(), 0);
}

TEST(FormsTest, CloseActionsAndAFormFreedByItsOwnEvent) {
  mirvel_test::UiRecorder ui;
  auto* form = Create<TForm>(nullptr);
  bool destroyed = false;
  form->SetOnDestroy([&](TObject*) { destroyed = true; });
  TCloseAction action = caNone;
  form->SetOnClose([&](TObject*, TCloseAction& a) { a = action; });
  form->Show();
  form->Close();
  EXPECT_TRUE(form->Visible()) << "caNone";
  action = caHide;
  form->Close();
  EXPECT_FALSE(form->Visible());
  action = caFree;
  form->Show();
  form->Close();
  EXPECT_FALSE(destroyed) << "freed later, not inside Close";
  EXPECT_TRUE(PumpUntil([&] { return destroyed; }));

  // An exception in OnCloseQuery cancels a close asked by the window system.
  TForm other(nullptr);
  other.SetOnCloseQuery([](TObject*, bool&) { throw Exception("pas maintenant"); });
  other.Show();
  Widget(&other)->close();
  EXPECT_TRUE(other.Visible());
  EXPECT_EQ(ui.errors, std::vector<std::string>{"pas maintenant"});
  EXPECT_EQ(ui.senders, std::vector<TObject*>{&other});
}

TEST(FormsTest, AFormFreedByItsOwnButtonsClickIsSafe) {
  auto* form = new TForm(nullptr);
  auto* button = new TButton(form);
  button->SetParent(form);
  bool freed = false;
  button->SetOnClick([&](TObject*) {
    delete form;  // from inside the toolkit's click signal
    freed = true;
  });
  form->Show();
  QTest::mouseClick(Widget(button), Qt::LeftButton);
  EXPECT_TRUE(freed);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(FormsTest, ActivationEventsAndTheActiveForm) {
  std::vector<std::string> trace;
  TForm first(nullptr);
  TForm second(nullptr);
  first.SetOnActivate([&](TObject*) { trace.push_back("first activated"); });
  first.SetOnDeactivate([&](TObject*) { trace.push_back("first deactivated"); });
  second.SetOnActivate([&](TObject*) { trace.push_back("second activated"); });
  first.Show();
  second.Show();
  QApplication::setActiveWindow(Widget(&first));
  EXPECT_EQ(Screen().ActiveForm(), &first);
  EXPECT_TRUE(Screen().ApplicationActive());
  QApplication::setActiveWindow(Widget(&second));
  EXPECT_EQ(Screen().ActiveForm(), &second);
  EXPECT_TRUE(second.Active());
  EXPECT_EQ(trace,
            (std::vector<std::string>{"first activated", "first deactivated", "second activated"}));
}

TEST(FormsTest, ScaleByScalesBoundsAndOwnFonts) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 222, 154);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  panel->SetBounds(3, 22, 100, 21);
  auto* big = new TPanel(&form);
  big->SetParent(&form);
  big->Font().SetSize(10);
  form.ScaleBy(120, 96);
  EXPECT_EQ(form.Width(), 277);
  EXPECT_EQ(form.Height(), 192);
  EXPECT_EQ(panel->BoundsRect(), Bounds(3, 27, 125, 26));
  EXPECT_EQ(big->Font().Size(), 12);
  EXPECT_EQ(panel->Font().Size(), form.Font().Size()) << "a parent font follows";
}

TEST(FormsTest, OnlyAUserMinimiseSendsScMinimize) {
  TForm form(nullptr);
  int minimises = 0;
  form.SetOnClose(nullptr);
  struct Watcher {
    int* count;
    TWndMethod previous;
  };
  auto watcher = std::make_shared<Watcher>(Watcher{&minimises, form.WindowProc()});
  form.SetWindowProc(
      [watcher](TMessage& m) {
        if (m.Msg == WM_SYSCOMMAND && m.WParam == SC_MINIMIZE) ++*watcher->count;
        watcher->previous(m);
      },
      watcher.get());
  form.Show();
  form.SetWindowState(wsMinimized);
  QCoreApplication::processEvents();  // the window system reports our minimise
  EXPECT_EQ(minimises, 0);
  form.SetWindowState(wsNormal);
  // A minimised report before the window system has reported the restore is a late one: the
  // restore is asked for again.
  Widget(&form)->windowHandle()->setWindowState(Qt::WindowMinimized);
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(minimises, 0);
  EXPECT_EQ(form.WindowState(), wsNormal);
  // As the window system reports a user's minimise of the restored window.
  Widget(&form)->windowHandle()->setWindowState(Qt::WindowMinimized);
  QCoreApplication::processEvents();
  EXPECT_EQ(minimises, 1);
}

// A form with one control of each kind, saved as a picture in the build folder for a person to
// look at; the test only checks that the picture was made.
TEST(FormsTest, SampleFormWithEveryControlIsSavedAsPng) {
  TForm form(nullptr);
  form.SetCaption("Exemple");
  form.SetBounds(0, 0, 480, 300);
  auto* top = new TPanel(&form);
  top->SetParent(&form);
  top->SetAlign(alTop);
  top->SetHeight(40);
  top->SetCaption("Panneau");
  auto* pages = new TPageControl(&form);
  pages->SetParent(&form);
  pages->SetAlign(alClient);
  auto* sheet = new TTabSheet(&form);
  sheet->SetPageControl(pages);
  sheet->SetCaption("Message");
  auto* other = new TTabSheet(&form);
  other->SetPageControl(pages);
  other->SetCaption("Historique");
  auto* label = new TLabel(&form);
  label->SetParent(sheet);
  label->SetBounds(8, 8, 60, 16);
  label->SetCaption("&Appelant :");
  auto* combo = new TComboBox(&form);
  combo->SetParent(sheet);
  combo->SetBounds(80, 4, 150, 22);
  combo->Items().Add("Mme Durand");
  combo->SetItemIndex(0);
  auto* group = new TGroupBox(&form);
  group->SetParent(sheet);
  group->SetBounds(8, 36, 220, 120);
  group->SetCaption("Options");
  auto* checks = new TCheckListBox(&form);
  checks->SetParent(group);
  checks->SetBounds(8, 20, 200, 90);
  checks->Items().Add("Urgent");
  checks->Items().Add("Rappeler");
  checks->SetChecked(0, true);
  auto* image = new TImage(&form);
  image->SetParent(sheet);
  image->SetBounds(240, 36, 40, 40);
  image->Picture().Bitmap().LoadFromResourceName("BBOK");
  auto* ok = new TBitBtn(&form);
  ok->SetParent(sheet);
  ok->SetKind(bkOK);
  ok->SetBounds(240, 120, 90, 28);
  auto* cancel = new TBitBtn(&form);
  cancel->SetParent(sheet);
  cancel->SetKind(bkCancel);
  cancel->SetBounds(340, 120, 90, 28);
  auto* splitter = new TSplitter(&form);
  splitter->SetParent(&form);
  splitter->SetAlign(alBottom);
  splitter->SetHeight(3);
  auto* bottom = new TPanel(&form);
  bottom->SetParent(&form);
  bottom->SetAlign(alBottom);
  bottom->SetHeight(24);
  bottom->SetBevelOuter(bvLowered);
  bottom->SetCaption("Pr\xEAt");
  form.Show();
  const std::string path = std::string(MIRVEL_TEST_OUTPUT_DIR) + "/sample-form.png";
  EXPECT_TRUE(Widget(&form)->grab().save(QString::fromStdString(path), "PNG"));
}

}  // namespace
}  // namespace cl
