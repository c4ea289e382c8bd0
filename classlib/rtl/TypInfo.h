// Published-property information: the run-time list of an object's stored properties, which the
// property storage walks to write and read them as text without per-class code.
//
// Published properties are declared by registration: each class whose properties may be stored
// registers them once, with accessors, naming its registered parent class; a class inherits the
// properties of its registered ancestors.  An object's list comes from the most derived
// registered class it belongs to (by dynamic_cast), so a subclass that registers nothing has its
// base's properties.
//
// Values travel as Variant: integers, characters (their ordinal), enumerations (their ordinal)
// and sets (their members' bits, ordinals 0..31) as Integer; floats as Double; strings as String;
// variants as themselves.  Class properties use GetObject/SetObject instead.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/TSet.h"
#include "classlib/rtl/Variant.h"

namespace cl {

enum TTypeKind {
  tkUnknown,
  tkInteger,
  tkChar,
  tkEnumeration,
  tkFloat,
  tkString,
  tkSet,
  tkClass,
  tkMethod,
  tkWChar,
  tkLString,
  tkWString,
  tkVariant
};
using TTypeKinds = TSet<TTypeKind>;

// Precision of the float kinds when written as text: 7, 15, 18, 18 and 19 digits.
enum class TFloatType { ftSingle, ftDouble, ftExtended, ftComp, ftCurr };

// The identifiers of an enumeration, by ordinal (also the element type of a set).
struct TEnumInfo {
  std::vector<std::string> names;
};

struct TPropInfo {
  std::string Name = "";
  TTypeKind Kind = tkUnknown;
  TFloatType FloatType = TFloatType::ftDouble;
  const TEnumInfo* Enum = nullptr;  // tkEnumeration, tkSet
  std::function<Variant(TObject*)> Get = nullptr;
  std::function<void(TObject*, const Variant&)> Set = nullptr;
  std::function<TObject*(TObject*)> GetObject = nullptr;  // tkClass
  std::function<void(TObject*, TObject*)> SetObject = nullptr;
  // tkClass: the declared class is a component, so the property is a reference to one (stored
  // by name, "(null)" when empty) rather than an object of its own.
  bool ComponentRef = false;
};

namespace detail {
void RegisterProps(std::type_index cls, std::type_index parent, bool has_parent,
                   std::function<bool(TObject*)> is_instance, std::vector<TPropInfo> props);
}  // namespace detail

// Registers the properties of class T (after those of Parent, which must be registered first
// when given).  Registering a class again replaces its list.
template <class T, class Parent = void>
void RegisterProps(std::vector<TPropInfo> props) {
  auto is_instance = [](TObject* o) { return dynamic_cast<T*>(o) != nullptr; };
  if constexpr (std::is_void_v<Parent>) {
    detail::RegisterProps(typeid(T), typeid(void), false, is_instance, std::move(props));
  } else {
    detail::RegisterProps(typeid(T), typeid(Parent), true, is_instance, std::move(props));
  }
}

// The properties of one object whose kind is in `kinds`, base class properties first; empty
// for a null object or an unregistered class.
class TPropInfoList {
 public:
  TPropInfoList(TObject* object, TTypeKinds kinds);

  int Count() const { return static_cast<int>(props_.size()); }
  // REQUIRES: 0 <= index < Count(), else EListError.
  const TPropInfo& Items(int index) const;
  // By name, ignoring case; nullptr when absent.
  const TPropInfo* Find(std::string_view name) const;

 private:
  std::vector<TPropInfo> props_;
};

}  // namespace cl
