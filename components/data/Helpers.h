// Small free routines of the application's service units: paths, token lists, character counts,
// control-character cleaning, a French counted noun, the workstation's identity, process start,
// file times, and switching every dataset of a form on or off.
//
// Texts are Windows-1252; "/" is the path delimiter (the routines keep their historical names).
// Names and command lines are converted where they meet the operating system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TComponent.h"
#include "components/data/StrRoutines.h"

namespace comp {

// Raised by the per-table numbering.
class ENextNumberError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

// `path` with "/" appended, unless it is empty or already ends with one.
std::string IncludeTrailingBackslash(std::string_view path);
// The same rule, under the name the log and the installer use.
std::string AddTrailingBackslash(std::string_view path);
// `path` without its last character when that is "/".
std::string ExcludeTrailingBackslash(std::string_view path);
// `path` exists and is a directory.
bool DirectoryExists(std::string_view path);
// `path` (Windows-1252) names an existing regular file.
bool FileExists(std::string_view path);

// Round(days x 86400), halves to even.
int32_t DateTimeToSeconds(cl::TDateTime days);

// The n-th (1-based) `separator`-delimited token of `s`, trimmed of blanks; empty when `s` is
// empty, n < 1 or `s` has fewer tokens.
std::string GetToken(int n, char separator, std::string_view s);
int CountChar(std::string_view s, char c);
// Every byte below 32 replaced by a blank.
std::string ReplaceControlChars(std::string_view s);
// FloatToStr(value) + " " + word, the word taking `suffix` ("s" when empty) when the value is
// neither 0 nor 1 and the word ends in a letter A-Z (either case) or in è, é, ê, other than S and X.
std::string FormatCount(std::string_view word, std::string_view suffix, double value);

// The workstation's network name (the host name up to its first "."), and the login name of the
// user; empty when the system cannot tell.
std::string ComputerName();
std::string UserName();
// Replaces where ComputerName and UserName come from (tests fix the identity of a log line); an
// empty function puts the platform's name back.  Callable from any thread.
void SetIdentityProvider(std::function<std::string()> computer_name,
                         std::function<std::string()> user_name);

// What a process start reports: the new process's id, 0 when it could not be started.
struct TProcessInformation {
  int32_t ProcessId = 0;
};
// Starts the program of `command_line` (split by the Windows rules, the program searched in PATH)
// detached from this one, in a new session with no inherited descriptors; it is reaped when it
// ends.  Failure raises nothing: it leaves ProcessId 0, which callers must check.
void StartProcess(std::string_view command_line, TProcessInformation& info);

// The file's last-write time in UTC (no conversion to local time), in the 2-second steps of a
// DOS date-time; 0 when the file cannot be read or its time lies outside 1980..2107.
cl::TDateTime FileDateTime(std::string_view file_name);

// Exchanges `n` bytes of two non-overlapping blocks.
void SwapMemory(void* a, void* b, size_t n);
// `s` without any byte of `chars`.
std::string RemoveChars(std::string_view s, std::string_view chars);

// Sets Active of every dataset that `owner` owns.
void SetDataSetsActive(cl::TComponent* owner, bool active);

}  // namespace comp
