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

// ---- TPicture, TImage -------------------------------------------------------------------------

void TPicture::Assign(const TPersistent* source) {
  if (source == nullptr) {
    bitmap_.reset();
    icon_.reset();
    Changed();
  } else if (auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
    Bitmap().Assign(bitmap);
    Changed();
  } else if (auto* icon = dynamic_cast<const TIcon*>(source)) {
    Icon().Assign(icon);
    Changed();
  } else if (auto* picture = dynamic_cast<const TPicture*>(source)) {
    Assign(picture->Graphic());
  } else {
    TPersistent::Assign(source);
  }
}

TGraphic* TPicture::Graphic() const {
  if (bitmap_) return bitmap_.get();
  return icon_.get();
}

TBitmap& TPicture::Bitmap() {
  if (!bitmap_) {
    icon_.reset();
    bitmap_ = std::make_unique<TBitmap>();
  }
  return *bitmap_;
}

TIcon& TPicture::Icon() {
  if (!icon_) {
    bitmap_.reset();
    icon_ = std::make_unique<TIcon>();
  }
  return *icon_;
}

void TPicture::Changed() {
  if (on_change_) {
    TNotifyEvent handler = on_change_;
    handler(this);
  }
}

TImage::TImage(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 105, 105);
  picture_.SetOnChange([this](TObject*) { Invalidate(); });
}

void TImage::SetCenter(bool center) {
  center_ = center;
  Invalidate();
}

void TImage::SetStretch(bool stretch) {
  stretch_ = stretch;
  Invalidate();
}

void TImage::SetTransparent(bool transparent) {
  transparent_ = transparent;
  Invalidate();
}

void TImage::Paint() {
  TGraphic* graphic = picture_.Graphic();
  if (graphic == nullptr || graphic->Empty()) return;
  const bool was_transparent = graphic->Transparent();
  graphic->SetTransparent(transparent_);
  if (stretch_) {
    Canvas().StretchDraw(ClientRect(), *graphic);
  } else if (center_) {
    Canvas().Draw((Width() - graphic->Width()) / 2, (Height() - graphic->Height()) / 2, *graphic);
  } else {
    Canvas().Draw(0, 0, *graphic);
  }
  graphic->SetTransparent(was_transparent);
}

// ---- TSplitter --------------------------------------------------------------------------------

int SplitterSize(int current, int delta, int min_size, int rest) {
  int size = current + delta;
  const int most = current + rest - min_size;
  if (size > most) size = most;
  if (size < min_size) size = min_size;
  // A neighbour already outside the limits is never pushed further out by a drag.
  if (delta > 0 && size < current) size = current;
  if (delta < 0 && size > current) size = current;
  return size;
}

TSplitter::TSplitter(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 3, 100);
  SetAlign(alLeft);
}

TControl* TSplitter::Neighbour() const {
  TWinControl* parent = Parent();
  if (parent == nullptr) return nullptr;
  for (int i = 0; i < parent->ControlCount(); ++i) {
    TControl* c = parent->Controls(i);
    if (c == this || !c->Visible() || c->Align() != Align()) continue;
    const bool touches = (Align() == alLeft && c->Left() + c->Width() == Left()) ||
                         (Align() == alRight && c->Left() == Left() + Width()) ||
                         (Align() == alTop && c->Top() + c->Height() == Top()) ||
                         (Align() == alBottom && c->Top() == Top() + Height());
    if (touches) return c;
  }
  return nullptr;
}

int TSplitter::MoveBy(int delta) {
  TControl* neighbour = Neighbour();
  if (neighbour == nullptr) return -1;
  const bool horizontal = Align() == alLeft || Align() == alRight;
  const int current = horizontal ? neighbour->Width() : neighbour->Height();
  const int grow = (Align() == alLeft || Align() == alTop) ? delta : -delta;
  // The room on the other side: the parent's client area minus every aligned control in this
  // direction, this splitter included.
  TWinControl* parent = Parent();
  int rest = horizontal ? parent->ClientRect().Width() : parent->ClientRect().Height();
  for (int i = 0; i < parent->ControlCount(); ++i) {
    TControl* c = parent->Controls(i);
    if (!c->Visible()) continue;
    if (horizontal && (c->Align() == alLeft || c->Align() == alRight)) rest -= c->Width();
    if (!horizontal && (c->Align() == alTop || c->Align() == alBottom)) rest -= c->Height();
  }
  const int size = SplitterSize(current, grow, min_size_, rest);
  if (size != current) {
    if (horizontal) {
      neighbour->SetWidth(size);
    } else {
      neighbour->SetHeight(size);
    }
    if (on_moved_) {
      TNotifyEvent handler = on_moved_;
      handler(this);
    }
  }
  return size;
}

void TSplitter::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  dragging_ = true;
  drag_start_ = ClientToScreen({x, y});
}

void TSplitter::MouseMove(TShiftState shift, int x, int y) {
  TCustomControl::MouseMove(shift, x, y);
  if (!dragging_) return;
  const TPoint now = ClientToScreen({x, y});
  const bool horizontal = Align() == alLeft || Align() == alRight;
  const int delta = horizontal ? now.X - drag_start_.X : now.Y - drag_start_.Y;
  if (delta == 0) return;
  MoveBy(delta);
  drag_start_ = now;
}

void TSplitter::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  dragging_ = false;
  TCustomControl::MouseUp(button, shift, x, y);
}

}  // namespace cl
