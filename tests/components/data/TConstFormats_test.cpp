#include "components/data/TConstFormats.h"

#include <gtest/gtest.h>

#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/Loader.h"

namespace comp {
namespace {

// A workstation whose own formats are the American ones.
cl::TFormatSettings AmericanSettings() {
  cl::TFormatSettings s = cl::SystemFormatSettings();
  s.CurrencyString = "$";
  s.ThousandSeparator = ',';
  s.DecimalSeparator = '.';
  s.ShortDateFormat = "M/d/yyyy";
  s.TimeAMString = "AM";
  return s;
}

class TConstFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRegionalSettingsSource(AmericanSettings);
    cl::SetCurrentFormatSettings(AmericanSettings());
  }
  void TearDown() override {
    SetRegionalSettingsSource(nullptr);
    cl::SetCurrentFormatSettings(cl::SystemFormatSettings());
  }
};

class TFormsModule : public cl::TComponent {
 public:
  TFormsModule() : cl::TComponent(nullptr) {
    cl::TLoader loader(this);
    formats = loader.Create<TConstFormats>(this, "ConstFormats");
    formats->SetShortDateFormat("dd/MM/yyyy");
    formats->SetDecimalSeparator(',');  // stored, not allowed
    formats->SetAllowSetting({cfShortDateFormat});
    loader.Finish();
  }
  TConstFormats* formats;
};

TEST_F(TConstFormatsTest, LoadedFormPinsOnlyTheAllowedMembers) {
  TFormsModule module;
  const cl::TFormatSettings current = cl::CurrentFormatSettings();
  EXPECT_EQ(current.ShortDateFormat, "dd/MM/yyyy");
  EXPECT_EQ(current.DecimalSeparator, '.');  // still the workstation's
  EXPECT_EQ(current.CurrencyString, "$");
  EXPECT_EQ(cl::DateToStr(cl::EncodeDate(2026, 4, 3)), "03/04/2026");
  EXPECT_TRUE(module.formats->AllowSetting() == TConstFormatsSet{cfShortDateFormat});

  // Set at run time: applied and allowed; setting the same value again changes nothing.
  module.formats->SetTimeAMString("matin");
  EXPECT_EQ(cl::CurrentFormatSettings().TimeAMString, "matin");
  EXPECT_TRUE(module.formats->AllowSetting() ==
              (TConstFormatsSet{cfShortDateFormat, cfTimeAMString}));

  // Another set: the workstation's formats come back, then the new set is applied.
  module.formats->SetAllowSetting({cfDecimalSeparator});
  EXPECT_EQ(cl::CurrentFormatSettings().ShortDateFormat, "M/d/yyyy");
  EXPECT_EQ(cl::CurrentFormatSettings().DecimalSeparator, ',');
  EXPECT_EQ(cl::CurrentFormatSettings().TimeAMString, "AM");

  module.formats->RestoreDefaults();
  EXPECT_TRUE(cl::CurrentFormatSettings() == AmericanSettings());
  module.formats->ApplySettings();
  EXPECT_EQ(cl::CurrentFormatSettings().DecimalSeparator, ',');
}

}  // namespace
}  // namespace comp
