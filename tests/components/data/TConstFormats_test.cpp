#include "components/data/TConstFormats.h"

#include <gtest/gtest.h>

#include <functional>
#include <type_traits>

#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/Loader.h"
#include "engine/storage/values/EngineFormats.h"

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

  // Set at run time: applied and allowed; setting the value the current set already holds
  // changes nothing (it does not join the set).
  module.formats->SetTimeAMString("matin");
  EXPECT_EQ(cl::CurrentFormatSettings().TimeAMString, "matin");
  EXPECT_TRUE(module.formats->AllowSetting() ==
              (TConstFormatsSet{cfShortDateFormat, cfTimeAMString}));
  const cl::TFormatSettings pinned = cl::CurrentFormatSettings();
  module.formats->SetTimeAMString("matin");
  module.formats->SetCurrencyString("$");
  EXPECT_TRUE(cl::CurrentFormatSettings() == pinned);
  EXPECT_EQ(module.formats->CurrencyString(), "$");
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

// One member of the set: its setter and the field of the format set it pins, with a value that
// differs from the workstation's.
struct MemberCase {
  TConstFormat member;
  std::function<void(TConstFormats&)> set;
  std::function<void(cl::TFormatSettings&)> pin;
};

template <class S, class V>
MemberCase Member(TConstFormat member, void (TConstFormats::*setter)(S),
                  V cl::TFormatSettings::*field, std::type_identity_t<V> value) {
  return {member, [=](TConstFormats& f) { (f.*setter)(value); },
          [=](cl::TFormatSettings& s) { s.*field = value; }};
}

TEST_F(TConstFormatsTest, EveryMemberPinsItsFieldAndTheEngineFormatsStayFixed) {
  using F = cl::TFormatSettings;
  using C = TConstFormats;
  // In bit order, as stored forms number them.
  const MemberCase cases[] = {
      Member(cfCurrencyString, &C::SetCurrencyString, &F::CurrencyString, "\x80"),
      Member(cfCurrencyFormat, &C::SetCurrencyFormat, &F::CurrencyFormat, 1),
      Member(cfNegCurrFormat, &C::SetNegCurrFormat, &F::NegCurrFormat, 5),
      Member(cfThousandSeparator, &C::SetThousandSeparator, &F::ThousandSeparator, '.'),
      Member(cfDecimalSeparator, &C::SetDecimalSeparator, &F::DecimalSeparator, ','),
      Member(cfCurrencyDecimals, &C::SetCurrencyDecimals, &F::CurrencyDecimals, 3),
      Member(cfDateSeparator, &C::SetDateSeparator, &F::DateSeparator, '-'),
      Member(cfShortDateFormat, &C::SetShortDateFormat, &F::ShortDateFormat, "dd/MM/yyyy"),
      Member(cfLongDateFormat, &C::SetLongDateFormat, &F::LongDateFormat, "d MMMM yyyy"),
      Member(cfTimeSeparator, &C::SetTimeSeparator, &F::TimeSeparator, '.'),
      Member(cfTimeAMString, &C::SetTimeAMString, &F::TimeAMString, "matin"),
      Member(cfTimePMString, &C::SetTimePMString, &F::TimePMString, "soir"),
      Member(cfShortTimeFormat, &C::SetShortTimeFormat, &F::ShortTimeFormat, "HH:mm"),
      Member(cfLongTimeFormat, &C::SetLongTimeFormat, &F::LongTimeFormat, "HH:mm:ss"),
  };
  const F workstation = AmericanSettings();
  const F engine_fixed = tessera::FixedFormatSettings();
  F all_pinned = workstation;
  TConstFormats every(nullptr);
  for (int i = 0; i < 14; ++i) {
    const MemberCase& c = cases[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(c.member, i);
    F pinned = workstation;
    c.pin(pinned);
    ASSERT_FALSE(pinned == workstation);
    c.pin(all_pinned);

    cl::SetCurrentFormatSettings(workstation);
    TConstFormats formats(nullptr);
    c.set(formats);
    EXPECT_TRUE(cl::CurrentFormatSettings() == pinned);
    EXPECT_TRUE(formats.AllowSetting() == TConstFormatsSet{c.member});
    formats.RestoreDefaults();
    EXPECT_TRUE(cl::CurrentFormatSettings() == workstation);
    formats.ApplySettings();
    EXPECT_TRUE(cl::CurrentFormatSettings() == pinned);
    formats.RestoreDefaults();
    c.set(every);
  }
  every.ApplySettings();
  EXPECT_TRUE(cl::CurrentFormatSettings() == all_pinned);
  EXPECT_TRUE(
      every.AllowSetting() ==
      TConstFormatsSet({cfCurrencyString, cfCurrencyFormat, cfNegCurrFormat, cfThousandSeparator,
                        cfDecimalSeparator, cfCurrencyDecimals, cfDateSeparator, cfShortDateFormat,
                        cfLongDateFormat, cfTimeSeparator, cfTimeAMString, cfTimePMString,
                        cfShortTimeFormat, cfLongTimeFormat}));

  // The engine converts tables without a language under its own set, which none of this reaches.
  const F& fixed = tessera::FixedFormatSettings();
  EXPECT_TRUE(fixed == engine_fixed);
  EXPECT_TRUE(tessera::BuildEngineFormatSettings(0, 0) == engine_fixed);
  EXPECT_EQ(fixed.ShortDateFormat, "M/d/yyyy");
  EXPECT_EQ(fixed.DecimalSeparator, '.');
  EXPECT_EQ(fixed.LongTimeFormat, "h:mm:ss AMPM");
}

}  // namespace
}  // namespace comp
