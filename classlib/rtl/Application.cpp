#include "classlib/rtl/Application.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>

#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/EventLoop.h"
#include "platform/EndSessionSignal.h"
#include "platform/Environment.h"

namespace cl {
namespace {

std::vector<std::string>& Arguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

TApplicationBackend* g_backend = nullptr;
TScreenBackend* g_screen_backend = nullptr;

std::mutex g_halt_mutex;
std::function<void(int)> g_halt_hook;

}  // namespace

void SetApplicationBackend(TApplicationBackend* backend) { g_backend = backend; }

TApplication::TApplication() : TComponent(nullptr) {
  handle_ = AllocateHWnd([this](TMessage& message) { WndProc(message); });
  SetPostedMessageFilter([this](TMsg& msg) { return FilterMessage(msg); });
}

void TApplication::WndProc(TMessage& message) {
  if (main_form_handle_ != 0 && IsWindow(main_form_handle_)) {
    message.Result = SendMessage(main_form_handle_, message.Msg, message.WParam, message.LParam);
    return;
  }
  kept_.push_back(message);
}

void TApplication::SetMainForm(TForm* form, HWND form_handle) {
  main_form_ = form;
  main_form_handle_ = form == nullptr ? 0 : form_handle;
  if (main_form_handle_ == 0) return;
  std::vector<TMessage> kept;
  kept.swap(kept_);
  for (const TMessage& m : kept) PostMessage(main_form_handle_, m.Msg, m.WParam, m.LParam);
}

bool TApplication::FilterMessage(TMsg& msg) {
  if (!on_message_) return false;
  bool handled = false;
  TMessageEvent handler = on_message_;  // the handler may replace itself
  handler(msg, handled);
  return handled;
}

void TApplication::Terminate() {
  terminated_ = true;
  if (g_backend != nullptr) g_backend->Terminate();
}

void TApplication::Initialize() {
  if (g_backend != nullptr) g_backend->Initialize();
  // Without the receiver only other processes' posts fail (they see a gone process).
  StartMessageReceiver();
  static std::once_flag watcher_started;
  std::call_once(watcher_started, [this] {
    if (platform::InstallEndSessionSignals() != 0) return;
    std::thread([this] {
      while (platform::WaitForEndSessionSignal() != 0) {
        TEventLoop* loop = CurrentEventLoop();
        if (loop == nullptr) Halt(0);
        loop->Post([this] { EndSession(); });
      }
    }).detach();
  });
}

void TApplication::EndSession() {
  try {
    if (main_form_handle_ != 0) {
      SendMessage(main_form_handle_, WM_QUERYENDSESSION, 0, 0);
      SendMessage(main_form_handle_, WM_ENDSESSION, 1, 0);
    }
  } catch (...) {
    HandleException(this);
  }
  Terminate();
}

void TApplication::Run() {
  if (g_backend != nullptr) g_backend->Run();
}

void TApplication::ProcessMessages() {
  if (g_backend != nullptr) g_backend->ProcessMessages();
}

void TApplication::Minimize() {
  if (g_backend != nullptr) g_backend->Minimize();
}

void TApplication::Restore() {
  if (g_backend != nullptr) g_backend->Restore();
}

bool TApplication::IsIconic() { return g_backend != nullptr && g_backend->IsIconic(); }

void TApplication::BringToFront() {
  if (g_backend != nullptr) g_backend->BringToFront();
}

void TApplication::FormCreated(TComponent* component) {
  if (main_form_ == nullptr && g_backend != nullptr) g_backend->OfferMainForm(component);
}

void SetHaltHook(std::function<void(int exit_code)> hook) {
  std::lock_guard<std::mutex> guard(g_halt_mutex);
  g_halt_hook = std::move(hook);
}

void Halt(int exit_code) {
  std::function<void(int)> hook;
  {
    std::lock_guard<std::mutex> guard(g_halt_mutex);
    hook = g_halt_hook;
  }
  if (hook) hook(exit_code);
  // The process ends without its destructors: the message socket's file would stay behind.
  StopMessageReceiver();
  std::fflush(nullptr);
  std::_Exit(exit_code);
}

std::string TApplication::ExeName() const { return ParamStr(0); }

void TApplication::HandleException(TObject* sender) noexcept {
  if (!std::current_exception()) return;
  if (sender == nullptr) sender = this;
  try {
    throw;
  } catch (EAbort&) {
    // The silent exception: the operation was already explained.
  } catch (Exception& e) {
    Report(sender, e);
  } catch (std::exception& e) {
    Exception wrapped(e.what());
    Report(sender, wrapped);
  } catch (...) {
    Exception wrapped("Exception inconnue");
    Report(sender, wrapped);
  }
}

void TApplication::Report(TObject* sender, Exception& e) noexcept {
  if (!on_exception_) {
    ShowException(e);
    return;
  }
  try {
    TExceptionEvent handler = on_exception_;  // the handler may replace itself
    handler(sender, e);
  } catch (EAbort&) {
  } catch (Exception& failure) {
    ShowException(e);
    ShowException(failure);
  } catch (std::exception& failure) {
    Exception wrapped(failure.what());
    ShowException(e);
    ShowException(wrapped);
  } catch (...) {
    ShowException(e);
  }
}

void TApplication::ShowException(Exception& e) noexcept {
  try {
    if (show_hook_) {
      auto hook = show_hook_;
      hook(e);
      return;
    }
  } catch (...) {
    // The message box itself failed: fall back to stderr below.
  }
  try {
    std::string who = title_.empty() ? ExeName() : title_;
    std::string line = Cp1252ToUtf8(who + ": " + e.Message()) + "\n";
    std::fputs(line.c_str(), stderr);
  } catch (...) {
    std::fputs("exception (no memory to report it)\n", stderr);
  }
}

// Neither object is ever destroyed: components still alive at exit, and their handlers, may
// reach them from other static destructors.  The program frees its forms and modules itself
// (Application().DestroyComponents()) before main returns.
TApplication& Application() {
  static TApplication* application = new TApplication;
  return *application;
}

void SetCommandLine(int argc, const char* const* argv) {
  auto& arguments = Arguments();
  arguments.clear();
  for (int i = 0; i < argc; ++i) arguments.push_back(Utf8ToCp1252(argv[i] ? argv[i] : ""));
}

int ParamCount() {
  const auto& arguments = Arguments();
  return arguments.empty() ? 0 : static_cast<int>(arguments.size()) - 1;
}

std::string ParamStr(int index) {
  if (index == 0) {
    std::string path = platform::ExecutablePath();
    if (!path.empty()) return Utf8ToCp1252(path);
  }
  const auto& arguments = Arguments();
  if (index < 0 || index >= static_cast<int>(arguments.size())) return "";
  return arguments[static_cast<size_t>(index)];
}

void SetScreenBackend(TScreenBackend* backend) { g_screen_backend = backend; }

void TScreen::SetCursor(TCursor cursor) {
  if (cursor == cursor_) return;
  cursor_ = cursor;
  if (g_screen_backend != nullptr) g_screen_backend->SetCursor(cursor);
}

int TScreen::Width() const { return g_screen_backend ? g_screen_backend->Width() : 640; }
int TScreen::Height() const { return g_screen_backend ? g_screen_backend->Height() : 480; }
int TScreen::PixelsPerInch() const {
  return g_screen_backend ? g_screen_backend->PixelsPerInch() : 96;
}
TForm* TScreen::ActiveForm() const {
  return g_screen_backend ? g_screen_backend->ActiveForm() : nullptr;
}
bool TScreen::ApplicationActive() const {
  return g_screen_backend != nullptr && g_screen_backend->ApplicationActive();
}

TComponent* TScreen::Forms(int index) const {
  if (index < 0 || index >= FormCount()) ListIndexError(index);
  return forms_[static_cast<size_t>(index)];
}

TComponent* TScreen::DataModules(int index) const {
  if (index < 0 || index >= DataModuleCount()) ListIndexError(index);
  return data_modules_[static_cast<size_t>(index)];
}

void TScreen::AddForm(TComponent* form) { forms_.push_back(form); }

void TScreen::RemoveForm(TComponent* form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
}

void TScreen::AddDataModule(TComponent* module) { data_modules_.push_back(module); }

void TScreen::RemoveDataModule(TComponent* module) {
  data_modules_.erase(std::remove(data_modules_.begin(), data_modules_.end(), module),
                      data_modules_.end());
}

TScreen& Screen() {
  static TScreen* screen = new TScreen;
  return *screen;
}

}  // namespace cl
