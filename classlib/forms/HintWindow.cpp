#include "classlib/forms/HintWindow.h"

#include <QWidget>

#include "classlib/forms/ControlImpl.h"

namespace cl {

THintWindow::THintWindow(TComponent* owner) : TCustomControl(owner) {
  QWidget* widget = WidgetOf(this);
  // Transparent for input where the window system allows it: a hint shown over the control it
  // explains should not take the mouse from it.  Where the mouse still lands on the hint, its
  // messages reach the hint window as any control's (a descendant may pass them on).
  widget->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                         Qt::WindowTransparentForInput);
  widget->setAttribute(Qt::WA_ShowWithoutActivating);
  widget->setFocusPolicy(Qt::NoFocus);
  SetColor(clInfoBk);
  Font().SetColor(clInfoText);
}

void THintWindow::ActivateHint(const TRect& rect, const std::string& text) {
  SetCaption(text);
  SetBounds(rect.Left, rect.Top, rect.Width(), rect.Height());
  QWidget* widget = WidgetOf(this);
  widget->setGeometry(rect.Left, rect.Top, rect.Width(), rect.Height());
  widget->show();
  widget->raise();
  widget->update();
}

void THintWindow::ReleaseHandle() { WidgetOf(this)->hide(); }

bool THintWindow::Showing() const { return WidgetOf(this)->isVisible(); }

TRect THintWindow::CalcHintRect(int max_width, const std::string& text) {
  TRect rect = Rect(0, 0, max_width, 0);
  Canvas().Font().Assign(&Font());
  Canvas().DrawText(text, rect, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
  // Room for the border and a margin on each side.
  rect.Right += 6;
  rect.Bottom += 2;
  return rect;
}

void THintWindow::Paint() {
  TCanvas& canvas = Canvas();
  canvas.Brush().SetColor(clInfoText);
  canvas.FrameRect(ClientRect());
  TRect text = Rect(3, 1, Width() - 3, Height() - 1);
  canvas.Brush().SetStyle(bsClear);
  canvas.DrawText(Caption(), text, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

}  // namespace cl
