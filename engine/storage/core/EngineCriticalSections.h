// The engine's two process-wide locks.
//
// Both are re-entrant and exist for the whole life of the process, independent of whether the
// engine is started, so a holder never has to ask the session layer first:
//
//   file section    the in-memory file lists and every in-memory file operation, and the search
//                   for a free temporary table name
//   format section  each copy of the format settings taken or restored around a text conversion
//
// Raising an engine error takes neither.
#pragma once

#include "platform/CriticalSection.h"

namespace tessera {

platform::CriticalSection& FileCriticalSection();
platform::CriticalSection& FormatCriticalSection();

}  // namespace tessera
