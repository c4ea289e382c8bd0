// The roots of the class library's object model: TObject (run-time class name) and TPersistent
// (assignment between objects, and the binary and pseudo properties a form stores).
//
// Class names come from the C++ type itself, so every class reports its own name without a
// per-class declaration: a form of class TFenEditMessages answers "TFenEditMessages", which the
// placement storage uses as its section name, and a resource named after a component's class is
// found under that name.  "Is a" tests are dynamic_cast.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <typeinfo>

namespace cl {

class TFiler;
class TObject;

// The plain event: the sender only.  An empty function is "not assigned".
using TNotifyEvent = std::function<void(TObject* sender)>;

// How a control, a grid column or a field aligns its text (one definition for the visual layer
// and the dataset model).
enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

// The unqualified name of a C++ type ("TFenEditMessages" for cl::app::TFenEditMessages).
std::string ClassNameOf(const std::type_info& type);

// The class name of an exception object (the log writes it before the message).
std::string ExceptionClassName(const std::exception& e);

class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;

  std::string ClassName() const { return ClassNameOf(typeid(*this)); }
};

class TPersistent : public TObject {
 public:
  // Copies `source` into this object.  A class that does not know the source asks the source to
  // assign itself (AssignTo); when neither knows the other, or `source` is null, EConvertError
  // "Impossible d'affecter un <source> à un <this>" is raised.
  virtual void Assign(const TPersistent* source);

  // Declares the binary and pseudo properties this object stores with its form (see TFiler).
  virtual void DefineProperties(TFiler& filer);

 protected:
  // Assigns this object to `dest`; the default refuses (EConvertError).
  virtual void AssignTo(TPersistent* dest) const;

  // Raises the assignment error for `source` (null allowed) assigned to this object.
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

}  // namespace cl
