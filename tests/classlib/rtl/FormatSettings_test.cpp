#include "classlib/rtl/FormatSettings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "FormatSettingsFixtures.h"

namespace cl {
namespace {

TEST(FormatSettings, SystemProfileIsTheFrenchOne) {
  const TFormatSettings s = SystemFormatSettings();
  EXPECT_EQ(s.ShortDateFormat, "dd/MM/yyyy");
  EXPECT_EQ(s.DecimalSeparator, ',');
  EXPECT_EQ(s.ThousandSeparator, '\xA0');
  EXPECT_EQ(s.LongMonthNames[1], "f\xE9vrier");
  EXPECT_EQ(s.LongDayNames[0], "dimanche");
}

// Readers of the current set see either the old or the new set, never a mixture.
TEST(FormatSettings, CurrentSetChangesAsAWhole) {
  const TFormatSettings saved = CurrentFormatSettings();
  const TFormatSettings a = testing::EnglishSettings();
  const TFormatSettings b = testing::FrenchSettings();
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop) {
      const TFormatSettings s = CurrentFormatSettings();
      if (!(s == a) && !(s == b)) ++torn;
    }
  });
  for (int i = 0; i < 20000; ++i) SetCurrentFormatSettings(i % 2 ? a : b);
  stop = true;
  reader.join();
  EXPECT_EQ(torn, 0);
  SetCurrentFormatSettings(saved);
  EXPECT_EQ(CurrentFormatSettings(), saved);
}

}  // namespace
}  // namespace cl
