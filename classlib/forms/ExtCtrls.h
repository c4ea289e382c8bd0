// TPanel: a bevelled container with an optional centred caption.
#pragma once

#include "classlib/forms/Controls.h"
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

}  // namespace cl
