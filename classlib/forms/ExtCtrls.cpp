#include "classlib/forms/ExtCtrls.h"

#include <QPainter>
#include <QWidget>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/QtText.h"

namespace cl {
namespace {

void DrawBevel(QPainter& painter, QRect& rect, TPanelBevel bevel, int width) {
  if (bevel == bvNone) return;
  const QPalette& palette = static_cast<QWidget*>(painter.device())->palette();
  const QColor light = palette.color(QPalette::Light);
  const QColor dark = palette.color(QPalette::Dark);
  const QColor top_left = bevel == bvRaised ? light : dark;
  const QColor bottom_right = bevel == bvRaised ? dark : light;
  for (int i = 0; i < width; ++i) {
    painter.setPen(top_left);
    painter.drawLine(rect.left(), rect.top(), rect.right(), rect.top());
    painter.drawLine(rect.left(), rect.top(), rect.left(), rect.bottom());
    painter.setPen(bottom_right);
    painter.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    painter.drawLine(rect.right(), rect.top(), rect.right(), rect.bottom());
    rect.adjust(1, 1, -1, -1);
  }
}

}  // namespace

TPanel::TPanel(TComponent* owner) : TCustomControl(owner) {
  WidgetOf(this)->setAutoFillBackground(true);
  SetBounds(0, 0, 185, 41);
}

void TPanel::SetBevelInner(TPanelBevel bevel) {
  bevel_inner_ = bevel;
  Invalidate();
}

void TPanel::SetBevelOuter(TPanelBevel bevel) {
  bevel_outer_ = bevel;
  Invalidate();
}

void TPanel::SetBevelWidth(int width) {
  bevel_width_ = width;
  Invalidate();
}

void TPanel::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  Invalidate();
}

void TPanel::Paint() {
  QWidget* widget = WidgetOf(this);
  QPainter painter(widget);
  QRect rect = widget->rect();
  DrawBevel(painter, rect, bevel_outer_, bevel_width_);
  DrawBevel(painter, rect, bevel_inner_, bevel_width_);
  if (Caption().empty()) return;
  painter.setPen(widget->palette().color(QPalette::WindowText));
  const Qt::Alignment horizontal = alignment_ == taCenter         ? Qt::AlignHCenter
                                   : alignment_ == taRightJustify ? Qt::AlignRight
                                                                  : Qt::AlignLeft;
  painter.drawText(rect, static_cast<int>(horizontal | Qt::AlignVCenter), ToQString(Caption()));
}

}  // namespace cl
