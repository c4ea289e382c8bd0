#include "classlib/forms/ExtCtrls.h"

#include "classlib/forms/ControlImpl.h"

namespace cl {
namespace {

// One bevel ring per width step, light on top and left for a raised bevel, dark for a lowered.
void DrawBevel(TCanvas& canvas, TRect& rect, TPanelBevel bevel, int width) {
  if (bevel == bvNone) return;
  const TColor top_left = bevel == bvRaised ? clBtnHighlight : clBtnShadow;
  const TColor bottom_right = bevel == bvRaised ? clBtnShadow : clBtnHighlight;
  for (int i = 0; i < width && rect.Width() > 0 && rect.Height() > 0; ++i) {
    canvas.Pen().SetColor(top_left);
    canvas.MoveTo(rect.Left, rect.Bottom - 1);
    canvas.LineTo(rect.Left, rect.Top);
    canvas.LineTo(rect.Right, rect.Top);
    canvas.Pen().SetColor(bottom_right);
    canvas.MoveTo(rect.Right - 1, rect.Top + 1);
    canvas.LineTo(rect.Right - 1, rect.Bottom - 1);
    canvas.LineTo(rect.Left, rect.Bottom - 1);
    rect = Rect(rect.Left + 1, rect.Top + 1, rect.Right - 1, rect.Bottom - 1);
  }
}

}  // namespace

TPanel::TPanel(TComponent* owner) : TCustomControl(owner) { SetBounds(0, 0, 185, 41); }

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
  TCanvas& canvas = Canvas();
  TRect rect = ClientRect();
  DrawBevel(canvas, rect, bevel_outer_, bevel_width_);
  DrawBevel(canvas, rect, bevel_inner_, bevel_width_);
  if (Caption().empty()) return;
  canvas.Brush().SetStyle(bsClear);
  const unsigned horizontal = alignment_ == taCenter         ? DT_CENTER
                              : alignment_ == taRightJustify ? DT_RIGHT
                                                             : DT_LEFT;
  canvas.DrawText(Caption(), rect, horizontal | DT_VCENTER | DT_SINGLELINE);
}

}  // namespace cl
