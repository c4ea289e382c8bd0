// Property storage: chosen published properties of a form's components written as text values
// into a section of an INI file or registry key, and read back, through the published-property
// table alone (classlib/rtl/TypInfo.h), with no per-class code.
//
// The storage knows nothing of files: its user supplies three callbacks (read a string, write a
// string, erase a section).  Value names are Prefix + property name; for the lines of a stored
// list ("PanelDonnees.Height") the prefix is the component's name and "_", so the value is
// "PanelDonnees_Height" in the user's section.
//
// Text forms, by kind:
//   integer          decimal                    character      the character
//   enumeration      the identifier ("True")    float          general format at the type's
//   string           the value                                 precision, "." as the separator
//   set              "[a,b]", "[]" when empty   variant        its text (read back as a string)
//   string list      section "<section>.<prefix><name>" erased, then "Count" and "Item0".. there
//   collection       "<prefix>Count" in the section; item i under prefix "Item<i>_" in section
//                    "<section>.<prefix><name>"
//   component        "(null)", "Name" (no owner, or the storage's owner) or "Owner.Name"
//   other objects    their own properties, prefix + property name as the prefix
// Stored texts are trimmed.  Loading one property is guarded: a value that cannot be applied
// (a bad number, an unknown identifier, an exception of a setter) leaves the property as it was.
//
// Threads: GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/TStrings.h"
#include "classlib/rtl/TypInfo.h"

namespace comp {

using TReadStrEvent = std::function<std::string(const std::string& section, const std::string& item,
                                                const std::string& default_value)>;
using TWriteStrEvent = std::function<void(const std::string& section, const std::string& item,
                                          const std::string& value)>;
using TEraseSectEvent = std::function<void(const std::string& section)>;

// Every kind the storage handles (all but method and unknown).
cl::TTypeKinds StoredPropKinds();

class TPropsStorage : public cl::TObject {
 public:
  cl::TObject* AObject() const { return object_; }
  void SetAObject(cl::TObject* object) { object_ = object; }
  cl::TComponent* Owner() const { return owner_; }
  void SetOwner(cl::TComponent* owner) { owner_ = owner; }
  const std::string& Prefix() const { return prefix_; }
  void SetPrefix(const std::string& prefix) { prefix_ = prefix; }
  const std::string& Section() const { return section_; }
  void SetSection(const std::string& section) { section_ = section; }
  void SetOnReadString(TReadStrEvent handler) { on_read_ = std::move(handler); }
  void SetOnWriteString(TWriteStrEvent handler) { on_write_ = std::move(handler); }
  void SetOnEraseSection(TEraseSectEvent handler) { on_erase_ = std::move(handler); }

  // The read callback's answer; "" (not the default) without a read callback.
  virtual std::string ReadString(const std::string& section, const std::string& item,
                                 const std::string& default_value);
  // Whether the read callback holds a value for `item` (read twice with different defaults).
  bool Holds(const std::string& section, const std::string& item);
  // Whether it holds one of `item`'s values (its nested objects' too) under `prefix`, or `item`
  // has none that could be stored.
  bool HoldsItem(cl::TObject* item, const std::string& prefix, const std::string& section);
  // Whether it holds a value of `object` or of the objects nested in it; `told` is set when
  // one of them could be stored at all.
  bool HoldsValuesOf(cl::TObject* object, const std::string& prefix, const std::string& section,
                     bool& told);
  virtual void WriteString(const std::string& section, const std::string& item,
                           const std::string& value);
  virtual void EraseSection(const std::string& section);
  virtual std::string GetItemName(const std::string& property_name);
  // A new, empty storage of this storage's class (for nested objects).
  virtual std::unique_ptr<TPropsStorage> CreateStorage();

  // One property of AObject.
  void StoreProperty(const cl::TPropInfo& prop);
  void LoadProperty(const cl::TPropInfo& prop);
  // Every stored property of AObject.
  void StoreProperties();
  void LoadProperties();

  // The lines of `stored_list` ("Component.Property"), bound to `owner`'s components first.
  void StoreObjectsProperties(cl::TComponent* owner, cl::TStrings& stored_list);
  void LoadObjectsProperties(cl::TComponent* owner, cl::TStrings& stored_list);

 private:
  enum class Direction { kStore, kLoad };

  std::string GetPropText(const cl::TPropInfo& prop);
  void SetPropText(const cl::TPropInfo& prop, const std::string& text);
  std::string StoreClass(const cl::TPropInfo& prop);
  void LoadClass(const cl::TPropInfo& prop, const std::string& text);
  // A storage for an object nested in AObject, sharing this one's callbacks.
  std::unique_ptr<TPropsStorage> Nested(cl::TObject* object, const std::string& prefix,
                                        const std::string& section);
  void WalkObjects(cl::TComponent* owner, cl::TStrings& stored_list, Direction direction);

  cl::TObject* object_ = nullptr;
  cl::TComponent* owner_ = nullptr;
  std::string prefix_;
  std::string section_;
  TReadStrEvent on_read_;
  TWriteStrEvent on_write_;
  TEraseSectEvent on_erase_;
  int depth_ = 0;  // nesting level below the stored object
};

// "Component.Property", or "" when either part is empty.
std::string MakeStoredItem(std::string_view component_name, std::string_view property_name);
// Splits at the first ".", trimming both parts; true only when both are non-empty.
bool SplitStoredItem(std::string_view line, std::string& component_name,
                     std::string& property_name);
// The line with another component name ("" when it does not split).
std::string RenameStoredItem(std::string_view line, std::string_view new_component_name);
// From the form (after loading): lines that do not split or name no component of `form` are
// dropped, the others get their component attached.  To the form (before each store or load):
// lines that do not split or whose attached component is gone are dropped, the others renamed
// after their component's current name.
void BindStoredList(cl::TComponent* form, cl::TStrings& stored_list, bool from_form);
// The first form of the screen, then the first data module, of that name (ignoring case).
cl::TComponent* FindFormOrModule(std::string_view name);

}  // namespace comp
