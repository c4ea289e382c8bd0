// TRegIniFile: a registry key used like an INI file, each section a subkey.
//
// Created on a key path under HKEY_CURRENT_USER, which it opens (creating it when missing).
// Reads open the section without creating it and give the default when the section or the value
// is missing; writes create the section.  Integers and Booleans are stored as integers (a
// Boolean as 0 or 1); ReadInteger also accepts a string holding an integer.  EraseSection deletes
// the section with everything under it.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/rtl/Registry.h"

namespace cl {

class TRegIniFile : public TRegistry {
 public:
  explicit TRegIniFile(const std::string& file_name);

  const std::string& FileName() const { return file_name_; }

  std::string ReadString(const std::string& section, const std::string& ident,
                         const std::string& default_value);
  int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t default_value);
  bool ReadBool(const std::string& section, const std::string& ident, bool default_value);
  void WriteString(const std::string& section, const std::string& ident, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& ident, int32_t value);
  void WriteBool(const std::string& section, const std::string& ident, bool value);
  void EraseSection(const std::string& section);

 private:
  // Runs `action` with the section open as the current key (restoring the ini's key after);
  // false when the section does not exist and `create` is false.
  template <class Action>
  bool InSection(const std::string& section, bool create, Action action);

  std::string file_name_;
};

}  // namespace cl
