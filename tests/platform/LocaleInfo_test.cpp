#include "platform/LocaleInfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "classlib/rtl/Collation.h"

namespace platform {
namespace {

TEST(LocaleInfo, SupportsExactlyTheWindows1252LanguagesWithCollation) {
  const std::vector<uint16_t> expected = {0x0409, 0x0809, 0x040C, 0x080C, 0x0C0C, 0x100C, 0x0407,
                                          0x0410, 0x0C0A, 0x0413, 0x0406, 0x0414, 0x041D, 0x040B};
  const auto ids = SupportedLanguageIds();
  EXPECT_EQ(std::vector<uint16_t>(ids.begin(), ids.end()), expected);
  // Every language that converts texts also compares them, and no other does.
  for (uint32_t id = 0; id <= 0xFFFF; ++id) {
    const bool have = GetLocaleData(static_cast<uint16_t>(id)) != nullptr;
    ASSERT_EQ(have, cl::FindCollation(static_cast<uint16_t>(id)) != nullptr) << std::hex << id;
    ASSERT_EQ(IsValidLocale(id), have);
    ASSERT_FALSE(IsValidLocale(id | 0x10000)) << "sort id 1";
  }
}

// Consistency of each entry: a typo in the table shows here.
TEST(LocaleInfo, EntriesAreWellFormed) {
  for (const uint16_t id : SupportedLanguageIds()) {
    const LocaleData& d = *GetLocaleData(id);
    SCOPED_TRACE(std::string(d.tag));
    EXPECT_EQ(d.language_id, id);
    EXPECT_EQ(d.decimal_separator.size(), 1u);
    EXPECT_EQ(d.thousand_separator.size(), 1u);
    EXPECT_NE(d.decimal_separator, d.thousand_separator);
    EXPECT_EQ(d.date_separator.size(), 1u);
    EXPECT_EQ(d.time_separator, ":");
    EXPECT_LE(d.currency_format, 3);
    EXPECT_LE(d.negative_currency_format, 15);
    EXPECT_EQ(d.currency_digits, 2);
    // The short date has day, month and four-digit year, joined by the date separator.
    const std::string_view f = d.short_date_format;
    EXPECT_NE(f.find('d'), std::string_view::npos);
    EXPECT_NE(f.find('M'), std::string_view::npos);
    EXPECT_NE(f.find("yyyy"), std::string_view::npos);
    for (char c : f) {
      if (c != 'd' && c != 'M' && c != 'y') {
        EXPECT_EQ(std::string(1, c), d.date_separator);
      }
    }
    EXPECT_EQ(d.am_string.empty(), d.pm_string.empty());
    EXPECT_EQ(d.clock_24_hour, d.am_string.empty() || id == 0x0809);
    for (const auto& name : d.long_month_names) EXPECT_FALSE(name.empty());
    for (size_t i = 0; i < 12; ++i) {
      EXPECT_LE(d.short_month_names[i].size(), d.long_month_names[i].size() + 1);
    }
    for (const auto& name : d.long_day_names) EXPECT_GT(name.size(), 3u);
    for (const auto& name : d.short_day_names) EXPECT_FALSE(name.empty());
  }
  const LocaleData& fr = *GetLocaleData(0x040C);
  EXPECT_EQ(fr.short_date_format, "dd/MM/yyyy");
  EXPECT_EQ(fr.decimal_separator, ",");
  EXPECT_EQ(fr.thousand_separator, "\xA0");
  EXPECT_EQ(fr.currency_string, "\x80");
  EXPECT_EQ(fr.long_month_names[1], "f\xE9vrier");
  EXPECT_EQ(fr.short_month_names[11],
            "d\xE9"
            "c.");
  EXPECT_TRUE(fr.hour_leading_zero);
  const LocaleData& us = *GetLocaleData(0x0409);
  EXPECT_EQ(us.short_date_format, "M/d/yyyy");
  EXPECT_FALSE(us.clock_24_hour);
  EXPECT_EQ(us.long_day_names[0], "Sunday");
  EXPECT_EQ(GetLocaleData(0x0419), nullptr);
}

// Sets or clears environment variables for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(LocaleInfo, UserLanguageFromTheEnvironment) {
  ScopedEnv o("MIRVEL_LANGID", nullptr), a("LC_ALL", nullptr), c("LC_COLLATE", nullptr),
      l("LANG", nullptr);
  EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
  {
    ScopedEnv lang("LANG", "fr_CA.UTF-8");
    EXPECT_EQ(GetUserDefaultLangID(), 0x040C);
    ScopedEnv collate("LC_COLLATE", "C");  // the first one set decides
    EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
    ScopedEnv all("LC_ALL", "fr_FR.UTF-8");
    EXPECT_EQ(GetUserDefaultLangID(), 0x040C);
    ScopedEnv empty_all("LC_ALL", "");  // empty counts as unset
    EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
  }
  ScopedEnv all("LC_ALL", "fr_FR.UTF-8");
  for (const auto& [value, expect] :
       std::vector<std::pair<const char*, uint16_t>>{{"0x0407", 0x0407},
                                                     {"041D", 0x041D},
                                                     {"0X0C0A", 0x0C0A},
                                                     {"0x0419", 0x040C},  // not supported: ignored
                                                     {"german", 0x040C},
                                                     {"0x10407", 0x040C},
                                                     {"", 0x040C}}) {
    ScopedEnv override_id("MIRVEL_LANGID", value);
    EXPECT_EQ(GetUserDefaultLangID(), expect) << value;
  }
}

}  // namespace
}  // namespace platform
