// The main data module's lists and checks: recipient lists, the user lookups, the caller and
// company combos, and the new-message check of the own user.
#include <algorithm>
#include <charconv>
#include <vector>

#include "app/AppWindows.h"
#include "app/MBDMirvel.h"
#include "app/MMirvel.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/TextUtils.h"
#include "components/data/Helpers.h"
#include "engine/storage/table/TDataFile.h"

namespace mirvel {

namespace {

// A whole decimal number and nothing else.
bool ParseNumber(const std::string& text, int32_t& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// The cursor's records by `order`, skipping number 0 when `skip_zero`.
std::vector<TComboItem> ComboItems(tessera::TTesseraTable* table, const char* order,
                                   const char* back, const char* text, const char* number,
                                   bool skip_zero) {
  std::vector<TComboItem> items;
  table->SetIndexFieldNames(order);
  try {
    table->Refresh();
    for (table->First(); !table->Eof(); table->Next()) {
      const int32_t no = table->FieldByName(number)->AsInteger();
      if (skip_zero && no == 0) continue;
      items.push_back({table->FieldByName(text)->AsString(), no});
    }
  } catch (...) {
    table->SetIndexFieldNames(back);
    throw;
  }
  table->SetIndexFieldNames(back);
  return items;
}

// The screen's wait cursor for one scope.
class THourGlass {
 public:
  THourGlass() { cl::Screen().SetCursor(cl::crHourGlass); }
  ~THourGlass() { cl::Screen().SetCursor(cl::crDefault); }
};

}  // namespace

void TDMMirvel::CleanRecipients() {
  std::string kept;
  if (!FRecipients.empty()) {
    const int tokens = comp::CountChar(FRecipients, ';') + 1;
    for (int i = 1; i <= tokens; ++i) {
      int32_t no = 0;
      if (!ParseNumber(cl::Trim(comp::GetToken(i, ';', FRecipients)), no) || no <= 0) continue;
      if (TableUtilisateurs->Lookup("NoUtilisateur", cl::Variant(no), "NoUtilisateur").IsNull()) {
        continue;
      }
      kept += (kept.empty() ? "" : ";") + std::to_string(no);
    }
  }
  FRecipients = kept;
}

int TDMMirvel::RecipientCount() {
  CleanRecipients();
  return FRecipients.empty() ? 0 : comp::CountChar(FRecipients, ';') + 1;
}

int32_t TDMMirvel::RecipientAt(int index) {
  int32_t no = 0;
  return ParseNumber(cl::Trim(comp::GetToken(index, ';', FRecipients)), no) ? no : 0;
}

void TDMMirvel::RefreshUsers() {
  if (!TableUtilisateurs->Active()) return;
  const cl::TBookmark mark = TableUtilisateurs->GetBookmark();
  TableUtilisateurs->Refresh();
  if (!mark.empty() && TableUtilisateurs->BookmarkValid(mark))
    TableUtilisateurs->GotoBookmark(mark);
  TableMessagesUserSelecter->RefreshLookupList();
  TableMessagesDestinataireSelecter->RefreshLookupList();
  if (TAppWindows* windows = AppWindows()) {
    windows->SetUserComboRows(std::min(TableUtilisateurs->RecordCount(), 15));
  }
}

void TDMMirvel::FillCallersCombo() {
  if (TableRechercheInters->Active()) {
    THourGlass wait;
    std::vector<TComboItem> items =
        ComboItems(TableRechercheInters, "Nom", "NoInterlocuteur", "Nom", "NoInterlocuteur", false);
    if (TAppWindows* windows = AppWindows()) windows->SetCallerComboItems(items);
  }
  FillCompaniesCombo();
}

namespace {

// The data file's change counter, read again from the disk.
uint32_t ChangeCounter(tessera::TTesseraTable* table) {
  tessera::TDataFile* file = table->Handle();
  if (file == nullptr) return 0;
  file->RefreshFromDisk();
  return file->Header().ChangeCounter();
}

}  // namespace

void TDMMirvel::RefreshContactLists() {
  if (!TableRechercheInters->Active() || !TableRechercheClients->Active()) return;
  const uint32_t callers = ChangeCounter(TableRechercheInters);
  const uint32_t clients = ChangeCounter(TableRechercheClients);
  if (callers == callers_counter_ && clients == clients_counter_) return;
  callers_counter_ = callers;
  clients_counter_ = clients;
  TableRechercheInters->Refresh();
  TableRechercheClients->Refresh();
  FillCallersCombo();
}

bool TDMMirvel::CallerKnown(const std::string& name) {
  if (TableRechercheInters->Active()) {
    TableRechercheInters->Refresh();
  } else {
    TableRechercheInters->Open();
  }
  return TableRechercheInters->Locate("Nom", cl::Variant(name), {cl::loCaseInsensitive});
}

void TDMMirvel::FillCompaniesCombo() {
  if (!TableRechercheClients->Active()) return;
  THourGlass wait;
  // The "<Tous clients>" row is left out by its number: a company whose name sorts before it
  // stays in the list.
  std::vector<TComboItem> items =
      ComboItems(TableRechercheClients, "Societe", "NoSociete", "Societe", "NoSociete", true);
  if (TAppWindows* windows = AppWindows()) windows->SetCompanyComboItems(items);
}

void TDMMirvel::CheckNewMessages() {
  TDMBDMirvel& db = *DMBDMirvel;
  db.FInTimer = true;
  try {
    if (TableUtilisateurs->State() != cl::dsEdit && TableUtilisateurs->State() != cl::dsInsert) {
      const cl::TBookmark mark = TableUtilisateurs->GetBookmark();
      TableUtilisateurs->Refresh();
      // The own user may have been deleted in the users editor: then the current record is
      // someone else's, whose flag must stay.
      if (TableUtilisateurs->Locate("NoUtilisateur", cl::Variant(db.FCurrentUser), {})) {
        const bool is_new = db.FUnreadAtConnect ||
                            TableUtilisateursDateNewMessage->AsDateTime() != db.FLastNewMsgDate ||
                            TableUtilisateursNewMessages->AsInteger() == 1;
        if (is_new) {
          db.SetFieldRetry(TableUtilisateurs, TableUtilisateursNewMessages, 0, cl::Variant(0));
          db.FLastNewMsgDate = TableUtilisateursDateNewMessage->AsDateTime();
          const bool unread = db.FUnreadAtConnect && TableUtilisateursNewMessages->AsInteger() == 0;
          db.FUnreadAtConnect = false;
          TAppWindows* windows = AppWindows();
          if (windows != nullptr && windows->IsMinimized()) {
            windows->StartTrayAnimation();
            if (!windows->NewMessageDialogOpen() && windows->ShowNewMessageDialog(unread)) {
              windows->PostToMainWindow(WM_SHOW_MAIN);
            }
          }
        }
      }
      if (!mark.empty() && TableUtilisateurs->BookmarkValid(mark)) {
        TableUtilisateurs->GotoBookmark(mark);
      }
    }
  } catch (...) {
    db.FInTimer = false;
    throw;
  }
  db.FInTimer = false;
}

}  // namespace mirvel
