// TDMMirvel: the main data module.  It declares the application's tables with their fields and
// holds the rules that run when users, messages, clients and callers are written: numbering,
// default values, the subject prompt, the recipient check, the offer to add an unknown caller,
// posting one message to several recipients, notifying recipients, and detecting new messages
// for the own user.  The database directory must hold the six tables: nothing here creates one.
//
// The rules are split by subject: MMirvel.cpp (declarations, users, clients, callers, display
// texts), MMirvelPost.cpp (the message post rules and the posting to several recipients),
// MMirvelCheck.cpp (recipient lists, combos and the new-message check).
//
// A message to a list (NoDestinataire 0 with FRecipients "3;5;8") is never stored itself: one
// copy per recipient is appended in its place, each with its own DateAppel (1e-05 day apart) and
// its own 20 key-violation retries.  If a copy fails, the copies already posted stay, the error
// is shown, and the message comes back as a new insert addressed to the list with FRecipients
// holding the recipients not yet served, so that nothing typed is lost; a readdressed stored
// message is deleted only once every copy is posted.
//
// Lifetime: one instance, DMMirvel, created after DMBDMirvel and freed before it.  GUI thread
// only.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "classlib/db/TBlobField.h"
#include "classlib/db/TDataSource.h"
#include "classlib/db/TFields.h"
#include "classlib/rtl/DataModule.h"
#include "classlib/rtl/TStrings.h"
#include "components/data/TDBTransfer.h"
#include "components/data/TVirtualDataSet.h"
#include "engine/components/TTesseraQuery.h"
#include "engine/components/TTesseraTable.h"

namespace mirvel {

inline constexpr const char* kNoSubject = "(Sans sujet)";
inline constexpr const char* kUnreadLabel = "Vous avez des messages non lus";
inline constexpr const char* kNoRecipient = "Vous n'avez pas saisi de destinataires !";
inline constexpr const char* kCallerTooLong =
    "Le nom de l'interlocuteur est trop long (50 caract\xE8res au plus).";
inline constexpr const char* kRecordLocked =
    "L'enregistrement est d\xE9j\xE0 en cours de modification par un autre utilisateur.";
inline constexpr const char* kRecordGone =
    "L'enregistrement a \xE9t\xE9 modifi\xE9 ou supprim\xE9 par un autre utilisateur.";
inline constexpr int kPostRetryLimit = 20;
inline constexpr double kPostRetryStep = 1e-05;  // day: 0.864 s

// Whether `e` is the engine's error `code`.
bool IsEngineError(const std::exception& e, int code);

class TDMMirvel : public cl::TDataModule {
 public:
  explicit TDMMirvel(cl::TComponent* owner);
  ~TDMMirvel() override;

  tessera::TTesseraTable* TableUtilisateurs;
  cl::TIntegerField* TableUtilisateursNoUtilisateur;
  cl::TStringField* TableUtilisateursNomReseau;
  cl::TStringField* TableUtilisateursNomComplet;
  cl::TIntegerField* TableUtilisateursStatut;
  cl::TIntegerField* TableUtilisateursNewMessages;
  cl::TDateTimeField* TableUtilisateursDateNewMessage;

  tessera::TTesseraTable* TableMessages;
  cl::TDateTimeField* TableMessagesDateAppel;
  cl::TStringField* TableMessagesInterlocuteur;
  cl::TIntegerField* TableMessagesNoDestinataire;
  cl::TStringField* TableMessagesNoRappeler;
  cl::TStringField* TableMessagesNoRappeler2;
  cl::TIntegerField* TableMessagesNoUtilisateur;
  cl::TStringField* TableMessagesDestinataireSelecter;
  cl::TStringField* TableMessagesUserSelecter;
  cl::TStringField* TableMessagesSociete;
  cl::TStringField* TableMessagesSujet;
  cl::TIntegerField* TableMessagesLu;
  cl::TStringField* TableMessagesDateDBGrid;

  tessera::TTesseraTable* TableClients;
  cl::TIntegerField* TableClientsNoSociete;
  cl::TStringField* TableClientsSociete;
  cl::TDataSource* DSClients;
  tessera::TTesseraTable* TableInterlocuteurs;
  cl::TIntegerField* TableInterlocuteursNoSociete;

  tessera::TTesseraTable* TableRechercheClients;
  tessera::TTesseraTable* TableRechercheInters;
  // The caller search of the caller selection dialog: every caller with its company, in Nom
  // order.  Callers of a company that does not exist are left out by the join.
  tessera::TTesseraQuery* QueryRechercheInter;
  // The statement's lines as the query was given them; the caller dialog's own query reads them.
  cl::TStringList QueryRechercheInterSQL;
  cl::TIntegerField* QueryRechercheInterNoSociete;
  cl::TIntegerField* QueryRechercheInterNoInterlocuteur;
  cl::TStringField* QueryRechercheInterNom;
  cl::TStringField* QueryRechercheInterSociete;

  comp::TVirtualDataSet* TempMultiPost;
  comp::TDBTransfer* MessToTemp;
  comp::TDBTransfer* TempToMess;

  // Handlers, bound to the components at construction.
  void TableUtilisateursNewRecord(cl::TDataSet* data_set);
  void TableUtilisateursBeforePost(cl::TDataSet* data_set);
  void TableUtilisateursAfterPost(cl::TDataSet* data_set);
  void TableUtilisateursStatutGetText(cl::TField* sender, std::string& text, bool display_text);
  void TableUtilisateursStatutSetText(cl::TField* sender, const std::string& text);
  void TableMessagesNewRecord(cl::TDataSet* data_set);
  void TableMessagesBeforeEdit(cl::TDataSet* data_set);
  void TableMessagesBeforePost(cl::TDataSet* data_set);
  void TableMessagesAfterPost(cl::TDataSet* data_set);
  void TableMessagesAfterDelete(cl::TDataSet* data_set);
  void TableMessagesCalcFields(cl::TDataSet* data_set);
  void TableMessagesLuGetText(cl::TField* sender, std::string& text, bool display_text);
  void TableMessagesPostError(cl::TDataSet* data_set, cl::EDatabaseError& e,
                              cl::TDataAction& action);
  void TableMessagesEditError(cl::TDataSet* data_set, cl::EDatabaseError& e,
                              cl::TDataAction& action);
  void TableClientsBeforePost(cl::TDataSet* data_set);
  void TableClientsBeforeDelete(cl::TDataSet* data_set);
  void TableInterlocuteursBeforeInsert(cl::TDataSet* data_set);
  void TableInterlocuteursBeforePost(cl::TDataSet* data_set);
  void TableInterlocuteursNewRecord(cl::TDataSet* data_set);

  // Edit, `change`, Post on the current message.  False when another user deleted the message
  // or changed its key since it was shown: nothing is written, the edit is cancelled and the
  // table refreshed (its cursor then on the nearest message).  Other errors pass on.
  bool ChangeCurrentMessage(const std::function<void()>& change);
  // Lu := 1 on every message of the table's view from the current one on that is unread (a null
  // Lu counts as unread); a message another user removed meanwhile is passed over.
  void MarkAllRead();

  void CheckNewMessages();
  void NotifyRecipient(int32_t user_no);
  void RefreshUsers();
  void FillCallersCombo();
  void FillCompaniesCombo();
  // Fills the callers' and companies' lists again when another workstation changed the callers
  // or the clients since they were read (the tables' change counters tell).
  void RefreshContactLists();
  // True when the callers' table holds this name (letter case aside).
  bool CallerKnown(const std::string& name);
  void AskSubject();
  void AddCallerDialog();
  void CleanRecipients();
  int RecipientCount();
  // 1-based; 0 for an empty or non-numeric token.
  int32_t RecipientAt(int index);

  int32_t FPostRetries = 0;
  int32_t PendingRecipient = 0;
  std::string FRecipients;

 private:
  void BuildTables();
  void BuildBuffer();
  void PostToRecipients();
  void PostCopies(bool readdressed);
  void RestoreUnserved(const std::string& unserved);

  uint32_t callers_counter_ = 0;
  uint32_t clients_counter_ = 0;
};

// The module while it exists.
extern TDMMirvel* DMMirvel;

}  // namespace mirvel
