#include "components/data/TConstFormats.h"

#include <array>

namespace comp {
namespace {

using cl::TFormatSettings;

std::function<TFormatSettings()>& RegionalSource() {
  static std::function<TFormatSettings()> source;
  return source;
}

TFormatSettings RegionalSettings() {
  return RegionalSource() ? RegionalSource()() : cl::SystemFormatSettings();
}

struct MemberOps {
  void (*copy)(const TFormatSettings& from, TFormatSettings& to);
  bool (*same)(const TFormatSettings& a, const TFormatSettings& b);
};

template <auto Field>
constexpr MemberOps Ops() {
  return {[](const TFormatSettings& from, TFormatSettings& to) { to.*Field = from.*Field; },
          [](const TFormatSettings& a, const TFormatSettings& b) { return a.*Field == b.*Field; }};
}

// Indexed by TConstFormat.
constexpr std::array<MemberOps, 14> kMembers = {
    Ops<&TFormatSettings::CurrencyString>(),   Ops<&TFormatSettings::CurrencyFormat>(),
    Ops<&TFormatSettings::NegCurrFormat>(),    Ops<&TFormatSettings::ThousandSeparator>(),
    Ops<&TFormatSettings::DecimalSeparator>(), Ops<&TFormatSettings::CurrencyDecimals>(),
    Ops<&TFormatSettings::DateSeparator>(),    Ops<&TFormatSettings::ShortDateFormat>(),
    Ops<&TFormatSettings::LongDateFormat>(),   Ops<&TFormatSettings::TimeSeparator>(),
    Ops<&TFormatSettings::TimeAMString>(),     Ops<&TFormatSettings::TimePMString>(),
    Ops<&TFormatSettings::ShortTimeFormat>(),  Ops<&TFormatSettings::LongTimeFormat>(),
};

}  // namespace

void SetRegionalSettingsSource(std::function<TFormatSettings()> source) {
  RegionalSource() = std::move(source);
}

TConstFormats::TConstFormats(cl::TComponent* owner)
    : cl::TComponent(owner), values_(cl::CurrentFormatSettings()) {}

void TConstFormats::SetAllowSetting(TConstFormatsSet allow) {
  if (allow == allow_) return;
  allow_ = allow;
  TFormatSettings settings = RegionalSettings();
  for (size_t m = 0; m < kMembers.size(); ++m) {
    if (allow_.Contains(static_cast<TConstFormat>(m))) kMembers[m].copy(values_, settings);
  }
  cl::SetCurrentFormatSettings(settings);
}

template <auto Field, class V>
void TConstFormats::SetMember(TConstFormat member, const V& value) {
  values_.*Field = value;
  Changed(member);
}

void TConstFormats::Changed(TConstFormat member) {
  if (ComponentState().Contains(cl::csLoading)) return;
  TFormatSettings current = cl::CurrentFormatSettings();
  const MemberOps& ops = kMembers[member];
  if (ops.same(values_, current)) return;
  ops.copy(values_, current);
  cl::SetCurrentFormatSettings(current);
  allow_.Include(member);
}

void TConstFormats::SetCurrencyString(const std::string& v) {
  SetMember<&TFormatSettings::CurrencyString>(cfCurrencyString, v);
}
void TConstFormats::SetCurrencyFormat(uint8_t v) {
  SetMember<&TFormatSettings::CurrencyFormat>(cfCurrencyFormat, v);
}
void TConstFormats::SetNegCurrFormat(uint8_t v) {
  SetMember<&TFormatSettings::NegCurrFormat>(cfNegCurrFormat, v);
}
void TConstFormats::SetThousandSeparator(char v) {
  SetMember<&TFormatSettings::ThousandSeparator>(cfThousandSeparator, v);
}
void TConstFormats::SetDecimalSeparator(char v) {
  SetMember<&TFormatSettings::DecimalSeparator>(cfDecimalSeparator, v);
}
void TConstFormats::SetCurrencyDecimals(uint8_t v) {
  SetMember<&TFormatSettings::CurrencyDecimals>(cfCurrencyDecimals, v);
}
void TConstFormats::SetDateSeparator(char v) {
  SetMember<&TFormatSettings::DateSeparator>(cfDateSeparator, v);
}
void TConstFormats::SetShortDateFormat(const std::string& v) {
  SetMember<&TFormatSettings::ShortDateFormat>(cfShortDateFormat, v);
}
void TConstFormats::SetLongDateFormat(const std::string& v) {
  SetMember<&TFormatSettings::LongDateFormat>(cfLongDateFormat, v);
}
void TConstFormats::SetTimeSeparator(char v) {
  SetMember<&TFormatSettings::TimeSeparator>(cfTimeSeparator, v);
}
void TConstFormats::SetTimeAMString(const std::string& v) {
  SetMember<&TFormatSettings::TimeAMString>(cfTimeAMString, v);
}
void TConstFormats::SetTimePMString(const std::string& v) {
  SetMember<&TFormatSettings::TimePMString>(cfTimePMString, v);
}
void TConstFormats::SetShortTimeFormat(const std::string& v) {
  SetMember<&TFormatSettings::ShortTimeFormat>(cfShortTimeFormat, v);
}
void TConstFormats::SetLongTimeFormat(const std::string& v) {
  SetMember<&TFormatSettings::LongTimeFormat>(cfLongTimeFormat, v);
}

void TConstFormats::ApplySettings() {
  const TConstFormatsSet saved = allow_;
  SetAllowSetting(TConstFormatsSet());
  SetAllowSetting(saved);
}

void TConstFormats::RestoreDefaults() { cl::SetCurrentFormatSettings(RegionalSettings()); }

void TConstFormats::Loaded() {
  cl::TComponent::Loaded();
  ApplySettings();
}

}  // namespace comp
