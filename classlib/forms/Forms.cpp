#include "classlib/forms/Forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <QTranslator>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "classlib/forms/Consts.h"
#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/ControlProps.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/GraphicsImpl.h"
#include "classlib/forms/QtText.h"
#include "classlib/forms/Screen.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/EventLoop.h"

namespace cl {

struct TFormAccess {
  static bool HandleWindowEvent(TForm* form, QEvent* event) {
    return form->HandleWindowEvent(event);
  }
  static bool PreviewKey(TForm* form, TMessage& message) { return form->PreviewKey(message); }
};

namespace {

// The toolkit's loop behind TEventLoop: timers tick on the GUI thread, nested modal loops
// included; Post queues a call from any thread.
class TQtEventLoop : public TEventLoop {
 public:
  int StartTimer(int interval_ms, std::function<void()> tick) override {
    if (interval_ms <= 0) return 0;
    auto* timer = new QTimer(&context_);
    timer->setInterval(interval_ms);
    QObject::connect(timer, &QTimer::timeout, &context_,
                     [tick = std::move(tick)] { CallGuarded(nullptr, tick); });
    timer->start();
    const int id = next_id_++;
    timers_[id] = timer;
    return id;
  }
  void StopTimer(int id) override {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    it->second->deleteLater();  // it may be the timer whose tick is running
    timers_.erase(it);
  }
  void Post(std::function<void()> call) override {
    QMetaObject::invokeMethod(
        &context_, [call = std::move(call)] { CallGuarded(nullptr, call); }, Qt::QueuedConnection);
  }

 private:
  QObject context_;
  std::map<int, QTimer*> timers_;
  int next_id_ = 1;
};

std::vector<QEventLoop*>& ModalLoops() {
  static std::vector<QEventLoop*> loops;
  return loops;
}

bool IsLiveForm(TForm* form) {
  for (int i = 0; i < Screen().FormCount(); ++i) {
    if (Screen().Forms(i) == form) return true;
  }
  return false;
}

TForm* MainTForm() { return Application().MainForm(); }

// The form whose OnActivate fired last without its OnDeactivate.
TForm* g_active_form = nullptr;

// The kinds of entries the file dialog names, which the toolkit's French translations lack.
class FileKindWords : public QTranslator {
 public:
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source, const char*, int) const override {
    if (std::string_view(context) != "QAbstractFileIconProvider") return QString();
    static const std::map<std::string_view, const char*> kWords = {
        {"Folder", "Dossier"}, {"Drive", "Lecteur"}, {"Unknown", "Inconnu"}};
    const auto it = kWords.find(source);
    return it == kWords.end() ? QString() : QString::fromLatin1(it->second);
  }
};

class FormsBackend : public TApplicationBackend {
 public:
  void Initialize() override {
    if (QApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "mirvel";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);  // lives until the process ends
    }
    qApp->setQuitOnLastWindowClosed(false);
    // The toolkit's standard dialogs (files, printing) speak French like the rest: its own
    // translations, the few words they lack, and French names of file types.
    static QTranslator* translator = new QTranslator;  // lives until the process ends
    if (translator->load(QLocale(QLocale::French, QLocale::France), "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      QCoreApplication::installTranslator(translator);
    }
    static FileKindWords* words = new FileKindWords;  // lives until the process ends
    QCoreApplication::installTranslator(words);
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    // Tooltips in the hint colours.
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::ToolTipBase, ToQColor(clInfoBk));
    tips.setColor(QPalette::ToolTipText, ToQColor(clInfoText));
    QToolTip::setPalette(tips);
    if (loop_ == nullptr) loop_ = new TQtEventLoop;
    SetEventLoop(loop_);
    Application().SetShowExceptionHook([](Exception& e) {
      std::string title = Application().Title();
      MessageDlgCaption(title, e.Message(), mtError, TMsgDlgButtons{mbOK}, 0);
    });
  }

  void Run() override {
    TForm* main = MainTForm();
    if (main != nullptr && Application().ShowMainForm()) main->Show();
    while (MainTForm() != nullptr && !Application().Terminated()) {
      QApplication::exec();
    }
    Application().DestroyComponents();
    // Nobody may post to this process any more: its socket goes.
    StopMessageReceiver();
  }

  void Terminate() override {
    for (QEventLoop* loop : ModalLoops()) loop->quit();
    // Not quit(): the toolkit would first try to close every window, and a shown form refuses
    // (its close box means something else), so the loop would never end.
    if (QCoreApplication::instance() != nullptr) QCoreApplication::exit(0);
  }

  void ProcessMessages() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

  void OfferMainForm(TComponent* component) override {
    if (auto* form = dynamic_cast<TForm*>(component))
      Application().SetMainForm(form, form->Handle());
  }

  void Minimize() override {
    if (TForm* main = MainTForm()) main->SetWindowState(wsMinimized);
  }
  void Restore() override {
    if (TForm* main = MainTForm()) main->SetWindowState(wsNormal);
  }
  bool IsIconic() override {
    TForm* main = MainTForm();
    return main != nullptr && main->WindowState() == wsMinimized;
  }
  void BringToFront() override {
    TForm* form = nullptr;
    if (QWidget* active = QApplication::activeWindow()) {
      form = dynamic_cast<TForm*>(ControlOfWidget(active));
    }
    if (form == nullptr) form = MainTForm();
    if (form == nullptr) return;
    QWidget* widget = WidgetOf(form);
    widget->raise();
    widget->activateWindow();
  }

 private:
  TQtEventLoop* loop_ = nullptr;
};

bool KeyBefore(TControl* control, TMessage& message) {
  TForm* form = GetParentForm(control);
  if (form == nullptr || form == control) return false;
  return TFormAccess::PreviewKey(form, message);
}

bool KeyAfter(TControl* control, TMessage& message) {
  if (message.Msg != WM_KEYDOWN) return false;
  const TShiftState shift = TShiftState::FromBits(static_cast<uint32_t>(message.LParam));
  const WPARAM key = message.WParam;
  if (shift.Contains(ssAlt) && ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9'))) {
    // An accelerator nobody took as a toolkit shortcut: the form's controls are asked.
    TForm* form = GetParentForm(control);
    return form != nullptr && form->Perform(CM_DIALOGCHAR, key, message.LParam) != 0;
  }
  if (message.WParam != VK_RETURN && message.WParam != VK_ESCAPE) return false;
  // A memo keeps Enter for its new line.
  if (control->Perform(CM_WANTSPECIALKEY, key, message.LParam) != 0) return false;
  TForm* form = GetParentForm(control);
  if (form == nullptr) return false;
  return form->Perform(CM_DIALOGKEY, message.WParam, message.LParam) != 0;
}

}  // namespace

void InstallFormsBackend() {
  static FormsBackend* backend = new FormsBackend;
  SetApplicationBackend(backend);
  InstallScreenBackend();
  RegisterClassLibraryResources();
  RegisterControlProperties();
  SetKeyHooks(KeyBefore, KeyAfter);
}

namespace {
// Programs that use forms get the backend before main, so that Application().Initialize finds it.
[[maybe_unused]] const bool kBackendInstalled = (InstallFormsBackend(), true);
}  // namespace

TForm* GetParentForm(TControl* control) {
  while (control != nullptr && control->Parent() != nullptr) control = control->Parent();
  return dynamic_cast<TForm*>(control);
}

// ---- TForm ------------------------------------------------------------------------------------

TForm::TForm(TComponent* owner) : TWinControl(owner) {
  TControl::SetVisible(false);
  auto* widget = new QWidget;
  widget->setAttribute(Qt::WA_QuitOnClose, false);
  AttachWidget(this, widget);
  impl_->extra_events = [this](QEvent* event) {
    return TFormAccess::HandleWindowEvent(this, event);
  };
  Screen().AddForm(this);
}

TForm::~TForm() {
  DetachEvents(this);
  if (g_active_form == this) g_active_form = nullptr;
  if (create_fired_) FireNotify(on_destroy_);
  Screen().RemoveForm(this);
  if (Application().MainForm() == this) Application().SetMainForm(nullptr, 0);
}

void TForm::AfterConstruction() {
  TWinControl::AfterConstruction();
  UpdateTabOrder();
  create_fired_ = true;
  FireNotify(on_create_);
}

void TForm::FireNotify(const TNotifyEvent& event) {
  if (!event) return;
  TNotifyEvent handler = event;
  CallGuarded(this, [&] { handler(this); });
}

void TForm::SetBounds(int left, int top, int width, int height) {
  if (border_style_ == bsDialog || border_style_ == bsSingle || border_style_ == bsNone) {
    // The user cannot resize such a form; the program can.
    WidgetOf(this)->setFixedSize(std::max(width, 0), std::max(height, 0));
  }
  TWinControl::SetBounds(left, top, width, height);
}

void TForm::SetVisible(bool visible) {
  QWidget* widget = WidgetOf(this);
  if (visible == Visible() && visible == widget->isVisible()) return;
  TControl::SetVisible(visible);
  if (visible) {
    if (!shown_once_ && position_ == poScreenCenter) {
      if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        SetBounds((area.width() - Width()) / 2, (area.height() - Height()) / 2, Width(), Height());
      }
    }
    shown_once_ = true;
    if (!widget->isVisible()) state_acknowledged_ = false;
    ApplySizeLimits();
    widget->setGeometry(Left(), Top(), Width(), Height());
    widget->show();
    FireNotify(on_show_);
  } else {
    widget->hide();
    FireNotify(on_hide_);
  }
}

void TForm::Show() {
  SetVisible(true);
  QWidget* widget = WidgetOf(this);
  if (widget->isMinimized()) widget->showNormal();
  widget->raise();
  widget->activateWindow();
}

int TForm::ShowModal() {
  if (Visible() || modal_) {
    throw EInvalidOperation("Impossible de rendre modale une fen\xEAtre visible");
  }
  std::vector<TForm*> disabled;
  for (int i = 0; i < Screen().FormCount(); ++i) {
    auto* form = dynamic_cast<TForm*>(Screen().Forms(i));
    if (form != nullptr && form != this && form->Visible() && form->Enabled()) {
      form->SetEnabled(false);
      disabled.push_back(form);
    }
  }
  CancelMode();
  modal_result_ = mrNone;
  modal_ = true;
  QEventLoop loop;
  ModalLoops().push_back(&loop);
  try {
    Show();
    StartModalAction();
    while (modal_result_ == mrNone && !Application().Terminated()) loop.exec();
  } catch (...) {
    ModalLoops().erase(std::find(ModalLoops().begin(), ModalLoops().end(), &loop));
    modal_ = false;
    for (TForm* form : disabled) {
      if (IsLiveForm(form)) form->SetEnabled(true);
    }
    throw;
  }
  ModalLoops().erase(std::find(ModalLoops().begin(), ModalLoops().end(), &loop));
  modal_ = false;
  for (TForm* form : disabled) {
    if (IsLiveForm(form)) form->SetEnabled(true);
  }
  Hide();
  return modal_result_;
}

void TForm::SetModalResult(int result) {
  modal_result_ = result;
  if (modal_ && result != mrNone) {
    for (QEventLoop* loop : ModalLoops()) loop->quit();
  }
}

bool TForm::CloseQuery() {
  bool can_close = true;
  if (on_close_query_) {
    TCloseQueryEvent handler = on_close_query_;
    handler(this, can_close);
  }
  return can_close;
}

void TForm::Close() {
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  if (on_close_) {
    TCloseEvent handler = on_close_;
    handler(this, action);
  }
  if (action == caNone) return;
  if (modal_) {
    if (modal_result_ == mrNone) SetModalResult(mrCancel);
    return;
  }
  if (this == Application().MainForm()) {
    Application().Terminate();
    return;
  }
  switch (action) {
    case caMinimize:
      SetWindowState(wsMinimized);
      break;
    case caFree:
      Hide();
      Release();
      break;
    default:
      Hide();
      break;
  }
}

void TForm::TextChanged() { WidgetOf(this)->setWindowTitle(ToQString(Caption())); }

void TForm::Release() { PostMessage(Handle(), CM_RELEASE, 0, 0); }

void TForm::SetBorderStyle(TFormBorderStyle style) {
  border_style_ = style;
  QWidget* widget = WidgetOf(this);
  Qt::WindowFlags flags = Qt::Window;
  switch (style) {
    case bsNone:
      flags |= Qt::FramelessWindowHint;
      break;
    case bsToolWindow:
      flags = Qt::Tool;
      break;
    case bsDialog:
      flags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint;
      break;
    default:
      break;
  }
  if (form_style_ == fsStayOnTop) flags |= Qt::WindowStaysOnTopHint;
  if (style != bsNone) {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (border_icons_.Contains(biSystemMenu))
      flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (border_icons_.Contains(biMinimize) && style != bsDialog && style != bsToolWindow) {
      flags |= Qt::WindowMinimizeButtonHint;
    }
    if (border_icons_.Contains(biMaximize) && style == bsSizeable) {
      flags |= Qt::WindowMaximizeButtonHint;
    }
  }
  const bool shown = widget->isVisible();
  widget->setWindowFlags(flags);
  if (style == bsDialog || style == bsSingle || style == bsNone) {
    widget->setFixedSize(Width(), Height());
  } else {
    widget->setMinimumSize(0, 0);
    widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  if (shown) widget->show();
}

void TForm::SetBorderIcons(TBorderIcons icons) {
  border_icons_ = icons;
  SetBorderStyle(border_style_);
}

void TForm::SetFormStyle(TFormStyle style) {
  form_style_ = style;
  SetBorderStyle(border_style_);
}

TWindowState TForm::WindowState() const {
  QWidget* widget = WidgetOf(this);
  if (widget->windowState() & Qt::WindowMinimized) return wsMinimized;
  if (widget->windowState() & Qt::WindowMaximized) return wsMaximized;
  return wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
  QWidget* widget = WidgetOf(this);
  Qt::WindowStates states = widget->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
  if (state == wsMinimized) states |= Qt::WindowMinimized;
  if (state == wsMaximized) states |= Qt::WindowMaximized;
  requested_state_ = static_cast<int>(states);
  state_acknowledged_ = false;
  widget->setWindowState(states);
}

void TForm::ApplySizeLimits() {
  if (border_style_ != bsSizeable) return;
  TMinMaxInfo info;
  Perform(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  QWidget* widget = WidgetOf(this);
  widget->setMinimumSize(std::max(0, info.ptMinTrackSize.X), std::max(0, info.ptMinTrackSize.Y));
  widget->setMaximumSize(info.ptMaxTrackSize.X > 0 ? info.ptMaxTrackSize.X : QWIDGETSIZE_MAX,
                         info.ptMaxTrackSize.Y > 0 ? info.ptMaxTrackSize.Y : QWIDGETSIZE_MAX);
}

void TForm::ScaleBy(int m, int d) {
  if (d == 0 || m == d) return;
  auto scale = [m, d](int v) { return static_cast<int>((static_cast<int64_t>(v) * m) / d); };
  std::function<void(TWinControl*)> scale_children = [&](TWinControl* parent) {
    for (int i = 0; i < parent->ControlCount(); ++i) {
      TControl* c = parent->Controls(i);
      c->SetBounds(scale(c->Left()), scale(c->Top()), scale(c->Width()), scale(c->Height()));
      if (!c->ParentFont()) c->Font().SetSize(scale(c->Font().Size()));
      if (auto* win = dynamic_cast<TWinControl*>(c)) scale_children(win);
    }
  };
  Font().SetSize(scale(Font().Size()));
  scale_children(this);
  SetBounds(Left(), Top(), scale(Width()), scale(Height()));
}

TWinControl* TForm::ActiveControl() const {
  QWidget* focus = WidgetOf(this)->focusWidget();
  return dynamic_cast<TWinControl*>(ControlOfWidget(focus));
}

void TForm::SetActiveControl(TWinControl* control) {
  if (control != nullptr) control->SetFocus();
}

bool TForm::Active() const { return WidgetOf(this)->isActiveWindow(); }

bool TForm::PreviewKey(TMessage& message) {
  if (!key_preview_ || (message.Msg != WM_KEYDOWN && message.Msg != WM_KEYUP)) return false;
  TMessage preview = message;
  TWndMethod head = WindowProc();
  head(preview);
  message.WParam = preview.WParam;
  return preview.WParam == 0;
}

void TForm::DefaultHandler(TMessage& message) {
  switch (message.Msg) {
    case CM_RELEASE:
      Free();  // nothing may touch the form after this
      return;
    case WM_SYSCOMMAND:
      if (message.WParam == SC_CLOSE) {
        Close();
        return;
      }
      if (message.WParam == SC_MINIMIZE) {
        // The user's minimise arrives already done; one posted to the form or the application
        // is not.
        if (WindowState() != wsMinimized || !(requested_state_ & Qt::WindowMinimized)) {
          SetWindowState(wsMinimized);
        }
        return;
      }
      break;
    default:
      break;
  }
  TWinControl::DefaultHandler(message);
}

bool TForm::HandleWindowEvent(void* raw_event) {
  auto* event = static_cast<QEvent*>(raw_event);
  QWidget* widget = WidgetOf(this);
  // On the screen or active: the window system has shown the window as we last asked.
  if (!state_acknowledged_ && widget->isVisible() &&
      (widget->isActiveWindow() ||
       (widget->windowHandle() != nullptr && widget->windowHandle()->isExposed()))) {
    state_acknowledged_ = true;
  }
  switch (event->type()) {
    case QEvent::Close: {
      // Our code never closes the widget itself: every close event comes from the window system.
      event->ignore();
      TMsg msg{Handle(), WM_SYSCOMMAND, SC_CLOSE, 0};
      if (!Application().FilterMessage(msg)) Close();
      return true;
    }
    case QEvent::WindowStateChange: {
      // Only the window system's reports count, and it reports late.  Until it has shown the
      // state we last asked for (reported it, or put the window on the screen or activated it, see
      // above), the first report of another state is that of our previous request, never the
      // user's doing: a minimised one is answered by asking again for the state we want.  Any
      // later report is the user's.
      if (!event->spontaneous()) return false;
      constexpr int kShape = Qt::WindowMinimized | Qt::WindowMaximized;
      const int state = static_cast<int>(widget->windowState());
      if ((state & kShape) == (requested_state_ & kShape)) {
        state_acknowledged_ = true;
        return false;
      }
      if (!state_acknowledged_) {
        state_acknowledged_ = true;
        if ((state & Qt::WindowMinimized) && widget->isVisible()) {
          QTimer::singleShot(0, widget, [this, widget] {
            if (!widget->isVisible() || (requested_state_ & Qt::WindowMinimized)) return;
            widget->setWindowState(static_cast<Qt::WindowStates>(requested_state_));
            widget->raise();
            widget->activateWindow();
          });
        }
        return false;
      }
      if (!(state & Qt::WindowMinimized)) {
        // The user restored (or maximised) the window.
        if (widget->isVisible()) requested_state_ = state;
        return false;
      }
      Perform(WM_SYSCOMMAND, SC_MINIMIZE, 0);
      return false;
    }
    case QEvent::Resize:
      if (event->spontaneous()) ApplySizeLimits();
      return false;
    case QEvent::ActivationChange:
      // The toolkit tells the new active window first; the old one's OnDeactivate must come
      // before the new one's OnActivate.
      if (WidgetOf(this)->isActiveWindow()) {
        if (g_active_form == this) return false;
        TForm* previous = g_active_form;
        g_active_form = this;
        if (previous != nullptr) previous->FireNotify(previous->on_deactivate_);
        FireNotify(on_activate_);
      } else if (g_active_form == this) {
        g_active_form = nullptr;
        FireNotify(on_deactivate_);
      }
      return false;
    default:
      return false;
  }
}

}  // namespace cl
