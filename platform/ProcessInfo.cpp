#include "platform/ProcessInfo.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {

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

}  // namespace platform
