#include "engine/storage/core/FilePaths.h"

#include <cassert>
#include <vector>

#include "classlib/rtl/Blanks.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineErrors.h"
#include "platform/ProcessInfo.h"

namespace tessera {
namespace {

// Resolves "." and ".." and collapses repeated separators.  REQUIRES: path starts with "/".
std::string NormalizeAbsolute(std::string_view path) {
  assert(path.starts_with('/'));
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string_view::npos) next = path.size();
    std::string_view part = path.substr(pos, next - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = next + 1;
  }
  std::string result;
  for (std::string_view part : parts) {
    result += '/';
    result += part;
  }
  const bool trailing = path.size() > 1 && path.back() == '/' && !parts.empty();
  if (result.empty() || trailing) result += '/';
  return result;
}

}  // namespace

std::string AddTrailingBackslash(std::string_view dir) {
  std::string result(cl::TrimBlanks(dir));
  if (!result.empty() && result.back() != '/') result += '/';
  return result;
}

bool ContainsPath(std::string_view name) {
  return name.empty() || name.find('/') != std::string_view::npos;
}

std::string RemoveFileExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  const size_t slash = name.rfind('/');
  if (dot == std::string_view::npos) return std::string(name);
  if (slash != std::string_view::npos && dot < slash) return std::string(name);
  return std::string(name.substr(0, dot));
}

std::string ExpandTableName(std::string_view name) {
  std::string full;
  if (!name.empty() && name.front() == '/') {
    full = NormalizeAbsolute(name);
  } else {
    const std::string cwd = platform::GetCurrentDir();
    if (cwd.empty()) RaiseEngineError(kErrInvalidPath, cl::ToShort(name));
    full = NormalizeAbsolute(cl::Utf8ToCp1252(cwd) + "/" + std::string(name));
  }
  if (!cl::FitsShort(full)) RaiseEngineError(kErrInvalidPath, cl::ToShort(name));
  return RemoveFileExtension(full);
}

}  // namespace tessera
