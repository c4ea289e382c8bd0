#include "classlib/forms/Buttons.h"

#include <QEvent>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/GraphicsImpl.h"
#include "classlib/forms/QtText.h"

namespace cl {
namespace {

QPixmap GlyphPart(const TBitmap& glyph, int index, int count) {
  const int width = glyph.Width() / count;
  TBitmap part;
  BitmapImage(part) = BitmapImage(glyph).copy(index * width, 0, width, glyph.Height());
  part.SetTransparent(true);
  TBitmap shown;
  shown.SetSize(width, glyph.Height());
  BitmapImage(shown).fill(Qt::transparent);
  shown.Canvas().Draw(0, 0, part);
  return QPixmap::fromImage(BitmapImage(shown));
}

// The caption as shown: a single "&" marks the accelerator and is not drawn.
QString ShownText(const QString& caption) {
  QString shown;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      ++i;
      if (i >= caption.size()) break;
    }
    shown += caption[i];
  }
  return shown;
}

}  // namespace

TButtonPlacement CalcButtonLayout(const TRect& client, TPoint glyph_size, TPoint text_size,
                                  TButtonLayout layout, int margin, int spacing) {
  const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
  const int room = horizontal ? client.Width() : client.Height();
  const int glyph = horizontal ? glyph_size.X : glyph_size.Y;
  const int text = horizontal ? text_size.X : text_size.Y;
  if (glyph == 0 || text == 0) spacing = 0;
  if (margin == -1) {
    if (spacing == -1) {
      spacing = std::max((room - glyph - text) / 3, 0);
      margin = spacing;
    } else {
      margin = std::max((room - glyph - text - spacing) / 2, 0);
    }
  } else if (spacing == -1) {
    spacing = std::max((room - margin - glyph - text) / 2, 0);
  }
  int glyph_at = margin;
  int text_at = margin + glyph + spacing;
  if (layout == blGlyphRight || layout == blGlyphBottom) {
    glyph_at = room - margin - glyph;
    text_at = glyph_at - spacing - text;
  }
  TButtonPlacement placement;
  if (horizontal) {
    placement.glyph = {client.Left + glyph_at, client.Top + (client.Height() - glyph_size.Y) / 2};
    placement.text = {client.Left + text_at, client.Top + (client.Height() - text_size.Y) / 2};
  } else {
    placement.glyph = {client.Left + (client.Width() - glyph_size.X) / 2, client.Top + glyph_at};
    placement.text = {client.Left + (client.Width() - text_size.X) / 2, client.Top + text_at};
  }
  return placement;
}

TBitBtn::TBitBtn(TComponent* owner) : TButton(owner) {
  glyph_.SetOnChange([this](TObject*) { GlyphChanged(); });
  impl_->extra_events = [this](QEvent* event) {
    if (event->type() != QEvent::Paint) return false;
    PaintButton();
    return true;
  };
}

TBitBtn::~TBitBtn() { DetachEvents(this); }

void TBitBtn::SetLayout(TButtonLayout layout) {
  layout_ = layout;
  Invalidate();
}

void TBitBtn::SetMargin(int margin) {
  margin_ = margin;
  Invalidate();
}

void TBitBtn::PaintButton() {
  auto* button = static_cast<QPushButton*>(WidgetOf(this));
  QStylePainter painter(button);
  QStyleOptionButton option;
  option.initFrom(button);
  option.state |= button->isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
  if (Default()) option.features |= QStyleOptionButton::DefaultButton;
  painter.drawControl(QStyle::CE_PushButtonBevel, option);

  QPixmap glyph;
  if (!glyph_.Empty()) {
    const bool disabled = !button->isEnabled();
    if (disabled && num_glyphs_ >= 2) {
      glyph = GlyphPart(glyph_, 1, num_glyphs_);
    } else {
      glyph = GlyphPart(glyph_, 0, num_glyphs_);
      if (disabled) glyph = QIcon(glyph).pixmap(glyph.size(), QIcon::Disabled);
    }
  }
  const QString caption = ToQString(Caption());
  const QFontMetrics metrics(button->font());
  const QString shown = ShownText(caption);
  const TPoint text_size{shown.isEmpty() ? 0 : metrics.horizontalAdvance(shown),
                         shown.isEmpty() ? 0 : metrics.height()};
  const TPoint glyph_size{glyph.width(), glyph.height()};
  // The frame takes a few pixels on each side.
  const TRect client = Rect(3, 3, Width() - 3, Height() - 3);
  TButtonPlacement at = CalcButtonLayout(client, glyph_size, text_size, layout_, margin_, spacing_);
  if (button->isDown()) {
    at.glyph = {at.glyph.X + 1, at.glyph.Y + 1};
    at.text = {at.text.X + 1, at.text.Y + 1};
  }
  if (!glyph.isNull()) painter.drawPixmap(at.glyph.X, at.glyph.Y, glyph);
  if (!shown.isEmpty()) {
    painter.setPen(button->palette().color(
        button->isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(QRect(at.text.X, at.text.Y, text_size.X + 2, text_size.Y),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic, caption);
  }
}

void TBitBtn::SetKind(TBitBtnKind kind) {
  kind_ = kind;
  if (kind == bkCustom) return;
  const bool ok = kind == bkOK;
  SetCaption(ok ? "OK" : "Annuler");
  SetModalResult(ok ? mrOk : mrCancel);
  SetDefault(ok);
  SetCancel(!ok);
  SetNumGlyphs(1);
  glyph_.LoadFromResourceName(ok ? "BBOK" : "BBCANCEL");
}

void TBitBtn::SetNumGlyphs(int count) {
  num_glyphs_ = count < 1 ? 1 : count > 4 ? 4 : count;
  GlyphChanged();
}

void TBitBtn::SetSpacing(int spacing) {
  spacing_ = spacing;
  Invalidate();
}

void TBitBtn::GlyphChanged() { Invalidate(); }

}  // namespace cl
