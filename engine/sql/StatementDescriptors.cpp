#include "engine/sql/StatementDescriptors.h"

#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/FilePaths.h"

namespace tessera {

TSourceDataFile::TSourceDataFile() : data_file(std::make_unique<TDataFile>()) {}

TSourceDataFile::~TSourceDataFile() {
  // The filters borrow this table's trees (and its parent link's, which closing never reads):
  // they go first.
  data_file.reset();
}

void TSourceDataFile::SetTableName(std::string_view name, std::string_view directory) {
  std::string full =
      ContainsPath(name) ? std::string(name) : AddTrailingBackslash(directory) + std::string(name);
  if (!cl::FitsShort(full)) RaiseEngineError(kErrInvalidPath, name);
  table_name = std::move(full);
  std::string_view file_part = table_name;
  size_t slash = file_part.rfind('/');
  if (slash != std::string_view::npos) file_part.remove_prefix(slash + 1);
  correlation_name = RemoveFileExtension(file_part);
}

}  // namespace tessera
