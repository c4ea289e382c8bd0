// Message boxes, the test seams of modal dialogs, and the beep.
//
// MessageDlg shows a box with the type's caption ("Erreur", "Avertissement", "Confirmation",
// "Information"), the text and the buttons in their order ("&Oui", "&Non", "OK", "Annuler",
// "&Abandonner", "&Réessayer", "&Ignorer", "&Tous", "&Aide"), and returns the mrXxx of the
// button pressed.  OK or Yes is the default button; Escape answers Cancel, else No, else OK.
// The help button exists only with a help context and does nothing (there is no help viewer).
//
// Seams for tests: a responder answers every box without showing anything; a modal driver holds
// scripted actions, and each modal loop that starts (a form's ShowModal, a box, a folder dialog)
// runs the next action inside that loop.
#pragma once

#include <functional>
#include <string>

#include "classlib/rtl/TSet.h"

namespace cl {

// Modal results.
constexpr int mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6,
              mrNo = 7, mrAll = 8;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbHelp };
using TMsgDlgButtons = TSet<TMsgDlgBtn>;

// What a box would show, as the responder sees it.
struct TMessageDlgRequest {
  std::string caption;  // Windows-1252
  std::string text;
  TMsgDlgType type = mtInformation;
  TMsgDlgButtons buttons;
  int help_context = 0;
};

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int help_context);
// The same with an explicit caption (the standard exception box uses the application's title).
int MessageDlgCaption(const std::string& caption, const std::string& text, TMsgDlgType type,
                      TMsgDlgButtons buttons, int help_context);
// The caption of a box type.
std::string MessageDlgCaption(TMsgDlgType type);

// Installs (or, empty, removes) the responder.
void SetMessageDlgResponder(std::function<int(const TMessageDlgRequest& request)> responder);

// Queues an action for the next modal loop that starts; actions run in order, one per loop.
void AddModalAction(std::function<void()> action);
int PendingModalActions();
void ClearModalActions();
// Called by every modal loop as it starts: posts the next action into it.
void StartModalAction();

// The system beep.  Tests read the count instead of listening.
void MessageBeep(unsigned type);
int MessageBeepCount();

}  // namespace cl
