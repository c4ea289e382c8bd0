#include "app/MMirvel.h"

#include <cmath>
#include <map>
#include <vector>

#include "app/AppWindows.h"
#include "app/MBDMirvel.h"
#include "app/MirvelSchema.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/FormatSettings.h"
#include "classlib/rtl/Loader.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"

namespace mirvel {

TDMMirvel* DMMirvel = nullptr;

namespace {

// One persistent field as the module declares it.  Kinds: 'i' integer, 's' string, 'd'
// date-time, 'm' memo, 'l' lookup string (key field in `key`), 'c' calculated string.
struct TFieldSpec {
  const char* name;
  char kind;
  int size;
  const char* label;
  bool required;
  const char* key;
};

// clang-format off
const std::vector<TFieldSpec> kUserFields = {
    {"NoUtilisateur", 'i', 0, "", false, ""},
    {"NomReseau", 's', 50, "Nom r\xE9seau", false, ""},
    {"AdresseMessagerie", 's', 50, "Adresse messagerie", false, ""},
    {"NomComplet", 's', 50, "Nom complet", false, ""},
    {"Statut", 'i', 0, "", false, ""},
    {"NewMessages", 'i', 0, "", false, ""},
    {"DateNewMessage", 'd', 0, "", false, ""},
    {"AdresseEMail", 's', 50, "", false, ""},
    {"Disponibilites", 'm', 0, "", false, ""},
    {"DateDisponibilites", 'd', 0, "", false, ""},
};
const std::vector<TFieldSpec> kMessageFields = {
    {"DateAppel", 'd', 0, "Date appel", true, ""},
    {"Interlocuteur", 's', 50, "", false, ""},
    {"NoDestinataire", 'i', 0, "", false, ""},
    {"NoRappeler", 's', 20, "N\xB0 \xE0 rappeler", false, ""},
    {"NoRappeler2", 's', 20, "N\xB0 \xE0 rappeler 2", false, ""},
    {"Message", 'm', 0, "", false, ""},
    {"SuiteDonnee", 'm', 0, "Suite donn\xE9""e", false, ""},
    {"NoUtilisateur", 'i', 0, "", false, ""},
    {"DestinataireSelecter", 'l', 50, "Destinataire", false, "NoDestinataire"},
    {"UserSelecter", 'l', 50, "R\xE9""ceptioniste", false, "NoUtilisateur"},
    {"Societe", 's', 50, "Soci\xE9t\xE9", false, ""},
    {"Sujet", 's', 50, "", false, ""},
    {"Lu", 'i', 0, "", false, ""},
    {"DateDBGrid", 'c', 25, "Date appel", false, ""},
};
const std::vector<TFieldSpec> kClientFields = {
    {"NoSociete", 'i', 0, "", false, ""},
    {"Societe", 's', 50, "Soci\xE9t\xE9", true, ""},
    {"Adresse1", 's', 40, "Adresse 1", false, ""},
    {"Adresse2", 's', 40, "Adresse 2", false, ""},
    {"CodePostal", 's', 6, "Code postal", false, ""},
    {"Ville", 's', 40, "", false, ""},
    {"Pays", 's', 40, "", false, ""},
    {"TelStandard", 's', 20, "Tel standard", false, ""},
    {"TelFax", 's', 20, "T\xE9l\xE9""copie", false, ""},
};
const std::vector<TFieldSpec> kCallerFields = {
    {"NoSociete", 'i', 0, "", false, ""},
    {"NoInterlocuteur", 'i', 0, "", false, ""},
    {"Nom", 's', 50, "Nom complet", true, ""},
    {"Fonction", 's', 40, "", false, ""},
    {"Tel1", 's', 20, "T\xE9l\xE9phone 1", false, ""},
    {"Tel2", 's', 20, "T\xE9l\xE9phone 2", false, ""},
    {"Commentaires", 'm', 0, "", false, ""},
};
const std::vector<TFieldSpec> kBufferFields = {
    {"DateAppel", 'd', 0, "", true, ""},
    {"Interlocuteur", 's', 50, "", false, ""},
    {"NoDestinataire", 'i', 0, "", false, ""},
    {"NoRappeler", 's', 20, "", false, ""},
    {"NoRappeler2", 's', 20, "", false, ""},
    {"Message", 'm', 0, "", false, ""},
    {"NoUtilisateur", 'i', 0, "", false, ""},
    {"Sujet", 's', 50, "", false, ""},
    {"Lu", 'i', 0, "", false, ""},
    {"Societe", 's', 50, "", false, ""},
    {"SuiteDonnee", 'm', 0, "", false, ""},
};
const std::vector<TFieldSpec> kCallerSearchFields = {
    {"NoSociete", 'i', 0, "", false, ""},
    {"NoInterlocuteur", 'i', 0, "", false, ""},
    {"Nom", 's', 50, "", false, ""},
    {"Fonction", 's', 40, "", false, ""},
    {"Societe", 's', 50, "Soci\xE9t\xE9", false, ""},
    {"Ville", 's', 40, "", false, ""},
};
const char* const kTransferFields[] = {"DateAppel", "Interlocuteur", "NoDestinataire", "NoRappeler",
    "NoRappeler2", "Message", "SuiteDonnee", "NoUtilisateur", "Societe", "Sujet", "Lu"};
const char* const kCallerSearchSql[] = {
    "SELECT I.NoSociete, I.NoInterlocuteur, I.Nom, I.Fonction, C.Societe, C.Ville", "FROM ",
    "Inter I, Clients C", "WHERE ", "I.NoSociete = C.NoSociete", "ORDER BY ", "I.Nom"};
// clang-format on

using TFieldMap = std::map<std::string, cl::TField*>;

TFieldMap AddFields(cl::TLoader& loader, cl::TComponent* owner, cl::TDataSet* data_set,
                    const std::vector<TFieldSpec>& specs, cl::TDataSet* lookup = nullptr) {
  TFieldMap fields;
  for (const TFieldSpec& spec : specs) {
    const std::string component = data_set->Name() + spec.name;
    cl::TField* field = nullptr;
    switch (spec.kind) {
      case 'i':
        field = loader.Create<cl::TIntegerField>(owner, component);
        break;
      case 'd':
        field = loader.Create<cl::TDateTimeField>(owner, component);
        break;
      case 'm':
        field = loader.Create<cl::TMemoField>(owner, component);
        break;
      default:
        field = loader.Create<cl::TStringField>(owner, component);
        field->SetSize(spec.size);
        break;
    }
    field->SetFieldName(spec.name);
    if (*spec.label != '\0') field->SetDisplayLabel(spec.label);
    field->SetRequired(spec.required);
    if (spec.kind == 'c') field->SetFieldKind(cl::fkCalculated);
    if (spec.kind == 'l') {
      field->SetFieldKind(cl::fkLookup);
      field->SetKeyFields(spec.key);
      field->SetLookupDataSet(lookup);
      field->SetLookupKeyFields("NoUtilisateur");
      field->SetLookupResultField("NomComplet");
      field->SetLookupCache(true);
    }
    field->SetDataSet(data_set);
    fields[spec.name] = field;
  }
  return fields;
}

tessera::TTesseraTable* TableComponent(cl::TLoader& loader, cl::TComponent* owner, const char* name,
                                       const char* file) {
  auto* table = loader.Create<tessera::TTesseraTable>(owner, name);
  table->SetDatabaseName("Mirvel");
  table->SetTableName(file);
  table->SetLockRetryCount(15);
  table->SetLockWaitTime(100);
  table->SetForceBufferFlush(false);
  return table;
}

template <class T>
T* As(const TFieldMap& fields, const char* name) {
  return static_cast<T*>(fields.at(name));
}

}  // namespace

bool IsEngineError(const std::exception& e, int code) {
  const auto* engine = dynamic_cast<const tessera::ETesseraEngineError*>(&e);
  return engine != nullptr && engine->ErrorCount() > 0 && engine->GetError(0).ErrorCode() == code;
}

TDMMirvel::TDMMirvel(cl::TComponent* owner) : cl::TDataModule(owner) {
  DMMirvel = this;
  cl::TLoader loader(this);
  SetName("DMMirvel");
  TableUtilisateurs = TableComponent(loader, this, "TableUtilisateurs", kUsersFile);
  TableUtilisateurs->SetIndexName("IdxNomComplet");
  TableUtilisateurs->SetFiltered(true);
  const TFieldMap users = AddFields(loader, this, TableUtilisateurs, kUserFields);
  TableUtilisateursNoUtilisateur = As<cl::TIntegerField>(users, "NoUtilisateur");
  TableUtilisateursNomReseau = As<cl::TStringField>(users, "NomReseau");
  TableUtilisateursNomComplet = As<cl::TStringField>(users, "NomComplet");
  TableUtilisateursStatut = As<cl::TIntegerField>(users, "Statut");
  TableUtilisateursNewMessages = As<cl::TIntegerField>(users, "NewMessages");
  TableUtilisateursDateNewMessage = As<cl::TDateTimeField>(users, "DateNewMessage");

  TableMessages = TableComponent(loader, this, "TableMessages", kMessagesFile);
  TableMessages->SetIndexName("IndexDate");
  TableMessages->SetFiltered(true);
  const TFieldMap messages =
      AddFields(loader, this, TableMessages, kMessageFields, TableUtilisateurs);
  TableMessagesDateAppel = As<cl::TDateTimeField>(messages, "DateAppel");
  TableMessagesInterlocuteur = As<cl::TStringField>(messages, "Interlocuteur");
  TableMessagesNoDestinataire = As<cl::TIntegerField>(messages, "NoDestinataire");
  TableMessagesNoRappeler = As<cl::TStringField>(messages, "NoRappeler");
  TableMessagesNoRappeler2 = As<cl::TStringField>(messages, "NoRappeler2");
  TableMessagesNoUtilisateur = As<cl::TIntegerField>(messages, "NoUtilisateur");
  TableMessagesDestinataireSelecter = As<cl::TStringField>(messages, "DestinataireSelecter");
  TableMessagesUserSelecter = As<cl::TStringField>(messages, "UserSelecter");
  TableMessagesSociete = As<cl::TStringField>(messages, "Societe");
  TableMessagesSujet = As<cl::TStringField>(messages, "Sujet");
  TableMessagesLu = As<cl::TIntegerField>(messages, "Lu");
  TableMessagesDateDBGrid = As<cl::TStringField>(messages, "DateDBGrid");

  TableClients = TableComponent(loader, this, "TableClients", kClientsFile);
  TableClients->SetIndexName("IndexSociete");
  const TFieldMap clients = AddFields(loader, this, TableClients, kClientFields);
  TableClientsNoSociete = As<cl::TIntegerField>(clients, "NoSociete");
  TableClientsSociete = As<cl::TStringField>(clients, "Societe");
  DSClients = loader.Create<cl::TDataSource>(this, "DSClients");
  DSClients->SetDataSet(TableClients);
  TableInterlocuteurs = TableComponent(loader, this, "TableInterlocuteurs", kInterFile);
  TableInterlocuteurs->SetIndexFieldNames("NoSociete;Nom");
  TableInterlocuteurs->SetMasterSource(DSClients);
  TableInterlocuteurs->SetMasterFields("NoSociete");
  TableInterlocuteursNoSociete = As<cl::TIntegerField>(
      AddFields(loader, this, TableInterlocuteurs, kCallerFields), "NoSociete");

  TableRechercheClients = TableComponent(loader, this, "TableRechercheClients", kClientsFile);
  AddFields(loader, this, TableRechercheClients, kClientFields);
  TableRechercheInters = TableComponent(loader, this, "TableRechercheInters", kInterFile);
  AddFields(loader, this, TableRechercheInters, kCallerFields);
  QueryRechercheInter = loader.Create<tessera::TTesseraQuery>(this, "QueryRechercheInter");
  QueryRechercheInter->SetDatabaseName("Mirvel");
  QueryRechercheInter->SetLockRetryCount(15);
  QueryRechercheInter->SetLockWaitTime(100);
  for (const char* line : kCallerSearchSql) QueryRechercheInterSQL.Add(line);
  QueryRechercheInter->SetSQL(&QueryRechercheInterSQL);
  const TFieldMap found = AddFields(loader, this, QueryRechercheInter, kCallerSearchFields);
  QueryRechercheInterNoSociete = As<cl::TIntegerField>(found, "NoSociete");
  QueryRechercheInterNoInterlocuteur = As<cl::TIntegerField>(found, "NoInterlocuteur");
  QueryRechercheInterNom = As<cl::TStringField>(found, "Nom");
  QueryRechercheInterSociete = As<cl::TStringField>(found, "Societe");
  // The caller selection dialog's search panel offers the fields tagged 1.
  for (const char* name : {"Nom", "Fonction", "Societe", "Ville"}) found.at(name)->SetTag(1);
  BuildBuffer();

  // Handlers.
  TableUtilisateurs->SetOnNewRecord([this](cl::TDataSet* d) { TableUtilisateursNewRecord(d); });
  TableUtilisateurs->SetBeforePost([this](cl::TDataSet* d) { TableUtilisateursBeforePost(d); });
  TableUtilisateurs->SetAfterPost([this](cl::TDataSet* d) { TableUtilisateursAfterPost(d); });
  TableUtilisateursStatut->SetOnGetText([this](cl::TField* f, std::string& t, bool display) {
    TableUtilisateursStatutGetText(f, t, display);
  });
  TableUtilisateursStatut->SetOnSetText(
      [this](cl::TField* f, const std::string& t) { TableUtilisateursStatutSetText(f, t); });
  TableMessages->SetOnNewRecord([this](cl::TDataSet* d) { TableMessagesNewRecord(d); });
  TableMessages->SetBeforeEdit([this](cl::TDataSet* d) { TableMessagesBeforeEdit(d); });
  TableMessages->SetBeforePost([this](cl::TDataSet* d) { TableMessagesBeforePost(d); });
  TableMessages->SetAfterPost([this](cl::TDataSet* d) { TableMessagesAfterPost(d); });
  TableMessages->SetAfterDelete([this](cl::TDataSet* d) { TableMessagesAfterDelete(d); });
  TableMessages->SetOnCalcFields([this](cl::TDataSet* d) { TableMessagesCalcFields(d); });
  TableMessagesLu->SetOnGetText([this](cl::TField* f, std::string& t, bool display) {
    TableMessagesLuGetText(f, t, display);
  });
  TableMessages->SetOnPostError([this](cl::TDataSet* d, cl::EDatabaseError& e, cl::TDataAction& a) {
    TableMessagesPostError(d, e, a);
  });
  TableMessages->SetOnEditError([this](cl::TDataSet* d, cl::EDatabaseError& e, cl::TDataAction& a) {
    TableMessagesEditError(d, e, a);
  });
  TableClients->SetBeforePost([this](cl::TDataSet* d) { TableClientsBeforePost(d); });
  TableClients->SetBeforeDelete([this](cl::TDataSet* d) { TableClientsBeforeDelete(d); });
  TableInterlocuteurs->SetBeforeInsert(
      [this](cl::TDataSet* d) { TableInterlocuteursBeforeInsert(d); });
  TableInterlocuteurs->SetBeforePost([this](cl::TDataSet* d) { TableInterlocuteursBeforePost(d); });
  TableInterlocuteurs->SetOnNewRecord([this](cl::TDataSet* d) { TableInterlocuteursNewRecord(d); });
  loader.Finish();
}

TDMMirvel::~TDMMirvel() {
  if (DMMirvel == this) DMMirvel = nullptr;
}

void TDMMirvel::BuildBuffer() {
  TempMultiPost = cl::Create<comp::TVirtualDataSet>(this);
  TempMultiPost->SetName("TempMultiPost");
  TempMultiPost->SetIndexOptions({});
  TempMultiPost->SetAnsiCompare(false);
  TempMultiPost->SetExportFormat(comp::efDataSet);
  TempMultiPost->SetExportCalcFields(false);
  for (const TFieldSpec& spec : kBufferFields) {
    cl::TField* field = nullptr;
    if (spec.kind == 'i') field = cl::Create<cl::TIntegerField>(this);
    if (spec.kind == 'd') field = cl::Create<cl::TDateTimeField>(this);
    if (spec.kind == 'm') field = cl::Create<cl::TMemoField>(this);
    if (spec.kind == 's') {
      field = cl::Create<cl::TStringField>(this);
      field->SetSize(spec.size);
    }
    field->SetFieldName(spec.name);
    field->SetRequired(spec.required);
    field->SetDataSet(TempMultiPost);
  }
  TempMultiPost->Open();

  cl::TStringList names;
  for (const char* name : kTransferFields) names.Add(name);
  MessToTemp = cl::Create<comp::TDBTransfer>(this);
  TempToMess = cl::Create<comp::TDBTransfer>(this);
  for (comp::TDBTransfer* transfer : {MessToTemp, TempToMess}) {
    transfer->TransferFields()->SetDest(names);
    transfer->TransferFields()->SetSource(names);
    transfer->SetAbortOnError(false);
    transfer->SetLogErrors(false);
  }
  MessToTemp->SetName("MessToTemp");
  MessToTemp->SetSource(TableMessages);
  MessToTemp->SetDestination(TempMultiPost);
  TempToMess->SetName("TempToMess");
  TempToMess->SetSource(TempMultiPost);
  TempToMess->SetDestination(TableMessages);
}

// ---- users ---------------------------------------------------------------------------------

void TDMMirvel::TableUtilisateursNewRecord(cl::TDataSet*) {
  TableUtilisateursNewMessages->SetAsInteger(0);
}

void TDMMirvel::TableUtilisateursBeforePost(cl::TDataSet*) {
  if (TableUtilisateursStatut->IsNull()) TableUtilisateursStatut->SetAsInteger(0);
  DMBDMirvel->SetNextNumber(TableUtilisateurs, "NoUtilisateur");
}

void TDMMirvel::TableUtilisateursAfterPost(cl::TDataSet*) {
  TAppWindows* windows = AppWindows();
  if (windows == nullptr || !windows->IsMinimized()) RefreshUsers();
}

void TDMMirvel::TableUtilisateursStatutGetText(cl::TField* sender, std::string& text, bool) {
  text.clear();
  if (sender->IsNull()) return;
  if (sender->AsInteger() == 0)
    text =
        "D\xE9"
        "connect\xE9";
  if (sender->AsInteger() == 1) text = "Connect\xE9";
}

void TDMMirvel::TableUtilisateursStatutSetText(cl::TField* sender, const std::string& text) {
  if (text ==
      "D\xE9"
      "connect\xE9")
    sender->SetAsInteger(0);
  if (text == "Connect\xE9") sender->SetAsInteger(1);
}

// ---- clients and callers -------------------------------------------------------------------

void TDMMirvel::TableClientsBeforePost(cl::TDataSet*) {
  DMBDMirvel->SetNextNumber(TableClients, "NoSociete");
}

void TDMMirvel::TableClientsBeforeDelete(cl::TDataSet*) {
  if (TableClientsNoSociete->AsInteger() == 0) {
    DMBDMirvel->ErrorAbort("Impossible de supprimer \"<Tous clients>\" !!!");
  }
}

void TDMMirvel::TableInterlocuteursBeforeInsert(cl::TDataSet*) {
  if (TableClients->Active() && TableClientsNoSociete->AsInteger() == 0 &&
      cl::MessageDlg("Attention ! Cet interlocuteur ne sera assign\xE9 \xE0 aucun client "
                     "particulier. Confirmez-vous ?",
                     cl::mtWarning, {cl::mbOK, cl::mbCancel}, 0) == cl::mrCancel) {
    cl::Abort();
  }
}

void TDMMirvel::TableInterlocuteursBeforePost(cl::TDataSet*) {
  DMBDMirvel->SetNextNumber(TableInterlocuteurs, "NoInterlocuteur");
}

void TDMMirvel::TableInterlocuteursNewRecord(cl::TDataSet*) {
  if (TableClients->Active()) {
    TableInterlocuteursNoSociete->SetAsInteger(TableClientsNoSociete->AsInteger());
  }
}

// ---- messages: fields and errors -------------------------------------------------------------

void TDMMirvel::TableMessagesNewRecord(cl::TDataSet*) {
  TableMessagesNoUtilisateur->SetAsInteger(DMBDMirvel->FCurrentUser);
  TableMessagesDateAppel->SetAsDateTime(cl::Now());
  TableMessagesLu->SetAsInteger(0);
  TableMessagesSujet->SetAsString(kNoSubject);
}

void TDMMirvel::TableMessagesBeforeEdit(cl::TDataSet*) { FRecipients.clear(); }

void TDMMirvel::TableMessagesCalcFields(cl::TDataSet*) {
  if (TableMessagesDateAppel->IsNull()) return;
  const cl::TDateTime when = TableMessagesDateAppel->AsDateTime();
  const double days = static_cast<double>(cl::Date()) - std::trunc(static_cast<double>(when));
  const int64_t d = static_cast<int64_t>(std::trunc(days));
  const std::string short_time = cl::CurrentFormatSettings().ShortTimeFormat;
  std::string text;
  if (d == 0) {
    text = cl::FormatDateTime(short_time, when);
  } else if (d >= 1 && d <= 6) {
    text = cl::FormatDateTime("ddd " + short_time, when);
  } else {
    text = cl::DateTimeToStr(when);
  }
  TableMessagesDateDBGrid->SetAsString(text);
}

void TDMMirvel::TableMessagesLuGetText(cl::TField* sender, std::string& text, bool) {
  text = !sender->IsNull() && sender->AsInteger() == 1 ? "X" : "";
}

namespace {

// A message another user deleted or re-keyed: said in the program's words, and the view asked to
// show what the table holds now once the error is shown.
void RecordGone(cl::EDatabaseError& e) {
  e.SetMessage(kRecordGone);
  if (TAppWindows* windows = AppWindows()) windows->PostToMainWindow(WM_REFRESH_VIEW);
}

}  // namespace

void TDMMirvel::TableMessagesPostError(cl::TDataSet*, cl::EDatabaseError& e,
                                       cl::TDataAction& action) {
  if (IsEngineError(e, 9729) && FPostRetries < kPostRetryLimit) {
    ++FPostRetries;
    TableMessagesDateAppel->SetAsDateTime(TableMessagesDateAppel->AsDateTime() + kPostRetryStep);
    action = cl::daRetry;
  } else if (IsEngineError(e, tessera::kErrRecordNotFound)) {
    RecordGone(e);
  }
}

void TDMMirvel::TableMessagesEditError(cl::TDataSet*, cl::EDatabaseError& e,
                                       cl::TDataAction& action) {
  if (IsEngineError(e, 10258)) {
    e.SetMessage(kRecordLocked);
    action = cl::daFail;
  } else if (IsEngineError(e, tessera::kErrRecordNotFound)) {
    RecordGone(e);
  }
}

bool TDMMirvel::ChangeCurrentMessage(const std::function<void()>& change) {
  try {
    TableMessages->Edit();
    change();
    TableMessages->Post();
    return true;
  } catch (const cl::EDatabaseError& e) {
    if (!IsEngineError(e, tessera::kErrRecordNotFound)) throw;
  }
  if (TableMessages->State() == cl::dsEdit) TableMessages->Cancel();
  TableMessages->Refresh();
  return false;
}

void TDMMirvel::MarkAllRead() {
  cl::TDataSet* messages = TableMessages;
  while (!messages->Eof()) {
    // A null Lu counts as unread (drawn bold), so it is marked read too.
    if (TableMessagesLu->AsInteger() == 0 &&
        !ChangeCurrentMessage([this] { TableMessagesLu->SetAsInteger(1); })) {
      continue;  // the refresh stands on the message after the one that went
    }
    messages->Next();
  }
}

}  // namespace mirvel
