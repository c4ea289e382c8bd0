// The dataset layer's own behaviour on the traced fake: the protocol calls in each operation,
// database errors with retry, opening failures, field binding, the window when a grid comes and
// goes, key editing, AppendRecord and the find functions.
#include "classlib/db/TDataSet.h"

#include <gtest/gtest.h>

#include "ConformanceFixture.h"
#include "FakeDataSet.h"
#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/Loader.h"

namespace cl::test {
namespace {

std::vector<std::string> Without(std::vector<std::string> entries, const std::string& noise) {
  std::erase(entries, noise);
  return entries;
}

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds_ = Create<TFakeDataSet>(owner_.get(), &trace_);
    AddStandardDefs(ds_);
    CreateStandardFields(ds_, owner_.get());
    source_ = Create<TDataSource>(owner_.get());
    source_->SetDataSet(ds_);
    recorder_.hooks["OnCalcFields"] = [](TDataSet* dataset) {
      dataset->FieldByName("Calcul")->SetAsString(dataset->FieldByName("Nom")->AsString());
    };
    recorder_.Attach(ds_);
    link_.SetDataSource(source_);
  }
  void TearDown() override {
    link_.SetDataSource(nullptr);
    owner_.reset();
  }
  void OpenWith(int count) {
    ds_->Open();
    AppendStandardRecords(ds_, 1, count);
    ds_->First();
    trace_.Clear();
  }
  // Protocol calls and dataset events, without the calculated field's own writes.
  std::vector<std::string> Calls() {
    return Without(trace_.Take({"v:", "e:"}), "v:SetFieldValue(Calcul)");
  }
  TField* F(const char* name) { return ds_->FieldByName(name); }
  int Numero() { return F("Numero")->AsInteger(); }

  TTrace trace_;
  TEventRecorder recorder_{&trace_};
  std::unique_ptr<TComponent> owner_ = std::make_unique<TComponent>(nullptr);
  TFakeDataSet* ds_ = nullptr;
  TDataSource* source_ = nullptr;
  TTraceLink link_{&trace_};
};

TEST_F(DataSetTest, OpenAndCloseCallTheProtocolInOrder) {
  OpenWith(2);
  ds_->Close();
  EXPECT_EQ(Calls(), (Trace{"e:BeforeClose", "v:InternalClose", "e:AfterClose"}));
  ds_->Open();
  EXPECT_EQ(Calls(), (Trace{"e:BeforeOpen", "v:InternalOpen", "v:FetchRecord(next)=OK",
                            "e:OnCalcFields", "e:AfterOpen", "e:AfterScroll"}));
}

TEST_F(DataSetTest, EditPostAndCancelCallTheProtocolInOrder) {
  OpenWith(2);
  ds_->Edit();
  EXPECT_EQ(Calls(), (Trace{"e:BeforeEdit", "v:InternalEdit", "e:OnCalcFields", "e:AfterEdit"}));
  F("Message")->SetAsString("rappeler");
  trace_.Clear();
  ds_->Post();
  EXPECT_EQ(Calls(), (Trace{"e:BeforePost", "v:InternalPost", "v:CloseBlob(Message)",
                            "v:FetchRecord(current)=OK", "e:OnCalcFields", "e:AfterPost"}));
  ds_->Edit();
  trace_.Clear();
  ds_->Cancel();
  EXPECT_EQ(Calls(), (Trace{"e:BeforeCancel", "v:InternalCancel", "v:FetchRecord(current)=OK",
                            "e:OnCalcFields", "e:AfterCancel"}));
  ds_->Insert();
  trace_.Clear();
  ds_->Cancel();  // nothing was locked for an insert
  EXPECT_EQ(Calls(), (Trace{"e:BeforeCancel", "v:FetchRecord(current)=OK", "e:OnCalcFields",
                            "e:AfterCancel"}));
  EXPECT_EQ(Numero(), 1);
}

TEST_F(DataSetTest, AppendPositionsTheCursorAfterTheLastRecord) {
  OpenWith(3);
  ds_->Append();
  EXPECT_EQ(Calls(), (Trace{"e:BeforeInsert", "e:BeforeScroll", "v:InternalInitRecord",
                            "e:OnNewRecord", "e:AfterInsert", "e:AfterScroll"}));
  F("Numero")->SetAsInteger(4);
  F("DateAppel")->SetAsDateTime(StandardDate(4));
  trace_.Clear();
  ds_->Post();
  EXPECT_EQ(Calls(), (Trace{"e:BeforePost", "v:InternalLast", "v:InternalPost",
                            "v:FetchRecord(current)=OK", "e:OnCalcFields", "e:AfterPost"}));
  EXPECT_EQ(ds_->StoredValue(3, "Numero").AsInteger(), 4);
}

TEST_F(DataSetTest, FieldAssignmentWritesThenTellsTheLinksThenOnChange) {
  OpenWith(2);
  ds_->Edit();
  F("Nom")->SetOnChange([this](TField*) { trace_.Add("e:OnChange(Nom)"); });
  trace_.Clear();
  F("Nom")->SetAsString("Durand");
  EXPECT_EQ(
      Without(trace_.Take({"v:SetFieldValue", "l:", "e:"}), "v:SetFieldValue(Calcul)"),
      (Trace{"v:SetFieldValue(Nom)", "e:OnCalcFields", "l:RecordChanged(Nom)", "e:OnChange(Nom)"}));
}

TEST_F(DataSetTest, SilentAbortBeforePostWritesNothing) {
  OpenWith(2);
  recorder_.hooks["BeforePost"] = [](TDataSet*) { Abort(); };
  ds_->Append();
  F("Numero")->SetAsInteger(3);
  F("DateAppel")->SetAsDateTime(StandardDate(3));
  trace_.Clear();
  EXPECT_THROW(ds_->Post(), EAbort);
  EXPECT_EQ(Calls(), (Trace{"e:BeforePost"}));
  EXPECT_EQ(ds_->State(), dsInsert);
  EXPECT_EQ(ds_->StoredCount(), 2);
}

TEST_F(DataSetTest, EditErrorMessageCanBeRewritten) {
  OpenWith(2);
  ds_->FailNext(FakeSlot::Edit, 1, 10258, "Record locked by another user.");
  recorder_.on_edit_error = [](TDataSet*, EDatabaseError& e, TDataAction&) {
    auto* engine = dynamic_cast<EFakeEngineError*>(&e);
    if (engine != nullptr && engine->Code() == 10258) {
      e.SetMessage(
          "L'enregistrement est d\xE9j\xE0 en cours de modification par un autre "
          "utilisateur.");
    }
  };
  try {
    ds_->Edit();
    FAIL() << "the edit must fail";
  } catch (const EFakeEngineError& e) {
    EXPECT_EQ(e.Code(), 10258);
    EXPECT_EQ(std::string(e.what()),
              "L'enregistrement est d\xE9j\xE0 en cours de modification "
              "par un autre utilisateur.");
  }
  EXPECT_EQ(ds_->State(), dsBrowse);
  EXPECT_EQ(Calls(), (Trace{"e:BeforeEdit", "v:InternalEdit", "e:OnEditError"}));
  ds_->Edit();  // the lock is free again
  EXPECT_EQ(ds_->State(), dsEdit);
}

TEST_F(DataSetTest, PostRetriesWithALaterCallDate) {
  OpenWith(1);
  ds_->FailNext(FakeSlot::Post, 2, 9729, "Key violation.");
  int calls_before = ds_->Calls(FakeSlot::Post);
  int retries = 0;
  recorder_.on_post_error = [&retries](TDataSet* dataset, EDatabaseError& e, TDataAction& action) {
    auto* engine = dynamic_cast<EFakeEngineError*>(&e);
    if (engine == nullptr || engine->Code() != 9729 || retries >= 20) return;
    ++retries;
    TField* date = dataset->FieldByName("DateAppel");
    date->SetAsDateTime(date->AsDateTime() + 1e-05);
    action = daRetry;
  };
  ds_->Append();
  F("Numero")->SetAsInteger(2);
  F("DateAppel")->SetAsDateTime(StandardDate(2));
  ds_->Post();
  EXPECT_EQ(retries, 2);
  EXPECT_EQ(ds_->Calls(FakeSlot::Post) - calls_before, 3);
  double posted = TimeStampToMSecs(DateTimeToTimeStamp(F("DateAppel")->AsDateTime()));
  double asked = TimeStampToMSecs(DateTimeToTimeStamp(StandardDate(2)));
  EXPECT_EQ(posted - asked, 1728.0);  // two steps of 0.864 s
  EXPECT_EQ(ds_->StoredCount(), 2);
}

TEST_F(DataSetTest, TheTwentyFirstKeyViolationFails) {
  OpenWith(1);
  ds_->FailNext(FakeSlot::Post, 21, 9729, "Key violation.");
  int calls_before = ds_->Calls(FakeSlot::Post);
  int retries = 0;
  recorder_.on_post_error = [&retries](TDataSet*, EDatabaseError&, TDataAction& action) {
    if (retries < 20) {
      ++retries;
      action = daRetry;
    }
  };
  ds_->Append();
  F("DateAppel")->SetAsDateTime(StandardDate(2));
  EXPECT_THROW(ds_->Post(), EFakeEngineError);
  EXPECT_EQ(ds_->Calls(FakeSlot::Post) - calls_before, 21);
  EXPECT_EQ(ds_->State(), dsInsert);
  EXPECT_EQ(ds_->StoredCount(), 1);
}

TEST_F(DataSetTest, DeleteErrorsReachOnDeleteError) {
  OpenWith(3);
  ds_->FailNext(FakeSlot::Delete, 1, 10258);
  recorder_.on_delete_error = [](TDataSet*, EDatabaseError&, TDataAction& action) {
    action = daRetry;
  };
  ds_->Delete();
  EXPECT_EQ(ds_->Calls(FakeSlot::Delete), 2);
  EXPECT_EQ(AllNumeros(ds_), (std::vector<int>{2, 3}));
}

TEST_F(DataSetTest, FailedOpenLeavesTheDatasetClosed) {
  ds_->FailNext(FakeSlot::Open, 1, 10031, "Table is busy.");
  EXPECT_THROW(ds_->Open(), EFakeEngineError);
  EXPECT_FALSE(ds_->Active());
  EXPECT_EQ(Calls(), (Trace{"e:BeforeOpen", "v:InternalOpen", "v:InternalClose"}));
  EXPECT_EQ(trace_.Take({"l:"}), Trace{});
  ds_->Open();
  EXPECT_TRUE(ds_->Active());
}

TEST_F(DataSetTest, FetchErrorsRaise) {
  OpenWith(3);
  ds_->FailNext(FakeSlot::Fetch, 1, 8450, "Corrupt record.");
  EXPECT_THROW(ds_->Next(), EFakeEngineError);
  ds_->First();
  ds_->Next();
  EXPECT_EQ(Numero(), 2);
}

TEST_F(DataSetTest, FieldsMustMatchTheirDefinitions) {
  auto* missing = Create<TIntegerField>(owner_.get());
  missing->SetFieldName("Absent");
  missing->SetDataSet(ds_);
  try {
    ds_->Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Champ 'Absent' non trouv\xE9");
  }
  EXPECT_FALSE(ds_->Active());
  delete missing;
  ds_->FieldByName("Numero")->SetDataSet(nullptr);
  auto* wrong = Create<TStringField>(owner_.get());
  wrong->SetFieldName("Numero");
  wrong->SetDataSet(ds_);
  try {
    ds_->Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(),
              "Type incorrect pour le champ 'Numero', attendu : ftString, r\xE9"
              "el : ftInteger");
  }
  delete wrong;
  auto* narrow = static_cast<TStringField*>(ds_->FieldByName("Nom"));
  narrow->SetSize(10);
  EXPECT_THROW(ds_->Open(), EDatabaseError);
  narrow->SetSize(20);
  ds_->Open();
  EXPECT_THROW(narrow->SetSize(5), EDatabaseError) << "only while closed";
}

TEST_F(DataSetTest, DefaultFieldsLiveWhileOpen) {
  TComponent owner(nullptr);
  auto* plain = Create<TFakeDataSet>(&owner);
  AddStandardDefs(plain);
  plain->Open();
  ASSERT_EQ(plain->FieldCount(), 4);
  EXPECT_TRUE(plain->DefaultFields());
  EXPECT_EQ(plain->Fields(0)->Owner(), plain);
  EXPECT_EQ(plain->Fields(2)->FieldNo(), 3);
  EXPECT_TRUE(plain->Fields(2)->Required());
  plain->Close();
  EXPECT_EQ(plain->FieldCount(), 0);
  EXPECT_FALSE(plain->DefaultFields());
}

TEST_F(DataSetTest, DestroyingAPersistentFieldClosesTheDataset) {
  OpenWith(2);
  delete ds_->FieldByName("Calcul");
  EXPECT_FALSE(ds_->Active());
  EXPECT_EQ(ds_->FindField("Calcul"), nullptr);
  EXPECT_EQ(trace_.Take({"e:BeforeClose", "e:AfterClose"}),
            (Trace{"e:BeforeClose", "e:AfterClose"}));
  recorder_.hooks["OnCalcFields"] = nullptr;
  ds_->Open();
  EXPECT_EQ(ds_->RecordCount(), 2);
}

TEST_F(DataSetTest, InvalidBookmarkFailsInTheResync) {
  OpenWith(4);
  ds_->Next();
  TBookmark two = ds_->GetBookmark();
  ds_->Delete();
  EXPECT_FALSE(ds_->BookmarkValid(two));
  try {
    ds_->GotoBookmark(two);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), SRecordNotFound);
  }
  TBookmark nil;
  EXPECT_EQ(ds_->CompareBookmarks(nil, nil), 0);
  EXPECT_EQ(ds_->CompareBookmarks(nil, ds_->GetBookmark()), 1);
  EXPECT_EQ(ds_->CompareBookmarks(ds_->GetBookmark(), nil), -1);
  EXPECT_EQ(trace_.Filtered({"v:CompareBookmarks"}).size(), 3u);
}

TEST_F(DataSetTest, TheWindowShrinksAroundTheActiveRecord) {
  OpenWith(12);
  TTraceLink grid(&trace_, "grid");
  grid.SetBufferCount(5);
  grid.SetDataSource(source_);
  EXPECT_EQ(ds_->RecordCountInBuffers(), 5);
  ds_->Last();
  EXPECT_EQ(ds_->ActiveRecord(), 4);
  grid.SetDataSource(nullptr);  // back to one buffer, still on the last record
  EXPECT_EQ(ds_->BufferCount(), 1);
  EXPECT_EQ(ds_->RecordCountInBuffers(), 1);
  EXPECT_EQ(Numero(), 12);
  ds_->Prior();
  EXPECT_EQ(Numero(), 11);
  // A grid arriving in the middle gets the records around the active one.
  grid.SetDataSource(source_);
  EXPECT_EQ(ds_->RecordCountInBuffers(), 5);
  EXPECT_EQ(Numero(), 11);
  EXPECT_EQ(grid.RecordCount(), 5);
  int active = grid.ActiveRecord();
  grid.SetActiveRecord(0);
  EXPECT_EQ(Numero(), 8);  // records after the active one are fetched first
  grid.SetActiveRecord(grid.RecordCount() - 1);
  EXPECT_EQ(Numero(), 12);
  grid.SetActiveRecord(active);
  EXPECT_EQ(Numero(), 11);
  EXPECT_THROW(grid.SetActiveRecord(5), EListError);
  grid.SetDataSource(nullptr);
}

TEST_F(DataSetTest, ReopeningWhileDisabledIsALayoutChange) {
  OpenWith(2);
  TFieldDataLink field_link;
  field_link.SetDataSource(source_);
  field_link.SetFieldName("Nom");
  ds_->DisableControls();
  ds_->Close();  // the links let go of the fields at once
  EXPECT_EQ(field_link.Field(), nullptr);
  EXPECT_FALSE(link_.Active());
  ds_->Open();
  EXPECT_EQ(field_link.Field(), ds_->FieldByName("Nom"));
  EXPECT_EQ(trace_.Take({"l:"}), (Trace{"l:ActiveChanged", "l:ActiveChanged"}));
  ds_->Next();
  ds_->Edit();
  EXPECT_EQ(trace_.Take({"l:"}), Trace{});
  ds_->EnableControls();
  EXPECT_EQ(trace_.Take({"l:"}), (Trace{"l:EditingChanged", "l:LayoutChanged"}));
  field_link.SetDataSource(nullptr);
}

TEST_F(DataSetTest, KeyEditingIsSilentUntilPostOrCancel) {
  OpenWith(3);
  ds_->WithTempKeyState([&] { F("Numero")->SetAsInteger(7); });
  EXPECT_EQ(trace_.Take({"l:", "e:"}), Trace{});
  EXPECT_EQ(ds_->State(), dsBrowse);
  EXPECT_EQ(Numero(), 1);
  ds_->SetKey();
  EXPECT_EQ(ds_->State(), dsSetKey);
  EXPECT_EQ(F("Numero")->AsInteger(), 7);  // the key buffer
  F("Numero")->SetAsInteger(8);
  ds_->Cancel();
  EXPECT_EQ(ds_->State(), dsBrowse);
  ds_->SetKey();
  EXPECT_EQ(F("Numero")->AsInteger(), 7);  // cancelled back
  ds_->Post();
  EXPECT_TRUE(ds_->KeyModified());
  EXPECT_EQ(trace_.Filtered({"v:FinishKeyEdit"}),
            (Trace{"v:FinishKeyEdit(cancel)", "v:FinishKeyEdit(post)"}));
}

TEST_F(DataSetTest, FilterStateWritesReachNobody) {
  OpenWith(2);
  bool saw_filter_state = false;
  ds_->SetOnFilterRecord([&](TDataSet* dataset, bool& accept) {
    saw_filter_state = dataset->State() == dsFilter;
    dataset->FieldByName("Nom")->SetAsString("filtre");  // the record under test only
    accept = true;
  });
  ds_->SetFiltered(true);
  trace_.Clear();
  EXPECT_EQ(ds_->RecordCount(), 2);
  EXPECT_TRUE(saw_filter_state);
  EXPECT_EQ(trace_.Take({"l:", "e:"}), Trace{});
  EXPECT_EQ(ds_->StoredValue(0, "Nom").AsString(), "Nom01");
}

TEST_F(DataSetTest, AppendRecordAndInsertRecordWriteWithoutInsertState) {
  OpenWith(3);
  ds_->Next();
  trace_.Clear();
  ds_->AppendRecord({Variant(10), Variant("Dix"), Variant::FromDate(StandardDate(10))});
  EXPECT_EQ(Calls(), (Trace{"e:BeforeInsert", "e:BeforeScroll", "v:InternalInitRecord",
                            "v:SetFieldValue(Numero)", "e:OnCalcFields", "v:SetFieldValue(Nom)",
                            "e:OnCalcFields", "v:SetFieldValue(DateAppel)", "e:OnCalcFields",
                            "v:InternalLast", "v:InsertRecordIntoFile(append)",
                            "v:FetchRecord(current)=OK", "e:OnCalcFields", "e:AfterScroll"}));
  EXPECT_EQ(Numero(), 10);
  ds_->First();
  ds_->Next();
  ds_->InsertRecord({Variant(20), Variant("Vingt"), Variant::FromDate(StandardDate(20))});
  EXPECT_EQ(Numero(), 20);
  EXPECT_EQ(ds_->State(), dsBrowse);
  EXPECT_EQ(AllNumeros(ds_), (std::vector<int>{1, 20, 2, 3, 10}));
  // The required date is checked as for Post.
  EXPECT_THROW(ds_->AppendRecord({Variant(30)}), EDatabaseError);
  EXPECT_EQ(AllNumeros(ds_).size(), 5u);
}

TEST_F(DataSetTest, FindFunctionsSearchWithTheRecordFilter) {
  OpenWith(12);
  ds_->SetOnFilterRecord([](TDataSet* dataset, bool& accept) {
    accept = dataset->FieldByName("Numero")->AsInteger() % 5 == 0;
  });
  EXPECT_TRUE(ds_->FindFirst());
  EXPECT_EQ(Numero(), 5);
  EXPECT_TRUE(ds_->FindNext());
  EXPECT_EQ(Numero(), 10);
  EXPECT_FALSE(ds_->FindNext());
  EXPECT_FALSE(ds_->Found());
  EXPECT_EQ(Numero(), 10);
  EXPECT_TRUE(ds_->FindPrior());
  EXPECT_EQ(Numero(), 5);
  EXPECT_TRUE(ds_->FindLast());
  EXPECT_EQ(Numero(), 10);
  EXPECT_TRUE(ds_->Found());
}

TEST_F(DataSetTest, RecordNumbersFollowTheFilteredView) {
  OpenWith(6);
  EXPECT_EQ(ds_->RecNo(), 1);
  ds_->SetRecNo(4);
  EXPECT_EQ(Numero(), 4);
  ds_->SetOnFilterRecord([](TDataSet* dataset, bool& accept) {
    accept = dataset->FieldByName("Numero")->AsInteger() > 2;
  });
  ds_->SetFiltered(true);
  EXPECT_EQ(ds_->RecordCount(), 4);
  EXPECT_EQ(Numero(), 3);
  EXPECT_EQ(ds_->RecNo(), 1);
  ds_->Last();
  EXPECT_EQ(ds_->RecNo(), 4);
  ds_->Close();
  EXPECT_THROW(ds_->RecordCount(), EDatabaseError);
}

TEST_F(DataSetTest, ReadOnlyDatasetRefusesChanges) {
  OpenWith(1);
  ds_->SetReadOnly(true);
  try {
    ds_->Edit();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), SDataSetReadOnly);
  }
  EXPECT_THROW(ds_->Append(), EDatabaseError);
  EXPECT_FALSE(F("Nom")->CanModify());
  ds_->SetReadOnly(false);
  F("Nom")->SetReadOnly(true);
  ds_->Edit();
  EXPECT_THROW(F("Nom")->SetAsString("x"), EDatabaseError);
  EXPECT_FALSE(F("Nom")->CanModify());
  EXPECT_TRUE(F("Numero")->CanModify());
}

TEST(DataSetLoading, ActiveWhileLoadingOpensAtLoaded) {
  TTrace trace;  // outlives the dataset, which writes into it when it dies
  TComponent root(nullptr);
  TLoader loader(&root);
  auto* dataset = loader.Create<TFakeDataSet>(&root, "TableMessages", &trace);
  AddStandardDefs(dataset);
  dataset->SetActive(true);
  EXPECT_FALSE(dataset->Active());
  auto* nom = loader.Create<TStringField>(&root, "TableMessagesNom");
  nom->SetFieldName("Nom");
  nom->SetDataSet(dataset);
  EXPECT_EQ(trace.Take({"v:"}), Trace{});
  loader.Finish();
  EXPECT_TRUE(dataset->Active());
  EXPECT_EQ(dataset->FieldCount(), 1);  // the persistent field only
  EXPECT_FALSE(dataset->DefaultFields());
  EXPECT_EQ(trace.Filtered({"v:InternalOpen"}), (Trace{"v:InternalOpen"}));
}

TEST(DataSetLoading, AFailedOpenAtLoadedPassesOn) {
  TComponent root(nullptr);
  TLoader loader(&root);
  auto* dataset = loader.Create<TFakeDataSet>(&root, "TableUsers");
  AddStandardDefs(dataset);
  dataset->SetActive(true);
  dataset->FailNext(FakeSlot::Open, 1, 10031, "Table is busy.");
  EXPECT_THROW(loader.Finish(), EFakeEngineError);
  EXPECT_FALSE(dataset->Active());
}

}  // namespace
}  // namespace cl::test
