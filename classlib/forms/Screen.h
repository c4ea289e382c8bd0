// The screen as the program sees it: registered cursors, system metrics and window placement.
//
// Screen() (classlib/rtl/Application.h) gets its cursor, size, pixels per inch and active form
// from here once the user interface is installed.  Screen().SetCursor(crHourGlass) shows the wait
// cursor over the whole application; crDefault gives every control its own cursor back.
//
// Window placement speaks client rectangles (a form's Width and Height are its client size);
// positions are written but a window system may ignore them (Wayland places windows itself).
#pragma once

#include <cstdint>
#include <string>

#include "classlib/forms/Graphics.h"
#include "classlib/forms/Types.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Messages.h"

namespace cl {

// Registers a cursor shape under a positive id: the image (white transparent when it is
// monochrome, else its transparent colour) with its hot spot.
void RegisterCursor(TCursor id, const TBitmap& image, int hot_x, int hot_y);
// The same from a bitmap resource; raises EResNotFound when there is none.
void RegisterCursorResource(TCursor id, const std::string& resource, int hot_x, int hot_y);
// True when a shape is registered under `id`.
bool CursorRegistered(TCursor id);
// True when the application-wide cursor is set (Screen().Cursor is not crDefault).
bool OverrideCursorActive();

// clang-format off
constexpr int SM_CXSCREEN = 0, SM_CYSCREEN = 1, SM_CXVSCROLL = 2, SM_CYHSCROLL = 3,
              SM_CXBORDER = 5, SM_CYBORDER = 6, SM_CXDLGFRAME = 7, SM_CYDLGFRAME = 8,
              SM_CXFRAME = 32, SM_CYFRAME = 33;
// clang-format on
// The values the program reads: the screen's size, the scroll bar's width, and the frame widths
// of the classic window borders (1, 3 and 4 pixels).
int GetSystemMetrics(int index);

constexpr unsigned SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOWMAXIMIZED = 3,
                   SW_RESTORE = 9;

struct TWindowPlacement {
  uint32_t length = 44;
  uint32_t flags = 0;
  uint32_t showCmd = SW_SHOWNORMAL;
  TPoint ptMinPosition;
  TPoint ptMaxPosition;
  TRect rcNormalPosition;
};

// False for a handle that is not a form's.
bool GetWindowPlacement(HWND wnd, TWindowPlacement* placement);
bool SetWindowPlacement(HWND wnd, const TWindowPlacement* placement);

// The answer to WM_GETMINMAXINFO (LParam points to it); a 0 member sets no limit.
struct TMinMaxInfo {
  TPoint ptReserved;
  TPoint ptMaxSize;
  TPoint ptMaxPosition;
  TPoint ptMinTrackSize;
  TPoint ptMaxTrackSize;
};

void InstallScreenBackend();

}  // namespace cl
