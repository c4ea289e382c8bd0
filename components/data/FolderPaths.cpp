#include "components/data/FolderPaths.h"

#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/TextUtils.h"
#include "platform/FileNames.h"

namespace comp {
namespace {

std::string ListedPath(std::string_view path) {
  const size_t first = path.find('/');
  if (first == std::string_view::npos) return std::string(path);
  // `found` is the path as resolved so far (UTF-8), so that deeper elements are looked up under
  // their parents' listed spelling; it stops being usable once an element is missing.
  std::string result(path.substr(0, first));
  std::string found = cl::Cp1252ToUtf8(result);
  bool missing = false;
  size_t start = first + 1;
  while (true) {
    const size_t end = path.find('/', start);
    const std::string_view element =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    result.push_back('/');
    found.push_back('/');
    if (!element.empty()) {
      std::string listed;
      if (!missing) {
        const std::string candidate = found + cl::Cp1252ToUtf8(element);
        if (platform::PathExists(candidate)) {
          found = platform::ResolveFileName(candidate);
          listed = cl::Utf8ToCp1252(cl::ExtractFileName(found));
        }
      }
      missing = missing || listed.empty();
      result += listed;
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return result;
}

}  // namespace

bool DirExists(std::string_view name) { return platform::DirectoryExists(cl::Cp1252ToUtf8(name)); }

std::string ShortToLongPath(std::string_view path) { return ListedPath(path); }

std::string LongToShortPath(std::string_view path) { return ListedPath(path); }

}  // namespace comp
