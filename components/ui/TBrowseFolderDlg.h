// TBrowseFolderDlg: the folder browser dialog as a component, and BrowseDirectory, the routine
// the directory edit uses.
//
// DesktopRoot shows the file system's root "/" as the tree's one top item (the desktop holds
// the whole tree); without it the tree starts at the computer's drive, its top level being the
// root's folders.  bfComputers (browsing the network) has nothing to show here: Execute returns
// false.  ImageIndex keeps the chosen item's image (cl::TFolderImage).
// OK is enabled only while the selection is an existing directory, so a folder that does not
// exist cannot be confirmed; the result never ends in "/" except "/" itself.
//
// GUI thread only; Execute runs a modal dialog.
#pragma once

#include <string>

#include "classlib/forms/ShellApi.h"
#include "classlib/rtl/Classes.h"
#include "classlib/rtl/TComponent.h"

namespace comp {

enum TDialogPosition { dpDefault, dpScreenCenter };

class TBrowseFolderDlg : public cl::TComponent {
 public:
  explicit TBrowseFolderDlg(cl::TComponent* owner) : cl::TComponent(owner) {}

  int HelpContext() const { return help_context_; }
  void SetHelpContext(int context) { help_context_ = context; }
  bool DesktopRoot() const { return desktop_root_; }
  void SetDesktopRoot(bool value) { desktop_root_ = value; }
  cl::TBrowseKind BrowseKind() const { return browse_kind_; }
  void SetBrowseKind(cl::TBrowseKind kind) { browse_kind_ = kind; }
  TDialogPosition Position() const { return position_; }
  void SetPosition(TDialogPosition position) { position_ = position; }
  const std::string& DialogText() const { return dialog_text_; }
  void SetDialogText(const std::string& text) { dialog_text_ = text; }
  // In: the initial selection (used only when it is an existing directory).  Out: the choice.
  const std::string& FolderName() const { return folder_name_; }
  void SetFolderName(const std::string& name) { folder_name_ = name; }
  // The chosen item's image (cl::TFolderImage), -1 before a choice.
  int ImageIndex() const { return image_index_; }
  // The selection while the dialog runs.
  const std::string& Selection() const { return selection_; }

  const cl::TNotifyEvent& OnInitialized() const { return on_initialized_; }
  void SetOnInitialized(cl::TNotifyEvent handler) { on_initialized_ = std::move(handler); }
  const cl::TNotifyEvent& OnSelChanged() const { return on_sel_changed_; }
  void SetOnSelChanged(cl::TNotifyEvent handler) { on_sel_changed_ = std::move(handler); }

  // True when the user chose a folder; FolderName then holds it.
  bool Execute();

 private:
  int help_context_ = 0;
  bool desktop_root_ = true;
  cl::TBrowseKind browse_kind_ = cl::bfFolders;
  TDialogPosition position_ = dpScreenCenter;
  std::string dialog_text_;
  std::string folder_name_;
  std::string selection_;
  int image_index_ = -1;
  cl::TNotifyEvent on_initialized_;
  cl::TNotifyEvent on_sel_changed_;
};

// Runs the dialog with `dialog_text` and `help_context`, starting at `folder_name`; on a choice
// sets `folder_name` and returns true.
bool BrowseDirectory(std::string& folder_name, const std::string& dialog_text, int help_context);

}  // namespace comp
