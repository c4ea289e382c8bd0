// The database creation tool: the six tables reopen through the table component with exactly the
// schema written below by hand (fields, sizes, required flags, indexes and their options), the
// seed rows and counters; a second run, and every refused command line, changes no byte;
// --register and its texts.
#include "app/InitDb.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/MirvelSchema.h"
#include "classlib/db/DBTypes.h"
#include "classlib/db/TFieldDefs.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/Registry.h"
#include "components/data/Helpers.h"
#include "engine/components/TTesseraSession.h"
#include "engine/components/TTesseraTable.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCheck.h"
#include "engine/storage/values/FieldValues.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace mirvel {
namespace {

namespace fs = std::filesystem;
using tessera::TDataFile;
using tessera::TFieldSet;

// clang-format off
// The seed rows in primary-key order, with their non-blank fields.
const char* const kGoldenRows[] = {
    "Users.DAT NoUtilisateur=0 NomComplet=<Liste de destinataires> Statut=0 NewMessages=0",
    "Users.DAT NoUtilisateur=1 NomReseau=dupont NomComplet=Jean Dupont\xE9 Statut=0 NewMessages=0",
    "Clients.DAT NoSociete=0 Societe=<Tous clients>",
    "MAJTbl.DAT RecordID=1 DateDerniereMAJ=46363.5",
    "Numeros.DAT NomTable=CLIENTS Numero=0",
    "Numeros.DAT NomTable=INTER Numero=0",
    "Numeros.DAT NomTable=USERS Numero=1",
};
// Each table as the table component sees it: fields with the dataset model's types, sizes and
// required flags; index definitions with their fields and options.
const char* const kGoldenComponentView[] = {
    "Users.DAT",
    "  NoUtilisateur ftInteger",
    "  NomReseau ftString 50",
    "  AdresseMessagerie ftString 50",
    "  NomComplet ftString 50",
    "  Statut ftInteger",
    "  NewMessages ftInteger",
    "  DateNewMessage ftDateTime",
    "  AdresseEMail ftString 50",
    "  Disponibilites ftMemo",
    "  DateDisponibilites ftDateTime",
    "  [] NoUtilisateur primary unique",
    "  [IdxNomComplet] NomComplet case-insensitive",
    "Messages.DAT",
    "  DateAppel ftDateTime required",
    "  Interlocuteur ftString 50",
    "  NoDestinataire ftInteger",
    "  NoRappeler ftString 20",
    "  NoRappeler2 ftString 20",
    "  Message ftMemo",
    "  SuiteDonnee ftMemo",
    "  NoUtilisateur ftInteger",
    "  Societe ftString 50",
    "  Sujet ftString 50",
    "  Lu ftInteger",
    "  [] DateAppel primary unique",
    "  [IndexDate] DateAppel descending",
    "  [IdxDestinataire] NoDestinataire;Lu",
    "Clients.DAT",
    "  NoSociete ftInteger",
    "  Societe ftString 50 required",
    "  Adresse1 ftString 40",
    "  Adresse2 ftString 40",
    "  CodePostal ftString 6",
    "  Ville ftString 40",
    "  Pays ftString 40",
    "  TelStandard ftString 20",
    "  TelFax ftString 20",
    "  [] NoSociete primary unique",
    "  [IndexSociete] Societe case-insensitive",
    "Inter.DAT",
    "  NoSociete ftInteger",
    "  NoInterlocuteur ftInteger",
    "  Nom ftString 50 required",
    "  Fonction ftString 40",
    "  Tel1 ftString 20",
    "  Tel2 ftString 20",
    "  Commentaires ftMemo",
    "  [] NoInterlocuteur primary unique",
    "  [IndexSocieteNom] NoSociete;Nom case-insensitive",
    "  [IndexNom] Nom case-insensitive",
    "MAJTbl.DAT",
    "  RecordID ftAutoInc",
    "  DateDerniereMAJ ftDateTime",
    "  [] RecordID primary unique",
    "Numeros.DAT",
    "  NomTable ftString 20",
    "  Numero ftInteger",
    "  [] NomTable primary unique",
};
// clang-format on

constexpr double kCreationTime = 46363.5;  // 7 December 2026, noon

// Every table's header: French, sort 0, not encrypted, blob blocks of 512 bytes; and its files
// consistent with each other.
void ExpectHeaders(const std::string& dir) {
  for (const TSchemaTable& table : MirvelTables()) {
    TDataFile t;
    t.SetFileName(dir + "/" + table.file_name);
    t.Open();
    EXPECT_EQ(t.GetLanguageId(), 0x040C) << table.file_name;
    EXPECT_EQ(t.GetSortId(), 0) << table.file_name;
    EXPECT_FALSE(t.Header().Encrypted()) << table.file_name;
    EXPECT_EQ(t.GetBlobBlockSize(), 512) << table.file_name;
    t.Close();
    const tessera::TTableCheckReport report = tessera::CheckTableFiles(dir + "/" + table.file_name);
    EXPECT_TRUE(report.ok()) << table.file_name << ": " << report.problems.front();
  }
}

std::string Rows(const std::string& dir) {
  std::string out;
  for (const TSchemaTable& table : MirvelTables()) {
    TDataFile t;
    t.SetFileName(dir + "/" + table.file_name);
    t.Open();
    t.SetCurrentIndexByNumber(0);
    t.MoveToBeginning();
    std::vector<uint8_t> buf(t.GetRecordBufferSize());
    while (t.GetNextRecord(buf.data()) == 0) {
      out += table.file_name;
      for (const auto& f : t.TableFields()) {
        uint8_t value[256] = {};
        if (t.GetFieldValue(TFieldSet::kTable, f.number, value, buf.data())) continue;
        out += " " + f.name + "=";
        if (f.type == tessera::kFieldString) {
          out += reinterpret_cast<const char*>(value);
        } else if (f.type == tessera::kFieldInt32) {
          out += std::to_string(static_cast<int32_t>(cl::GetU32LE(value)));
        } else if (f.type == tessera::kFieldTimeStamp) {
          std::ostringstream text;
          text << tessera::StoredTimeStampToDateTime(cl::GetF64LE(value));
          out += text.str();
        } else {
          out += "?";
        }
      }
      out += "\n";
    }
  }
  return out;
}

template <size_t N>
std::string Lines(const char* const (&lines)[N]) {
  std::string out;
  for (const char* line : lines) out += std::string(line) + "\n";
  return out;
}

// Every file under `root` with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[entry.path().string()] = mirvel_test::ReadFileText(entry.path());
    }
  }
  return files;
}

class InitDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tessera::InitializeEngine();
    setenv("MIRVEL_REGISTRY_DIR", dir_.File("registry").c_str(), 1);
    unsetenv("MIRVEL_LOGIN");
    comp::SetIdentityProvider(nullptr, [] { return std::string("martin"); });
    cl::SetClock([] { return cl::TDateTime(kCreationTime); });
  }
  void TearDown() override {
    cl::SetClock(nullptr);
    comp::SetIdentityProvider(nullptr, nullptr);
    unsetenv("MIRVEL_REGISTRY_DIR");
    unsetenv("MIRVEL_LOGIN");
  }

  // Runs the tool; `out` and `err` receive its texts in Windows-1252.
  int Run(std::vector<std::string> args) {
    std::ostringstream o, e;
    const int status = RunInitDb(args, o, e);
    out_ = cl::Utf8ToCp1252(o.str());
    err_ = cl::Utf8ToCp1252(e.str());
    return status;
  }

  std::string RegisteredDatabase() {
    cl::TRegistry reg;
    reg.SetRootKey(cl::HKEY_LOCAL_MACHINE);
    if (!reg.OpenKeyReadOnly(kRegistryKey)) return "<no key>";
    return reg.ReadString(kRegistryDatabaseValue);
  }

  mirvel_test::TempDirectory dir_{"initdb"};
  std::string out_, err_;
};

TEST_F(InitDbTest, TablesHoldTheSeedsAndCounters) {
  const std::string base = dir_.File("new/Base");
  ASSERT_EQ(Run({"--user", "dupont", "--name", "Jean Dupont\xC3\xA9", base}), 0) << err_;
  EXPECT_EQ(out_,
            "Base Mirvel cr\xE9\xE9"
            "e dans \"" +
                base + "\" (premier utilisateur \"dupont\").\n");
  EXPECT_EQ(err_, "");
  ExpectHeaders(base);
  EXPECT_EQ(Rows(base), Lines(kGoldenRows));
  EXPECT_EQ(RegisteredDatabase(), "<no key>") << "no registry without --register";
}

TEST_F(InitDbTest, TheLoginDefaultsToTheProgramsOwn) {
  struct Case {
    const char* env;  // MIRVEL_LOGIN, nullptr for unset
    const char* system;
    int status;
    const char* row;  // user 1, or the error
  };
  const std::string too_long(51, 'x');
  const Case cases[] = {
      {nullptr, "martin", 0, "NomReseau=martin NomComplet=martin"},
      {"poste2", "martin", 0, "NomReseau=poste2 NomComplet=poste2"},
      {"", "martin", 0, "NomReseau=martin NomComplet=martin"},
      {nullptr, "", 1, "Nom de connexion inconnu : indiquez-le avec --user.\n"},
      {too_long.c_str(), "", 1,
       "Nom de connexion ou nom complet trop long (50 caract\xE8res au plus).\n"},
  };
  int n = 0;
  // A group's members reach the new folder as the umask allows.
  const mode_t saved_mask = umask(027);
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    const std::string base = dir_.File("login" + std::to_string(n++));
    if (c.env != nullptr) {
      setenv("MIRVEL_LOGIN", c.env, 1);
    } else {
      unsetenv("MIRVEL_LOGIN");
    }
    const std::string system = c.system;
    comp::SetIdentityProvider(nullptr, [system] { return system; });
    ASSERT_EQ(Run({base}), c.status);
    if (c.status == 0) {
      EXPECT_NE(Rows(base).find(c.row), std::string::npos) << Rows(base);
      EXPECT_EQ(fs::status(base).permissions(),
                fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    } else {
      EXPECT_EQ(err_, c.row);
      EXPECT_FALSE(fs::exists(base)) << "nothing made";
    }
  }
  umask(saved_mask);
}

// Every refusal leaves every byte (database and registry) as it was.
TEST_F(InitDbTest, RefusalsChangeNoByte) {
  const std::string base = dir_.File("Base");
  ASSERT_EQ(Run({"--register", "--user", "dupont", base}), 0) << err_;
  const std::string stray = dir_.File("Stray");
  fs::create_directory(stray);
  std::ofstream(stray + "/inter.blb") << "x";  // one file of one table, other case
  std::ofstream(dir_.File("plain")) << "x";
  const std::string usage =
      "Usage : mirvel-initdb [--register] [--user LOGIN] [--name \"NOM COMPLET\"] REPERTOIRE\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {{"--register", base},
       1,
       "Le r\xE9pertoire \"" + base +
           "\" contient d\xE9j\xE0 une base (Users.DAT, Users.IDX, Users.BLB, Messages.DAT, "
           "Messages.IDX, Messages.BLB, Clients.DAT, Clients.IDX, Inter.DAT, Inter.IDX, "
           "Inter.BLB, MAJTbl.DAT, MAJTbl.IDX, Numeros.DAT, Numeros.IDX) : rien n'a \xE9t\xE9 "
           "modifi\xE9.\n"},
      {{stray},
       1,
       "Le r\xE9pertoire \"" + stray +
           "\" contient d\xE9j\xE0 une base (Inter.BLB) : rien n'a \xE9t\xE9 modifi\xE9.\n"},
      {{dir_.File("plain")}, 1, "\"" + dir_.File("plain") + "\" n'est pas un r\xE9pertoire.\n"},
      {{}, 2, usage},
      {{"--user"}, 2, usage},
      {{"--bogus", dir_.File("x")}, 2, usage},
      {{dir_.File("x"), dir_.File("y")}, 2, usage},
      // Names that Windows-1252 cannot hold exactly (a Polish letter; a byte that is no UTF-8).
      {{"--user", "\xC5\x81ukasz", dir_.File("x")},
       1,
       "Caract\xE8re non repr\xE9sentable dans --user : rien n'a \xE9t\xE9 cr\xE9\xE9.\n"},
      {{"--name", "a\xFF", dir_.File("x")},
       1,
       "Caract\xE8re non repr\xE9sentable dans --name : rien n'a \xE9t\xE9 cr\xE9\xE9.\n"},
  };
  const auto before = Snapshot(dir_.Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    EXPECT_EQ(Run(c.args), c.status);
    EXPECT_EQ(err_, c.err);
    EXPECT_EQ(out_, "");
    EXPECT_TRUE(Snapshot(dir_.Path()) == before) << "a refused run changed a file";
  }
}

TEST_F(InitDbTest, RegisterWritesTheAbsoluteDirectoryUnlessOneExistsAlready) {
  struct Cwd {
    fs::path saved = fs::current_path();
    ~Cwd() { fs::current_path(saved); }
  } cwd;
  fs::current_path(dir_.Path());
  const std::string first = dir_.File("Premier");
  ASSERT_EQ(Run({"--register", "Premier/"}), 0) << err_;
  EXPECT_EQ(RegisteredDatabase(), first);
  EXPECT_NE(out_.find("Registre : \"Database\" = \"" + first + "\".\n"), std::string::npos);

  ASSERT_EQ(Run({"--register", "Second"}), 0) << err_;
  EXPECT_EQ(RegisteredDatabase(), first) << "an existing directory is kept";
  EXPECT_NE(out_.find("Registre : \"Database\" d\xE9signe d\xE9j\xE0 le r\xE9pertoire \"" + first +
                      "\" ; inchang\xE9.\n"),
            std::string::npos);

  fs::remove_all(first);
  ASSERT_EQ(Run({"--register", "Troisieme"}), 0) << err_;
  EXPECT_EQ(RegisteredDatabase(), dir_.File("Troisieme")) << "a missing directory is replaced";
}

// A registry store that cannot be written: the base stands, and the message says so and names
// the value to set by hand.
TEST_F(InitDbTest, AnUnwritableRegistryLeavesTheBaseAndSaysWhatToSet) {
  std::ofstream(dir_.File("plain")) << "x";
  setenv("MIRVEL_REGISTRY_DIR", dir_.File("plain/registry").c_str(), 1);  // under a file
  const std::string base = dir_.File("Base");
  EXPECT_EQ(Run({"--register", "--user", "dupont", base}), 1);
  EXPECT_FALSE(ExistingTableFiles(base).empty());
  EXPECT_EQ(err_.rfind("Base cr\xE9\xE9"
                       "e dans \"" +
                           base + "\", mais \xE9" + "criture du registre impossible : ",
                       0),
            0u)
      << err_;
  EXPECT_NE(err_.find("\nIndiquez la valeur \"Database\" = \"" + base +
                      "\" sous HKEY_LOCAL_MACHINE\\Software\\Ordelis\\Mirvel.\n"),
            std::string::npos)
      << err_;
}

// A creation that fails half-way leaves no table behind.
TEST_F(InitDbTest, AFailedCreationRemovesTheTablesItMade) {
  const std::string base = dir_.File("Base");
  fs::create_directories(base + "/Numeros.IDX");  // the last table's index cannot be made
  EXPECT_ANY_THROW(CreateMirvelDatabase(base, {"dupont", "Jean Dupont"}, kCreationTime));
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(base)) left.push_back(entry.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"Numeros.IDX"});
}

// What the modules will see through the table component: field types, sizes and required flags,
// index names with their fields and options, and each table opened on the index the modules
// select (by name or by field list).
TEST_F(InitDbTest, TablesOpenThroughTheTableComponent) {
  tessera::InitializeSessions();
  const std::string base = dir_.File("Base");
  ASSERT_EQ(Run({"--user", "dupont", base}), 0) << err_;
  struct Use {
    const char* file;
    const char* index_name;
    const char* index_fields;
  };
  const Use uses[] = {{"Users.DAT", "IdxNomComplet", ""},
                      {"Messages.DAT", "IndexDate", ""},
                      {"Clients.DAT", "IndexSociete", ""},
                      {"Inter.DAT", "", "NoSociete;Nom"},
                      {"MAJTbl.DAT", "", ""},
                      {"Numeros.DAT", "", ""}};
  std::string seen;
  cl::TComponent owner(nullptr);
  for (const Use& use : uses) {
    auto* t = cl::Create<tessera::TTesseraTable>(&owner);
    t->SetDatabaseName(base);
    t->SetTableName(use.file);
    t->FieldDefs()->Update();
    t->IndexDefs()->Update();
    seen += std::string(use.file) + "\n";
    for (int i = 0; i < t->FieldDefs()->Count(); ++i) {
      const cl::TFieldDef* f = t->FieldDefs()->Items(i);
      seen += "  " + f->Name() + " " + cl::FieldTypeName(f->DataType());
      if (f->Size() != 0) seen += " " + std::to_string(f->Size());
      if (f->Required()) seen += " required";
      seen += "\n";
    }
    for (int i = 0; i < t->IndexDefs()->Count(); ++i) {
      const cl::TIndexDef* x = t->IndexDefs()->Items(i);
      seen += "  [" + x->Name() + "] " + x->Fields();
      const cl::TIndexOptions o = x->Options();
      if (o.Contains(cl::ixPrimary)) seen += " primary";
      if (o.Contains(cl::ixUnique)) seen += " unique";
      if (o.Contains(cl::ixDescending)) seen += " descending";
      if (o.Contains(cl::ixCaseInsensitive)) seen += " case-insensitive";
      seen += "\n";
    }
    if (*use.index_name != 0) t->SetIndexName(use.index_name);
    if (*use.index_fields != 0) t->SetIndexFieldNames(use.index_fields);
    EXPECT_NO_THROW(t->Open()) << use.file;
  }
  EXPECT_EQ(seen, Lines(kGoldenComponentView));
  tessera::FinalizeSessions();
}

// The real program: its exit status and streams.
TEST_F(InitDbTest, TheProgramReportsThroughItsExitStatus) {
  const std::string base = dir_.File("Base");
  const std::string command = std::string(MIRVEL_INITDB) + " --user dupont " + base;
  EXPECT_EQ(std::system((command + " > /dev/null").c_str()), 0);
  const int status = std::system((command + " 2> /dev/null").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
}  // namespace mirvel
