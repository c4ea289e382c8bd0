#include "classlib/rtl/Classes.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

#include "classlib/rtl/Exceptions.h"

namespace cl {

std::string ClassNameOf(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
  // Drop the qualification ("cl::", "(anonymous namespace)::") but not inside template
  // arguments.
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '<' || c == '(') ++depth;
    if (c == '>' || c == ')') --depth;
    if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') start = i + 2;
  }
  return name.substr(start);
}

std::string ExceptionClassName(const std::exception& e) { return ClassNameOf(typeid(e)); }

void TPersistent::Assign(const TPersistent* source) {
  if (source == nullptr) AssignError(nullptr);
  source->AssignTo(this);
}

void TPersistent::DefineProperties(TFiler&) {}

void TPersistent::AssignTo(TPersistent* dest) const { dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* source) const {
  const std::string source_name = source ? source->ClassName() : "nil";
  throw EConvertError("Impossible d'affecter un " + source_name + " \xE0 un " + ClassName());
}

}  // namespace cl
