// The application object and the screen's registry of forms and data modules.
//
// Application() owns the program's forms and data modules (created with it as owner) and is the
// one place where an exception that nobody above will catch ends: HandleException passes it to
// OnException when assigned, else to ShowException.  The silent EAbort is never shown and never
// passed on, so an operation that a dialog already explained ends without a second report.
// Other C++ exceptions are reported as an Exception with their what() text.
//
// ShowException writes to stderr until the user interface installs its message box
// (SetShowExceptionHook).  The program's main calls SetCommandLine first and
// Application().DestroyComponents() last, so that forms and modules die before static objects.
//
// The application owns a window handle from its creation, before any form exists.  Messages for
// it go to the main form's handle once the user interface named one (SetMainForm); until then
// they are kept, in order, and posted to the main form when it comes.  Posted messages pass
// OnMessage first.
//
// The running part (Run, ProcessMessages, the main form, minimising) belongs to the user
// interface, which installs a TApplicationBackend; without one (a program without windows) those
// calls do nothing.  Initialize also starts the receiver of messages from other processes and the
// watcher of the end of the session: SIGTERM or SIGHUP sends the main form WM_QUERYENDSESSION,
// then WM_ENDSESSION(1), and ends Run.
//
// Threads: GUI thread only (worker threads post to the event loop instead).
#pragma once

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/Messages.h"
#include "classlib/rtl/TComponent.h"

namespace cl {

class TForm;

using TExceptionEvent = std::function<void(TObject* sender, Exception& e)>;
using TMessageEvent = std::function<void(TMsg& msg, bool& handled)>;

// What the user interface supplies to the application object.
class TApplicationBackend {
 public:
  virtual ~TApplicationBackend() = default;
  // Installs the toolkit's event loop and message box.
  virtual void Initialize() = 0;
  // Shows the main form unless ShowMainForm is false, then runs the loop until Terminate or
  // until the main form closes.
  virtual void Run() = 0;
  // Called by Terminate: the running loop must end.
  virtual void Terminate() = 0;
  virtual void ProcessMessages() = 0;
  // Called for each CreateForm while there is no main form: when `component` is a form, calls
  // Application().SetMainForm with it and its handle.
  virtual void OfferMainForm(TComponent* component) = 0;
  virtual void Minimize() = 0;
  virtual void Restore() = 0;
  virtual bool IsIconic() = 0;
  // Brings the application's active form (or its main form) to the foreground.
  virtual void BringToFront() = 0;
};

// Installs (or, with null, removes) the backend; not owned.
void SetApplicationBackend(TApplicationBackend* backend);

class TApplication : public TComponent {
 public:
  TApplication();

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  const std::string& HelpFile() const { return help_file_; }
  void SetHelpFile(const std::string& help_file) { help_file_ = help_file; }
  bool ShowMainForm() const { return show_main_form_; }
  void SetShowMainForm(bool show) { show_main_form_ = show; }

  // The running executable's full path (ParamStr(0)).
  std::string ExeName() const;

  // The handler of unhandled exceptions; a copy of it can be saved and put back later.
  const TExceptionEvent& OnException() const { return on_exception_; }
  void SetOnException(TExceptionEvent handler) { on_exception_ = std::move(handler); }

  // REQUIRES: called inside a catch block (otherwise it does nothing).  Reports the exception
  // being handled, as described above; never throws: a handler that fails has its own exception
  // shown.  Without a sender (null) the application object stands in, so OnException always
  // receives an object it can name.
  void HandleException(TObject* sender) noexcept;

  // The standard exception box (or stderr before a user interface exists).
  void ShowException(Exception& e) noexcept;
  void SetShowExceptionHook(std::function<void(Exception&)> hook) { show_hook_ = std::move(hook); }

  // Asks the message loop to end.
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Accepted and kept; there is no help viewer.
  int HelpContext() const { return help_context_; }
  void SetHelpContext(int context) { help_context_ = context; }

  HWND Handle() const { return handle_; }
  TForm* MainForm() const { return main_form_; }
  // Called by the user interface: the main form and the handle that receives the application's
  // messages (kept ones are posted to it now, in order).  A null form forgets it.
  void SetMainForm(TForm* form, HWND form_handle);

  const TMessageEvent& OnMessage() const { return on_message_; }
  void SetOnMessage(TMessageEvent handler) { on_message_ = std::move(handler); }
  // Offers a message to OnMessage; true when it was handled.  The user interface calls it for
  // messages it produces from window-system events too.
  bool FilterMessage(TMsg& msg);

  // Installs the backend's loop, then starts the message receiver and the end-of-session
  // watcher.  Failures of the last two leave the program running without them.
  void Initialize();
  void Run();
  void ProcessMessages();
  void Minimize();
  void Restore();
  bool IsIconic();
  void BringToFront();

  // Creates a form or data module owned by the application, in program order.  `reference` is
  // set before the constructor runs, so that the object's OnCreate may already use it.  The
  // first form created becomes MainForm; a data module never does.  If construction throws,
  // `reference` becomes null and the exception passes on.
  template <class T>
  void CreateForm(T*& reference) {
    void* memory = ::operator new(sizeof(T));
    reference = static_cast<T*>(memory);
    try {
      new (memory) T(this);
    } catch (...) {
      ::operator delete(memory);
      reference = nullptr;
      throw;
    }
    try {
      reference->AfterConstruction();
    } catch (...) {
      delete reference;
      reference = nullptr;
      throw;
    }
    FormCreated(reference);
  }

 private:
  void Report(TObject* sender, Exception& e) noexcept;
  void FormCreated(TComponent* component);
  void WndProc(TMessage& message);
  void EndSession();

  std::string title_;
  std::string help_file_;
  int help_context_ = 0;
  bool show_main_form_ = true;
  bool terminated_ = false;
  TExceptionEvent on_exception_;
  TMessageEvent on_message_;
  std::function<void(Exception&)> show_hook_;
  HWND handle_ = 0;
  TForm* main_form_ = nullptr;
  HWND main_form_handle_ = 0;
  std::vector<TMessage> kept_;
};

TApplication& Application();

// Ends the process at once with `exit_code`, after flushing stdio, without closing forms or
// running destructors.  With a hook installed (tests), the hook runs instead; it must not return
// (it throws), and if it does the process ends anyway.
[[noreturn]] void Halt(int exit_code);
void SetHaltHook(std::function<void(int exit_code)> hook);

// Records the command line; ParamStr(0) is always the executable's full path.
void SetCommandLine(int argc, const char* const* argv);
int ParamCount();
// The i-th argument (Windows-1252); empty when out of range.
std::string ParamStr(int index);

// Mouse cursors: the system's shapes (negative ids) and shapes the program registers with the
// user interface (positive ids).
using TCursor = int;
// clang-format off
constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4,
                  crSizeNESW = -6, crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9,
                  crUpArrow = -10, crHourGlass = -11, crDrag = -12, crNoDrop = -13,
                  crHSplit = -14, crVSplit = -15, crMultiDrag = -16, crSQLWait = -17, crNo = -18,
                  crAppStart = -19, crHelp = -20, crHandPoint = -21;
// clang-format on

// What the user interface supplies to the screen object.
class TScreenBackend {
 public:
  virtual ~TScreenBackend() = default;
  // Shows `cursor` over the whole application (crDefault: each control's own again).
  virtual void SetCursor(TCursor cursor) = 0;
  virtual int Width() = 0;
  virtual int Height() = 0;
  virtual int PixelsPerInch() = 0;
  virtual TForm* ActiveForm() = 0;
  // True when the active window of the desktop is one of this program's.
  virtual bool ApplicationActive() = 0;
};

// Installs (or, with null, removes) the backend; not owned.
void SetScreenBackend(TScreenBackend* backend);

// The forms (registered by the user interface) and the data modules of the program, in creation
// order.  Registration is automatic for data modules.  Without a user interface the screen is
// 640 x 480 at 96 pixels per inch and nothing is active.
class TScreen {
 public:
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor cursor);
  int Width() const;
  int Height() const;
  int PixelsPerInch() const;
  TForm* ActiveForm() const;
  bool ApplicationActive() const;

  int FormCount() const { return static_cast<int>(forms_.size()); }
  TComponent* Forms(int index) const;
  int DataModuleCount() const { return static_cast<int>(data_modules_.size()); }
  TComponent* DataModules(int index) const;

  void AddForm(TComponent* form);
  void RemoveForm(TComponent* form);
  void AddDataModule(TComponent* module);
  void RemoveDataModule(TComponent* module);

 private:
  std::vector<TComponent*> forms_;
  std::vector<TComponent*> data_modules_;
  TCursor cursor_ = crDefault;
};

TScreen& Screen();

}  // namespace cl
