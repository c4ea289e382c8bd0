#include "classlib/rtl/RegIniFile.h"

#include "classlib/rtl/NumberText.h"

namespace cl {

TRegIniFile::TRegIniFile(const std::string& file_name) : file_name_(file_name) {
  SetRootKey(HKEY_CURRENT_USER);
  OpenKey(file_name, true);
}

template <class Action>
bool TRegIniFile::InSection(const std::string& section, bool create, Action action) {
  const std::string saved = CurrentPath();
  const bool had_key = HasCurrentKey();
  if (!section.empty() && !OpenKey(section, create)) return false;
  try {
    action();
  } catch (...) {
    if (had_key) OpenKey("\\" + saved, false);
    throw;
  }
  if (had_key) OpenKey("\\" + saved, false);
  return true;
}

std::string TRegIniFile::ReadString(const std::string& section, const std::string& ident,
                                    const std::string& default_value) {
  std::string result = default_value;
  InSection(section, false, [&] {
    if (ValueExists(ident)) result = TRegistry::ReadString(ident);
  });
  return result;
}

int32_t TRegIniFile::ReadInteger(const std::string& section, const std::string& ident,
                                 int32_t default_value) {
  int32_t result = default_value;
  InSection(section, false, [&] {
    if (!ValueExists(ident)) return;
    if (GetDataType(ident) == rdString) {
      int32_t value = 0;
      if (TryStrToInt(TRegistry::ReadString(ident), value)) result = value;
    } else {
      result = TRegistry::ReadInteger(ident);
    }
  });
  return result;
}

bool TRegIniFile::ReadBool(const std::string& section, const std::string& ident,
                           bool default_value) {
  return ReadInteger(section, ident, default_value ? 1 : 0) != 0;
}

void TRegIniFile::WriteString(const std::string& section, const std::string& ident,
                              const std::string& value) {
  if (!InSection(section, true, [&] { TRegistry::WriteString(ident, value); })) {
    RaiseSetDataFailed(ident);
  }
}

void TRegIniFile::WriteInteger(const std::string& section, const std::string& ident,
                               int32_t value) {
  if (!InSection(section, true, [&] { TRegistry::WriteInteger(ident, value); })) {
    RaiseSetDataFailed(ident);
  }
}

void TRegIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
  WriteInteger(section, ident, value ? 1 : 0);
}

void TRegIniFile::EraseSection(const std::string& section) { DeleteKey(section); }

}  // namespace cl
