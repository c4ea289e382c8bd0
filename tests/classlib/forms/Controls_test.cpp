#include "classlib/forms/Controls.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/TTimer.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

using mirvel_test::PumpUntil;
using mirvel_test::Widget;

// A watcher with the window-hook rules: it runs before the previous procedure and may stop the
// chain, except for WM_DESTROY, which always passes; it uninstalls only while it is the head, and
// otherwise stays in the chain as a pass-through (its state outlives it).
class THook {
 public:
  THook(TWinControl* control, std::string name, std::vector<std::string>* log, bool handles)
      : control_(control), state_(std::make_shared<State>()) {
    state_->name = std::move(name);
    state_->log = log;
    state_->handles = handles;
    state_->previous = control->WindowProc();
    previous_owner_ = control->WindowProcOwner();
    control->SetWindowProc([state = state_](TMessage& m) { state->Message(m); }, state_.get());
  }
  ~THook() {
    if (control_->WindowProcOwner() == state_.get()) {
      control_->SetWindowProc(state_->previous, previous_owner_);
    } else {
      state_->passthrough = true;
    }
  }

 private:
  struct State {
    void Message(TMessage& m) {
      if (!passthrough && m.Msg >= WM_USER) log->push_back(name);
      if (!passthrough && m.Msg == WM_DESTROY) log->push_back(name + " destroy");
      if (!passthrough && handles && m.Msg != WM_DESTROY) return;
      TWndMethod next = previous;
      next(m);
    }
    std::string name;
    std::vector<std::string>* log = nullptr;
    bool handles = false;
    bool passthrough = false;
    TWndMethod previous;
  };

  TWinControl* control_;
  std::shared_ptr<State> state_;
  const void* previous_owner_ = nullptr;
};

class TRecordingPanel : public TPanel {
 public:
  TRecordingPanel(TComponent* owner, std::vector<std::string>* log) : TPanel(owner), log_(log) {
    SetMessageMethod(WM_USER, [this](TMessage& m, const TWndMethod&) {
      log_->push_back("own");
      m.Result = 42;
    });
  }

 private:
  std::vector<std::string>* log_;
};

TEST(ControlsTest, WindowProcChainOrderStopsAndSurvivesRecreation) {
  std::vector<std::string> log;
  TRecordingPanel panel(nullptr, &log);
  const HWND first_handle = panel.Handle();
  auto a = std::make_unique<THook>(&panel, "a", &log, false);
  auto b = std::make_unique<THook>(&panel, "b", &log, false);
  EXPECT_EQ(panel.Perform(WM_USER, 0, 0), 42);
  EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "own"}));

  log.clear();
  auto c = std::make_unique<THook>(&panel, "c", &log, true);
  EXPECT_EQ(SendMessage(panel.Handle(), WM_USER, 0, 0), 0);
  EXPECT_EQ(log, std::vector<std::string>{"c"}) << "a handling hook stops the chain";

  log.clear();
  panel.RecreateWnd();
  EXPECT_EQ(log, (std::vector<std::string>{"c destroy", "b destroy", "a destroy"}));
  EXPECT_FALSE(IsWindow(first_handle));
  c.reset();
  log.clear();
  panel.Perform(WM_USER, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "own"})) << "the chain survived";

  // Removing a hook under a later subclass leaves that subclass in place.
  log.clear();
  a.reset();
  panel.Perform(WM_USER, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"b", "own"}));
  b.reset();
  log.clear();
  panel.Perform(WM_USER, 0, 0);
  EXPECT_EQ(log, std::vector<std::string>{"own"}) << "a's pass-through remains, silent";
}

TEST(ControlsTest, AlignLayoutTable) {
  struct Child {
    TAlign align;
    int size;  // height for top/bottom, width for left/right
    bool visible;
    TRect expected;
  };
  // clang-format off
  const std::vector<std::vector<Child>> cases = {
    {{alTop, 20, true, Rect(0, 0, 200, 20)}, {alTop, 30, true, Rect(0, 20, 200, 50)},
     {alClient, 0, true, Rect(0, 50, 200, 100)}},
    {{alTop, 20, false, Rect(0, 0, 200, 20)}, {alTop, 30, true, Rect(0, 0, 200, 30)},
     {alBottom, 10, true, Rect(0, 90, 200, 100)}, {alClient, 0, true, Rect(0, 30, 200, 90)}},
    {{alLeft, 40, true, Rect(0, 10, 40, 100)}, {alRight, 50, true, Rect(150, 10, 200, 100)},
     {alTop, 10, true, Rect(0, 0, 200, 10)}, {alClient, 0, true, Rect(40, 10, 150, 100)}},
    {{alBottom, 60, true, Rect(0, 40, 200, 100)}, {alBottom, 60, true, Rect(0, -20, 200, 40)},
     {alClient, 0, true, Rect(0, 0, 200, 0)}},
  };
  // clang-format on
  for (size_t n = 0; n < cases.size(); ++n) {
    TPanel parent(nullptr);
    parent.SetBounds(0, 0, 200, 100);
    std::vector<TRect> seen_at_resize;
    std::vector<TPanel*> children;
    for (const Child& c : cases[n]) {
      auto* child = new TPanel(&parent);
      child->SetVisible(c.visible);
      child->SetBounds(0, 0, c.size, c.size);
      child->SetAlign(c.align);
      child->SetParent(&parent);
      children.push_back(child);
    }
    parent.SetOnResize([&](TObject*) {
      seen_at_resize.clear();
      for (TPanel* child : children) seen_at_resize.push_back(child->BoundsRect());
    });
    parent.SetBounds(0, 0, 300, 150);
    parent.SetBounds(0, 0, 200, 100);
    for (size_t i = 0; i < children.size(); ++i) {
      if (!cases[n][i].visible) continue;
      EXPECT_EQ(children[i]->BoundsRect(), cases[n][i].expected) << "case " << n << " child " << i;
      EXPECT_EQ(seen_at_resize[i], cases[n][i].expected) << "OnResize comes after the layout";
    }
  }
}

TEST(ControlsTest, DialogKeysAndKeyPreview) {
  mirvel_test::UiRecorder ui;
  TForm form(nullptr);
  form.SetBounds(0, 0, 300, 200);
  auto* ok = new TButton(&form);
  auto* cancel = new TButton(&form);
  auto* other = new TButton(&form);
  for (TButton* b : {ok, cancel, other}) b->SetParent(&form);
  ok->SetDefault(true);
  cancel->SetCancel(true);
  cancel->SetLeft(100);
  other->SetLeft(200);
  std::vector<std::string> clicks;
  ok->SetOnClick([&](TObject*) { clicks.push_back("ok"); });
  cancel->SetOnClick([&](TObject*) { clicks.push_back("cancel"); });
  other->SetOnClick([&](TObject*) { clicks.push_back("other"); });
  form.Show();
  auto* panel = new TPanel(&form);  // takes the focus without taking Enter
  panel->SetParent(&form);
  panel->SetTop(50);
  Widget(panel)->setFocusPolicy(Qt::StrongFocus);
  panel->SetFocus();

  QTest::keyClick(Widget(panel), Qt::Key_Return);
  QTest::keyClick(Widget(panel), Qt::Key_Escape);
  ok->SetEnabled(false);
  QTest::keyClick(Widget(panel), Qt::Key_Return);
  EXPECT_EQ(clicks, (std::vector<std::string>{"ok", "cancel"}));
  other->SetFocus();
  QTest::keyClick(Widget(other), Qt::Key_Return);
  EXPECT_EQ(clicks.back(), "other") << "a focused button takes Enter itself";

  // Key preview: the form sees Tab first and can stop it.
  std::vector<uint16_t> previewed;
  form.SetKeyPreview(true);
  form.SetOnKeyDown([&](TObject*, uint16_t& key, TShiftState) {
    previewed.push_back(key);
    if (key == VK_TAB) key = 0;
  });
  panel->SetFocus();
  QTest::keyClick(Widget(panel), Qt::Key_Tab);
  EXPECT_EQ(previewed, std::vector<uint16_t>{VK_TAB});
  EXPECT_EQ(Widget(&form)->focusWidget(), Widget(panel)) << "a key set to 0 stops the navigation";
}

TEST(ControlsTest, ExitFiresOnTabButNotOnDeactivation) {
  TForm form(nullptr);
  auto* first = new TButton(&form);
  auto* second = new TButton(&form);
  first->SetParent(&form);
  second->SetParent(&form);
  second->SetLeft(100);
  int exits = 0;
  first->SetOnExit([&](TObject*) { ++exits; });
  form.Show();
  QApplication::setActiveWindow(Widget(&form));
  first->SetFocus();
  TForm elsewhere(nullptr);
  elsewhere.Show();
  QApplication::setActiveWindow(Widget(&elsewhere));
  EXPECT_EQ(exits, 0);
  QApplication::setActiveWindow(Widget(&form));
  first->SetFocus();
  QTest::keyClick(Widget(first), Qt::Key_Tab);
  EXPECT_EQ(exits, 1);
  EXPECT_TRUE(Widget(second)->hasFocus());
}

// A control whose painting fails.
class TFailingPaint : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;

 protected:
  void Paint() override { throw Exception("paint"); }
};

TEST(ControlsTest, ExceptionSourcesReachTheHandlerWithTheirSender) {
  mirvel_test::UiRecorder ui;
  TForm form(nullptr);
  form.SetBounds(0, 0, 300, 200);
  auto* button = new TButton(&form);
  button->SetParent(&form);
  auto* painted = new TFailingPaint(&form);
  painted->SetParent(&form);
  painted->SetBounds(0, 100, 50, 50);
  form.Show();

  int clicks = 0;
  button->SetOnClick([&](TObject*) {
    ++clicks;
    throw Exception("click");
  });
  QTest::mouseClick(Widget(button), Qt::LeftButton);
  EXPECT_EQ(clicks, 1);

  // A failing key handler consumes the key: the space bar does not click the button.
  button->SetOnKeyDown([](TObject*, uint16_t& key, TShiftState) {
    if (key == VK_SPACE) throw Exception("key");
  });
  button->SetFocus();
  QTest::keyClick(Widget(button), Qt::Key_Space);
  EXPECT_EQ(clicks, 1);

  // EAbort stays silent.
  button->SetOnKeyDown(nullptr);
  button->SetOnClick([](TObject*) { throw EAbort("silent"); });
  QTest::mouseClick(Widget(button), Qt::LeftButton);

  // A message handler, reached through the handle.
  form.SetOnResize(nullptr);
  PostMessage(button->Handle(), WM_USER, 0, 0);
  button->SetWindowProc([](TMessage& m) {
    if (m.Msg == WM_USER) throw Exception("message");
  });
  TTimer timer(nullptr);
  int ticks = 0;
  timer.SetInterval(1);
  timer.SetOnTimer([&](TObject*) {
    if (++ticks == 1) throw Exception("timer");
  });
  Widget(painted)->repaint();
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; })) << "the loop goes on after a failure";
  timer.SetEnabled(false);

  const std::vector<std::string> expected = {"click", "key", "paint", "message", "timer"};
  std::vector<std::string> sorted = ui.errors;
  // Paint, the message and the first tick race in the loop; their senders are what matter.
  ASSERT_EQ(sorted.size(), expected.size());
  for (size_t i = 0; i < ui.errors.size(); ++i) {
    const std::string& e = ui.errors[i];
    TObject* want = e == "click" || e == "key" || e == "message" ? static_cast<TObject*>(button)
                    : e == "paint"                               ? static_cast<TObject*>(painted)
                                                                 : static_cast<TObject*>(&timer);
    EXPECT_EQ(ui.senders[i], want) << e;
  }
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> sorted_expected = expected;
  std::sort(sorted_expected.begin(), sorted_expected.end());
  EXPECT_EQ(sorted, sorted_expected);
}

}  // namespace
}  // namespace cl

namespace cl {
namespace {

// A pop-up list as the date and combo edits use: a top-level window that never activates.
class TPopupList : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  int cancel_modes = 0;
  std::string accelerators;

 protected:
  void CreateParams(TCreateParams& params) override {
    params.Style |= WS_POPUP | WS_BORDER;
    params.ExStyle |= WS_EX_TOOLWINDOW;
    params.NoActivate = true;
  }
  void DefaultHandler(TMessage& m) override {
    if (m.Msg == WM_CANCELMODE) ++cancel_modes;
    if (m.Msg == CM_DIALOGCHAR && m.WParam == 'K') {
      accelerators += static_cast<char>(m.WParam);
      m.Result = 1;
      return;
    }
    TCustomControl::DefaultHandler(m);
  }
};

TEST(ControlsTest, PopupWindowsCaptureCancelModeAndAccelerators) {
  mirvel_test::UiRecorder ui;
  TForm form(nullptr);
  auto* edit = new TButton(&form);
  edit->SetParent(&form);
  form.Show();
  QApplication::setActiveWindow(Widget(&form));
  edit->SetFocus();

  auto* popup = new TPopupList(&form);
  popup->SetParent(&form);
  popup->SetBounds(300, 200, 80, 60);
  popup->Show();
  EXPECT_TRUE(Widget(popup)->isWindow());
  EXPECT_TRUE(Widget(popup)->isVisible());
  EXPECT_EQ(popup->ClientRect(), Rect(0, 0, 78, 58)) << "inside the border";
  EXPECT_EQ(QApplication::activeWindow(), Widget(&form));
  EXPECT_EQ(QApplication::focusWidget(), Widget(edit));

  // The pop-up holds the capture; a modal loop starting sends it WM_CANCELMODE.
  popup->SetMouseCapture(true);
  EXPECT_TRUE(popup->MouseCapture());
  ui.answers = {mrOk};
  MessageDlg("Erreur de saisie", mtError, TMsgDlgButtons{mbOK}, 0);
  EXPECT_EQ(ui.boxes.size(), 1u) << "the responder answered";
  TForm dialog(nullptr);
  AddModalAction([&] { dialog.SetModalResult(mrOk); });
  popup->SetMouseCapture(true);
  dialog.ShowModal();
  EXPECT_EQ(popup->cancel_modes, 1);
  EXPECT_EQ(GetCaptureControl(), nullptr);

  // Alt and a letter that no button takes reaches the custom controls as CM_DIALOGCHAR.
  QTest::keyClick(Widget(edit), Qt::Key_K, Qt::AltModifier);
  EXPECT_EQ(popup->accelerators, "K");
}

TEST(ControlsTest, AFailingExitGivesTheFocusBackAndATimerMayFreeItself) {
  mirvel_test::UiRecorder ui;
  TForm form(nullptr);
  auto* first = new TButton(&form);
  auto* second = new TButton(&form);
  first->SetParent(&form);
  second->SetParent(&form);
  second->SetLeft(100);
  first->SetOnExit([](TObject*) { throw Exception("Date incorrecte"); });
  form.Show();
  QApplication::setActiveWindow(Widget(&form));
  first->SetFocus();
  QTest::keyClick(Widget(first), Qt::Key_Tab);
  EXPECT_TRUE(mirvel_test::PumpUntil([&] { return QApplication::focusWidget() == Widget(first); }));
  EXPECT_EQ(ui.errors, std::vector<std::string>{"Date incorrecte"});
  EXPECT_EQ(ui.senders, std::vector<TObject*>{first});

  auto* timer = new TTimer(nullptr);
  int ticks = 0;
  timer->SetInterval(1);
  timer->SetOnTimer([&](TObject*) {
    ++ticks;
    delete timer;
  });
  mirvel_test::PumpFor(100);  // a hundred intervals: no second tick
  EXPECT_EQ(ticks, 1);

  // A form made minimised while hidden shows nothing.
  TForm hidden(nullptr);
  hidden.SetWindowState(wsMinimized);
  QCoreApplication::processEvents();
  EXPECT_FALSE(Widget(&hidden)->isVisible());
}

}  // namespace
}  // namespace cl

namespace cl {
namespace {

class TRedDot : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;

 protected:
  void Paint() override {
    Canvas().Brush().SetColor(clRed);
    Canvas().FillRect(Rect(2, 2, 6, 6));
  }
};

// Clicks itself on release, as a speed button does.
class TSelfClicking : public TGraphicControl {
 public:
  explicit TSelfClicking(TComponent* owner) : TGraphicControl(owner) { SetClicksOnMouseUp(true); }

 protected:
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override {
    TGraphicControl::MouseUp(button, shift, x, y);
    Click();
  }
};

TEST(ControlsTest, GraphicControlsHintsFollowingParentsAndControlsAtPoints) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 100, 80);
  form.SetColor(clWhite);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  panel->SetBevelOuter(bvNone);
  panel->SetBounds(10, 10, 60, 40);
  auto* dot = new TRedDot(&form);
  dot->SetParent(panel);
  dot->SetBounds(5, 5, 10, 10);
  form.Show();
  const QImage shot = Widget(&form)->grab().toImage();
  EXPECT_EQ(shot.pixelColor(10 + 5 + 3, 10 + 5 + 3), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(10 + 5 + 8, 10 + 5 + 8), QColor(255, 255, 255))
      << "drawn over its parent, which follows the form's colour";
  EXPECT_EQ(FindControlAt(dot->ClientToScreen({1, 1})), dot);
  EXPECT_EQ(FindControlAt(panel->ClientToScreen({50, 30})), panel);

  dot->SetHint("Point");
  form.SetShowHint(true);
  EXPECT_TRUE(panel->ShowHint());
  EXPECT_TRUE(dot->ShowHint()) << "follows through the parents";
  dot->SetShowHint(false);
  EXPECT_FALSE(dot->ParentShowHint());
  form.SetShowHint(true);
  EXPECT_FALSE(dot->ShowHint()) << "its own setting now";

  // The mouse passing over a control without a button reaches it as moves.
  std::vector<TPoint> moves;
  panel->SetOnMouseMove([&](TObject*, TShiftState, int x, int y) { moves.push_back({x, y}); });
  QTest::mouseMove(Widget(panel), QPoint(30, 20));
  ASSERT_FALSE(moves.empty());
  EXPECT_EQ(moves.back().X, 30);
  EXPECT_EQ(moves.back().Y, 20);

  // One press and release is one click, whether the toolkit or the control itself clicks.
  auto* self = new TSelfClicking(&form);
  self->SetParent(panel);
  self->SetBounds(20, 5, 10, 10);
  int dot_clicks = 0;
  int self_clicks = 0;
  dot->SetOnClick([&](TObject*) { ++dot_clicks; });
  self->SetOnClick([&](TObject*) { ++self_clicks; });
  QTest::mouseClick(Widget(dot), Qt::LeftButton, {}, QPoint(3, 3));
  QTest::mouseClick(Widget(self), Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_EQ(dot_clicks, 1);
  EXPECT_EQ(self_clicks, 1);

  form.SetBorderIcons(TBorderIcons{biSystemMenu});
  EXPECT_FALSE(Widget(&form)->windowFlags() & Qt::WindowMinimizeButtonHint);
  form.SetBorderIcons(TBorderIcons{biSystemMenu, biMinimize});
  EXPECT_TRUE(Widget(&form)->windowFlags() & Qt::WindowMinimizeButtonHint);
}

// Holds the capture while pressed and clicks on release, as the speed buttons do.
class TCapturingButton : public TGraphicControl {
 public:
  explicit TCapturingButton(TComponent* owner) : TGraphicControl(owner) {
    SetClicksOnMouseUp(true);
  }

 protected:
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override {
    TGraphicControl::MouseDown(button, shift, x, y);
    SetMouseCapture(true);
  }
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override {
    TGraphicControl::MouseUp(button, shift, x, y);
    SetMouseCapture(false);
    Click();
  }
};

// Clicks travel through the window system here, as real ones do, so that a grab left behind
// would take them.
TEST(ControlsTest, AModalWindowOpenedByACapturingControlTakesTheMouse) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 200, 100);
  auto* opener = new TCapturingButton(&form);
  opener->SetParent(&form);
  opener->SetBounds(10, 10, 30, 20);
  std::vector<int> results;
  bool open = false;
  opener->SetOnClick([&](TObject*) {
    if (open) {  // the dialog's click reached the opener
      results.push_back(-1);
      return;
    }
    open = true;
    TForm dialog(nullptr);
    dialog.SetBounds(300, 300, 120, 60);
    auto* close = new TButton(&dialog);
    close->SetParent(&dialog);
    close->SetBounds(10, 10, 80, 25);
    close->SetOnClick([&](TObject*) { dialog.SetModalResult(mrOk); });
    AddModalAction([&] {
      QTest::mouseClick(Widget(&dialog)->windowHandle(), Qt::LeftButton, {}, QPoint(20, 20));
      if (dialog.ModalResult() == mrNone) dialog.SetModalResult(mrAbort);
    });
    results.push_back(dialog.ShowModal());
    open = false;
  });
  form.Show();
  for (int i = 0; i < 2; ++i) {
    QTest::mouseClick(Widget(&form)->windowHandle(), Qt::LeftButton, {}, QPoint(15, 15));
  }
  EXPECT_EQ(results, (std::vector<int>{mrOk, mrOk}));
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

}  // namespace
}  // namespace cl
