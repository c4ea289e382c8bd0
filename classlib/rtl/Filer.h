// TFiler: how an object declares the properties it stores with its form beyond its plain ones,
// and TPropertyWriter, which collects them.
//
// An object overrides TPersistent::DefineProperties and, for each such property, calls
// DefineBinaryProperty (bytes that its own procedures read from and write to a stream, such as
// the icon list of a tray icon or the records of an in-memory dataset) or DefineProperty (a
// pseudo property carried as one value).  `has_data` tells whether there is anything to store
// now; a property without data is not written.  Names compare without regard to case.
//
// Reading is done by TLoader (Loader.h) from the bytes or values a form builder supplies;
// writing by TPropertyWriter, which gives those same bytes back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Streams.h"
#include "classlib/rtl/Variant.h"

namespace cl {

using TStreamProc = std::function<void(TStream& stream)>;
using TValueReader = std::function<void(const Variant& value)>;
using TValueWriter = std::function<Variant()>;

class TFiler {
 public:
  virtual ~TFiler() = default;

  virtual void DefineProperty(const std::string& name, const TValueReader& read,
                              const TValueWriter& write, bool has_data) = 0;
  // The read procedure receives a stream holding exactly the property's bytes, at position 0.
  virtual void DefineBinaryProperty(const std::string& name, const TStreamProc& read,
                                    const TStreamProc& write, bool has_data) = 0;
};

// One stored property: its bytes (binary) or its value.
struct TStoredProperty {
  std::string name;
  bool binary = false;
  std::vector<uint8_t> bytes;
  Variant value;
};

class TPropertyWriter : public TFiler {
 public:
  // The properties `object` declares and has data for, in declaration order.
  static std::vector<TStoredProperty> Collect(TPersistent& object);

  void DefineProperty(const std::string& name, const TValueReader& read, const TValueWriter& write,
                      bool has_data) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& read,
                            const TStreamProc& write, bool has_data) override;

 private:
  std::vector<TStoredProperty> properties_;
};

}  // namespace cl
