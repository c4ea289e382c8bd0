// The registry store: keys and values of one registry root, kept in a text file.
//
// There is no system registry here, so each root key the program uses is one file in the
// registry directory: "<dir>/HKEY_CURRENT_USER.reg", "<dir>/HKEY_LOCAL_MACHINE.reg".  The
// directory is $MIRVEL_REGISTRY_DIR when set (tests), else UserConfigDirectory()/registry.  An
// ordinary user has no writable machine-wide place, so HKEY_LOCAL_MACHINE lives per user too; an
// administrator may preset its values for everybody in a read-only fallback file,
// SystemConfigDirectory()/registry/HKEY_LOCAL_MACHINE.reg (with $MIRVEL_REGISTRY_DIR set:
// "<dir>/system/HKEY_LOCAL_MACHINE.reg").  Reads see the fallback's keys and values wherever the
// user's file has none of that name; writes go to the user's file only.
//
// File format (UTF-8 text, one line each, LF or CR LF):
//   ; comment                     lines starting with ";" or "#", and blank lines, are ignored
//   [Software\Ordelis\Mirvel]     a key: its full path, segments joined by "\" ([] is the root)
//   Database=s:/home/data/mirvel  a string value
//   FormHeight=d:452              an integer value (32-bit, decimal)
//   Ratio=b:000000000000f83f      a binary value (hex bytes)
//   @=s:text                      the key's default value (the empty name)
// In names and string texts "%" is written "%25", CR "%0D" and LF "%0A"; in value names also
// "=" ("%3D"), and a leading "[", ";", "#" or a lone "@" as "%5B", "%3B", "%23", "%40".  A line
// that does not parse is ignored (and dropped at the next write).
//
// Key and value names compare without regard to case (ASCII and the Latin letters of
// Windows-1252) and keep the case they were created with.  The parents of a key exist with it.
// Every operation re-reads the file, and every change is an atomic update of the file shared
// safely between processes (platform/ConfigFile.h).
//
// Failures are Win32-style numbers: 2 for a missing key or value, 5 when a value or key of the
// read-only fallback cannot be removed, others from the file system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/OsError.h"

namespace platform {

// Value types, numbered as the Windows registry numbers them.
enum class RegType : uint32_t { kNone = 0, kString = 1, kBinary = 3, kInteger = 4 };

struct RegValue {
  RegType type = RegType::kNone;
  std::string data;     // kString: UTF-8 text; kBinary: the bytes
  int32_t integer = 0;  // kInteger
};

class RegistryStore {
 public:
  // `file` is read and written; `fallback` (empty for none) is only read.
  RegistryStore(std::string file, std::string fallback);

  // The store of a root, "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE" (the latter with its
  // fallback), in the registry directory described above.
  static RegistryStore ForRoot(const std::string& root_name);
  static std::string RegistryDirectory();

  const std::string& FilePath() const { return file_; }

  // Key paths: segments separated by "\"; empty segments are ignored ("" is the root).
  OsError KeyExists(const std::string& key, bool* exists) const;
  // Creates the key and its missing parents; an existing key is left as it is.
  OsError CreateKey(const std::string& key);
  // Deletes the key with its values and subkeys; 2 when it does not exist.  The root itself
  // cannot be deleted (5).
  OsError DeleteKey(const std::string& key);
  // The names of the key's direct subkeys or of its values, in file order; 2 for a missing key.
  OsError GetKeyNames(const std::string& key, std::vector<std::string>* names) const;
  OsError GetValueNames(const std::string& key, std::vector<std::string>* names) const;

  // 2 when the key or the value does not exist.
  OsError GetValue(const std::string& key, const std::string& name, RegValue* value) const;
  // Creates the key when missing.  REQUIRES: value.type is not kNone.
  OsError SetValue(const std::string& key, const std::string& name, const RegValue& value);
  OsError DeleteValue(const std::string& key, const std::string& name);

 private:
  std::string file_;
  std::string fallback_;
};

}  // namespace platform
