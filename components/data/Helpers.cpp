#include "components/data/Helpers.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "classlib/db/TDataSet.h"
#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/NumberText.h"
#include "classlib/rtl/Rounding.h"
#include "classlib/rtl/TextUtils.h"
#include "platform/FileNames.h"
#include "platform/FileTime.h"
#include "platform/ProcessInfo.h"
#include "platform/ProcessStart.h"

namespace comp {

std::string IncludeTrailingBackslash(std::string_view path) {
  std::string result(path);
  if (!result.empty() && result.back() != '/') result.push_back('/');
  return result;
}

std::string AddTrailingBackslash(std::string_view path) { return IncludeTrailingBackslash(path); }

std::string ExcludeTrailingBackslash(std::string_view path) {
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

bool DirectoryExists(std::string_view path) {
  return platform::DirectoryExists(cl::Cp1252ToUtf8(path));
}

bool FileExists(std::string_view path) { return platform::FileExists(cl::Cp1252ToUtf8(path)); }

int32_t DateTimeToSeconds(cl::TDateTime days) {
  // A day count carries binary noise (1.5 s is 1.4999999999999998 after the product), which would
  // push exact halves either way; to the microsecond the value is what the caller meant.
  const double seconds = std::nearbyint(days * 24 * 60 * 60 * 1e6) / 1e6;
  return static_cast<int32_t>(cl::Round(seconds));
}

std::string GetToken(int n, char separator, std::string_view s) {
  if (s.empty() || n < 1) return std::string();
  size_t start = 0;
  for (int i = 1; i < n; ++i) {
    const size_t next = s.find(separator, start);
    if (next == std::string_view::npos) return std::string();
    start = next + 1;
  }
  const size_t end = s.find(separator, start);
  return cl::Trim(s.substr(start, end == std::string_view::npos ? end : end - start));
}

int CountChar(std::string_view s, char c) {
  int count = 0;
  for (char x : s) count += x == c ? 1 : 0;
  return count;
}

std::string ReplaceControlChars(std::string_view s) {
  std::string result(s);
  for (char& c : result) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  }
  return result;
}

std::string FormatCount(std::string_view word, std::string_view suffix, double value) {
  std::string result = cl::FloatToStr(value) + " " + std::string(word);
  if (value == 0 || value == 1 || word.empty()) return result;
  // ASCII upper-casing only: the accented endings are tested by their own byte values.
  const unsigned char last = static_cast<unsigned char>(cl::AsciiUpper(word.back()));
  const bool letter = (last >= 'A' && last <= 'Z') || (last >= 232 && last <= 234);
  if (letter && last != 'S' && last != 'X') result += suffix.empty() ? "s" : std::string(suffix);
  return result;
}

namespace {

std::mutex g_identity_mutex;
std::function<std::string()> g_computer_name;
std::function<std::string()> g_user_name;

std::string FromProvider(const std::function<std::string()>& provider,
                         std::string (*platform_name)()) {
  std::function<std::string()> copy;
  {
    std::lock_guard<std::mutex> guard(g_identity_mutex);
    copy = provider;
  }
  return copy ? copy() : cl::Utf8ToCp1252(platform_name());
}

}  // namespace

std::string ComputerName() { return FromProvider(g_computer_name, platform::GetComputerName); }

std::string UserName() { return FromProvider(g_user_name, platform::GetUserName); }

void SetIdentityProvider(std::function<std::string()> computer_name,
                         std::function<std::string()> user_name) {
  std::lock_guard<std::mutex> guard(g_identity_mutex);
  g_computer_name = std::move(computer_name);
  g_user_name = std::move(user_name);
}

void StartProcess(std::string_view command_line, TProcessInformation& info) {
  // A new console and a default error mode mean nothing here; the new session the child gets
  // is what detaching it from this program needs.
  info = TProcessInformation();
  info.ProcessId = platform::StartProcess(cl::Cp1252ToUtf8(command_line));
}

cl::TDateTime FileDateTime(std::string_view file_name) {
  platform::CalendarTime t;
  if (platform::GetFileLastWriteUtc(cl::Cp1252ToUtf8(file_name), t) != platform::kErrorSuccess ||
      t.year < 1980 || t.year > 2107) {
    return 0;
  }
  // A DOS date-time keeps even seconds only.
  return cl::EncodeDate(t.year, t.month, t.day) +
         cl::EncodeTime(t.hour, t.minute, t.second & ~1, 0);
}

void SwapMemory(void* a, void* b, size_t n) {
  if (n == 0) return;
  std::vector<unsigned char> temporary(n);
  std::memcpy(temporary.data(), a, n);
  std::memcpy(a, b, n);
  std::memcpy(b, temporary.data(), n);
}

std::string RemoveChars(std::string_view s, std::string_view chars) {
  std::string result;
  for (char c : s) {
    if (chars.find(c) == std::string_view::npos) result.push_back(c);
  }
  return result;
}

void SetDataSetsActive(cl::TComponent* owner, bool active) {
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    if (auto* data_set = dynamic_cast<cl::TDataSet*>(owner->Components(i))) {
      data_set->SetActive(active);
    }
  }
}

}  // namespace comp
