// The installer that the self-update launcher writes beside the program and starts.
//
//   ~#Instal.Exe "<update file>" "<program>" "<wait, seconds>" "<title>" <pid>
//
// It waits until process <pid> (the program that started it) has ended, then replaces <program>
// by a copy of <update file> (platform/FileReplace.h: atomic, permission bits kept, the update's
// time taken over so the next start sees no newer update), retrying for <wait> seconds while the
// replacement fails.  The wait accepts a decimal point or comma.  It does not start the program
// again.  Exit code 0 when the program was replaced, 1 when it was not, 2 for a bad command line;
// failures are reported on standard error under the title.  It links the platform layer only, so
// it stays small and runs without the program's libraries.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/FileReplace.h"
#include "platform/ProcessWait.h"
#include "platform/Ticks.h"

namespace {

// How long to wait for the program to end before giving up.
constexpr int32_t kProgramEndWaitMs = 120000;
constexpr int32_t kRetryPauseMs = 100;

bool ParseSeconds(std::string text, double& seconds) {
  for (char& c : text) {
    if (c == ',') c = '.';
  }
  char* end = nullptr;
  seconds = std::strtod(text.c_str(), &end);
  return !text.empty() && end != nullptr && *end == '\0' && seconds >= 0 && seconds < 86400;
}

bool ParsePid(const std::string& text, long& pid) {
  char* end = nullptr;
  pid = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && pid > 0;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0;
  long pid = 0;
  if (argc != 6 || !ParseSeconds(argv[3], seconds) || !ParsePid(argv[5], pid)) {
    std::fprintf(stderr, "usage: %s <update> <program> <seconds> <title> <pid>\n", argv[0]);
    return 2;
  }
  const std::string update = argv[1];
  const std::string program = argv[2];
  const char* title = argv[4];
  if (!platform::WaitForProcessEnd(static_cast<int32_t>(pid), kProgramEndWaitMs)) {
    std::fprintf(stderr, "%s: the program (process %ld) did not end\n", title, pid);
    return 1;
  }
  const uint64_t deadline = platform::GetTickCount() + static_cast<uint64_t>(seconds * 1000);
  while (true) {
    const platform::OsError error = platform::ReplaceFileWithCopy(update, program);
    if (error == platform::kErrorSuccess) return 0;
    if (platform::GetTickCount() >= deadline) {
      std::fprintf(stderr, "%s: cannot replace %s by %s (error %u)\n", title, program.c_str(),
                   update.c_str(), error);
      return 1;
    }
    platform::WaitMoreThan(kRetryPauseMs);
  }
}
