#include "platform/PrivateDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Environment.h"

namespace platform {
namespace {

bool IsAbsoluteDirectory(const std::string& path) {
  struct stat info;
  return !path.empty() && path[0] == '/' && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

OsError GetPrivateDirectory(std::string& path) {
  std::string candidate;
  const std::string runtime = GetEnv("XDG_RUNTIME_DIR");
  if (IsAbsoluteDirectory(runtime)) {
    candidate = WithoutTrailingSlash(runtime) + "/mirvel";
  } else {
    std::string temp = GetEnv("TMPDIR");
    if (!IsAbsoluteDirectory(temp)) temp = "/tmp";
    candidate = WithoutTrailingSlash(temp) + "/mirvel-" + std::to_string(geteuid());
  }
  if (mkdir(candidate.c_str(), 0700) != 0 && errno != EEXIST) return ErrnoToOsError(errno);
  struct stat info;
  if (lstat(candidate.c_str(), &info) != 0) return ErrnoToOsError(errno);
  if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid()) return kErrorAccessDenied;
  if ((info.st_mode & 0777) != 0700 && chmod(candidate.c_str(), 0700) != 0) {
    return ErrnoToOsError(errno);
  }
  path = candidate;
  return kErrorSuccess;
}

}  // namespace platform
