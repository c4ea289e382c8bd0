#include "app/AppWindows.h"

namespace mirvel {

namespace {
TAppWindows* g_windows = nullptr;
}  // namespace

TAppWindows* AppWindows() { return g_windows; }

void SetAppWindows(TAppWindows* windows) { g_windows = windows; }

}  // namespace mirvel
