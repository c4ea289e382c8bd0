// A second process for the lock and share-mode tests.  It reads one command a line on stdin and
// answers one line on stdout: "ok" or "err <number>" (the platform's error number).
//
//   open <h> <rw|ro> <shared|excl> <path>   open <path> as handle h (0..3)
//   create <h> <path>                        create-new as handle h
//   lock <h> <offset> <length>               one lock attempt
//   unlock <h> <offset> <length>
//   close <h>
//   delete <path>
//   rename <from> <to>
//   exit                                     ends at once, leaving its files open
//
// End of input ends it as well.  Paths must not contain blanks.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/OsFile.h"

namespace {

constexpr int kHandles = 4;

std::string Answer(platform::OsError error) {
  return error == platform::kErrorSuccess ? "ok" : "err " + std::to_string(error);
}

}  // namespace

int main() {
  platform::OsFile files[kHandles];
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    int h = 0;
    std::string reply = "err bad-command";
    if (command == "open" || command == "create" || command == "lock" || command == "unlock" ||
        command == "close") {
      if (!(in >> h) || h < 0 || h >= kHandles) {
        std::cout << "err bad-handle" << std::endl;
        continue;
      }
    }
    if (command == "open") {
      std::string access, share, path;
      in >> access >> share >> path;
      reply = Answer(files[h].Open(
          path, access == "ro" ? platform::FileAccess::kRead : platform::FileAccess::kReadWrite,
          share == "excl" ? platform::FileShare::kExclusive : platform::FileShare::kDenyNone,
          false));
    } else if (command == "create") {
      std::string path;
      in >> path;
      reply = Answer(files[h].CreateNew(path, false));
    } else if (command == "lock" || command == "unlock") {
      uint64_t offset = 0, length = 0;
      in >> offset >> length;
      reply = Answer(command == "lock" ? files[h].Lock(offset, length)
                                       : files[h].Unlock(offset, length));
    } else if (command == "close") {
      files[h].Close();
      reply = "ok";
    } else if (command == "delete") {
      std::string path;
      in >> path;
      reply = Answer(platform::DeleteFile(path));
    } else if (command == "rename") {
      std::string from, to;
      in >> from >> to;
      reply = Answer(platform::RenameFile(from, to));
    } else if (command == "exit") {
      std::_Exit(0);
    }
    std::cout << reply << std::endl;
  }
  return 0;
}
