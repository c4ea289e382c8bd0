// Window handles and messages: the message core of the class library.
//
// A window handle (HWND) names something that receives messages: a form or control once it
// asked for its Handle(), the application object, or a utility window of AllocateHWnd.  Each
// handle has one window procedure (a TWndMethod) that receives its messages.  The user interface
// toolkit knows nothing of them: this core is Qt-free, so that non-visual code (the
// single-instance guard) posts and receives messages the same way.
//
// Handles.  HWND = (process id << 10) | index, index 1..1023, reused oldest first: 32 bits (the
// single-instance guard stores one in 4 bytes; process ids stay below 2^22 on 64-bit Linux) and
// unique on the machine while their process lives.  A handle of another process is reached only
// by PostMessage (see below).
//
// Posting.  PostMessage queues the message behind those already queued and asks the installed
// event loop (EventLoop.h) to deliver one message later; so a message posted while another is
// handled runs after it and after every message posted before.  Delivery of a posted message:
// the application's OnMessage first (as a TMsg; it may mark it handled), then the handle's window
// procedure.  An exception from either goes to Application().HandleException: nothing escapes
// into the loop.  Freeing a handle drops its queued messages.  SendMessage calls the window
// procedure at once and returns its Result.  PostMessage is callable from any thread; everything
// else runs on the GUI thread.
//
// Between processes.  PostMessage to a handle of another process of the same user sends the
// datagram {hwnd, msg, wParam, lParam} (four u32, little-endian, parameters cut to 32 bits) to
// that process's message socket (platform/MessageSocket.h).  The receiving process, once
// StartMessageReceiver ran, accepts only messages WM_USER..0x7FFF (no system message can be
// injected), only for its own live handles, only from its own user, and only datagrams of exactly
// 16 bytes; anything else is dropped.  An accepted message is posted as if locally.  The sender
// refuses (false) a number outside that range, since it could never arrive.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>

namespace cl {

using HWND = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// clang-format off
constexpr uint32_t WM_NULL            = 0x0000;
constexpr uint32_t WM_DESTROY         = 0x0002;
constexpr uint32_t WM_SIZE            = 0x0005;
constexpr uint32_t WM_ACTIVATE        = 0x0006;
constexpr uint32_t WM_SETFOCUS        = 0x0007;
constexpr uint32_t WM_KILLFOCUS       = 0x0008;
constexpr uint32_t WM_PAINT           = 0x000F;
constexpr uint32_t WM_CLOSE           = 0x0010;
constexpr uint32_t WM_QUERYENDSESSION = 0x0011;
constexpr uint32_t WM_QUIT            = 0x0012;
constexpr uint32_t WM_ENDSESSION      = 0x0016;
constexpr uint32_t WM_WININICHANGE    = 0x001A;
constexpr uint32_t WM_CANCELMODE      = 0x001F;
constexpr uint32_t WM_GETMINMAXINFO   = 0x0024;
constexpr uint32_t WM_NCHITTEST       = 0x0084;
constexpr uint32_t WM_KEYDOWN         = 0x0100;
constexpr uint32_t WM_KEYUP           = 0x0101;
constexpr uint32_t WM_CHAR            = 0x0102;
constexpr uint32_t WM_SYSKEYDOWN      = 0x0104;
constexpr uint32_t WM_SYSKEYUP        = 0x0105;
constexpr uint32_t WM_SYSCOMMAND      = 0x0112;
constexpr uint32_t WM_TIMER           = 0x0113;
constexpr uint32_t WM_INITMENUPOPUP   = 0x0117;
constexpr uint32_t WM_MOUSEMOVE       = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN     = 0x0201;
constexpr uint32_t WM_LBUTTONUP       = 0x0202;
constexpr uint32_t WM_LBUTTONDBLCLK   = 0x0203;
constexpr uint32_t WM_RBUTTONDOWN     = 0x0204;
constexpr uint32_t WM_RBUTTONUP       = 0x0205;
constexpr uint32_t WM_RBUTTONDBLCLK   = 0x0206;
constexpr uint32_t WM_MBUTTONDOWN     = 0x0207;
constexpr uint32_t WM_MBUTTONUP       = 0x0208;
constexpr uint32_t WM_MBUTTONDBLCLK   = 0x0209;
constexpr uint32_t WM_DROPFILES       = 0x0233;
constexpr uint32_t WM_USER            = 0x0400;
// The last number another process may post (WM_USER..kLastUserMessage).
constexpr uint32_t kLastUserMessage   = 0x7FFF;

constexpr WPARAM SC_SIZE     = 0xF000;
constexpr WPARAM SC_MOVE     = 0xF010;
constexpr WPARAM SC_MINIMIZE = 0xF020;
constexpr WPARAM SC_MAXIMIZE = 0xF030;
constexpr WPARAM SC_CLOSE    = 0xF060;
constexpr WPARAM SC_RESTORE  = 0xF120;

// The class library's own notifications between controls.
constexpr uint32_t CM_BASE             = 0xB000;
constexpr uint32_t CM_ACTIVATE         = CM_BASE + 0;
constexpr uint32_t CM_DEACTIVATE       = CM_BASE + 1;
constexpr uint32_t CM_CANCELMODE       = CM_BASE + 4;
constexpr uint32_t CM_DIALOGKEY        = CM_BASE + 5;
constexpr uint32_t CM_DIALOGCHAR       = CM_BASE + 6;
constexpr uint32_t CM_ENABLEDCHANGED   = CM_BASE + 12;
constexpr uint32_t CM_COLORCHANGED     = CM_BASE + 13;
constexpr uint32_t CM_FONTCHANGED      = CM_BASE + 14;
constexpr uint32_t CM_TEXTCHANGED      = CM_BASE + 18;
constexpr uint32_t CM_MOUSEENTER       = CM_BASE + 19;
constexpr uint32_t CM_MOUSELEAVE       = CM_BASE + 20;
constexpr uint32_t CM_VISIBLECHANGED   = CM_BASE + 21;
// Asked of the focused control before Enter or Escape act on the form: 1 keeps the key.
constexpr uint32_t CM_WANTSPECIALKEY   = CM_BASE + 22;
constexpr uint32_t CM_ENTER            = CM_BASE + 26;
constexpr uint32_t CM_EXIT             = CM_BASE + 27;
constexpr uint32_t CM_RELEASE          = CM_BASE + 33;
constexpr uint32_t CM_SYSCOLORCHANGE   = CM_BASE + 36;
// clang-format on

// A message as a window procedure receives it; Result is its answer to SendMessage.
struct TMessage {
  uint32_t Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

// A posted message as the application's OnMessage sees it.
struct TMsg {
  HWND hwnd = 0;
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

using TWndMethod = std::function<void(TMessage& message)>;

// A new handle whose messages go to `method`.  Raises EOutOfResources when the process already
// holds 1023 handles.
HWND AllocateHWnd(TWndMethod method);
// Frees a handle and drops its queued messages; an unknown handle is ignored.  Safe inside the
// handle's own window procedure.
void DeallocateHWnd(HWND wnd);
// True for a live handle of this process.
bool IsWindow(HWND wnd);
// True when the handle names another process (its process part is not ours).
bool IsForeignHandle(HWND wnd);

// Queues a message as described above.  False for a dead handle of this process, a gone or
// unreachable process, or no installed event loop.
bool PostMessage(HWND wnd, uint32_t msg, WPARAM w_param, LPARAM l_param);
// Calls the window procedure now; 0 for a handle that is not a live handle of this process.
// An exception of the window procedure passes to the caller.
LRESULT SendMessage(HWND wnd, uint32_t msg, WPARAM w_param, LPARAM l_param);
// Removes the first queued message `msg` of `wnd`; true when one was removed.  WM_QUIT is never
// removed: it stays queued where it was.
bool RemovePendingMessage(HWND wnd, uint32_t msg);
// Queued messages not yet delivered (all handles).
int PendingMessageCount();

// OnMessage of the application: receives each posted message before its window procedure and
// returns true when it handled it.  Installed by the application object.
void SetPostedMessageFilter(std::function<bool(TMsg& msg)> filter);

// Opens this process's message socket and starts the thread that posts what it accepts.
// Returns 0 or the Win32-style error number; a second call does nothing.
uint32_t StartMessageReceiver();
// Stops that thread and removes the socket; later posts from other processes return false.
void StopMessageReceiver();

// An object with message methods: a table from message number to method, filled by the
// constructors of the class and its ancestors.  Dispatch runs the method of the message's number,
// else DefaultHandler.  A later registration for the same number (a derived class's constructor)
// overrides the earlier one and receives it as `inherited`, to call or not.
class TMessageObject {
 public:
  using TMessageMethod = std::function<void(TMessage& message, const TWndMethod& inherited)>;

  virtual ~TMessageObject() = default;

  void Dispatch(TMessage& message);
  // What runs for messages without a method (Result 0 here).
  virtual void DefaultHandler(TMessage& message);

 protected:
  void SetMessageMethod(uint32_t msg, TMessageMethod method);

 private:
  std::unordered_map<uint32_t, TWndMethod> methods_;
};

}  // namespace cl
