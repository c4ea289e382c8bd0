#include "platform/FileNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {
namespace {

std::atomic<bool> case_insensitive{true};

// Bytes that are not valid UTF-8 stand for themselves, outside the code point range.
constexpr char32_t kRawByteBase = 0x110000;

// Decodes one code point at `i` and advances `i`.
char32_t NextCodePoint(std::string_view s, size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  size_t length = 0;
  char32_t cp = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    cp = lead & 0x07;
  } else {
    ++i;
    return kRawByteBase + lead;
  }
  if (i + length > s.size()) {
    ++i;
    return kRawByteBase + lead;
  }
  for (size_t k = 1; k < length; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return kRawByteBase + lead;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i += length;
  return cp;
}

char32_t FoldCase(char32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 0x20;
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
  switch (cp) {
    case 0x0152:  // OE ligature
    case 0x0160:  // S caron
    case 0x017D:  // Z caron
      return cp + 1;
    case 0x0178:  // Y diaeresis
      return 0xFF;
    default:
      return cp;
  }
}

}  // namespace

void SetCaseInsensitiveNames(bool on) { case_insensitive.store(on); }

bool CaseInsensitiveNames() { return case_insensitive.load(); }

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

std::string ResolveFileName(const std::string& path) {
  if (!CaseInsensitiveNames() || path.empty()) return path;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 || errno != ENOENT) return path;

  const size_t slash = path.rfind('/');
  const std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = path.substr(prefix.size());
  if (name.empty() || name == "." || name == "..") return path;

  const int dir_fd =
      open(prefix.empty() ? "." : prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return path;
  DIR* dir = fdopendir(dir_fd);
  if (dir == nullptr) {
    close(dir_fd);
    return path;
  }
  std::string match;
  int matches = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view entry_name(entry->d_name);
    if (entry_name == "." || entry_name == "..") continue;
    if (SameNameIgnoringCase(entry_name, name)) {
      if (++matches > 1) break;
      match = entry_name;
    }
  }
  closedir(dir);  // also closes dir_fd
  return matches == 1 ? prefix + match : path;
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(ResolveFileName(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st;
  return !path.empty() && lstat(ResolveFileName(path).c_str(), &st) == 0;
}

}  // namespace platform
