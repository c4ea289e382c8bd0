#include "classlib/forms/Screen.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QScreen>
#include <QStyle>
#include <QVariant>
#include <QWidget>
#include <map>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/GraphicsImpl.h"

namespace cl {
namespace {

std::map<TCursor, QCursor>& RegisteredCursors() {
  static std::map<TCursor, QCursor> cursors;
  return cursors;
}

bool g_override_active = false;

class QtScreenBackend : public TScreenBackend {
 public:
  void SetCursor(TCursor cursor) override {
    if (QGuiApplication::instance() == nullptr) return;
    if (cursor == crDefault) {
      if (g_override_active) QGuiApplication::restoreOverrideCursor();
      g_override_active = false;
      return;
    }
    if (g_override_active) {
      QGuiApplication::changeOverrideCursor(ToQCursor(cursor));
    } else {
      QGuiApplication::setOverrideCursor(ToQCursor(cursor));
      g_override_active = true;
    }
  }
  int Width() override {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : 640;
  }
  int Height() override {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().height() : 480;
  }
  int PixelsPerInch() override {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(screen->logicalDotsPerInch() + 0.5) : 96;
  }
  TForm* ActiveForm() override {
    return dynamic_cast<TForm*>(ControlOfWidget(QApplication::activeWindow()));
  }
  bool ApplicationActive() override { return QApplication::activeWindow() != nullptr; }
};

TForm* FormOfHandle(HWND wnd) { return dynamic_cast<TForm*>(FindControl(wnd)); }

}  // namespace

QCursor ToQCursor(TCursor cursor) {
  auto it = RegisteredCursors().find(cursor);
  if (it != RegisteredCursors().end()) return it->second;
  switch (cursor) {
    case crNone:
      return Qt::BlankCursor;
    case crCross:
      return Qt::CrossCursor;
    case crIBeam:
      return Qt::IBeamCursor;
    case crSizeNESW:
      return Qt::SizeBDiagCursor;
    case crSizeNS:
      return Qt::SizeVerCursor;
    case crSizeNWSE:
      return Qt::SizeFDiagCursor;
    case crSizeWE:
      return Qt::SizeHorCursor;
    case crUpArrow:
      return Qt::UpArrowCursor;
    case crHourGlass:
    case crSQLWait:
      return Qt::WaitCursor;
    case crDrag:
      return Qt::DragMoveCursor;
    case crMultiDrag:
      return Qt::DragCopyCursor;
    case crNoDrop:
    case crNo:
      return Qt::ForbiddenCursor;
    case crHSplit:
      return Qt::SplitHCursor;
    case crVSplit:
      return Qt::SplitVCursor;
    case crAppStart:
      return Qt::BusyCursor;
    case crHelp:
      return Qt::WhatsThisCursor;
    case crHandPoint:
      return Qt::PointingHandCursor;
    default:
      return Qt::ArrowCursor;
  }
}

void RegisterCursor(TCursor id, const TBitmap& image, int hot_x, int hot_y) {
  TBitmap copy;
  copy.Assign(&image);
  if (image.Monochrome()) copy.SetTransparentColor(clWhite);
  copy.SetTransparent(true);
  TBitmap drawn;
  drawn.SetSize(image.Width(), image.Height());
  QImage& pixels = BitmapImage(drawn);
  pixels.fill(Qt::transparent);
  drawn.Canvas().Draw(0, 0, copy);
  RegisteredCursors()[id] = QCursor(QPixmap::fromImage(pixels), hot_x, hot_y);
}

void RegisterCursorResource(TCursor id, const std::string& resource, int hot_x, int hot_y) {
  TBitmap image;
  image.LoadFromResourceName(resource);
  RegisterCursor(id, image, hot_x, hot_y);
}

bool CursorRegistered(TCursor id) { return RegisteredCursors().count(id) > 0; }

bool OverrideCursorActive() { return g_override_active; }

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
      return Screen().Width();
    case SM_CYSCREEN:
      return Screen().Height();
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return QApplication::instance()
                 ? QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent)
                 : 16;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return 3;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return 4;
    default:
      return 0;
  }
}

namespace {

// The window system alone places minimised and maximised windows, so these positions are only
// kept: a placement saved after a restore holds what it was given, (-1, -1) meaning "the
// system's choice" until then.
constexpr const char* kMinPositionKey = "mirvelMinPosition";
constexpr const char* kMaxPositionKey = "mirvelMaxPosition";

TPoint StoredPosition(const QWidget* widget, const char* key) {
  const QVariant value = widget->property(key);
  if (!value.isValid()) return {-1, -1};
  const QPoint p = value.toPoint();
  return {p.x(), p.y()};
}

}  // namespace

bool GetWindowPlacement(HWND wnd, TWindowPlacement* placement) {
  TForm* form = FormOfHandle(wnd);
  if (form == nullptr || placement == nullptr) return false;
  QWidget* widget = WidgetOf(form);
  const QRect normal = widget->isMinimized() || widget->isMaximized() ? widget->normalGeometry()
                                                                      : widget->geometry();
  placement->flags = 0;
  placement->showCmd = !form->Visible()                     ? SW_HIDE
                       : form->WindowState() == wsMinimized ? SW_SHOWMINIMIZED
                       : form->WindowState() == wsMaximized ? SW_SHOWMAXIMIZED
                                                            : SW_SHOWNORMAL;
  placement->ptMinPosition = StoredPosition(widget, kMinPositionKey);
  placement->ptMaxPosition = StoredPosition(widget, kMaxPositionKey);
  placement->rcNormalPosition = Bounds(normal.x(), normal.y(), normal.width(), normal.height());
  return true;
}

bool SetWindowPlacement(HWND wnd, const TWindowPlacement* placement) {
  TForm* form = FormOfHandle(wnd);
  if (form == nullptr || placement == nullptr) return false;
  const TRect& r = placement->rcNormalPosition;
  QWidget* widget = WidgetOf(form);
  widget->setProperty(kMinPositionKey,
                      QPoint(placement->ptMinPosition.X, placement->ptMinPosition.Y));
  widget->setProperty(kMaxPositionKey,
                      QPoint(placement->ptMaxPosition.X, placement->ptMaxPosition.Y));
  form->SetWindowState(wsNormal);
  form->SetBounds(r.Left, r.Top, r.Width(), r.Height());
  switch (placement->showCmd) {
    case SW_HIDE:
      form->Hide();
      break;
    case SW_SHOWMINIMIZED:
    case 6:
    case 7:
      form->SetWindowState(wsMinimized);
      break;
    case SW_SHOWMAXIMIZED:
      form->SetWindowState(wsMaximized);
      break;
    default:
      break;
  }
  return true;
}

void InstallScreenBackend() {
  static QtScreenBackend* backend = new QtScreenBackend;
  SetScreenBackend(backend);
}

}  // namespace cl
