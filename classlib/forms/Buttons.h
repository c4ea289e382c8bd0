// TBitBtn: a push button with a glyph.
//
// Kind gives a standard button its caption, glyph, ModalResult and Default/Cancel role (bkOK:
// "OK", the "BBOK" glyph, mrOk, Default; bkCancel: "Annuler", "BBCANCEL", mrCancel, Cancel);
// bkCustom leaves all of it to the program.  The glyph holds NumGlyphs images side by side: the
// first for the normal state, the second (when present) for the disabled one.  Its bottom-left
// pixel's colour is transparent.  Layout puts the glyph left of, right of, above or below the
// caption; Margin is the distance from the edge to the pair (-1: the pair is centred), Spacing
// the gap between glyph and caption (-1: the free room is shared out).
#pragma once

#include "classlib/forms/Graphics.h"
#include "classlib/forms/StdCtrls.h"

namespace cl {

enum TBitBtnKind { bkCustom, bkOK, bkCancel };
enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// Where a glyph of `glyph_size` and a caption of `text_size` go in `client` (see above).
struct TButtonPlacement {
  TPoint glyph;
  TPoint text;
  bool operator==(const TButtonPlacement&) const = default;
};
TButtonPlacement CalcButtonLayout(const TRect& client, TPoint glyph_size, TPoint text_size,
                                  TButtonLayout layout, int margin, int spacing);

class TBitBtn : public TButton {
 public:
  explicit TBitBtn(TComponent* owner);
  ~TBitBtn() override;

  TBitBtnKind Kind() const { return kind_; }
  void SetKind(TBitBtnKind kind);
  // Changing the glyph's picture (Assign, a load, a new size) updates the button.
  TBitmap& Glyph() { return glyph_; }
  int NumGlyphs() const { return num_glyphs_; }
  void SetNumGlyphs(int count);
  TButtonLayout Layout() const { return layout_; }
  void SetLayout(TButtonLayout layout);
  int Margin() const { return margin_; }
  void SetMargin(int margin);
  int Spacing() const { return spacing_; }
  void SetSpacing(int spacing);

 private:
  void GlyphChanged();
  void PaintButton();

  TBitBtnKind kind_ = bkCustom;
  TBitmap glyph_;
  int num_glyphs_ = 1;
  TButtonLayout layout_ = blGlyphLeft;
  int margin_ = -1;
  int spacing_ = 4;
};

}  // namespace cl
