// What the real-display demo programs share: their start, the marker file through which their
// test scripts see what happened, and the icon they show in the notification area.
//
// GUI thread only; one demo per process.
#pragma once

#include <string>

#include "classlib/forms/Graphics.h"

namespace demo {

// Takes argv[1] as the marker file and initializes the application.
// REQUIRES: argc >= 2.
void Start(int argc, char** argv);

// The marker file given at start.
const std::string& MarkerFile();

// Appends `line` and a line end to the marker file.
void Mark(const std::string& line);

// A 32 x 32 icon of 16 colours in yellow and red stripes.
cl::TIcon StripedIcon();

}  // namespace demo
