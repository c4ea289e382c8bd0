// Shell services: the notification-area icon, the folder dialogs and the beep's relatives.
//
// Notification-area icons.  Shell_NotifyIcon adds, modifies or deletes the icon (Wnd, ID); user
// actions on it come back as the caller's CallbackMessage posted to Wnd, with the ID in WParam
// and the mouse message in LParam: a click is WM_LBUTTONDOWN then WM_LBUTTONUP, a context click
// WM_RBUTTONDOWN then WM_RBUTTONUP, a middle click WM_MBUTTONDOWN then WM_MBUTTONUP, a double
// click WM_LBUTTONDBLCLK.  Mouse moves are never reported.  Hosts that report no double clicks
// (StatusNotifierItem hosts, chosen as the toolkit chooses them: ToolkitTrayReportsDoubleClicks)
// deliver a click as the double click, so that "double click shows the window" still works there.
//
// Shell_NotifyIcon may be called from any thread: calls are applied on the GUI thread in the
// order they were made, and the icon and tip are copied at the call.  On the GUI thread it
// returns the real result.  From another thread the call is only queued: it returns whether a
// tray host was available when last seen, never the outcome of the call itself (a worker that
// needs it must ask on the GUI thread).  Without a tray host NIM_ADD returns false (NotifyIconAvailable tells beforehand).
// The backend is the toolkit's tray icon; tests install TFakeTrayBackend.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "classlib/forms/Graphics.h"
#include "classlib/rtl/Messages.h"
#include "classlib/rtl/TSet.h"

namespace cl {

constexpr uint32_t NIM_ADD = 0, NIM_MODIFY = 1, NIM_DELETE = 2;
constexpr uint32_t NIF_MESSAGE = 1, NIF_ICON = 2, NIF_TIP = 4;

struct TNotifyIconData {
  HWND Wnd = 0;
  uint32_t ID = 0;
  uint32_t Flags = 0;
  uint32_t CallbackMessage = 0;
  TIcon Icon;
  std::string Tip;  // Windows-1252
};

bool Shell_NotifyIcon(uint32_t message, const TNotifyIconData& data);
bool NotifyIconAvailable();

enum class TTrayAction { kTrigger, kContext, kDoubleClick, kMiddleClick };

// Whether the toolkit's tray icon on the platform `platform_name` reports double clicks: on X11
// it does unless a StatusNotifierItem watcher is registered on the session bus (the toolkit then
// puts the icon there); elsewhere only such hosts exist.
bool ToolkitTrayReportsDoubleClicks(const std::string& platform_name);

// The mouse messages of a user action, as described above.
std::vector<uint32_t> TrayActionMessages(TTrayAction action, bool host_reports_double_clicks);

// Where icons really go.  All calls come on the GUI thread.
class TTrayBackend {
 public:
  virtual ~TTrayBackend() = default;
  virtual bool Available() = 0;
  virtual bool ReportsDoubleClicks() = 0;
  virtual bool Add(uint64_t key, const TIcon& icon, const std::string& tip) = 0;
  // Null arguments leave that part unchanged.
  virtual bool Modify(uint64_t key, const TIcon* icon, const std::string* tip) = 0;
  virtual bool Remove(uint64_t key) = 0;

  // The backend reports the user's actions through this (installed by the service).
  std::function<void(uint64_t key, TTrayAction action)> on_action;
};

// Installs a backend (not owned); null puts the toolkit's back.
void SetTrayBackend(TTrayBackend* backend);

// A tray that records what it is asked and lets a test act as the user.
class TFakeTrayBackend : public TTrayBackend {
 public:
  struct Icon {
    TIcon icon;
    std::string tip;
  };

  bool available = true;
  bool double_clicks = true;
  std::map<uint64_t, Icon> icons;
  std::vector<std::string> log;  // "add 1 <tip>", "modify 1 <tip>", "delete 1"

  bool Available() override { return available; }
  bool ReportsDoubleClicks() override { return double_clicks; }
  bool Add(uint64_t key, const TIcon& icon, const std::string& tip) override;
  bool Modify(uint64_t key, const TIcon* icon, const std::string* tip) override;
  bool Remove(uint64_t key) override;
  // Acts on the icon (Wnd, ID) as the user would.
  void Act(HWND wnd, uint32_t id, TTrayAction action);
};

uint64_t TrayKey(HWND wnd, uint32_t id);

// ---- Folder dialogs ---------------------------------------------------------------------------

// What the callbacks (and a test's modal action) can do with a running folder dialog.
class TFolderDialogControl {
 public:
  virtual ~TFolderDialogControl() = default;
  virtual std::string Selection() const = 0;
  // Selects a path (OK follows whether it is an existing directory, unless creation is allowed).
  virtual void SetSelection(const std::string& path) = 0;
  virtual void EnableOK(bool enabled) = 0;
  virtual bool OKEnabled() const = 0;
  virtual bool HasHelpButton() const = 0;
  // The folder whose contents form the tree's top level; "" when the top level is the file
  // system's root itself (the desktop's view).
  virtual std::string RootPath() const = 0;
  virtual std::string Text() const = 0;
  // Presses OK (nothing while it is disabled) or Cancel.
  virtual void Accept() = 0;
  virtual void Cancel() = 0;
};

// The running folder dialog, or null.
TFolderDialogControl* ActiveFolderDialog();

enum TBrowseKind { bfFolders, bfComputers };

struct TBrowseFolderOptions {
  std::string text;      // shown above the tree
  std::string folder;    // the initial selection, used only when it is a directory
  int help_context = 0;  // non-zero: a "&Aide" button (which does nothing: no help viewer)
  bool center = true;    // centred on the screen
  TBrowseKind kind = bfFolders;
  // The desktop's view: the file system's root is the one top item.  Otherwise the computer's
  // drives: the root's folders are the top level.
  bool desktop_root = true;
  std::function<void(TFolderDialogControl& dialog)> on_initialized;
  std::function<void(TFolderDialogControl& dialog)> on_sel_changed;
};

// Runs the dialog; true with `folder` set (no trailing "/" but for "/" itself) when the user
// chose an existing directory.  bfComputers has nothing to browse here and returns false.
// `image_index`, when given, receives the chosen item's image in the dialog's list (below).
bool BrowseForFolder(const TBrowseFolderOptions& options, std::string& folder,
                     int* image_index = nullptr);
// The dialog's item images: the file system's root (the drive), the user's home, other folders.
enum TFolderImage { fiDrive, fiHome, fiFolder };
// REQUIRES: `path` normalised (no trailing "/" but for "/").
int FolderImageIndex(const std::string& path);

enum TSelectDirOpt { sdAllowCreate, sdPerformCreate, sdPrompt };
using TSelectDirOpts = TSet<TSelectDirOpt>;

// The class library's directory dialog: with sdAllowCreate a missing directory may be typed and
// accepted; sdPrompt then asks whether to create it ("Confirmation", Yes/No) and sdPerformCreate
// creates it.  Returns true with `directory` set when one was chosen (and, with
// sdPerformCreate, exists).
bool SelectDirectory(std::string& directory, TSelectDirOpts options, int help_context);

// The files dropped on a control: WM_DROPFILES carries a pointer to this list in WParam.
using TDroppedFiles = std::vector<std::string>;
inline const TDroppedFiles& DroppedFiles(const TMessage& message) {
  return *reinterpret_cast<const TDroppedFiles*>(message.WParam);
}

}  // namespace cl
