#include "app/MVRegParams.h"

#include <utility>

#include "classlib/rtl/AsciiText.h"

namespace mirvel {

namespace {

constexpr const char* kReadOnlyText = "Base de param\xE8tres en lecture seule. Ecriture impossible";
constexpr const char* kCreateKeyText =
    "Erreur \xE0 la cr\xE9"
    "ation de la clef";

// The registry class takes a path without a leading "\" as relative to the open key; parameters
// name their keys from the root.
std::string WithoutLeadingBackslash(const std::string& path) {
  size_t start = 0;
  while (start < path.size() && path[start] == '\\') ++start;
  return path.substr(start);
}

}  // namespace

TMVRegParam::TMVRegParam(TRegParamDatabase* database, std::string path, std::string name)
    : TMVParam(database, std::move(path), std::move(name)) {
  registry_.SetRootKey(database->RootKey());
}

TRegParamDatabase* TMVRegParam::store() const {
  return static_cast<TRegParamDatabase*>(Database());
}

bool TMVRegParam::OpenKey(bool can_create) {
  const std::string key = WithoutLeadingBackslash(Path());
  if (registry_.HasCurrentKey() && cl::SameAsciiText(registry_.CurrentPath(), key)) return true;
  return registry_.OpenKey("\\" + key, can_create);
}

std::string TMVRegParam::AsString() {
  if (!OpenKey(!store()->ReadOnly() && store()->AutoCreateParam())) return "";
  return registry_.ReadString(Name());
}

int32_t TMVRegParam::AsInteger() {
  if (!OpenKey(!store()->ReadOnly() && store()->AutoCreateParam())) return 0;
  if (!registry_.ValueExists(Name())) return 0;
  return registry_.ReadInteger(Name());
}

double TMVRegParam::AsFloat() {
  if (!OpenKey(!store()->ReadOnly() && store()->AutoCreateParam())) return 0.0;
  if (!registry_.ValueExists(Name())) return 0.0;
  return registry_.ReadFloat(Name());
}

bool TMVRegParam::Exists() { return OpenKey(false) && registry_.ValueExists(Name()); }

void TMVRegParam::PrepareWrite() {
  if (store()->ReadOnly()) throw EMVParamError(kReadOnlyText);
  const bool create = store()->AutoCreateParam();
  if (!OpenKey(create) || !(create || registry_.ValueExists(Name()))) {
    throw EMVRegParamError(kCreateKeyText);
  }
}

void TMVRegParam::SetAsString(const std::string& value) {
  PrepareWrite();
  registry_.WriteString(Name(), value);
}

void TMVRegParam::SetAsInteger(int32_t value) {
  PrepareWrite();
  registry_.WriteInteger(Name(), value);
}

void TMVRegParam::SetAsFloat(double value) {
  PrepareWrite();
  registry_.WriteFloat(Name(), value);
}

void TMVRegParam::SaveToStream(cl::TStream&) {
  throw EMVRegParamError(
      "M\xE9thode SaveToStream non impl\xE9ment\xE9"
      "e");
}

void TMVRegParam::LoadFromStream(cl::TStream&) {
  throw EMVRegParamError(
      "M\xE9thode LoadFromStream non impl\xE9ment\xE9"
      "e");
}

TRegParamDatabase::TRegParamDatabase(cl::TComponent* owner) : TCustomParamDatabase(owner) {}

void TRegParamDatabase::SetRootKey(cl::HKEY root_key) {
  if (Active()) throw EMVParamError("Base de param\xE8tres active. Op\xE9ration impossible.");
  root_key_ = root_key;
  own_param_.Registry().SetRootKey(root_key);
}

std::unique_ptr<TMVParam> TRegParamDatabase::CreateParam(const std::string& path,
                                                         const std::string& name) {
  return std::make_unique<TMVRegParam>(this, path, name);
}

void TRegParamDatabase::DoActivate() { own_param_.Registry().SetRootKey(root_key_); }

void TRegParamDatabase::DoDeactivate() { own_param_.Registry().CloseKey(); }

}  // namespace mirvel
