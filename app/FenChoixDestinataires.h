// TFenChoixDestinataires: the choice of several recipients of one message, and ChooseRecipients,
// the one way the program runs it.
//
// The list shows every user but the pseudo-user 0, in the users table's order, each item holding
// its NoUtilisateur as object; a row is drawn green for a connected user and grey otherwise.
// The users table's filter is put back as it was found (the users editor, which may be open
// beside it, relies on it hiding user 0).
//
// Lifetime: made, shown modally and freed by ChooseRecipients.  GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/forms/Buttons.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "components/ui/TExitPanel.h"

namespace mirvel {

inline constexpr cl::TColor kConnectedColor = 32768;       // 0x008000
inline constexpr cl::TColor kDisconnectedColor = 8421504;  // 0x808080

class TFenChoixDestinataires : public cl::TForm {
 public:
  explicit TFenChoixDestinataires(cl::TComponent* owner);

  cl::TPanel* PanelBoutons;
  cl::TButton* btnTous;
  cl::TButton* btnAucun;
  cl::TButton* btnConnectes;
  cl::TButton* btnDeconnectes;
  cl::TCheckListBox* ListeDestinataires;
  comp::TExitPanel* ExitPanel1;

  void btnTousClick(cl::TObject* sender);
  void btnAucunClick(cl::TObject* sender);
  void btnConnectesClick(cl::TObject* sender);
  void btnDeconnectesClick(cl::TObject* sender);
  void ListeDestinatairesDrawItem(cl::TWinControl* control, int index, cl::TRect rect,
                                  cl::TOwnerDrawState state);

  // Fills the list from the users table (step 1 of ChooseRecipients).
  void FillList();
  // Checks exactly the items named by the ";"-separated numbers of `list`.
  void CheckList(const std::string& list);
  // The checked items' numbers joined by ";" in list order.
  std::string CheckedList() const;

 private:
  // Checks the items whose user's Statut is `statut`; users not found are unchecked.
  void CheckStatut(int32_t statut);
};

// Runs the dialog on `list` (user numbers joined by ";").  True on OK, with `list` replaced by
// the checked users; otherwise `list` is left as it was.
bool ChooseRecipients(std::string& list);

}  // namespace mirvel
