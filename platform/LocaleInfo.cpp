#include "platform/LocaleInfo.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace platform {
namespace {

using Months = std::array<std::string_view, 12>;
using Days = std::array<std::string_view, 7>;

// Non-ASCII letters are written as separate literals ("d\xE9" "c") so that a following letter is
// never read as part of the hexadecimal escape.

// clang-format off
constexpr Months kEnglishMonths = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
constexpr Months kEnglishShortMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr Days kEnglishDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                               "Thursday", "Friday", "Saturday"};
constexpr Days kEnglishShortDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

constexpr Months kFrenchMonths = {"janvier", "f\xE9" "vrier", "mars",      "avril",   "mai",      "juin",
                                  "juillet", "ao\xFB" "t",    "septembre", "octobre", "novembre", "d\xE9" "cembre"};
constexpr Months kFrenchShortMonths = {"janv.", "f\xE9" "vr.", "mars",  "avr.", "mai",  "juin",
                                       "juil.", "ao\xFB" "t",  "sept.", "oct.", "nov.", "d\xE9" "c."};
constexpr Days kFrenchDays = {"dimanche", "lundi", "mardi", "mercredi", "jeudi", "vendredi", "samedi"};
constexpr Days kFrenchShortDays = {"dim.", "lun.", "mar.", "mer.", "jeu.", "ven.", "sam."};

constexpr Months kGermanMonths = {"Januar", "Februar", "M\xE4" "rz",  "April",   "Mai",      "Juni",
                                  "Juli",   "August",  "September", "Oktober", "November", "Dezember"};
constexpr Months kGermanShortMonths = {"Jan", "Feb", "Mrz", "Apr", "Mai", "Jun",
                                       "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
constexpr Days kGermanDays = {"Sonntag",    "Montag",  "Dienstag", "Mittwoch",
                              "Donnerstag", "Freitag", "Samstag"};
constexpr Days kGermanShortDays = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};

constexpr Months kItalianMonths = {"gennaio", "febbraio", "marzo",     "aprile",  "maggio",   "giugno",
                                   "luglio",  "agosto",   "settembre", "ottobre", "novembre", "dicembre"};
constexpr Months kItalianShortMonths = {"gen", "feb", "mar", "apr", "mag", "giu",
                                        "lug", "ago", "set", "ott", "nov", "dic"};
constexpr Days kItalianDays = {"domenica", "luned\xEC", "marted\xEC", "mercoled\xEC",
                               "gioved\xEC", "venerd\xEC", "sabato"};
constexpr Days kItalianShortDays = {"dom", "lun", "mar", "mer", "gio", "ven", "sab"};

constexpr Months kSpanishMonths = {"enero", "febrero", "marzo",      "abril",   "mayo",      "junio",
                                   "julio", "agosto",  "septiembre", "octubre", "noviembre", "diciembre"};
constexpr Months kSpanishShortMonths = {"ene", "feb", "mar", "abr", "may", "jun",
                                        "jul", "ago", "sep", "oct", "nov", "dic"};
constexpr Days kSpanishDays = {"domingo", "lunes",   "martes",         "mi\xE9" "rcoles",
                               "jueves",  "viernes", "s\xE1" "bado"};
constexpr Days kSpanishShortDays = {"dom", "lun", "mar", "mi\xE9", "jue", "vie", "s\xE1" "b"};

constexpr Months kDutchMonths = {"januari", "februari", "maart",     "april",   "mei",      "juni",
                                 "juli",    "augustus", "september", "oktober", "november", "december"};
constexpr Months kDutchShortMonths = {"jan", "feb", "mrt", "apr", "mei", "jun",
                                      "jul", "aug", "sep", "okt", "nov", "dec"};
constexpr Days kDutchDays = {"zondag",    "maandag", "dinsdag", "woensdag",
                             "donderdag", "vrijdag", "zaterdag"};
constexpr Days kDutchShortDays = {"zo", "ma", "di", "wo", "do", "vr", "za"};

constexpr Months kDanishMonths = {"januar", "februar", "marts",     "april",   "maj",      "juni",
                                  "juli",   "august",  "september", "oktober", "november", "december"};
constexpr Months kDanishShortMonths = {"jan", "feb", "mar", "apr", "maj", "jun",
                                       "jul", "aug", "sep", "okt", "nov", "dec"};
constexpr Months kNorwegianMonths = {"januar", "februar", "mars",      "april",   "mai",      "juni",
                                     "juli",   "august",  "september", "oktober", "november", "desember"};
constexpr Months kNorwegianShortMonths = {"jan", "feb", "mar", "apr", "mai", "jun",
                                          "jul", "aug", "sep", "okt", "nov", "des"};
// Danish and Norwegian share their day names.
constexpr Days kDanishDays = {"s\xF8" "ndag", "mandag", "tirsdag",     "onsdag",
                              "torsdag",      "fredag", "l\xF8" "rdag"};
constexpr Days kDanishShortDays = {"s\xF8", "ma", "ti", "on", "to", "fr", "l\xF8"};

constexpr Months kSwedishMonths = {"januari", "februari", "mars",      "april",   "maj",      "juni",
                                   "juli",    "augusti",  "september", "oktober", "november", "december"};
constexpr Months kSwedishShortMonths = {"jan", "feb", "mar", "apr", "maj", "jun",
                                        "jul", "aug", "sep", "okt", "nov", "dec"};
constexpr Days kSwedishDays = {"s\xF6" "ndag", "m\xE5" "ndag", "tisdag",       "onsdag",
                               "torsdag",      "fredag",       "l\xF6" "rdag"};
constexpr Days kSwedishShortDays = {"s\xF6", "m\xE5", "ti", "on", "to", "fr", "l\xF6"};

constexpr Months kFinnishMonths = {"tammikuu",  "helmikuu",      "maaliskuu",     "huhtikuu",
                                   "toukokuu",  "kes\xE4" "kuu", "hein\xE4" "kuu", "elokuu",
                                   "syyskuu",   "lokakuu",       "marraskuu",     "joulukuu"};
constexpr Months kFinnishShortMonths = {"tammi", "helmi", "maalis", "huhti", "touko", "kes\xE4",
                                        "hein\xE4", "elo", "syys",  "loka",  "marras", "joulu"};
constexpr Days kFinnishDays = {"sunnuntai", "maanantai", "tiistai", "keskiviikko",
                               "torstai",   "perjantai", "lauantai"};
constexpr Days kFinnishShortDays = {"su", "ma", "ti", "ke", "to", "pe", "la"};

constexpr std::string_view kEuro = "\x80";
constexpr std::string_view kNoBreakSpace = "\xA0";

// Field order: id, tag, currency string, currency format, negative format, thousand separator,
// decimal separator, currency digits, date separator, short date, long date, time separator,
// AM, PM, leading zero on hours, 24-hour clock, month names, short month names, day names,
// short day names.
constexpr LocaleData kLocales[] = {
    {0x0409, "en-US", "$", 0, 0, ",", ".", 2, "/", "M/d/yyyy", "dddd, MMMM dd, yyyy", ":", "AM",
     "PM", false, false, kEnglishMonths, kEnglishShortMonths, kEnglishDays, kEnglishShortDays},
    {0x0809, "en-GB", "\xA3", 0, 1, ",", ".", 2, "/", "dd/MM/yyyy", "dd MMMM yyyy", ":", "AM", "PM",
     true, true, kEnglishMonths, kEnglishShortMonths, kEnglishDays, kEnglishShortDays},
    {0x040C, "fr-FR", kEuro, 3, 8, kNoBreakSpace, ",", 2, "/", "dd/MM/yyyy", "dddd d MMMM yyyy",
     ":", "", "", true, true, kFrenchMonths, kFrenchShortMonths, kFrenchDays, kFrenchShortDays},
    {0x080C, "fr-BE", kEuro, 3, 8, ".", ",", 2, "/", "dd/MM/yyyy", "dddd d MMMM yyyy", ":", "", "",
     true, true, kFrenchMonths, kFrenchShortMonths, kFrenchDays, kFrenchShortDays},
    {0x0C0C, "fr-CA", "$", 3, 15, kNoBreakSpace, ",", 2, "-", "yyyy-MM-dd", "d MMMM yyyy", ":", "",
     "", true, true, kFrenchMonths, kFrenchShortMonths, kFrenchDays, kFrenchShortDays},
    {0x100C, "fr-CH", "CHF", 2, 2, "'", ".", 2, ".", "dd.MM.yyyy", "dddd, d. MMMM yyyy", ":", "",
     "", true, true, kFrenchMonths, kFrenchShortMonths, kFrenchDays, kFrenchShortDays},
    {0x0407, "de-DE", kEuro, 3, 8, ".", ",", 2, ".", "dd.MM.yyyy", "dddd, d. MMMM yyyy", ":", "",
     "", true, true, kGermanMonths, kGermanShortMonths, kGermanDays, kGermanShortDays},
    {0x0410, "it-IT", kEuro, 2, 9, ".", ",", 2, "/", "dd/MM/yyyy", "dddd d MMMM yyyy", ":", "", "",
     true, true, kItalianMonths, kItalianShortMonths, kItalianDays, kItalianShortDays},
    {0x0C0A, "es-ES", kEuro, 3, 8, ".", ",", 2, "/", "dd/MM/yyyy", "dddd, d' de 'MMMM' de 'yyyy",
     ":", "", "", false, true, kSpanishMonths, kSpanishShortMonths, kSpanishDays,
     kSpanishShortDays},
    {0x0413, "nl-NL", kEuro, 2, 12, ".", ",", 2, "-", "d-M-yyyy", "dddd d MMMM yyyy", ":", "", "",
     false, true, kDutchMonths, kDutchShortMonths, kDutchDays, kDutchShortDays},
    {0x0406, "da-DK", "kr.", 2, 12, ".", ",", 2, "-", "dd-MM-yyyy", "d. MMMM yyyy", ":", "", "",
     true, true, kDanishMonths, kDanishShortMonths, kDanishDays, kDanishShortDays},
    {0x0414, "nb-NO", "kr", 2, 12, kNoBreakSpace, ",", 2, ".", "dd.MM.yyyy", "d. MMMM yyyy", ":",
     "", "", true, true, kNorwegianMonths, kNorwegianShortMonths, kDanishDays, kDanishShortDays},
    {0x041D, "sv-SE", "kr", 3, 8, kNoBreakSpace, ",", 2, "-", "yyyy-MM-dd", "'den 'd MMMM yyyy",
     ":", "", "", true, true, kSwedishMonths, kSwedishShortMonths, kSwedishDays,
     kSwedishShortDays},
    {0x040B, "fi-FI", kEuro, 3, 8, kNoBreakSpace, ",", 2, ".", "d.M.yyyy", "d. MMMM'ta 'yyyy", ":",
     "", "", false, true, kFinnishMonths, kFinnishShortMonths, kFinnishDays, kFinnishShortDays},
};

// clang-format on

constexpr std::array<uint16_t, std::size(kLocales)> MakeIds() {
  std::array<uint16_t, std::size(kLocales)> ids{};
  for (size_t i = 0; i < ids.size(); ++i) ids[i] = kLocales[i].language_id;
  return ids;
}
constexpr auto kLanguageIds = MakeIds();

// An environment variable, or an empty view when it is unset.
std::string_view Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string_view() : std::string_view(value);
}

// MIRVEL_LANGID as a number (hexadecimal, with or without "0x"), or 0 when it is malformed.
uint16_t ParseLangIdOverride(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > 0xFFFF) {
    return 0;
  }
  return static_cast<uint16_t>(value);
}

}  // namespace

std::span<const uint16_t> SupportedLanguageIds() { return kLanguageIds; }

const LocaleData* GetLocaleData(uint16_t language_id) {
  const auto it = std::find_if(std::begin(kLocales), std::end(kLocales),
                               [&](const LocaleData& d) { return d.language_id == language_id; });
  return it == std::end(kLocales) ? nullptr : &*it;
}

bool IsValidLocale(uint32_t lcid) {
  return (lcid >> 16) == 0 && GetLocaleData(static_cast<uint16_t>(lcid & 0xFFFF)) != nullptr;
}

uint16_t GetUserDefaultLangID() {
  const uint16_t override_id = ParseLangIdOverride(Env("MIRVEL_LANGID"));
  if (override_id != 0 && GetLocaleData(override_id) != nullptr) return override_id;
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const std::string_view value = Env(name);
    if (value.empty()) continue;
    return value.starts_with("fr") ? 0x040C : 0x0409;
  }
  return 0x0409;
}

}  // namespace platform
