// Window and drawing routines shared by the visual components: centring and bringing windows
// forward, the embossed look of disabled glyphs, text shortening, the default beep and the two
// hand cursors of the library.
//
// Threads: GUI thread only.  Nothing here keeps state but the cursor registration flag.
#pragma once

#include <string>

#include "classlib/forms/Controls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/Graphics.h"

namespace comp {

// The library's cursors: an open hand and a closed (dragging) hand.
constexpr cl::TCursor crHand = 14000;
constexpr cl::TCursor crDragHand = 14001;
// Registers both cursors once (later calls do nothing).
void RegisterComponentCursors();
// Registers the unit that registers both cursors at start (component library order, 400, in the
// program's start-up list beside RegisterHintControllerUnit).
void RegisterComponentCursorsUnit();

// Makes the library's images known to the resource table (done by every component that loads
// one; harmless to repeat).
void RegisterComponentResources();

inline int RectWidth(const cl::TRect& r) { return r.Right - r.Left; }
inline int RectHeight(const cl::TRect& r) { return r.Bottom - r.Top; }

// Keeps the size; shifts a rectangle that passes the right or bottom screen edge back to end at
// it, then one that starts left of or above 0 to start at 0.
cl::TRect FitRectToScreen(const cl::TRect& rect);
// Moves the form (nothing else) to the screen's centre, (screen - size) / 2 toward zero, kept
// inside the screen.
void CenterWindow(cl::TForm* form);
// Brings an enabled form forward; with `restore`, a minimised form comes back to its normal
// state unless it is maximised, and takes the focus.
void SwitchToWindow(cl::TForm* form, bool restore);
// True when the active window is one of this program's forms.
bool IsForegroundTask();
// Removes one pending message `msg` of `wnd`.  A quit is never lost: the class library keeps a
// queued WM_QUIT where it is.
void DiscardMessage(cl::HWND wnd, uint32_t msg);
// The toolkit already draws a control without a window over its parent's painting, so nothing
// needs copying: kept so that callers read as written.
void CopyParentImage(cl::TControl* control, cl::TCanvas& canvas);

// An embossed grey copy of `bitmap` on the button face: a mask where `outline` is background,
// drawn in the button highlight at (1, 1), then in the button shadow at (0, 0).
void CreateDisabledBitmap(const cl::TBitmap& bitmap, cl::TColor outline, cl::TBitmap& result);
// The same embossing for one image-list entry drawn at (x, y): the entry's mask in `highlight` at
// (x + 1, y + 1), then in `shadow` at (x, y).
void DrawDisabledImage(const cl::TCustomImageList& images, cl::TCanvas& canvas, int x, int y,
                       int index, cl::TColor highlight, cl::TColor shadow);
// An 8 x 8 bitmap of `color1` with `color2` where x and y have the same parity.
void CreateCheckerBrushBitmap(cl::TColor color1, cl::TColor color2, cl::TBitmap& result);

// `text` when it fits `max_width` on the canvas; else its first L - k characters and "..." for
// the first k = 2, 3, ... L + 1 that fits; at worst "...".
std::string ShortenText(const std::string& text, cl::TCanvas& canvas, int max_width);

// The system's default beep.
void DefaultBeep();

}  // namespace comp
