// A second process for the OS-service tests, started through StartProcess itself.
//
//   fds <out>          writes its open descriptors, one a line, and its stdin/session facts
//   hold <name> <out>  opens the 4-byte shared block <name>; writes "first" (and puts 0x11223344
//                      in the block) or "second"; then waits to be killed
//
// Results are written to <out>.part and renamed, so the test never reads half a file.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/SharedMapping.h"

namespace {

void Publish(const std::string& out, const std::string& text) {
  const std::string part = out + ".part";
  FILE* f = std::fopen(part.c_str(), "we");
  if (f == nullptr) std::exit(2);
  std::fputs(text.c_str(), f);
  std::fclose(f);
  std::rename(part.c_str(), out.c_str());
}

std::string OpenDescriptors() {
  std::string text;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return "no-proc\n";
  const int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    if (std::atoi(entry->d_name) == own) continue;
    text += std::string("fd ") + entry->d_name + "\n";
  }
  closedir(dir);
  char byte;
  text += read(0, &byte, 1) == 0 ? "stdin empty\n" : "stdin not empty\n";
  text += getsid(0) == getpid() ? "own session\n" : "parent session\n";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "fds") == 0) {
    Publish(argv[2], OpenDescriptors());
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
    platform::SharedMapping mapping;
    if (mapping.Open(argv[2], 4) != platform::kErrorSuccess) return 3;
    if (mapping.Created()) {
      const uint8_t handle[4] = {0x44, 0x33, 0x22, 0x11};
      std::memcpy(mapping.Data(), handle, 4);
    }
    Publish(argv[3], mapping.Created() ? "first" : "second");
    for (;;) pause();
  }
  return 1;
}
