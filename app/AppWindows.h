// TAppWindows: everything the database module and the main data module need of the main window
// and of the dialogs it opens.  The main window implements it and registers itself; tests
// register a fake that records and answers.  The modules include no window code: message boxes
// go through the class library's MessageDlg, everything else through this class.
//
// Threads: GUI thread only.  The registered object must outlive its registration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/rtl/Messages.h"

namespace mirvel {

// The main window's own messages.
inline constexpr uint32_t WM_SHOW_MAIN = cl::WM_USER + 128;       // show the main window
inline constexpr uint32_t WM_CHECK_MESSAGES = cl::WM_USER + 129;  // look for new messages
inline constexpr uint32_t WM_REFRESH_VIEW = cl::WM_USER + 130;    // refresh the message view

// A caller or company of a combo box: the shown name and the record's number.
struct TComboItem {
  std::string text;
  int32_t number = 0;
};

class TAppWindows {
 public:
  virtual ~TAppWindows() = default;

  // Hidden in the notification area.
  virtual bool IsMinimized() = 0;
  // A change arrived while the window was hidden: refresh when it is shown again.
  virtual bool PendingCheck() = 0;
  virtual void SetPendingCheck(bool pending) = 0;
  // Posts `message` (one of the three above) with zero parameters.
  virtual void PostToMainWindow(uint32_t message) = 0;

  // The connected look (menu "&Déconnecter", tray image 0) or the disconnected one ("&Connecter",
  // image 1); either stops the tray animation.
  virtual void ShowConnected(bool connected) = 0;
  virtual void StartTrayAnimation() = 0;
  // Drop-down row count of the two user lookup combos.
  virtual void SetUserComboRows(int rows) = 0;

  virtual std::string CallerComboText() = 0;
  // Replace the items of the caller or the company combo (name and record number each), keeping
  // the combo's text; the combo shows them sorted.
  virtual void SetCallerComboItems(const std::vector<TComboItem>& items) = 0;
  virtual void SetCompanyComboItems(const std::vector<TComboItem>& items) = 0;

  // The subject dialog, holding `subject` at first; true for OK, with the typed text in
  // `subject`.
  virtual bool AskSubject(std::string& subject) = 0;
  // Focus on the subject edit with its text selected.
  virtual void FocusSubjectEdit() = 0;
  // Focus on the recipient combo, dropped down.
  virtual void FocusRecipientCombo() = 0;

  virtual bool NewMessageDialogOpen() = 0;
  // The new-message dialog, modal; `unread` shows "Vous avez des messages non lus".  True when
  // the user chose to see the messages ("Aller &voir").
  virtual bool ShowNewMessageDialog(bool unread) = 0;
};

// The registered windows; nullptr before the main window exists.
TAppWindows* AppWindows();
// `windows` may be nullptr (the main window going away).
void SetAppWindows(TAppWindows* windows);

}  // namespace mirvel
