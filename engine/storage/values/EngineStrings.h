// The small string routines that the data, index and expression code share.
//
// Strings are Windows-1252 ShortStrings held in std::string: results are cut to 255 bytes, as an
// assignment to a ShortString would.  Positions are 1-based, 0 meaning "not found".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessera {

// s brought to `length` by adding ch on the left (PadLeft) or the right (PadRight); a longer s
// is returned unchanged (cut to 255).
std::string PadLeft(std::string_view s, size_t length, char ch);
std::string PadRight(std::string_view s, size_t length, char ch);

// s repeated n times.
std::string RepeatString(std::string_view s, size_t n);

// The first or last n characters (all of s when it is shorter).
std::string LeftChars(std::string_view s, size_t n);
std::string RightChars(std::string_view s, size_t n);

// 1-based position of the last occurrence of sub in s; 0 when absent or sub is empty.
size_t LastPos(std::string_view sub, std::string_view s);

// s without ch at both ends, at the start, at the end.
std::string TrimChar(std::string_view s, char ch);
std::string TrimLeftChar(std::string_view s, char ch);
std::string TrimRightChar(std::string_view s, char ch);

// Removes the trailing blanks of the zero-terminated text in `text` (at most `capacity` bytes
// are looked at when no terminator comes first) by writing zeros over them.
void TrimTrailingBlanksZ(char* text, size_t capacity);

// s without any CR or LF.
std::string RemoveLineBreaks(std::string_view s);

// A-Z, a-z, or a character 129-254.
bool IsNameLetter(char c);
// 0-9.
bool IsDigitChar(char c);
// 0-9, A-Z, a-z, or a character 129-254.
bool IsNameChar(char c);

// Occurrences of ch in text.
size_t CountChar(char ch, std::string_view text);

inline int32_t MaxInteger(int32_t a, int32_t b) { return a > b ? a : b; }
inline int32_t MinInteger(int32_t a, int32_t b) { return a < b ? a : b; }
inline uint16_t MaxWord(uint16_t a, uint16_t b) { return a > b ? a : b; }
inline uint16_t MinWord(uint16_t a, uint16_t b) { return a < b ? a : b; }
inline int16_t MaxSmallInt(int16_t a, int16_t b) { return a > b ? a : b; }
inline int16_t MinSmallInt(int16_t a, int16_t b) { return a < b ? a : b; }
inline int64_t MaxComp(int64_t a, int64_t b) { return a > b ? a : b; }
inline int64_t MinComp(int64_t a, int64_t b) { return a < b ? a : b; }
inline double MaxDouble(double a, double b) { return a > b ? a : b; }
inline double MinDouble(double a, double b) { return a < b ? a : b; }

}  // namespace tessera
