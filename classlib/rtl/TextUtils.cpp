#include "classlib/rtl/TextUtils.h"

namespace cl {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::string Trim(std::string_view s) { return TrimLeft(TrimRight(s)); }

std::string TrimLeft(std::string_view s) {
  size_t start = 0;
  while (start < s.size() && IsBlank(s[start])) ++start;
  return std::string(s.substr(start));
}

std::string TrimRight(std::string_view s) {
  size_t end = s.size();
  while (end > 0 && IsBlank(s[end - 1])) --end;
  return std::string(s.substr(0, end));
}

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
