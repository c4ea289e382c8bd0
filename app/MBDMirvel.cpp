#include "app/MBDMirvel.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "app/AppWindows.h"
#include "app/DlgChoixDatabaseMirvel.h"
#include "app/InitDb.h"
#include "app/MMirvel.h"
#include "app/MirvelLogin.h"
#include "app/MirvelSchema.h"
#include "app/Numbering.h"
#include "app/RetryClock.h"
#include "classlib/db/TFields.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/Loader.h"
#include "classlib/rtl/Registry.h"
#include "classlib/rtl/TextUtils.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "platform/OsFile.h"

namespace mirvel {

TDMBDMirvel* DMBDMirvel = nullptr;

namespace {

TStartProcessHook& StartHook() {
  static TStartProcessHook hook;
  return hook;
}

tessera::TTesseraTable* MirvelTableComponent(cl::TLoader& loader, cl::TComponent* owner,
                                             const char* name, const char* file) {
  auto* table = loader.Create<tessera::TTesseraTable>(owner, name);
  table->SetDatabaseName("Mirvel");
  table->SetTableName(file);
  table->SetLockRetryCount(15);
  table->SetLockWaitTime(100);
  table->SetForceBufferFlush(false);
  return table;
}

// Runs `body`; a failure that is not one of the class library's exceptions is turned into one,
// so that the log and the handlers see one kind.
template <class F, class H>
void Guarded(F&& body, H&& handler) {
  try {
    body();
  } catch (cl::Exception& e) {
    handler(e);
  } catch (const std::exception& e) {
    cl::Exception wrapped(e.what());
    handler(wrapped);
  }
}

constexpr const char* kRepairAdvice =
    "\r\nLa table est endommag\xE9"
    "e et doit \xEAtre r\xE9par\xE9"
    "e : fermez Mirvel sur tous les postes, puis lancez la commande\r\n"
    "tessera-dump --repair ";

}  // namespace

bool AddRepairAdvice(cl::Exception& e) {
  const auto* engine = dynamic_cast<const tessera::ETesseraEngineError*>(&e);
  if (engine == nullptr || engine->ErrorCount() == 0) return false;
  const int code = engine->GetError(0).ErrorCode();
  if (code != 8961 && code != 8963 && code != 8965) return false;
  if (e.Message().find(kRepairAdvice) != std::string::npos) return false;
  // The engine's text ends with the table's data file.
  const std::string& text = engine->GetError(0).Message();
  constexpr std::string_view kFileMark = " data file ";
  const size_t at = text.rfind(kFileMark);
  const std::string table =
      at == std::string::npos ? "<table>" : "\"" + text.substr(at + kFileMark.size()) + "\"";
  e.SetMessage(e.Message() + kRepairAdvice + table);
  return true;
}

void SetStartProcessHook(TStartProcessHook hook) { StartHook() = std::move(hook); }

TDMBDMirvel::TDMBDMirvel(cl::TComponent* owner) : cl::TDataModule(owner) {
  DMBDMirvel = this;
  cl::TLoader loader(this);
  SetName("DMBDMirvel");
  FileErrorLogApp = loader.Create<comp::TFileErrorLog>(this, "FileErrorLogApp");
  FileErrorLogApp->SetFilename(kErrorLogName);
  FileErrorLogApp->SetFieldSeparator('\t');

  // Only the short date format is applied; the other members are kept as the module sets them.
  ConstFormatsApp = loader.Create<comp::TConstFormats>(this, "ConstFormatsApp");
  ConstFormatsApp->SetAllowSetting({comp::cfShortDateFormat});
  ConstFormatsApp->SetCurrencyString("F");
  ConstFormatsApp->SetCurrencyFormat(3);
  ConstFormatsApp->SetNegCurrFormat(8);
  ConstFormatsApp->SetThousandSeparator('\xA0');
  ConstFormatsApp->SetDecimalSeparator(',');
  ConstFormatsApp->SetCurrencyDecimals(2);
  ConstFormatsApp->SetDateSeparator('/');
  ConstFormatsApp->SetShortDateFormat("dd/MM/yyyy");
  ConstFormatsApp->SetLongDateFormat("dddd d MMMM yyyy");
  ConstFormatsApp->SetTimeSeparator(':');
  ConstFormatsApp->SetShortTimeFormat("hh:mm");
  ConstFormatsApp->SetLongTimeFormat("hh:mm:ss");

  SingleInstance1 = loader.Create<comp::TSingleInstance>(this, "SingleInstance1");
  SingleInstance1->SetOnAppRunning(
      [this](cl::TObject* sender, cl::HWND handle) { SingleInstance1AppRunning(sender, handle); });

  AutoInstaller1 = loader.Create<comp::TAutoInstaller>(this, "AutoInstaller1");
  AutoInstaller1->SetAutoCheck(false);
  AutoInstaller1->SetErrorTime(5.0);
  AutoInstaller1->SetUseRegistry(false);

  TimerMAJ = loader.Create<cl::TTimer>(this, "TimerMAJ");
  TimerMAJ->SetEnabled(false);
  TimerMAJ->SetInterval(5000);
  TimerMAJ->SetOnTimer([this](cl::TObject* sender) { TimerMAJTimer(sender); });

  DBNavManager1 = loader.Create<comp::TDBNavManager>(this, "DBNavManager1");
  DBNavManager1->SetInsertLabel("&Nouveau");
  DBNavManager1->SetEditLabel("&Modifier");
  DBNavManager1->SetDeleteLabel("Su&pprimer");
  DBNavManager1->SetPostLabel("&Sauver");
  DBNavManager1->SetCancelLabel("&Annuler");
  DBNavManager1->SetInsertHint("Ajouter un nouvel enregistrement");
  DBNavManager1->SetEditHint("Modifier l'enregistrement");
  DBNavManager1->SetDeleteHint("Supprimer l'enregistrement");
  DBNavManager1->SetPostHint("Sauver les modifications");
  DBNavManager1->SetCancelHint("Annuler les modifications");

  BDMirvel = loader.Create<tessera::TTesseraDatabase>(this, "BDMirvel");
  BDMirvel->SetDatabaseName("Mirvel");
  BDMirvel->SetKeepConnection(false);
  BDMirvel->SetSessionName("Default");

  TableNumeros = MirvelTableComponent(loader, this, "TableNumeros", kNumerosFile);
  TableMAJ = MirvelTableComponent(loader, this, "TableMAJ", kMajFile);
  TableMAJRecordID = loader.Create<cl::TAutoIncField>(this, "TableMAJRecordID");
  TableMAJRecordID->SetFieldName("RecordID");
  TableMAJRecordID->SetDataSet(TableMAJ);
  TableMAJDateDerniereMAJ = loader.Create<cl::TDateTimeField>(this, "TableMAJDateDerniereMAJ");
  TableMAJDateDerniereMAJ->SetFieldName("DateDerniereMAJ");
  TableMAJDateDerniereMAJ->SetDataSet(TableMAJ);

  RegParamApp = loader.Create<TRegParamDatabase>(this, "RegParamApp");
  RegParamApp->SetActive(false);
  RegParamApp->SetAutoClose(false);
  RegParamApp->SetAutoCloseInterval(0);
  RegParamApp->SetReadOnly(false);
  RegParamApp->SetRootKey(cl::HKEY_LOCAL_MACHINE);
  RegParamApp->SetDefaultPath(kRegistryKey);

  // In front of the error log's handler, so that the log and the message both carry the advice.
  const bool had_previous = static_cast<bool>(cl::Application().OnException());
  repair_advice_.Install(cl::Application().OnException(),
                         [this, had_previous](cl::TObject* sender, cl::Exception& e) {
                           AddRepairAdvice(e);
                           if (had_previous) {
                             repair_advice_.CallPrevious(sender, e);
                           } else {
                             cl::Application().ShowException(e);
                           }
                         });
  cl::Application().SetOnException(repair_advice_.Handler());

  SetOnCreate([this](cl::TObject* sender) { DMBDMirvelCreate(sender); });
  loader.Finish();
}

TDMBDMirvel::~TDMBDMirvel() {
  cl::Application().SetOnException(repair_advice_.Release(cl::Application().OnException()));
  if (DMBDMirvel == this) DMBDMirvel = nullptr;
}

void TDMBDMirvel::DMBDMirvelCreate(cl::TObject*) {
  RetryTimeout = 2.0;
  FCurrentUser = -1;
  ChooseDatabase(false);
}

void TDMBDMirvel::SingleInstance1AppRunning(cl::TObject*, cl::HWND handle) {
  cl::PostMessage(handle, WM_SHOW_MAIN, 0, 0);
  cl::Halt(0);
}

void TDMBDMirvel::ChooseDatabase(bool force) {
  std::unique_ptr<TMVParam> param = RegParamApp->GetParam("", kRegistryDatabaseValue);
  std::string path = param->AsString();
  if (force || path.empty() || !comp::DirectoryExists(path)) {
    std::unique_ptr<TDlgChoixDatabaseMirvel> dialog(cl::Create<TDlgChoixDatabaseMirvel>(nullptr));
    dialog->SetPath(path);
    if (dialog->ShowModal() == cl::mrOk) {
      path = dialog->Path();
      // A registry that refuses the value must not cost the user the directory just chosen:
      // it serves this session and the failure is logged.
      Guarded([&] { param->SetAsString(path); }, [this](cl::Exception& e) { LogError(e); });
    }
  }
  if (path.empty() || !comp::DirectoryExists(path)) {
    throw EMVBadDirectory(
        "R\xE9pertoire de base de donn\xE9"
        "es inexistant \"" +
        path + "\"");
  }
  BDMirvel->SetConnected(false);
  BDMirvel->SetDirectory(path);
}

void TDMBDMirvel::Connect() {
  FConnecting = true;
  try {
    FConnected = true;
    FileErrorLogApp->SetFilename(kErrorLogName);
    bool opened = false;
    Guarded(
        [&] {
          ChooseDatabase(false);
          BDMirvel->SetConnected(true);
          TableMAJ->Open();
          opened = true;
        },
        [this](cl::Exception& e) {
          Disconnect();
          LogError(e);
        });
    if (opened) {
      try {
        ConnectSteps();
      } catch (...) {
        // Half a connection would leave the database open with the timer off.
        Disconnect();
        throw;
      }
    }
  } catch (...) {
    FConnecting = false;
    throw;
  }
  FConnecting = false;
}

void TDMBDMirvel::ConnectSteps() {
  const std::string directory = BDMirvel->Directory();
  FileErrorLogApp->SetFilename(LogBesideDatabase());
  AutoInstaller1->SetUpdatePath(cl::ExtractFilePath(comp::ExcludeTrailingBackslash(directory)));
  AutoInstaller1->CheckAndInstall();

  if (DMMirvel == nullptr)
    throw cl::Exception(
        "Module de donn\xE9"
        "es absent");
  TDMMirvel& dm = *DMMirvel;
  tessera::TTesseraTable* users = dm.TableUtilisateurs;
  users->Open();
  dm.TableMessages->Open();
  if (TAppWindows* windows = AppWindows()) windows->ShowConnected(true);

  // An empty login would find the recipient-list pseudo-user, whose NomReseau is empty.
  const std::string login = MirvelLogin();
  if (login.empty()) {
    cl::Exception e("Nom de connexion vide : connexion impossible");
    LogError(e);
    throw e;
  }
  const bool found = users->Locate("NomReseau", cl::Variant(login), {cl::loCaseInsensitive}) &&
                     dm.TableUtilisateursNoUtilisateur->AsInteger() != 0;
  if (!found) {
    users->Append();
    dm.TableUtilisateursNomReseau->SetAsString(login);
    dm.TableUtilisateursNomComplet->SetAsString(dm.TableUtilisateursNomReseau->AsString());
    users->Post();
  }

  dm.TableRechercheInters->Open();
  dm.TableRechercheClients->Open();
  dm.FillCallersCombo();

  FCurrentUser = dm.TableUtilisateursNoUtilisateur->AsInteger();
  SetFieldRetry(users, dm.TableUtilisateursStatut, 0, cl::Variant(1));
  FLastNewMsgDate = dm.TableUtilisateursDateNewMessage->AsDateTime();
  const cl::Variant unread = dm.TableMessages->Lookup(
      "NoDestinataire;Lu", cl::VarArrayOf({cl::Variant(FCurrentUser), cl::Variant(0)}),
      "DateAppel");
  FUnreadAtConnect = !unread.IsNull() && dm.TableUtilisateursNewMessages->AsInteger() != 1;
  TimerMAJ->SetEnabled(true);
}

void TDMBDMirvel::Disconnect() {
  TimerMAJ->SetEnabled(false);
  if (!FConnected) return;
  FConnected = false;
  if (FEndSession) {
    BDMirvel->SetConnected(false);
    return;
  }
  if (DMMirvel != nullptr) {
    tessera::TTesseraTable* users = DMMirvel->TableUtilisateurs;
    if (users->Active() && FCurrentUser >= 0 &&
        users->Locate("NoUtilisateur", cl::Variant(FCurrentUser), {})) {
      SetFieldRetry(users, DMMirvel->TableUtilisateursStatut, 0, cl::Variant(0));
    }
  }
  BDMirvel->SetConnected(false);
  if (TAppWindows* windows = AppWindows()) windows->ShowConnected(false);
  FCurrentUser = -1;
}

void TDMBDMirvel::TimerMAJTimer(cl::TObject* sender) {
  if (FInTimer) return;
  FInTimer = true;
  TimerMAJ->SetEnabled(false);
  const bool direct = sender != TimerMAJ;
  Guarded(
      [this] {
        try {
          CheckStamp();
        } catch (...) {
          FInTimer = false;
          TimerMAJ->SetEnabled(true);
          throw;
        }
        FInTimer = false;
        TimerMAJ->SetEnabled(true);
      },
      [this, direct](cl::Exception& e) { FatalPath(e, direct); });
}

void TDMBDMirvel::CheckStamp() {
  const std::string name =
      comp::IncludeTrailingBackslash(BDMirvel->Directory()) + TableMAJ->TableName();
  if (!platform::FileExists(cl::Cp1252ToUtf8(name))) {
    try {
      FileErrorLogApp->Log(kMajMissing, "");
    } catch (const std::exception& e) {
      FileErrorLogApp->SetFilename(FallbackLogName);
      LogLine(std::string(kMajMissing) +
                  " : Pb \xE0 l'\xE9"
                  "criture de l'erreur : " +
                  e.what(),
              "");
      cl::MessageDlg(kNetworkLost, cl::mtError, {cl::mbOK}, 0);
      FileErrorLogApp->SetFilename(LogBesideDatabase());
      cl::Abort();
    }
    return;
  }
  TableMAJ->Refresh();
  if (DMMirvel != nullptr) DMMirvel->RefreshContactLists();
  const cl::TDateTime stamp = TableMAJDateDerniereMAJ->AsDateTime();
  if (stamp == FLastMAJ) return;
  try {
    if (TAppWindows* windows = AppWindows()) {
      if (windows->IsMinimized()) {
        windows->SetPendingCheck(true);
      } else {
        windows->PostToMainWindow(WM_REFRESH_VIEW);
      }
      windows->PostToMainWindow(WM_CHECK_MESSAGES);
    }
  } catch (...) {
    FLastMAJ = TableMAJDateDerniereMAJ->AsDateTime();
    throw;
  }
  FLastMAJ = TableMAJDateDerniereMAJ->AsDateTime();
}

void TDMBDMirvel::FatalPath(cl::Exception& e, bool direct) {
  TimerMAJ->SetEnabled(false);
  e.SetMessage(e.Message() + kFatalTimerSuffix);
  LogError(e);
  // A direct call comes from a post the user just made: a restart would cost the user's work.
  if (direct) {
    TimerMAJ->SetEnabled(FConnected);
    return;
  }
  // A message being typed would be lost by a restart: a later tick decides.
  if (DMMirvel != nullptr) {
    tessera::TTesseraTable* messages = DMMirvel->TableMessages;
    if ((messages->State() == cl::dsEdit || messages->State() == cl::dsInsert) &&
        messages->Modified()) {
      TimerMAJ->SetEnabled(true);
      return;
    }
  }
  // The guard is released so the new process can take it; kept aside to re-take it if not.
  std::string guard_name;
  cl::HWND guard_handle = 0;
  if (SingleInstance1 != nullptr) {
    if (SingleInstance1->Stream() != nullptr) {
      guard_name = SingleInstance1->Stream()->Name();
      uint8_t bytes[4];
      SingleInstance1->Stream()->SetPosition(0);
      SingleInstance1->Stream()->ReadBuffer(bytes, 4);
      guard_handle = cl::GetU32LE(bytes);
    }
    SingleInstance1->Free();
    SingleInstance1 = nullptr;
  }
  // Quoted: a program path with a blank would split.
  const std::string command = "\"" + cl::ParamStr(0) + "\" SHOW";
  comp::TProcessInformation info;
  if (StartHook()) {
    StartHook()(command, info);
  } else {
    comp::StartProcess(command, info);
  }
  if (info.ProcessId == 0) {
    LogLine("Impossible de relancer le programme : " + command, "");
    if (!guard_name.empty()) {
      SingleInstance1 = new comp::TSingleInstance(this);
      SingleInstance1->SetName("SingleInstance1");
      SingleInstance1->SetOnAppRunning([this](cl::TObject* sender, cl::HWND handle) {
        SingleInstance1AppRunning(sender, handle);
      });
      SingleInstance1->OpenInstanceMap(guard_name);
      SingleInstance1->SetHandle(guard_handle);
    }
    Disconnect();
    return;
  }
  cl::Halt(255);
}

void TDMBDMirvel::SignalChange() {
  SetFieldRetry(TableMAJ, TableMAJDateDerniereMAJ, 0, cl::Variant::FromDate(cl::Now()));
}

void TDMBDMirvel::SetFieldRetry(tessera::TTesseraTable* table, cl::TField* field, uint8_t mode,
                                const cl::Variant& value) {
  const uint64_t start = RetryTicks();
  int attempts = 0;
  bool done = false;
  while (!done) {
    done = true;
    try {
      ++attempts;
      table->Edit();
      field->SetAsVariant(value);
      table->Post();
    } catch (const std::exception& e) {
      done = false;
      // A failed post keeps the record lock: other workstations would get "record locked" on
      // this record until the session ends.
      if (table->State() == cl::dsEdit || table->State() == cl::dsInsert) {
        try {
          table->Cancel();
        } catch (const std::exception& cancel_error) {
          LogLine(cancel_error.what(), "");
        }
      }
      LogLine("Erreur : " + std::string(e.what()) + ", " + std::to_string(attempts) + " essais",
              "");
      // The record went (another user deleted it or changed its key): trying again would write
      // into the record the refreshed cursor stands on instead.
      const bool gone = IsEngineError(e, tessera::kErrRecordNotFound);
      if (gone) {
        try {
          table->Refresh();
        } catch (const std::exception& refresh_error) {
          LogLine(refresh_error.what(), "");
        }
      }
      const double elapsed = std::nearbyint(static_cast<double>(RetryTicks() - start) / 1000.0);
      if (gone || elapsed > RetryTimeout || attempts > 100) {
        if (mode == 1) {
          throw cl::Exception("Impossible de mettre \xE0 jour le champs " + field->FieldName() +
                              " de la table " + table->TableName());
        }
        if (mode != 2 || gone) return;
      }
    }
  }
}

void TDMBDMirvel::ErrorAbort(const std::string& msg) {
  cl::MessageDlg(msg, cl::mtError, {cl::mbOK}, 0);
  cl::Abort();
}

void TDMBDMirvel::SetNextNumber(tessera::TTesseraTable* data_set, const std::string& field_name) {
  mirvel::SetNextNumber(*TableNumeros, *data_set, field_name);
}

void TDMBDMirvel::LogError(cl::Exception& e) noexcept {
  try {
    AddRepairAdvice(e);
    FileErrorLogApp->LogException(this, e);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n%s\n", cl::Cp1252ToUtf8(e.Message()).c_str(),
                 cl::Cp1252ToUtf8(failure.what()).c_str());
  } catch (...) {
    std::fprintf(stderr, "%s\n", cl::Cp1252ToUtf8(e.Message()).c_str());
  }
}

void TDMBDMirvel::LogLine(const std::string& msg1, const std::string& msg2) noexcept {
  try {
    FileErrorLogApp->Log(msg1, msg2);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n%s\n", cl::Cp1252ToUtf8(msg1).c_str(),
                 cl::Cp1252ToUtf8(failure.what()).c_str());
  } catch (...) {
    std::fprintf(stderr, "%s\n", cl::Cp1252ToUtf8(msg1).c_str());
  }
}

std::string TDMBDMirvel::LogBesideDatabase() const {
  return comp::IncludeTrailingBackslash(cl::ExtractFilePath(BDMirvel->Directory())) + kErrorLogName;
}

}  // namespace mirvel
