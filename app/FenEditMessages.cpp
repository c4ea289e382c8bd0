#include "app/FenEditMessages.h"

#include <cstdint>
#include <vector>

#include "app/DlgNewMessages.h"
#include "app/FenEditSujet.h"
#include "app/MBDMirvel.h"
#include "app/MMirvel.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Loader.h"

namespace mirvel {

TFenEditMessages* FenEditMessages = nullptr;

namespace {

constexpr cl::TColor kDateColor = 12639424;
constexpr cl::TColor kSubjectColor = cl::clYellow;

// A 32 x 32 icon of 16 colours: a handset on a disc, green when connected, grey when not.
cl::TIcon DrawTrayIcon(bool connected) {
  // ICO header (6), one directory entry (16), BITMAPINFOHEADER (40), 16 palette entries (64),
  // 4-bit pixels (32 rows of 16 bytes), 1-bit mask (32 rows of 4 bytes).
  constexpr size_t kImage = 22, kPalette = kImage + 40, kPixels = kPalette + 64;
  constexpr size_t kMask = kPixels + 32 * 16, kTotal = kMask + 32 * 4;
  std::vector<uint8_t> b(kTotal, 0);
  cl::PutU16LE(&b[2], 1);
  cl::PutU16LE(&b[4], 1);
  b[6] = 32;
  b[7] = 32;
  b[8] = 16;
  cl::PutU16LE(&b[10], 1);
  cl::PutU16LE(&b[12], 4);
  cl::PutU32LE(&b[14], static_cast<uint32_t>(kTotal - kImage));
  cl::PutU32LE(&b[18], static_cast<uint32_t>(kImage));
  cl::PutU32LE(&b[kImage], 40);
  cl::PutU32LE(&b[kImage + 4], 32);
  cl::PutU32LE(&b[kImage + 8], 64);
  cl::PutU16LE(&b[kImage + 12], 1);
  cl::PutU16LE(&b[kImage + 14], 4);
  // Palette (blue, green, red, 0): 1 the disc, 2 the handset.
  cl::PutU32LE(&b[kPalette + 4], connected ? 0x0000A000 : 0x00909090);
  cl::PutU32LE(&b[kPalette + 8], 0x00FFFFFF);
  for (int row = 0; row < 32; ++row) {
    const int y = 31 - row;  // rows are stored bottom up
    for (int x = 0; x < 32; ++x) {
      const int dx = 2 * x - 31, dy = 2 * y - 31;
      const bool disc = dx * dx + dy * dy <= 31 * 31;
      const bool earpiece = y >= 8 && y <= 12 && x >= 7 && x <= 24;
      const bool handle = y >= 12 && y <= 20 && x >= 13 && x <= 18;
      const bool mouthpiece = y >= 20 && y <= 24 && x >= 9 && x <= 22;
      const uint8_t colour = !disc ? 0 : (earpiece || handle || mouthpiece) ? 2 : 1;
      uint8_t& pair = b[kPixels + static_cast<size_t>(row) * 16 + static_cast<size_t>(x / 2)];
      pair =
          static_cast<uint8_t>(x % 2 == 0 ? (pair & 0x0F) | (colour << 4) : (pair & 0xF0) | colour);
      if (!disc) b[kMask + static_cast<size_t>(row) * 4 + x / 8] |= 0x80 >> (x % 8);
    }
  }
  cl::TIcon icon;
  icon.LoadFromBytes(b);
  return icon;
}

// A 16 x 16 glyph drawn with lines and letters, for the tool row's buttons.
void DrawGlyph(cl::TBitmap& bitmap, const char* text, cl::TColor colour) {
  bitmap.SetSize(16, 16);
  cl::TCanvas& canvas = bitmap.Canvas();
  canvas.Brush().SetColor(cl::clBtnFace);
  canvas.FillRect(cl::Rect(0, 0, 16, 16));
  canvas.Brush().SetStyle(cl::bsClear);
  canvas.Font().SetColor(colour);
  canvas.Font().SetSize(8);
  canvas.Font().SetStyle({cl::fsBold});
  canvas.TextOut((16 - canvas.TextWidth(text)) / 2, (16 - canvas.TextHeight(text)) / 2, text);
}

template <class T>
T* Place(cl::TLoader& loader, cl::TComponent* owner, cl::TWinControl* parent, const char* name,
         int left, int top, int width, int height) {
  T* control = loader.Create<T>(owner, name);
  control->SetParent(parent);
  control->SetBounds(left, top, width, height);
  return control;
}

cl::TLabel* MakeLabel(cl::TLoader& loader, cl::TComponent* owner, cl::TWinControl* parent,
                      const char* name, const char* caption, int left, int top) {
  auto* label = Place<cl::TLabel>(loader, owner, parent, name, left, top, 120, 13);
  label->SetCaption(caption);
  return label;
}

cl::TMenuItem* Item(cl::TLoader& loader, cl::TComponent* owner, cl::TPopupMenu* menu,
                    const char* name, const char* caption) {
  auto* item = loader.Create<cl::TMenuItem>(owner, name);
  item->SetCaption(caption);
  menu->Items()->Add(item);
  return item;
}

void SetComboItems(cl::TComboBox* combo, const std::vector<TComboItem>& items) {
  const std::string text = combo->Text();
  combo->Items().Clear();
  for (const TComboItem& item : items) {
    // The record number rides in the item's object slot.
    combo->Items().AddObject(item.text,
                             reinterpret_cast<cl::TObject*>(static_cast<intptr_t>(item.number)));
  }
  combo->SetText(text);
}

}  // namespace

cl::TIcon MirvelTrayIcon(int index) { return DrawTrayIcon(index == 0); }

TFenEditMessages::TFenEditMessages(cl::TComponent* owner) : cl::TForm(owner) {
  cl::TLoader loader(this);
  SetName("FenEditMessages");
  SetCaption(kMainCaption);
  SetHelpContext(100);
  SetPosition(cl::poScreenCenter);
  SetBounds(0, 0, 640, 470);
  // Not minimized here: the application never shows its main form by itself, and a minimized
  // state set before the first show comes back from the window system later, looking like the
  // user's own minimize.

  DSPrincipal = loader.Create<cl::TDataSource>(this, "DSPrincipal");
  DSPrincipal->SetDataSet(DMMirvel->TableMessages);
  DSUsers = loader.Create<cl::TDataSource>(this, "DSUsers");
  DSUsers->SetDataSet(DMMirvel->TableUtilisateurs);

  BuildSearchPanels(loader);
  BuildDataPanel(loader);
  BuildGridAndBars(loader);
  BuildMenusAndTray(loader);
  BindHandlers();
  BindMessages();
  repost_timer_ = cl::Create<cl::TTimer>(this);
  repost_timer_->SetEnabled(false);
  repost_timer_->SetInterval(kRepostDelayMs);
  repost_timer_->SetOnTimer([this](cl::TObject* s) { RepostTimerTimer(s); });
  loader.Finish();
  if (FenEditMessages == nullptr) FenEditMessages = this;
}

TFenEditMessages::~TFenEditMessages() {
  // The controls and the placement outlive this part of the window: events they raise while they
  // go (a resize, a lost focus, the placement saved on destroy) must not reach it.
  SetOnActivate(nullptr);
  for (cl::TPanel* panel : {PanelDonnees, Panel1, PanelRecherches}) panel->SetOnResize(nullptr);
  InterSelecter->SetOnExit(nullptr);
  DBLookup1->SetOnCloseUp(nullptr);
  FormStorage1->SetOnSavePlacement(nullptr);
  FormStorage1->SetOnRestorePlacement(nullptr);
  repost_timer_->SetEnabled(false);
  // The application's hook must not outlive the window it calls.
  if (hooked_) cl::Application().SetOnMessage(nullptr);
  if (AppWindows() == this) SetAppWindows(nullptr);
  if (FenEditMessages == this) FenEditMessages = nullptr;
}

void TFenEditMessages::BuildSearchPanels(cl::TLoader& loader) {
  FindPanelPrincipal =
      Place<comp::TFindPanel>(loader, this, this, "FindPanelPrincipal", 0, 0, 640, 33);
  FindPanelPrincipal->SetAlign(cl::alTop);
  FindPanelPrincipal->SetLabelCaption(" Rechercher ");
  FindPanelPrincipal->SetComboBoxWidth(150);
  FindPanelPrincipal->SetDataSet(DMMirvel->TableMessages);
  FindPanelPrincipal->SetSearchField("Interlocuteur");

  PanelRecherches = Place<cl::TPanel>(loader, this, this, "PanelRecherches", 0, 33, 640, 31);
  PanelRecherches->SetAlign(cl::alTop);
  Label6 =
      MakeLabel(loader, this, PanelRecherches, "Label6", "Visualisation des messages de", 8, 9);
  Label6->SetWidth(180);
  UserSelecter =
      Place<cl::TComboBox>(loader, this, PanelRecherches, "UserSelecter", 190, 5, 225, 21);
  UserSelecter->SetStyle(cl::csDropDownList);
  btnAvailabilities =
      Place<cl::TButton>(loader, this, PanelRecherches, "btnAvailabilities", 420, 4, 105, 23);
  btnAvailabilities->SetCaption("&Disponibilit\xE9s...");
  BtnContacts = Place<cl::TButton>(loader, this, PanelRecherches, "BtnContacts", 530, 4, 105, 23);
  BtnContacts->SetCaption("&Contacts...");

  Panel1 = Place<cl::TPanel>(loader, this, this, "Panel1", 0, 64, 640, 46);
  Panel1->SetAlign(cl::alTop);
  Label1 = MakeLabel(loader, this, Panel1, "Label1", "Date appel", 8, 4);
  Label2 = MakeLabel(loader, this, Panel1, "Label2", "Destinataire", 146, 4);
  Label3 = MakeLabel(loader, this, Panel1, "Label3", "Interlocuteur", 330, 4);
  DBEdit1 = Place<comp::THDBEdit>(loader, this, Panel1, "DBEdit1", 8, 19, 132, 21);
  DBEdit1->SetDataSource(DSPrincipal);
  DBEdit1->SetDataField("DateAppel");
  DBEdit1->SetColor(kDateColor);
  DBLookup1 = Place<cl::TDBLookupComboBox>(loader, this, Panel1, "DBLookup1", 146, 19, 154, 21);
  DBLookup1->SetDataSource(DSPrincipal);
  DBLookup1->SetDataField("DestinataireSelecter");
  btnChoixDestinataire =
      Place<comp::TEllipsisButton>(loader, this, Panel1, "btnChoixDestinataire", 302, 19, 21, 21);
  InterSelecter =
      Place<comp::TOxDBComboBox>(loader, this, Panel1, "InterSelecter", 330, 19, 276, 21);
  InterSelecter->SetDataSource(DSPrincipal);
  InterSelecter->SetDataField("Interlocuteur");
  InterSelecter->SetDropDownCount(15);
  InterSelecter->SetEnableValues(false);
  InterSelecter->SetSorted(true);
  btnSelClients =
      Place<comp::TEllipsisButton>(loader, this, Panel1, "btnSelClients", 612, 19, 21, 21);
}

void TFenEditMessages::BuildDataPanel(cl::TLoader& loader) {
  PanelDonnees = Place<cl::TPanel>(loader, this, this, "PanelDonnees", 0, 110, 640, 200);
  PanelDonnees->SetAlign(cl::alTop);
  Label4 = MakeLabel(loader, this, PanelDonnees, "Label4",
                     "Num\xE9"
                     "ros \xE0 rappeler",
                     8, 4);
  Label5 = MakeLabel(loader, this, PanelDonnees, "Label5", "Saisie du message", 250, 4);
  Label7 = MakeLabel(loader, this, PanelDonnees, "Label7", "Sujet", 8, 44);
  Label8 = MakeLabel(loader, this, PanelDonnees, "Label8", "Soci\xE9t\xE9", 330, 44);
  DBEdit3 = Place<comp::THDBEdit>(loader, this, PanelDonnees, "DBEdit3", 8, 19, 115, 21);
  DBEdit3->SetDataSource(DSPrincipal);
  DBEdit3->SetDataField("NoRappeler");
  DBEdit2 = Place<comp::THDBEdit>(loader, this, PanelDonnees, "DBEdit2", 128, 19, 115, 21);
  DBEdit2->SetDataSource(DSPrincipal);
  DBEdit2->SetDataField("NoRappeler2");
  DBLookup2 =
      Place<cl::TDBLookupComboBox>(loader, this, PanelDonnees, "DBLookup2", 250, 19, 170, 21);
  DBLookup2->SetDataSource(DSPrincipal);
  DBLookup2->SetDataField("UserSelecter");
  DBEdit4 = Place<comp::THDBEdit>(loader, this, PanelDonnees, "DBEdit4", 8, 59, 315, 21);
  DBEdit4->SetDataSource(DSPrincipal);
  DBEdit4->SetDataField("Sujet");
  DBEdit4->SetColor(kSubjectColor);
  SocieteSelecter =
      Place<comp::TOxDBComboBox>(loader, this, PanelDonnees, "SocieteSelecter", 330, 59, 303, 21);
  SocieteSelecter->SetDataSource(DSPrincipal);
  SocieteSelecter->SetDataField("Societe");
  SocieteSelecter->SetSorted(true);

  // Below the edits, following the panel's size (PanelDonneesResize).
  PanelMessage = Place<cl::TPanel>(loader, this, PanelDonnees, "PanelMessage", 0, 86, 640, 114);
  PanelMessage->SetBevelOuter(cl::bvNone);
  PanelOutils = Place<cl::TPanel>(loader, this, PanelMessage, "PanelOutils", 0, 0, 640, 24);
  PanelOutils->SetAlign(cl::alTop);
  PanelOutils->SetBevelOuter(cl::bvNone);
  Label9 = MakeLabel(loader, this, PanelOutils, "Label9", "Message et commentaires", 8, 6);
  Label9->SetWidth(150);
  auto tool = [&](const char* name, int left, const char* hint, const char* glyph) {
    auto* button = Place<comp::TOxSpeedButton>(loader, this, PanelOutils, name, left, 1, 23, 22);
    button->SetHint(hint);
    button->SetShowHint(true);
    button->SetFlat(true);
    if (glyph != nullptr) DrawGlyph(button->Glyph(), glyph, cl::clNavy);
    return button;
  };
  btnZoom = tool("btnZoom", 170, "Agrandir le message", "+");
  btnUnZoom = tool("btnUnZoom", 170, "R\xE9tabli le message en taille normale", "-");
  btnUnZoom->SetVisible(false);
  btnQuote = tool("btnQuote", 195, "Quoter le message", nullptr);
  btnQuote->SetCaption(">>");
  btnPrintMessage = tool("btnPrintMessage", 220, "Imprimer le message", "P");
  btnAnswerSame = tool("btnAnswerSame", 245, "R\xE9pondre avec le m\xEAme message", "R");
  btnAnswerNew = tool("btnAnswerNew", 270, "R\xE9pondre avec un nouveau message", "N");

  PanelReponse = Place<cl::TPanel>(loader, this, PanelMessage, "PanelReponse", 0, 70, 640, 44);
  PanelReponse->SetAlign(cl::alBottom);
  PanelReponse->SetBevelOuter(cl::bvNone);
  Label10 = MakeLabel(loader, this, PanelReponse, "Label10",
                      "Suite donn\xE9"
                      "e",
                      8, 2);
  Label10->SetAlign(cl::alTop);
  MemoReponse = Place<cl::TDBMemo>(loader, this, PanelReponse, "MemoReponse", 0, 15, 640, 29);
  MemoReponse->SetAlign(cl::alClient);
  MemoReponse->SetDataSource(DSPrincipal);
  MemoReponse->SetDataField("SuiteDonnee");
  MemoReponse->SetScrollBars(cl::ssVertical);
  Splitter2 = Place<cl::TSplitter>(loader, this, PanelMessage, "Splitter2", 0, 67, 640, 3);
  Splitter2->SetAlign(cl::alBottom);
  Splitter2->SetHeight(3);  // made for the left edge: its thickness is set once it lies across
  Splitter2->SetMinSize(60);
  MemoMessages = Place<cl::TDBMemo>(loader, this, PanelMessage, "MemoMessages", 0, 24, 640, 43);
  MemoMessages->SetAlign(cl::alClient);
  MemoMessages->SetDataSource(DSPrincipal);
  MemoMessages->SetDataField("Message");
  MemoMessages->SetScrollBars(cl::ssVertical);
}

void TFenEditMessages::BuildGridAndBars(cl::TLoader& loader) {
  PanelBoutons = Place<cl::TPanel>(loader, this, this, "PanelBoutons", 0, 429, 640, 41);
  PanelBoutons->SetAlign(cl::alBottom);
  btnClose = Place<cl::TButton>(loader, this, PanelBoutons, "btnClose", 545, 8, 90, 25);
  btnClose->SetCaption("&Fermer");
  btnClose->SetAlign(cl::alRight);
  DBNavBarrePrincipal =
      Place<comp::TDBNavBarre>(loader, this, PanelBoutons, "DBNavBarrePrincipal", 0, 0, 540, 41);
  DBNavBarrePrincipal->SetAlign(cl::alClient);
  DBNavBarrePrincipal->SetBevelOuter(cl::bvNone);
  DBNavBarrePrincipal->SetDataSource(DSPrincipal);
  DBNavBarrePrincipal->SetVisibleBtn(
      {comp::navInsert, comp::navEdit, comp::navDelete, comp::navPost, comp::navCancel});
  DBNavBarrePrincipal->SetBtnSpacing(6);
  DBNavBarrePrincipal->SetSpacing(2);
  DBNavBarrePrincipal->SetMarginWidth(3);
  DBNavBarrePrincipal->SetMarginHeight(3);
  DBNavBarrePrincipal->SetDeleteMessage("Effacer le message ?");
  DBNavBarrePrincipal->SetFocusControl(DBEdit1);

  PanelDBNav = Place<cl::TPanel>(loader, this, this, "PanelDBNav", 0, 400, 640, 29);
  PanelDBNav->SetAlign(cl::alBottom);
  DBNavPrincipal =
      Place<cl::TDBNavigator>(loader, this, PanelDBNav, "DBNavPrincipal", 4, 2, 125, 25);
  DBNavPrincipal->SetVisibleButtons(
      {cl::nbFirst, cl::nbPrior, cl::nbNext, cl::nbLast, cl::nbRefresh});
  DBNavPrincipal->SetShowHint(true);
  DBNavPrincipal->SetDataSource(DSPrincipal);
  DBInfoPrincipal =
      Place<comp::TDBRecordCount>(loader, this, PanelDBNav, "DBInfoPrincipal", 470, 2, 165, 25);
  DBInfoPrincipal->SetAlign(cl::alRight);
  DBInfoPrincipal->SetRecordName("message");
  DBInfoPrincipal->SetPluralLetter("s");
  DBInfoPrincipal->SetDataSource(DSPrincipal);

  Splitter1 = Place<cl::TSplitter>(loader, this, this, "Splitter1", 0, 310, 640, 3);
  Splitter1->SetAlign(cl::alTop);
  Splitter1->SetHeight(3);
  Splitter1->SetMinSize(130);

  MainDBGrid = Place<comp::THDBGrid>(loader, this, this, "MainDBGrid", 0, 313, 640, 87);
  MainDBGrid->SetAlign(cl::alClient);
  MainDBGrid->SetOptions({cl::dgTitles, cl::dgIndicator, cl::dgColumnResize, cl::dgColLines,
                          cl::dgRowLines, cl::dgTabs, cl::dgRowSelect, cl::dgAlwaysShowSelection,
                          cl::dgConfirmDelete, cl::dgCancelOnExit});
  MainDBGrid->TitleFont().SetName("Arial");
  // Widths for what the columns show, not for their fields' 50 characters: every column fits
  // the smallest window, the last one taking what is left.
  const std::pair<const char*, int> columns[] = {
      {"Lu", 24},     {"DateDBGrid", 112},  {"DestinataireSelecter", 110}, {"Interlocuteur", 130},
      {"Sujet", 130}, {"UserSelecter", 100}};
  for (const auto& [name, width] : columns) {
    cl::TColumn* column = MainDBGrid->Columns().Add();
    column->SetFieldName(name);
    column->SetWidth(width);
  }
  MainDBGrid->Columns().Items(1)->SetColor(kDateColor);
  MainDBGrid->Columns().Items(3)->Title().Font.SetStyle({cl::fsBold});
  MainDBGrid->Columns().Items(4)->SetColor(kSubjectColor);
  MainDBGrid->SetAutoSizeLastColumn(true);
  MainDBGrid->SetDataSource(DSPrincipal);
}

void TFenEditMessages::BuildMenusAndTray(cl::TLoader& loader) {
  PopupTray = loader.Create<cl::TPopupMenu>(this, "PopupTray");
  mnuEditMessages =
      Item(loader, this, PopupTray, "mnuEditMessages", "Ajouter/Consulter les &messages...");
  mnuEditMessages->SetDefault(true);
  Item(loader, this, PopupTray, "N1", "-");
  mnuEditUsers = Item(loader, this, PopupTray, "mnuEditUsers", "&Fichier des Utilisateurs...");
  mnuEditContacts = Item(loader, this, PopupTray, "mnuEditContacts", "Fichier des C&ontacts...");
  Item(loader, this, PopupTray, "N2", "-");
  mnuConnectDisconnect = Item(loader, this, PopupTray, "mnuConnectDisconnect",
                              "&D\xE9"
                              "connection");
  Modifierlaconnection1 =
      Item(loader, this, PopupTray, "Modifierlaconnection1", "Modifier la &connection...");
  Item(loader, this, PopupTray, "N3", "-");
  mnuQuitter = Item(loader, this, PopupTray, "mnuQuitter", "&Quitter");

  PopupGrid = loader.Create<cl::TPopupMenu>(this, "PopupGrid");
  mnuMarquerLu = Item(loader, this, PopupGrid, "mnuMarquerLu", "&Marquer comme lu");
  mnuMarquerNonLu = Item(loader, this, PopupGrid, "mnuMarquerNonLu", "Marquer comme &non lu");
  Item(loader, this, PopupGrid, "N4", "-");
  mnuToutMarquerLu = Item(loader, this, PopupGrid, "mnuToutMarquerLu", "&Tout marquer comme lu");
  Item(loader, this, PopupGrid, "N5", "-");
  mnuSupprimer = Item(loader, this, PopupGrid, "mnuSupprimer", "&Supprimer");
  MainDBGrid->SetPopupMenu(PopupGrid);

  OxTrayIcon1 = loader.Create<comp::TOxTrayIcon>(this, "OxTrayIcon1");
  OxTrayIcon1->SetHint(kTrayHint);
  OxTrayIcon1->Icons().Add(MirvelTrayIcon(0));
  OxTrayIcon1->Icons().Add(MirvelTrayIcon(1));
  OxTrayIcon1->SetIcon(MirvelTrayIcon(1));
  OxTrayIcon1->SetInterval(350);
  OxTrayIcon1->SetPopupMenu(PopupTray);

  FormStorage1 = loader.Create<comp::TFormStorage>(this, "FormStorage1");
  FormStorage1->SetUseRegistry(true);
  FormStorage1->SetIniFileName(kStorageKey);
  FormStorage1->SetOptions({});
  FormStorage1->MinMaxInfo().SetMinTrackWidth(635);
  FormStorage1->MinMaxInfo().SetMinTrackHeight(452);
  FormStorage1->StoredProps().Add("PanelDonnees.Height");
  FormStorage1->StoredProps().Add("PanelReponse.Height");
}

void TFenEditMessages::BindHandlers() {
  SetOnCreate([this](cl::TObject* s) { FormCreate(s); });
  SetOnShow([this](cl::TObject* s) { FormShow(s); });
  SetOnActivate([this](cl::TObject* s) { FormActivate(s); });
  SetOnCloseQuery([this](cl::TObject* s, bool& c) { FormCloseQuery(s, c); });
  SetOnDestroy([](cl::TObject* s) { FormDestroy(s); });
  btnClose->SetOnClick([this](cl::TObject* s) { btnCloseClick(s); });
  mnuEditMessages->SetOnClick([this](cl::TObject* s) { mnuEditMessagesClick(s); });
  mnuEditUsers->SetOnClick([this](cl::TObject* s) { mnuEditUsersClick(s); });
  mnuEditContacts->SetOnClick([this](cl::TObject* s) { mnuEditContactsClick(s); });
  BtnContacts->SetOnClick([this](cl::TObject* s) { mnuEditContactsClick(s); });
  mnuQuitter->SetOnClick([this](cl::TObject* s) { mnuQuitterClick(s); });
  mnuConnectDisconnect->SetOnClick([this](cl::TObject* s) { mnuConnectDisconnectClick(s); });
  Modifierlaconnection1->SetOnClick([this](cl::TObject* s) { Modifierlaconnection1Click(s); });
  OxTrayIcon1->SetOnDblClick([this](cl::TObject* s) { OxTrayIcon1DblClick(s); });
  UserSelecter->SetOnClick([this](cl::TObject* s) { UserSelecterClick(s); });
  btnAvailabilities->SetOnClick([this](cl::TObject* s) { btnAvailabilitiesClick(s); });
  DBNavPrincipal->SetBeforeAction(
      [this](cl::TObject* s, cl::TNavigateBtn b) { DBNavPrincipalBeforeAction(s, b); });
  btnQuote->SetOnClick([this](cl::TObject* s) { btnQuoteClick(s); });
  btnZoom->SetOnClick([this](cl::TObject* s) { btnZoomClick(s); });
  btnUnZoom->SetOnMouseDown([this](cl::TObject* s, cl::TMouseButton b, cl::TShiftState sh, int x,
                                   int y) { btnUnZoomMouseDown(s, b, sh, x, y); });
  PopupGrid->SetOnPopup([this](cl::TObject* s) { PopupGridPopup(s); });
  mnuMarquerLu->SetOnClick([this](cl::TObject* s) { mnuMarquerLuClick(s); });
  mnuMarquerNonLu->SetOnClick([this](cl::TObject* s) { mnuMarquerNonLuClick(s); });
  mnuToutMarquerLu->SetOnClick([this](cl::TObject* s) { mnuToutMarquerLuClick(s); });
  mnuSupprimer->SetOnClick([this](cl::TObject* s) { mnuSupprimerClick(s); });
  MainDBGrid->SetOnDrawColumnCell(
      [this](cl::TObject* s, const cl::TRect& r, int c, cl::TColumn* col, cl::TGridDrawState st) {
        MainDBGridDrawColumnCell(s, r, c, col, st);
      });
  btnPrintMessage->SetOnClick([this](cl::TObject* s) { btnPrintMessageClick(s); });
  btnSelClients->SetOnClick([this](cl::TObject* s) { btnSelClientsClick(s); });
  InterSelecter->SetOnExit([this](cl::TObject* s) { InterSelecterExit(s); });
  btnAnswerSame->SetOnClick([this](cl::TObject* s) { btnAnswerSameClick(s); });
  btnAnswerNew->SetOnClick([this](cl::TObject* s) { btnAnswerSameClick(s); });
  DBLookup1->SetOnCloseUp([this](cl::TObject* s) { DBLookup1CloseUp(s); });
  btnChoixDestinataire->SetOnClick([this](cl::TObject* s) { btnChoixDestinataireClick(s); });
  PanelDonnees->SetOnResize([this](cl::TObject* s) { PanelDonneesResize(s); });
  Panel1->SetOnResize([this](cl::TObject* s) { Panel1Resize(s); });
  PanelRecherches->SetOnResize([this](cl::TObject* s) { PanelRecherchesResize(s); });
  FormStorage1->SetOnSavePlacement([this](cl::TObject* s) { FormStorage1SavePlacement(s); });
  FormStorage1->SetOnRestorePlacement([this](cl::TObject* s) { FormStorage1RestorePlacement(s); });
}

// ---- The seam of the modules.

bool TFenEditMessages::IsMinimized() { return !Visible() || WindowState() == cl::wsMinimized; }

void TFenEditMessages::PostToMainWindow(uint32_t message) {
  cl::PostMessage(Handle(), message, 0, 0);
}

void TFenEditMessages::ShowConnected(bool connected) {
  mnuConnectDisconnect->SetCaption(connected ? "&D\xE9"
                                               "connecter"
                                             : "&Connecter");
  OxTrayIcon1->SetAnimated(false);
  OxTrayIcon1->SetIcon(OxTrayIcon1->Icons().Items(connected ? 0 : 1));
  UpdateTrayMenuGlyph();
}

void TFenEditMessages::StartTrayAnimation() { OxTrayIcon1->SetAnimated(true); }

void TFenEditMessages::SetUserComboRows(int rows) {
  DBLookup1->SetDropDownRows(rows);
  DBLookup2->SetDropDownRows(rows);
}

std::string TFenEditMessages::CallerComboText() { return InterSelecter->Text(); }

void TFenEditMessages::SetCallerComboItems(const std::vector<TComboItem>& items) {
  SetComboItems(InterSelecter, items);
}

void TFenEditMessages::SetCompanyComboItems(const std::vector<TComboItem>& items) {
  SetComboItems(SocieteSelecter, items);
}

bool TFenEditMessages::AskSubject(std::string& subject) { return AskSubjectDialog(subject); }

void TFenEditMessages::FocusSubjectEdit() {
  if (!DBEdit4->CanFocus()) return;
  DBEdit4->SetFocus();
  DBEdit4->SelectAll();
}

void TFenEditMessages::FocusRecipientCombo() {
  if (!DBLookup1->CanFocus()) return;
  DBLookup1->SetFocus();
  DBLookup1->SetDroppedDown(true);
}

bool TFenEditMessages::NewMessageDialogOpen() { return DlgNewMessages != nullptr; }

bool TFenEditMessages::ShowNewMessageDialog(bool unread) { return ShowNewMessagesDialog(unread); }

}  // namespace mirvel
