// TFenEditMessages: the main window.  The message grid with its editor, the recipient, caller and
// company pickers, the read marks, answering and quoting, printing, and the program's life in the
// notification area.  It is the windows seam (TAppWindows) of the two modules.
//
// Window states (FClosing aside):
//
//   hidden (minimized, not visible) --ShowMainWindow--> shown (normal, visible)
//   shown --HideToTray (close box, minimize, "&Fermer", "&Réduire")--> hidden
//   shown --close query answered "&Quitter"--> closed: the program ends
//   any --WM_QUERYENDSESSION, WM_ENDSESSION(1)--> disconnected and closed without asking
//
// Without a notification area (checked at start and at each hide) the window shows at start,
// hiding iconifies it instead (the desktop's window list still reaches it, and it still counts as
// hidden for the new-message rules), and btnTrayMenu, a button at the left of PanelBoutons, opens
// the tray's menu.
//
// A message typed and not saved is asked about before anything closes the messages table under
// it: hiding, quitting, reconnecting (Yes posts, No cancels, any other answer keeps everything).
//
// The code is split: FenEditMessages.cpp (construction, the seam), FenEditMessagesActions.cpp
// (what is done to messages), FenEditMessagesLife.cpp (showing, hiding, quitting, connecting,
// window messages).
//
// Lifetime: one instance, FenEditMessages, the application's main form, created after both
// modules and freed before them.  GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/AppWindows.h"
#include "classlib/dbforms/DBCtrls.h"
#include "classlib/dbforms/DBGrids.h"
#include "classlib/forms/Buttons.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/Menus.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/TTimer.h"
#include "components/ui/TDBNavBarre.h"
#include "components/ui/TDBRecordCount.h"
#include "components/ui/TExitPanel.h"
#include "components/ui/TFindPanel.h"
#include "components/ui/TFormPlacement.h"
#include "components/ui/THintController.h"
#include "components/ui/TOxDBComboBox.h"
#include "components/ui/TOxSpeedButton.h"
#include "components/ui/TOxTrayIcon.h"

namespace mirvel {

inline constexpr const char* kMainCaption = "Gestion des messages t\xE9l\xE9phoniques";
inline constexpr const char* kTrayHint = "Gestion des appels t\xE9l\xE9phoniques";
inline constexpr const char* kAllUsers = "Tous les utilisateurs";
inline constexpr const char* kBadConnection = "Chemin de connexion invalide.";
inline constexpr const char* kAskConnect =
    "Voulez-vous vous connecter \xE0 la base de donn\xE9"
    "es ?";
inline constexpr const char* kOwnMessage = "Impossible de se r\xE9pondre \xE0 soi-m\xEAme !";
inline constexpr const char* kStorageKey = "Software\\Ordelis\\Mirvel\\Environnement";
inline constexpr int kMinPanelDonnees = 152;
// How long a user message waits before it is posted again while the change timer runs.
inline constexpr int kRepostDelayMs = 100;

class TFenEditMessages : public cl::TForm, public TAppWindows {
 public:
  explicit TFenEditMessages(cl::TComponent* owner);
  ~TFenEditMessages() override;

  comp::TFindPanel* FindPanelPrincipal;
  cl::TPanel* PanelRecherches;
  cl::TLabel* Label6;
  cl::TComboBox* UserSelecter;
  cl::TButton* btnAvailabilities;
  cl::TButton* BtnContacts;
  cl::TPanel* Panel1;
  cl::TLabel* Label1;
  cl::TLabel* Label2;
  cl::TLabel* Label3;
  comp::THDBEdit* DBEdit1;
  cl::TDBLookupComboBox* DBLookup1;
  comp::TOxDBComboBox* InterSelecter;
  comp::TEllipsisButton* btnSelClients;
  comp::TEllipsisButton* btnChoixDestinataire;
  cl::TPanel* PanelDonnees;
  cl::TLabel* Label4;
  cl::TLabel* Label5;
  cl::TLabel* Label7;
  cl::TLabel* Label8;
  comp::THDBEdit* DBEdit3;
  comp::THDBEdit* DBEdit2;
  comp::THDBEdit* DBEdit4;
  cl::TDBLookupComboBox* DBLookup2;
  comp::TOxDBComboBox* SocieteSelecter;
  cl::TPanel* PanelMessage;
  cl::TPanel* PanelOutils;
  cl::TLabel* Label9;
  comp::TOxSpeedButton* btnZoom;
  comp::TOxSpeedButton* btnUnZoom;
  comp::TOxSpeedButton* btnQuote;
  comp::TOxSpeedButton* btnPrintMessage;
  comp::TOxSpeedButton* btnAnswerSame;
  comp::TOxSpeedButton* btnAnswerNew;
  cl::TDBMemo* MemoMessages;
  cl::TSplitter* Splitter2;
  cl::TPanel* PanelReponse;
  cl::TLabel* Label10;
  cl::TDBMemo* MemoReponse;
  cl::TSplitter* Splitter1;
  comp::THDBGrid* MainDBGrid;
  cl::TPanel* PanelDBNav;
  cl::TDBNavigator* DBNavPrincipal;
  comp::TDBRecordCount* DBInfoPrincipal;
  cl::TPanel* PanelBoutons;
  comp::TDBNavBarre* DBNavBarrePrincipal;
  cl::TButton* btnClose;
  cl::TDataSource* DSPrincipal;
  cl::TDataSource* DSUsers;
  comp::TOxTrayIcon* OxTrayIcon1;
  cl::TPopupMenu* PopupTray;
  cl::TMenuItem* mnuEditMessages;
  cl::TMenuItem* mnuEditUsers;
  cl::TMenuItem* mnuEditContacts;
  cl::TMenuItem* mnuConnectDisconnect;
  cl::TMenuItem* Modifierlaconnection1;
  cl::TMenuItem* mnuQuitter;
  cl::TPopupMenu* PopupGrid;
  cl::TMenuItem* mnuMarquerLu;
  cl::TMenuItem* mnuMarquerNonLu;
  cl::TMenuItem* mnuToutMarquerLu;
  cl::TMenuItem* mnuSupprimer;
  comp::TFormStorage* FormStorage1;
  // Only without a notification area: opens PopupTray.
  cl::TBitBtn* btnTrayMenu = nullptr;

  // ---- Window life (FenEditMessagesLife.cpp).
  void ShowMainWindow();
  // False when the user kept a pending edit: the window stays as it was.
  bool HideToTray();
  void AppMessage(cl::TMsg& msg, bool& handled);
  void FormCreate(cl::TObject* sender);
  void FormShow(cl::TObject* sender);
  void FormActivate(cl::TObject* sender);
  void FormCloseQuery(cl::TObject* sender, bool& can_close);
  // Static: the form's OnDestroy comes once this class's part of the window is gone.
  static void FormDestroy(cl::TObject* sender);
  void btnCloseClick(cl::TObject* sender);
  void mnuEditMessagesClick(cl::TObject* sender);
  void mnuEditUsersClick(cl::TObject* sender);
  void mnuEditContactsClick(cl::TObject* sender);
  void mnuQuitterClick(cl::TObject* sender);
  void mnuConnectDisconnectClick(cl::TObject* sender);
  void Modifierlaconnection1Click(cl::TObject* sender);
  void OxTrayIcon1DblClick(cl::TObject* sender);
  void btnTrayMenuClick(cl::TObject* sender);
  void FormStorage1SavePlacement(cl::TObject* sender);
  void FormStorage1RestorePlacement(cl::TObject* sender);

  // ---- Messages (FenEditMessagesActions.cpp).
  void RefreshMessages();
  void FillUserSelecter();
  void UserSelecterClick(cl::TObject* sender);
  void btnAvailabilitiesClick(cl::TObject* sender);
  void DBNavPrincipalBeforeAction(cl::TObject* sender, cl::TNavigateBtn button);
  void btnQuoteClick(cl::TObject* sender);
  void btnZoomClick(cl::TObject* sender);
  void btnUnZoomMouseDown(cl::TObject* sender, cl::TMouseButton button, cl::TShiftState shift,
                          int x, int y);
  void PopupGridPopup(cl::TObject* sender);
  void mnuMarquerLuClick(cl::TObject* sender);
  void mnuMarquerNonLuClick(cl::TObject* sender);
  void mnuToutMarquerLuClick(cl::TObject* sender);
  void MainDBGridDrawColumnCell(cl::TObject* sender, const cl::TRect& rect, int data_col,
                                cl::TColumn* column, cl::TGridDrawState state);
  void btnPrintMessageClick(cl::TObject* sender);
  void mnuSupprimerClick(cl::TObject* sender);
  void btnSelClientsClick(cl::TObject* sender);
  void InterSelecterExit(cl::TObject* sender);
  // btnAnswerSame and btnAnswerNew: the sender tells which.
  void btnAnswerSameClick(cl::TObject* sender);
  void DBLookup1CloseUp(cl::TObject* sender);
  void btnChoixDestinataireClick(cl::TObject* sender);
  void PanelDonneesResize(cl::TObject* sender);
  void Panel1Resize(cl::TObject* sender);
  void PanelRecherchesResize(cl::TObject* sender);

  // ---- TAppWindows (FenEditMessages.cpp).
  bool IsMinimized() override;
  bool PendingCheck() override { return FPendingCheck; }
  void SetPendingCheck(bool pending) override { FPendingCheck = pending; }
  void PostToMainWindow(uint32_t message) override;
  void ShowConnected(bool connected) override;
  void StartTrayAnimation() override;
  void SetUserComboRows(int rows) override;
  std::string CallerComboText() override;
  void SetCallerComboItems(const std::vector<TComboItem>& items) override;
  void SetCompanyComboItems(const std::vector<TComboItem>& items) override;
  bool AskSubject(std::string& subject) override;
  void FocusSubjectEdit() override;
  void FocusRecipientCombo() override;
  bool NewMessageDialogOpen() override;
  bool ShowNewMessageDialog(bool unread) override;

  int FMinWidth = 0;
  bool FClosing = false;
  bool FPendingCheck = false;

 private:
  void BuildSearchPanels(class cl::TLoader& loader);
  void BuildDataPanel(class cl::TLoader& loader);
  void BuildGridAndBars(class cl::TLoader& loader);
  void BuildMenusAndTray(class cl::TLoader& loader);
  void BindHandlers();
  void BindMessages();

  // The connect question when disconnected, then Connect; raises when it still fails.  False
  // when the user answered other than Yes.
  bool EnsureConnected();
  // The question about a modified message being edited: Yes posts, No cancels (an unmodified
  // edit is cancelled without asking).  False when the user kept it.
  bool SettlePendingEdit();
  // Refreshes the view after changes seen while minimized or hidden; stops the tray animation.
  void TakePendingCheck();
  // Runs `message` now, or posts it again after kRepostDelayMs while the change timer runs.
  void RunUserMessage(uint32_t message);
  void RepostTimerTimer(cl::TObject* sender);
  // The menu button of a desktop without a notification area, made the first time it is needed.
  void EnsureTrayMenuButton();
  void UpdateTrayMenuGlyph();
  void MarkCurrent();
  bool MessagesEditing() const;
  bool MessagesEmpty() const;

  cl::TTimer* repost_timer_ = nullptr;
  std::vector<uint32_t> reposts_;
  bool hooked_ = false;  // the application's OnMessage calls this window
};

extern TFenEditMessages* FenEditMessages;

// The program's tray images: 0 connected, 1 disconnected (32 x 32 icons).
cl::TIcon MirvelTrayIcon(int index);

}  // namespace mirvel
