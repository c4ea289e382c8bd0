// The one conversion between the system's Windows-1252 text and UTF-8.
//
// Text stays Windows-1252 inside the engine, the datasets and the files; it is converted only
// where it meets the operating system (file names), the terminal and the user interface.
// The five bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the
// C1 code points of the same value, so every byte string survives a round trip.
#pragma once

#include <string>
#include <string_view>

namespace cl {

std::string Cp1252ToUtf8(std::string_view text);

// Characters that Windows-1252 cannot hold, and malformed UTF-8 sequences, become '?'.
std::string Utf8ToCp1252(std::string_view text);

// The Unicode code point of one Windows-1252 byte.
char32_t Cp1252ToCodePoint(unsigned char c);

// The Windows-1252 byte of a code point, or -1 when it has none.
int CodePointToCp1252(char32_t cp);

}  // namespace cl
