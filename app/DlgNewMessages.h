// TDlgNewMessages: the alert that new messages wait; "Aller &voir" answers mrOk, "&Ignorer"
// mrIgnore.  It stays on top of the other windows.
//
// Lifetime: made, shown modally and freed by the new-message check through the main window;
// DlgNewMessages points at it while it exists, so that showing the main window can close it.
// GUI thread only.
#pragma once

#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"

namespace mirvel {

inline constexpr const char* kNewMessagesLabel = "Vous avez de nouveaux messages.";

class TDlgNewMessages : public cl::TForm {
 public:
  explicit TDlgNewMessages(cl::TComponent* owner);
  ~TDlgNewMessages() override;

  cl::TLabel* LabelNouveau;
  cl::TButton* btnVoir;
  cl::TButton* btnIgnorer;

  void FormShow(cl::TObject* sender);
};

// The open alert, or nullptr.
extern TDlgNewMessages* DlgNewMessages;

// Shows the alert modally (with the unread text when `unread`); true for "Aller &voir".
bool ShowNewMessagesDialog(bool unread);

}  // namespace mirvel
