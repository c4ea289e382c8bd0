#include "components/ui/WindowRoutines.h"

#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Screen.h"
#include "classlib/rtl/Units.h"

void MirvelRegisterResources_components_ui();

namespace comp {

void RegisterComponentResources() { MirvelRegisterResources_components_ui(); }

void RegisterComponentCursors() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  RegisterComponentResources();
  cl::RegisterCursorResource(crHand, "OX_HANDCUR", 5, 1);
  cl::RegisterCursorResource(crDragHand, "OX_DRAGCUR", 7, 4);
}

void RegisterComponentCursorsUnit() {
  cl::RegisterUnit("ComponentCursors", RegisterComponentCursors, nullptr, 400);
}

cl::TRect FitRectToScreen(const cl::TRect& rect) {
  const int screen_w = cl::GetSystemMetrics(cl::SM_CXSCREEN);
  const int screen_h = cl::GetSystemMetrics(cl::SM_CYSCREEN);
  cl::TRect r = rect;
  if (r.Right > screen_w) {
    r.Left -= r.Right - screen_w;
    r.Right = screen_w;
  }
  if (r.Bottom > screen_h) {
    r.Top -= r.Bottom - screen_h;
    r.Bottom = screen_h;
  }
  if (r.Left < 0) {
    r.Right -= r.Left;
    r.Left = 0;
  }
  if (r.Top < 0) {
    r.Bottom -= r.Top;
    r.Top = 0;
  }
  return r;
}

void CenterWindow(cl::TForm* form) {
  if (form == nullptr) return;
  const int w = form->Width();
  const int h = form->Height();
  const int left = (cl::GetSystemMetrics(cl::SM_CXSCREEN) - w) / 2;
  const int top = (cl::GetSystemMetrics(cl::SM_CYSCREEN) - h) / 2;
  const cl::TRect r = FitRectToScreen(cl::Bounds(left, top, w, h));
  form->SetBounds(r.Left, r.Top, w, h);
}

void SwitchToWindow(cl::TForm* form, bool restore) {
  if (form == nullptr || !form->Enabled()) return;
  if (restore && form->Visible()) {
    if (form->WindowState() == cl::wsMinimized) form->SetWindowState(cl::wsNormal);
    form->Show();
    if (form->CanFocus()) form->SetFocus();
  } else {
    form->Show();
  }
}

bool IsForegroundTask() {
  cl::TForm* active = cl::Screen().ActiveForm();
  if (active == nullptr) return false;
  for (int i = 0; i < cl::Screen().FormCount(); ++i) {
    if (cl::Screen().Forms(i) == active) return active->Active();
  }
  return false;
}

void DiscardMessage(cl::HWND wnd, uint32_t msg) { cl::RemovePendingMessage(wnd, msg); }

void CopyParentImage(cl::TControl*, cl::TCanvas&) {}

void CreateDisabledBitmap(const cl::TBitmap& bitmap, cl::TColor outline, cl::TBitmap& result) {
  cl::TBitmap mask;
  bitmap.MakeMask(outline, mask);
  mask.SetMonochrome(true);
  const int w = bitmap.Width();
  const int h = bitmap.Height();
  result.SetSize(w, h);
  cl::TCanvas& canvas = result.Canvas();
  canvas.Brush().SetColor(cl::clBtnFace);
  canvas.FillRect(cl::Rect(0, 0, w, h));
  canvas.Brush().SetColor(cl::clBtnHighlight);
  canvas.BitBlt(1, 1, w, h, mask, 0, 0, cl::ROP_DSPDxax);
  canvas.Brush().SetColor(cl::clBtnShadow);
  canvas.BitBlt(0, 0, w, h, mask, 0, 0, cl::ROP_DSPDxax);
}

void DrawDisabledImage(const cl::TCustomImageList& images, cl::TCanvas& canvas, int x, int y,
                       int index, cl::TColor highlight, cl::TColor shadow) {
  cl::TBitmap entry_mask;
  entry_mask.SetSize(images.Width(), images.Height());
  images.DrawMask(entry_mask.Canvas(), 0, 0, index);
  entry_mask.SetMonochrome(true);
  const int w = images.Width();
  const int h = images.Height();
  canvas.Brush().SetColor(highlight);
  canvas.BitBlt(x + 1, y + 1, w, h, entry_mask, 0, 0, cl::ROP_DSPDxax);
  canvas.Brush().SetColor(shadow);
  canvas.BitBlt(x, y, w, h, entry_mask, 0, 0, cl::ROP_DSPDxax);
}

void CreateCheckerBrushBitmap(cl::TColor color1, cl::TColor color2, cl::TBitmap& result) {
  result.SetSize(8, 8);
  cl::TCanvas& canvas = result.Canvas();
  canvas.Brush().SetColor(color1);
  canvas.FillRect(cl::Rect(0, 0, 8, 8));
  for (int y = 0; y < 8; ++y) {
    for (int x = y % 2; x < 8; x += 2) canvas.SetPixel(x, y, color2);
  }
}

std::string ShortenText(const std::string& text, cl::TCanvas& canvas, int max_width) {
  if (canvas.TextWidth(text) <= max_width) return text;
  const int length = static_cast<int>(text.size());
  for (int k = 2; k <= length + 1; ++k) {
    const int keep = length - k;
    if (keep < 0) break;
    std::string candidate = text.substr(0, static_cast<size_t>(keep)) + "...";
    if (canvas.TextWidth(candidate) <= max_width) return candidate;
  }
  return "...";
}

void DefaultBeep() { cl::MessageBeep(0); }

}  // namespace comp
