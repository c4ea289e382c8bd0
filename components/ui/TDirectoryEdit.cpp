#include "components/ui/TDirectoryEdit.h"

#include "components/data/FolderPaths.h"
#include "components/ui/TBrowseFolderDlg.h"
#include "components/ui/WindowRoutines.h"

namespace comp {
namespace {

// Each ";"-separated part of `text` through `convert` (the whole text without `multiple`).
std::string ConvertParts(const std::string& text, bool multiple,
                         std::string (*convert)(std::string_view)) {
  if (!multiple) return convert(text);
  std::string result;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(';', start);
    const std::string part = text.substr(start, end == std::string::npos ? end : end - start);
    result += convert(part);
    if (end == std::string::npos) break;
    result += ';';
    start = end + 1;
  }
  return result;
}

// The directory a dropped item stands for: itself, or the one that holds it.
std::string DirectoryOf(const std::string& name) {
  if (DirExists(name)) return name;
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos) return name;
  return slash == 0 ? "/" : name.substr(0, slash);
}

}  // namespace

TFileDirEdit::TFileDirEdit(cl::TComponent* owner) : TCustomComboEdit(owner) {
  SetOEMConvert(true);
  SetGlyphKind(gkDefault);
  SetAcceptFiles(true);
}

const cl::TBitmap* TFileDirEdit::DefaultGlyph() const {
  // Loaded once for every path edit; kept for the life of the process.
  static const cl::TBitmap* const glyph = [] {
    RegisterComponentResources();
    auto* bitmap = new cl::TBitmap;
    bitmap->LoadFromResourceName("FEDITBMP");
    return bitmap;
  }();
  return glyph;
}

std::string TFileDirEdit::LongName() const {
  return ConvertParts(Text(), MultipleNames(), &ShortToLongPath);
}

std::string TFileDirEdit::ShortName() const {
  return ConvertParts(Text(), MultipleNames(), &LongToShortPath);
}

void TFileDirEdit::WndProc(cl::TMessage& message) {
  if (message.Msg != cl::WM_DROPFILES) {
    TCustomComboEdit::WndProc(message);
    return;
  }
  if (GetReadOnly()) return;
  ClearFileList();
  for (const std::string& name : cl::DroppedFiles(message)) {
    ReceptFileDir(name);
    if (!MultipleNames()) break;
  }
  SetModified(true);
}

void TDirectoryEdit::AddDirectory(const std::string& dir) {
  SetText(multiple_dirs_ && !Text().empty() ? Text() + ";" + dir : dir);
}

void TDirectoryEdit::ReceptFileDir(const std::string& name) { AddDirectory(DirectoryOf(name)); }

void TDirectoryEdit::DoClick() {
  TFileDirEdit::DoClick();
  if (GetReadOnly()) return;
  std::string dir = Text();
  if (dir.empty()) dir = initial_dir_;
  if (dir.empty() || !DirExists(dir)) dir = "/";
  const bool chosen = dialog_kind_ == dkWin32 ? BrowseDirectory(dir, dialog_text_, 0)
                                              : cl::SelectDirectory(dir, dialog_options_, 0);
  if (CanFocus()) SetFocus();
  if (!chosen) return;
  SetSelLength(0);
  AddDirectory(dir);
  SetModified(true);
  if (DirExists(dir)) initial_dir_ = dir;
}

}  // namespace comp
