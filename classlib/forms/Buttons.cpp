#include "classlib/forms/Buttons.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPushButton>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/GraphicsImpl.h"

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

}  // namespace

TBitBtn::TBitBtn(TComponent* owner) : TButton(owner) {
  glyph_.SetOnChange([this](TObject*) { GlyphChanged(); });
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

void TBitBtn::SetSpacing(int spacing) { spacing_ = spacing; }

void TBitBtn::GlyphChanged() {
  auto* button = static_cast<QPushButton*>(WidgetOf(this));
  if (glyph_.Empty()) {
    button->setIcon(QIcon());
    return;
  }
  QIcon icon;
  icon.addPixmap(GlyphPart(glyph_, 0, num_glyphs_), QIcon::Normal);
  if (num_glyphs_ >= 2) icon.addPixmap(GlyphPart(glyph_, 1, num_glyphs_), QIcon::Disabled);
  button->setIcon(icon);
  button->setIconSize(QSize(glyph_.Width() / num_glyphs_, glyph_.Height()));
}

}  // namespace cl
