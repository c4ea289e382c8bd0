// The end of the user's session as a process sees it: SIGTERM (a logout, a shutdown, a kill) or
// SIGHUP (the terminal went away).
//
// A signal handler may do next to nothing, so the handler only writes the signal's number into a
// self-pipe; a thread of the class library waits on the pipe and turns it into window messages on
// the GUI thread.  Installing replaces the default action of both signals (ending the process):
// from then on the program ends itself once its windows have answered.
#pragma once

#include "platform/OsError.h"

namespace platform {

// Creates the pipe and installs the handlers; later calls do nothing.  Returns 0 or a
// Win32-style error number.
OsError InstallEndSessionSignals();

// Blocks until one of the signals arrives (returns SIGTERM or SIGHUP) or StopEndSessionWait is
// called (returns 0).  REQUIRES: InstallEndSessionSignals succeeded; one waiting thread.
int WaitForEndSessionSignal();

// Wakes the waiting thread with 0; any thread.
void StopEndSessionWait();

}  // namespace platform
