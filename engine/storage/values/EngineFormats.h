// The formats under which the engine converts field values to and from text.
//
// Texts of a table without a language (and every SQL text) use one fixed English set
// ("M/d/yyyy", decimal point "."), so that they read the same on every workstation; a table with a
// language uses that language's regional data, each value falling back to the fixed set's.
//
// Engine conversions take their format set as an explicit parameter: nothing in the engine reads
// or switches a process-wide setting, so a conversion can never see another thread's formats.
// SaveFormatSettings and RestoreFormatSettings remain as whole copies to and from the current set
// of the user interface, each made inside the engine's format critical section.
#pragma once

#include <cstdint>

#include "classlib/rtl/FormatSettings.h"

namespace tessera {

// The engine's format record has exactly the fields of the runtime's format set.
using TEngineFormatSettings = cl::TFormatSettings;

// The fixed set, built from the en-US regional data (platform/LocaleInfo.h) as any language's:
// "$", currency formats 0 and 0, "," and ".", 2 decimals, "/", "M/d/yyyy", "dddd, MMMM dd, yyyy",
// ":", "AM", "PM", "h:mm AMPM", "h:mm:ss AMPM", English names.
const TEngineFormatSettings& FixedFormatSettings();

// Language 0: the fixed set.  Otherwise the regional data of the locale sort x 65,536 + language
// (a locale that is not installed gives none, so the fixed set), with times built from its flags:
// "hh" or "h" by the leading-zero flag, then ":mm" (short) or ":mm:ss" (long), then " AMPM" for a
// 12-hour clock.
TEngineFormatSettings BuildEngineFormatSettings(uint16_t language, uint16_t sort);

// Copies the current set of the user interface into `saved`.
void SaveFormatSettings(TEngineFormatSettings& saved);
// Makes a copy of `settings` the current set of the user interface.
void RestoreFormatSettings(const TEngineFormatSettings& settings);

}  // namespace tessera
