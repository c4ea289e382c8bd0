#include "classlib/rtl/TextUtils.h"

#include "classlib/rtl/Blanks.h"

namespace cl {

std::string Trim(std::string_view s) { return std::string(TrimBlanks(s)); }

std::string ExtractFilePath(std::string_view file_name) {
  const size_t slash = file_name.rfind('/');
  return slash == std::string_view::npos ? std::string()
                                         : std::string(file_name.substr(0, slash + 1));
}

std::string ExtractFileName(std::string_view file_name) {
  const size_t slash = file_name.rfind('/');
  return std::string(slash == std::string_view::npos ? file_name : file_name.substr(slash + 1));
}

}  // namespace cl
