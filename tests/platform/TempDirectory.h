// A fresh directory for one test under the system's temporary directory, removed with everything
// in it when the object goes.  A test fixture holds one as a member, so every test starts empty
// and nothing outlives it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace mirvel_test {

class TempDirectory {
 public:
  // The name is `prefix` and six random ASCII letters and digits.
  explicit TempDirectory(std::string_view prefix = "mirvel") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create the test directory " + pattern);
    }
    path_ = pattern;
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::string& Path() const { return path_; }
  // `name` (which may hold further directories) inside this one.
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

}  // namespace mirvel_test
