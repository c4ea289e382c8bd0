#include "engine/storage/values/TextCompare.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "classlib/rtl/Cp1252.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "platform/LocaleInfo.h"

namespace tessera {
namespace {

using namespace std::string_literals;

std::string W(std::string_view utf8) { return cl::Utf8ToCp1252(utf8); }

constexpr uint16_t kFrench = 0x040C;
constexpr uint16_t kEnglish = 0x0409;

int Cmp(uint16_t lang, const std::string& a, const std::string& b, bool ci = false,
        size_t length = 0, cl::TSortMode mode = cl::TSortMode::kWord) {
  return CompareStrings(lang, 0, a.c_str(), ci, length, b.c_str(), mode);
}

TEST(TextCompare, BinaryCompare) {
  const uint8_t a[] = {1, 2, 0xF0}, b[] = {1, 2, 0x10};
  EXPECT_EQ(BinaryCompare(a, b, 3, false), 1);  // unsigned
  EXPECT_EQ(BinaryCompare(a, b, 3, true), -1);
  EXPECT_EQ(BinaryCompare(a, b, 2, false), 0);
  EXPECT_EQ(BinaryCompare(a, b, 0, true), 0);
}

TEST(TextCompare, WithoutLanguageBytesDecide) {
  EXPECT_EQ(Cmp(0, "ab", "abc"), -1);  // over 3 bytes: the terminating zero of "ab" sorts first
  EXPECT_EQ(Cmp(0, "abc", "ab"), 1);
  EXPECT_EQ(Cmp(0, "a", "B"), 1);  // byte order, not linguistic
  EXPECT_EQ(Cmp(0, "abX", "abY", false, 2), 0);
  EXPECT_EQ(Cmp(0, "ab\0x"s, "ab\0y"s, false, 4), -1);  // a given length covers every byte
  EXPECT_EQ(Cmp(0, W("é"), "z"), 1);
  // Ignoring case upper-cases ASCII letters only.
  EXPECT_EQ(Cmp(0, "abc", "ABC", true), 0);
  EXPECT_EQ(Cmp(0, "a_", "A^", true), 1);  // '_' (0x5F) > '^' (0x5E) and stays so
  EXPECT_EQ(Cmp(0, W("é"), W("É"), true), 1);
  // The caller's buffers are never changed.
  char a[] = "mixed Case", b[] = "MIXED CASE";
  EXPECT_EQ(CompareStrings(0, 0, a, true, 0, b), 0);
  EXPECT_STREQ(a, "mixed Case");
  EXPECT_STREQ(b, "MIXED CASE");
  EXPECT_EQ(CompareStrings(kFrench, 0, a, true, 0, b), 0);
  EXPECT_STREQ(a, "mixed Case");
}

// Zero-terminated texts are read no further than their own terminating zero, whichever is
// longer: each lives in a buffer of exactly its own size here.
TEST(TextCompare, WholeTextsReadOnlyTheirOwnBytes) {
  auto exact = [](std::string_view s) {
    auto buffer = std::make_unique<char[]>(s.size() + 1);
    std::memcpy(buffer.get(), s.data(), s.size());
    buffer[s.size()] = 0;
    return buffer;
  };
  const std::string long_text(300, 'x');
  auto shorter = exact("xx");
  auto longer = exact(long_text);
  auto other = exact("xy" + long_text);
  for (bool ci : {false, true}) {
    for (uint16_t lang : {uint16_t{0}, kFrench}) {
      EXPECT_EQ(CompareStrings(lang, 0, shorter.get(), ci, 0, longer.get()), -1);
      EXPECT_EQ(CompareStrings(lang, 0, longer.get(), ci, 0, shorter.get()), 1);
      EXPECT_EQ(CompareStrings(lang, 0, longer.get(), ci, 0, other.get()), -1);
      EXPECT_EQ(CompareStrings(lang, 0, shorter.get(), ci, 0, shorter.get()), 0);
    }
  }
}

TEST(TextCompare, WithLanguageTheCollationDecides) {
  EXPECT_EQ(Cmp(kFrench, "a", "A"), -1);
  EXPECT_EQ(Cmp(kFrench, "A", W("à")), -1);
  EXPECT_EQ(Cmp(kFrench, W("à"), "b"), -1);
  EXPECT_EQ(Cmp(kFrench, W("ÉCOLE"), W("école"), true), 0);
  EXPECT_EQ(Cmp(kFrench, W("ÉCOLE"), W("école"), false), 1);
  EXPECT_EQ(Cmp(kEnglish, "coop", "co-op"), -1);
  EXPECT_EQ(Cmp(kEnglish, "co-op", "coop", false, 0, cl::TSortMode::kString), -1);
  // Zero padding inside a field weighs nothing; fixed-length fields compare whole.
  EXPECT_EQ(Cmp(kFrench, "abc\0\0\0"s, "abc\0\0\0"s, false, 6), 0);
  EXPECT_EQ(Cmp(kFrench, "abc\0\0\0"s, "ab\0\0\0\0"s, false, 6), 1);
  EXPECT_EQ(Cmp(kFrench, "abc\0\0\0"s, "abc"s, false, 4), 0);
  // A language without a table still gives an order, never a failure code.
  const int r = Cmp(0x0419, "b", "a");
  EXPECT_EQ(r, 1);
}

TEST(TextCompare, CaseMapping) {
  EXPECT_EQ(UpperCaseText(kFrench, 0, W("œuvre é ÿ ß µ")), W("ŒUVRE É Ÿ ß µ"));
  EXPECT_EQ(LowerCaseText(kFrench, 0, W("ŒUVRE É Ÿ")), W("œuvre é ÿ"));
  EXPECT_EQ(UpperCaseText(0, 0, W("abc é")), W("ABC é"));
  EXPECT_EQ(LowerCaseText(0, 0, W("ABC É")), W("abc É"));
  char buf[] = "in place";
  UpperCaseText(0, 0, buf, 2, buf);
  EXPECT_STREQ(buf, "IN place");
}

TEST(TextCompare, LocaleIdsAndInstalledLanguages) {
  EXPECT_EQ(MakeLCID(0x040C, 0), 0x040Cu);
  EXPECT_EQ(MakeLCID(0x0409, 1), 0x10409u);
  InitializeEngine();  // the error text names the table through the session
  EXPECT_NO_THROW(CheckLanguageInstalled(0, 0, "T"));
  EXPECT_NO_THROW(CheckLanguageInstalled(kFrench, 0, "T"));
  for (auto [lang, sort] : {std::pair<uint16_t, uint16_t>{0x0419, 0}, {kFrench, 1}}) {
    try {
      CheckLanguageInstalled(lang, sort, "/data/MESSAGES.DAT");
      ADD_FAILURE() << "no error for " << lang;
    } catch (const ETesseraEngineError& e) {
      EXPECT_EQ(e.GetError(0).ErrorCode(), kErrLanguageDriverMissing);
      EXPECT_NE(e.Message().find("MESSAGES"), std::string::npos) << e.Message();
    }
  }
  ShutdownEngine();
  // A language has format data exactly when it has a collation.
  for (uint32_t lang = 1; lang <= 0xFFFF; ++lang) {
    ASSERT_EQ(platform::IsValidLocale(MakeLCID(static_cast<uint16_t>(lang), 0)),
              cl::FindCollation(static_cast<uint16_t>(lang)) != nullptr)
        << lang;
  }
}

// The matcher as first written, recursive, with "%" runs at the end matching an empty rest.
bool ReferenceLike(std::string_view t, std::string_view p) {
  if (!p.empty() && p.find_first_not_of('%') == std::string_view::npos) return true;
  if (t.empty()) return p.empty();
  if (p.empty()) return false;
  if (p[0] == '%') return ReferenceLike(t, p.substr(1)) || ReferenceLike(t.substr(1), p);
  if (p[0] == '_' || p[0] == t[0]) return ReferenceLike(t.substr(1), p.substr(1));
  return false;
}

TEST(TextCompare, LikeMatch) {
  EXPECT_TRUE(LikeMatch("a", "a%"));
  EXPECT_TRUE(LikeMatch("abc", "a%"));
  EXPECT_TRUE(LikeMatch("abc", "a_c"));
  EXPECT_FALSE(LikeMatch("ac", "a_c"));
  EXPECT_FALSE(LikeMatch("abc", "ABC"));
  EXPECT_FALSE(LikeMatch("abcd", "abc"));
  EXPECT_FALSE(LikeMatch("ab", "abc"));
  EXPECT_TRUE(LikeMatch("", ""));
  EXPECT_TRUE(LikeMatch("", "%"));
  EXPECT_TRUE(LikeMatch("", "%%"));  // mended: a run of "%" matches the empty rest
  EXPECT_TRUE(LikeMatch("ab", "ab%%"));
  EXPECT_FALSE(LikeMatch("", "_"));
  EXPECT_TRUE(LikeMatch("Dupont", "%on%"));
  EXPECT_TRUE(LikeMatch("mississippi", "%ss%ss%pi"));
  EXPECT_FALSE(LikeMatch("mississippi", "%ss%ss%ss%"));
  EXPECT_TRUE(LikeMatch(W("Éloïse"), W("É%ï_e")));

  // Same answers as the recursive matcher on every small case.
  std::mt19937 rng(42);
  const char kText[] = "ab";
  const char kPattern[] = "ab%_";
  for (int i = 0; i < 50000; ++i) {
    std::string t, p;
    for (int n = rng() % 7; n > 0; --n) t.push_back(kText[rng() % 2]);
    for (int n = rng() % 6; n > 0; --n) p.push_back(kPattern[rng() % 4]);
    ASSERT_EQ(LikeMatch(t, p), ReferenceLike(t, p)) << t << " LIKE " << p;
  }
}

TEST(TextCompare, LikeMatchPathologicalPatternIsFast) {
  // Exponential for a backtracking recursion: 40 "%a" and a final "b" over 20,000 "a".
  std::string pattern;
  for (int i = 0; i < 40; ++i) pattern += "%a";
  pattern += "%b";
  const std::string text(20000, 'a');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(LikeMatch(text, pattern));
  EXPECT_TRUE(LikeMatch(text + "b", pattern));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(200));
}

}  // namespace
}  // namespace tessera
