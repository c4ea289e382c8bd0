// TConstFormats pins chosen members of the class library's current format set (currency, date
// and time formats) to values stored with the form, whatever the workstation's regional settings
// say.  The application pins the short date format to "dd/MM/yyyy".
//
// It acts on the current set of the user interface only (cl::CurrentFormatSettings, replaced as
// a whole); the engine converts under its own fixed formats, which nothing here touches.
//
// Rules:
//   SetAllowSetting(other set)  reload the regional settings, then apply each member of the set;
//   Set<Property>(value)        store; while loading nothing more; otherwise, when the current
//                               setting differs, overwrite it and add the member to AllowSetting;
//   Loaded / ApplySettings      AllowSetting set to [] and back (reload, then apply);
//   RestoreDefaults             reload the regional settings.
//
// Threads: GUI thread only.
#pragma once

#include <functional>
#include <string>

#include "classlib/rtl/FormatSettings.h"
#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/TSet.h"

namespace comp {

// In bit order; each member pins the property of the same name.
enum TConstFormat {
  cfCurrencyString,
  cfCurrencyFormat,
  cfNegCurrFormat,
  cfThousandSeparator,
  cfDecimalSeparator,
  cfCurrencyDecimals,
  cfDateSeparator,
  cfShortDateFormat,
  cfLongDateFormat,
  cfTimeSeparator,
  cfTimeAMString,
  cfTimePMString,
  cfShortTimeFormat,
  cfLongTimeFormat,
};
using TConstFormatsSet = cl::TSet<TConstFormat>;

// Where "the workstation's regional settings" come from: cl::SystemFormatSettings unless a test
// installs another profile.  An empty function restores the default.
void SetRegionalSettingsSource(std::function<cl::TFormatSettings()> source);

class TConstFormats : public cl::TComponent {
 public:
  // The stored values start as the current set's.
  explicit TConstFormats(cl::TComponent* owner);

  TConstFormatsSet AllowSetting() const { return allow_; }
  void SetAllowSetting(TConstFormatsSet allow);

  const std::string& CurrencyString() const { return values_.CurrencyString; }
  void SetCurrencyString(const std::string& v);
  uint8_t CurrencyFormat() const { return values_.CurrencyFormat; }
  void SetCurrencyFormat(uint8_t v);
  uint8_t NegCurrFormat() const { return values_.NegCurrFormat; }
  void SetNegCurrFormat(uint8_t v);
  char ThousandSeparator() const { return values_.ThousandSeparator; }
  void SetThousandSeparator(char v);
  char DecimalSeparator() const { return values_.DecimalSeparator; }
  void SetDecimalSeparator(char v);
  uint8_t CurrencyDecimals() const { return values_.CurrencyDecimals; }
  void SetCurrencyDecimals(uint8_t v);
  char DateSeparator() const { return values_.DateSeparator; }
  void SetDateSeparator(char v);
  const std::string& ShortDateFormat() const { return values_.ShortDateFormat; }
  void SetShortDateFormat(const std::string& v);
  const std::string& LongDateFormat() const { return values_.LongDateFormat; }
  void SetLongDateFormat(const std::string& v);
  char TimeSeparator() const { return values_.TimeSeparator; }
  void SetTimeSeparator(char v);
  const std::string& TimeAMString() const { return values_.TimeAMString; }
  void SetTimeAMString(const std::string& v);
  const std::string& TimePMString() const { return values_.TimePMString; }
  void SetTimePMString(const std::string& v);
  const std::string& ShortTimeFormat() const { return values_.ShortTimeFormat; }
  void SetShortTimeFormat(const std::string& v);
  const std::string& LongTimeFormat() const { return values_.LongTimeFormat; }
  void SetLongTimeFormat(const std::string& v);

  void ApplySettings();
  void RestoreDefaults();

 protected:
  void Loaded() override;

 private:
  template <auto Field, class V>
  void SetMember(TConstFormat member, const V& value);
  void Changed(TConstFormat member);

  TConstFormatsSet allow_;
  cl::TFormatSettings values_;  // only the 14 pinned fields are used
};

}  // namespace comp
