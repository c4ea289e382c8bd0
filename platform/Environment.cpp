#include "platform/Environment.h"

#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/OsError.h"

namespace platform {
namespace {

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string HomeDirectory() {
  std::string home = GetEnv("HOME");
  if (IsAbsolute(home)) return home;
  std::vector<char> buffer(16384);
  struct passwd pw;
  struct passwd* result = nullptr;
  if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return "/";
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "";
  return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string GetEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string UserConfigDirectory() {
  std::string base = GetEnv("XDG_CONFIG_HOME");
  if (!IsAbsolute(base)) base = WithoutTrailingSlash(HomeDirectory()) + "/.config";
  return WithoutTrailingSlash(base) + "/mirvel";
}

std::string SystemConfigDirectory() {
  const std::string dirs = GetEnv("XDG_CONFIG_DIRS");
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string entry = dirs.substr(start, end - start);
    if (IsAbsolute(entry)) return WithoutTrailingSlash(entry) + "/mirvel";
    start = end + 1;
  }
  return "/etc/xdg/mirvel";
}

OsError CreateDirectories(const std::string& path, bool shared) {
  if (path.empty()) return kErrorPathNotFound;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? kErrorSuccess : kErrorAccessDenied;
  const size_t slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
  if (slash != std::string::npos && slash > 0) {
    const OsError parent = CreateDirectories(path.substr(0, slash), shared);
    if (parent != kErrorSuccess) return parent;
  }
  if (mkdir(path.c_str(), shared ? 0777 : 0700) != 0 && errno != EEXIST)
    return ErrnoToOsError(errno);
  return kErrorSuccess;
}

}  // namespace platform
