// What the main window does to messages: the view, the read marks, recipients, callers,
// answering, quoting, zooming, printing, and the layout rules.
#include <cmath>
#include <memory>

#include "app/DlgAvalaibilities.h"
#include "app/FenChoixDestinataires.h"
#include "app/FenEditMessages.h"
#include "app/FenSelInterlocuteurs.h"
#include "app/FenVisuMessage.h"
#include "app/MBDMirvel.h"
#include "app/MMirvel.h"
#include "app/RMessage.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/DateTime.h"

namespace mirvel {

namespace {

// The edits' rows at the top of PanelDonnees.
constexpr int kEditsHeight = 86;

bool Editing(cl::TDataSet* data_set) {
  return data_set->State() == cl::dsEdit || data_set->State() == cl::dsInsert;
}

// The screen cursor for the time of a long step, put back whatever happens.
class THourGlass {
 public:
  THourGlass() { cl::Screen().SetCursor(cl::crHourGlass); }
  ~THourGlass() { cl::Screen().SetCursor(cl::crDefault); }
  THourGlass(const THourGlass&) = delete;
  THourGlass& operator=(const THourGlass&) = delete;
};

void OpenOrRefresh(cl::TDataSet* data_set) {
  if (data_set->Active()) {
    data_set->Refresh();
  } else {
    data_set->Open();
  }
}

}  // namespace

bool TFenEditMessages::MessagesEditing() const { return Editing(DMMirvel->TableMessages); }

bool TFenEditMessages::MessagesEmpty() const {
  cl::TDataSet* messages = DMMirvel->TableMessages;
  return !messages->Active() || messages->IsEmpty();
}

void TFenEditMessages::RefreshMessages() {
  cl::TDataSet* messages = DMMirvel->TableMessages;
  if (!messages->Active() || MessagesEditing()) return;
  const cl::TBookmark mark = messages->GetBookmark();
  messages->Refresh();
  if (!mark.empty() && messages->BookmarkValid(mark)) messages->GotoBookmark(mark);
}

void TFenEditMessages::FillUserSelecter() {
  cl::TDataSet* users = DMMirvel->TableUtilisateurs;
  UserSelecter->Items().Clear();
  UserSelecter->Items().AddObject(kAllUsers, reinterpret_cast<cl::TObject*>(intptr_t{-1}));
  int selected = 0;
  users->First();
  while (!users->Eof()) {
    const int32_t number = DMMirvel->TableUtilisateursNoUtilisateur->AsInteger();
    if (number != 0) {
      const int index = UserSelecter->Items().AddObject(
          DMMirvel->TableUtilisateursNomComplet->AsString(),
          reinterpret_cast<cl::TObject*>(static_cast<intptr_t>(number)));
      if (number == DMBDMirvel->FCurrentUser) selected = index;
    }
    users->Next();
  }
  UserSelecter->SetItemIndex(selected);
  UserSelecterClick(UserSelecter);
}

void TFenEditMessages::UserSelecterClick(cl::TObject*) {
  const int index = UserSelecter->ItemIndex();
  std::string filter;
  if (index > 0) {
    const auto number = reinterpret_cast<intptr_t>(UserSelecter->Items().Objects(index));
    filter = "NoDestinataire = " + std::to_string(number);
  }
  cl::TDataSet* messages = DMMirvel->TableMessages;
  if (messages->Filter() == filter && messages->Active()) {
    messages->Refresh();
    return;
  }
  messages->SetFilter(filter);
  if (messages->Active()) messages->Refresh();
}

void TFenEditMessages::btnAvailabilitiesClick(cl::TObject*) { ShowAvailabilities(); }

void TFenEditMessages::DBNavPrincipalBeforeAction(cl::TObject*, cl::TNavigateBtn button) {
  if (button == cl::nbRefresh) FormShow(this);
}

// ---- Grid.

void TFenEditMessages::MainDBGridDrawColumnCell(cl::TObject*, const cl::TRect& rect, int data_col,
                                                cl::TColumn* column, cl::TGridDrawState state) {
  cl::TField* lu = DMMirvel->TableMessagesLu;
  if (lu->IsNull() || lu->AsInteger() == 0) {
    MainDBGrid->Canvas().Font().SetStyle({cl::fsBold});
  } else {
    MainDBGrid->Canvas().Font().SetStyle({});
  }
  MainDBGrid->DefaultDrawColumnCell(rect, data_col, column, state);
}

void TFenEditMessages::PopupGridPopup(cl::TObject*) {
  cl::TField* lu = DMMirvel->TableMessagesLu;
  const bool known = DMMirvel->TableMessages->Active() && !lu->IsNull();
  mnuMarquerLu->SetEnabled(known && lu->AsInteger() == 0);
  mnuMarquerNonLu->SetEnabled(known && lu->AsInteger() == 1);
  mnuToutMarquerLu->SetEnabled(known);
  mnuSupprimer->SetEnabled(!MessagesEmpty());
}

void TFenEditMessages::MarkCurrent() {
  cl::TField* lu = DMMirvel->TableMessagesLu;
  auto flip = [lu] { lu->SetAsInteger(lu->AsInteger() ^ 1); };
  if (DMMirvel->TableMessages->State() != cl::dsBrowse) {
    flip();
  } else if (!DMMirvel->ChangeCurrentMessage(flip)) {
    cl::MessageDlg(kRecordGone, cl::mtWarning, {cl::mbOK}, 0);
  }
}

void TFenEditMessages::mnuMarquerLuClick(cl::TObject*) { MarkCurrent(); }

void TFenEditMessages::mnuMarquerNonLuClick(cl::TObject*) { MarkCurrent(); }

void TFenEditMessages::mnuToutMarquerLuClick(cl::TObject*) {
  cl::TDataSet* messages = DMMirvel->TableMessages;
  if (MessagesEditing()) messages->Post();
  THourGlass hourglass;
  messages->DisableControls();
  const cl::TBookmark mark = messages->GetBookmark();
  try {
    messages->First();
    DMMirvel->MarkAllRead();
  } catch (...) {
    messages->EnableControls();
    throw;
  }
  if (!mark.empty() && messages->BookmarkValid(mark)) messages->GotoBookmark(mark);
  messages->EnableControls();
}

void TFenEditMessages::mnuSupprimerClick(cl::TObject*) {
  if (cl::MessageDlg("Supprimer l'enregistrement ?", cl::mtConfirmation, {cl::mbOK, cl::mbCancel},
                     0) == cl::mrOk) {
    DMMirvel->TableMessages->Delete();
  }
}

// ---- Recipients and callers.

void TFenEditMessages::DBLookup1CloseUp(cl::TObject*) {
  // The list also closes when the window hides or the tables close: only a message being typed
  // takes a recipient.
  if (!DMMirvel->TableMessages->Active() || !MessagesEditing()) return;
  cl::TField* recipient = DMMirvel->TableMessagesNoDestinataire;
  if (!recipient->IsNull() && recipient->AsInteger() != 0) return;
  if (!ChooseRecipients(DMMirvel->FRecipients)) return;
  recipient->SetAsInteger(0);
}

void TFenEditMessages::btnChoixDestinataireClick(cl::TObject*) {
  // Leaving browse state empties the list of a message that had none yet.
  if (!MessagesEditing()) DMMirvel->TableMessages->Edit();
  if (ChooseRecipients(DMMirvel->FRecipients)) {
    DMMirvel->TableMessagesNoDestinataire->SetAsInteger(0);
  }
}

void TFenEditMessages::btnSelClientsClick(cl::TObject*) {
  std::unique_ptr<TFenSelInterlocuteurs> dialog;
  {
    THourGlass hourglass;
    dialog.reset(cl::Create<TFenSelInterlocuteurs>(nullptr));
    dialog->ReopenQuery();
    cl::TDataSet* inters = DMMirvel->TableRechercheInters;
    OpenOrRefresh(inters);
    const std::string caller = DMMirvel->TableMessagesInterlocuteur->AsString();
    if (!inters->IsEmpty() && !caller.empty() && inters->Locate("Nom", cl::Variant(caller), {})) {
      dialog->LocateInterlocuteur(inters->FieldByName("NoInterlocuteur")->AsInteger());
    }
  }
  try {
    if (dialog->ShowModal() == cl::mrOk && dialog->CurrentInterlocuteur() != 0) {
      if (!MessagesEditing()) DMMirvel->TableMessages->Edit();
      DMMirvel->TableMessagesInterlocuteur->SetAsString(dialog->CurrentNom());
      if (InterSelecter->CanFocus()) {
        InterSelecter->SetFocus();
        InterSelecter->SelectAll();
      }
    }
  } catch (...) {
    DMMirvel->QueryRechercheInter->Close();
    DMMirvel->TableInterlocuteurs->Close();
    DMMirvel->TableClients->Close();
    throw;
  }
  DMMirvel->QueryRechercheInter->Close();
  DMMirvel->TableInterlocuteurs->Close();
  DMMirvel->TableClients->Close();
  DMMirvel->FillCallersCombo();
}

void TFenEditMessages::InterSelecterExit(cl::TObject*) {
  if (DMMirvel->TableMessages->State() != cl::dsInsert) return;
  const int index = InterSelecter->Items().IndexOf(InterSelecter->Text());
  if (index < 0) return;
  const auto number = reinterpret_cast<intptr_t>(InterSelecter->Items().Objects(index));
  cl::TDataSet* inters = DMMirvel->TableRechercheInters;
  OpenOrRefresh(inters);
  if (!inters->Locate("NoInterlocuteur", cl::Variant(static_cast<int32_t>(number)), {})) return;
  std::vector<std::string> numbers;
  for (const char* field : {"Tel1", "Tel2"}) {
    const std::string tel = inters->FieldByName(field)->AsString();
    if (!tel.empty()) numbers.push_back(tel);
  }
  const int32_t company = inters->FieldByName("NoSociete")->AsInteger();
  if (company != 0) {
    cl::TDataSet* clients = DMMirvel->TableRechercheClients;
    OpenOrRefresh(clients);
    if (clients->Locate("NoSociete", cl::Variant(company), {})) {
      DMMirvel->TableMessagesSociete->SetAsString(clients->FieldByName("Societe")->AsString());
      const std::string standard = clients->FieldByName("TelStandard")->AsString();
      if (!standard.empty()) numbers.push_back(standard);
    }
  }
  if (DMMirvel->TableMessagesNoRappeler->AsString().empty() && !numbers.empty()) {
    DMMirvel->TableMessagesNoRappeler->SetAsString(numbers[0]);
  }
  if (DMMirvel->TableMessagesNoRappeler2->AsString().empty() && numbers.size() > 1) {
    DMMirvel->TableMessagesNoRappeler2->SetAsString(numbers[1]);
  }
}

// ---- Answering, quoting, zooming, printing.

void TFenEditMessages::btnAnswerSameClick(cl::TObject* sender) {
  if (MessagesEmpty()) return;
  TDMMirvel& dm = *DMMirvel;
  const int32_t author = dm.TableMessagesNoUtilisateur->AsInteger();
  if (author == DMBDMirvel->FCurrentUser) DMBDMirvel->ErrorAbort(kOwnMessage);
  if (MessagesEditing()) {
    // Cancel leaves the message as it is: answering would post or drop it behind the user's back.
    if (cl::MessageDlg("Sauvegarder vos modifications ?", cl::mtConfirmation,
                       {cl::mbOK, cl::mbCancel}, 0) != cl::mrOk) {
      cl::Abort();
    }
    dm.TableMessages->Post();
  }
  if (sender == btnAnswerNew) {
    // The buffer holds the previous copy: a failed copy must not answer with it.
    try {
      dm.TempMultiPost->Edit();
      dm.MessToTemp->CopyCurrentRecord();
      dm.TempMultiPost->Post();
    } catch (...) {
      if (dm.TempMultiPost->State() != cl::dsBrowse) dm.TempMultiPost->Cancel();
      throw;
    }
    dm.TableMessages->Insert();
    dm.TempToMess->CopyCurrentRecord();
  }
  btnQuoteClick(this);
  dm.TableMessagesDateAppel->SetAsDateTime(cl::Now());
  dm.TableMessagesNoDestinataire->SetAsInteger(author);
  dm.TableMessagesNoUtilisateur->SetAsInteger(DMBDMirvel->FCurrentUser);
  dm.TableMessagesLu->SetAsInteger(0);
  if (MemoMessages->CanFocus()) MemoMessages->SetFocus();
}

void TFenEditMessages::btnQuoteClick(cl::TObject*) {
  if (MessagesEmpty()) return;
  cl::TDataSet* messages = DMMirvel->TableMessages;
  if (!MessagesEditing()) messages->Edit();
  // The memo holds what the user sees, typed text included; it writes the quote to the field.
  cl::TStrings& lines = MemoMessages->Lines();
  for (int i = 0; i < lines.Count(); ++i) lines.SetStrings(i, ">" + lines.Strings(i));
  messages->UpdateRecord();
}

void TFenEditMessages::btnZoomClick(cl::TObject*) {
  if (FenVisuMessage == nullptr) return;
  cl::TDBMemo* source = MemoReponse->Focused() ? MemoReponse : MemoMessages;
  const cl::TPoint at = source->ClientToScreen(cl::TPoint{0, 0});
  FenVisuMessage->ZoomFrom(source, at.X, at.Y, source->Width(),
                           static_cast<int>(std::lround(2.0 * Height() / 3.0)));
  btnZoom->SetVisible(false);
  btnUnZoom->SetVisible(true);
}

void TFenEditMessages::btnUnZoomMouseDown(cl::TObject*, cl::TMouseButton button, cl::TShiftState,
                                          int, int) {
  if (button != cl::mbLeft) return;
  btnZoom->SetVisible(true);
  btnUnZoom->SetVisible(false);
}

void TFenEditMessages::btnPrintMessageClick(cl::TObject*) {
  if (MessagesEmpty()) return;
  std::unique_ptr<TRepMessage> report;
  {
    THourGlass hourglass;
    report.reset(cl::Create<TRepMessage>(nullptr));
  }
  report->Preview();
}

// ---- Layout.

void TFenEditMessages::PanelDonneesResize(cl::TObject*) {
  if (PanelDonnees->Height() < kMinPanelDonnees) PanelDonnees->SetHeight(kMinPanelDonnees);
  const cl::TRect client = PanelDonnees->ClientRect();
  PanelMessage->SetBounds(client.Left, kEditsHeight, client.Width(),
                          client.Height() - kEditsHeight);
}

void TFenEditMessages::Panel1Resize(cl::TObject*) {
  btnSelClients->SetLeft(Panel1->ClientRect().Width() - 7 - btnSelClients->Width());
  InterSelecter->SetWidth(btnSelClients->Left() - InterSelecter->Left());
}

void TFenEditMessages::PanelRecherchesResize(cl::TObject*) {
  BtnContacts->SetLeft(PanelRecherches->ClientRect().Width() - 5 - BtnContacts->Width());
  btnAvailabilities->SetLeft(BtnContacts->Left() - 4 - btnAvailabilities->Width());
  UserSelecter->SetWidth(btnAvailabilities->Left() - 4 - UserSelecter->Left());
}

}  // namespace mirvel
