// TLoader: builds a form or data module in code the way reading its form resource would.
//
// There is no form-file reader.  Each form or module class constructs its components in its
// constructor, in resource order, through one TLoader, and sets their properties as the
// resource lists them; the loader gives that code the resource-reading contract:
//
//   TLoader(root)          the root is marked csLoading and csReading
//   Create<T>(owner, name) each component is born csLoading|csReading (already inside its
//                          constructor), named, and announced to its owner
//   ...property setters... setters that must wait for the whole form see csLoading
//   DefineData/DefineValue the binary and pseudo properties of a component (as TPropertyWriter
//                          gives them), kept until Finish
//   Finish()               1. each component, root first then in creation order, reads its
//                             binary and pseudo properties through DefineProperties;
//                          2. csReading is cleared on all of them;
//                          3. Loaded() runs once on each, in the same order (clearing csLoading).
//
// A module's OnCreate comes after all of that (TDataModule::AfterConstruction), and so does a
// form's in the user interface.  A property given to Define* that the component does not declare
// makes Finish raise EReadError.  If building fails before Finish, the loader's destructor clears
// the loading flags (no Loaded runs) and the caller's exception goes on.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "classlib/rtl/Filer.h"
#include "classlib/rtl/TComponent.h"

namespace cl {

class TLoader {
 public:
  explicit TLoader(TComponent* root);
  ~TLoader();
  TLoader(const TLoader&) = delete;
  TLoader& operator=(const TLoader&) = delete;

  TComponent* Root() const { return root_; }

  template <class T, class... A>
  T* Create(TComponent* owner, const std::string& name, A&&... args) {
    detail::SetInitialComponentState(TComponentState{csLoading, csReading});
    T* component = nullptr;
    try {
      component = new T(owner, std::forward<A>(args)...);
    } catch (...) {
      detail::SetInitialComponentState(TComponentState());
      throw;
    }
    try {
      component->SetName(name);
      component->AfterConstruction();
    } catch (...) {
      delete component;
      throw;
    }
    loaded_.push_back(component);
    return component;
  }

  // REQUIRES: `component` is the root or was created by this loader (else EReadError).
  void DefineData(TComponent* component, const std::string& property, std::vector<uint8_t> bytes);
  void DefineValue(TComponent* component, const std::string& property, const Variant& value);

  void Finish();

 private:
  struct Pending {
    TComponent* component;
    TStoredProperty property;
  };

  void Check(TComponent* component) const;
  void ClearFlags();

  TComponent* root_;
  std::vector<TComponent*> loaded_;  // root first
  std::vector<Pending> pending_;
  bool finished_ = false;
};

}  // namespace cl
