// TIniFile: values in a text file of [sections] and ident=value lines.
//
// Sections and idents compare without regard to case.  Reading trims the blanks around a value
// and removes one pair of matching quotes around it (single or double), so a value that must keep
// its quotes is written inside one more pair.  ReadInteger accepts decimal and "0x" or "$"
// hexadecimal text and gives the default otherwise; Booleans are written "1" and "0".
//
// Every write goes straight to the file as an atomic update that is safe between processes
// (platform/ConfigFile.h); UpdateFile therefore has nothing left to do.  The file holds
// Windows-1252 text; lines end with CR LF.  A file name without a directory lies in the user's
// configuration directory (platform/Environment.h).
#pragma once

#include <cstdint>
#include <string>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Exceptions.h"

namespace cl {

class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

class TIniFile : public TObject {
 public:
  explicit TIniFile(const std::string& file_name);

  const std::string& FileName() const { return file_name_; }

  std::string ReadString(const std::string& section, const std::string& ident,
                         const std::string& default_value);
  int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t default_value);
  bool ReadBool(const std::string& section, const std::string& ident, bool default_value);
  bool SectionExists(const std::string& section);
  bool ValueExists(const std::string& section, const std::string& ident);

  // Line breaks in what is written become blanks, so that a value can never add lines of its
  // own to the file.  Write failures raise EIniFileException "Impossible d'écrire dans <file>".
  void WriteString(const std::string& section, const std::string& ident, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& ident, int32_t value);
  void WriteBool(const std::string& section, const std::string& ident, bool value);
  void EraseSection(const std::string& section);
  void UpdateFile() {}

 private:
  // The value's raw text (after "="); false when the section or ident is missing.
  bool Lookup(const std::string& section, const std::string& ident, std::string* raw);

  std::string file_name_;
  std::string path_;  // UTF-8, resolved
};

}  // namespace cl
