#include "classlib/rtl/IniFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace cl {
namespace {

namespace fs = std::filesystem;

using mirvel_test::ReadFileText;

// The placement storage's rule for INI files: a value that starts and ends with the same kind of
// quote gets one more pair of double quotes, which the reader's quote stripping takes off again.
std::string WrapForIni(const std::string& value) {
  if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                            (value.front() == '\'' && value.back() == '\''))) {
    return "\"" + value + "\"";
  }
  return value;
}

class TIniFileTest : public ::testing::Test {
 protected:
  mirvel_test::TempDirectory dir_{"ini"};
  const std::string file_ = dir_.File("MIRVEL.INI");
};

TEST_F(TIniFileTest, WritesPlainLinesAndReadsThemBack) {
  TIniFile ini(file_);
  EXPECT_EQ(ini.ReadString("TFenEditMessages", "NormPos", "def"), "def");
  ini.WriteString("TFenEditMessages", "NormPos", "10,20,650,480");
  ini.WriteInteger("TFenEditMessages", "FormHeight", 452);
  ini.WriteBool("TFenEditMessages", "Visible", true);
  ini.WriteString("Autre", "Nom", "Caf\xE9");
  ini.WriteString("TFenEditMessages", "FormHeight", "460");  // replaced in place
  EXPECT_EQ(ReadFileText(file_),
            "[TFenEditMessages]\r\nNormPos=10,20,650,480\r\nFormHeight=460\r\nVisible=1\r\n"
            "\r\n[Autre]\r\nNom=Caf\xE9\r\n");
  EXPECT_EQ(ini.ReadInteger("tfeneditmessages", "FORMHEIGHT", 0), 460);
  EXPECT_TRUE(ini.ReadBool("TFenEditMessages", "Visible", false));
  EXPECT_EQ(ini.ReadString("AUTRE", "nom", ""), "Caf\xE9");
  EXPECT_TRUE(ini.SectionExists("autre"));
  EXPECT_TRUE(ini.ValueExists("Autre", "NOM"));
  EXPECT_FALSE(ini.ValueExists("Autre", "Prenom"));
}

TEST_F(TIniFileTest, ReadingTrimsAndStripsOnePairOfQuotes) {
  std::ofstream(file_, std::ios::binary)
      << "; comment\r\n[ S ]\r\n  a =  padded  \r\nb=\"quoted\"\r\nc='single'\r\nd=\"mixed'\r\n"
         "e=\"\"twice\"\"\r\nhex=0x1F\r\ndollar=$10\r\nbad=12a\r\nempty=\r\n";
  TIniFile ini(file_);
  EXPECT_EQ(ini.ReadString("s", "A", ""), "padded");
  EXPECT_EQ(ini.ReadString("S", "b", ""), "quoted");
  EXPECT_EQ(ini.ReadString("S", "c", ""), "single");
  EXPECT_EQ(ini.ReadString("S", "d", ""), "\"mixed'");
  EXPECT_EQ(ini.ReadString("S", "e", ""), "\"twice\"");
  EXPECT_EQ(ini.ReadInteger("S", "hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("S", "dollar", 0), 16);
  EXPECT_EQ(ini.ReadInteger("S", "bad", -5), -5);
  EXPECT_EQ(ini.ReadString("S", "empty", "x"), "") << "present but empty is not missing";
  EXPECT_FALSE(ini.ReadBool("S", "absent", false));
}

TEST_F(TIniFileTest, QuotedValuesSurviveThePlacementStoragesWrapping) {
  TIniFile ini(file_);
  for (const std::string value : {"\"double\"", "'single'", "plain", "'", "\"x'", " spaced "}) {
    ini.WriteString("Props", "Value", WrapForIni(value));
    const std::string expected = value == " spaced " ? "spaced" : value;  // blanks never survive
    EXPECT_EQ(ini.ReadString("Props", "Value", ""), expected) << value;
  }
}

TEST_F(TIniFileTest, LineBreaksCannotForgeLines) {
  TIniFile ini(file_);
  ini.WriteString("Props", "Caption", "a\r\n[Forged]\r\nx=1");
  EXPECT_FALSE(ini.SectionExists("Forged"));
  EXPECT_EQ(ini.ReadString("Props", "Caption", ""), "a  [Forged]  x=1");
}

TEST_F(TIniFileTest, EraseSectionAndBareNames) {
  TIniFile ini(file_);
  ini.WriteString("A", "x", "1");
  ini.WriteString("B", "y", "2");
  ini.WriteString("A", "z", "3");
  ini.EraseSection("a");
  EXPECT_FALSE(ini.SectionExists("A"));
  EXPECT_EQ(ini.ReadString("B", "y", ""), "2");
  ini.EraseSection("Missing");  // nothing to do
  EXPECT_EQ(ReadFileText(file_), "[B]\r\ny=2\r\n");

  const std::string saved = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", dir_.Path().c_str(), 1);
  TIniFile bare("TEST.INI");
  bare.WriteInteger("S", "n", 3);
  EXPECT_TRUE(fs::exists(dir_.File("mirvel/TEST.INI")));
  if (saved.empty()) {
    unsetenv("XDG_CONFIG_HOME");
  } else {
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  }
}

}  // namespace
}  // namespace cl
