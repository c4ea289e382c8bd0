// A headless workstation for the multi-process tests: `mirvel-station [DIR]` creates the
// database module and the main data module as the program does, with a recording main window
// (minimized; the subject prompt answered; an unknown caller answered No; the new-message alert
// recorded and answered "&Ignorer"), on the offscreen platform with the real 5 s change timer.
// DIR, when given, is written first as the registry value "Database".
//
// Commands, one per line on stdin:
//   connect | disconnect
//   post N [COUNT]        COUNT messages (1 by default) to user N, or to the list N = "2;3;4"
//   clients PREFIX COUNT  COUNT clients named PREFIX1, PREFIX2, ...
//   hold MS               holds "Numeros.DAT" open exclusively for MS milliseconds
//   dump                  the messages and the clients, one line each
//   quit
// Output, one line per event: "<ms of the monotonic clock> <event> ...": connected N, posted
// DATEAPPEL (with %.10f), client N, stamp (a new change stamp seen), alert, shown (WM_USER+128),
// held, released, error MESSAGE (with the message table's state), msg/cli lines of a dump.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "app/InitDb.h"
#include "app/MBDMirvel.h"
#include "app/MMirvel.h"
#include "app/MVRegParams.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Forms.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/Registry.h"
#include "classlib/rtl/TTimer.h"
#include "engine/components/TTesseraSession.h"
#include "tests/app/RecordingWindows.h"

namespace {

constexpr uint32_t kCommandMessage = cl::WM_USER + 200;

std::mutex g_mutex;
std::deque<std::string> g_lines;

void Say(const std::string& event) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  std::printf("%lld %s\n", static_cast<long long>(ms), cl::Cp1252ToUtf8(event).c_str());
  std::fflush(stdout);
}

std::string Fixed(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10f", value);
  return text;
}

int& ConfirmAnswer() {
  static int answer = cl::mrNo;
  return answer;
}

class Station {
 public:
  explicit Station(cl::TComponent* owner) : owner_(owner) {
    windows_.on_post = [](uint32_t message) {
      cl::PostMessage(cl::Application().Handle(), message, 0, 0);
    };
    windows_.on_alert = [](bool) { Say("alert"); };
  }

  // Runs on the GUI thread for each message of the application.
  void OnMessage(cl::TMsg& msg, bool& handled) {
    mirvel::TDMBDMirvel* db = mirvel::DMBDMirvel;
    if (msg.message == mirvel::WM_SHOW_MAIN) {
      Say("shown");
    } else if (msg.message == mirvel::WM_CHECK_MESSAGES) {
      Say("stamp");
      // The module is in its tick: the check comes back later, as the main window does it.
      if (db->FInTimer) {
        cl::PostMessage(cl::Application().Handle(), msg.message, 0, 0);
      } else {
        Guard([] { mirvel::DMMirvel->CheckNewMessages(); });
      }
    } else if (msg.message == kCommandMessage) {
      std::string line;
      {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_lines.empty()) return;
        line = g_lines.front();
        g_lines.pop_front();
      }
      Run(line);
    } else {
      return;
    }
    handled = true;
  }

 private:
  template <class F>
  void Guard(F&& body) {
    try {
      body();
    } catch (const cl::EAbort&) {
      Say("aborted state " + std::to_string(mirvel::DMMirvel->TableMessages->State()));
    } catch (const std::exception& e) {
      Say(std::string("error ") + e.what() + " state " +
          std::to_string(mirvel::DMMirvel->TableMessages->State()) + " " +
          std::to_string(mirvel::DMMirvel->TableClients->State()));
    }
  }

  void Run(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    mirvel::TDMMirvel& dm = *mirvel::DMMirvel;
    if (verb == "connect") {
      Guard([] {
        mirvel::DMBDMirvel->Connect();
        if (mirvel::DMBDMirvel->FConnected) {
          Say("connected " + std::to_string(mirvel::DMBDMirvel->FCurrentUser));
        } else {
          Say("error connect");
        }
      });
    } else if (verb == "disconnect") {
      Guard([] { mirvel::DMBDMirvel->Disconnect(); });
      Say("disconnected");
    } else if (verb == "post") {
      std::string to;
      int count = 1;
      in >> to >> count;
      for (int i = 0; i < count; ++i) Guard([&] { Post(dm, to, i); });
    } else if (verb == "clients") {
      std::string prefix;
      int count = 0;
      in >> prefix >> count;
      Guard([&] { dm.TableClients->Open(); });
      for (int i = 1; i <= count; ++i) {
        Guard([&] {
          dm.TableClients->Append();
          dm.TableClientsSociete->SetAsString(prefix + std::to_string(i));
          dm.TableClients->Post();
          Say("client " + std::to_string(dm.TableClientsNoSociete->AsInteger()));
        });
      }
    } else if (verb == "answer") {
      std::string answer;
      in >> answer;
      ConfirmAnswer() = answer == "yes" ? cl::mrYes : cl::mrNo;
    } else if (verb == "call") {
      // A message from the named caller, typed in the callers' combo as a user does.
      std::string caller;
      std::string to;
      in >> caller >> to;
      windows_.caller_text = caller;
      Guard([&] { Post(dm, to, 0, caller); });
      windows_.caller_text.clear();
    } else if (verb == "callers") {
      std::string names;
      for (const mirvel::TComboItem& item : windows_.callers) names += " " + item.text;
      Say("callers" + names);
    } else if (verb == "hold") {
      int ms = 0;
      in >> ms;
      Hold(ms);
    } else if (verb == "dump") {
      Guard([&] { Dump(dm); });
    } else if (verb == "quit") {
      Guard([] { mirvel::DMBDMirvel->Disconnect(); });
      cl::Application().Terminate();
    }
  }

  void Post(mirvel::TDMMirvel& dm, const std::string& to, int i, const std::string& caller = "") {
    const bool list = to.find(';') != std::string::npos;
    dm.TableMessages->Append();
    dm.TableMessagesInterlocuteur->SetAsString(caller.empty() ? "Appelant " + std::to_string(i)
                                                              : caller);
    dm.TableMessages->FieldByName("Message")->SetAsString("Message " + std::to_string(i));
    dm.TableMessagesNoDestinataire->SetAsInteger(list ? 0 : std::atoi(to.c_str()));
    dm.FRecipients = list ? to : "";
    try {
      dm.TableMessages->Post();
    } catch (const cl::EAbort&) {
      // The posting to a list ends in the silent abort when every copy stands.
      if (dm.TableMessages->State() != cl::dsBrowse) throw;
      Say("posted list " + to);
      return;
    }
    Say("posted " + Fixed(dm.TableMessagesDateAppel->AsDateTime()));
  }

  void Hold(int ms) {
    auto* numbers = cl::Create<tessera::TTesseraTable>(owner_);
    numbers->SetDatabaseName("Mirvel");
    numbers->SetTableName("Numeros.DAT");
    numbers->SetExclusive(true);
    try {
      numbers->Open();
    } catch (const std::exception& e) {
      Say(std::string("error ") + e.what());
      numbers->Free();
      return;
    }
    Say("held");
    auto* timer = cl::Create<cl::TTimer>(owner_);
    timer->SetInterval(ms);
    timer->SetOnTimer([numbers, timer](cl::TObject*) {
      numbers->Free();
      Say("released");
      timer->Free();
    });
    timer->SetEnabled(true);
  }

  void Dump(mirvel::TDMMirvel& dm) {
    tessera::TTesseraTable* messages = dm.TableMessages;
    messages->SetFiltered(false);
    messages->Refresh();
    for (messages->First(); !messages->Eof(); messages->Next()) {
      Say("msg " + Fixed(dm.TableMessagesDateAppel->AsDateTime()) + " " +
          std::to_string(dm.TableMessagesNoDestinataire->AsInteger()) + " " +
          std::to_string(dm.TableMessagesNoUtilisateur->AsInteger()) + " " +
          dm.TableMessagesInterlocuteur->AsString());
    }
    messages->SetFiltered(true);
    dm.TableRechercheClients->Refresh();
    for (dm.TableRechercheClients->First(); !dm.TableRechercheClients->Eof();
         dm.TableRechercheClients->Next()) {
      Say("cli " + dm.TableRechercheClients->FieldByName("NoSociete")->AsString() + " " +
          dm.TableRechercheClients->FieldByName("Societe")->AsString());
    }
    Say("dumped");
  }

  cl::TComponent* owner_;
  mirvel_test::RecordingWindows windows_;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  cl::SetCommandLine(argc, argv);
  cl::InstallFormsBackend();
  cl::Application().Initialize();
  cl::Application().SetShowMainForm(false);
  tessera::InitializeSessions();
  if (argc > 1) {
    cl::TRegistry registry;
    registry.SetRootKey(cl::HKEY_LOCAL_MACHINE);
    registry.OpenKey(mirvel::kRegistryKey, true);
    registry.WriteString(mirvel::kRegistryDatabaseValue, cl::Utf8ToCp1252(argv[1]));
  }
  // Every box: "No" to a question (the unknown caller), OK otherwise, and a line for each.
  cl::SetMessageDlgResponder([](const cl::TMessageDlgRequest& request) {
    Say("box " + request.text);
    return request.type == cl::mtConfirmation ? ConfirmAnswer() : cl::mrOk;
  });
  cl::Application().SetShowExceptionHook([](cl::Exception& e) { Say("exception " + e.Message()); });

  cl::TForm* main_form = nullptr;
  cl::Application().CreateForm(main_form);
  Station station(main_form);
  cl::Application().SetOnMessage(
      [&station](cl::TMsg& msg, bool& handled) { station.OnMessage(msg, handled); });
  cl::Create<mirvel::TDMBDMirvel>(main_form);
  cl::Create<mirvel::TDMMirvel>(main_form);
  Say("ready");

  const cl::HWND handle = cl::Application().Handle();
  std::thread reader([handle] {
    std::string line;
    while (std::getline(std::cin, line)) {
      {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_lines.push_back(line);
      }
      cl::PostMessage(handle, kCommandMessage, 0, 0);
    }
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_lines.push_back("quit");
    }
    cl::PostMessage(handle, kCommandMessage, 0, 0);
  });
  reader.detach();
  cl::Application().Run();
  Say("bye");
  std::fflush(stdout);
  // The reader may still wait on stdin: end without joining it.
  std::_Exit(0);
}
