#include "components/ui/TPopupWindow.h"

#include <algorithm>

namespace comp {

cl::TPoint PopupPosition(cl::TPoint edit_origin, int edit_width, int edit_height, int popup_width,
                         int popup_height, TPopupAlign align, int screen_width, int screen_height) {
  int y = edit_origin.Y + edit_height;
  if (y + popup_height > screen_height) y = edit_origin.Y - popup_height;
  int x;
  if (align == epaRight) {
    x = edit_origin.X - (popup_width - edit_width);
    if (x < 0) x = edit_origin.X;
  } else {
    x = edit_origin.X;
    if (x + popup_width > screen_width) x -= popup_width - edit_width;
  }
  x = std::max(0, std::min(x, screen_width - popup_width));
  return {x, y};
}

TPopupWindow::TPopupWindow(cl::TComponent* owner) : cl::TCustomControl(owner) {
  cl::TCustomControl::SetVisible(false);
}

void TPopupWindow::CreateParams(cl::TCreateParams& params) {
  cl::TCustomControl::CreateParams(params);
  params.Style |= cl::WS_POPUP | cl::WS_BORDER | cl::WS_CLIPCHILDREN;
  params.ExStyle |= cl::WS_EX_TOOLWINDOW;
  params.NoActivate = true;
}

void TPopupWindow::Show(cl::TPoint origin) {
  SetBounds(origin.X, origin.Y, Width(), Height());
  SetVisible(true);
}

void TPopupWindow::CloseUp(bool accept) {
  if (on_close_up) on_close_up(this, accept);
}

void TPopupWindow::MouseUp(cl::TMouseButton button, cl::TShiftState shift, int x, int y) {
  cl::TCustomControl::MouseUp(button, shift, x, y);
  if (button != cl::mbLeft) return;
  const cl::TRect client = ClientRect();
  CloseUp(x >= client.Left && x < client.Right && y >= client.Top && y < client.Bottom);
}

}  // namespace comp
