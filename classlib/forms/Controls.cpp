#include "classlib/forms/Controls.h"

#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QGuiApplication>
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

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/GraphicsImpl.h"
#include "classlib/forms/Menus.h"
#include "classlib/forms/QtText.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/EventLoop.h"

namespace cl {
namespace {

void ArrangeChildren(TWinControl* parent) {
  TRect free = parent->ClientRect();
  auto place = [](TControl* c, const TRect& r) {
    if (c->BoundsRect() != r) c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
  };
  for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (int i = 0; i < parent->ControlCount(); ++i) {
      TControl* c = parent->Controls(i);
      if (c->Align() != pass || !c->Visible()) continue;
      const int w = c->Width();
      const int h = c->Height();
      switch (pass) {
        case alTop:
          place(c, Rect(free.Left, free.Top, free.Right, free.Top + h));
          free.Top += h;
          break;
        case alBottom:
          place(c, Rect(free.Left, free.Bottom - h, free.Right, free.Bottom));
          free.Bottom -= h;
          break;
        case alLeft:
          place(c, Rect(free.Left, free.Top, free.Left + w, free.Bottom));
          free.Left += w;
          break;
        case alRight:
          place(c, Rect(free.Right - w, free.Top, free.Right, free.Bottom));
          free.Right -= w;
          break;
        default:
          place(c, Rect(free.Left, free.Top, std::max(free.Left, free.Right),
                        std::max(free.Top, free.Bottom)));
          break;
      }
    }
  }
}

}  // namespace

// ---- TControl ---------------------------------------------------------------------------------

TControl::TControl(TComponent* owner) : TComponent(owner), impl_(new TControlImpl) {
  impl_->control = this;
  window_proc_ = [this](TMessage& message) { WndProc(message); };
  font_.SetOnChange([this](TObject*) {
    if (!following_parent_) parent_font_ = false;
    FontChanged();
  });
}

void TControl::SetColor(TColor color) {
  parent_color_ = following_parent_ && parent_color_;
  if (color == color_) return;
  color_ = color;
  ColorChanged();
}

void TControl::SetParentColor(bool parent_color) {
  parent_color_ = parent_color;
  if (parent_color) FollowParent();
}

void TControl::SetParentFont(bool parent_font) {
  parent_font_ = parent_font;
  if (parent_font) FollowParent();
}

void TControl::FollowParent() {
  if (parent_ == nullptr) return;
  following_parent_ = true;
  if (parent_color_) SetColor(parent_->Color());
  if (parent_font_) font_.Assign(&parent_->Font());
  following_parent_ = false;
}

void TControl::ColorChanged() {
  if (QWidget* widget = impl_->widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, ToQColor(color_));
    palette.setColor(QPalette::Button, ToQColor(color_));
    widget->setPalette(palette);
  }
  if (auto* win = dynamic_cast<TWinControl*>(this)) {
    for (int i = 0; i < win->ControlCount(); ++i) {
      if (win->Controls(i)->ParentColor()) win->Controls(i)->FollowParent();
    }
  }
  Perform(CM_COLORCHANGED, 0, 0);
}

void TControl::FontChanged() {
  if (QWidget* widget = impl_->widget) {
    widget->setFont(ToQFont(font_));
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, ToQColor(font_.Color()));
    palette.setColor(QPalette::ButtonText, ToQColor(font_.Color()));
    palette.setColor(QPalette::Text, ToQColor(font_.Color()));
    widget->setPalette(palette);
  }
  if (auto* win = dynamic_cast<TWinControl*>(this)) {
    for (int i = 0; i < win->ControlCount(); ++i) {
      if (win->Controls(i)->ParentFont()) win->Controls(i)->FollowParent();
    }
  }
  Perform(CM_FONTCHANGED, 0, 0);
}

TControl::~TControl() {
  if (GetCaptureControl() == this) SetCaptureControl(nullptr);
  if (parent_ != nullptr) parent_->RemoveControl(this);
  QWidget* widget = impl_->widget;
  if (widget == nullptr) return;
  DetachEvents(this);
  widget->setProperty("mirvelControl", QVariant());
  widget->hide();
  if (InsideDispatch()) {
    widget->setParent(nullptr);
    widget->deleteLater();
  } else {
    delete widget;
  }
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) parent_->RemoveControl(this);
  parent_ = parent;
  if (QWidget* widget = impl_->widget) {
    widget->setParent(parent ? WidgetOf(parent) : nullptr);
    widget->setGeometry(bounds_.Left, bounds_.Top, bounds_.Width(), bounds_.Height());
    widget->setVisible(visible_ && parent != nullptr);
  }
  if (parent_ != nullptr) {
    parent_->InsertControl(this);
    FollowParent();
  }
}

void TControl::SetBounds(int left, int top, int width, int height) {
  const TRect bounds = Bounds(left, top, std::max(width, 0), std::max(height, 0));
  if (bounds == bounds_) return;
  const bool resized = bounds.Width() != bounds_.Width() || bounds.Height() != bounds_.Height();
  bounds_ = bounds;
  if (QWidget* widget = impl_->widget) {
    widget->setGeometry(bounds_.Left, bounds_.Top, bounds_.Width(), bounds_.Height());
  }
  if (resized) {
    if (auto* win = dynamic_cast<TWinControl*>(this)) {
      win->Realign();
    } else {
      Resize();
    }
  }
  if (parent_ != nullptr && align_ != alNone) parent_->Realign();
}

TRect TControl::ClientRect() const { return Rect(0, 0, Width(), Height()); }

TPoint TControl::ClientToScreen(TPoint point) const {
  if (QWidget* widget = impl_->widget) {
    const QPoint p = widget->mapToGlobal(QPoint(point.X, point.Y));
    return {p.x(), p.y()};
  }
  return point;
}

TPoint TControl::ScreenToClient(TPoint point) const {
  if (QWidget* widget = impl_->widget) {
    const QPoint p = widget->mapFromGlobal(QPoint(point.X, point.Y));
    return {p.x(), p.y()};
  }
  return point;
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_ != nullptr) parent_->Realign();
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (QWidget* widget = impl_->widget) {
    if (parent_ != nullptr) widget->setVisible(visible);
  }
  Perform(CM_VISIBLECHANGED, visible, 0);
  if (parent_ != nullptr && align_ != alNone) parent_->Realign();
}

bool TControl::Showing() const {
  for (const TControl* c = this; c != nullptr; c = c->parent_) {
    if (!c->visible_) return false;
    if (c->parent_ == nullptr) return WidgetOf(c) != nullptr && WidgetOf(c)->isVisible();
  }
  return false;
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (QWidget* widget = impl_->widget) {
    // A control disabled while it has the focus leaves it to none, as the desktop does; the
    // toolkit would hand it to the next control, whose enter and exit handlers would then run
    // for a focus the user never gave (a bar button disabling itself in its own click).
    QWidget* focus = widget->window()->focusWidget();
    if (!enabled && !widget->isWindow() && focus != nullptr &&
        (focus == widget || widget->isAncestorOf(focus))) {
      focus->clearFocus();
    }
    widget->setEnabled(enabled);
  }
  Perform(CM_ENABLEDCHANGED, 0, 0);
}

void TControl::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  TextChanged();
  Perform(CM_TEXTCHANGED, 0, 0);
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
  if (popup_menu_ != nullptr) popup_menu_->RemoveFreeNotification(this);
  popup_menu_ = menu;
  if (menu != nullptr) menu->FreeNotification(this);
}

void TControl::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == popup_menu_) popup_menu_ = nullptr;
}

bool TControl::MouseCapture() const { return GetCaptureControl() == this; }

void TControl::SetMouseCapture(bool capture) {
  QWidget* widget = impl_->widget;
  if (capture) {
    SetCaptureControl(this);
    if (widget != nullptr && widget->isVisible()) widget->grabMouse();
  } else {
    if (MouseCapture()) SetCaptureControl(nullptr);
    // The release that ends a press clears the capture before the control hears of it, so the
    // toolkit's grab is given back whoever holds the capture now: a grab left behind would
    // take every later click of the program, a modal window's included.
    if (widget != nullptr && QWidget::mouseGrabber() == widget) widget->releaseMouse();
  }
}

void CancelMode() {
  if (TControl* capture = GetCaptureControl()) capture->Perform(WM_CANCELMODE, 0, 0);
}

void TControl::SetAcceptFiles(bool accept) {
  if (QWidget* widget = impl_->widget) widget->setAcceptDrops(accept);
}

void TControl::SetCursor(TCursor cursor) {
  cursor_ = cursor;
  if (QWidget* widget = impl_->widget) {
    if (cursor == crDefault) {
      widget->unsetCursor();
    } else {
      widget->setCursor(ToQCursor(cursor));
    }
  }
}

void TControl::SetHint(const std::string& hint) {
  hint_ = hint;
  UpdateToolTip();
}

void TControl::UpdateToolTip() {
  if (QWidget* widget = impl_->widget) {
    // Controls show the short part of "short|long".
    const std::string short_hint = hint_.substr(0, hint_.find('|'));
    widget->setToolTip(show_hint_ ? ToQString(short_hint) : QString());
  }
}

void TControl::SetParentShowHint(bool follow) {
  parent_show_hint_ = follow;
  if (follow && parent_ != nullptr) {
    SetShowHint(parent_->ShowHint());
    parent_show_hint_ = true;
  }
}

void TControl::SetShowHint(bool show) {
  parent_show_hint_ = following_parent_ && parent_show_hint_;
  show_hint_ = show;
  UpdateToolTip();
  if (auto* win = dynamic_cast<TWinControl*>(this)) {
    for (int i = 0; i < win->ControlCount(); ++i) {
      TControl* child = win->Controls(i);
      if (child->parent_show_hint_) {
        child->following_parent_ = true;
        child->SetShowHint(show);
        child->following_parent_ = false;
      }
    }
  }
}

void TControl::SetWindowProc(TWndMethod method, const void* owner) {
  if (!method) {
    window_proc_ = [this](TMessage& message) { WndProc(message); };
    window_proc_owner_ = nullptr;
    return;
  }
  window_proc_ = std::move(method);
  window_proc_owner_ = owner;
}

LRESULT TControl::Perform(uint32_t msg, WPARAM w_param, LPARAM l_param) {
  TMessage message{msg, w_param, l_param, 0};
  TWndMethod head = window_proc_;  // a handler may change the chain
  head(message);
  return message.Result;
}

void TControl::Invalidate() {
  if (QWidget* widget = impl_->widget) widget->update();
}

void TControl::Repaint() {
  if (QWidget* widget = impl_->widget) widget->repaint();
}

void TControl::BringToFront() {
  if (QWidget* widget = impl_->widget) widget->raise();
}

void TControl::SetClicksOnMouseUp(bool value) { impl_->native_click = value; }

void TControl::Click() {
  if (on_click_) {
    TNotifyEvent handler = on_click_;
    handler(this);
  }
}

void TControl::WndProc(TMessage& message) { Dispatch(message); }

void TControl::DefaultHandler(TMessage& message) {
  impl_->reached_default = true;
  const TShiftState shift = TShiftState::FromBits(static_cast<uint32_t>(message.WParam));
  const TPoint p = MousePoint(message);
  switch (message.Msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      MouseDown(message.Msg == WM_LBUTTONDOWN   ? mbLeft
                : message.Msg == WM_RBUTTONDOWN ? mbRight
                                                : mbMiddle,
                shift, p.X, p.Y);
      break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      MouseUp(message.Msg == WM_LBUTTONUP   ? mbLeft
              : message.Msg == WM_RBUTTONUP ? mbRight
                                            : mbMiddle,
              shift, p.X, p.Y);
      if (message.Msg == WM_RBUTTONUP && popup_menu_ != nullptr && popup_menu_->AutoPopup()) {
        popup_menu_->SetPopupComponent(this);
        const TPoint at = ClientToScreen(p);
        popup_menu_->Popup(at.X, at.Y);
      }
      break;
    case WM_LBUTTONDBLCLK:
      DblClick();
      MouseDown(mbLeft, TShiftState(shift).Include(ssDouble), p.X, p.Y);
      break;
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
      MouseDown(message.Msg == WM_RBUTTONDBLCLK ? mbRight : mbMiddle,
                TShiftState(shift).Include(ssDouble), p.X, p.Y);
      break;
    case WM_MOUSEMOVE:
      MouseMove(shift, p.X, p.Y);
      break;
    case WM_CANCELMODE:
      SetMouseCapture(false);
      break;
    default:
      message.Result = 0;
      break;
  }
}

void TControl::DblClick() {
  if (on_dbl_click_) {
    TNotifyEvent handler = on_dbl_click_;
    handler(this);
  }
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (on_mouse_down_) {
    TMouseEvent handler = on_mouse_down_;
    handler(this, button, shift, x, y);
  }
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (on_mouse_up_) {
    TMouseEvent handler = on_mouse_up_;
    handler(this, button, shift, x, y);
  }
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (on_mouse_move_) {
    TMouseMoveEvent handler = on_mouse_move_;
    handler(this, shift, x, y);
  }
}

void TControl::Resize() {
  if (on_resize_) {
    TNotifyEvent handler = on_resize_;
    handler(this);
  }
}

// ---- TWinControl ------------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  DetachEvents(this);
  // Children are not ours: they leave, and their widgets leave ours before it goes.
  for (TControl* child : std::vector<TControl*>(controls_)) {
    child->ParentGone();
    if (QWidget* widget = WidgetOf(child)) {
      widget->hide();
      widget->setParent(nullptr);
    }
  }
  controls_.clear();
  if (handle_ != 0) {
    TMessage destroy{WM_DESTROY, 0, 0, 0};
    CallGuarded(this, [&] { WindowProc()(destroy); });
    RegisterHandle(handle_, nullptr);
    DeallocateHWnd(handle_);
  }
}

void TWinControl::InsertControl(TControl* control) {
  controls_.push_back(control);
  if (control->Align() != alNone) Realign();
}

void TWinControl::RemoveControl(TControl* control) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
  if (control->Align() != alNone && !ComponentState().Contains(csDestroying)) Realign();
}

HWND TWinControl::Handle() {
  if (handle_ == 0) {
    // Messages through the handle come from the loop or from another control: a failure is
    // this control's to report, as with every toolkit dispatch.
    handle_ = AllocateHWnd([this](TMessage& message) {
      TWndMethod head = WindowProc();
      CallGuarded(this, [&] { head(message); });
    });
    RegisterHandle(handle_, this);
  }
  return handle_;
}

void TWinControl::RecreateWnd() {
  if (handle_ == 0) return;
  Perform(WM_DESTROY, 0, 0);
  RegisterHandle(handle_, nullptr);
  DeallocateHWnd(handle_);
  handle_ = 0;
  Handle();
}

void TWinControl::Broadcast(TMessage& message) {
  for (TControl* child : std::vector<TControl*>(controls_)) {
    TWndMethod head = child->WindowProc();
    head(message);
    if (message.Result != 0) return;
  }
}

void TWinControl::SetTabOrder(int order) {
  tab_order_ = order;
  if (TWinControl* parent = Parent()) parent->UpdateTabOrder();
}

void TWinControl::SetTabStop(bool tab_stop) {
  tab_stop_ = tab_stop;
  UpdateFocusPolicy();
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  TControl::SetBounds(left, top, width, height);
  UpdateFocusPolicy();
}

void TWinControl::UpdateFocusPolicy() {
  QWidget* widget = WidgetOf(this);
  if (widget == nullptr) return;
  // A control parked outside its parent (moved to a negative position to put it aside) is no
  // stop for Tab, though it stays visible and enabled.
  const bool parked = Left() + Width() <= 0 || Top() + Height() <= 0;
  if (tab_stop_ && !parked) {
    widget->setFocusPolicy(Qt::StrongFocus);
  } else if (widget->focusPolicy() == Qt::StrongFocus) {
    widget->setFocusPolicy(Qt::ClickFocus);
  }
}

void TWinControl::UpdateTabOrder() {
  std::vector<TWinControl*> children;
  for (TControl* c : controls_) {
    if (auto* win = dynamic_cast<TWinControl*>(c)) children.push_back(win);
  }
  // Controls without an order of their own keep their creation order after the ordered ones.
  std::stable_sort(children.begin(), children.end(), [](TWinControl* a, TWinControl* b) {
    const int ka = a->tab_order_ < 0 ? 1 << 30 : a->tab_order_;
    const int kb = b->tab_order_ < 0 ? 1 << 30 : b->tab_order_;
    return ka < kb;
  });
  for (size_t i = 1; i < children.size(); ++i) {
    QWidget* first = WidgetOf(children[i - 1]);
    QWidget* second = WidgetOf(children[i]);
    if (first != nullptr && second != nullptr) QWidget::setTabOrder(first, second);
  }
  for (TWinControl* child : children) child->UpdateTabOrder();
}

bool TWinControl::Focused() const {
  QWidget* widget = WidgetOf(this);
  return widget != nullptr && widget->hasFocus();
}

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c != nullptr; c = c->Parent()) {
    if (!c->Visible() || !c->Enabled()) return false;
  }
  return true;
}

void TWinControl::SetFocus() {
  if (QWidget* widget = WidgetOf(this)) widget->setFocus(Qt::OtherFocusReason);
}

void TWinControl::Realign() {
  ArrangeChildren(this);
  Resize();
}

void TWinControl::DefaultHandler(TMessage& message) {
  switch (message.Msg) {
    case WM_KEYDOWN:
    case WM_KEYUP: {
      impl_->reached_default = true;
      uint16_t key = static_cast<uint16_t>(message.WParam);
      const TShiftState shift = TShiftState::FromBits(static_cast<uint32_t>(message.LParam));
      if (message.Msg == WM_KEYDOWN) {
        KeyDown(key, shift);
      } else {
        KeyUp(key, shift);
      }
      message.WParam = key;
      break;
    }
    case WM_CHAR: {
      impl_->reached_default = true;
      char key = static_cast<char>(message.WParam);
      KeyPress(key);
      message.WParam = static_cast<unsigned char>(key);
      break;
    }
    case CM_ENTER:
      impl_->reached_default = true;
      DoEnter();
      break;
    case CM_DIALOGKEY:
    case CM_DIALOGCHAR:
      Broadcast(message);
      break;
    case CM_EXIT:
      impl_->reached_default = true;
      // A failing OnExit keeps the focus here: it is given back once the move is over.
      if (!CallGuarded(this, [this] { DoExit(); })) {
        if (TEventLoop* loop = CurrentEventLoop()) {
          QPointer<QWidget> widget(WidgetOf(this));
          loop->Post([widget] {
            if (!widget.isNull()) widget->setFocus(Qt::OtherFocusReason);
          });
        }
      }
      break;
    default:
      TControl::DefaultHandler(message);
      break;
  }
}

void TWinControl::KeyDown(uint16_t& key, TShiftState shift) {
  if (on_key_down_) {
    TKeyEvent handler = on_key_down_;
    handler(this, key, shift);
  }
}

void TWinControl::KeyUp(uint16_t& key, TShiftState shift) {
  if (on_key_up_) {
    TKeyEvent handler = on_key_up_;
    handler(this, key, shift);
  }
}

void TWinControl::KeyPress(char& key) {
  if (on_key_press_) {
    TKeyPressEvent handler = on_key_press_;
    handler(this, key);
  }
}

void TWinControl::DoEnter() {
  if (on_enter_) {
    TNotifyEvent handler = on_enter_;
    handler(this);
  }
}

void TWinControl::DoExit() {
  if (on_exit_) {
    TNotifyEvent handler = on_exit_;
    handler(this);
  }
}

TCustomControl::TCustomControl(TComponent* owner)
    : TWinControl(owner), canvas_(std::make_unique<TCanvas>()) {
  AttachWidget(this, new QWidget);
}

TCustomControl::~TCustomControl() { DetachEvents(this); }

TGraphicControl::TGraphicControl(TComponent* owner)
    : TControl(owner), canvas_(std::make_unique<TCanvas>()) {
  auto* widget = new QWidget;
  widget->setFocusPolicy(Qt::NoFocus);
  AttachWidget(this, widget);
}

TGraphicControl::~TGraphicControl() { DetachEvents(this); }

TPoint GetCursorPos() {
  const QPoint p = QCursor::pos();
  return {p.x(), p.y()};
}

TShiftState GetShiftState() {
  TShiftState shift;
  const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
  const Qt::MouseButtons buttons = QGuiApplication::mouseButtons();
  if (keys & Qt::ShiftModifier) shift.Include(ssShift);
  if (keys & Qt::AltModifier) shift.Include(ssAlt);
  if (keys & Qt::ControlModifier) shift.Include(ssCtrl);
  if (buttons & Qt::LeftButton) shift.Include(ssLeft);
  if (buttons & Qt::RightButton) shift.Include(ssRight);
  if (buttons & Qt::MiddleButton) shift.Include(ssMiddle);
  return shift;
}

TControl* FindControlAt(TPoint screen_point) {
  for (QWidget* w = QApplication::widgetAt(screen_point.X, screen_point.Y); w != nullptr;
       w = w->parentWidget()) {
    if (TControl* control = ControlOfWidget(w)) return control;
  }
  return nullptr;
}

void TCustomControl::CreateParams(TCreateParams&) {}

void TCustomControl::EnsureCreated() {
  if (created_) return;
  created_ = true;
  CreateParams(params_);
  QWidget* widget = WidgetOf(this);
  if (params_.Style & WS_POPUP) {
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint;
    if (params_.NoActivate) flags |= Qt::WindowDoesNotAcceptFocus;
    widget->setParent(nullptr, flags);
    if (params_.NoActivate) {
      widget->setAttribute(Qt::WA_ShowWithoutActivating);
      widget->setFocusPolicy(Qt::NoFocus);
    }
    widget->setGeometry(Left(), Top(), Width(), Height());
  }
}

void TCustomControl::SetVisible(bool visible) {
  if (visible) EnsureCreated();
  TWinControl::SetVisible(visible);
  // A pop-up has no parent widget to show it along.
  if (params_.Style & WS_POPUP) WidgetOf(this)->setVisible(visible);
}

TRect TCustomControl::ClientRect() const {
  const int edge =
      ((params_.Style & WS_BORDER) ? 1 : 0) + ((params_.ExStyle & WS_EX_CLIENTEDGE) ? 2 : 0);
  return Rect(0, 0, std::max(Width() - 2 * edge, 0), std::max(Height() - 2 * edge, 0));
}

}  // namespace cl
