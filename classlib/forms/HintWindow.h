// THintWindow: the small window that shows a hint over the program's windows.
//
// It is a top-level window that is never activated and never takes the focus, so that showing
// it changes neither the active form nor the focused control.  It asks the window system to let
// the mouse through to what lies under it; not every one does (X11 servers may not), and there
// the mouse messages over the hint are the hint window's own.  It paints the text in the hint
// colours (clInfoText on clInfoBk) unless a descendant paints itself.  Ordinary control hints
// (TControl::Hint, its part before "|") are the toolkit's tooltips in the same colours.
#pragma once

#include <string>

#include "classlib/forms/Controls.h"

namespace cl {

class THintWindow : public TCustomControl {
 public:
  explicit THintWindow(TComponent* owner);

  // Shows `text` over `rect` (screen coordinates), without activating anything.
  virtual void ActivateHint(const TRect& rect, const std::string& text);
  // Hides the window.
  void ReleaseHandle();
  bool Showing() const;
  // The rectangle (at 0, 0) that `text` needs, wrapped at `max_width`.
  virtual TRect CalcHintRect(int max_width, const std::string& text);

 protected:
  void Paint() override;
};

}  // namespace cl
