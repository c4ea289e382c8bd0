#include "classlib/rtl/Registry.h"

#include <optional>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Cp1252.h"
#include "platform/RegistryStore.h"

namespace cl {
namespace {

bool RootName(HKEY root, std::string* name) {
  if (root == HKEY_CURRENT_USER) {
    *name = "HKEY_CURRENT_USER";
    return true;
  }
  if (root == HKEY_LOCAL_MACHINE) {
    *name = "HKEY_LOCAL_MACHINE";
    return true;
  }
  return false;
}

// The store of a root; none for a root the program has no store for.
std::optional<platform::RegistryStore> StoreOf(HKEY root) {
  std::string name;
  if (!RootName(root, &name)) return std::nullopt;
  return platform::RegistryStore::ForRoot(name);
}

[[noreturn]] void GetDataFailed(const std::string& name) {
  throw ERegistryException(
      "Echec lors de l'obtention des donn\xE9"
      "es pour '" +
      name + "'");
}

[[noreturn]] void InvalidType(const std::string& name) {
  throw ERegistryException(
      "Type de donn\xE9"
      "es incorrect pour '" +
      name + "'");
}

std::string StripLeadingBackslash(const std::string& path) {
  return (!path.empty() && path[0] == '\\') ? path.substr(1) : path;
}

}  // namespace

TRegistry::TRegistry() = default;

void TRegistry::RaiseSetDataFailed(const std::string& name) {
  throw ERegistryException(
      "Echec lors de la d\xE9"
      "finition des donn\xE9"
      "es pour '" +
      name + "'");
}

void TRegistry::SetRootKey(HKEY root_key) {
  CloseKey();
  root_key_ = root_key;
}

std::string TRegistry::JoinedPath(const std::string& key) const {
  const bool relative = key.empty() || key[0] != '\\';
  std::string path = StripLeadingBackslash(key);
  if (relative && has_key_ && !current_path_.empty()) {
    path = path.empty() ? current_path_ : current_path_ + "\\" + path;
  }
  return path;
}

std::string TRegistry::ResolvePath(const std::string& key) const {
  return Cp1252ToUtf8(JoinedPath(key));
}

std::string TRegistry::CurrentStorePath() const { return Cp1252ToUtf8(current_path_); }

bool TRegistry::Open(const std::string& key, bool can_create, bool read_only) {
  auto store = StoreOf(root_key_);
  if (!store) return false;
  const std::string joined = JoinedPath(key);
  const std::string path = Cp1252ToUtf8(joined);
  bool exists = false;
  if (store->KeyExists(path, &exists) != platform::kErrorSuccess) return false;
  if (!exists) {
    if (!can_create || store->CreateKey(path) != platform::kErrorSuccess) return false;
  }
  has_key_ = true;
  read_only_ = read_only;
  current_path_ = joined;
  return true;
}

bool TRegistry::OpenKey(const std::string& key, bool can_create) {
  return Open(key, can_create, false);
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) { return Open(key, false, true); }

void TRegistry::CloseKey() {
  has_key_ = false;
  read_only_ = false;
  current_path_.clear();
}

bool TRegistry::CreateKey(const std::string& key) {
  auto store = StoreOf(root_key_);
  return store && store->CreateKey(ResolvePath(key)) == platform::kErrorSuccess;
}

bool TRegistry::DeleteKey(const std::string& key) {
  auto store = StoreOf(root_key_);
  return store && store->DeleteKey(ResolvePath(key)) == platform::kErrorSuccess;
}

bool TRegistry::KeyExists(const std::string& key) {
  auto store = StoreOf(root_key_);
  bool exists = false;
  return store && store->KeyExists(ResolvePath(key), &exists) == platform::kErrorSuccess && exists;
}

bool TRegistry::ValueExists(const std::string& name) {
  platform::RegValue value;
  return GetValue(name, &value) == platform::kErrorSuccess;
}

bool TRegistry::DeleteValue(const std::string& name) {
  auto store = StoreOf(root_key_);
  return has_key_ && !read_only_ && store &&
         store->DeleteValue(CurrentStorePath(), Cp1252ToUtf8(name)) == platform::kErrorSuccess;
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
  platform::RegValue value;
  if (GetValue(name, &value) != platform::kErrorSuccess) return rdUnknown;
  switch (value.type) {
    case platform::RegType::kString:
      return rdString;
    case platform::RegType::kInteger:
      return rdInteger;
    case platform::RegType::kBinary:
      return rdBinary;
    case platform::RegType::kNone:
      break;
  }
  return rdUnknown;
}

void TRegistry::GetValueNames(TStrings& names) {
  names.Clear();
  auto store = StoreOf(root_key_);
  std::vector<std::string> found;
  if (!has_key_ || !store ||
      store->GetValueNames(CurrentStorePath(), &found) != platform::kErrorSuccess) {
    return;
  }
  for (const std::string& n : found) names.Add(Utf8ToCp1252(n));
}

void TRegistry::GetKeyNames(TStrings& names) {
  names.Clear();
  auto store = StoreOf(root_key_);
  std::vector<std::string> found;
  if (!has_key_ || !store ||
      store->GetKeyNames(CurrentStorePath(), &found) != platform::kErrorSuccess) {
    return;
  }
  for (const std::string& n : found) names.Add(Utf8ToCp1252(n));
}

platform::OsError TRegistry::GetValue(const std::string& name, platform::RegValue* value) {
  auto store = StoreOf(root_key_);
  if (!has_key_ || !store) return platform::kErrorInvalidHandle;
  return store->GetValue(CurrentStorePath(), Cp1252ToUtf8(name), value);
}

std::string TRegistry::ReadString(const std::string& name) {
  platform::RegValue value;
  const platform::OsError error = GetValue(name, &value);
  if (error == platform::kErrorFileNotFound) return "";
  if (error != platform::kErrorSuccess) GetDataFailed(name);
  if (value.type != platform::RegType::kString) InvalidType(name);
  return Utf8ToCp1252(value.data);
}

int32_t TRegistry::ReadInteger(const std::string& name) {
  platform::RegValue value;
  if (GetValue(name, &value) != platform::kErrorSuccess) GetDataFailed(name);
  if (value.type != platform::RegType::kInteger) InvalidType(name);
  return value.integer;
}

double TRegistry::ReadFloat(const std::string& name) {
  platform::RegValue value;
  if (GetValue(name, &value) != platform::kErrorSuccess) GetDataFailed(name);
  if (value.type != platform::RegType::kBinary || value.data.size() != 8) InvalidType(name);
  return GetF64LE(reinterpret_cast<const uint8_t*>(value.data.data()));
}

void TRegistry::PutValue(const std::string& name, const platform::RegValue& value) {
  auto store = StoreOf(root_key_);
  if (!has_key_ || read_only_ || !store ||
      store->SetValue(CurrentStorePath(), Cp1252ToUtf8(name), value) != platform::kErrorSuccess) {
    RaiseSetDataFailed(name);
  }
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  platform::RegValue v;
  v.type = platform::RegType::kString;
  v.data = Cp1252ToUtf8(value);
  PutValue(name, v);
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
  platform::RegValue v;
  v.type = platform::RegType::kInteger;
  v.integer = value;
  PutValue(name, v);
}

void TRegistry::WriteFloat(const std::string& name, double value) {
  platform::RegValue v;
  v.type = platform::RegType::kBinary;
  uint8_t bytes[8];
  PutF64LE(bytes, value);
  v.data.assign(reinterpret_cast<const char*>(bytes), sizeof bytes);
  PutValue(name, v);
}

}  // namespace cl
