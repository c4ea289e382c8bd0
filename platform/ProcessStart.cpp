#include "platform/ProcessStart.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Owns the spawn attributes and file actions so that every exit path destroys them.
class SpawnSetup {
 public:
  SpawnSetup() {
    attributes_ok_ = posix_spawnattr_init(&attributes_) == 0;
    actions_ok_ = posix_spawn_file_actions_init(&actions_) == 0;
  }
  ~SpawnSetup() {
    if (attributes_ok_) posix_spawnattr_destroy(&attributes_);
    if (actions_ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool Prepare() {
    return attributes_ok_ && actions_ok_ &&
           posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID) == 0 &&
           posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
           posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
  }
  const posix_spawnattr_t* Attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* Actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
  bool attributes_ok_ = false;
  bool actions_ok_ = false;
};

void Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> arguments;
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i >= line.size()) return arguments;

  std::string program;
  if (line[i] == '"') {
    const size_t end = line.find('"', i + 1);
    program = std::string(line.substr(i + 1, end == std::string_view::npos ? end : end - i - 1));
    i = end == std::string_view::npos ? line.size() : end + 1;
  }
  while (i < line.size() && !IsBlank(line[i])) program += line[i++];
  arguments.push_back(std::move(program));

  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string argument;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == '\\') {
        size_t count = 0;
        while (i < line.size() && line[i] == '\\') ++count, ++i;
        if (i < line.size() && line[i] == '"') {
          argument.append(count / 2, '\\');
          if (count % 2 == 1) {
            argument += '"';
            ++i;
          }
        } else {
          argument.append(count, '\\');
        }
      } else if (line[i] == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          argument += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument += line[i++];
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::string QuoteCommandArgument(std::string_view argument) {
  std::string quoted = "\"";
  size_t backslashes = 0;  // pending: their count depends on what follows them
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted.append(2 * backslashes + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    quoted += c;
    backslashes = 0;
  }
  // Before the closing quote, each backslash is doubled.
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

bool QuoteCommandProgram(std::string_view program, std::string* quoted) {
  // The quoted head runs to the first double quote; what follows it is read up to a blank.
  const size_t quote = program.find('"');
  const std::string_view head = program.substr(0, quote);
  const std::string_view tail =
      quote == std::string_view::npos ? std::string_view() : program.substr(quote);
  if (tail.find_first_of(" \t") != std::string_view::npos) return false;
  if (program.empty()) return false;
  *quoted = "\"" + std::string(head) + "\"" + std::string(tail);
  return true;
}

int32_t StartProcess(std::string_view command_line) {
  const std::vector<std::string> arguments = SplitCommandLine(command_line);
  if (arguments.empty() || arguments[0].empty()) return 0;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  SpawnSetup setup;
  if (!setup.Prepare()) return 0;
  pid_t pid = 0;
  // posix_spawnp searches PATH only for a name without "/", as documented above.
  if (posix_spawnp(&pid, argv[0], setup.Actions(), setup.Attributes(), argv.data(), environ) != 0) {
    return 0;
  }
  try {
    std::thread(Reap, pid).detach();
  } catch (...) {
    // No thread for the reaper: the child still runs; it stays a zombie until this process ends,
    // which is harmless compared with reporting a started program as a failure.
  }
  return static_cast<int32_t>(pid);
}

}  // namespace platform
