// Case mapping and linguistic comparison of Windows-1252 text.
//
// Everything here is fixed data compiled into the program: no installed locale, no process
// locale and no external collation library is ever consulted, so two machines (and two runs)
// always agree.  Index pages of tables that have a language store keys in this order, so the
// order must never change once released; a golden ordered list in the tests freezes it.
//
// The comparison is multi-level, as linguistic sorting is:
//   1. primary weights: the base letter, digit or symbol; NUL and control characters carry no
//      weight at all (zero padding inside a field does not matter); symbols sort before digits,
//      digits before letters; the ligatures expand (æ = ae, œ = oe, ß = ss);
//   2. diacritic weights ("e" < "é" < "è" < "ê" < "ë"); the first half of an expanded ligature
//      weighs more than the plain letter, so "ae" < "æ" without being equal;
//   3. case weights, lower before upper ("a" < "A" < "à" < "b"); skipped when ignoring case;
//   4. special weights: in word sort the hyphen (0x2D) and apostrophe (0x27) are skipped by the
//      first three levels and only their position and kind count here, so "coop" < "co-op".
// In string sort the hyphen and apostrophe are ordinary symbols with primary weights.
//
// Each level is compared as a sequence, shorter prefix first; the sort key is the concatenation
// of the level sequences with a separator below every weight, so comparing sort keys byte by byte
// gives the same answer as the comparison itself.
//
// One table exists per supported language (sort id 0); most languages share the neutral one.
// Upper and lower case mapping is the same for every Windows-1252 language.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cl {

// ---- case mapping -------------------------------------------------------------------------------

// Upper case maps a-z, 0xE0-0xFE except 0xF7 to 0xC0-0xDE, and 0x9A->0x8A (š), 0x9C->0x8C (œ),
// 0x9E->0x8E (ž), 0xFF->0x9F (ÿ); ß (0xDF) and µ (0xB5) have no upper case in Windows-1252 and
// stay.  Lower case is the exact inverse.
unsigned char AnsiUpperChar(unsigned char c);
unsigned char AnsiLowerChar(unsigned char c);
std::string AnsiUpperCase(std::string_view s);
std::string AnsiLowerCase(std::string_view s);

// ---- collation ----------------------------------------------------------------------------------

enum class TSortMode : uint8_t {
  kWord,    // hyphen and apostrophe only break ties (level 4)
  kString,  // hyphen and apostrophe are ordinary symbols
};

// The weight table of one language.  Obtained from FindCollation or NeutralCollation; the
// tables are immutable and live for the whole program, so any thread may use them.
class TCollation;

// The language-neutral table (also the table of English, French, German, Italian, Dutch).
const TCollation& NeutralCollation();

// The table of a Windows language id with sort id 0, or nullptr when the language is not one of
// the supported Windows-1252 languages: 0x0409, 0x0809, 0x040C, 0x080C, 0x0C0C, 0x100C, 0x0407,
// 0x0410, 0x0C0A, 0x0413, 0x0406, 0x0414, 0x041D, 0x040B.
const TCollation* FindCollation(uint16_t language_id);

// -1, 0 or 1.  All bytes of both views take part (a NUL has no weight, it does not end the text).
int CollateCompare(const TCollation& collation, std::string_view a, std::string_view b,
                   bool ignore_case, TSortMode mode);

// A byte string whose unsigned byte order (memcmp, shorter prefix first) equals CollateCompare
// with the same arguments; equal texts give equal keys.  The key holds no zero byte.  With a
// `limit`, only the key's first `limit` bytes (fewer when it is shorter): a sort can order most
// texts by that head and compare the rest.
std::string CollateSortKey(const TCollation& collation, std::string_view s, bool ignore_case,
                           TSortMode mode, size_t limit = std::string::npos);

// The first level of CollateSortKey alone, without its separator.  The texts whose primary
// weights begin with given bytes are one unbroken run of the collation order (the first level
// decides first, and a sequence sorts before its extensions), whatever their case, accents and
// further characters: a search for a character prefix can be confined to that run.
std::string CollatePrimaryWeights(const TCollation& collation, std::string_view s, TSortMode mode);

// The class library's comparisons: neutral table, word sort; results -1, 0, 1.
int AnsiCompareStr(std::string_view a, std::string_view b);
int AnsiCompareText(std::string_view a, std::string_view b);  // ignores case
bool AnsiSameText(std::string_view a, std::string_view b);
std::string AnsiSortKey(std::string_view s, bool ignore_case);

}  // namespace cl
