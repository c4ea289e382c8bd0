#include "components/ui/TBrowseFolderDlg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "classlib/forms/Dialogs.h"

namespace comp {
namespace {

TEST(TBrowseFolderDlgTest, PreselectionResultsAndEvents) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("browse-dlg-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "sub");

  TBrowseFolderDlg dialog(nullptr);
  EXPECT_TRUE(dialog.DesktopRoot());
  EXPECT_EQ(dialog.Position(), dpScreenCenter);
  std::vector<std::string> events;
  dialog.SetOnInitialized([&](cl::TObject*) { events.push_back("init " + dialog.Selection()); });
  dialog.SetOnSelChanged([&](cl::TObject*) { events.push_back("sel " + dialog.Selection()); });

  // A missing folder preselects nothing and cannot be confirmed; no help button by default.
  dialog.SetFolderName((dir / "missing").string());
  cl::AddModalAction([&] {
    cl::TFolderDialogControl* d = cl::ActiveFolderDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Selection(), "");
    EXPECT_FALSE(d->HasHelpButton());
    d->SetSelection((dir / "missing").string());
    EXPECT_FALSE(d->OKEnabled());
    d->Accept();
    d->Cancel();
  });
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(dialog.FolderName(), (dir / "missing").string()) << "unchanged on cancel";
  EXPECT_EQ(events.front(), "init ");

  // An existing folder is preselected; a subfolder comes back without a trailing "/".
  dialog.SetFolderName(dir.string());
  dialog.SetHelpContext(7);
  cl::AddModalAction([&] {
    cl::TFolderDialogControl* d = cl::ActiveFolderDialog();
    EXPECT_EQ(d->Selection(), dir.string());
    EXPECT_TRUE(d->HasHelpButton());
    d->SetSelection((dir / "sub").string() + "/");
    d->Accept();
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.FolderName(), (dir / "sub").string());

  EXPECT_EQ(dialog.ImageIndex(), cl::fiFolder);

  // The desktop holds "/" as its top item; the drive's view starts inside it.  The image of the
  // chosen item is kept.
  for (const bool desktop : {true, false}) {
    dialog.SetDesktopRoot(desktop);
    dialog.SetFolderName("/");
    std::string root = "unset";
    cl::AddModalAction([&] {
      root = cl::ActiveFolderDialog()->RootPath();
      cl::ActiveFolderDialog()->Accept();
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(root, desktop ? "" : "/");
    EXPECT_EQ(dialog.ImageIndex(), cl::fiDrive);
  }

  std::string folder = "/";
  cl::AddModalAction([&] { cl::ActiveFolderDialog()->Accept(); });
  ASSERT_TRUE(BrowseDirectory(folder, "Choisir", 0));
  EXPECT_EQ(folder, "/");

  dialog.SetBrowseKind(cl::bfComputers);
  EXPECT_FALSE(dialog.Execute()) << "no network browsing here";
  cl::ClearModalActions();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace comp
