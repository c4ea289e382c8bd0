// The application's most demanding uses of the dataset model, replayed on fakes through the
// public interface only: a master/detail link, the multi-recipient posting, the retried field
// update and the per-table numbering.
#include <gtest/gtest.h>

#include <algorithm>

#include "FakeDataSet.h"
#include "classlib/db/DBConsts.h"
#include "classlib/db/TDataLink.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/Rounding.h"

namespace cl::test {
namespace {

class TDetailFake;

// A master link as the table and the in-memory dataset build theirs on TDataLink.
class TToyMasterLink : public TDataLink {
 public:
  explicit TToyMasterLink(TDetailFake* detail) : detail_(detail) {}
  std::string master_fields;
  std::vector<TField*> fields;

 protected:
  void ActiveChanged() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(TField* field) override;
  void CheckBrowseMode() override;

 private:
  TDetailFake* detail_;
};

// A detail dataset: shows the records whose NoSociete equals the master's.
class TDetailFake : public TFakeDataSet {
 public:
  explicit TDetailFake(TComponent* owner) : TFakeDataSet(owner) {
    SetOnFilterRecord([this](TDataSet* dataset, bool& accept) {
      accept = !ranged_ || dataset->FieldByName("NoSociete")->AsInteger() == key_;
    });
  }
  ~TDetailFake() override {
    DestroyingClose();
    master_link_.SetDataSource(nullptr);
  }

  void SetMasterSource(TDataSource* source) {
    if (source != nullptr && IsLinkedTo(source)) DatabaseError(SCircularDataLink);
    master_link_.SetDataSource(source);
  }
  void SetMasterFields(const std::string& names) { master_link_.master_fields = names; }
  TDataSource* GetDataSource() const override { return master_link_.DataSource(); }

  void MasterChanged() {
    CheckBrowseMode();
    ranged_ = true;
    key_ = master_link_.fields[0]->AsInteger();
    if (Filtered()) {
      First();
    } else {
      SetFiltered(true);
    }
  }
  void MasterDisabled() {
    ranged_ = false;
    SetFiltered(false);
  }

 protected:
  void DoOnNewRecord() override {
    if (master_link_.Active() && !master_link_.fields.empty()) {
      FieldByName("NoSociete")->SetValue(master_link_.fields[0]->Value());
    }
    TFakeDataSet::DoOnNewRecord();
  }

 private:
  TToyMasterLink master_link_{this};
  bool ranged_ = false;
  int key_ = 0;
};

void TToyMasterLink::ActiveChanged() {
  fields.clear();
  if (Active()) DataSet()->GetFieldList(fields, master_fields);
  if (detail_->Active() && !detail_->ComponentState().Contains(csDestroying)) {
    if (Active() && !fields.empty()) {
      detail_->MasterChanged();
    } else {
      detail_->MasterDisabled();
    }
  }
}

void TToyMasterLink::RecordChanged(TField* field) {
  if (DataSource()->State() == dsSetKey || !detail_->Active() || fields.empty()) return;
  if (field == nullptr || std::find(fields.begin(), fields.end(), field) != fields.end()) {
    detail_->MasterChanged();
  }
}

void TToyMasterLink::CheckBrowseMode() {
  if (detail_->Active()) detail_->CheckBrowseMode();
}

std::vector<int> Column(TDataSet* dataset, const char* name) {
  std::vector<int> values;
  dataset->First();
  while (!dataset->Eof()) {
    values.push_back(dataset->FieldByName(name)->AsInteger());
    dataset->Next();
  }
  return values;
}

class MasterDetailFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    clients_ = Create<TFakeDataSet>(&owner_);
    clients_->AddFieldDef("NoSociete", ftInteger);
    clients_->AddFieldDef("Societe", ftString, 50);
    callers_ = Create<TDetailFake>(&owner_);
    callers_->AddFieldDef("NoSociete", ftInteger);
    callers_->AddFieldDef("NoInterlocuteur", ftInteger);
    callers_->AddFieldDef("Nom", ftString, 50);
    ds_clients_ = Create<TDataSource>(&owner_);
    ds_clients_->SetDataSet(clients_);
    clients_->Open();
    for (int i = 0; i <= 3; ++i) clients_->AppendRecord({Variant(i), Variant("Soci\xE9t\xE9")});
    callers_->Open();
    const int owners[] = {1, 2, 1, 3, 2, 1};
    for (int i = 0; i < 6; ++i) callers_->AppendRecord({Variant(owners[i]), Variant(i + 1)});
    callers_->SetMasterFields("NoSociete");
    callers_->SetMasterSource(ds_clients_);
    clients_->First();
  }

  TComponent owner_{nullptr};
  TFakeDataSet* clients_ = nullptr;
  TDetailFake* callers_ = nullptr;
  TDataSource* ds_clients_ = nullptr;
};

TEST_F(MasterDetailFlow, TheDetailFollowsTheMaster) {
  EXPECT_EQ(Column(callers_, "NoInterlocuteur"), std::vector<int>{});  // client 0 has none
  clients_->Next();
  EXPECT_EQ(Column(callers_, "NoInterlocuteur"), (std::vector<int>{1, 3, 6}));
  clients_->Next();
  EXPECT_EQ(Column(callers_, "NoInterlocuteur"), (std::vector<int>{2, 5}));
  // A new caller gets the master's key before OnNewRecord sees it.
  int seen = -1;
  callers_->SetOnNewRecord(
      [&seen](TDataSet* dataset) { seen = dataset->FieldByName("NoSociete")->AsInteger(); });
  callers_->Append();
  EXPECT_EQ(seen, 2);
  callers_->FieldByName("NoInterlocuteur")->SetAsInteger(7);
  callers_->Post();
  EXPECT_EQ(Column(callers_, "NoInterlocuteur"), (std::vector<int>{2, 5, 7}));
  // Closing the master shows every caller.
  clients_->Close();
  EXPECT_EQ(Column(callers_, "NoInterlocuteur").size(), 7u);
  clients_->Open();
  EXPECT_EQ(Column(callers_, "NoInterlocuteur"), std::vector<int>{});
}

TEST_F(MasterDetailFlow, APendingDetailEditIsSettledBeforeTheMasterMoves) {
  clients_->Next();
  callers_->First();
  callers_->Edit();
  callers_->FieldByName("Nom")->SetAsString("Modifi\xE9");
  clients_->Next();  // the master's browse-mode check reaches the detail
  EXPECT_EQ(callers_->State(), dsBrowse);
  EXPECT_EQ(callers_->StoredValue(0, "Nom").AsString(), "Modifi\xE9");
}

TEST_F(MasterDetailFlow, DetachingAndReattachingWhileBrowsing) {
  clients_->Next();
  callers_->SetMasterSource(nullptr);
  EXPECT_EQ(Column(callers_, "NoInterlocuteur").size(), 6u);
  clients_->Next();
  EXPECT_EQ(Column(callers_, "NoInterlocuteur").size(), 6u);
  callers_->SetMasterSource(ds_clients_);
  EXPECT_EQ(Column(callers_, "NoInterlocuteur"), (std::vector<int>{2, 5}));
}

TEST_F(MasterDetailFlow, CircularLinksAreRefused) {
  auto* ds_callers = Create<TDataSource>(&owner_);
  ds_callers->SetDataSet(callers_);
  auto* other = Create<TDetailFake>(&owner_);
  other->SetMasterSource(ds_callers);
  auto* ds_other = Create<TDataSource>(&owner_);
  ds_other->SetDataSet(other);
  try {
    callers_->SetMasterSource(ds_other);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), SCircularDataLink);
  }
  EXPECT_THROW(ds_clients_->SetDataSet(callers_), EDatabaseError);
  EXPECT_TRUE(callers_->IsLinkedTo(ds_clients_) == false);
  EXPECT_TRUE(other->IsLinkedTo(ds_other));
  EXPECT_EQ(ds_clients_->DataSet(), clients_);
}

// ---- posting one message to several recipients ------------------------------------------------

// A messages table whose call dates are a unique key, as the application's index makes them.
class TMessagesFake : public TFakeDataSet {
 public:
  using TFakeDataSet::TFakeDataSet;

 protected:
  void InternalPost() override {
    double date = FieldByName("DateAppel")->AsDateTime();
    for (int i = 0; i < StoredCount(); ++i) {
      if (StoredValue(i, "DateAppel").AsDateTime() == date) {
        throw EFakeEngineError(9729, "Key violation.");
      }
    }
    TFakeDataSet::InternalPost();
  }
};

void AddMessageDefs(TFakeDataSet* dataset) {
  dataset->AddFieldDef("DateAppel", ftDateTime, 0, true);
  dataset->AddFieldDef("NoDestinataire", ftInteger);
  dataset->AddFieldDef("Sujet", ftString, 50);
  dataset->AddFieldDef("Message", ftMemo);
}

void CopyFields(TDataSet* from, TDataSet* to) {
  for (const char* name : {"DateAppel", "NoDestinataire", "Sujet", "Message"}) {
    to->FieldByName(name)->Assign(from->FieldByName(name));
  }
}

TEST(MultiRecipientFlow, CopiesArePostedInsteadOfTheMessage) {
  TTrace trace;
  TComponent owner(nullptr);
  auto* messages = Create<TMessagesFake>(&owner);
  AddMessageDefs(messages);
  auto* buffer = Create<TFakeDataSet>(&owner);  // the one-message scratch buffer
  AddMessageDefs(buffer);
  auto* source = Create<TDataSource>(&owner);
  source->SetDataSet(messages);
  TTraceLink grid(&trace);
  grid.SetDataSource(source);
  TEventRecorder recorder(&trace);
  messages->Open();
  buffer->Open();
  messages->AppendRecord({Variant::FromDate(EncodeDate(2024, 6, 2) + 0.5), Variant(4)});
  const TDateTime when = EncodeDate(2024, 6, 3) + 0.5;

  int post_retries = 0;
  recorder.on_post_error = [&post_retries](TDataSet* dataset, EDatabaseError& e,
                                           TDataAction& action) {
    auto* engine = dynamic_cast<EFakeEngineError*>(&e);
    if (engine == nullptr || engine->Code() != 9729 || post_retries >= 20) return;
    ++post_retries;
    TField* date = dataset->FieldByName("DateAppel");
    date->SetAsDateTime(date->AsDateTime() + 1e-05);
    action = daRetry;
  };
  const int recipients[] = {2, 5, 9};
  recorder.hooks["BeforePost"] = [&](TDataSet* dataset) {
    if (dataset->FieldByName("NoDestinataire")->AsInteger() != 0) return;
    post_retries = 0;
    buffer->Edit();  // the first time, the empty buffer inserts its one record
    CopyFields(messages, buffer);
    buffer->Post();
    messages->DisableControls();
    TDataSetNotifyEvent before_post = messages->BeforePost();
    TDataSetNotifyEvent after_post = messages->AfterPost();
    messages->SetBeforePost(nullptr);
    messages->SetAfterPost(nullptr);
    try {
      messages->Cancel();
      for (int n : recipients) {
        messages->Append();
        CopyFields(buffer, messages);
        messages->FieldByName("NoDestinataire")->SetAsInteger(n);
        messages->Post();
      }
    } catch (...) {
      messages->SetBeforePost(before_post);
      messages->SetAfterPost(after_post);
      messages->EnableControls();
      throw;
    }
    messages->SetBeforePost(before_post);
    messages->SetAfterPost(after_post);
    messages->EnableControls();
    Abort();
  };
  recorder.Attach(messages);

  messages->Append();
  messages->FieldByName("DateAppel")->SetAsDateTime(when);
  messages->FieldByName("NoDestinataire")->SetAsInteger(0);
  messages->FieldByName("Sujet")->SetAsString("(Sans sujet)");
  messages->FieldByName("Message")->SetAsString("Rappeler avant midi");
  trace.Clear();
  EXPECT_THROW(messages->Post(), EAbort);

  EXPECT_EQ(messages->State(), dsBrowse);
  EXPECT_EQ(buffer->RecordCount(), 1);
  EXPECT_EQ(post_retries, 3);  // the second copy once, the third twice
  ASSERT_EQ(messages->StoredCount(), 4);
  std::vector<int> to;
  std::vector<double> step_ms;
  double first = TimeStampToMSecs(DateTimeToTimeStamp(when));
  for (int i = 1; i < 4; ++i) {
    to.push_back(messages->StoredValue(i, "NoDestinataire").AsInteger());
    EXPECT_EQ(messages->StoredValue(i, "Message").AsString(), "Rappeler avant midi");
    step_ms.push_back(
        TimeStampToMSecs(DateTimeToTimeStamp(messages->StoredValue(i, "DateAppel").AsDateTime())) -
        first);
  }
  EXPECT_EQ(to, (std::vector<int>{2, 5, 9}));
  EXPECT_EQ(step_ms, (std::vector<double>{0, 864, 1728}));
  EXPECT_EQ(trace.Filtered({"e:BeforePost", "e:AfterPost"}), (Trace{"e:BeforePost"}));
  EXPECT_EQ(trace.Filtered({"l:DataSetChanged", "l:DataSetScrolled"}), (Trace{"l:DataSetChanged"}));
  EXPECT_EQ(trace.Filtered({"l:EditingChanged"}), (Trace{"l:EditingChanged"}));
  EXPECT_TRUE(static_cast<bool>(messages->BeforePost()));
  EXPECT_FALSE(messages->ControlsDisabled());
  grid.SetDataSource(nullptr);
}

// ---- the retried field update -----------------------------------------------------------------

// Writes one field of the current record, retrying failed attempts (mode 0 gives up quietly
// after 100 attempts or the timeout, mode 1 raises).
void SetFieldRetry(TDataSet* table, TField* field, int mode, const Variant& value,
                   const std::function<TDateTime()>& now, std::vector<std::string>& log) {
  const double kRetryTimeout = 2.0;
  TDateTime start = now();
  int attempts = 0;
  for (;;) {
    try {
      ++attempts;
      table->Edit();
      field->SetValue(value);
      table->Post();
      return;
    } catch (const Exception& e) {
      log.push_back("Erreur : " + e.Message() + ", " + std::to_string(attempts) + " essais");
      bool over =
          static_cast<double>(Round((now() - start) * 86400)) > kRetryTimeout || attempts > 100;
      if (!over) continue;
      if (mode == 1) {
        throw Exception("Impossible de mettre \xE0 jour le champs " + field->FieldName() +
                        " de la table " + table->Name());
      }
      return;
    }
  }
}

TEST(SetFieldRetryFlow, LockedRecordsAreRetried) {
  TComponent owner(nullptr);
  auto* users = Create<TFakeDataSet>(&owner);
  users->SetName("TableUtilisateurs");
  users->AddFieldDef("NoUtilisateur", ftInteger);
  users->AddFieldDef("Statut", ftInteger);
  users->Open();
  users->AppendRecord({Variant(1), Variant(0)});
  std::vector<std::string> log;
  TDateTime clock = 45000.0;
  auto now = [&clock] { return clock; };
  users->FailNext(FakeSlot::Edit, 5, 10258, "Record locked by another user.");
  SetFieldRetry(users, users->FieldByName("Statut"), 0, Variant(1), now, log);
  EXPECT_EQ(log.size(), 5u);
  EXPECT_EQ(log.back(), "Erreur : Record locked by another user., 5 essais");
  EXPECT_EQ(users->FieldByName("Statut")->AsInteger(), 1);
  EXPECT_EQ(users->State(), dsBrowse);

  // Permanently locked: mode 0 gives up after 101 attempts, without raising.
  log.clear();
  users->FailNext(FakeSlot::Edit, 1000, 10258, "Record locked by another user.");
  SetFieldRetry(users, users->FieldByName("Statut"), 0, Variant(0), now, log);
  EXPECT_EQ(log.size(), 101u);
  // With the clock moving 1 s per attempt, the timeout ends it after the third attempt.
  log.clear();
  auto ticking = [&clock] { return clock += 1.0 / 86400; };
  EXPECT_THROW(SetFieldRetry(users, users->FieldByName("Statut"), 1, Variant(0), ticking, log),
               Exception);
  EXPECT_EQ(log.size(), 3u);
  EXPECT_EQ(users->FieldByName("Statut")->AsInteger(), 1);
}

// ---- per-table numbering ----------------------------------------------------------------------

// A numbering table that can only be opened exclusively while closed.
class TNumbersFake : public TFakeDataSet {
 public:
  using TFakeDataSet::TFakeDataSet;
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive) {
    CheckInactive();
    exclusive_ = exclusive;
  }

 private:
  bool exclusive_ = false;
};

int NextNumber(TNumbersFake* table, const std::string& key) {
  bool saved = table->Exclusive();
  table->Close();
  table->SetExclusive(true);
  table->Open();
  int result = 0;
  try {
    if (table->Locate("NomTable", Variant(key), TLocateOptions{})) {
      table->Edit();
      TField* number = table->FieldByName("Numero");
      number->SetAsInteger(number->AsInteger() + 1);
      result = number->AsInteger();
    } else {
      table->Append();
      table->FieldByName("NomTable")->SetAsString(key);
      table->FieldByName("Numero")->SetAsInteger(1);
      result = 1;
    }
    if (table->State() == dsEdit || table->State() == dsInsert) table->Post();
  } catch (...) {
    table->Close();
    table->SetExclusive(saved);
    throw;
  }
  table->Close();
  table->SetExclusive(saved);
  return result;
}

TEST(NumberingFlow, NumbersComeFromAnExclusiveOpen) {
  TComponent owner(nullptr);
  auto* numbers = Create<TNumbersFake>(&owner);
  numbers->AddFieldDef("NomTable", ftString, 20);
  numbers->AddFieldDef("Numero", ftInteger);
  EXPECT_EQ(NextNumber(numbers, "USERS"), 1);
  EXPECT_EQ(NextNumber(numbers, "USERS"), 2);
  EXPECT_EQ(NextNumber(numbers, "CLIENTS"), 1);
  EXPECT_EQ(NextNumber(numbers, "USERS"), 3);
  EXPECT_FALSE(numbers->Active());
  EXPECT_FALSE(numbers->Exclusive());
  numbers->FailNext(FakeSlot::Post, 1, 10258);
  EXPECT_THROW(NextNumber(numbers, "USERS"), EFakeEngineError);
  EXPECT_FALSE(numbers->Active());
  EXPECT_FALSE(numbers->Exclusive());
  EXPECT_EQ(NextNumber(numbers, "USERS"), 4);  // the failed number was never stored
  numbers->Open();
  EXPECT_THROW(numbers->SetExclusive(true), EDatabaseError);
}

}  // namespace
}  // namespace cl::test
