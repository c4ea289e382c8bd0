// The link between a control and its toolkit widget, for the visual layer's .cpp files only.
//
// The toolkit types are only declared here: this header includes nothing of Qt.  Each concrete
// control's constructor creates its widget and calls AttachWidget; from then on every toolkit
// event of the widget passes one event filter, which turns it into messages (Controls.cpp).
//
// Widgets are deleted only by their own control: a dying parent first takes its children's
// widgets out of its own.  A widget whose control dies while one of our event handlers is on the
// stack is deleted later by the loop (deleteLater), so that the toolkit never returns into a
// deleted widget; tests end with a flush of those deferred deletions.
#pragma once

#include <functional>

#include "classlib/forms/Controls.h"

class QCursor;
class QEvent;
class QWidget;
class QObject;

namespace cl {

struct TControlImpl {
  TControl* control = nullptr;
  QWidget* widget = nullptr;
  QObject* bridge = nullptr;
  // The toolkit produces clicks itself (buttons): a mouse release does not click.
  bool native_click = false;
  // Set when a message reached the end of the chain (the toolkit's default action may run).
  bool reached_default = false;
  // Extra events of this widget (forms: close, activation, window state); true consumes.
  std::function<bool(QEvent* event)> extra_events;

  // Runs a message through the chain and tells whether it reached DefaultHandler.
  bool PerformReached(TMessage& message);
  // Gives the widget the control's colour and font.
  static void ApplyLook(TControl* control) {
    control->ColorChanged();
    control->FontChanged();
  }
  // Runs a control's Paint with its canvas on the widget being painted.
  static void Paint(TCustomControl* control);
  static void Paint(TGraphicControl* control);
  static const TCreateParams& Params(const TCustomControl* control) { return control->params_; }
  // Takes the bounds the window system gave a top-level window.
  static void SyncBounds(TControl* control, const TRect& bounds) { control->bounds_ = bounds; }
};

// Stops the widget's events from reaching the control: called first by the destructors of
// controls with their own event handling, so that no event reaches a half-destroyed object.
void DetachEvents(TControl* control);
// The toolkit cursor of a cursor id (registered shapes first).
QCursor ToQCursor(TCursor cursor);
// Records the capture holder (null: none).
void SetCaptureControl(TControl* control);
// The control whose handle `wnd` is, or null; RegisterHandle records (null: forgets) it.
TWinControl* FindControl(HWND wnd);
void RegisterHandle(HWND wnd, TWinControl* control);
// Makes `widget` the control's peer (taking ownership) and starts the event filter.
void AttachWidget(TControl* control, QWidget* widget);
QWidget* WidgetOf(const TControl* control);
// The control whose peer `widget` is, or null.
TControl* ControlOfWidget(const QWidget* widget);
// True while one of our event handlers runs (widgets must then be deleted later).
bool InsideDispatch();

// The form's part in key handling, installed by Forms.cpp: `before` runs ahead of the focused
// control (key preview), `after` when the control left the key alone (dialog keys).  Each
// returns true when it consumed the key.
using TKeyHook = bool (*)(TControl* control, TMessage& message);
void SetKeyHooks(TKeyHook before, TKeyHook after);

}  // namespace cl
