// TFileDirEdit: the button edit of a path, which takes files dropped on it; TDirectoryEdit: the
// edit of a directory (or, with MultipleDirs, of a ";"-separated list of directories) whose
// button runs a folder dialog.
//
// The dialog starts at the text, else InitialDir, else "/"; a start that is not an existing
// directory becomes "/".  dkWin32 runs the folder browser (BrowseDirectory), whose OK stays
// disabled on a folder that does not exist; dkLibrary runs the class library's directory dialog
// with DialogOptions.  A choice replaces the text, or is appended after a ";" with MultipleDirs
// and a non-empty text; a chosen existing directory becomes InitialDir.  A cancelled or failed
// dialog leaves the text as it was.
//
// A dropped file gives its directory, a dropped directory itself, by the same ";" rule; without
// MultipleDirs only the first dropped item counts.  A read-only edit takes no drop.
// GUI thread only.
#pragma once

#include <string>

#include "classlib/forms/ShellApi.h"
#include "components/ui/TCustomComboEdit.h"

namespace comp {

enum TDirDialogKind { dkLibrary, dkWin32 };

class TFileDirEdit : public TCustomComboEdit {
 public:
  explicit TFileDirEdit(cl::TComponent* owner);

  // The text with each ";"-separated part spelled as the file system lists it.
  virtual std::string LongName() const;
  virtual std::string ShortName() const;

 protected:
  const cl::TBitmap* DefaultGlyph() const override;
  void WndProc(cl::TMessage& message) override;
  virtual void ReceptFileDir(const std::string& name) = 0;
  virtual void ClearFileList() {}
  // Whether the text holds a list (each part is then converted on its own).
  virtual bool MultipleNames() const { return false; }
};

class TDirectoryEdit : public TFileDirEdit {
 public:
  explicit TDirectoryEdit(cl::TComponent* owner) : TFileDirEdit(owner) {}

  cl::TSelectDirOpts DialogOptions() const { return dialog_options_; }
  void SetDialogOptions(cl::TSelectDirOpts options) { dialog_options_ = options; }
  const std::string& InitialDir() const { return initial_dir_; }
  void SetInitialDir(const std::string& dir) { initial_dir_ = dir; }
  const std::string& DialogText() const { return dialog_text_; }
  void SetDialogText(const std::string& text) { dialog_text_ = text; }
  TDirDialogKind DialogKind() const { return dialog_kind_; }
  void SetDialogKind(TDirDialogKind kind) { dialog_kind_ = kind; }
  bool MultipleDirs() const { return multiple_dirs_; }
  void SetMultipleDirs(bool value) { multiple_dirs_ = value; }

  void DoClick() override;

 protected:
  void ReceptFileDir(const std::string& name) override;
  bool MultipleNames() const override { return multiple_dirs_; }

 private:
  void AddDirectory(const std::string& dir);

  cl::TSelectDirOpts dialog_options_;
  std::string initial_dir_;
  std::string dialog_text_;
  TDirDialogKind dialog_kind_ = dkLibrary;
  bool multiple_dirs_ = false;
};

}  // namespace comp
