#include "app/FenEditClients.h"

#include <memory>

#include "app/MMirvel.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Loader.h"
#include "classlib/rtl/TextUtils.h"
#include "engine/components/TTesseraTable.h"

namespace mirvel {

TFenEditClients* FenEditClients = nullptr;

namespace {

// A label over a data edit at (left, top) of `parent`.
comp::THDBEdit* LabelledEdit(cl::TLoader& loader, cl::TForm* form, cl::TWinControl* parent,
                             const char* name, const char* caption, cl::TDataSource* source,
                             const char* field, int left, int top, int width) {
  auto* label = loader.Create<cl::TLabel>(form, std::string("Label") + field);
  label->SetParent(parent);
  label->SetCaption(caption);
  label->SetBounds(left, top, width, 13);
  auto* edit = loader.Create<comp::THDBEdit>(form, name);
  edit->SetParent(parent);
  edit->SetBounds(left, top + 15, width, 21);
  edit->SetDataSource(source);
  edit->SetDataField(field);
  label->SetFocusControl(edit);
  return edit;
}

comp::THDBEdit* PlainEdit(cl::TLoader& loader, cl::TForm* form, cl::TWinControl* parent,
                          const char* name, cl::TDataSource* source, const char* field, int left,
                          int top, int width) {
  auto* edit = loader.Create<comp::THDBEdit>(form, name);
  edit->SetParent(parent);
  edit->SetBounds(left, top, width, 21);
  edit->SetDataSource(source);
  edit->SetDataField(field);
  return edit;
}

comp::THDBGrid* CallerGrid(cl::TLoader& loader, cl::TForm* form, cl::TWinControl* parent,
                           const char* name, cl::TDataSource* source) {
  comp::THDBGrid* grid = BrowseGrid(loader, form, parent, name, {"Nom", "Tel1"});
  grid->SetDataSource(source);
  return grid;
}

}  // namespace

TFenEditClients::TFenEditClients(cl::TComponent* owner) : TEditorForm(owner) {
  cl::TLoader loader(this);
  SetName("FenEditClients");
  SetCaption("Fichier des Contacts");
  SetBounds(0, 0, 640, 560);
  SetPosition(cl::poScreenCenter);
  SetHelpContext(100);

  tessera::TTesseraTable* clients = DMMirvel->TableClients;
  tessera::TTesseraTable* inters = DMMirvel->TableInterlocuteurs;
  DSPrincipal = loader.Create<cl::TDataSource>(this, "DSPrincipal");
  DSPrincipal->SetDataSet(clients);
  DSInterlocuteurs = loader.Create<cl::TDataSource>(this, "DSInterlocuteurs");
  DSInterlocuteurs->SetDataSet(inters);

  DBNavBarre1 = EditorButtonBar(loader, this, PanelBoutons, btnFermer);
  // Insert, edit and delete act on the clients; post and cancel on both tables.
  DBNavBarre1->SetDataSource(DSPrincipal);
  DBNavBarre1->SetNavMode(comp::nmMultiDatasource);
  DBNavBarre1->SetDeleteMessage("Effacer l'enregistrement ?");

  PanelClients = loader.Create<cl::TPanel>(this, "PanelClients");
  PanelClients->SetParent(this);
  PanelClients->SetAlign(cl::alTop);
  PanelClients->SetHeight(200);
  PanelClients->SetBevelOuter(cl::bvNone);
  FindPanelClients =
      SearchPanel(loader, this, PanelClients, "FindPanelClients", clients, "Societe");
  const TNavigationStrip clients_strip =
      NavigationStrip(loader, this, PanelClients, "PanelNavClients", "DBNavigatorClients",
                      "DBRecordCountClients", cl::Bounds(4, 2, 125, 25),
                      {cl::nbFirst, cl::nbPrior, cl::nbNext, cl::nbLast, cl::nbRefresh}, 160);
  PanelNavClients = clients_strip.panel;
  DBNavigatorClients = clients_strip.navigator;
  DBNavigatorClients->SetDataSource(DSPrincipal);
  DBRecordCountClients = clients_strip.count;
  DBRecordCountClients->SetDataSource(DSPrincipal);
  DBGridClients = BrowseGrid(loader, this, PanelClients, "DBGridClients",
                             {"Societe", "CodePostal", "Ville", "Pays", "TelStandard", "TelFax"});
  DBGridClients->Columns().Items(0)->Title().Caption = "Nom/Soci\xE9t\xE9";
  DBGridClients->SetDataSource(DSPrincipal);

  PageControl1 = loader.Create<cl::TPageControl>(this, "PageControl1");
  PageControl1->SetParent(this);
  PageControl1->SetAlign(cl::alClient);

  TabClient = loader.Create<cl::TTabSheet>(this, "TabClient");
  TabClient->SetPageControl(PageControl1);
  TabClient->SetCaption("Client");
  DBEditSociete = LabelledEdit(loader, this, TabClient, "DBEditSociete", "Nom/Soci\xE9t\xE9",
                               DSPrincipal, "Societe", 8, 6, 300);
  DBEditAdresse1 = LabelledEdit(loader, this, TabClient, "DBEditAdresse1", "Adresse", DSPrincipal,
                                "Adresse1", 8, 46, 300);
  DBEditAdresse2 =
      PlainEdit(loader, this, TabClient, "DBEditAdresse2", DSPrincipal, "Adresse2", 8, 84, 300);
  DBEditCodePostal = LabelledEdit(loader, this, TabClient, "DBEditCodePostal", "Code postal, Ville",
                                  DSPrincipal, "CodePostal", 8, 108, 60);
  DBEditVille =
      PlainEdit(loader, this, TabClient, "DBEditVille", DSPrincipal, "Ville", 72, 123, 236);
  DBEditPays =
      LabelledEdit(loader, this, TabClient, "DBEditPays", "Pays", DSPrincipal, "Pays", 8, 148, 300);
  DBEditTelStandard = LabelledEdit(loader, this, TabClient, "DBEditTelStandard", "T\xE9l. standard",
                                   DSPrincipal, "TelStandard", 8, 188, 146);
  DBEditTelFax = LabelledEdit(loader, this, TabClient, "DBEditTelFax",
                              "T\xE9l\xE9"
                              "copie",
                              DSPrincipal, "TelFax", 162, 188, 146);
  auto* callers_box = loader.Create<cl::TPanel>(this, "PanelInterClient");
  callers_box->SetParent(TabClient);
  callers_box->SetBounds(320, 4, 300, 230);
  callers_box->SetBevelOuter(cl::bvNone);
  FindPanelInterClient =
      SearchPanel(loader, this, callers_box, "FindPanelInterClient", inters, "Nom");
  DBGridInterClient = CallerGrid(loader, this, callers_box, "DBGridInterClient", DSInterlocuteurs);

  TabInterlocuteurs = loader.Create<cl::TTabSheet>(this, "TabInterlocuteurs");
  TabInterlocuteurs->SetPageControl(PageControl1);
  TabInterlocuteurs->SetCaption("Interlocuteurs");
  auto* list_box = loader.Create<cl::TPanel>(this, "PanelListeInter");
  list_box->SetParent(TabInterlocuteurs);
  list_box->SetBounds(4, 4, 300, 230);
  list_box->SetBevelOuter(cl::bvNone);
  FindPanelInter = SearchPanel(loader, this, list_box, "FindPanelInter", inters, "Nom");
  const TNavigationStrip inter_strip =
      NavigationStrip(loader, this, list_box, "PanelNavInter", "DBNavigatorInter",
                      "DBRecordCountInter", cl::Bounds(2, 2, 178, 25),
                      {cl::nbFirst, cl::nbPrior, cl::nbNext, cl::nbLast, cl::nbInsert, cl::nbDelete,
                       cl::nbPost, cl::nbCancel, cl::nbRefresh},
                      118);
  DBNavigatorInter = inter_strip.navigator;
  DBNavigatorInter->SetDataSource(DSInterlocuteurs);
  DBRecordCountInter = inter_strip.count;
  DBRecordCountInter->SetDataSource(DSInterlocuteurs);
  DBGridInter = CallerGrid(loader, this, list_box, "DBGridInter", DSInterlocuteurs);
  DBEditNom = LabelledEdit(loader, this, TabInterlocuteurs, "DBEditNom", "Nom complet",
                           DSInterlocuteurs, "Nom", 312, 6, 300);
  DBEditTel1 = LabelledEdit(loader, this, TabInterlocuteurs, "DBEditTel1", "T\xE9l\xE9phone 1",
                            DSInterlocuteurs, "Tel1", 312, 46, 146);
  DBEditTel2 = LabelledEdit(loader, this, TabInterlocuteurs, "DBEditTel2", "T\xE9l\xE9phone 2",
                            DSInterlocuteurs, "Tel2", 466, 46, 146);
  DBEditFonction = LabelledEdit(loader, this, TabInterlocuteurs, "DBEditFonction", "Fonction",
                                DSInterlocuteurs, "Fonction", 312, 86, 300);
  auto* comments = loader.Create<cl::TLabel>(this, "LabelCommentaires");
  comments->SetParent(TabInterlocuteurs);
  comments->SetCaption("Commentaires");
  comments->SetBounds(312, 126, 300, 13);
  DBMemoCommentaires = loader.Create<cl::TDBMemo>(this, "DBMemoCommentaires");
  DBMemoCommentaires->SetParent(TabInterlocuteurs);
  DBMemoCommentaires->SetBounds(312, 141, 300, 90);
  DBMemoCommentaires->SetDataSource(DSInterlocuteurs);
  DBMemoCommentaires->SetDataField("Commentaires");
  comments->SetFocusControl(DBMemoCommentaires);

  SetOnShow([this](cl::TObject* s) { FormShow(s); });
  SetOnCloseQuery([this](cl::TObject* s, bool& c) { FormCloseQuery(s, c); });
  SetOnClose([this](cl::TObject* s, cl::TCloseAction& a) { FormClose(s, a); });
  DSPrincipal->SetOnDataChange(
      [this](cl::TObject* s, cl::TField* f) { DSPrincipalDataChange(s, f); });
  DBGridInterClient->SetOnDblClick([this](cl::TObject* s) { DBGridInterClientDblClick(s); });
  btnFermer->SetOnClick([this](cl::TObject* s) { btnFermerClick(s); });
  loader.Finish();

  // Editing "<Tous clients>" is refused while the editor is open; the module has no edit rule of
  // its own on the clients table, so the handler goes back empty.
  clients->SetBeforeEdit([this](cl::TDataSet* d) { TableClientsBeforeEdit(d); });
  FenEditClients = this;
}

TFenEditClients::~TFenEditClients() {
  if (DMMirvel != nullptr) {
    DMMirvel->TableClients->SetBeforeEdit(nullptr);
    DMMirvel->TableInterlocuteurs->SetAfterInsert(nullptr);
    // Closed on "<Tous clients>": the callers go back to following the current client, as the
    // rest of the program (the new caller's company, the caller offer) expects them to.
    tessera::TTesseraTable* inters = DMMirvel->TableInterlocuteurs;
    if (inters->MasterSource() == nullptr) {
      try {
        if (inters->State() != cl::dsBrowse && inters->Active()) inters->Cancel();
        inters->SetIndexFieldNames("NoSociete;Nom");
        inters->SetMasterSource(DMMirvel->DSClients);
      } catch (cl::Exception& e) {
        cl::Application().ShowException(e);
      }
    }
  }
  if (FenEditClients == this) FenEditClients = nullptr;
}

std::string TFenEditClients::ClientCaption() const {
  auto text = [](const char* name) {
    return DMMirvel->TableClients->FieldByName(name)->AsString();
  };
  return cl::Trim(cl::Trim(text("Societe") + " " + text("Ville")) + " " + text("TelStandard"));
}

void TFenEditClients::FormShow(cl::TObject*) {
  DSPrincipalDataChange(DSPrincipal, nullptr);
  DMMirvel->TableInterlocuteurs->SetAfterInsert(
      [this](cl::TDataSet* d) { TableInterlocuteursAfterInsert(d); });
  PageControl1->SetActivePage(TabClient);
}

void TFenEditClients::DSPrincipalDataChange(cl::TObject*, cl::TField* field) {
  tessera::TTesseraTable* clients = DMMirvel->TableClients;
  tessera::TTesseraTable* inters = DMMirvel->TableInterlocuteurs;
  if (field != nullptr || !clients->Active()) return;
  TabClient->SetCaption(ClientCaption());
  if (clients->State() != cl::dsBrowse || inters->State() != cl::dsBrowse) return;
  if (!clients->IsEmpty() && DMMirvel->TableClientsNoSociete->AsInteger() == 0) {
    if (inters->MasterSource() != nullptr) {
      inters->SetMasterSource(nullptr);
      inters->SetIndexFieldNames("Nom");
    }
    clients_locked_ = true;
  } else {
    if (inters->MasterSource() == nullptr) {
      inters->SetIndexFieldNames("NoSociete;Nom");
      inters->SetMasterSource(DMMirvel->DSClients);
    }
    clients_locked_ = false;
  }
}

void TFenEditClients::TableClientsBeforeEdit(cl::TDataSet*) {
  if (clients_locked_) cl::Abort();
}

void TFenEditClients::TableInterlocuteursAfterInsert(cl::TDataSet*) {
  if (PageControl1->ActivePage() != TabInterlocuteurs)
    PageControl1->SetActivePage(TabInterlocuteurs);
  if (DBEditNom->CanFocus()) DBEditNom->SetFocus();
}

void TFenEditClients::DBGridInterClientDblClick(cl::TObject*) {
  PageControl1->SetActivePage(TabInterlocuteurs);
}

void TFenEditClients::FormCloseQuery(cl::TObject*, bool& can_close) {
  can_close = ConfirmPendingEdits({DMMirvel->TableClients, DMMirvel->TableInterlocuteurs});
}

void TFenEditClients::FormClose(cl::TObject*, cl::TCloseAction&) {
  DMMirvel->TableInterlocuteurs->SetAfterInsert(nullptr);
}

void TFenEditClients::btnFermerClick(cl::TObject*) { Close(); }

bool ShowContactsEditor(int32_t no_societe, int32_t no_interlocuteur) {
  if (FenEditClients != nullptr) return false;
  for (tessera::TTesseraTable* table : {DMMirvel->TableClients, DMMirvel->TableInterlocuteurs}) {
    if (table->Active()) {
      table->Refresh();
    } else {
      table->Open();
    }
  }
  std::unique_ptr<TFenEditClients> editor(cl::Create<TFenEditClients>(nullptr));
  if (no_societe >= 0) DMMirvel->TableClients->Locate("NoSociete", no_societe, {});
  // Placing the client ran the current-client rule, so the callers shown are that client's.
  if (no_interlocuteur > 0) {
    DMMirvel->TableInterlocuteurs->Locate("NoInterlocuteur", no_interlocuteur, {});
  }
  editor->ShowModal();
  return true;
}

}  // namespace mirvel
