#include "components/ui/TBrowseFolderDlg.h"

#include "classlib/rtl/Application.h"

namespace comp {

bool TBrowseFolderDlg::Execute() {
  cl::TBrowseFolderOptions options;
  options.text = dialog_text_;
  options.folder = folder_name_;
  options.help_context = help_context_;
  options.center = position_ == dpScreenCenter;
  options.kind = browse_kind_;
  options.desktop_root = desktop_root_;
  options.on_initialized = [this](cl::TFolderDialogControl& dialog) {
    selection_ = dialog.Selection();
    if (on_initialized_) on_initialized_(this);
  };
  options.on_sel_changed = [this](cl::TFolderDialogControl& dialog) {
    selection_ = dialog.Selection();
    if (on_sel_changed_) on_sel_changed_(this);
  };
  std::string chosen;
  int image_index = -1;
  const bool ok = cl::BrowseForFolder(options, chosen, &image_index);
  if (ok) {
    folder_name_ = chosen;
    selection_ = chosen;
    image_index_ = image_index;
  }
  return ok;
}

bool BrowseDirectory(std::string& folder_name, const std::string& dialog_text, int help_context) {
  TBrowseFolderDlg dialog(&cl::Application());
  dialog.SetDialogText(dialog_text);
  dialog.SetFolderName(folder_name);
  dialog.SetHelpContext(help_context);
  if (!dialog.Execute()) return false;
  folder_name = dialog.FolderName();
  return true;
}

}  // namespace comp
