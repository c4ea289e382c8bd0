#include "platform/ProcessInfo.h"

#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

constexpr size_t kMaxNameLength = 255;

std::string Limited(std::string name) {
  if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
  return name;
}

}  // namespace

std::string GetCurrentDir() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() >= (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  std::string dir(buffer.data());
  // Linux reports an unreachable directory with a "(unreachable)" prefix instead of a path.
  if (dir.empty() || dir[0] != '/') return std::string();
  return dir;
}

int32_t GetCurrentThreadId() { return static_cast<int32_t>(syscall(SYS_gettid)); }

int32_t GetCurrentProcessId() { return static_cast<int32_t>(getpid()); }

std::string GetUserName() {
  std::vector<char> buffer(16384);
  struct passwd pw;
  struct passwd* result = nullptr;
  if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_name != nullptr && result->pw_name[0] != '\0') {
    return Limited(result->pw_name);
  }
  for (const char* variable : {"USER", "LOGNAME"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return Limited(value);
  }
  return std::string();
}

std::string GetComputerName() {
  char buffer[256] = {};
  if (gethostname(buffer, sizeof(buffer) - 1) != 0) return std::string();
  std::string name(buffer);
  const size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  return Limited(name);
}

}  // namespace platform
