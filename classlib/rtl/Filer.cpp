#include "classlib/rtl/Filer.h"

namespace cl {

std::vector<TStoredProperty> TPropertyWriter::Collect(TPersistent& object) {
  TPropertyWriter writer;
  object.DefineProperties(writer);
  return std::move(writer.properties_);
}

void TPropertyWriter::DefineProperty(const std::string& name, const TValueReader&,
                                     const TValueWriter& write, bool has_data) {
  if (!has_data || !write) return;
  TStoredProperty property;
  property.name = name;
  property.value = write();
  properties_.push_back(std::move(property));
}

void TPropertyWriter::DefineBinaryProperty(const std::string& name, const TStreamProc&,
                                           const TStreamProc& write, bool has_data) {
  if (!has_data || !write) return;
  TMemoryStream stream;
  write(stream);
  TStoredProperty property;
  property.name = name;
  property.binary = true;
  property.bytes = stream.Bytes();
  properties_.push_back(std::move(property));
}

}  // namespace cl
