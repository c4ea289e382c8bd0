// The main window's life: showing, hiding, quitting, connecting and its window messages.
#include "app/DlgConfirmation.h"
#include "app/DlgNewMessages.h"
#include "app/FenEditClients.h"
#include "app/FenEditMessages.h"
#include "app/FenEditPhoneUsers.h"
#include "app/MBDMirvel.h"
#include "app/MMirvel.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Screen.h"
#include "classlib/forms/ShellApi.h"
#include "classlib/rtl/Application.h"

namespace mirvel {

namespace {

constexpr uint32_t kWmNcLButtonDown = 0x00A1;
constexpr cl::WPARAM kHtClose = 20;

bool Editing(cl::TDataSet* data_set) {
  return data_set->State() == cl::dsEdit || data_set->State() == cl::dsInsert;
}

}  // namespace

void TFenEditMessages::BindMessages() {
  for (uint32_t message : {WM_SHOW_MAIN, WM_CHECK_MESSAGES, WM_REFRESH_VIEW}) {
    SetMessageMethod(message,
                     [this](cl::TMessage& m, const cl::TWndMethod&) { RunUserMessage(m.Msg); });
  }
  SetMessageMethod(cl::WM_GETMINMAXINFO, [this](cl::TMessage& m, const cl::TWndMethod& inherited) {
    inherited(m);
    if (FMinWidth == 0) FMinWidth = Width();
    if (m.LParam != 0) reinterpret_cast<cl::TMinMaxInfo*>(m.LParam)->ptMinTrackSize.X = FMinWidth;
  });
  SetMessageMethod(cl::WM_SYSCOMMAND, [this](cl::TMessage& m, const cl::TWndMethod& inherited) {
    inherited(m);
    if ((m.WParam & 0xFFF0) == cl::SC_MINIMIZE) HideToTray();
    // Without a tray the task bar restores the window behind ShowMainWindow's back.
    if ((m.WParam & 0xFFF0) == cl::SC_RESTORE && DMBDMirvel->FConnected) TakePendingCheck();
  });
  SetMessageMethod(cl::WM_QUERYENDSESSION,
                   [this](cl::TMessage& m, const cl::TWndMethod& inherited) {
                     FClosing = true;
                     inherited(m);
                   });
  SetMessageMethod(cl::WM_ENDSESSION, [this](cl::TMessage& m, const cl::TWndMethod& inherited) {
    inherited(m);
    if (m.WParam != 0) {
      FClosing = true;
      DMBDMirvel->Disconnect();
      DMBDMirvel->FEndSession = true;
      Close();
    } else {
      FClosing = false;
    }
    m.Result = 0;
  });
}

void TFenEditMessages::RunUserMessage(uint32_t message) {
  if (DMBDMirvel->FInTimer || !reposts_.empty()) {
    // The tick or the new-message alert may last (the alert is modal): wait instead of spinning
    // the queue, and keep the messages in the order they came.
    reposts_.push_back(message);
    repost_timer_->SetEnabled(true);
    return;
  }
  if (message == WM_SHOW_MAIN) ShowMainWindow();
  if (message == WM_CHECK_MESSAGES) DMMirvel->CheckNewMessages();
  if (message == WM_REFRESH_VIEW) RefreshMessages();
}

void TFenEditMessages::RepostTimerTimer(cl::TObject*) {
  repost_timer_->SetEnabled(false);
  std::vector<uint32_t> messages;
  messages.swap(reposts_);
  for (uint32_t message : messages) cl::PostMessage(Handle(), message, 0, 0);
}

void TFenEditMessages::FormCreate(cl::TObject*) {
  FMinWidth = Width();
  cl::Application().SetOnMessage(
      [this](cl::TMsg& msg, bool& handled) { AppMessage(msg, handled); });
  hooked_ = true;
  if (DMBDMirvel->SingleInstance1 != nullptr) DMBDMirvel->SingleInstance1->SetHandle(Handle());
  SetAppWindows(this);
  const bool show = cl::ParamCount() >= 1 && cl::ParamStr(1) == "SHOW";
  const bool tray = cl::NotifyIconAvailable();
  if (!tray) EnsureTrayMenuButton();
  // Without a notification area a hidden window could not be reached at all: it shows even when
  // the connection failed, so that the menu button can still connect.
  const auto show_anyway = [this, tray] {
    if (tray || Visible()) return;
    SetWindowState(cl::wsNormal);
    Show();
  };
  try {
    DMBDMirvel->Connect();
    if (show || !tray) ShowMainWindow();
  } catch (...) {
    show_anyway();
    throw;  // reported by the form's guard
  }
  show_anyway();
}

bool TFenEditMessages::EnsureConnected() {
  if (DMBDMirvel->FConnected) return true;
  if (cl::MessageDlg(kAskConnect, cl::mtConfirmation, {cl::mbYes, cl::mbNo}, 0) != cl::mrYes) {
    return false;
  }
  DMBDMirvel->Connect();
  if (!DMBDMirvel->FConnected) throw cl::Exception(kBadConnection);
  return true;
}

void TFenEditMessages::ShowMainWindow() {
  if (DMBDMirvel->FConnecting) return;
  if (!EnsureConnected()) return;
  if (DlgNewMessages != nullptr) {
    DlgNewMessages->SetModalResult(cl::mrCancel);
    return;
  }
  TakePendingCheck();
  // The window system reports our own last minimize late: taken while still hidden, it is known
  // for ours; taken after the restore it would look like the user's minimize and hide again.
  cl::Application().ProcessMessages();
  SetWindowState(cl::wsNormal);
  Show();
  cl::Application().BringToFront();
}

void TFenEditMessages::TakePendingCheck() {
  if (!FPendingCheck) return;
  RefreshMessages();
  FPendingCheck = false;
  OxTrayIcon1->SetAnimated(false);
}

bool TFenEditMessages::SettlePendingEdit() {
  cl::TDataSet* messages = DMMirvel->TableMessages;
  if (!Editing(messages)) return true;
  // Text typed in a data-aware control reaches its field only now: asked about, not dropped.
  messages->UpdateRecord();
  if (!messages->Modified()) {
    messages->Cancel();
    return true;
  }
  const int answer =
      cl::MessageDlg(kSaveChangesQuestion, cl::mtConfirmation, {cl::mbYes, cl::mbNo}, 0);
  if (answer == cl::mrYes) {
    try {
      messages->Post();
    } catch (const cl::EAbort&) {
      // A message to a list ends its post with the silent abort once every copy stands.
      if (Editing(messages)) throw;
    }
    return true;
  }
  if (answer == cl::mrNo) {
    messages->Cancel();
    return true;
  }
  return false;
}

bool TFenEditMessages::HideToTray() {
  FormStorage1->SaveFormPlacement();
  if (WindowState() != cl::wsMinimized) {
    // A data-aware control writes what it holds when it loses the focus.
    if (btnClose->CanFocus()) btnClose->SetFocus();
    if (!SettlePendingEdit()) return false;
  }
  SetWindowState(cl::wsMinimized);
  if (cl::NotifyIconAvailable()) {
    Hide();
  } else {
    // Iconified, the desktop's window list still reaches it; the menu button opens the tray's
    // menu.
    EnsureTrayMenuButton();
  }
  return true;
}

void TFenEditMessages::AppMessage(cl::TMsg& msg, bool& handled) {
  if (msg.hwnd != Handle()) return;
  const bool close_box =
      (msg.message == cl::WM_SYSCOMMAND && (msg.wParam & 0xFFF0) == cl::SC_CLOSE) ||
      (msg.message == kWmNcLButtonDown && msg.wParam == kHtClose);
  if (!close_box) return;
  HideToTray();
  handled = true;
}

void TFenEditMessages::FormShow(cl::TObject*) {
  if (!DMBDMirvel->FConnected) return;
  OxTrayIcon1->SetAnimated(false);
  try {
    DMMirvel->RefreshUsers();
  } catch (cl::EAbort&) {
    throw;
  } catch (cl::Exception& e) {
    cl::MessageDlg("Une erreur [4] est survenue : \r\n" + e.Message(), cl::mtError, {cl::mbOK}, 0);
  }
  try {
    FillUserSelecter();
  } catch (cl::EAbort&) {
    throw;
  } catch (cl::Exception& e) {
    cl::MessageDlg("Une erreur [5] est survenue : \r\n" + e.Message(), cl::mtError, {cl::mbOK}, 0);
  }
}

void TFenEditMessages::FormActivate(cl::TObject*) {
  cl::Application().ProcessMessages();
  btnZoom->SetVisible(true);
  btnUnZoom->SetVisible(false);
  if (WindowState() != cl::wsMinimized && DMBDMirvel->FConnected) TakePendingCheck();
}

void TFenEditMessages::FormCloseQuery(cl::TObject*, bool& can_close) {
  if (FClosing) {
    can_close = true;
    return;
  }
  can_close = false;
  const int answer = AskQuitConfirmation();
  if (answer == cl::mrAbort) {
    // Quitting closes the tables: a typed message is asked about first.
    can_close = SettlePendingEdit();
  } else if (answer == cl::mrOk) {
    HideToTray();
  }
}

void TFenEditMessages::FormDestroy(cl::TObject*) {
  if (DMBDMirvel != nullptr) DMBDMirvel->Disconnect();
}

void TFenEditMessages::btnCloseClick(cl::TObject*) { HideToTray(); }

void TFenEditMessages::mnuEditMessagesClick(cl::TObject*) { ShowMainWindow(); }

void TFenEditMessages::OxTrayIcon1DblClick(cl::TObject*) { ShowMainWindow(); }

void TFenEditMessages::mnuEditUsersClick(cl::TObject*) {
  if (!EnsureConnected()) return;
  ShowUsersEditor();
}

void TFenEditMessages::mnuEditContactsClick(cl::TObject*) {
  if (!EnsureConnected()) return;
  ShowContactsEditor();
}

void TFenEditMessages::mnuQuitterClick(cl::TObject*) { Close(); }

void TFenEditMessages::mnuConnectDisconnectClick(cl::TObject*) {
  if (DMBDMirvel->FConnected) {
    if (HideToTray()) DMBDMirvel->Disconnect();
    return;
  }
  DMBDMirvel->Connect();
  if (!DMBDMirvel->FConnected) throw cl::Exception(kBadConnection);
}

void TFenEditMessages::Modifierlaconnection1Click(cl::TObject*) {
  if (DMBDMirvel->FConnected && !SettlePendingEdit()) return;
  DMBDMirvel->Disconnect();
  DMBDMirvel->ChooseDatabase(true);
  DMBDMirvel->Connect();
}

void TFenEditMessages::FormStorage1SavePlacement(cl::TObject*) {
  FormStorage1->WriteInteger("FormHeight", Height());
  FormStorage1->WriteInteger("FormWidth", Width());
}

void TFenEditMessages::FormStorage1RestorePlacement(cl::TObject*) {
  const int height = FormStorage1->ReadInteger("FormHeight", Height());
  const int width = FormStorage1->ReadInteger("FormWidth", Width());
  SetBounds(Left(), Top(), width, height);
}

// ---- Without a notification area.

void TFenEditMessages::EnsureTrayMenuButton() {
  if (btnTrayMenu != nullptr) return;
  btnTrayMenu = cl::Create<cl::TBitBtn>(this);
  btnTrayMenu->SetName("btnTrayMenu");
  btnTrayMenu->SetParent(PanelBoutons);
  btnTrayMenu->SetBounds(0, 0, 41, 41);
  btnTrayMenu->SetAlign(cl::alLeft);
  btnTrayMenu->SetHint(kTrayHint);
  btnTrayMenu->SetShowHint(true);
  btnTrayMenu->SetOnClick([this](cl::TObject* s) { btnTrayMenuClick(s); });
  UpdateTrayMenuGlyph();
}

void TFenEditMessages::UpdateTrayMenuGlyph() {
  if (btnTrayMenu == nullptr) return;
  cl::TBitmap& glyph = btnTrayMenu->Glyph();
  glyph.SetSize(32, 32);
  glyph.Canvas().Brush().SetColor(cl::clBtnFace);
  glyph.Canvas().FillRect(cl::Rect(0, 0, 32, 32));
  glyph.Canvas().Draw(0, 0, OxTrayIcon1->CurrentIcon());
  // Changing the picture in place: assigning it to itself tells the button.
  cl::TBitmap copy;
  copy.Assign(&glyph);
  glyph.Assign(&copy);
}

void TFenEditMessages::btnTrayMenuClick(cl::TObject*) {
  const cl::TPoint at = btnTrayMenu->ClientToScreen(cl::TPoint{0, btnTrayMenu->Height()});
  PopupTray->SetPopupComponent(btnTrayMenu);
  PopupTray->Popup(at.X, at.Y);
}

}  // namespace mirvel
