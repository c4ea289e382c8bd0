// TPopupWindow: the top-level window a button edit drops under itself.  It never takes the
// activation (the edit keeps the focus and forwards its keys), starts hidden and is owned by its
// edit.  A left mouse release closes it, accepting when the release lies inside it.
//
// Placement (PopupPosition): with P the edit's top-left on the screen, the popup goes below the
// edit unless it would pass the screen's bottom, then above; epaRight aligns the right edges (x =
// P.x when that is negative), epaLeft starts at P.x and is pulled left by the width difference
// when it would pass the screen's right edge; x is finally kept inside the screen.
// GUI thread only.
#pragma once

#include <functional>
#include <string>

#include "classlib/forms/Controls.h"
#include "classlib/rtl/Variant.h"

namespace comp {

enum TPopupAlign { epaRight, epaLeft };

cl::TPoint PopupPosition(cl::TPoint edit_origin, int edit_width, int edit_height, int popup_width,
                         int popup_height, TPopupAlign align, int screen_width, int screen_height);

class TPopupWindow : public cl::TCustomControl {
 public:
  explicit TPopupWindow(cl::TComponent* owner);

  // Shows the window at a screen point, keeping its size and leaving the focus where it is.
  void Show(cl::TPoint origin);
  void Hide() { SetVisible(false); }

  virtual cl::Variant GetValue() const = 0;
  virtual void SetValue(const cl::Variant& value) = 0;
  virtual std::string GetPopupText() const { return ""; }
  // Fires OnCloseUp (the edit hides the window and takes the value when accepting).
  virtual void CloseUp(bool accept);

  std::function<void(cl::TObject* sender, bool accept)> on_close_up;

 protected:
  void CreateParams(cl::TCreateParams& params) override;
  void MouseUp(cl::TMouseButton button, cl::TShiftState shift, int x, int y) override;
};

}  // namespace comp
