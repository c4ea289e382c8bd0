// The main data module's rules: users, clients and callers; the message post flow; recipient
// lists and the posting to several recipients; key-violation retries; the grid's date text; the
// new-message check; and the module's texts against the list written from the design.
#include "app/MMirvel.h"

#include <cmath>

#include "app/DlgChoixDatabaseMirvel.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/FormatSettings.h"
#include "components/ui/TDBNavManager.h"
#include "tests/app/ModulesFixture.h"

namespace mirvel {
namespace {

class MainDataModuleTest : public mirvel_test::ModulesTest {
 protected:
  void SetUp() override {
    ModulesTest::SetUp();
    db_->Connect();
    ASSERT_TRUE(db_->FConnected);
  }
  tessera::TTesseraTable* Raw(const char* file) {
    auto* t = cl::Create<tessera::TTesseraTable>(owner_.get());
    t->SetDatabaseName(Db());
    t->SetTableName(file);
    t->Open();
    return t;
  }
  // A stored message at `date` to `to`, written behind the module's back.
  void Occupy(double date, int to = 1) {
    Raw("Messages.DAT")
        ->AppendRecord({cl::Variant::FromDate(date), "occupant", to, cl::Variant(), cl::Variant(),
                        cl::Variant(), cl::Variant(), 1, cl::Variant(), "s", 1});
  }
  // Types a message and posts it; true when it was stored (or stood in by copies).
  bool PostMessage(int to, const std::string& recipients = "") {
    dm_->TableMessages->Append();
    dm_->TableMessagesInterlocuteur->SetAsString("Martin");
    if (to >= 0) dm_->TableMessagesNoDestinataire->SetAsInteger(to);
    dm_->FRecipients = recipients;
    try {
      dm_->TableMessages->Post();
      return true;
    } catch (const cl::EAbort&) {
      return dm_->TableMessages->State() == cl::dsBrowse;
    }
  }
  int UserField(int user, const char* field) {
    tessera::TTesseraTable* users = Raw("Users.DAT");
    EXPECT_TRUE(users->Locate("NoUtilisateur", cl::Variant(user), {}));
    return users->FieldByName(field)->AsInteger();
  }
};

TEST_F(MainDataModuleTest, UsersClientsAndCallers) {
  // Statut texts both ways.
  cl::TField* statut = dm_->TableUtilisateursStatut;
  struct Text {
    int value;
    const char* text;
  };
  for (const Text& t : {Text{0,
                             "D\xE9"
                             "connect\xE9"},
                        Text{1, "Connect\xE9"}, Text{2, ""}}) {
    dm_->TableUtilisateurs->Edit();
    statut->SetAsInteger(t.value);
    EXPECT_EQ(statut->DisplayText(), t.text);
    statut->SetText("autre");  // any other text changes nothing
    EXPECT_EQ(statut->AsInteger(), t.value);
    if (*t.text != '\0') {
      statut->SetAsInteger(5);
      statut->SetText(t.text);
      EXPECT_EQ(statut->AsInteger(), t.value);
    }
    dm_->TableUtilisateurs->Cancel();
  }
  // Clients are numbered; "<Tous clients>" cannot be deleted.
  dm_->TableClients->Open();
  dm_->TableClients->Append();
  dm_->TableClientsSociete->SetAsString("Acme");
  dm_->TableClients->Post();
  EXPECT_EQ(dm_->TableClientsNoSociete->AsInteger(), 1);
  // The company list leaves out "<Tous clients>" by its number, not by its place: a name that
  // sorts before it stays.
  dm_->TableClients->Append();
  dm_->TableClientsSociete->SetAsString("!Alpha");
  dm_->TableClients->Post();
  dm_->FillCallersCombo();
  std::vector<std::string> companies;
  for (const TComboItem& item : windows_.companies) companies.push_back(item.text);
  EXPECT_EQ(companies, (std::vector<std::string>{"!Alpha", "Acme"}));
  ASSERT_TRUE(dm_->TableClients->Locate("NoSociete", cl::Variant(0), {}));
  EXPECT_THROW(dm_->TableClients->Delete(), cl::EAbort);
  EXPECT_EQ(boxes_.back(), "Impossible de supprimer \"<Tous clients>\" !!!");
  // A caller under "<Tous clients>" asks first: Cancel adds nothing, OK adds one of company 0.
  dm_->TableInterlocuteurs->Open();
  answers_ = {cl::mrCancel};
  EXPECT_THROW(dm_->TableInterlocuteurs->Append(), cl::EAbort);
  EXPECT_EQ(boxes_.back(),
            "Attention ! Cet interlocuteur ne sera assign\xE9 \xE0 aucun client particulier. "
            "Confirmez-vous ?");
  EXPECT_EQ(dm_->TableInterlocuteurs->State(), cl::dsBrowse);
  dm_->TableInterlocuteurs->Append();
  dm_->TableInterlocuteurs->FieldByName("Nom")->SetAsString("Durand");
  dm_->TableInterlocuteurs->Post();
  EXPECT_EQ(dm_->TableInterlocuteursNoSociete->AsInteger(), 0);
  EXPECT_EQ(dm_->TableInterlocuteurs->FieldByName("NoInterlocuteur")->AsInteger(), 1);
}

// The caller search of the caller dialog on the tool's database, beside the open table
// components: every caller with its company in Nom order (callers without a company under
// "<Tous clients>", a caller of a missing company left out), found by number as the dialog does,
// and the tables still editable while it is open.
TEST_F(MainDataModuleTest, CallerSearchListsCallersInNameOrder) {
  tessera::TTesseraTable* clients = dm_->TableClients;
  tessera::TTesseraTable* callers = dm_->TableInterlocuteurs;
  clients->Open();
  callers->Open();
  const auto add_caller = [&](const char* company, const char* name) {
    ASSERT_TRUE(clients->Locate("Societe", cl::Variant(company), {}));
    if (clients->FieldByName("NoSociete")->AsInteger() == 0) answers_ = {cl::mrOk};
    callers->Append();
    callers->FieldByName("Nom")->SetAsString(name);
    callers->FieldByName("Fonction")->SetAsString(std::string("f-") + name);
    callers->Post();
  };
  for (const char* company : {"Acme", "Beta"}) {
    clients->Append();
    dm_->TableClientsSociete->SetAsString(company);
    dm_->TableClients->FieldByName("Ville")->SetAsString(std::string("v-") + company);
    clients->Post();
  }
  add_caller("Acme", "Martin");
  add_caller("Beta", "Adam");
  add_caller("<Tous clients>", "Durand");
  add_caller("Acme", "Bernard");
  Raw("Inter.DAT")->AppendRecord({9, 99, "Orphelin"});

  tessera::TTesseraQuery* query = dm_->QueryRechercheInter;
  query->Open();
  std::vector<std::string> rows;
  for (query->First(); !query->Eof(); query->Next()) {
    std::string row;
    for (int i = 0; i < query->FieldCount(); ++i) {
      row += (i > 0 ? "|" : "") + query->Fields(i)->AsString();
    }
    rows.push_back(row);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "2|2|Adam|f-Adam|Beta|v-Beta", "1|4|Bernard|f-Bernard|Acme|v-Acme",
                      "0|3|Durand|f-Durand|<Tous clients>|", "1|1|Martin|f-Martin|Acme|v-Acme"}));
  EXPECT_EQ(dm_->QueryRechercheInterNom->Size(), 50);
  EXPECT_EQ(query->FieldByName("Fonction")->Size(), 40);
  EXPECT_EQ(dm_->QueryRechercheInterSociete->Size(), 50);
  EXPECT_EQ(query->FieldByName("Ville")->Size(), 40);
  ASSERT_TRUE(query->Locate("NoInterlocuteur", cl::Variant(3), {}));
  EXPECT_EQ(dm_->QueryRechercheInterNom->AsString(), "Durand");
  EXPECT_EQ(dm_->QueryRechercheInterNoSociete->AsInteger(), 0);

  // The dialog closes and reopens the query around an edit of the caller.
  ASSERT_TRUE(clients->Locate("NoSociete", cl::Variant(1), {}));
  ASSERT_TRUE(callers->Locate("NoInterlocuteur", cl::Variant(4), {}));
  callers->Edit();
  callers->FieldByName("Nom")->SetAsString("Zola");
  callers->Post();
  query->Close();
  query->Open();
  query->Last();
  EXPECT_EQ(dm_->QueryRechercheInterNom->AsString(), "Zola");
  EXPECT_EQ(dm_->QueryRechercheInterNoInterlocuteur->AsInteger(), 4);
  EXPECT_EQ(query->RecordCount(), 4);
  db_->Disconnect();
  EXPECT_FALSE(query->Active());
}

TEST_F(MainDataModuleTest, MessagePostFlow) {
  const int other = AddUser("martin");
  enum Flow {
    kSubjectCancelled,
    kNoRecipient,
    kEmptyList,
    kToOther,
    kToSelf,
    kNewCaller,
    kNewCallerOfCompany
  };
  for (Flow flow : {kSubjectCancelled, kNoRecipient, kEmptyList, kToOther, kToSelf, kNewCaller,
                    kNewCallerOfCompany}) {
    SCOPED_TRACE(flow);
    windows_.focus.clear();
    boxes_.clear();
    windows_.subject_answer = flow == kSubjectCancelled ? "" : "Devis";
    windows_.caller_text = flow >= kNewCaller ? "Martin" : "";
    answers_ = {cl::mrYes};
    const size_t before = Messages().size();
    dm_->TableMessages->Append();
    dm_->TableMessagesInterlocuteur->SetAsString("Martin");
    if (flow == kNewCallerOfCompany) dm_->TableMessagesSociete->SetAsString(" Acme ");
    if (flow != kNoRecipient) {
      dm_->TableMessagesNoDestinataire->SetAsInteger(flow == kEmptyList ? 0
                                                     : flow == kToSelf  ? 1
                                                                        : other);
    }
    bool stored = true;
    try {
      dm_->TableMessages->Post();
    } catch (const cl::EAbort&) {
      stored = false;
    }
    EXPECT_EQ(stored, flow >= kToOther);
    EXPECT_EQ(Messages().size(), before + (stored ? 1 : 0));
    if (!stored) {
      EXPECT_EQ(dm_->TableMessages->State(), cl::dsInsert);  // nothing typed is lost
      EXPECT_EQ(windows_.focus,
                std::vector<std::string>{flow == kSubjectCancelled ? "subject" : "recipient"});
      if (flow != kSubjectCancelled) {
        EXPECT_EQ(boxes_, std::vector<std::string>{std::string(mirvel::kNoRecipient)});
      }
      dm_->TableMessages->Cancel();
      continue;
    }
    EXPECT_EQ(windows_.asked_subject, kNoSubject);
    EXPECT_EQ(dm_->TableMessagesSujet->AsString(), "Devis");
    EXPECT_EQ(UserField(other, "NewMessages"), flow == kToSelf ? 0 : 1);
    if (flow == kToOther) {
      tessera::TTesseraTable* users = Raw("Users.DAT");
      users->Locate("NoUtilisateur", cl::Variant(other), {});
      EXPECT_DOUBLE_EQ(users->FieldByName("DateNewMessage")->AsDateTime(), now_);
      users->Edit();
      users->FieldByName("NewMessages")->SetAsInteger(0);
      users->Post();
    }
    if (flow >= kNewCaller) {
      EXPECT_EQ(boxes_.size(), 1u);
      tessera::TTesseraTable* callers = Raw("Inter.DAT");
      ASSERT_TRUE(callers->Locate("Nom", cl::Variant("Martin"), {}));
      const int company = callers->FieldByName("NoSociete")->AsInteger();
      callers->Delete();
      if (flow == kNewCaller) {
        EXPECT_EQ(company, 0);
        EXPECT_EQ(boxes_[0],
                  "L'interlocuteur \"Martin\" n'existe pas. Voulez-vous l'ajo\xFBter \xE0 la "
                  "liste des interlocuteurs sans soci\xE9t\xE9 ?");
      } else {
        EXPECT_EQ(company, 1);
        EXPECT_EQ(boxes_[0],
                  "L'interlocuteur \"Martin\" n'existe pas. Voulez-vous l'ajo\xFBter \xE0 la "
                  "liste des interlocuteurs de la soci\xE9t\xE9 \"Acme\" ?");
      }
    }
    now_ += 0.001;
  }
  // A caller's name longer than its field is refused, not cut; the message stays typed.
  boxes_.clear();
  windows_.caller_text = std::string(51, 'x');
  dm_->TableMessages->Append();
  dm_->TableMessagesNoDestinataire->SetAsInteger(other);
  EXPECT_THROW(dm_->TableMessages->Post(), cl::EAbort);
  EXPECT_EQ(boxes_, std::vector<std::string>{mirvel::kCallerTooLong});
  EXPECT_EQ(dm_->TableMessages->State(), cl::dsInsert);
  dm_->TableMessages->Cancel();
}

TEST_F(MainDataModuleTest, RecipientListsAndPostingToSeveral) {
  std::vector<int> users;
  for (int i = 0; i < 8; ++i) users.push_back(AddUser("u" + std::to_string(i)));
  dm_->FRecipients = " 3;x;0;99 ; ;-2";
  EXPECT_EQ(dm_->RecipientCount(), 1);
  EXPECT_EQ(dm_->FRecipients, "3");
  // A user another workstation added since is kept in a list and notified, no refresh needed.
  Raw("Users.DAT")->AppendRecord({42, "ailleurs", cl::Variant(), "Ailleurs", 0, 0});
  dm_->FRecipients = "3;42";
  EXPECT_EQ(dm_->RecipientCount(), 2);
  dm_->NotifyRecipient(42);
  EXPECT_EQ(UserField(42, "NewMessages"), 1);

  struct Case {
    int count;       // recipients
    int occupied;    // dates taken from T + 1e-5 on (copy 2's start)
    bool readdress;  // a stored message readdressed to the list
    bool posted;
  };
  const double step = kPostRetryStep;
  for (const Case& c : {Case{3, 0, false, true}, Case{8, 0, false, true}, Case{3, 0, true, true},
                        Case{3, 21, false, false}}) {
    SCOPED_TRACE(testing::Message() << c.count << " " << c.occupied << " " << c.readdress);
    now_ += 0.01;
    const double t = now_;
    for (int k = 1; k <= c.occupied; ++k) Occupy(t + k * step);
    std::string list;
    for (int i = 0; i < c.count; ++i) list += (i ? ";" : "") + std::to_string(users[i]);
    const size_t stored_before = Messages().size();
    if (c.readdress) {
      ASSERT_TRUE(PostMessage(users[7]));
      dm_->TableMessages->Edit();
      dm_->TableMessagesNoDestinataire->SetAsInteger(0);
      dm_->FRecipients = list;
      EXPECT_THROW(dm_->TableMessages->Post(), cl::EAbort);
    } else if (c.posted) {
      EXPECT_TRUE(PostMessage(0, list));
    } else {
      EXPECT_THROW(PostMessage(0, list), cl::EDatabaseError);
      // The message is back, addressed to the list of those not yet served.
      EXPECT_EQ(dm_->TableMessages->State(), cl::dsInsert);
      EXPECT_EQ(dm_->TableMessagesNoDestinataire->AsInteger(), 0);
      EXPECT_EQ(dm_->TableMessagesInterlocuteur->AsString(), "Martin");
      EXPECT_EQ(dm_->FRecipients, list.substr(list.find(';') + 1));
      dm_->TableMessages->Cancel();
    }
    std::vector<std::pair<int, double>> copies;
    for (const auto& [to, date] : Messages()) {
      if (date >= t - step / 2 && to != 1) copies.emplace_back(to, date);
    }
    std::sort(copies.begin(), copies.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });
    const int expected = c.posted ? c.count : 1;
    ASSERT_EQ(static_cast<int>(copies.size()), expected);
    for (int i = 0; i < expected; ++i) {
      EXPECT_EQ(copies[i].first, users[i]);
      // A readdressed message stays stored until every copy stands: the first copy's key is
      // taken once, by the message itself.
      EXPECT_NEAR(copies[i].second, t + (i + (c.readdress ? 1 : 0)) * step, 1e-9);
    }
    EXPECT_EQ(Messages().size(), stored_before + expected);
    EXPECT_EQ(dm_->TableMessages->BeforePost() != nullptr, true);
  }
}

// Readdressing: a failed copy brings the message back for those not served and keeps the
// original; a failed delete of the original, once every copy stands, is reported and reopens
// nothing.
TEST_F(MainDataModuleTest, ReaddressingFailures) {
  std::vector<int> users;
  for (int i = 0; i < 4; ++i) users.push_back(AddUser("r" + std::to_string(i)));
  const std::string list =
      std::to_string(users[0]) + ";" + std::to_string(users[1]) + ";" + std::to_string(users[2]);
  for (const bool copy_fails : {true, false}) {
    SCOPED_TRACE(copy_fails);
    now_ += 0.01;
    const double t = now_;
    const double step = kPostRetryStep;
    if (copy_fails) {
      for (int k = 2; k <= 22; ++k) Occupy(t + k * step);
    }
    ASSERT_TRUE(PostMessage(users[3]));
    const size_t before = Messages().size();
    const cl::TDataSetNotifyEvent saved = dm_->TableMessages->BeforeDelete();
    if (!copy_fails) {
      dm_->TableMessages->SetBeforeDelete([](cl::TDataSet*) {
        throw cl::EDatabaseError(
            "suppression refus\xE9"
            "e");
      });
    }
    boxes_.clear();
    dm_->TableMessages->Edit();
    dm_->TableMessagesNoDestinataire->SetAsInteger(0);
    dm_->FRecipients = list;
    if (copy_fails) {
      EXPECT_THROW(dm_->TableMessages->Post(), cl::EDatabaseError);
      EXPECT_EQ(dm_->TableMessages->State(), cl::dsInsert);
      EXPECT_EQ(dm_->TableMessagesNoDestinataire->AsInteger(), 0);
      EXPECT_EQ(dm_->FRecipients, std::to_string(users[1]) + ";" + std::to_string(users[2]));
      dm_->TableMessages->Cancel();
    } else {
      EXPECT_THROW(dm_->TableMessages->Post(), cl::EAbort);
      EXPECT_EQ(dm_->TableMessages->State(), cl::dsBrowse);
      EXPECT_EQ(dm_->FRecipients, "");
      EXPECT_EQ(boxes_, std::vector<std::string>{"suppression refus\xE9"
                                                 "e"});
      EXPECT_EQ(Count(LogText(),
                      "suppression refus\xE9"
                      "e"),
                1);
    }
    dm_->TableMessages->SetBeforeDelete(saved);
    int originals = 0;
    int copies = 0;
    for (const auto& [to, date] : Messages()) {
      if (to == users[3] && std::fabs(date - t) < step / 2) ++originals;
      if (to != users[3] && to != 1 && date > t) ++copies;
    }
    EXPECT_EQ(originals, 1);  // kept in both cases
    EXPECT_EQ(copies, copy_fails ? 1 : 3);
    EXPECT_EQ(Messages().size(), before + (copy_fails ? 1 : 3));
  }
}

// A message that cannot go into the one-message buffer stops the posting: the buffer's previous
// message is never sent in its place.
TEST_F(MainDataModuleTest, AFailedBufferCopyPostsNothing) {
  const int other = AddUser("martin");
  ASSERT_TRUE(PostMessage(0, std::to_string(other)));
  const size_t before = Messages().size();
  dm_->TableMessages->Append();
  dm_->TableMessagesNoDestinataire->SetAsInteger(0);
  dm_->FRecipients = std::to_string(other);
  dm_->TableMessagesDateAppel->Clear();  // required in the buffer
  EXPECT_THROW(dm_->TableMessages->Post(), cl::EDatabaseError);
  EXPECT_EQ(Messages().size(), before);
  EXPECT_EQ(dm_->TableMessages->State(), cl::dsInsert);
  dm_->TableMessages->Cancel();
}

TEST_F(MainDataModuleTest, KeyViolationsRetryTwentyTimes) {
  const double t = now_;
  for (int k = 0; k <= 19; ++k) Occupy(t + k * kPostRetryStep);
  ASSERT_TRUE(PostMessage(1));
  EXPECT_NEAR(dm_->TableMessagesDateAppel->AsDateTime(), t + 20 * kPostRetryStep, 1e-9);
  EXPECT_THROW(PostMessage(1), cl::EDatabaseError);
  EXPECT_EQ(dm_->TableMessages->State(), cl::dsInsert);
}

TEST_F(MainDataModuleTest, LockedMessageGetsTheUserText) {
  ASSERT_TRUE(PostMessage(1));
  tessera::TTesseraTable* other = Raw("Messages.DAT");
  other->Edit();
  try {
    dm_->TableMessages->Edit();
    ADD_FAILURE() << "no lock error";
  } catch (const cl::EDatabaseError& e) {
    EXPECT_EQ(e.Message(), kRecordLocked);
  }
  other->Cancel();
}

TEST_F(MainDataModuleTest, GridDateText) {
  const cl::TFormatSettings fs = cl::CurrentFormatSettings();
  struct Case {
    double call;
    std::string text;
  };
  const double noon = kToday + 0.5;
  const double at_1405 = 14.0 / 24 + 5.0 / 1440;
  for (const Case& c :
       {Case{kToday + at_1405, "14:05"}, Case{kToday - 1 + at_1405, fs.ShortDayNames[0] + " 14:05"},
        Case{kToday - 6 + at_1405, fs.ShortDayNames[2] + " 14:05"},
        Case{kToday - 8 + at_1405, cl::DateTimeToStr(kToday - 8 + at_1405)},
        Case{kToday + 1 + at_1405, cl::DateTimeToStr(kToday + 1 + at_1405)}}) {
    now_ = noon;
    dm_->TableMessages->Append();
    dm_->TableMessagesDateAppel->SetAsDateTime(c.call);
    dm_->TableMessagesNoDestinataire->SetAsInteger(1);
    windows_.subject_answer = "x";
    dm_->TableMessages->Post();
    EXPECT_EQ(dm_->TableMessagesDateDBGrid->AsString(), c.text) << c.call;
  }
}

TEST_F(MainDataModuleTest, NewMessageCheck) {
  const int other = AddUser("martin");
  enum Kind { kNothing, kFlagMinimized, kGoSee, kDialogOpen, kFlagShown, kOwnUserDeleted };
  for (Kind kind : {kNothing, kFlagMinimized, kGoSee, kDialogOpen, kFlagShown, kOwnUserDeleted}) {
    SCOPED_TRACE(kind);
    windows_.alerts.clear();
    windows_.posted.clear();
    windows_.animations = 0;
    windows_.minimized = kind != kFlagShown;
    windows_.go_see = kind == kGoSee;
    windows_.dialog_open = kind == kDialogOpen;
    if (kind != kNothing) {
      // Another workstation posted to the own user (or, deleted, to the user in its place).
      tessera::TTesseraTable* users = Raw("Users.DAT");
      users->Locate("NoUtilisateur", cl::Variant(kind == kOwnUserDeleted ? other : 1), {});
      users->Edit();
      users->FieldByName("NewMessages")->SetAsInteger(1);
      users->FieldByName("DateNewMessage")->SetAsDateTime(now_ += 0.01);
      users->Post();
      if (kind == kOwnUserDeleted) {
        users->Locate("NoUtilisateur", cl::Variant(1), {});
        users->Delete();
        dm_->TableUtilisateurs->Refresh();
        dm_->TableUtilisateurs->Locate("NoUtilisateur", cl::Variant(other), {});
      }
    }
    dm_->CheckNewMessages();
    EXPECT_FALSE(db_->FInTimer);
    const bool alerted = kind == kFlagMinimized || kind == kGoSee;
    EXPECT_EQ(windows_.alerts, alerted ? std::vector<bool>{false} : std::vector<bool>{});
    EXPECT_EQ(windows_.animations, alerted || kind == kDialogOpen ? 1 : 0);
    EXPECT_EQ(windows_.posted,
              kind == kGoSee ? std::vector<uint32_t>{WM_SHOW_MAIN} : std::vector<uint32_t>{});
    if (kind != kNothing && kind != kOwnUserDeleted) {
      EXPECT_EQ(UserField(1, "NewMessages"), 0);
    }
    if (kind == kOwnUserDeleted) {
      EXPECT_EQ(UserField(other, "NewMessages"), 1);
    }
  }
}

// The module's texts, as the design writes them (UTF-8 here, Windows-1252 in the program).
TEST_F(MainDataModuleTest, GoldenTexts) {
  const auto u = [](const char* text) { return cl::Utf8ToCp1252(text); };
  const auto label = [this](cl::TDataSet* d, const char* f) {
    return d->FieldByName(f)->DisplayLabel();
  };
  struct Golden {
    std::string actual;
    std::string expected;
  };
  const std::vector<Golden> texts = {
      {kNoSubject, u("(Sans sujet)")},
      {kUnreadLabel, u("Vous avez des messages non lus")},
      {kNoRecipient, u("Vous n'avez pas saisi de destinataires !")},
      {kRecordLocked, u("L'enregistrement est déjà en cours de modification par un autre "
                        "utilisateur.")},
      {kFatalTimerSuffix, u(" => Erreur fatale dans Timer")},
      {kMajMissing, u("Impossible de repérer le fichier TableMAJ à l'éxécution")},
      {kNetworkLost, u("Perte momentanée de connexion réseau")},
      {kChooseDatabaseCaption, u("Chemin vers la base de données")},
      {kChooseDatabaseText,
       u("Veuillez sélectionner le répertoire contenant la base de données Mirvel")},
      {label(dm_->TableUtilisateurs, "NomReseau"), u("Nom réseau")},
      {label(dm_->TableUtilisateurs, "AdresseMessagerie"), u("Adresse messagerie")},
      {label(dm_->TableUtilisateurs, "NomComplet"), u("Nom complet")},
      {label(dm_->TableMessages, "DateAppel"), u("Date appel")},
      {label(dm_->TableMessages, "DateDBGrid"), u("Date appel")},
      {label(dm_->TableMessages, "NoRappeler"), u("N° à rappeler")},
      {label(dm_->TableMessages, "NoRappeler2"), u("N° à rappeler 2")},
      {label(dm_->TableMessages, "SuiteDonnee"), u("Suite donnée")},
      {label(dm_->TableMessages, "DestinataireSelecter"), u("Destinataire")},
      {label(dm_->TableMessages, "UserSelecter"), u("Réceptioniste")},
      {label(dm_->TableMessages, "Societe"), u("Société")},
      {label(dm_->TableClients, "Societe"), u("Société")},
      {label(dm_->TableClients, "Adresse1"), u("Adresse 1")},
      {label(dm_->TableClients, "Adresse2"), u("Adresse 2")},
      {label(dm_->TableClients, "CodePostal"), u("Code postal")},
      {label(dm_->TableClients, "TelStandard"), u("Tel standard")},
      {label(dm_->TableClients, "TelFax"), u("Télécopie")},
      {label(dm_->TableInterlocuteurs, "Nom"), u("Nom complet")},
      {label(dm_->TableInterlocuteurs, "Tel1"), u("Téléphone 1")},
      {label(dm_->TableInterlocuteurs, "Tel2"), u("Téléphone 2")},
      {db_->DBNavManager1->Label(comp::navInsert), u("&Nouveau")},
      {db_->DBNavManager1->Label(comp::navEdit), u("&Modifier")},
      {db_->DBNavManager1->Label(comp::navDelete), u("Su&pprimer")},
      {db_->DBNavManager1->Label(comp::navPost), u("&Sauver")},
      {db_->DBNavManager1->Label(comp::navCancel), u("&Annuler")},
      {db_->DBNavManager1->Hint(comp::navInsert), u("Ajouter un nouvel enregistrement")},
      {db_->DBNavManager1->Hint(comp::navEdit), u("Modifier l'enregistrement")},
      {db_->DBNavManager1->Hint(comp::navDelete), u("Supprimer l'enregistrement")},
      {db_->DBNavManager1->Hint(comp::navPost), u("Sauver les modifications")},
      {db_->DBNavManager1->Hint(comp::navCancel), u("Annuler les modifications")},
      {dm_->QueryRechercheInter->SQL()->Text(),
       u("SELECT I.NoSociete, I.NoInterlocuteur, I.Nom, I.Fonction, C.Societe, C.Ville\r\n"
         "FROM \r\nInter I, Clients C\r\nWHERE \r\nI.NoSociete = C.NoSociete\r\nORDER BY \r\n"
         "I.Nom\r\n")},
  };
  for (const Golden& g : texts) EXPECT_EQ(g.actual, g.expected);
}

// Another station deletes the message shown: marking it read, marking all read and the field
// retry write into no other message, end at once, and leave the table refreshed.
TEST_F(MainDataModuleTest, WritesToAMessageAnotherStationDeleted) {
  tessera::TTesseraTable* other = Raw("Messages.DAT");
  const cl::Variant n;
  for (int i = 1; i <= 5; ++i) {
    other->AppendRecord({cl::Variant::FromDate(kToday + i * 0.1), "c", 1, n, n, n, n, 1, n, n, 0});
  }
  tessera::TTesseraTable* messages = dm_->TableMessages;
  std::vector<int> lu;
  auto vanish_and_read = [&](const std::function<void()>& write) {
    if (!messages->Active()) messages->Open();
    messages->Refresh();
    messages->First();
    other->Refresh();
    ASSERT_TRUE(other->Locate("DateAppel", dm_->TableMessagesDateAppel->AsVariant(), {}));
    other->Delete();
    write();
    EXPECT_EQ(messages->State(), cl::dsBrowse);
    other->Refresh();
    for (other->First(); !other->Eof(); other->Next()) {
      lu.push_back(other->FieldByName("Lu")->AsInteger());
    }
  };
  vanish_and_read([&] { EXPECT_FALSE(dm_->ChangeCurrentMessage([] {})); });
  EXPECT_EQ(windows_.posted.back(), WM_REFRESH_VIEW);
  vanish_and_read([&] { dm_->MarkAllRead(); });
  vanish_and_read([&] { db_->SetFieldRetry(messages, dm_->TableMessagesLu, 0, cl::Variant(0)); });
  EXPECT_EQ(lu, (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(Count(LogText(), "Erreur :"), 1);
}

}  // namespace
}  // namespace mirvel
