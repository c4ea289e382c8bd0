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
// Threads: GUI thread only (worker threads post to the event loop instead).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TComponent.h"

namespace cl {

using TExceptionEvent = std::function<void(TObject* sender, Exception& e)>;

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
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }

 private:
  void Report(TObject* sender, Exception& e) noexcept;

  std::string title_;
  std::string help_file_;
  bool show_main_form_ = true;
  bool terminated_ = false;
  TExceptionEvent on_exception_;
  std::function<void(Exception&)> show_hook_;
};

TApplication& Application();

// Records the command line; ParamStr(0) is always the executable's full path.
void SetCommandLine(int argc, const char* const* argv);
int ParamCount();
// The i-th argument (Windows-1252); empty when out of range.
std::string ParamStr(int index);

// The forms (registered by the user interface) and the data modules of the program, in creation
// order.  Registration is automatic for data modules.
class TScreen {
 public:
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
};

TScreen& Screen();

}  // namespace cl
