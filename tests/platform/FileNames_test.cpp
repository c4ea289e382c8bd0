#include "platform/FileNames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/platform/TempDirectory.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

TEST(FileNames, CaseFoldsAsciiAndTheLatinLettersOfWindows1252) {
  EXPECT_TRUE(SameNameIgnoringCase("Users.DAT", "users.dat"));
  EXPECT_TRUE(SameNameIgnoringCase("\xC3\x89T\xC3\x89.DAT", "\xC3\xA9t\xC3\xA9.dat"));  // ÉTÉ/été
  EXPECT_TRUE(SameNameIgnoringCase("\xC5\x92UVRE", "\xC5\x93uvre"));                    // Œ/œ
  EXPECT_TRUE(SameNameIgnoringCase("\xC5\xB8", "\xC3\xBF"));                            // Ÿ/ÿ
  EXPECT_FALSE(SameNameIgnoringCase("\xC3\x97", "\xC3\xB7"));  // × and ÷ are not letters
  EXPECT_FALSE(SameNameIgnoringCase("users.dat", "users.dat "));
  EXPECT_FALSE(SameNameIgnoringCase("users.dat", "users.da"));
  EXPECT_FALSE(SameNameIgnoringCase("e", "\xC3\xA9"));
  // Bytes that are not UTF-8 compare as themselves.
  EXPECT_TRUE(SameNameIgnoringCase("A\xFF", "a\xFF"));
  EXPECT_FALSE(SameNameIgnoringCase("\xC3", "\xE3"));
}

class FileNamesTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCaseInsensitiveNames(true); }
  void Touch(const std::string& name) { std::ofstream(dir_ + name) << "x"; }

  mirvel_test::TempDirectory temp_{"filenames"};
  const std::string dir_ = temp_.Path() + "/";
};

TEST_F(FileNamesTest, ResolvesOnlyASingleMatchOfTheLastComponent) {
  Touch("Users.DAT");
  EXPECT_EQ(ResolveFileName(dir_ + "USERS.dat"), dir_ + "Users.DAT");
  EXPECT_EQ(ResolveFileName(dir_ + "Users.DAT"), dir_ + "Users.DAT");
  EXPECT_EQ(ResolveFileName(dir_ + "Other.DAT"), dir_ + "Other.DAT");

  // Two candidates: no guess.
  Touch("users.dat");
  EXPECT_EQ(ResolveFileName(dir_ + "USERS.DAT"), dir_ + "USERS.DAT");
  // The exact name always wins.
  EXPECT_EQ(ResolveFileName(dir_ + "users.dat"), dir_ + "users.dat");

  // Directories are not resolved, only the file name.
  fs::create_directory(dir_ + "Sub");
  Touch("Sub/A.DAT");
  EXPECT_EQ(ResolveFileName(dir_ + "sub/a.dat"), dir_ + "sub/a.dat");
  EXPECT_EQ(ResolveFileName(dir_ + "Sub/a.dat"), dir_ + "Sub/A.DAT");
}

TEST_F(FileNamesTest, TheFallbackCanBeTurnedOff) {
  Touch("Users.DAT");
  SetCaseInsensitiveNames(false);
  EXPECT_FALSE(CaseInsensitiveNames());
  EXPECT_EQ(ResolveFileName(dir_ + "USERS.DAT"), dir_ + "USERS.DAT");
  SetCaseInsensitiveNames(true);
  EXPECT_EQ(ResolveFileName(dir_ + "USERS.DAT"), dir_ + "Users.DAT");
}

TEST_F(FileNamesTest, ResolvesRelativeNamesInTheCurrentDirectory) {
  Touch("Rel.DAT");
  const fs::path saved = fs::current_path();
  fs::current_path(dir_);
  EXPECT_EQ(ResolveFileName("REL.dat"), "Rel.DAT");
  fs::current_path(saved);
}

}  // namespace
}  // namespace platform
