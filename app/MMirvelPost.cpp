// The main data module's message post rules: the subject prompt, the recipient check, the offer
// to add an unknown caller, notification, and the posting of one message to several recipients.
#include <exception>

#include "app/AppWindows.h"
#include "app/MBDMirvel.h"
#include "app/MMirvel.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/TextUtils.h"

namespace mirvel {

void TDMMirvel::AskSubject() {
  const std::string subject = TableMessagesSujet->AsString();
  if (!subject.empty() && subject != kNoSubject) return;
  TAppWindows* windows = AppWindows();
  std::string typed = kNoSubject;
  if (windows != nullptr && windows->AskSubject(typed)) {
    TableMessagesSujet->SetAsString(typed);
    return;
  }
  if (windows != nullptr) windows->FocusSubjectEdit();
  cl::Abort();
}

void TDMMirvel::TableMessagesBeforePost(cl::TDataSet*) {
  const bool inserting = TableMessages->State() == cl::dsInsert;
  if (inserting) AskSubject();
  TAppWindows* windows = AppWindows();
  // The field would keep the name's first characters without a word.
  if (windows != nullptr && static_cast<int>(cl::Trim(windows->CallerComboText()).size()) >
                                TableMessagesInterlocuteur->Size()) {
    cl::MessageDlg(kCallerTooLong, cl::mtError, {cl::mbOK}, 0);
    cl::Abort();
  }
  if (TableMessagesNoDestinataire->IsNull() ||
      (TableMessagesNoDestinataire->AsInteger() == 0 && RecipientCount() == 0)) {
    cl::MessageDlg(kNoRecipient, cl::mtError, {cl::mbOK}, 0);
    if (windows != nullptr) windows->FocusRecipientCombo();
    cl::Abort();
  }
  FPostRetries = 0;
  if (inserting && windows != nullptr) {
    // The table answers, not the combo: its list may be older than a colleague's new caller.
    const std::string caller = cl::Trim(windows->CallerComboText());
    if (!caller.empty() && !CallerKnown(caller)) AddCallerDialog();
  }
  PendingRecipient = TableMessagesNoDestinataire->AsInteger();
  if (PendingRecipient == 0) PostToRecipients();
}

void TDMMirvel::TableMessagesAfterPost(cl::TDataSet*) {
  DMBDMirvel->TimerMAJTimer(this);
  NotifyRecipient(PendingRecipient);
  DMBDMirvel->SignalChange();
}

void TDMMirvel::TableMessagesAfterDelete(cl::TDataSet*) {
  DMBDMirvel->TimerMAJTimer(this);
  DMBDMirvel->SignalChange();
}

void TDMMirvel::NotifyRecipient(int32_t user_no) {
  if (user_no == DMBDMirvel->FCurrentUser) return;
  if (!TableUtilisateurs->Locate("NoUtilisateur", cl::Variant(user_no), {})) return;
  DMBDMirvel->SetFieldRetry(TableUtilisateurs, TableUtilisateursDateNewMessage, 0,
                            cl::Variant::FromDate(cl::Now()));
  DMBDMirvel->SetFieldRetry(TableUtilisateurs, TableUtilisateursNewMessages, 0, cl::Variant(1));
}

void TDMMirvel::AddCallerDialog() {
  const std::string company = cl::Trim(TableMessagesSociete->AsString());
  const std::string caller = TableMessagesInterlocuteur->AsString();
  const std::string question =
      company.empty()
          ? "L'interlocuteur \"" + caller +
                "\" n'existe pas. Voulez-vous l'ajo\xFBter \xE0 la liste des interlocuteurs sans "
                "soci\xE9t\xE9 ?"
          : "L'interlocuteur \"" + caller +
                "\" n'existe pas. Voulez-vous l'ajo\xFBter \xE0 la liste des interlocuteurs de la "
                "soci\xE9t\xE9 \"" +
                company + "\" ?";
  if (cl::MessageDlg(question, cl::mtConfirmation, {cl::mbYes, cl::mbNo}, 0) != cl::mrYes) return;

  int32_t company_no = 0;
  if (!company.empty()) {
    const bool was_open = TableClients->Active();
    TableClients->Open();
    try {
      // One append at most: a name the case-insensitive search cannot find again must not add
      // clients without end.
      if (!TableClients->Locate("Societe", cl::Variant(company), {cl::loCaseInsensitive})) {
        TableClients->Append();
        TableClientsSociete->SetAsString(company);
        TableClients->Post();
      }
      company_no = TableClientsNoSociete->AsInteger();
    } catch (...) {
      if (TableClients->State() == cl::dsInsert) TableClients->Cancel();
      if (!was_open) TableClients->Close();
      throw;
    }
    if (!was_open) TableClients->Close();
  }

  const cl::TDataSetNotifyEvent before_insert = TableInterlocuteurs->BeforeInsert();
  TableInterlocuteurs->SetBeforeInsert({});
  const bool was_open = TableInterlocuteurs->Active();
  try {
    TableInterlocuteurs->Open();
    TableInterlocuteurs->Append();
    TableInterlocuteursNoSociete->SetAsInteger(company_no);
    TableInterlocuteurs->FieldByName("Nom")->SetAsString(caller);
    TableInterlocuteurs->FieldByName("Tel1")->SetAsString(TableMessagesNoRappeler->AsString());
    TableInterlocuteurs->FieldByName("Tel2")->SetAsString(TableMessagesNoRappeler2->AsString());
    TableInterlocuteurs->Post();
  } catch (...) {
    if (TableInterlocuteurs->State() == cl::dsInsert) TableInterlocuteurs->Cancel();
    TableInterlocuteurs->SetBeforeInsert(before_insert);
    if (!was_open) TableInterlocuteurs->Close();
    throw;
  }
  TableInterlocuteurs->SetBeforeInsert(before_insert);
  if (!was_open) TableInterlocuteurs->Close();
}

// Runs inside TableMessages' BeforePost and always ends it with an exception: the silent abort
// when every copy stands in place of the message, else the failure, with the message back in
// insert state for the recipients not yet served.
void TDMMirvel::PostToRecipients() {
  // A failed copy into the buffer would send the buffer's previous message: stop here instead.
  try {
    TempMultiPost->Edit();
    MessToTemp->CopyCurrentRecord();
    TempMultiPost->Post();
  } catch (...) {
    if (TempMultiPost->State() != cl::dsBrowse) TempMultiPost->Cancel();
    throw;
  }
  const bool readdressed = TableMessages->State() != cl::dsInsert;
  RecipientCount();  // cleans the list
  const std::string recipients = FRecipients;

  TableMessages->DisableControls();
  const cl::TDataSetNotifyEvent before_post = TableMessages->BeforePost();
  const cl::TDataSetNotifyEvent after_post = TableMessages->AfterPost();
  TableMessages->SetBeforePost({});
  TableMessages->SetAfterPost({});
  cl::Screen().SetCursor(cl::crHourGlass);
  std::string unserved;
  std::exception_ptr failure;
  try {
    PostCopies(readdressed);
  } catch (...) {
    failure = std::current_exception();
    unserved = FRecipients;
  }
  FRecipients.clear();
  cl::Screen().SetCursor(cl::crDefault);
  TableMessages->SetBeforePost(before_post);
  TableMessages->SetAfterPost(after_post);
  TableMessages->EnableControls();
  if (!failure) cl::Abort();
  RestoreUnserved(unserved);
  std::rethrow_exception(failure);
}

// On failure FRecipients holds the recipients not yet served.
void TDMMirvel::PostCopies(bool readdressed) {
  // The stored message being readdressed is deleted only once every copy stands.
  const cl::TBookmark original = readdressed ? TableMessages->GetBookmark() : cl::TBookmark{};
  TableMessages->Cancel();
  DMBDMirvel->TimerMAJTimer(this);
  const std::string recipients = FRecipients;
  const int count = RecipientCount();
  cl::TDateTime next_date = TempMultiPost->FieldByName("DateAppel")->AsDateTime();
  for (int i = 1; i <= count; ++i) {
    FRecipients = recipients;
    const int32_t recipient = RecipientAt(i);
    if (recipient <= 0) continue;
    PendingRecipient = recipient;
    TableMessages->Append();
    TempToMess->CopyCurrentRecord();
    TableMessagesNoDestinataire->SetAsInteger(recipient);
    // Each copy gets its own key and its own retries: with one budget and one starting date,
    // a list of seven would run out of retries.
    TableMessagesDateAppel->SetAsDateTime(next_date);
    FPostRetries = 0;
    try {
      TableMessages->Post();
    } catch (...) {
      if (TableMessages->State() == cl::dsInsert) TableMessages->Cancel();
      std::string rest;
      for (int j = i; j <= count; ++j) {
        rest += (rest.empty() ? "" : ";") + std::to_string(RecipientAt(j));
      }
      FRecipients = rest;
      throw;
    }
    next_date = TableMessagesDateAppel->AsDateTime() + kPostRetryStep;
    NotifyRecipient(recipient);
    TableUtilisateurs->Locate("NoUtilisateur", cl::Variant(recipient), {});
  }
  FRecipients.clear();
  if (readdressed && TableMessages->BookmarkValid(original)) {
    TableMessages->GotoBookmark(original);
    // Every copy stands: a failure here must not bring the message back to be posted again.
    try {
      TableMessages->Delete();
    } catch (cl::Exception& e) {
      DMBDMirvel->LogError(e);
      cl::MessageDlg(e.Message(), cl::mtError, {cl::mbOK}, 0);
    }
  }
  DMBDMirvel->SignalChange();
}

// The message typed comes back as a new insert addressed to the list of those not yet served.
void TDMMirvel::RestoreUnserved(const std::string& unserved) {
  if (TableMessages->State() != cl::dsBrowse) TableMessages->Cancel();
  TableMessages->Append();
  TempToMess->CopyCurrentRecord();
  TableMessagesNoDestinataire->SetAsInteger(0);
  FRecipients = unserved;
}

}  // namespace mirvel
