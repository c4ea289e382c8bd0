// TControl and TWinControl: the visual components, their geometry, their messages and the
// align layout.
//
// Ownership and lifetime.  A control is a component (owned and freed by its owner) placed in a
// parent (SetParent), which lists it and lays it out but does not own it; a dying parent first
// takes its children out, a dying child leaves its parent.  Each control has a toolkit peer (a
// widget, never visible in these headers) that lives exactly as long as the control.
//
// Geometry is absolute, in pixels of the parent's client area; the layout below is the only
// thing that moves controls by itself:
//   alTop children stack downwards in creation order, then alBottom upwards, then alLeft and
//   alRight inwards, and alClient takes what is left; hidden children take no room.  The layout
//   runs again on every resize of the parent and every change of a child's bounds, visibility or
//   alignment, and the parent's OnResize comes after it.
//
// Messages.  Every input and notification reaches a control as a TMessage through its
// WindowProc, in the class library's numbering (Messages.h): mouse buttons and moves, keys and
// characters, focus, CM_MOUSEENTER/LEAVE, CM_ENTER/EXIT, WM_DESTROY...  WindowProc starts as the
// control's own WndProc (message methods, then DefaultHandler, which calls the virtual methods
// such as MouseDown and KeyDown, which fire the events).  Anyone may replace it with a method
// that calls the one it replaced: a chain.  A replacement comes with an owner token so that it
// can tell later whether the chain's head is still its own (std::function values cannot be
// compared).  When a handler in the chain does not pass a toolkit input message on, the
// toolkit's default action (a button press, a character typed) does not happen either.  Mouse
// moves arrive also without a button held, as the mouse passes over a control.
//
// Exceptions.  No exception leaves our code into the toolkit: every call from toolkit dispatch
// runs under Application().HandleException with the dispatching control as sender.
//
// Threads: GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/forms/Graphics.h"
#include "classlib/forms/Types.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Messages.h"
#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/TSet.h"

namespace cl {

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftStateFlag { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TSet<TShiftStateFlag>;

// Virtual-key codes of the keys the program looks at.
// clang-format off
constexpr uint16_t VK_BACK = 8, VK_TAB = 9, VK_RETURN = 13, VK_SHIFT = 16, VK_CONTROL = 17,
                   VK_MENU = 18, VK_ESCAPE = 27, VK_SPACE = 32, VK_PRIOR = 33, VK_NEXT = 34,
                   VK_END = 35, VK_HOME = 36, VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39,
                   VK_DOWN = 40, VK_INSERT = 45, VK_DELETE = 46, VK_F1 = 112;
// clang-format on

using TKeyEvent = std::function<void(TObject* sender, uint16_t& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TObject* sender, char& key)>;
using TMouseEvent =
    std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;

// A key message's fields (WM_KEYDOWN, WM_KEYUP, WM_CHAR, CM_DIALOGKEY): the key code in WParam
// (the character's Windows-1252 byte for WM_CHAR), the shift state's bits in LParam.  A handler
// that sets the key to 0 consumes it.
struct TWMKey {
  explicit TWMKey(TMessage& message) : message_(message) {}
  uint16_t CharCode() const { return static_cast<uint16_t>(message_.WParam); }
  void SetCharCode(uint16_t code) { message_.WParam = code; }
  TShiftState Shift() const {
    return TShiftState::FromBits(static_cast<uint32_t>(message_.LParam));
  }

 private:
  TMessage& message_;
};

// The mouse position of a mouse message: x in the low 16 bits of LParam, y in the high 16 bits
// (both signed), the shift state's bits in WParam.
inline TPoint MousePoint(const TMessage& message) {
  return {static_cast<int16_t>(message.LParam & 0xFFFF),
          static_cast<int16_t>((message.LParam >> 16) & 0xFFFF)};
}

class TWinControl;
class TPopupMenu;
struct TControlImpl;

class TControl : public TComponent, public TMessageObject {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);

  int Left() const { return bounds_.Left; }
  int Top() const { return bounds_.Top; }
  int Width() const { return bounds_.Width(); }
  int Height() const { return bounds_.Height(); }
  void SetLeft(int left) { SetBounds(left, Top(), Width(), Height()); }
  void SetTop(int top) { SetBounds(Left(), top, Width(), Height()); }
  void SetWidth(int width) { SetBounds(Left(), Top(), width, Height()); }
  void SetHeight(int height) { SetBounds(Left(), Top(), Width(), height); }
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return bounds_; }
  // (0, 0, Width, Height).
  virtual TRect ClientRect() const;
  TPoint ClientToScreen(TPoint point) const;
  TPoint ScreenToClient(TPoint point) const;

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);
  // The control's own flags; Showing is whether it and all its parents are visible.
  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Showing() const;
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  const std::string& Text() const { return caption_; }
  void SetText(const std::string& text) { SetCaption(text); }
  // The control's colour and font; ParentColor/ParentFont make it follow its parent's (set by
  // default, cleared by any own change).
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  bool ParentColor() const { return parent_color_; }
  void SetParentColor(bool parent_color);
  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  bool ParentFont() const { return parent_font_; }
  void SetParentFont(bool parent_font);

  // A right click on the control opens this menu (when its AutoPopup is set).
  TPopupMenu* PopupMenu() const { return popup_menu_; }
  void SetPopupMenu(TPopupMenu* menu);

  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor cursor);

  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  bool ShowHint() const { return show_hint_; }
  void SetShowHint(bool show);
  // ShowHint follows the parent's while set (cleared by SetShowHint).
  bool ParentShowHint() const { return parent_show_hint_; }
  void SetParentShowHint(bool follow);
  // The three-dimensional look: always on (the system draws its controls that way); kept so
  // that code testing it reads as written.
  bool Ctl3D() const { return true; }
  void SetCtl3D(bool) {}

  const TNotifyEvent& OnClick() const { return on_click_; }
  void SetOnClick(TNotifyEvent handler) { on_click_ = std::move(handler); }
  const TNotifyEvent& OnDblClick() const { return on_dbl_click_; }
  void SetOnDblClick(TNotifyEvent handler) { on_dbl_click_ = std::move(handler); }
  const TMouseEvent& OnMouseDown() const { return on_mouse_down_; }
  void SetOnMouseDown(TMouseEvent handler) { on_mouse_down_ = std::move(handler); }
  const TMouseEvent& OnMouseUp() const { return on_mouse_up_; }
  void SetOnMouseUp(TMouseEvent handler) { on_mouse_up_ = std::move(handler); }
  const TMouseMoveEvent& OnMouseMove() const { return on_mouse_move_; }
  void SetOnMouseMove(TMouseMoveEvent handler) { on_mouse_move_ = std::move(handler); }
  const TNotifyEvent& OnResize() const { return on_resize_; }
  void SetOnResize(TNotifyEvent handler) { on_resize_ = std::move(handler); }

  // Lets files be dropped on the control: they arrive as WM_DROPFILES (ShellApi.h).
  void SetAcceptFiles(bool accept);

  // Whether this control holds the mouse capture (see GetCaptureControl).
  bool MouseCapture() const;
  void SetMouseCapture(bool capture);

  // The head of the message chain and the token of whoever installed it (null for the control's
  // own WndProc).
  const TWndMethod& WindowProc() const { return window_proc_; }
  const void* WindowProcOwner() const { return window_proc_owner_; }
  void SetWindowProc(TWndMethod method, const void* owner = nullptr);
  // Runs a message through WindowProc now and returns its Result.
  LRESULT Perform(uint32_t msg, WPARAM w_param, LPARAM l_param);

  void Invalidate();
  void Repaint();
  void BringToFront();
  // Performs a click as the user would (fires OnClick).
  virtual void Click();

  TControlImpl* Impl() const { return impl_.get(); }

 protected:
  // A control whose MouseUp runs Click itself (a speed button) must not be clicked again by the
  // release that reached it.
  void SetClicksOnMouseUp(bool value);
  void Notification(TComponent* component, TOperation operation) override;
  // The end of the chain: message methods, then DefaultHandler.
  virtual void WndProc(TMessage& message);
  // Turns input messages into the virtual methods below.
  void DefaultHandler(TMessage& message) override;

  virtual void DblClick();
  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual void Resize();
  // Called when the caption changed (the peer shows it).
  virtual void TextChanged() {}
  // Called when the colour or the font changed (own or the parent's).
  virtual void ColorChanged();
  virtual void FontChanged();

  // The peer, made by the concrete class's constructor (ControlImpl.h).
  friend struct TControlImpl;
  std::unique_ptr<TControlImpl> impl_;

 private:
  void ParentGone() { parent_ = nullptr; }
  void FollowParent();
  void UpdateToolTip();
  friend class TWinControl;

  TWinControl* parent_ = nullptr;
  TRect bounds_;
  TAlign align_ = alNone;
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  TColor color_ = clBtnFace;
  bool parent_color_ = true;
  TFont font_;
  bool parent_font_ = true;
  bool following_parent_ = false;
  std::string hint_;
  bool show_hint_ = false;
  bool parent_show_hint_ = true;
  TCursor cursor_ = crDefault;
  TPopupMenu* popup_menu_ = nullptr;
  TNotifyEvent on_click_;
  TNotifyEvent on_dbl_click_;
  TMouseEvent on_mouse_down_;
  TMouseEvent on_mouse_up_;
  TMouseMoveEvent on_mouse_move_;
  TNotifyEvent on_resize_;
  TWndMethod window_proc_;
  const void* window_proc_owner_ = nullptr;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(static_cast<size_t>(index)); }

  // The window handle, allocated on first use; its messages go through WindowProc.
  HWND Handle();
  bool HandleAllocated() const { return handle_ != 0; }
  // Destroys the handle (WM_DESTROY through the chain) and lets the next Handle() make a new
  // one; the chain stays as it is.
  void RecreateWnd();
  // Sends a message to every child control.
  void Broadcast(TMessage& message);

  int TabOrder() const { return tab_order_; }
  void SetTabOrder(int order);
  bool TabStop() const { return tab_stop_; }
  // Only tab stops receive the focus by Tab; the others by a click or by code.  A control
  // parked outside its parent (at a negative position) is skipped too.
  void SetTabStop(bool tab_stop);
  void SetBounds(int left, int top, int width, int height) override;
  bool Focused() const;
  bool CanFocus() const;
  virtual void SetFocus();

  const TKeyEvent& OnKeyDown() const { return on_key_down_; }
  void SetOnKeyDown(TKeyEvent handler) { on_key_down_ = std::move(handler); }
  const TKeyEvent& OnKeyUp() const { return on_key_up_; }
  void SetOnKeyUp(TKeyEvent handler) { on_key_up_ = std::move(handler); }
  const TKeyPressEvent& OnKeyPress() const { return on_key_press_; }
  void SetOnKeyPress(TKeyPressEvent handler) { on_key_press_ = std::move(handler); }
  const TNotifyEvent& OnEnter() const { return on_enter_; }
  void SetOnEnter(TNotifyEvent handler) { on_enter_ = std::move(handler); }
  const TNotifyEvent& OnExit() const { return on_exit_; }
  void SetOnExit(TNotifyEvent handler) { on_exit_ = std::move(handler); }

  // Lays the aligned children out now (normally automatic).
  void Realign();
  // Chains the children's focus order by TabOrder, here and in every child container.
  void UpdateTabOrder();

 protected:
  void DefaultHandler(TMessage& message) override;
  virtual void KeyDown(uint16_t& key, TShiftState shift);
  virtual void KeyUp(uint16_t& key, TShiftState shift);
  virtual void KeyPress(char& key);
  virtual void DoEnter();
  virtual void DoExit();

 private:
  friend class TControl;
  friend struct TControlImpl;
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
  void UpdateFocusPolicy();

  std::vector<TControl*> controls_;
  HWND handle_ = 0;
  int tab_order_ = -1;
  bool tab_stop_ = false;
  TKeyEvent on_key_down_;
  TKeyEvent on_key_up_;
  TKeyPressEvent on_key_press_;
  TNotifyEvent on_enter_;
  TNotifyEvent on_exit_;
};

// A control drawn by the program in Paint (labels, panels, grids, pop-up windows).
// The window styles a custom control may ask for in CreateParams.
// clang-format off
constexpr uint32_t WS_POPUP = 0x80000000u, WS_BORDER = 0x00800000u, WS_CLIPCHILDREN = 0x02000000u;
constexpr uint32_t WS_EX_TOOLWINDOW = 0x00000080u, WS_EX_CLIENTEDGE = 0x00000200u;
// clang-format on

struct TCreateParams {
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
  // Never activated by the mouse (MA_NOACTIVATE): a pop-up that leaves the focus where it is.
  bool NoActivate = false;
};

// A control drawn by the program in Paint.  CreateParams runs once, before the control first
// shows or gives its handle: WS_POPUP makes it a top-level window of its own (a tool window that
// never takes activation or focus when NoActivate is set), WS_BORDER draws a one-pixel frame and
// WS_EX_CLIENTEDGE a sunken two-pixel edge around the painting.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* owner);
  ~TCustomControl() override;

  // Draws only inside Paint; measures text at any time.
  TCanvas& Canvas() { return *canvas_; }
  void SetVisible(bool visible) override;
  // The area inside the frame the styles draw.
  TRect ClientRect() const override;

 protected:
  virtual void CreateParams(TCreateParams& params);
  // Draws the control; the area is already filled with Color.
  virtual void Paint() {}
  // Applies CreateParams now when it has not run yet.
  void EnsureCreated();
  friend struct TControlImpl;

 private:
  std::unique_ptr<TCanvas> canvas_;
  TCreateParams params_;
  bool created_ = false;
};

// A control without a window of its own, drawn by the program in Paint over its parent (speed
// buttons).  It takes no focus.
class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* owner);
  ~TGraphicControl() override;

  TCanvas& Canvas() { return *canvas_; }

 protected:
  virtual void Paint() {}
  friend struct TControlImpl;

 private:
  std::unique_ptr<TCanvas> canvas_;
};

// The mouse cursor's position on the screen.
TPoint GetCursorPos();
// The keyboard's modifier keys and the mouse buttons held now.
TShiftState GetShiftState();
// The control of this program under a screen point (the innermost), or null.
TControl* FindControlAt(TPoint screen_point);

// The control that holds the mouse capture (a button pressed on it, or SetMouseCapture), or
// null.
TControl* GetCaptureControl();
// Sends WM_CANCELMODE to the control holding the capture, which lets it go: done when a modal
// loop or a pop-up menu starts.  A window losing activation sends none: the program's pop-ups
// close when their edit loses the focus, and nothing else waits for it.
void CancelMode();

// Runs `call` under the exception boundary: an exception goes to
// Application().HandleException(sender).  Returns false when one was raised.  Every call from
// the toolkit into our code goes through it; controls freed inside it lose their widgets only
// once the toolkit has left its frame.
bool CallGuarded(TObject* sender, const std::function<void()>& call) noexcept;

}  // namespace cl
