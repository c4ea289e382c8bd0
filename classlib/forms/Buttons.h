// TBitBtn: a push button with a glyph.
//
// Kind gives a standard button its caption, glyph, ModalResult and Default/Cancel role (bkOK:
// "OK", the "BBOK" glyph, mrOk, Default; bkCancel: "Annuler", "BBCANCEL", mrCancel, Cancel);
// bkCustom leaves all of it to the program.  The glyph holds NumGlyphs images side by side: the
// first for the normal state, the second (when present) for the disabled one.  Its bottom-left
// pixel's colour is transparent.  The glyph shows left of the caption (Layout only records the
// other placements).
#pragma once

#include "classlib/forms/Graphics.h"
#include "classlib/forms/StdCtrls.h"

namespace cl {

enum TBitBtnKind { bkCustom, bkOK, bkCancel };
enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

class TBitBtn : public TButton {
 public:
  explicit TBitBtn(TComponent* owner);

  TBitBtnKind Kind() const { return kind_; }
  void SetKind(TBitBtnKind kind);
  // Changing the glyph's picture (Assign, a load, a new size) updates the button.
  TBitmap& Glyph() { return glyph_; }
  int NumGlyphs() const { return num_glyphs_; }
  void SetNumGlyphs(int count);
  TButtonLayout Layout() const { return layout_; }
  void SetLayout(TButtonLayout layout) { layout_ = layout; }
  int Margin() const { return margin_; }
  void SetMargin(int margin) { margin_ = margin; }
  int Spacing() const { return spacing_; }
  void SetSpacing(int spacing);

 private:
  void GlyphChanged();

  TBitBtnKind kind_ = bkCustom;
  TBitmap glyph_;
  int num_glyphs_ = 1;
  TButtonLayout layout_ = blGlyphLeft;
  int margin_ = -1;
  int spacing_ = 4;
};

}  // namespace cl
