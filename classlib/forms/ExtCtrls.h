// TPanel: a bevelled container with an optional centred caption.
#pragma once

#include <memory>

#include "classlib/forms/Controls.h"
#include "classlib/forms/Graphics.h"
#include "classlib/forms/StdCtrls.h"

namespace cl {

enum TPanelBevel { bvNone, bvLowered, bvRaised };

class TPanel : public TCustomControl {
 public:
  explicit TPanel(TComponent* owner);

  TPanelBevel BevelInner() const { return bevel_inner_; }
  void SetBevelInner(TPanelBevel bevel);
  TPanelBevel BevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(TPanelBevel bevel);
  int BevelWidth() const { return bevel_width_; }
  void SetBevelWidth(int width);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment);

 protected:
  void Paint() override;
  void TextChanged() override { Invalidate(); }

 private:
  TPanelBevel bevel_inner_ = bvNone;
  TPanelBevel bevel_outer_ = bvRaised;
  int bevel_width_ = 1;
  TAlignment alignment_ = taCenter;
};

// A picture: a bitmap or an icon, whichever was given last.
class TPicture : public TPersistent {
 public:
  void Assign(const TPersistent* source) override;
  // The current picture, or null.
  TGraphic* Graphic() const;
  // Switch the picture to that kind (an empty one when it was another).
  TBitmap& Bitmap();
  TIcon& Icon();
  const TNotifyEvent& OnChange() const { return on_change_; }
  void SetOnChange(TNotifyEvent handler) { on_change_ = std::move(handler); }

 private:
  void Changed();
  std::unique_ptr<TBitmap> bitmap_;
  std::unique_ptr<TIcon> icon_;
  TNotifyEvent on_change_;
};

// Shows a picture, at the top-left or centred, stretched or not, transparent or not.
class TImage : public TCustomControl {
 public:
  explicit TImage(TComponent* owner);

  TPicture& Picture() { return picture_; }
  bool Center() const { return center_; }
  void SetCenter(bool center);
  bool Stretch() const { return stretch_; }
  void SetStretch(bool stretch);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent);

 protected:
  void Paint() override;

 private:
  TPicture picture_;
  bool center_ = false;
  bool stretch_ = false;
  bool transparent_ = false;
};

// A bar between an aligned control and the rest of its parent: dragging it moves that control's
// border.  Neither the control nor what remains on the other side gets smaller than MinSize.
class TSplitter : public TCustomControl {
 public:
  explicit TSplitter(TComponent* owner);

  int MinSize() const { return min_size_; }
  void SetMinSize(int size) { min_size_ = size < 1 ? 1 : size; }
  const TNotifyEvent& OnMoved() const { return on_moved_; }
  void SetOnMoved(TNotifyEvent handler) { on_moved_ = std::move(handler); }

  // Moves the border by `delta` pixels (towards the right or the bottom when positive), as a
  // drag does; returns the neighbour's new size, or -1 without a neighbour.
  int MoveBy(int delta);

 protected:
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;

 private:
  TControl* Neighbour() const;

  int min_size_ = 30;
  bool dragging_ = false;
  TPoint drag_start_;
  TNotifyEvent on_moved_;
};

// The new size of a splitter's neighbour: its current size moved by `delta` (already signed so
// that positive grows it), kept at least `min_size` and leaving at least `min_size` of `rest`
// (the room the other side has now).  Never below the neighbour's size when that is already
// under the limits.
int SplitterSize(int current, int delta, int min_size, int rest);

}  // namespace cl
