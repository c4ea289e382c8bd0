// TForm: a top-level window with its controls, and the application's user-interface backend.
//
// Building.  A form class builds its controls in its constructor through a TLoader, as reading
// its form resource would; Application().CreateForm(ref) or cl::Create<T>(owner) then completes
// it: the tab order is settled and OnCreate fires (an exception from OnCreate is reported and the
// form lives on).  Width and Height are the client area's size.
//
// Showing and closing.  Show shows, raises and activates; Hide hides.  Close asks OnCloseQuery,
// then OnClose with an action: caHide hides, caFree hides and frees the form later (Release),
// caNone does nothing; the main form's close ends Application().Run.  A close asked by the window
// system is first offered to Application().OnMessage as WM_SYSCOMMAND/SC_CLOSE; unhandled, it is
// the normal Close.
//
// ShowModal.  Raises EInvalidOperation for a form already showing.  Disables the other visible,
// enabled forms, shows this one and runs a nested loop until ModalResult is not 0 (set by a
// button, by code, from a timer or from another window); Close inside it sets mrCancel after the
// close query.  Then the form hides, the others are enabled again and ModalResult is returned.
// The toolkit's own modality is not used: windows that are not forms (the tray's) stay live.
//
// Size limits.  WM_GETMINMAXINFO (a TMinMaxInfo, Screen.h) is sent to a sizeable form before it
// shows and whenever the window system resizes it; the answer's track sizes become the limits
// (equal minimum and maximum fix the size).
//
// Dialog keys.  Enter clicks the enabled, visible Default button; Escape clicks the Cancel
// button.  With KeyPreview the form sees each key (Tab included) before the focused control, and
// a key it sets to 0 goes no further.  "&" accelerators (Alt and the letter) click their button
// or focus their label's FocusControl.  Tab moves through the controls of each parent by
// TabOrder (creation order unless set), skipping those that are disabled or hidden.
#pragma once

#include <functional>
#include <string>

#include "classlib/forms/Controls.h"

namespace cl {

class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TPosition { poDesigned, poDefault, poScreenCenter };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow };
enum TFormStyle { fsNormal, fsStayOnTop };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = TSet<TBorderIcon>;

using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(TObject* sender, bool& can_close)>;

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  void AfterConstruction() override;

  void SetBounds(int left, int top, int width, int height) override;
  void SetVisible(bool visible) override;

  void Show();
  void Hide() { SetVisible(false); }
  int ShowModal();
  void Close();
  // Frees the form once the current message is handled.
  void Release();

  int ModalResult() const { return modal_result_; }
  void SetModalResult(int result);

  TPosition Position() const { return position_; }
  void SetPosition(TPosition position) { position_ = position; }
  TFormBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TFormBorderStyle style);
  TBorderIcons BorderIcons() const { return border_icons_; }
  void SetBorderIcons(TBorderIcons icons);
  TFormStyle FormStyle() const { return form_style_; }
  void SetFormStyle(TFormStyle style);
  TWindowState WindowState() const;
  void SetWindowState(TWindowState state);
  bool KeyPreview() const { return key_preview_; }
  void SetKeyPreview(bool preview) { key_preview_ = preview; }
  int HelpContext() const { return help_context_; }
  void SetHelpContext(int context) { help_context_ = context; }
  // The pixels per inch the form was designed at (96).
  int PixelsPerInch() const { return pixels_per_inch_; }
  void SetPixelsPerInch(int ppi) { pixels_per_inch_ = ppi; }
  // Scales the form's client size, its controls' bounds and their fonts by M / D.
  void ScaleBy(int m, int d);
  TWinControl* ActiveControl() const;
  void SetActiveControl(TWinControl* control);
  bool Active() const;

  const TNotifyEvent& OnCreate() const { return on_create_; }
  void SetOnCreate(TNotifyEvent handler) { on_create_ = std::move(handler); }
  const TNotifyEvent& OnDestroy() const { return on_destroy_; }
  void SetOnDestroy(TNotifyEvent handler) { on_destroy_ = std::move(handler); }
  const TNotifyEvent& OnShow() const { return on_show_; }
  void SetOnShow(TNotifyEvent handler) { on_show_ = std::move(handler); }
  const TNotifyEvent& OnHide() const { return on_hide_; }
  void SetOnHide(TNotifyEvent handler) { on_hide_ = std::move(handler); }
  const TNotifyEvent& OnActivate() const { return on_activate_; }
  void SetOnActivate(TNotifyEvent handler) { on_activate_ = std::move(handler); }
  const TNotifyEvent& OnDeactivate() const { return on_deactivate_; }
  void SetOnDeactivate(TNotifyEvent handler) { on_deactivate_ = std::move(handler); }
  const TCloseEvent& OnClose() const { return on_close_; }
  void SetOnClose(TCloseEvent handler) { on_close_ = std::move(handler); }
  const TCloseQueryEvent& OnCloseQuery() const { return on_close_query_; }
  void SetOnCloseQuery(TCloseQueryEvent handler) { on_close_query_ = std::move(handler); }

 protected:
  void DefaultHandler(TMessage& message) override;
  // OnCloseQuery's answer (true when there is none).
  virtual bool CloseQuery();
  void TextChanged() override;

 private:
  bool HandleWindowEvent(void* event);
  // Asks WM_GETMINMAXINFO for the size limits of a sizeable form and applies them.
  void ApplySizeLimits();
  bool PreviewKey(TMessage& message);
  void FireNotify(const TNotifyEvent& event);

  int modal_result_ = 0;
  bool modal_ = false;
  int requested_state_ = 0;  // the window states we last asked for
  // The window system has shown the state we last asked for (see HandleWindowEvent).
  bool state_acknowledged_ = true;
  bool shown_once_ = false;
  bool create_fired_ = false;
  TPosition position_ = poDesigned;
  TFormBorderStyle border_style_ = bsSizeable;
  TFormStyle form_style_ = fsNormal;
  TBorderIcons border_icons_{biSystemMenu, biMinimize, biMaximize};
  bool key_preview_ = false;
  int help_context_ = 0;
  int pixels_per_inch_ = 96;
  TNotifyEvent on_create_;
  TNotifyEvent on_destroy_;
  TNotifyEvent on_show_;
  TNotifyEvent on_hide_;
  TNotifyEvent on_activate_;
  TNotifyEvent on_deactivate_;
  TCloseEvent on_close_;
  TCloseQueryEvent on_close_query_;
  friend struct TFormAccess;
};

// The form that holds `control` (the control itself when it is one), or null.
TForm* GetParentForm(TControl* control);

// Installs the user interface's application backend (done by the first form too).
void InstallFormsBackend();

}  // namespace cl
