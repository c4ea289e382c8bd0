#include "app/FenChoixDestinataires.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>

#include "app/EditorForm.h"
#include "app/MMirvel.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Loader.h"
#include "classlib/rtl/TextUtils.h"
#include "components/data/Helpers.h"
#include "engine/components/TTesseraTable.h"

namespace mirvel {

namespace {

cl::TButton* TopButton(cl::TLoader& loader, TFenChoixDestinataires* form, const char* name,
                       const char* caption, int left) {
  auto* button = loader.Create<cl::TButton>(form, name);
  button->SetParent(form->PanelBoutons);
  button->SetCaption(caption);
  button->SetBounds(left, 6, 100, 25);
  return button;
}

// The integer a token names, or 0 for anything else.
int32_t TokenNumber(const std::string& token) {
  const std::string trimmed = cl::Trim(token);
  if (trimmed.empty()) return 0;
  try {
    size_t used = 0;
    const long long value = std::stoll(trimmed, &used);
    if (used != trimmed.size() || value <= 0 || value > INT32_MAX) return 0;
    return static_cast<int32_t>(value);
  } catch (const std::exception&) {
    return 0;
  }
}

// The user's Statut without moving the shared users table: nullopt when the user is not listed.
std::optional<cl::Variant> UserStatut(int32_t number) {
  tessera::TTesseraTable* users = DMMirvel->TableUtilisateurs;
  if (!users->Active() || users->Lookup("NoUtilisateur", number, "NoUtilisateur").IsNull()) {
    return std::nullopt;
  }
  return users->Lookup("NoUtilisateur", number, "Statut");
}

}  // namespace

TFenChoixDestinataires::TFenChoixDestinataires(cl::TComponent* owner) : cl::TForm(owner) {
  cl::TLoader loader(this);
  SetName("FenChoixDestinataires");
  SetCaption("Choix des destinataires");
  SetBounds(0, 0, 440, 380);
  SetPosition(cl::poScreenCenter);
  SetHelpContext(100);

  PanelBoutons = loader.Create<cl::TPanel>(this, "PanelBoutons");
  PanelBoutons->SetParent(this);
  PanelBoutons->SetAlign(cl::alTop);
  PanelBoutons->SetHeight(37);
  btnTous = TopButton(loader, this, "btnTous", "&Tous", 6);
  btnAucun = TopButton(loader, this, "btnAucun", "A&ucun", 112);
  btnConnectes = TopButton(loader, this, "btnConnectes", "&Les connect\xE9s", 218);
  btnDeconnectes = TopButton(loader, this, "btnDeconnectes",
                             "&Les d\xE9"
                             "connect\xE9s",
                             324);

  ExitPanel1 = OkCancelPanel(loader, this, {45, "&OK", "&Annuler", 80, 33, 8});

  ListeDestinataires = loader.Create<cl::TCheckListBox>(this, "ListeDestinataires");
  ListeDestinataires->SetParent(this);
  ListeDestinataires->SetAlign(cl::alClient);
  ListeDestinataires->SetItemHeight(17);

  btnTous->SetOnClick([this](cl::TObject* s) { btnTousClick(s); });
  btnAucun->SetOnClick([this](cl::TObject* s) { btnAucunClick(s); });
  btnConnectes->SetOnClick([this](cl::TObject* s) { btnConnectesClick(s); });
  btnDeconnectes->SetOnClick([this](cl::TObject* s) { btnDeconnectesClick(s); });
  ListeDestinataires->SetOnDrawItem(
      [this](cl::TWinControl* c, int i, cl::TRect r, cl::TOwnerDrawState st) {
        ListeDestinatairesDrawItem(c, i, r, st);
      });
  SetActiveControl(ListeDestinataires);
  loader.Finish();
}

void TFenChoixDestinataires::FillList() {
  tessera::TTesseraTable* users = DMMirvel->TableUtilisateurs;
  ListeDestinataires->Items().Clear();
  users->DisableControls();
  try {
    TFilterGuard filter(users, kUsersFilter);
    if (users->Active()) {
      users->Refresh();
    } else {
      users->Open();
    }
    users->First();
    while (!users->Eof()) {
      ListeDestinataires->Items().AddObject(
          DMMirvel->TableUtilisateursNomComplet->AsString(),
          cl::IntToObj(DMMirvel->TableUtilisateursNoUtilisateur->AsInteger()));
      users->Next();
    }
  } catch (...) {
    users->EnableControls();
    throw;
  }
  users->EnableControls();
}

void TFenChoixDestinataires::CheckList(const std::string& list) {
  cl::TStrings& items = ListeDestinataires->Items();
  for (int i = 0; i < items.Count(); ++i) ListeDestinataires->SetChecked(i, false);
  const int tokens =
      list.empty() ? 0 : static_cast<int>(std::count(list.begin(), list.end(), ';')) + 1;
  for (int t = 1; t <= tokens; ++t) {
    const int32_t number = TokenNumber(comp::GetToken(t, ';', list));
    if (number <= 0) continue;
    const int index = items.IndexOfObject(cl::IntToObj(number));
    if (index >= 0) ListeDestinataires->SetChecked(index, true);
  }
}

std::string TFenChoixDestinataires::CheckedList() const {
  auto* list = ListeDestinataires;
  std::string result;
  for (int i = 0; i < list->Items().Count(); ++i) {
    if (!list->Checked(i)) continue;
    if (!result.empty()) result += ';';
    result += std::to_string(cl::ObjToInt(list->Items().Objects(i)));
  }
  return result;
}

void TFenChoixDestinataires::btnTousClick(cl::TObject*) {
  for (int i = 0; i < ListeDestinataires->Items().Count(); ++i) {
    ListeDestinataires->SetChecked(i, true);
  }
}

void TFenChoixDestinataires::btnAucunClick(cl::TObject*) {
  for (int i = 0; i < ListeDestinataires->Items().Count(); ++i) {
    ListeDestinataires->SetChecked(i, false);
  }
}

void TFenChoixDestinataires::btnConnectesClick(cl::TObject*) { CheckStatut(1); }

void TFenChoixDestinataires::btnDeconnectesClick(cl::TObject*) { CheckStatut(0); }

void TFenChoixDestinataires::CheckStatut(int32_t statut) {
  for (int i = 0; i < ListeDestinataires->Items().Count(); ++i) {
    const auto number = static_cast<int32_t>(cl::ObjToInt(ListeDestinataires->Items().Objects(i)));
    const std::optional<cl::Variant> value = UserStatut(number);
    ListeDestinataires->SetChecked(
        i, value.has_value() && !value->IsNull() && value->AsInteger() == statut);
  }
}

void TFenChoixDestinataires::ListeDestinatairesDrawItem(cl::TWinControl*, int index, cl::TRect rect,
                                                        cl::TOwnerDrawState) {
  cl::TCanvas& canvas = ListeDestinataires->Canvas();
  canvas.FillRect(rect);
  const std::string text = ListeDestinataires->Items().Strings(index);
  const auto number =
      static_cast<int32_t>(cl::ObjToInt(ListeDestinataires->Items().Objects(index)));
  const std::optional<cl::Variant> value = UserStatut(number);
  if (!value.has_value()) {
    canvas.TextOut(rect.Left + 2, rect.Top + 1, text);
    return;
  }
  const bool connected = !value->IsNull() && value->AsInteger() == 1;
  const std::string status = connected ? "Connect\xE9"
                                       : "D\xE9"
                                         "connect\xE9";
  canvas.Font().SetStyle({});
  canvas.Font().SetColor(connected ? kConnectedColor : kDisconnectedColor);
  const int top = rect.Top + (rect.Height() - canvas.TextHeight(text)) / 2;
  canvas.TextOut(rect.Left + 2, top, text);
  canvas.TextOut(rect.Right - canvas.TextWidth(status) - 4, top, status);
}

bool ChooseRecipients(std::string& list) {
  std::unique_ptr<TFenChoixDestinataires> dialog(cl::Create<TFenChoixDestinataires>(nullptr));
  dialog->FillList();
  dialog->CheckList(list);
  if (dialog->ShowModal() != cl::mrOk) return false;
  list = dialog->CheckedList();
  return true;
}

}  // namespace mirvel
