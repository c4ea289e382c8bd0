#include "classlib/rtl/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "classlib/rtl/RegIniFile.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace cl {
namespace {

namespace fs = std::filesystem;

using mirvel_test::ReadFileText;

// Every test gets an empty registry directory of its own.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("MIRVEL_REGISTRY_DIR", dir_.Path().c_str(), 1); }
  void TearDown() override { unsetenv("MIRVEL_REGISTRY_DIR"); }

  std::string UserFile(const std::string& root) { return ReadFileText(dir_.File(root + ".reg")); }

  mirvel_test::TempDirectory dir_{"registry"};
};

TEST_F(RegistryTest, KeysAndValuesIgnoreCaseAndKeepTheirFirstSpelling) {
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(reg.OpenKey("Software\\Ordelis\\Mirvel", false));
  EXPECT_FALSE(reg.HasCurrentKey());
  ASSERT_TRUE(reg.OpenKey("Software\\Ordelis\\Mirvel", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Ordelis\\Mirvel");
  EXPECT_EQ(reg.ReadString("Database"), "") << "a missing string reads empty";
  reg.WriteString("Database",
                  "/srv/mirvel/donn\xE9"
                  "es");
  reg.WriteString("DATABASE", "/srv/mirvel/base");  // the same value
  reg.CloseKey();
  EXPECT_EQ(reg.CurrentPath(), "");

  TRegistry other;
  other.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(other.OpenKeyReadOnly("\\SOFTWARE\\ordelis\\MIRVEL"));
  EXPECT_EQ(other.ReadString("database"), "/srv/mirvel/base");
  TStringList names;
  other.GetValueNames(names);
  ASSERT_EQ(names.Count(), 1);
  EXPECT_EQ(names.Get(0), "Database");
  EXPECT_THROW(other.WriteString("Database", "x"), ERegistryException) << "opened read-only";
  EXPECT_NE(UserFile("HKEY_LOCAL_MACHINE")
                .find("[Software\\Ordelis\\Mirvel]\nDatabase=s:/srv/mirvel/base\n"),
            std::string::npos);
  EXPECT_EQ(UserFile("HKEY_CURRENT_USER"), "") << "the other root is another file";
}

TEST_F(RegistryTest, RelativeAndAbsolutePaths) {
  TRegistry reg;  // HKEY_CURRENT_USER
  ASSERT_TRUE(reg.OpenKey("Software\\Ordelis", true));
  ASSERT_TRUE(reg.OpenKey("Mirvel\\Environnement", true));  // relative to the open key
  EXPECT_EQ(reg.CurrentPath(), "Software\\Ordelis\\Mirvel\\Environnement");
  ASSERT_TRUE(reg.OpenKey("\\Software", false));  // absolute
  EXPECT_EQ(reg.CurrentPath(), "Software");
  EXPECT_TRUE(reg.KeyExists("Ordelis\\Mirvel"));
  EXPECT_TRUE(reg.KeyExists("\\Software\\Ordelis\\Mirvel\\Environnement"));
  EXPECT_FALSE(reg.KeyExists("Mirvel"));
  TStringList keys;
  reg.GetKeyNames(keys);
  EXPECT_EQ(keys.Text(), "Ordelis\r\n");
  reg.CloseKey();
  EXPECT_TRUE(reg.KeyExists("Software\\Ordelis")) << "relative to the root when nothing is open";
  EXPECT_TRUE(reg.DeleteKey("Software\\Ordelis"));
  EXPECT_FALSE(reg.KeyExists("Software\\Ordelis\\Mirvel\\Environnement"));
  EXPECT_TRUE(reg.KeyExists("Software"));
  EXPECT_FALSE(reg.DeleteKey("Software\\Ordelis"));
  reg.SetRootKey(0x80000003u);  // a root this system keeps no store for
  EXPECT_FALSE(reg.OpenKey("Software", true));
}

TEST_F(RegistryTest, TypedValuesAndTheirErrors) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Ordelis\\Mirvel\\Environnement\\TFenEditMessages", true));
  reg.WriteInteger("FormHeight", 452);
  reg.WriteFloat("ErrorTime", 5.0);
  reg.WriteString("NormPos", "10,20,650,480");
  reg.WriteBool("Visible", true);
  EXPECT_EQ(reg.ReadInteger("formheight"), 452);
  EXPECT_EQ(reg.ReadFloat("ErrorTime"), 5.0);
  EXPECT_TRUE(reg.ReadBool("Visible"));
  EXPECT_EQ(reg.GetDataType("ErrorTime"), rdBinary) << "floats are stored as 8 binary bytes";
  EXPECT_EQ(reg.GetDataType("NormPos"), rdString);
  EXPECT_EQ(reg.GetDataType("FormHeight"), rdInteger);
  EXPECT_EQ(reg.GetDataType("Nothing"), rdUnknown);
  EXPECT_NE(UserFile("HKEY_CURRENT_USER").find("ErrorTime=b:0000000000001440\n"),
            std::string::npos);

  try {
    reg.ReadString("FormHeight");
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(),
              "Type de donn\xE9"
              "es incorrect pour 'FormHeight'");
  }
  try {
    reg.ReadInteger("Missing");
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(),
              "Echec lors de l'obtention des donn\xE9"
              "es pour 'Missing'");
  }
  EXPECT_THROW(reg.ReadInteger("NormPos"), ERegistryException);
  EXPECT_THROW(reg.ReadFloat("FormHeight"), ERegistryException);
  EXPECT_TRUE(reg.ValueExists("NORMPOS"));
  EXPECT_TRUE(reg.DeleteValue("normpos"));
  EXPECT_FALSE(reg.ValueExists("NormPos"));
  EXPECT_FALSE(reg.DeleteValue("NormPos"));

  reg.CloseKey();
  try {
    reg.WriteInteger("FormHeight", 1);
    FAIL() << "a write without an open key";
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(),
              "Echec lors de la d\xE9"
              "finition des donn\xE9"
              "es pour 'FormHeight'");
  }
}

TEST_F(RegistryTest, MachineFallbackIsReadButNeverWritten) {
  fs::create_directories(fs::path(dir_.Path()) / "system");
  const fs::path fallback = fs::path(dir_.Path()) / "system" / "HKEY_LOCAL_MACHINE.reg";
  const std::string preset =
      "; preset by the "
      "administrator\n[Software\\Ordelis\\Mirvel]\nDatabase=s:/srv/partage/mirvel\n";
  std::ofstream(fallback, std::ios::binary) << preset;

  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("Software\\Ordelis\\Mirvel", true));  // as the parameter store opens it
  EXPECT_EQ(reg.ReadString("Database"), "/srv/partage/mirvel");
  reg.WriteString("Other", "x");
  EXPECT_EQ(reg.ReadString("Database"), "/srv/partage/mirvel");
  reg.WriteString("Database", "/home/me/mirvel");  // the user's own value wins from now on
  EXPECT_EQ(reg.ReadString("Database"), "/home/me/mirvel");
  EXPECT_TRUE(reg.DeleteValue("Database") == false) << "the preset value cannot be removed";
  EXPECT_EQ(reg.ReadString("Database"), "/srv/partage/mirvel");
  EXPECT_EQ(ReadFileText(fallback), preset);
}

TEST_F(RegistryTest, RegIniFileSectionsAreSubkeys) {
  {
    TRegIniFile ini("Software\\Ordelis\\Mirvel\\Environnement");
    EXPECT_EQ(ini.CurrentPath(), "Software\\Ordelis\\Mirvel\\Environnement");
    EXPECT_EQ(ini.ReadInteger("TFenEditMessages", "FormHeight", 480), 480);
    EXPECT_EQ(ini.ReadString("TFenEditMessages", "NormPos", "none"), "none");
    EXPECT_FALSE(ini.KeyExists("TFenEditMessages")) << "reading creates no section";
    ini.WriteInteger("TFenEditMessages", "FormHeight", 452);
    ini.WriteString("TFenEditMessages", "PanelDonnees_Height", "120");
    ini.WriteBool("TFenEditMessages", "Visible", false);
    ini.WriteString("TFenEditMessages.StoredList", "Count", "1");
    EXPECT_EQ(ini.CurrentPath(), "Software\\Ordelis\\Mirvel\\Environnement")
        << "the ini's own key stays current";
  }
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Ordelis\\Mirvel\\Environnement\\TFenEditMessages", false));
  EXPECT_EQ(reg.ReadInteger("FormHeight"), 452) << "integers are stored as integers";
  EXPECT_EQ(reg.GetDataType("Visible"), rdInteger);

  TRegIniFile ini("Software\\Ordelis\\Mirvel\\Environnement");
  EXPECT_EQ(ini.ReadInteger("TFenEditMessages", "PanelDonnees_Height", 0), 120)
      << "an integer-looking string reads as an integer";
  ini.WriteString("TFenEditMessages", "Bad", "12a");
  EXPECT_EQ(ini.ReadInteger("TFenEditMessages", "Bad", 7), 7);
  EXPECT_FALSE(ini.ReadBool("TFenEditMessages", "Visible", true));
  ini.WriteBool("TFenEditMessages", "Visible", true);
  EXPECT_TRUE(ini.ReadBool("TFenEditMessages", "Visible", false));
  EXPECT_TRUE(ini.ReadBool("TFenEditMessages", "Absent", true));

  ini.WriteString("TFenEditMessages", "Nested", "x");
  ASSERT_TRUE(
      reg.OpenKey("\\Software\\Ordelis\\Mirvel\\Environnement\\TFenEditMessages\\Deeper", true));
  reg.WriteString("Leaf", "y");
  ini.EraseSection("TFenEditMessages");
  EXPECT_FALSE(ini.KeyExists("TFenEditMessages\\Deeper"));
  EXPECT_FALSE(ini.KeyExists("TFenEditMessages"));
  EXPECT_TRUE(ini.KeyExists("TFenEditMessages.StoredList"));
  EXPECT_EQ(ini.ReadString("TFenEditMessages", "Nested", "gone"), "gone");
}

}  // namespace
}  // namespace cl
