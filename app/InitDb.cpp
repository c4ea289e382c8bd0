#include "app/InitDb.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <system_error>
#include <utility>

#include "app/MVRegParams.h"
#include "app/MirvelLogin.h"
#include "app/MirvelSchema.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/Exceptions.h"
#include "components/data/Helpers.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/values/FieldValues.h"
#include "platform/Environment.h"
#include "platform/FileNames.h"

namespace mirvel {

namespace {

using tessera::TDataFile;
using tessera::TFieldSet;

constexpr size_t kNameSize = 50;
constexpr const char* kExtensions[] = {".DAT", ".IDX", ".BLB"};

// "Users.DAT" without its extension.
std::string BaseName(const char* file_name) {
  const char* dot = std::strrchr(file_name, '.');
  return std::string(file_name, dot != nullptr ? dot : file_name + std::strlen(file_name));
}

std::string TablePath(const std::string& dir, const char* file_name) {
  return comp::IncludeTrailingBackslash(dir) + file_name;
}

// One new record of an open table, filled by field name.
class TSeedRecord {
 public:
  explicit TSeedRecord(TDataFile& table) : table_(table), buffer_(table.GetRecordBufferSize()) {
    table_.ApplyFieldDefaults(buffer_.data());
  }

  TSeedRecord& Int(const char* field, int32_t value) {
    uint8_t bytes[4];
    cl::PutU32LE(bytes, static_cast<uint32_t>(value));
    return Put(field, bytes);
  }
  // REQUIRES: `value` fits the field (the callers check user input first).
  TSeedRecord& Str(const char* field, const std::string& value) {
    std::vector<uint8_t> bytes(Definition(field).stored_size, 0);
    std::memcpy(bytes.data(), value.data(), std::min(value.size(), bytes.size() - 1));
    return Put(field, bytes.data());
  }
  TSeedRecord& Stamp(const char* field, cl::TDateTime value) {
    uint8_t bytes[8];
    cl::PutF64LE(bytes, tessera::DateTimeToStoredTimeStamp(value));
    return Put(field, bytes);
  }
  void Insert() { table_.InsertRecord(buffer_.data()); }

 private:
  const tessera::TFieldDefinition& Definition(const char* field) {
    return table_.FindFieldDefinition(TFieldSet::kTable, field);
  }
  TSeedRecord& Put(const char* field, const uint8_t* value) {
    table_.PutFieldValue(TFieldSet::kTable, Definition(field).number, false, value, buffer_.data());
    return *this;
  }

  TDataFile& table_;
  std::vector<uint8_t> buffer_;
};

void Seed(const std::string& dir, const char* file_name,
          const std::function<void(TDataFile&)>& fill) {
  TDataFile table;
  table.SetFileName(TablePath(dir, file_name));
  table.SetExclusive(true);
  table.Open();
  fill(table);
  table.Close();
}

void SeedTables(const std::string& dir, const TFirstUser& user, cl::TDateTime now) {
  Seed(dir, kUsersFile, [&](TDataFile& t) {
    TSeedRecord(t)
        .Int("NoUtilisateur", 0)
        .Str("NomComplet", "<Liste de destinataires>")
        .Int("Statut", 0)
        .Int("NewMessages", 0)
        .Insert();
    TSeedRecord(t)
        .Int("NoUtilisateur", 1)
        .Str("NomReseau", user.login)
        .Str("NomComplet", user.full_name)
        .Int("Statut", 0)
        .Int("NewMessages", 0)
        .Insert();
  });
  Seed(dir, kClientsFile, [](TDataFile& t) {
    TSeedRecord(t).Int("NoSociete", 0).Str("Societe", "<Tous clients>").Insert();
  });
  Seed(dir, kMajFile, [&](TDataFile& t) { TSeedRecord(t).Stamp("DateDerniereMAJ", now).Insert(); });
  Seed(dir, kNumerosFile, [](TDataFile& t) {
    TSeedRecord(t).Str("NomTable", "USERS").Int("Numero", 1).Insert();
    TSeedRecord(t).Str("NomTable", "CLIENTS").Int("Numero", 0).Insert();
    TSeedRecord(t).Str("NomTable", "INTER").Int("Numero", 0).Insert();
  });
}

// The absolute, normalised form of `dir` (Windows-1252), without a trailing "/".
std::string AbsoluteDirectory(const std::string& dir) {
  std::filesystem::path path = std::filesystem::absolute(cl::Cp1252ToUtf8(dir)).lexically_normal();
  std::string text = path.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return cl::Utf8ToCp1252(text);
}

// Messages are Windows-1252 here and UTF-8 on the terminal.
void Say(std::ostream& stream, const std::string& text) {
  stream << cl::Cp1252ToUtf8(text) << '\n';
}

constexpr const char* kUsage =
    "Usage : mirvel-initdb [--register] [--user LOGIN] [--name \"NOM COMPLET\"] REPERTOIRE";

// Writes "Database" unless the store already names an existing directory; returns the message.
std::string RegisterDatabase(const std::string& dir) {
  TRegParamDatabase store(nullptr);
  store.SetRootKey(cl::HKEY_LOCAL_MACHINE);
  store.SetDefaultPath(kRegistryKey);
  std::unique_ptr<TMVParam> param = store.GetParam("", kRegistryDatabaseValue);
  const std::string current = param->AsString();
  if (!current.empty() && comp::DirectoryExists(current)) {
    return "Registre : \"Database\" d\xE9signe d\xE9j\xE0 le r\xE9pertoire \"" + current +
           "\" ; inchang\xE9.";
  }
  param->SetAsString(dir);
  return "Registre : \"Database\" = \"" + dir + "\".";
}

}  // namespace

std::vector<std::string> ExistingTableFiles(const std::string& dir) {
  std::vector<std::string> found;
  for (const TSchemaTable& table : MirvelTables()) {
    const std::string base = BaseName(table.file_name);
    for (const char* extension : kExtensions) {
      const std::string name = base + extension;
      if (platform::PathExists(cl::Cp1252ToUtf8(TablePath(dir, name.c_str())))) {
        found.push_back(name);
      }
    }
  }
  return found;
}

void CreateMirvelDatabase(const std::string& dir, const TFirstUser& user, cl::TDateTime now) {
  tessera::InitializeEngine();
  std::vector<std::string> made;
  try {
    for (const TSchemaTable& table : MirvelTables()) {
      TDataFile file;
      file.SetFileName(TablePath(dir, table.file_name));
      file.SetExclusive(true);
      file.SetupNewTable(NewTableDefinition(table));  // removes what it made when it fails
      made.push_back(table.file_name);
    }
    SeedTables(dir, user, now);
  } catch (...) {
    for (const std::string& name : made) {
      // Best effort: the error being passed on says why the directory is left without tables.
      try {
        TDataFile file;
        file.SetFileName(TablePath(dir, name.c_str()));
        file.DeleteTableFiles();
      } catch (const std::exception&) {
      }
    }
    throw;
  }
}

int RunInitDb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool do_register = false;
  std::string login, name, dir;
  bool has_login = false, has_name = false, has_dir = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--register") {
      do_register = true;
    } else if ((arg == "--user" || arg == "--name") && i + 1 < args.size()) {
      const std::string& given = args[++i];
      const std::string text = cl::Utf8ToCp1252(given);
      // A name stored with stand-in characters would never match the login it was meant for.
      if (cl::Cp1252ToUtf8(text) != given) {
        Say(err,
            "Caract\xE8re non repr\xE9sentable dans " + arg + " : rien n'a \xE9t\xE9 cr\xE9\xE9.");
        return 1;
      }
      (arg == "--user" ? login : name) = text;
      (arg == "--user" ? has_login : has_name) = true;
    } else if (!arg.empty() && arg[0] != '-' && !has_dir) {
      dir = cl::Utf8ToCp1252(arg);
      has_dir = true;
    } else {
      Say(err, kUsage);
      return 2;
    }
  }
  if (!has_dir) {
    Say(err, kUsage);
    return 2;
  }
  if (!has_login) login = MirvelLogin();
  if (!has_name) name = login;
  if (login.empty()) {
    Say(err, "Nom de connexion inconnu : indiquez-le avec --user.");
    return 1;
  }
  if (login.size() > kNameSize || name.size() > kNameSize) {
    Say(err, "Nom de connexion ou nom complet trop long (50 caract\xE8res au plus).");
    return 1;
  }

  const std::string os_dir = cl::Cp1252ToUtf8(dir);
  const bool existed = platform::PathExists(os_dir);
  if (existed && !platform::DirectoryExists(os_dir)) {
    Say(err, "\"" + dir + "\" n'est pas un r\xE9pertoire.");
    return 1;
  }
  if (existed) {
    const std::vector<std::string> present = ExistingTableFiles(dir);
    if (!present.empty()) {
      std::string list;
      for (const std::string& file : present) list += (list.empty() ? "" : ", ") + file;
      Say(err, "Le r\xE9pertoire \"" + dir + "\" contient d\xE9j\xE0 une base (" + list +
                   ") : rien n'a \xE9t\xE9 modifi\xE9.");
      return 1;
    }
  } else if (platform::CreateDirectories(os_dir, /*shared=*/true) != 0) {
    Say(err,
        "Impossible de cr\xE9"
        "er le r\xE9pertoire \"" +
            dir + "\".");
    return 1;
  }

  try {
    CreateMirvelDatabase(dir, {login, name}, cl::Now());
  } catch (const std::exception& e) {
    if (!existed) {
      std::error_code ignored;  // only an emptied directory of our own goes
      std::filesystem::remove(os_dir, ignored);
    }
    Say(err, std::string("Cr\xE9"
                         "ation de la base impossible : ") +
                 e.what());
    return 1;
  }
  Say(out,
      "Base Mirvel cr\xE9\xE9"
      "e dans \"" +
          dir + "\" (premier utilisateur \"" + login + "\").");

  if (do_register) {
    const std::string absolute = AbsoluteDirectory(dir);
    try {
      Say(out, RegisterDatabase(absolute));
    } catch (const std::exception& e) {
      // The base stands and a second run would refuse it: say what is left to do by hand.
      Say(err, std::string("Base cr\xE9\xE9"
                           "e dans \"") +
                   dir + "\", mais \xE9" + "criture du registre impossible : " + e.what() +
                   "\nIndiquez la valeur \"" + kRegistryDatabaseValue + "\" = \"" + absolute +
                   "\" sous HKEY_LOCAL_MACHINE\\" + kRegistryKey + ".");
      return 1;
    }
  }
  return 0;
}

}  // namespace mirvel
