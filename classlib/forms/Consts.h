// The class library's own string-table entries (Windows-1252).
#pragma once

#include <string>

namespace cl {

// The entry `id`, or "" when there is none.
std::string LoadStr(int id);

// Registers the class library's own bitmaps ("BBOK", "BBCANCEL", "OBM_COMBO"); done by the
// user interface's start, harmless twice.
void RegisterClassLibraryResources();

}  // namespace cl
