#include "classlib/forms/ControlImpl.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <unordered_map>

#include "classlib/forms/Dialogs.h"
#include "classlib/forms/GraphicsImpl.h"
#include "classlib/forms/Menus.h"
#include "classlib/forms/QtText.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/EventLoop.h"

namespace cl {
namespace {

int g_dispatch_depth = 0;
TControl* g_capture = nullptr;

std::unordered_map<HWND, TWinControl*>& HandleOwners() {
  static std::unordered_map<HWND, TWinControl*> owners;
  return owners;
}
TKeyHook g_key_before = nullptr;
TKeyHook g_key_after = nullptr;

struct DispatchScope {
  DispatchScope() { ++g_dispatch_depth; }
  ~DispatchScope() { --g_dispatch_depth; }
};

TShiftState ShiftOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons = Qt::NoButton) {
  TShiftState shift;
  if (modifiers & Qt::ShiftModifier) shift.Include(ssShift);
  if (modifiers & Qt::AltModifier) shift.Include(ssAlt);
  if (modifiers & Qt::ControlModifier) shift.Include(ssCtrl);
  if (buttons & Qt::LeftButton) shift.Include(ssLeft);
  if (buttons & Qt::RightButton) shift.Include(ssRight);
  if (buttons & Qt::MiddleButton) shift.Include(ssMiddle);
  return shift;
}

// The virtual-key code of a toolkit key; 0 for keys the program never sees.
uint16_t VirtualKey(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<uint16_t>('A' + key - Qt::Key_A);
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<uint16_t>('0' + key - Qt::Key_0);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
    return static_cast<uint16_t>(VK_F1 + key - Qt::Key_F1);
  }
  // clang-format off
  static const struct { int qt; uint16_t vk; } kTable[] = {
    {Qt::Key_Backspace, VK_BACK}, {Qt::Key_Tab, VK_TAB}, {Qt::Key_Backtab, VK_TAB},
    {Qt::Key_Return, VK_RETURN}, {Qt::Key_Enter, VK_RETURN}, {Qt::Key_Shift, VK_SHIFT},
    {Qt::Key_Control, VK_CONTROL}, {Qt::Key_Alt, VK_MENU}, {Qt::Key_Escape, VK_ESCAPE},
    {Qt::Key_Space, VK_SPACE}, {Qt::Key_PageUp, VK_PRIOR}, {Qt::Key_PageDown, VK_NEXT},
    {Qt::Key_End, VK_END}, {Qt::Key_Home, VK_HOME}, {Qt::Key_Left, VK_LEFT}, {Qt::Key_Up, VK_UP},
    {Qt::Key_Right, VK_RIGHT}, {Qt::Key_Down, VK_DOWN}, {Qt::Key_Insert, VK_INSERT},
    {Qt::Key_Delete, VK_DELETE},
  };
  // clang-format on
  for (const auto& entry : kTable) {
    if (entry.qt == key) return entry.vk;
  }
  return 0;
}

LPARAM PackPoint(const QPoint& p) {
  return static_cast<LPARAM>((static_cast<uint32_t>(static_cast<uint16_t>(p.y())) << 16) |
                             static_cast<uint16_t>(p.x()));
}

uint32_t MouseMessage(Qt::MouseButton button, int offset) {
  const uint32_t base = button == Qt::RightButton    ? WM_RBUTTONDOWN
                        : button == Qt::MiddleButton ? WM_MBUTTONDOWN
                                                     : WM_LBUTTONDOWN;
  return base + static_cast<uint32_t>(offset);
}

// Turns the events of one widget into messages of its control.
class EventBridge : public QObject {
 public:
  explicit EventBridge(TControlImpl* impl) : impl_(impl) {}
  void Detach() { impl_ = nullptr; }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (impl_ == nullptr || watched != impl_->widget) return false;
    DispatchScope scope;
    bool consumed = false;
    TControl* control = impl_->control;
    // The control may be freed by its own handler: keep nothing of it after a call but through
    // this guard.
    QPointer<EventBridge> alive(this);
    // An exception consumes the event: a failing key handler eats the key, a failing close
    // query cancels the close.
    if (!CallGuarded(control, [&] { consumed = Translate(event); })) consumed = true;
    if (alive.isNull() || impl_ == nullptr) return true;
    return consumed;
  }

 private:
  bool Send(uint32_t msg, WPARAM w, LPARAM l) {
    TMessage message{msg, w, l, 0};
    return !impl_->PerformReached(message);
  }

  bool Translate(QEvent* event) {
    if (impl_->extra_events && impl_->extra_events(event)) return true;
    TControl* control = impl_->control;
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const int offset = event->type() == QEvent::MouseButtonPress     ? 0
                           : event->type() == QEvent::MouseButtonRelease ? 1
                                                                         : 2;
        const TShiftState shift = ShiftOf(mouse->modifiers(), mouse->buttons());
        const QPoint pos = mouse->position().toPoint();
        // A pressed button holds the capture until it is released, as the toolkit's implicit
        // grab does.
        if (offset != 1) g_capture = control;
        if (offset == 1 && g_capture == control && mouse->buttons() == Qt::NoButton) {
          g_capture = nullptr;
        }
        const bool consumed =
            Send(MouseMessage(mouse->button(), offset), shift.Bits(), PackPoint(pos));
        if (!consumed && offset == 1 && mouse->button() == Qt::LeftButton && !impl_->native_click &&
            impl_->widget->rect().contains(pos)) {
          control->Click();
        }
        return consumed;
      }
      case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        return Send(WM_MOUSEMOVE, ShiftOf(mouse->modifiers(), mouse->buttons()).Bits(),
                    PackPoint(mouse->position().toPoint()));
      }
      case QEvent::DragEnter: {
        auto* drag = static_cast<QDragEnterEvent*>(event);
        if (!drag->mimeData()->hasUrls()) return false;
        drag->acceptProposedAction();
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        std::vector<std::string> files;
        for (const QUrl& url : drop->mimeData()->urls()) {
          if (url.isLocalFile()) files.push_back(FromQString(url.toLocalFile()));
        }
        if (files.empty()) return false;
        drop->acceptProposedAction();
        Send(WM_DROPFILES, reinterpret_cast<WPARAM>(&files), 0);
        return true;
      }
      case QEvent::Enter:
        Send(CM_MOUSEENTER, 0, 0);
        return false;
      case QEvent::Leave:
        Send(CM_MOUSELEAVE, 0, 0);
        return false;
      case QEvent::KeyPress:
      case QEvent::KeyRelease: {
        // A key the focused widget leaves alone travels up to its parents: only the focused
        // widget's control sees it, as with the system's windows.
        QWidget* focused = impl_->widget->window()->focusWidget();
        if (focused != impl_->widget && (focused != nullptr || !impl_->widget->isWindow())) {
          return false;
        }
        auto* key = static_cast<QKeyEvent*>(event);
        const uint16_t vk = VirtualKey(key->key());
        const LPARAM shift = ShiftOf(key->modifiers()).Bits();
        const bool press = event->type() == QEvent::KeyPress;
        if (vk != 0) {
          TMessage message{press ? WM_KEYDOWN : WM_KEYUP, vk, shift, 0};
          if (g_key_before != nullptr && g_key_before(control, message)) return true;
          if (!impl_->PerformReached(message) || message.WParam == 0) return true;
          if (g_key_after != nullptr && g_key_after(control, message)) return true;
        }
        if (!press || key->text().isEmpty() || key->text().at(0).unicode() < 32) return false;
        if (!FitsCp1252(key->text())) {
          MessageBeep(0);
          return true;
        }
        for (unsigned char c : FromQString(key->text())) {
          TMessage message{WM_CHAR, c, shift, 0};
          if (!impl_->PerformReached(message) || message.WParam == 0) return true;
        }
        return false;
      }
      case QEvent::FocusIn:
      case QEvent::FocusOut: {
        const bool in = event->type() == QEvent::FocusIn;
        Send(in ? WM_SETFOCUS : WM_KILLFOCUS, 0, 0);
        // Moves inside the application only: not a window switch, not a pop-up.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
          Send(in ? CM_ENTER : CM_EXIT, 0, 0);
        }
        return false;
      }
      case QEvent::Move:
      case QEvent::Resize: {
        QWidget* widget = impl_->widget;
        if (widget->isWindow()) {
          const QRect g = widget->geometry();
          TControlImpl::SyncBounds(control, Bounds(g.x(), g.y(), g.width(), g.height()));
        }
        if (event->type() == QEvent::Resize) {
          if (auto* win = dynamic_cast<TWinControl*>(control)) win->Realign();
        }
        return false;
      }
      case QEvent::Paint:
        if (auto* graphic = dynamic_cast<TGraphicControl*>(control)) {
          TControlImpl::Paint(graphic);
          return true;
        }
        if (auto* custom = dynamic_cast<TCustomControl*>(control)) {
          TControlImpl::Paint(custom);
          return true;
        }
        return false;
      default:
        return false;
    }
  }

  TControlImpl* impl_;
};

}  // namespace

bool CallGuarded(TObject* sender, const std::function<void()>& call) noexcept {
  // Everything the toolkit calls comes through here (events, signals, timers, posted calls): a
  // widget whose control dies meanwhile must outlive the toolkit frame that is running.
  DispatchScope scope;
  try {
    call();
    return true;
  } catch (...) {
    Application().HandleException(sender);
    return false;
  }
}

bool TControlImpl::PerformReached(TMessage& message) {
  const bool saved = reached_default;
  reached_default = false;
  TWndMethod head = control->WindowProc();
  head(message);
  const bool reached = reached_default;
  reached_default = saved;
  return reached;
}

void TControlImpl::Paint(TCustomControl* control) {
  QWidget* widget = WidgetOf(control);
  QPainter painter(widget);
  painter.fillRect(widget->rect(), ToQColor(control->Color()));
  const TCreateParams& params = control->params_;
  QRect inner = widget->rect();
  if (params.Style & WS_BORDER) {
    painter.setPen(ToQColor(clWindowFrame));
    painter.drawRect(inner.adjusted(0, 0, -1, -1));
    inner.adjust(1, 1, -1, -1);
  }
  if (params.ExStyle & WS_EX_CLIENTEDGE) {
    painter.setPen(ToQColor(clBtnShadow));
    painter.drawLine(inner.topLeft(), inner.topRight());
    painter.drawLine(inner.topLeft(), inner.bottomLeft());
    painter.setPen(ToQColor(clBtnHighlight));
    painter.drawLine(inner.bottomLeft(), inner.bottomRight());
    painter.drawLine(inner.topRight(), inner.bottomRight());
    inner.adjust(2, 2, -2, -2);
  }
  painter.translate(inner.topLeft());
  painter.setClipRect(QRect(QPoint(0, 0), inner.size()));
  TCanvas& canvas = control->Canvas();
  canvas.Font().Assign(&control->Font());
  canvas.Brush().SetColor(control->Color());
  canvas.Brush().SetStyle(bsSolid);
  BeginControlPaint(canvas, &painter);
  try {
    control->Paint();
  } catch (...) {
    EndControlPaint(canvas);
    throw;
  }
  EndControlPaint(canvas);
}

void TControlImpl::Paint(TGraphicControl* control) {
  // Drawn over the parent: nothing is filled first.
  QPainter painter(WidgetOf(control));
  TCanvas& canvas = control->Canvas();
  canvas.Font().Assign(&control->Font());
  canvas.Brush().SetColor(control->Color());
  canvas.Brush().SetStyle(bsSolid);
  BeginControlPaint(canvas, &painter);
  try {
    control->Paint();
  } catch (...) {
    EndControlPaint(canvas);
    throw;
  }
  EndControlPaint(canvas);
}

void AttachWidget(TControl* control, QWidget* widget) {
  TControlImpl* impl = control->Impl();
  impl->widget = widget;
  auto* bridge = new EventBridge(impl);
  bridge->setParent(widget);
  impl->bridge = bridge;
  widget->installEventFilter(bridge);
  widget->setProperty("mirvelControl", QVariant::fromValue(static_cast<void*>(control)));
  widget->setAttribute(Qt::WA_DeleteOnClose, false);
  // Moves reach a control also without a button held, as the mouse passes (hover hints of the
  // grids and the navigator need them).
  widget->setMouseTracking(true);
  TControlImpl::ApplyLook(control);
}

void DetachEvents(TControl* control) {
  TControlImpl* impl = control->Impl();
  if (impl->bridge != nullptr) static_cast<EventBridge*>(impl->bridge)->Detach();
  impl->extra_events = nullptr;
}

QWidget* WidgetOf(const TControl* control) {
  return control && control->Impl() ? control->Impl()->widget : nullptr;
}

TControl* ControlOfWidget(const QWidget* widget) {
  if (widget == nullptr) return nullptr;
  return static_cast<TControl*>(widget->property("mirvelControl").value<void*>());
}

bool InsideDispatch() { return g_dispatch_depth > 0; }

void SetCaptureControl(TControl* control) { g_capture = control; }

TControl* GetCaptureControl() { return g_capture; }

TWinControl* FindControl(HWND wnd) {
  auto it = HandleOwners().find(wnd);
  return it == HandleOwners().end() ? nullptr : it->second;
}

void SetKeyHooks(TKeyHook before, TKeyHook after) {
  g_key_before = before;
  g_key_after = after;
}

void RegisterHandle(HWND wnd, TWinControl* control) {
  if (control != nullptr) {
    HandleOwners()[wnd] = control;
  } else {
    HandleOwners().erase(wnd);
  }
}

}  // namespace cl
