#include "components/ui/TDirectoryEdit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "classlib/forms/Dialogs.h"

namespace comp {
namespace {

namespace fs = std::filesystem;

struct DirectoryEditTest : ::testing::Test {
  DirectoryEditTest()
      : dir((fs::temp_directory_path() / ("dir-edit-" + std::to_string(getpid()))).string()) {
    fs::create_directories(dir + "/sub");
    std::ofstream(dir + "/sub/file.txt") << "x";
  }
  ~DirectoryEditTest() override {
    cl::ClearModalActions();
    fs::remove_all(dir);
  }
  std::string dir;
};

TEST_F(DirectoryEditTest, DialogStartAndConfirmRules) {
  const std::string missing = dir + "/missing";
  const struct {
    std::string text;
    std::string initial_dir;
    bool multiple;
    std::string start;   // the dialog's preselection
    std::string choose;  // selected in the dialog; empty: cancel
    std::string expected_text;
    std::string expected_initial;
  } cases[] = {
      {"", "", false, "/", dir + "/sub", dir + "/sub", dir + "/sub"},
      {"", dir, false, dir, dir, dir, dir},
      {dir, "", false, dir, "", dir, ""},
      {missing, "", false, "/", missing, missing, ""},  // cannot be confirmed: cancelled
      {dir, "", true, dir, dir + "/sub", dir + ";" + dir + "/sub", dir + "/sub"},
      {dir + ";/", "", true, "/", "/", dir + ";/;/", "/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " | " + c.choose);
    TDirectoryEdit edit(nullptr);
    edit.SetDialogKind(dkWin32);
    edit.SetDialogText("Veuillez choisir");
    edit.SetText(c.text);
    edit.SetInitialDir(c.initial_dir);
    edit.SetMultipleDirs(c.multiple);
    std::string start = "?";
    bool ok_enabled = true;
    cl::AddModalAction([&] {
      cl::TFolderDialogControl* dialog = cl::ActiveFolderDialog();
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->Text(), "Veuillez choisir");
      start = dialog->Selection();
      if (c.choose.empty()) {
        dialog->Cancel();
        return;
      }
      dialog->SetSelection(c.choose);
      ok_enabled = dialog->OKEnabled();
      dialog->Accept();  // nothing while OK is disabled
      if (!ok_enabled) dialog->Cancel();
    });
    edit.DoClick();
    EXPECT_EQ(start, c.start);
    EXPECT_EQ(ok_enabled, c.choose != missing);
    EXPECT_EQ(edit.Text(), c.expected_text);
    EXPECT_EQ(edit.InitialDir(), c.expected_initial);
  }

  // The class library's dialog with creation allowed may return a folder it made.
  TDirectoryEdit edit(nullptr);
  edit.SetDialogOptions({cl::sdAllowCreate, cl::sdPerformCreate});
  cl::AddModalAction([&] {
    cl::ActiveFolderDialog()->SetSelection(missing);
    cl::ActiveFolderDialog()->Accept();
  });
  edit.DoClick();
  EXPECT_EQ(edit.Text(), missing);
  EXPECT_TRUE(fs::is_directory(missing));
  EXPECT_EQ(edit.InitialDir(), missing);

  // A read-only edit runs no dialog.
  edit.SetReadOnly(true);
  edit.DoClick();
  EXPECT_EQ(cl::PendingModalActions(), 0);
}

TEST_F(DirectoryEditTest, DroppedItemsGiveTheirDirectories) {
  TDirectoryEdit edit(nullptr);
  EXPECT_FALSE(edit.Glyph().Empty());
  EXPECT_EQ(edit.GlyphKind(), gkDefault);
  std::vector<std::string> files{dir + "/sub/file.txt", dir};
  auto drop = [&] { edit.Perform(cl::WM_DROPFILES, reinterpret_cast<cl::WPARAM>(&files), 0); };
  edit.SetText("/old");
  drop();
  EXPECT_EQ(edit.Text(), dir + "/sub") << "only the first, replacing the text";
  EXPECT_TRUE(edit.Modified());
  edit.SetMultipleDirs(true);
  drop();
  EXPECT_EQ(edit.Text(), dir + "/sub;" + dir + "/sub;" + dir);
  edit.SetReadOnly(true);
  edit.SetText("");
  drop();
  EXPECT_EQ(edit.Text(), "");

  // Long and short names convert each part.
  edit.SetText(dir + ";" + dir + "/SUB");
  EXPECT_EQ(edit.LongName(), dir + ";" + dir + "/sub");
  EXPECT_EQ(edit.ShortName(), dir + ";" + dir + "/sub");
}

}  // namespace
}  // namespace comp
