#include "classlib/forms/Dialogs.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Controls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/QtText.h"
#include "classlib/forms/Screen.h"
#include "classlib/rtl/EventLoop.h"

namespace cl {
namespace {

std::function<int(const TMessageDlgRequest&)>& Responder() {
  static std::function<int(const TMessageDlgRequest&)> responder;
  return responder;
}

std::deque<std::function<void()>>& ModalActions() {
  static std::deque<std::function<void()>> actions;
  return actions;
}

std::atomic<int> g_beeps{0};

struct ButtonInfo {
  TMsgDlgBtn button;
  const char* caption;  // Windows-1252
  int result;
  QMessageBox::ButtonRole role;
};

// clang-format off
const ButtonInfo kButtons[] = {
  {mbYes,    "&Oui",                 mrYes,    QMessageBox::YesRole},
  {mbNo,     "&Non",                 mrNo,     QMessageBox::NoRole},
  {mbOK,     "OK",                   mrOk,     QMessageBox::AcceptRole},
  {mbCancel, "Annuler",              mrCancel, QMessageBox::RejectRole},
  {mbAbort,  "&Abandonner",          mrAbort,  QMessageBox::RejectRole},
  {mbRetry,  "&R\xE9" "essayer",     mrRetry,  QMessageBox::AcceptRole},
  {mbIgnore, "&Ignorer",             mrIgnore, QMessageBox::AcceptRole},
  {mbAll,    "&Tous",                mrAll,    QMessageBox::AcceptRole},
  {mbHelp,   "&Aide",                mrNone,   QMessageBox::HelpRole},
};
// clang-format on

// Escape answers Cancel, else No, else OK (else nothing).
int EscapeResult(TMsgDlgButtons buttons) {
  if (buttons.Contains(mbCancel)) return mrCancel;
  if (buttons.Contains(mbNo)) return mrNo;
  if (buttons.Contains(mbOK)) return mrOk;
  return mrNone;
}

// The window a box belongs to: the active one, else the newest form still taking input (the
// modal one, since a modal form disables the others).
QWidget* BoxOwner() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (int i = Screen().FormCount() - 1; i >= 0; --i) {
    auto* form = dynamic_cast<TForm*>(Screen().Forms(i));
    if (form != nullptr && form->Visible() && form->Enabled()) return WidgetOf(form);
  }
  return nullptr;
}

int ShowBox(const TMessageDlgRequest& request) {
  CancelMode();
  // Owned by the window it speaks for, the box stays above it and blocks it (and only it and its
  // owners: the tray's window stays live).  The owner may go while the box waits: held weakly.
  QPointer<QMessageBox> owned = new QMessageBox(BoxOwner());
  struct Free {
    QPointer<QMessageBox>& box;
    ~Free() { delete box.data(); }
  } free_box{owned};
  QMessageBox& box = *owned;
  box.setWindowTitle(ToQString(request.caption));
  // Texts show as typed: a name such as "<b>" is never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(ToQString(request.text));
  switch (request.type) {
    case mtWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case mtError:
      box.setIcon(QMessageBox::Critical);
      break;
    case mtInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case mtConfirmation:
      box.setIcon(QMessageBox::Question);
      break;
    default:
      break;
  }
  std::vector<std::pair<QAbstractButton*, int>> results;
  QPushButton* default_button = nullptr;
  QPushButton* escape_button = nullptr;
  const int escape_result = EscapeResult(request.buttons);
  for (const ButtonInfo& info : kButtons) {
    if (!request.buttons.Contains(info.button)) continue;
    if (info.button == mbHelp && request.help_context == 0) continue;
    QPushButton* button = box.addButton(ToQString(info.caption), info.role);
    results.push_back({button, info.result});
    if (default_button == nullptr && (info.button == mbOK || info.button == mbYes)) {
      default_button = button;
    }
    if (info.result == escape_result && escape_result != mrNone) escape_button = button;
  }
  if (default_button != nullptr) box.setDefaultButton(default_button);
  if (escape_button != nullptr) box.setEscapeButton(escape_button);
  box.setWindowModality(box.parentWidget() != nullptr ? Qt::WindowModal : Qt::NonModal);
  for (;;) {
    QEventLoop loop;
    QObject::connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
    QObject::connect(&box, &QObject::destroyed, &loop, &QEventLoop::quit);
    box.show();
    StartModalAction();
    loop.exec();
    if (owned.isNull()) return escape_result;
    QAbstractButton* clicked = box.clickedButton();
    if (clicked == nullptr) return escape_result;
    for (const auto& [button, result] : results) {
      // The help button does nothing (there is no help viewer): the box stays.
      if (button == clicked && result != mrNone) return result;
    }
  }
}

}  // namespace

std::string MessageDlgCaption(TMsgDlgType type) {
  switch (type) {
    case mtWarning:
      return "Avertissement";
    case mtError:
      return "Erreur";
    case mtInformation:
      return "Information";
    case mtConfirmation:
      return "Confirmation";
    default:
      return "";
  }
}

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
               int help_context) {
  return MessageDlgCaption(MessageDlgCaption(type), text, type, buttons, help_context);
}

int MessageDlgCaption(const std::string& caption, const std::string& text, TMsgDlgType type,
                      TMsgDlgButtons buttons, int help_context) {
  const TMessageDlgRequest request{caption, text, type, buttons, help_context};
  if (Responder()) {
    auto responder = Responder();
    return responder(request);
  }
  return ShowBox(request);
}

void SetMessageDlgResponder(std::function<int(const TMessageDlgRequest& request)> responder) {
  Responder() = std::move(responder);
}

void AddModalAction(std::function<void()> action) { ModalActions().push_back(std::move(action)); }

int PendingModalActions() { return static_cast<int>(ModalActions().size()); }

void ClearModalActions() { ModalActions().clear(); }

void StartModalAction() {
  if (ModalActions().empty()) return;
  std::function<void()> action = std::move(ModalActions().front());
  ModalActions().pop_front();
  if (TEventLoop* loop = CurrentEventLoop()) loop->Post(std::move(action));
}

void MessageBeep(unsigned) {
  ++g_beeps;
  if (QApplication::instance() != nullptr) QApplication::beep();
}

int MessageBeepCount() { return g_beeps.load(); }

}  // namespace cl
