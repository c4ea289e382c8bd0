#include "components/data/TPropsStorage.h"

#include <map>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Collation.h"
#include "classlib/rtl/NumberText.h"
#include "classlib/rtl/TCollection.h"
#include "classlib/rtl/TextUtils.h"
#include "classlib/rtl/Variant.h"

namespace comp {
namespace {

using cl::TPropInfo;

// Nested objects deeper than this are not walked: a property that leads back to an object it
// came from would otherwise recurse without end.
constexpr int kMaxNesting = 16;

int FloatPrecision(cl::TFloatType type) {
  switch (type) {
    case cl::TFloatType::ftSingle:
      return 7;
    case cl::TFloatType::ftDouble:
      return 15;
    case cl::TFloatType::ftExtended:
    case cl::TFloatType::ftComp:
      return 18;
    case cl::TFloatType::ftCurr:
      return 19;
  }
  return 15;
}

std::string ReplaceChar(std::string s, char from, char to) {
  for (char& c : s) {
    if (c == from) c = to;
  }
  return s;
}

// Kinds whose empty text is still a value worth writing or reading.
bool StoresEmptyText(cl::TTypeKind kind) {
  return kind == cl::tkString || kind == cl::tkWChar || kind == cl::tkLString;
}

bool Owns(const cl::TComponent* form, const cl::TObject* object) {
  for (int i = 0; i < form->ComponentCount(); ++i) {
    if (form->Components(i) == object) return true;
  }
  return false;
}

int EnumOrdinal(const TPropInfo& prop, std::string_view word) {
  if (prop.Enum == nullptr) return -1;
  for (size_t i = 0; i < prop.Enum->names.size(); ++i) {
    if (cl::SameAsciiText(prop.Enum->names[i], word)) return static_cast<int>(i);
  }
  return -1;
}

std::string ComponentText(const cl::TComponent* component, const cl::TComponent* storage_owner) {
  if (component == nullptr) return "(null)";
  const cl::TComponent* owner = component->Owner();
  if (owner == nullptr || owner == storage_owner) return component->Name();
  std::string owner_name = owner->Name();
  if (owner_name.empty()) {
    owner_name = owner->ClassName();
    if (!owner_name.empty() && owner_name[0] == 'T') owner_name.erase(0, 1);
  }
  return owner_name + "." + component->Name();
}

}  // namespace

cl::TTypeKinds StoredPropKinds() {
  return cl::TTypeKinds{cl::tkInteger, cl::tkChar,    cl::tkEnumeration, cl::tkFloat,
                        cl::tkString,  cl::tkSet,     cl::tkClass,       cl::tkWChar,
                        cl::tkLString, cl::tkWString, cl::tkVariant};
}

// ---- callbacks and names ------------------------------------------------------------------------

std::string TPropsStorage::ReadString(const std::string& section, const std::string& item,
                                      const std::string& default_value) {
  return on_read_ ? on_read_(section, item, default_value) : std::string();
}

bool TPropsStorage::HoldsItem(cl::TObject* item, const std::string& prefix,
                              const std::string& section) {
  bool told = false;  // an item without any value of its own cannot be told apart
  return HoldsValuesOf(item, prefix, section, told) || !told;
}

bool TPropsStorage::HoldsValuesOf(cl::TObject* object, const std::string& prefix,
                                  const std::string& section, bool& told) {
  // The names StoreClass gives: nested objects are read where it stores them.
  const cl::TPropInfoList props(object, StoredPropKinds());
  for (int i = 0; i < props.Count(); ++i) {
    const TPropInfo& prop = props.Items(i);
    const std::string name = prefix + prop.Name;
    cl::TObject* nested = prop.Kind == cl::tkClass ? prop.GetObject(object) : nullptr;
    if (prop.Kind != cl::tkClass || prop.ComponentRef ||
        dynamic_cast<cl::TComponent*>(nested) != nullptr) {
      told = true;
      if (Holds(section, name)) return true;
      continue;
    }
    if (nested == nullptr) continue;
    if (dynamic_cast<cl::TStrings*>(nested) != nullptr) {
      // An empty list stores nothing: found, it tells; missing, it does not.
      if (Holds(section + "." + name, "Count")) return true;
    } else if (dynamic_cast<cl::TCollection*>(nested) != nullptr) {
      told = true;
      if (Holds(section, prefix + "Count")) return true;
    }
    if (HoldsValuesOf(nested, name, section, told)) return true;
  }
  return false;
}

bool TPropsStorage::Holds(const std::string& section, const std::string& item) {
  // A stored value reads back whatever the default; a missing one gives each default back.
  const std::string probe(1, '\x01');
  return ReadString(section, item, probe) != probe || !ReadString(section, item, "").empty();
}

void TPropsStorage::WriteString(const std::string& section, const std::string& item,
                                const std::string& value) {
  if (on_write_) on_write_(section, item, value);
}

void TPropsStorage::EraseSection(const std::string& section) {
  if (on_erase_) on_erase_(section);
}

std::string TPropsStorage::GetItemName(const std::string& property_name) {
  return prefix_ + property_name;
}

std::unique_ptr<TPropsStorage> TPropsStorage::CreateStorage() {
  return std::make_unique<TPropsStorage>();
}

std::unique_ptr<TPropsStorage> TPropsStorage::Nested(cl::TObject* object, const std::string& prefix,
                                                     const std::string& section) {
  std::unique_ptr<TPropsStorage> storage = CreateStorage();
  storage->object_ = object;
  storage->prefix_ = prefix;
  storage->section_ = section;
  storage->on_read_ = on_read_;
  storage->on_write_ = on_write_;
  storage->on_erase_ = on_erase_;
  storage->depth_ = depth_ + 1;
  return storage;
}

// ---- text of one value --------------------------------------------------------------------------

std::string TPropsStorage::GetPropText(const TPropInfo& prop) {
  switch (prop.Kind) {
    case cl::tkInteger:
      return cl::IntToStr(prop.Get(object_).AsInteger());
    case cl::tkChar:
    case cl::tkWChar:
      return std::string(1, static_cast<char>(prop.Get(object_).AsInteger()));
    case cl::tkEnumeration: {
      const int ordinal = prop.Get(object_).AsInteger();
      if (prop.Enum == nullptr || ordinal < 0 ||
          ordinal >= static_cast<int>(prop.Enum->names.size())) {
        return std::string();
      }
      return prop.Enum->names[static_cast<size_t>(ordinal)];
    }
    case cl::tkFloat: {
      const cl::TFormatSettings settings = cl::CurrentFormatSettings();
      const std::string text = cl::FloatToStrF(prop.Get(object_).AsDouble(), cl::ffGeneral,
                                               FloatPrecision(prop.FloatType), 0, settings);
      return ReplaceChar(text, settings.DecimalSeparator, '.');
    }
    case cl::tkString:
    case cl::tkLString:
      return prop.Get(object_).AsString();
    case cl::tkSet: {
      const auto bits = static_cast<uint32_t>(prop.Get(object_).AsInteger());
      std::string text = "[";
      for (size_t i = 0; i < 32; ++i) {
        if ((bits & (uint32_t{1} << i)) == 0 || prop.Enum == nullptr ||
            i >= prop.Enum->names.size()) {
          continue;
        }
        if (text.size() > 1) text += ",";
        text += prop.Enum->names[i];
      }
      return text + "]";
    }
    case cl::tkVariant:
      return cl::VarToStr(prop.Get(object_));
    default:
      return std::string();
  }
}

void TPropsStorage::SetPropText(const TPropInfo& prop, const std::string& text) {
  switch (prop.Kind) {
    case cl::tkInteger: {
      // A text that is not a number leaves the value: a damaged entry must not zero a size.
      int32_t value = 0;
      if (cl::TryStrToInt(text, value)) prop.Set(object_, cl::Variant(value));
      break;
    }
    case cl::tkChar:
    case cl::tkWChar:
      if (!text.empty()) prop.Set(object_, cl::Variant(static_cast<unsigned char>(text[0]) + 0));
      break;
    case cl::tkEnumeration: {
      const int ordinal = EnumOrdinal(prop, text);
      if (ordinal >= 0) prop.Set(object_, cl::Variant(ordinal));
      break;
    }
    case cl::tkFloat: {
      const cl::TFormatSettings settings = cl::CurrentFormatSettings();
      prop.Set(object_, cl::Variant(cl::StrToFloat(
                            ReplaceChar(text, '.', settings.DecimalSeparator), settings)));
      break;
    }
    case cl::tkString:
    case cl::tkLString:
      prop.Set(object_, cl::Variant(text));
      break;
    case cl::tkSet: {
      uint32_t bits = 0;
      size_t start = 0;
      while (start <= text.size()) {
        size_t end = text.find_first_of(" ,[]", start);
        if (end == std::string::npos) end = text.size();
        const int ordinal = EnumOrdinal(prop, std::string_view(text).substr(start, end - start));
        if (end > start && ordinal >= 0 && ordinal < 32) bits |= uint32_t{1} << ordinal;
        start = end + 1;
      }
      prop.Set(object_, cl::Variant(static_cast<int32_t>(bits)));
      break;
    }
    case cl::tkVariant:
      prop.Set(object_, cl::Variant(text));
      break;
    case cl::tkClass:
      LoadClass(prop, text);
      break;
    default:
      break;
  }
}

// ---- class properties ---------------------------------------------------------------------------

std::string TPropsStorage::StoreClass(const TPropInfo& prop) {
  cl::TObject* object = prop.GetObject(object_);
  if (prop.ComponentRef || dynamic_cast<cl::TComponent*>(object) != nullptr) {
    return ComponentText(dynamic_cast<cl::TComponent*>(object), owner_);
  }
  if (object == nullptr) return std::string();
  if (auto* list = dynamic_cast<cl::TStrings*>(object)) {
    const std::string section = section_ + "." + GetItemName(prop.Name);
    EraseSection(section);
    if (list->Count() > 0) {
      WriteString(section, "Count", cl::IntToStr(list->Count()));
      for (int i = 0; i < list->Count(); ++i) {
        WriteString(section, "Item" + cl::IntToStr(i), list->Get(i));
      }
    }
  } else if (auto* collection = dynamic_cast<cl::TCollection*>(object)) {
    const std::string section = section_ + "." + prefix_ + prop.Name;
    EraseSection(section);
    WriteString(section_, GetItemName("Count"), cl::IntToStr(collection->Count()));
    for (int i = 0; i < collection->Count(); ++i) {
      Nested(collection->Items(i), "Item" + cl::IntToStr(i) + "_", section)->StoreProperties();
    }
  }
  Nested(object, prefix_ + prop.Name, section_)->StoreProperties();
  return std::string();
}

void TPropsStorage::LoadClass(const TPropInfo& prop, const std::string& text) {
  cl::TObject* object = prop.GetObject(object_);
  if (prop.ComponentRef || dynamic_cast<cl::TComponent*>(object) != nullptr) {
    if (text.empty()) return;
    if (cl::SameAsciiText(text, "(null)")) {
      prop.SetObject(object_, nullptr);
      return;
    }
    const size_t dot = text.find('.');
    const std::string owner_name =
        dot == std::string::npos ? std::string() : cl::Trim(text.substr(0, dot));
    const std::string name = cl::Trim(dot == std::string::npos ? text : text.substr(dot + 1));
    cl::TComponent* owner = owner_name.empty() ? owner_ : FindFormOrModule(owner_name);
    if (owner != nullptr) prop.SetObject(object_, owner->FindComponent(name));
    return;
  }
  if (object == nullptr) return;
  if (auto* list = dynamic_cast<cl::TStrings*>(object)) {
    const std::string section = section_ + "." + GetItemName(prop.Name);
    int32_t count = 0;
    if (!cl::TryStrToInt(cl::Trim(ReadString(section, "Count", "0")), count)) count = 0;
    if (count > 0) {
      // A damaged or hostile Count must not make the list grow past the lines stored.
      cl::TStringList lines;
      for (int i = 0; i < count && Holds(section, "Item" + cl::IntToStr(i)); ++i) {
        lines.Add(ReadString(section, "Item" + cl::IntToStr(i), ""));
      }
      list->Assign(&lines);
    }
  } else if (auto* collection = dynamic_cast<cl::TCollection*>(object)) {
    const std::string section = section_ + "." + prefix_ + prop.Name;
    collection->BeginUpdate();
    try {
      int32_t count = 0;
      if (!cl::TryStrToInt(cl::Trim(ReadString(section_, GetItemName("Count"), "0")), count)) {
        count = 0;
      }
      if (count != collection->Count()) {
        collection->Clear();
        // As for lists: an item of which the store holds none of its own values ends it.
        for (int i = 0; i < count; ++i) {
          cl::TCollectionItem* item = collection->Add();
          if (!HoldsItem(item, "Item" + cl::IntToStr(i) + "_", section)) {
            delete item;
            break;
          }
        }
      }
      for (int i = 0; i < collection->Count(); ++i) {
        Nested(collection->Items(i), "Item" + cl::IntToStr(i) + "_", section)->LoadProperties();
      }
    } catch (...) {
      collection->EndUpdate();
      throw;
    }
    collection->EndUpdate();
  }
  Nested(object, prefix_ + prop.Name, section_)->LoadProperties();
}

// ---- one property, one object -------------------------------------------------------------------

void TPropsStorage::StoreProperty(const TPropInfo& prop) {
  const std::string text = prop.Kind == cl::tkClass ? StoreClass(prop) : GetPropText(prop);
  if (text.empty() && !StoresEmptyText(prop.Kind)) return;
  WriteString(section_, GetItemName(prop.Name), cl::Trim(text));
}

void TPropsStorage::LoadProperty(const TPropInfo& prop) {
  try {
    const std::string default_text = prop.Kind == cl::tkClass ? std::string() : GetPropText(prop);
    if (default_text.empty() && !StoresEmptyText(prop.Kind) && prop.Kind != cl::tkClass) return;
    SetPropText(prop, cl::Trim(ReadString(section_, GetItemName(prop.Name), default_text)));
  } catch (const std::exception&) {
    // A stored value that cannot be applied leaves the property as it was; the others still load.
  }
}

void TPropsStorage::StoreProperties() {
  if (depth_ > kMaxNesting) return;
  const cl::TPropInfoList props(object_, StoredPropKinds());
  for (int i = 0; i < props.Count(); ++i) StoreProperty(props.Items(i));
}

void TPropsStorage::LoadProperties() {
  if (depth_ > kMaxNesting) return;
  const cl::TPropInfoList props(object_, StoredPropKinds());
  for (int i = 0; i < props.Count(); ++i) LoadProperty(props.Items(i));
}

// ---- stored lists -------------------------------------------------------------------------------

void TPropsStorage::WalkObjects(cl::TComponent* owner, cl::TStrings& stored_list,
                                Direction direction) {
  BindStoredList(owner, stored_list, false);
  std::map<std::string, std::unique_ptr<cl::TPropInfoList>> lists;  // by upper-cased name
  for (int i = 0; i < stored_list.Count(); ++i) {
    auto* component = dynamic_cast<cl::TComponent*>(stored_list.Objects(i));
    if (component == nullptr) continue;
    std::unique_ptr<cl::TPropInfoList>& list = lists[cl::AnsiUpperCase(component->Name())];
    if (!list) list = std::make_unique<cl::TPropInfoList>(component, StoredPropKinds());
  }
  owner_ = owner;
  for (int i = 0; i < stored_list.Count(); ++i) {
    std::string component_name;
    std::string property_name;
    auto* component = dynamic_cast<cl::TComponent*>(stored_list.Objects(i));
    if (component == nullptr ||
        !SplitStoredItem(stored_list.Get(i), component_name, property_name)) {
      continue;
    }
    object_ = component;
    prefix_ = component->Name();
    const auto found = lists.find(cl::AnsiUpperCase(prefix_));
    if (found == lists.end()) continue;
    prefix_ += "_";
    const TPropInfo* prop = found->second->Find(property_name);
    if (prop == nullptr) continue;
    if (direction == Direction::kStore) {
      StoreProperty(*prop);
    } else {
      LoadProperty(*prop);
    }
  }
  owner_ = nullptr;
}

void TPropsStorage::StoreObjectsProperties(cl::TComponent* owner, cl::TStrings& stored_list) {
  WalkObjects(owner, stored_list, Direction::kStore);
}

void TPropsStorage::LoadObjectsProperties(cl::TComponent* owner, cl::TStrings& stored_list) {
  WalkObjects(owner, stored_list, Direction::kLoad);
}

std::string MakeStoredItem(std::string_view component_name, std::string_view property_name) {
  if (component_name.empty() || property_name.empty()) return std::string();
  return std::string(component_name) + "." + std::string(property_name);
}

bool SplitStoredItem(std::string_view line, std::string& component_name,
                     std::string& property_name) {
  const size_t dot = line.find('.');
  if (dot == std::string_view::npos) return false;
  component_name = cl::Trim(line.substr(0, dot));
  property_name = cl::Trim(line.substr(dot + 1));
  return !component_name.empty() && !property_name.empty();
}

std::string RenameStoredItem(std::string_view line, std::string_view new_component_name) {
  std::string component_name;
  std::string property_name;
  if (!SplitStoredItem(line, component_name, property_name)) return std::string();
  return MakeStoredItem(new_component_name, property_name);
}

void BindStoredList(cl::TComponent* form, cl::TStrings& stored_list, bool from_form) {
  std::string component_name;
  std::string property_name;
  for (int i = stored_list.Count() - 1; i >= 0; --i) {
    if (!SplitStoredItem(stored_list.Get(i), component_name, property_name)) {
      stored_list.Delete(i);
      continue;
    }
    if (from_form) {
      cl::TComponent* component = form->FindComponent(component_name);
      if (component == nullptr) {
        stored_list.Delete(i);
      } else {
        stored_list.PutObject(i, component);
      }
      continue;
    }
    // The attached pointer is trusted only while the form still owns it: a freed component's
    // line goes, whatever its address holds now.
    auto* component = dynamic_cast<cl::TComponent*>(
        Owns(form, stored_list.Objects(i)) ? stored_list.Objects(i) : nullptr);
    if (component == nullptr) {
      stored_list.Delete(i);
    } else {
      stored_list.Put(i, MakeStoredItem(component->Name(), property_name));
    }
  }
}

cl::TComponent* FindFormOrModule(std::string_view name) {
  for (int i = 0; i < cl::Screen().FormCount(); ++i) {
    if (cl::AnsiSameText(cl::Screen().Forms(i)->Name(), name)) return cl::Screen().Forms(i);
  }
  for (int i = 0; i < cl::Screen().DataModuleCount(); ++i) {
    if (cl::AnsiSameText(cl::Screen().DataModules(i)->Name(), name)) {
      return cl::Screen().DataModules(i);
    }
  }
  return nullptr;
}

}  // namespace comp
