#include "classlib/rtl/TypInfo.h"

#include <map>
#include <mutex>

#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Exceptions.h"

namespace cl {
namespace {

struct ClassEntry {
  bool has_parent = false;
  std::type_index parent = typeid(void);
  std::function<bool(TObject*)> is_instance;
  std::vector<TPropInfo> props;
};

struct Registry {
  std::mutex mutex;
  std::map<std::type_index, ClassEntry> classes;
};

Registry& Classes() {
  static Registry registry;
  return registry;
}

// Number of registered ancestors of a class (the most derived match has the most).
int Depth(const Registry& registry, std::type_index cls) {
  int depth = 0;
  for (auto it = registry.classes.find(cls); it != registry.classes.end() && it->second.has_parent;
       it = registry.classes.find(it->second.parent)) {
    if (++depth > 1000) break;  // a registration cycle
  }
  return depth;
}

}  // namespace

namespace detail {

void RegisterProps(std::type_index cls, std::type_index parent, bool has_parent,
                   std::function<bool(TObject*)> is_instance, std::vector<TPropInfo> props) {
  std::lock_guard<std::mutex> guard(Classes().mutex);
  ClassEntry& entry = Classes().classes[cls];
  entry.has_parent = has_parent;
  entry.parent = parent;
  entry.is_instance = std::move(is_instance);
  entry.props = std::move(props);
}

}  // namespace detail

TPropInfoList::TPropInfoList(TObject* object, TTypeKinds kinds) {
  if (object == nullptr) return;
  std::lock_guard<std::mutex> guard(Classes().mutex);
  const Registry& registry = Classes();
  const ClassEntry* best = nullptr;
  std::type_index best_type = typeid(void);
  int best_depth = -1;
  for (const auto& [type, entry] : registry.classes) {
    if (!entry.is_instance(object)) continue;
    const int depth = Depth(registry, type);
    if (depth > best_depth) {
      best = &entry;
      best_type = type;
      best_depth = depth;
    }
  }
  if (best == nullptr) return;
  std::vector<const ClassEntry*> chain;
  for (auto it = registry.classes.find(best_type); it != registry.classes.end();) {
    chain.insert(chain.begin(), &it->second);
    if (!it->second.has_parent || chain.size() > 1000) break;
    it = registry.classes.find(it->second.parent);
  }
  for (const ClassEntry* entry : chain) {
    for (const TPropInfo& prop : entry->props) {
      if (!kinds.Contains(prop.Kind)) continue;
      bool replaced = false;
      for (TPropInfo& existing : props_) {
        if (SameAsciiText(existing.Name, prop.Name)) {
          existing = prop;  // a derived class redeclares it
          replaced = true;
        }
      }
      if (!replaced) props_.push_back(prop);
    }
  }
}

const TPropInfo& TPropInfoList::Items(int index) const {
  if (index < 0 || index >= Count()) ListIndexError(index);
  return props_[static_cast<size_t>(index)];
}

const TPropInfo* TPropInfoList::Find(std::string_view name) const {
  for (const TPropInfo& prop : props_) {
    if (SameAsciiText(prop.Name, name)) return &prop;
  }
  return nullptr;
}

}  // namespace cl
