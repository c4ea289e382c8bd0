// The password dialog a session shows when the engine needs a table's password and the program
// gave the session no OnPassword handler.
//
// The user adds passwords to the session's list or removes them, and OK makes the engine try
// again.  The dialog registers itself as the sessions' default password request when its unit
// initialises (RegisterPasswordDialogUnit), so that the sessions stay free of the user interface:
// a program without it answers every request with "no".
//
// Threads: GUI thread only.
#pragma once

#include "classlib/forms/Edits.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "engine/components/TTesseraSession.h"

namespace tessera {

class TTesseraPasswordDialog : public cl::TForm {
 public:
  explicit TTesseraPasswordDialog(cl::TComponent* owner);

  void SetSession(TTesseraSession* session) { session_ = session; }
  bool Added() const { return added_; }

  cl::TGroupBox* GroupBox1;
  cl::TEdit* Edit;
  cl::TButton* AddButton;
  cl::TButton* RemoveButton;
  cl::TButton* RemoveAllButton;
  cl::TButton* OKButton;
  cl::TButton* CancelButton;

  void EditChange(cl::TObject* sender);
  void AddButtonClick(cl::TObject* sender);
  void RemoveButtonClick(cl::TObject* sender);
  void RemoveAllButtonClick(cl::TObject* sender);
  void OKButtonClick(cl::TObject* sender);

 private:
  TTesseraSession* session_ = nullptr;
  bool added_ = false;
};

// Shows the dialog for `session` modally; true exactly when it closed with OK.
bool PasswordDialog(TTesseraSession& session);

// Registers the unit (order 300) whose initialisation makes PasswordDialog the sessions' default
// password request, and whose finalisation takes it back.
void RegisterPasswordDialogUnit();

}  // namespace tessera
