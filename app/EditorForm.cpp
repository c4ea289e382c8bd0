#include "app/EditorForm.h"

#include <vector>

#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Screen.h"
#include "classlib/rtl/Messages.h"

namespace mirvel {

TEditorForm::TEditorForm(cl::TComponent* owner) : cl::TForm(owner) {}

void TEditorForm::AfterConstruction() {
  FMinWidth = Width();
  cl::TForm::AfterConstruction();
}

void TEditorForm::DefaultHandler(cl::TMessage& message) {
  cl::TForm::DefaultHandler(message);
  if (message.Msg == cl::WM_GETMINMAXINFO && message.LParam != 0) {
    reinterpret_cast<cl::TMinMaxInfo*>(message.LParam)->ptMinTrackSize.X = FMinWidth;
  }
}

bool ConfirmPendingEdits(std::initializer_list<cl::TDataSet*> data_sets) {
  std::vector<cl::TDataSet*> editing;
  bool modified = false;
  for (cl::TDataSet* data_set : data_sets) {
    if (data_set->State() == cl::dsEdit || data_set->State() == cl::dsInsert) {
      editing.push_back(data_set);
      modified = modified || data_set->Modified();
    }
  }
  if (editing.empty()) return true;
  int answer = cl::mrNo;  // nothing modified: cancel without asking
  if (modified) {
    answer = cl::MessageDlg(kSaveChangesQuestion, cl::mtConfirmation,
                            {cl::mbYes, cl::mbNo, cl::mbCancel}, 0);
  }
  if (answer == cl::mrYes) {
    // Posting a master may already have posted its detail (the link brings it to browse mode).
    for (cl::TDataSet* data_set : editing) {
      if (data_set->State() == cl::dsEdit || data_set->State() == cl::dsInsert) data_set->Post();
    }
    return true;
  }
  if (answer == cl::mrNo) {
    // Details first: a master leaving edit mode makes its link post the detail's pending edit.
    for (auto it = editing.rbegin(); it != editing.rend(); ++it) {
      if ((*it)->State() == cl::dsEdit || (*it)->State() == cl::dsInsert) (*it)->Cancel();
    }
    return true;
  }
  return false;
}

TFilterGuard::TFilterGuard(cl::TDataSet* data_set, const std::string& filter)
    : data_set_(data_set), previous_(data_set->Filter()) {
  data_set_->SetFilter(filter);
}

TFilterGuard::~TFilterGuard() {
  try {
    data_set_->SetFilter(previous_);
  } catch (cl::Exception& e) {
    // A destructor cannot raise; the failure still reaches the user.
    cl::Application().ShowException(e);
  }
}

}  // namespace mirvel
