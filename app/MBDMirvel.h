// TDMBDMirvel: the database module.  It finds the shared database directory, connects and
// disconnects the workstation's user, polls the change stamp of the shared database every 5 s and
// turns a change into messages for the main window, writes single field values with retries, and
// wires the error log, the single-instance guard, the regional formats and the self-update check.
//
// Connection states (FConnected, the timer, the look of the main window):
//
//   disconnected --Connect (every step done)--> connected (timer on, "&Déconnecter", image 0)
//   connected --Disconnect--> disconnected (timer off, "&Connecter", image 1, FCurrentUser -1)
//   Connect failing at opening the directory: logged, disconnected, nothing raised;
//   Connect failing later: Disconnect, then the error goes on.
//
// The change timer's failures:
//   - the change table's file is missing (the share is gone): one log line per tick;
//   - any other failure of a tick: logged with " => Erreur fatale dans Timer"; then, unless a
//     message is being typed (TableMessages in edit or insert state with changes: the timer then
//     goes on and a later tick decides), the single instance is released and the program starts
//     itself again with "SHOW" and ends with exit code 255; when the new process cannot be
//     started the workstation is disconnected instead, so that the user can connect again;
//   - a failure of a direct call (the main data module after a post) is logged and nothing more.
//
// A damaged table (an engine error 8961, 8963 or 8965, at open or in use) is reported with the
// advice to repair it and the command that does it (AddRepairAdvice), in the error log and in the
// message the user sees: the module takes over the application's exception handler for that.
//
// Lifetime: one instance, DMBDMirvel, created before the main data module and freed after it.
// GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/MVRegParams.h"
#include "classlib/db/TField.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/DataModule.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/HandlerTakeover.h"
#include "classlib/rtl/TTimer.h"
#include "classlib/rtl/Variant.h"
#include "components/data/Helpers.h"
#include "components/data/TAutoInstaller.h"
#include "components/data/TConstFormats.h"
#include "components/data/TFileLog.h"
#include "components/data/TSingleInstance.h"
#include "components/ui/TDBNavManager.h"
#include "engine/components/TTesseraSession.h"
#include "engine/components/TTesseraTable.h"

namespace mirvel {

// The database directory does not exist.
class EMVBadDirectory : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

inline constexpr const char* kFatalTimerSuffix = " => Erreur fatale dans Timer";
inline constexpr const char* kMajMissing =
    "Impossible de rep\xE9rer le fichier TableMAJ \xE0 l'\xE9x\xE9"
    "cution";
inline constexpr const char* kNetworkLost =
    "Perte momentan\xE9"
    "e de connexion r\xE9seau";
inline constexpr const char* kErrorLogName = "ERROR.LOG";

// How the fatal path starts the program again; tests replace it (empty: the real start).
using TStartProcessHook = std::function<void(std::string_view, comp::TProcessInformation&)>;
void SetStartProcessHook(TStartProcessHook hook);

// Adds to an engine error that found a table damaged the advice to repair it, naming the command
// with the table's file; any other error is left as it is.  True when the advice was added (once:
// a message that carries it already is left).
bool AddRepairAdvice(cl::Exception& e);

class TDMBDMirvel : public cl::TDataModule {
 public:
  explicit TDMBDMirvel(cl::TComponent* owner);
  ~TDMBDMirvel() override;

  comp::TFileErrorLog* FileErrorLogApp;
  comp::TConstFormats* ConstFormatsApp;
  comp::TSingleInstance* SingleInstance1;  // nullptr once the fatal path released it
  comp::TAutoInstaller* AutoInstaller1;
  cl::TTimer* TimerMAJ;
  comp::TDBNavManager* DBNavManager1;
  tessera::TTesseraDatabase* BDMirvel;
  tessera::TTesseraTable* TableNumeros;
  tessera::TTesseraTable* TableMAJ;
  cl::TField* TableMAJRecordID;
  cl::TField* TableMAJDateDerniereMAJ;
  TRegParamDatabase* RegParamApp;

  void DMBDMirvelCreate(cl::TObject* sender);
  void SingleInstance1AppRunning(cl::TObject* sender, cl::HWND handle);
  void TimerMAJTimer(cl::TObject* sender);

  // Sets BDMirvel's directory from the registry value "Database", asking the user when `force`,
  // or when that value is empty or names no directory.  Raises EMVBadDirectory.
  void ChooseDatabase(bool force);
  // Never raises for a directory that does not open; later failures disconnect and go on.
  void Connect();
  void Disconnect();
  // Stamps the shared change table with Now.
  void SignalChange();
  // Writes `field` of `table`'s current record, retrying failed attempts (each failed attempt is
  // logged and cancelled).  Mode 0 gives up silently after RetryTimeout seconds or 100 attempts,
  // mode 1 raises, mode 2 never gives up, other modes give up.  A record that another user
  // deleted or re-keyed (8710) ends the tries at once, in every mode, with the table refreshed.
  void SetFieldRetry(tessera::TTesseraTable* table, cl::TField* field, uint8_t mode,
                     const cl::Variant& value);
  // An error box with OK, then the silent abort.
  [[noreturn]] void ErrorAbort(const std::string& msg);
  void SetNextNumber(tessera::TTesseraTable* data_set, const std::string& field_name);

  // Writes one line for `e` to the error log; a log that cannot be written goes to stderr, so it
  // never replaces the error being reported.
  void LogError(cl::Exception& e) noexcept;
  void LogLine(const std::string& msg1, const std::string& msg2) noexcept;

  // The module's state, read by the windows (and the main window sets FEndSession).
  double RetryTimeout = 2.0;
  // Where a line goes when the log beside the database cannot be written: beside the program
  // (a bare name); tests point it elsewhere.
  std::string FallbackLogName = kErrorLogName;
  bool FConnecting = false;
  bool FEndSession = false;
  bool FConnected = false;
  bool FInTimer = false;
  int32_t FCurrentUser = -1;
  cl::TDateTime FLastMAJ = 0;
  cl::TDateTime FLastNewMsgDate = 0;
  bool FUnreadAtConnect = false;

 private:
  void ConnectSteps();
  void CheckStamp();
  void FatalPath(cl::Exception& e, bool direct);
  std::string LogBesideDatabase() const;

  cl::THandlerTakeover<cl::TExceptionEvent> repair_advice_;
};

// The module while it exists.
extern TDMBDMirvel* DMBDMirvel;

}  // namespace mirvel
