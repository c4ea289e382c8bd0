// Starting another program from a command line, as the class library's callers build them.
//
// Callers hand over one command-line string (the self-update launcher quotes its arguments in
// the Windows way), so the string is split by the Windows rules, described at SplitCommandLine.
// The first token names the program: it is searched in PATH unless it holds a "/".
//
// Why a new session, /dev/null and no inherited descriptors.  The program that starts another
// one often ends at once (the launcher replaces the running executable; a restart starts the new
// instance while the old one still holds its table files and its instance lock).  The child must
// outlive its parent's terminal and signals (a new session), must not read the parent's input
// (stdin on /dev/null), and must hold none of the parent's descriptors: an inherited descriptor
// would keep the parent's byte-range locks and its instance mapping alive after the parent is
// gone.  Every descriptor of the project is opened O_CLOEXEC, and the spawn closes everything
// above 2 as well, for descriptors that libraries opened without it.  Children are reaped by a
// waiting thread each, so no zombie is left, and the caller never waits for them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a command line into arguments:
// - the first token is the program: it ends at the first blank or tab, or, when it starts with
//   a double quote, at the next double quote (no escapes in a program name);
// - in later tokens, blanks and tabs separate arguments outside double quotes; 2n backslashes
//   followed by a double quote give n backslashes and toggle quoting; 2n+1 backslashes followed
//   by a double quote give n backslashes and a literal double quote; inside quotes, two double
//   quotes give one literal double quote; other backslashes are literal.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// The exact reverse of SplitCommandLine.  QuoteCommandArgument gives a later token that reads
// back as `argument` whatever it holds (blanks, double quotes, backslashes, nothing at all).
// QuoteCommandProgram gives a first token that reads back as `program`, or false when none can:
// a first token has no escapes, so a double quote followed later by a blank or tab cannot be
// written.
std::string QuoteCommandArgument(std::string_view argument);
bool QuoteCommandProgram(std::string_view program, std::string* quoted);

// Starts the program of `command_line` (UTF-8) in the caller's environment and directory, as
// described above.  Returns the child's process id, or 0 when it could not be started (no such
// program, not executable, out of resources).
int32_t StartProcess(std::string_view command_line);

}  // namespace platform
