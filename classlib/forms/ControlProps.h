// Registers the stored properties of the visual classes in the property table (TypInfo.h):
// bounds, alignment, visibility, colours, captions and each class's own settings.  Done by the
// user interface's start; later calls do nothing.
#pragma once

namespace cl {

void RegisterControlProperties();

}  // namespace cl
