// The database creation tool's work: a new Mirvel database directory with the six tables of the
// schema (MirvelSchema.h), their seed rows and counters, and the first user; optionally the
// registry value through which the program finds it.
//
// Seeds: user 0 "<Liste de destinataires>" (the recipient-list pseudo-user) and user 1, the first
// user; client 0 "<Tous clients>"; one change-stamp row stamped with the creation time; counters
// "USERS" 1, "CLIENTS" 0, "INTER" 0, consistent with the seeded numbers.
//
// Nothing is half-written: a directory that already holds any file of the six tables is refused
// before anything is written, and a creation that fails deletes the tables it made (and the
// directory when it made it).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "classlib/rtl/DateTime.h"

namespace mirvel {

inline constexpr const char* kRegistryKey = "Software\\Ordelis\\Mirvel";
inline constexpr const char* kRegistryDatabaseValue = "Database";

struct TFirstUser {
  std::string login;      // NomReseau
  std::string full_name;  // NomComplet
};

// The files of the six tables (".DAT", ".IDX", ".BLB", letter case ignored) that `dir` holds, as
// the schema names them.  Texts are Windows-1252.
std::vector<std::string> ExistingTableFiles(const std::string& dir);

// Creates the six tables with their seeds in the existing directory `dir`.  REQUIRES: `dir`
// holds none of their files.  On failure deletes the tables it made and passes the error on.
void CreateMirvelDatabase(const std::string& dir, const TFirstUser& user, cl::TDateTime now);

// The command line `mirvel-initdb [--register] [--user LOGIN] [--name "FULL NAME"] DIR` (the
// arguments after the program name, UTF-8); messages go to `out` and `err` in UTF-8.  Returns
// the exit status: 0 done, 1 refused or failed, 2 a wrong command line.
int RunInitDb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mirvel
