// TRegistry: keys and values of the registry, on the program's own file-backed store
// (platform/RegistryStore.h, which says where the files live and how they are shared).
//
// Roots are named by the Windows values that stored properties hold: HKEY_CURRENT_USER
// (0x80000001, -2147483647 as a signed integer) and HKEY_LOCAL_MACHINE (0x80000002).  Other roots
// cannot be opened.  Key paths are separated by "\"; a path starting with "\" is absolute,
// any other is relative to the open key (or to the root when none is open).  Key and value names
// compare without regard to case.  Names and strings are Windows-1252 here and UTF-8 in the
// store.  Every call reads the store afresh, so changes made by other processes are seen.
//
// Reading: ReadString gives "" for a missing value; the other reads raise ERegistryException
// "Echec lors de l'obtention des données pour '<name>'" for a missing value, as every read does
// when no key is open or the store cannot be read; a value of another type raises "Type de
// données incorrect pour '<name>'".  Floats are stored
// as 8 binary bytes.  Writing without an open key, into a key opened read-only, or when the store
// fails raises "Echec lors de la définition des données pour '<name>'".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TStrings.h"
#include "platform/RegistryStore.h"

namespace cl {

using HKEY = uint32_t;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

class TRegistry : public TObject {
 public:
  TRegistry();

  HKEY RootKey() const { return root_key_; }
  // Closes the open key.
  void SetRootKey(HKEY root_key);
  // The open key's path (without a leading "\"); "" when no key is open.
  const std::string& CurrentPath() const { return current_path_; }
  bool HasCurrentKey() const { return has_key_; }

  // Opens a key, creating it (and its parents) when missing and `can_create`; false when it does
  // not exist and is not created, or the store cannot be read.
  bool OpenKey(const std::string& key, bool can_create);
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  bool CreateKey(const std::string& key);
  // Deletes the key with everything under it.
  bool DeleteKey(const std::string& key);
  bool KeyExists(const std::string& key);

  bool ValueExists(const std::string& name);
  bool DeleteValue(const std::string& name);
  TRegDataType GetDataType(const std::string& name);
  void GetValueNames(TStrings& names);
  void GetKeyNames(TStrings& names);

  std::string ReadString(const std::string& name);
  int32_t ReadInteger(const std::string& name);
  double ReadFloat(const std::string& name);
  bool ReadBool(const std::string& name) { return ReadInteger(name) != 0; }
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  void WriteFloat(const std::string& name, double value);
  void WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

 protected:
  // The path of `key` taken as described above (Windows-1252), and its store form (UTF-8).
  std::string JoinedPath(const std::string& key) const;
  std::string ResolvePath(const std::string& key) const;
  // The store path of the open key.
  std::string CurrentStorePath() const;
  [[noreturn]] static void RaiseSetDataFailed(const std::string& name);

 private:
  bool Open(const std::string& key, bool can_create, bool read_only);
  // The value `name` of the open key; 6 when no key is open, 2 when missing.
  platform::OsError GetValue(const std::string& name, platform::RegValue* value);
  void PutValue(const std::string& name, const platform::RegValue& value);

  HKEY root_key_ = HKEY_CURRENT_USER;
  bool has_key_ = false;
  bool read_only_ = false;
  std::string current_path_;
};

}  // namespace cl
