#include "classlib/rtl/Collation.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace cl {

// ---- case tables --------------------------------------------------------------------------------

namespace {

constexpr std::array<unsigned char, 256> BuildUpperTable() {
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(c);
  for (int c = 'a'; c <= 'z'; ++c) t[c] = static_cast<unsigned char>(c - 0x20);
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c != 0xF7) t[c] = static_cast<unsigned char>(c - 0x20);
  }
  t[0x9A] = 0x8A;
  t[0x9C] = 0x8C;
  t[0x9E] = 0x8E;
  t[0xFF] = 0x9F;
  return t;
}

constexpr std::array<unsigned char, 256> BuildLowerTable() {
  constexpr std::array<unsigned char, 256> upper = BuildUpperTable();
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(c);
  for (int c = 0; c < 256; ++c) {
    if (upper[c] != c) t[upper[c]] = static_cast<unsigned char>(c);
  }
  return t;
}

constexpr std::array<unsigned char, 256> kUpper = BuildUpperTable();
constexpr std::array<unsigned char, 256> kLower = BuildLowerTable();

}  // namespace

unsigned char AnsiUpperChar(unsigned char c) { return kUpper[c]; }
unsigned char AnsiLowerChar(unsigned char c) { return kLower[c]; }

std::string AnsiUpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(kUpper[static_cast<unsigned char>(c)]);
  return out;
}

std::string AnsiLowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(kLower[static_cast<unsigned char>(c)]);
  return out;
}

// ---- weight tables ------------------------------------------------------------------------------
//
// Weights are single bytes from 2 upwards; 1 separates the levels in a sort key and 0 never
// appears.  THE NUMBERS BELOW ARE PART OF THE STORED INDEX ORDER: never renumber, reorder or
// insert; a new language may only use the spare letter slots.

namespace {

enum Kind : uint8_t {
  kIgnored,  // no weight at any level (NUL, control characters, soft hyphen, undefined bytes)
  kPlain,    // one or two elements with primary, diacritic and case weights
  kSpecial,  // hyphen and apostrophe: level 4 in word sort, a plain symbol in string sort
};

enum Diacritic : uint8_t {
  kBase = 2,
  kAcute,
  kGrave,
  kCircumflex,
  kCaron,
  kRing,
  kDiaeresis,
  kTilde,
  kCedilla,
  kStroke,
  kHook,
  kSuperscript,
  kOrdinal,
  kLigature,  // first element of an expanded ligature; also æ beside ä in Swedish
};

enum Case : uint8_t { kLowerCase = 2, kUpperCase = 3 };

struct Entry {
  uint8_t kind = kIgnored;
  uint8_t primary = 0;
  uint8_t primary2 = 0;  // second element of an expansion, 0 when none
  uint8_t diacritic = 0;
  uint8_t letter_case = 0;
  uint8_t special = 0;  // level-4 weight of a special character
};

using Table = std::array<Entry, 256>;

// Symbols in primary order, hyphen and apostrophe included for string sort.
constexpr uint8_t kSymbolOrder[] = {
    0x20, 0xA0,                                // space, no-break space
    0x21, 0xA1,                                // ! ¡
    0x22, 0x93, 0x94, 0x84, 0xAB, 0xBB,        // " “ ” „ « »
    0x23, 0x25, 0x89, 0x26,                    // # % ‰ &
    0x27, 0x91, 0x92, 0x82, 0x8B, 0x9B,        // ' ‘ ’ ‚ ‹ ›
    0x28, 0x29, 0x2A, 0x2C,                    // ( ) * ,
    0x2D, 0x96, 0x97,                          // - – —
    0x2E, 0x85, 0x2F, 0x3A, 0x3B, 0x3F, 0xBF,  // . … / : ; ? ¿
    0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x88, 0x5F,  // @ [ \ ] ^ ˆ _
    0x60, 0xB4, 0xA8, 0xAF, 0xB8, 0x98,        // ` ´ ¨ ¯ ¸ ˜
    0x7B, 0x7C, 0xA6, 0x7D, 0x7E,              // { | ¦ } ~
    0xB7, 0x95, 0x86, 0x87, 0xA7, 0xB6,        // · • † ‡ § ¶
    0xA9, 0xAE, 0x99, 0xB0,                    // © ® ™ °
    0x2B, 0xB1, 0x3C, 0x3D, 0x3E, 0xAC,        // + ± < = > ¬
    0xD7, 0xF7,                                // × ÷
    0xA4, 0xA2, 0x24, 0xA3, 0xA5, 0x80,        // ¤ ¢ $ £ ¥ €
    0xBC, 0xBD, 0xBE,                          // ¼ ½ ¾
};
constexpr int kSymbolCount = sizeof kSymbolOrder;

constexpr uint8_t kFirstSymbol = 2;
constexpr uint8_t kFirstDigit = kFirstSymbol + kSymbolCount;

// clang-format off
// Letter slots in primary order.  Slots marked spare carry no character in the neutral table;
// languages that sort a letter on its own put it there.
enum Slot : uint8_t {
  sA, sB, sC, sD, sEth, sE, sF, sG, sH, sI, sJ, sK, sL, sM, sN,
  sNTilde,  // spare: Spanish ñ
  sO, sP, sQ, sR, sS, sT, sU, sV, sW, sX, sY, sZ, sThorn,
  sNordic1, sNordic2, sNordic3,  // spare: the Nordic letters after z
  sMicro,
};

constexpr uint8_t kFirstLetter = kFirstDigit + 10;
constexpr uint8_t Letter(Slot s) { return static_cast<uint8_t>(kFirstLetter + s); }

struct LetterForm {
  Slot slot;
  uint8_t lower, upper;  // upper 0: no upper-case form in Windows-1252
  Diacritic diacritic;
};

constexpr LetterForm kLetters[] = {
    {sA, 'a', 'A', kBase},        {sA, 0xE1, 0xC1, kAcute},    {sA, 0xE0, 0xC0, kGrave},
    {sA, 0xE2, 0xC2, kCircumflex}, {sA, 0xE5, 0xC5, kRing},    {sA, 0xE4, 0xC4, kDiaeresis},
    {sA, 0xE3, 0xC3, kTilde},     {sA, 0xAA, 0, kOrdinal},
    {sB, 'b', 'B', kBase},
    {sC, 'c', 'C', kBase},        {sC, 0xE7, 0xC7, kCedilla},
    {sD, 'd', 'D', kBase},
    {sEth, 0xF0, 0xD0, kBase},
    {sE, 'e', 'E', kBase},        {sE, 0xE9, 0xC9, kAcute},    {sE, 0xE8, 0xC8, kGrave},
    {sE, 0xEA, 0xCA, kCircumflex}, {sE, 0xEB, 0xCB, kDiaeresis},
    {sF, 'f', 'F', kBase},        {sF, 0x83, 0, kHook},
    {sG, 'g', 'G', kBase},
    {sH, 'h', 'H', kBase},
    {sI, 'i', 'I', kBase},        {sI, 0xED, 0xCD, kAcute},    {sI, 0xEC, 0xCC, kGrave},
    {sI, 0xEE, 0xCE, kCircumflex}, {sI, 0xEF, 0xCF, kDiaeresis},
    {sJ, 'j', 'J', kBase},
    {sK, 'k', 'K', kBase},
    {sL, 'l', 'L', kBase},
    {sM, 'm', 'M', kBase},
    {sN, 'n', 'N', kBase},        {sN, 0xF1, 0xD1, kTilde},
    {sO, 'o', 'O', kBase},        {sO, 0xF3, 0xD3, kAcute},    {sO, 0xF2, 0xD2, kGrave},
    {sO, 0xF4, 0xD4, kCircumflex}, {sO, 0xF6, 0xD6, kDiaeresis}, {sO, 0xF5, 0xD5, kTilde},
    {sO, 0xF8, 0xD8, kStroke},    {sO, 0xBA, 0, kOrdinal},
    {sP, 'p', 'P', kBase},
    {sQ, 'q', 'Q', kBase},
    {sR, 'r', 'R', kBase},
    {sS, 's', 'S', kBase},        {sS, 0x9A, 0x8A, kCaron},
    {sT, 't', 'T', kBase},
    {sU, 'u', 'U', kBase},        {sU, 0xFA, 0xDA, kAcute},    {sU, 0xF9, 0xD9, kGrave},
    {sU, 0xFB, 0xDB, kCircumflex}, {sU, 0xFC, 0xDC, kDiaeresis},
    {sV, 'v', 'V', kBase},
    {sW, 'w', 'W', kBase},
    {sX, 'x', 'X', kBase},
    {sY, 'y', 'Y', kBase},        {sY, 0xFD, 0xDD, kAcute},    {sY, 0xFF, 0x9F, kDiaeresis},
    {sZ, 'z', 'Z', kBase},        {sZ, 0x9E, 0x8E, kCaron},
    {sThorn, 0xFE, 0xDE, kBase},
    {sMicro, 0xB5, 0, kBase},
};
// clang-format on

// Ligatures that expand to two letters in the neutral table.
struct Expansion {
  uint8_t lower, upper;
  Slot first, second;
};
constexpr Expansion kExpansions[] = {
    {0xE6, 0xC6, sA, sE},  // æ Æ
    {0x9C, 0x8C, sO, sE},  // œ Œ
    {0xDF, 0, sS, sS},     // ß
};

constexpr uint8_t kHyphenWeight = 2;
constexpr uint8_t kApostropheWeight = 3;

constexpr void SetLetter(Table& t, uint8_t lower, uint8_t upper, uint8_t primary, uint8_t primary2,
                         Diacritic diacritic) {
  t[lower] = Entry{kPlain, primary, primary2, diacritic, kLowerCase, 0};
  if (upper != 0) t[upper] = Entry{kPlain, primary, primary2, diacritic, kUpperCase, 0};
}

constexpr Table BuildNeutralTable() {
  Table t{};
  for (int i = 0; i < kSymbolCount; ++i) {
    t[kSymbolOrder[i]] =
        Entry{kPlain, static_cast<uint8_t>(kFirstSymbol + i), 0, kBase, kLowerCase, 0};
  }
  t[0x2D].kind = kSpecial;
  t[0x2D].special = kHyphenWeight;
  t[0x27].kind = kSpecial;
  t[0x27].special = kApostropheWeight;

  for (int d = 0; d < 10; ++d) {
    t['0' + d] = Entry{kPlain, static_cast<uint8_t>(kFirstDigit + d), 0, kBase, kLowerCase, 0};
  }
  t[0xB9] = Entry{kPlain, kFirstDigit + 1, 0, kSuperscript, kLowerCase, 0};  // ¹
  t[0xB2] = Entry{kPlain, kFirstDigit + 2, 0, kSuperscript, kLowerCase, 0};  // ²
  t[0xB3] = Entry{kPlain, kFirstDigit + 3, 0, kSuperscript, kLowerCase, 0};  // ³

  for (const LetterForm& f : kLetters)
    SetLetter(t, f.lower, f.upper, Letter(f.slot), 0, f.diacritic);
  for (const Expansion& e : kExpansions) {
    SetLetter(t, e.lower, e.upper, Letter(e.first), Letter(e.second), kLigature);
  }
  return t;
}

// Spanish (modern sort): ñ is a letter of its own after n.
constexpr Table BuildSpanishTable() {
  Table t = BuildNeutralTable();
  SetLetter(t, 0xF1, 0xD1, Letter(sNTilde), 0, kBase);
  return t;
}

// Danish and Norwegian: æ ø å after z, with ä beside æ and ö beside ø.
constexpr Table BuildDanishTable() {
  Table t = BuildNeutralTable();
  SetLetter(t, 0xE6, 0xC6, Letter(sNordic1), 0, kBase);
  SetLetter(t, 0xE4, 0xC4, Letter(sNordic1), 0, kDiaeresis);
  SetLetter(t, 0xF8, 0xD8, Letter(sNordic2), 0, kBase);
  SetLetter(t, 0xF6, 0xD6, Letter(sNordic2), 0, kDiaeresis);
  SetLetter(t, 0xE5, 0xC5, Letter(sNordic3), 0, kBase);
  return t;
}

// Swedish and Finnish: å ä ö after z, with æ beside ä and ø beside ö.
constexpr Table BuildSwedishTable() {
  Table t = BuildNeutralTable();
  SetLetter(t, 0xE5, 0xC5, Letter(sNordic1), 0, kBase);
  SetLetter(t, 0xE4, 0xC4, Letter(sNordic2), 0, kBase);
  SetLetter(t, 0xE6, 0xC6, Letter(sNordic2), 0, kLigature);
  SetLetter(t, 0xF6, 0xD6, Letter(sNordic3), 0, kBase);
  SetLetter(t, 0xF8, 0xD8, Letter(sNordic3), 0, kStroke);
  return t;
}

// Every byte from the space up has a weight, except DEL, the five undefined bytes and the soft
// hyphen; below the space nothing has.
constexpr bool EveryCharacterClassified(const Table& t) {
  for (int c = 0; c < 256; ++c) {
    bool ignored = c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 ||
                   c == 0x9D || c == 0xAD;
    if ((t[c].kind == kIgnored) != ignored) return false;
  }
  return true;
}

// Upper- and lower-case partners differ only in their case weight.
constexpr bool CasePartnersAgree(const Table& t) {
  for (int c = 0; c < 256; ++c) {
    const Entry& a = t[c];
    const Entry& b = t[kUpper[c]];
    if (a.kind != b.kind || a.primary != b.primary || a.primary2 != b.primary2 ||
        a.diacritic != b.diacritic) {
      return false;
    }
  }
  return true;
}

constexpr Table kNeutral = BuildNeutralTable();
constexpr Table kSpanish = BuildSpanishTable();
constexpr Table kDanish = BuildDanishTable();
constexpr Table kSwedish = BuildSwedishTable();

static_assert(Letter(sMicro) < 0xFF, "weights must stay single bytes");
static_assert(EveryCharacterClassified(kNeutral));
static_assert(CasePartnersAgree(kNeutral) && CasePartnersAgree(kSpanish) &&
              CasePartnersAgree(kDanish) && CasePartnersAgree(kSwedish));

}  // namespace

class TCollation {
 public:
  explicit constexpr TCollation(const Table& table) : table_(table) {}
  const Table& Weights() const { return table_; }

 private:
  const Table& table_;
};

namespace {

constexpr TCollation kNeutralCollation{kNeutral};
constexpr TCollation kSpanishCollation{kSpanish};
constexpr TCollation kDanishCollation{kDanish};
constexpr TCollation kSwedishCollation{kSwedish};

// ---- comparison ---------------------------------------------------------------------------------

// Positions of special characters are counted in elements and coded in three base-254 digits;
// beyond that (texts of 16 million characters) they saturate, identically in key and compare.
constexpr uint64_t kMaxPosition = 254ull * 254 * 254 - 1;

// Walks the weights of one level (1 primary, 2 diacritic, 3 case) of a text.
class LevelCursor {
 public:
  LevelCursor(const Table& t, std::string_view s, int level, bool word)
      : t_(t), s_(s), level_(level), word_(word) {}

  // The next weight, or 0 at the end of the text.
  uint8_t Next() {
    if (pending_ != 0) {
      uint8_t w = pending_;
      pending_ = 0;
      return w;
    }
    while (i_ < s_.size()) {
      const Entry& e = t_[static_cast<unsigned char>(s_[i_++])];
      if (e.kind == kIgnored || (e.kind == kSpecial && word_)) continue;
      switch (level_) {
        case 1:
          pending_ = e.primary2;
          return e.primary;
        case 2:
          if (e.primary2 != 0) pending_ = kBase;
          return e.diacritic;
        default:
          if (e.primary2 != 0) pending_ = e.letter_case;
          return e.letter_case;
      }
    }
    return 0;
  }

 private:
  const Table& t_;
  std::string_view s_;
  int level_;
  bool word_;
  size_t i_ = 0;
  uint8_t pending_ = 0;
};

// Walks the special characters of a text in word sort: (elements before it, weight).
class SpecialCursor {
 public:
  SpecialCursor(const Table& t, std::string_view s) : t_(t), s_(s) {}

  // False at the end of the text.
  bool Next(uint64_t& position, uint8_t& weight) {
    while (i_ < s_.size()) {
      const Entry& e = t_[static_cast<unsigned char>(s_[i_++])];
      if (e.kind == kPlain) {
        elements_ += e.primary2 != 0 ? 2 : 1;
      } else if (e.kind == kSpecial) {
        position = elements_ < kMaxPosition ? elements_ : kMaxPosition;
        weight = e.special;
        return true;
      }
    }
    return false;
  }

 private:
  const Table& t_;
  std::string_view s_;
  size_t i_ = 0;
  uint64_t elements_ = 0;
};

int CompareLevel(const Table& t, std::string_view a, std::string_view b, int level, bool word) {
  LevelCursor ca(t, a, level, word);
  LevelCursor cb(t, b, level, word);
  for (;;) {
    uint8_t wa = ca.Next();
    uint8_t wb = cb.Next();
    if (wa != wb) return wa < wb ? -1 : 1;  // the end (0) sorts first
    if (wa == 0) return 0;
  }
}

int CompareSpecials(const Table& t, std::string_view a, std::string_view b) {
  SpecialCursor ca(t, a);
  SpecialCursor cb(t, b);
  for (;;) {
    uint64_t pa = 0, pb = 0;
    uint8_t wa = 0, wb = 0;
    bool ha = ca.Next(pa, wa);
    bool hb = cb.Next(pb, wb);
    if (!ha || !hb) return ha == hb ? 0 : (ha ? 1 : -1);
    if (pa != pb) return pa < pb ? -1 : 1;
    if (wa != wb) return wa < wb ? -1 : 1;
  }
}

}  // namespace

const TCollation& NeutralCollation() { return kNeutralCollation; }

const TCollation* FindCollation(uint16_t language_id) {
  switch (language_id) {
    case 0x0409:  // English (United States)
    case 0x0809:  // English (United Kingdom)
    case 0x040C:  // French (France)
    case 0x080C:  // French (Belgium)
    case 0x0C0C:  // French (Canada)
    case 0x100C:  // French (Switzerland)
    case 0x0407:  // German (Germany)
    case 0x0410:  // Italian (Italy)
    case 0x0413:  // Dutch (Netherlands)
      return &kNeutralCollation;
    case 0x0C0A:  // Spanish (Spain, modern sort)
      return &kSpanishCollation;
    case 0x0406:  // Danish
    case 0x0414:  // Norwegian (Bokmål)
      return &kDanishCollation;
    case 0x041D:  // Swedish
    case 0x040B:  // Finnish
      return &kSwedishCollation;
    default:
      return nullptr;
  }
}

int CollateCompare(const TCollation& collation, std::string_view a, std::string_view b,
                   bool ignore_case, TSortMode mode) {
  const Table& t = collation.Weights();
  const bool word = mode == TSortMode::kWord;
  for (int level = 1; level <= 3; ++level) {
    if (level == 3 && ignore_case) break;
    if (int r = CompareLevel(t, a, b, level, word); r != 0) return r;
  }
  return word ? CompareSpecials(t, a, b) : 0;
}

std::string CollateSortKey(const TCollation& collation, std::string_view s, bool ignore_case,
                           TSortMode mode, size_t limit) {
  const Table& t = collation.Weights();
  const bool word = mode == TSortMode::kWord;
  std::string key;
  key.reserve(std::min(s.size() * 3 + 4, limit));
  for (int level = 1; level <= 3; ++level) {
    if (level == 3 && ignore_case) break;
    LevelCursor c(t, s, level, word);
    for (uint8_t w = c.Next(); w != 0 && key.size() < limit; w = c.Next()) {
      key.push_back(static_cast<char>(w));
    }
    if (key.size() >= limit) return key;
    key.push_back('\x01');
  }
  if (word) {
    SpecialCursor c(t, s);
    uint64_t position = 0;
    uint8_t weight = 0;
    while (c.Next(position, weight)) {
      key.push_back(static_cast<char>(2 + position / (254 * 254)));
      key.push_back(static_cast<char>(2 + position / 254 % 254));
      key.push_back(static_cast<char>(2 + position % 254));
      key.push_back(static_cast<char>(weight));
    }
  }
  if (key.size() > limit) key.resize(limit);
  return key;
}

std::string CollatePrimaryWeights(const TCollation& collation, std::string_view s, TSortMode mode) {
  LevelCursor c(collation.Weights(), s, 1, mode == TSortMode::kWord);
  std::string weights;
  for (uint8_t w = c.Next(); w != 0; w = c.Next()) weights.push_back(static_cast<char>(w));
  return weights;
}

int AnsiCompareStr(std::string_view a, std::string_view b) {
  return CollateCompare(kNeutralCollation, a, b, false, TSortMode::kWord);
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  return CollateCompare(kNeutralCollation, a, b, true, TSortMode::kWord);
}

bool AnsiSameText(std::string_view a, std::string_view b) { return AnsiCompareText(a, b) == 0; }

std::string AnsiSortKey(std::string_view s, bool ignore_case) {
  return CollateSortKey(kNeutralCollation, s, ignore_case, TSortMode::kWord);
}

}  // namespace cl
