#include "classlib/rtl/Collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "classlib/rtl/Cp1252.h"

namespace cl {
namespace {

// Texts in these tests are written in UTF-8 and turned into Windows-1252.
std::string W(std::string_view utf8) { return Utf8ToCp1252(utf8); }

std::vector<std::string> Words(std::string_view utf8_list) {
  std::vector<std::string> out;
  std::istringstream in{std::string(utf8_list)};
  for (std::string w; in >> w;) out.push_back(W(w));
  return out;
}

int Sign(int v) { return (v > 0) - (v < 0); }

int KeyCompare(const std::string& a, const std::string& b) { return Sign(a.compare(b)); }

// Checks that `list` is strictly ascending under the collation, pair by pair and by sort key.
void ExpectAscending(const TCollation& c, const std::vector<std::string>& list, bool ignore_case,
                     TSortMode mode) {
  for (size_t i = 1; i < list.size(); ++i) {
    const std::string& a = list[i - 1];
    const std::string& b = list[i];
    EXPECT_EQ(CollateCompare(c, a, b, ignore_case, mode), -1)
        << Cp1252ToUtf8(a) << " < " << Cp1252ToUtf8(b);
    EXPECT_EQ(CollateCompare(c, b, a, ignore_case, mode), 1)
        << Cp1252ToUtf8(b) << " > " << Cp1252ToUtf8(a);
    EXPECT_LT(CollateSortKey(c, a, ignore_case, mode), CollateSortKey(c, b, ignore_case, mode))
        << Cp1252ToUtf8(a) << " key < " << Cp1252ToUtf8(b);
  }
}

// ---- case mapping -------------------------------------------------------------------------------

TEST(Collation, UpperCaseTableIsExact) {
  // Written out by hand: every byte whose upper case differs from itself, and its partner.
  std::vector<std::pair<int, int>> pairs = {{0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}};
  for (int c = 'a'; c <= 'z'; ++c) pairs.push_back({c, c - 32});
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c != 0xF7) pairs.push_back({c, c - 32});
  }
  int expected_upper[256];
  int expected_lower[256];
  for (int c = 0; c < 256; ++c) expected_upper[c] = expected_lower[c] = c;
  for (auto [lower, upper] : pairs) {
    expected_upper[lower] = upper;
    expected_lower[upper] = lower;
  }
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(AnsiUpperChar(static_cast<unsigned char>(c)), expected_upper[c]) << c;
    EXPECT_EQ(AnsiLowerChar(static_cast<unsigned char>(c)), expected_lower[c]) << c;
  }
  EXPECT_EQ(AnsiUpperChar(0xDF), 0xDF);  // ß
  EXPECT_EQ(AnsiUpperChar(0xB5), 0xB5);  // µ
  EXPECT_EQ(AnsiUpperChar(0xF7), 0xF7);  // ÷
  EXPECT_EQ(AnsiLowerChar(0xD7), 0xD7);  // ×
  EXPECT_EQ(AnsiUpperCase(W("àéîõüœšžÿ çñ ß")), W("ÀÉÎÕÜŒŠŽŸ ÇÑ ß"));
  EXPECT_EQ(AnsiLowerCase(W("ÀÉÎÕÜŒŠŽŸ ÇÑ")), W("àéîõüœšžÿ çñ"));
}

// ---- golden order (frozen: index pages store keys in it) ----------------------------------------

TEST(Collation, GoldenOrderOfEveryCharacter) {
  std::vector<std::string> golden = {" ", "\xA0"};
  for (std::string& w : Words(
           R"(! ¡ " “ ” „ « » # % ‰ & ' ‘ ’ ‚ ‹ › ( ) * , - – — . … / : ; ? ¿ @ [ \ ] ^ ˆ _ ` ´ ¨
              ¯ ¸ ˜ { | ¦ } ~ · • † ‡ § ¶ © ® ™ ° + ± < = > ¬ × ÷ ¤ ¢ $ £ ¥ € ¼ ½ ¾
              0 1 ¹ 2 ² 3 ³ 4 5 6 7 8 9
              a A á Á à À â Â å Å ä Ä ã Ã ª æ Æ b B c C ç Ç d D ð Ð e E é É è È ê Ê ë Ë f F ƒ
              g G h H i I í Í ì Ì î Î ï Ï j J k K l L m M n N ñ Ñ o O ó Ó ò Ò ô Ô ö Ö õ Õ ø Ø º
              œ Œ p P q Q r R s S š Š ß t T u U ú Ú ù Ù û Û ü Ü v V w W x X y Y ý Ý ÿ Ÿ z Z ž Ž
              þ Þ µ)")) {
    golden.push_back(std::move(w));
  }
  // Every byte with a weight appears exactly once.
  ASSERT_EQ(golden.size(), 256u - 32 - 7);
  ExpectAscending(NeutralCollation(), golden, false, TSortMode::kString);
}

TEST(Collation, GoldenFrenchAndEnglishWords) {
  const TCollation& fr = *FindCollation(0x040C);
  ExpectAscending(fr,
                  Words("a A à b coeur cœur coeurs cote coté côte côté elan Elan élan Élan "
                        "élevé élève Élève être Être étude zèbre"),
                  false, TSortMode::kWord);
  const TCollation& en = *FindCollation(0x0409);
  ExpectAscending(en,
                  Words("1 10 2 a A ant Ant cant can't co-op co'op coo-p coops coop's "
                        "naive naïve résumé resume-writing Straße strasse_ zoo"),
                  false, TSortMode::kWord);
  EXPECT_EQ(CollateCompare(en, "coop", "co-op", false, TSortMode::kWord), -1);
  // The same text in string sort: the hyphen is a symbol, before every letter.
  EXPECT_EQ(CollateCompare(en, "co-op", "coop", false, TSortMode::kString), -1);
  EXPECT_EQ(CollateCompare(en, "co-op", "co op", false, TSortMode::kString), 1);
}

TEST(Collation, GoldenNordicAndSpanish) {
  ExpectAscending(*FindCollation(0x0406), Words("zebra Zebra æble Æble ære ø Ø øl åben Åben"),
                  false, TSortMode::kWord);
  ExpectAscending(*FindCollation(0x0414), Words("z æ ä ø ö å"), false, TSortMode::kWord);
  ExpectAscending(*FindCollation(0x041D), Words("z Z å Å ä Ä æ ö Ö ø"), false, TSortMode::kWord);
  ExpectAscending(*FindCollation(0x040B), Words("yö zoo ålänning äiti öljy"), false,
                  TSortMode::kWord);
  // Swedish: ä and æ, ö and ø share the letter and differ only by their mark.
  const TCollation& sv = *FindCollation(0x041D);
  EXPECT_EQ(CollateCompare(sv, W("äb"), W("æa"), false, TSortMode::kWord), 1);
  EXPECT_EQ(CollateCompare(sv, W("öb"), W("øa"), false, TSortMode::kWord), 1);
  // Spanish: ñ is a letter after n; in the neutral order it is an n with a tilde.
  ExpectAscending(*FindCollation(0x0C0A), Words("nada nz ñandú Ñu oso"), false, TSortMode::kWord);
  ExpectAscending(NeutralCollation(), Words("nada ñandú nz oso"), false, TSortMode::kWord);
}

TEST(Collation, LanguagesAndNeutralTable) {
  for (uint16_t lang : {0x0409, 0x0809, 0x040C, 0x080C, 0x0C0C, 0x100C, 0x0407, 0x0410, 0x0413}) {
    EXPECT_EQ(FindCollation(lang), &NeutralCollation()) << lang;
  }
  for (uint16_t lang : {0x0C0A, 0x0406, 0x0414, 0x041D, 0x040B}) {
    EXPECT_NE(FindCollation(lang), nullptr) << lang;
    EXPECT_NE(FindCollation(lang), &NeutralCollation()) << lang;
  }
  for (uint16_t lang : {0x0000, 0x0419, 0x0411, 0x040A, 0x0816, 0x0009}) {
    EXPECT_EQ(FindCollation(static_cast<uint16_t>(lang)), nullptr) << lang;
  }
}

// ---- levels -------------------------------------------------------------------------------------

TEST(Collation, LigaturesEqualTheirLettersAtThePrimaryLevel) {
  // The primary level is the sort key up to the first separator.
  auto primary = [](std::string_view s) {
    std::string key = AnsiSortKey(s, true);
    return key.substr(0, key.find('\x01'));
  };
  EXPECT_EQ(primary(W("æ")), primary("ae"));
  EXPECT_EQ(primary(W("Œuvre")), primary("oeuvre"));
  EXPECT_EQ(primary(W("Straße")), primary("STRASSE"));
  EXPECT_NE(AnsiCompareStr(W("æ"), "ae"), 0);
  EXPECT_NE(AnsiCompareText(W("ß"), "ss"), 0);
  // The primary level outweighs the mark of the ligature.
  EXPECT_EQ(AnsiCompareStr(W("æb"), "aec"), -1);
  EXPECT_EQ(AnsiCompareStr(W("aec"), W("æd")), -1);
}

TEST(Collation, ControlCharactersAndZeroPaddingHaveNoWeight) {
  using namespace std::string_literals;
  EXPECT_EQ(AnsiCompareStr("abc\0\0\0\0"s, "abc"), 0);
  EXPECT_EQ(AnsiCompareStr("a\x01"
                           "b\x1F\x7F"s,
                           "ab"),
            0);
  EXPECT_EQ(AnsiCompareStr("ab\0\0"s, "abc\0"s), -1);
  EXPECT_EQ(AnsiSortKey("abc\0\0"s, false), AnsiSortKey("abc", false));
  EXPECT_EQ(AnsiSortKey("co-op", false).find('\0'), std::string::npos);
}

TEST(Collation, IgnoreCase) {
  EXPECT_TRUE(AnsiSameText(W("ÉCOLE"), W("école")));
  EXPECT_FALSE(AnsiSameText(W("ECOLE"), W("école")));
  EXPECT_TRUE(AnsiSameText(W("ŒUVRE-ŸSÉ"), W("œuvre-ÿsé")));
  EXPECT_NE(AnsiCompareStr("Abc", "abc"), 0);
  EXPECT_EQ(AnsiCompareStr("abc", "Abc"), -1);
  EXPECT_EQ(AnsiCompareText("abd", "ABC"), 1);
  EXPECT_EQ(AnsiCompareText("co-op", "COOP"), 1);
}

// ---- properties over random text ----------------------------------------------------------------

bool Ignorable(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D ||
         c == 0xAD;
}

std::string WithoutIgnorables(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (!Ignorable(static_cast<unsigned char>(c))) out.push_back(c);
  }
  return out;
}

// Texts over a small alphabet collide often at every level; texts over all bytes cover the table.
std::string RandomText(std::mt19937& rng) {
  static const std::string kSmall = W("aAàÀeEéæÆsSßoOœ-' \x01") + std::string(1, '\0');
  std::uniform_int_distribution<int> len(0, 6);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(kSmall.size()) - 1);
  std::uniform_int_distribution<int> byte(0, 255);
  const bool small = rng() % 4 != 0;
  std::string s;
  for (int n = len(rng); n > 0; --n) {
    s.push_back(small ? kSmall[pick(rng)] : static_cast<char>(byte(rng)));
  }
  return s;
}

TEST(Collation, RandomTextsFormATotalOrderMatchingTheirKeys) {
  std::mt19937 rng(1105);
  for (const TCollation* c : {&NeutralCollation(), FindCollation(0x041D)}) {
    for (TSortMode mode : {TSortMode::kWord, TSortMode::kString}) {
      for (bool ignore_case : {false, true}) {
        std::vector<std::string> texts(20000);
        for (std::string& t : texts) t = RandomText(rng);
        auto cmp = [&](const std::string& a, const std::string& b) {
          return CollateCompare(*c, a, b, ignore_case, mode);
        };
        // Antisymmetry, and agreement with the sort keys, on random pairs.
        for (size_t i = 0; i + 1 < texts.size(); i += 2) {
          const std::string& a = texts[i];
          const std::string& b = texts[i + 1];
          ASSERT_EQ(cmp(a, b), -cmp(b, a));
          ASSERT_EQ(cmp(a, b), KeyCompare(CollateSortKey(*c, a, ignore_case, mode),
                                          CollateSortKey(*c, b, ignore_case, mode)));
        }
        // Transitivity on random triples.
        for (size_t i = 0; i + 2 < texts.size(); i += 3) {
          int ab = cmp(texts[i], texts[i + 1]);
          int bc = cmp(texts[i + 1], texts[i + 2]);
          int ac = cmp(texts[i], texts[i + 2]);
          if (ab <= 0 && bc <= 0) {
            ASSERT_LE(ac, 0);
          }
          if (ab == 0 && bc == 0) {
            ASSERT_EQ(ac, 0);
          }
          if (ab >= 0 && bc >= 0) {
            ASSERT_GE(ac, 0);
          }
        }
        // Sorted by the comparison, neighbours agree with the keys.
        std::sort(texts.begin(), texts.end(),
                  [&](const std::string& a, const std::string& b) { return cmp(a, b) < 0; });
        for (size_t i = 1; i < texts.size(); ++i) {
          ASSERT_LE(cmp(texts[i - 1], texts[i]), 0);
          ASSERT_EQ(cmp(texts[i - 1], texts[i]),
                    KeyCompare(CollateSortKey(*c, texts[i - 1], ignore_case, mode),
                               CollateSortKey(*c, texts[i], ignore_case, mode)));
        }
      }
    }
  }
}

// What a prefix search of an index relies on: in the case-sensitive order, the texts whose
// primary weights begin with a prefix's are one unbroken run, and every text that begins with the
// prefix's characters sorts at or after the prefix.
TEST(Collation, PrimaryWeightRunsAreUnbroken) {
  std::mt19937 rng(130);
  for (const TCollation* c : {&NeutralCollation(), FindCollation(0x0406)}) {
    for (TSortMode mode : {TSortMode::kWord, TSortMode::kString}) {
      std::vector<std::string> texts(3000);
      for (std::string& t : texts) t = RandomText(rng);
      auto cmp = [&](const std::string& a, const std::string& b) {
        return CollateCompare(*c, a, b, false, mode);
      };
      std::sort(texts.begin(), texts.end(),
                [&](const std::string& a, const std::string& b) { return cmp(a, b) < 0; });
      std::vector<std::string> weights;
      for (const std::string& t : texts) {
        weights.push_back(CollatePrimaryWeights(*c, t, mode));
        const std::string key = CollateSortKey(*c, t, true, mode);
        ASSERT_EQ(weights.back(), key.substr(0, key.find('\x01')));
      }
      for (size_t i = 0; i < texts.size(); i += 7) {
        const std::string prefix = texts[i].substr(0, texts[i].size() / 2);
        const std::string run = CollatePrimaryWeights(*c, prefix, mode);
        size_t first = texts.size(), last = 0;
        for (size_t j = 0; j < texts.size(); ++j) {
          if (texts[j].starts_with(prefix)) {
            ASSERT_TRUE(weights[j].starts_with(run)) << Cp1252ToUtf8(texts[j]);
            ASSERT_LE(cmp(prefix, texts[j]), 0) << Cp1252ToUtf8(texts[j]);
          }
          if (!weights[j].starts_with(run)) continue;
          first = std::min(first, j);
          last = j;
        }
        for (size_t j = first; j <= last; ++j) {
          ASSERT_TRUE(weights[j].starts_with(run))
              << Cp1252ToUtf8(prefix) << " run broken by " << Cp1252ToUtf8(texts[j]);
        }
      }
    }
  }
}

TEST(Collation, IgnoreCaseEqualityIsUpperCaseEquality) {
  std::mt19937 rng(252);
  int equal_pairs = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string a = RandomText(rng);
    std::string b = RandomText(rng);
    if (i % 3 == 0) {  // a case variant of a
      b = a;
      for (char& ch : b) {
        if (rng() % 2) ch = static_cast<char>(AnsiUpperChar(static_cast<unsigned char>(ch)));
      }
    }
    const bool same = AnsiUpperCase(WithoutIgnorables(a)) == AnsiUpperCase(WithoutIgnorables(b));
    ASSERT_EQ(AnsiCompareText(a, b) == 0, same) << Cp1252ToUtf8(a) << " / " << Cp1252ToUtf8(b);
    ASSERT_EQ(AnsiCompareStr(a, b) == 0, WithoutIgnorables(a) == WithoutIgnorables(b));
    equal_pairs += same;
  }
  EXPECT_GT(equal_pairs, 60000);
}

}  // namespace
}  // namespace cl
