// Conformance: open, close and the edit cycle, with the documented order of events and link
// notifications.  Part of DataSetConformance.h; include that header instead.
#pragma once

#include "ConformanceFixture.h"
#include "classlib/db/DBConsts.h"

namespace cl::test {

template <class F>
class DataSetEditingConformance : public TConformanceFixture<F> {};
TYPED_TEST_SUITE_P(DataSetEditingConformance);

// A failure of the application's own (the numbering error), not a database error.
class ENumberingFailure : public Exception {
 public:
  using Exception::Exception;
};

TYPED_TEST_P(DataSetEditingConformance, OpenAndCloseFireTheirEventsInOrder) {
  this->OpenWith(3);
  this->ds_->Close();
  EXPECT_EQ(this->Events(),
            (Trace{"e:BeforeClose", "l:ActiveChanged", "e:OnStateChange", "e:AfterClose"}));
  this->ds_->Open();
  if (!this->kTraits.keeps_records_when_closed) {  // reopens empty, as a fresh dataset does
    EXPECT_EQ(this->Events(), (Trace{"e:BeforeOpen", "l:ActiveChanged", "e:OnStateChange",
                                     "e:OnDataChange(nil)", "e:AfterOpen"}));
    EXPECT_TRUE(this->ds_->IsEmpty());
    return;
  }
  EXPECT_EQ(this->Events(),
            (Trace{"e:BeforeOpen", "e:OnCalcFields", "l:ActiveChanged", "e:OnStateChange",
                   "e:OnDataChange(nil)", "e:AfterOpen", "e:AfterScroll"}));
  EXPECT_EQ(this->ds_->State(), dsBrowse);
  EXPECT_EQ(this->Numero(), 1);
  EXPECT_EQ(this->F("Calcul")->AsString(), "Nom01/1");
}

TYPED_TEST_P(DataSetEditingConformance, OpeningEmptyFiresNoAfterScroll) {
  this->ds_->Open();
  EXPECT_EQ(this->Events(), (Trace{"e:BeforeOpen", "l:ActiveChanged", "e:OnStateChange",
                                   "e:OnDataChange(nil)", "e:AfterOpen"}));
  EXPECT_TRUE(this->ds_->IsEmpty());
  EXPECT_TRUE(this->ds_->Bof());
  EXPECT_TRUE(this->ds_->Eof());
}

TYPED_TEST_P(DataSetEditingConformance, DestroyingTheOwnerClosesSilently) {
  this->OpenWith(2);
  this->link_.SetDataSource(nullptr);
  this->owner_.reset();
  for (const auto& entry : this->trace_.Entries()) {
    EXPECT_NE(entry, "e:BeforeClose");
    EXPECT_NE(entry, "e:AfterClose");
  }
}

TYPED_TEST_P(DataSetEditingConformance, InsertFiresItsEventsAndLandsWhereExpected) {
  this->OpenWith(5);
  this->ds_->MoveBy(2);
  this->trace_.Clear();
  this->ds_->Insert();
  EXPECT_EQ(this->Events(),
            (Trace{"l:CheckBrowseMode", "e:BeforeInsert", "e:BeforeScroll", "l:EditingChanged",
                   "e:OnStateChange", "e:OnNewRecord", "l:DataSetChanged", "e:OnDataChange(nil)",
                   "e:AfterInsert", "e:AfterScroll"}));
  EXPECT_EQ(this->ds_->State(), dsInsert);
  EXPECT_TRUE(this->F("Numero")->IsNull());
  this->F("Numero")->SetAsInteger(99);
  this->F("Nom")->SetAsString("Nouveau");
  this->F("DateAppel")->SetAsDateTime(StandardDate(99));
  this->trace_.Clear();
  this->ds_->Post();
  EXPECT_EQ(this->Events(),
            (Trace{"l:UpdateData", "e:OnUpdateData", "l:CheckBrowseMode", "e:BeforePost",
                   "l:EditingChanged", "e:OnStateChange", "e:OnCalcFields", "l:DataSetChanged",
                   "e:OnDataChange(nil)", "e:AfterPost"}));
  EXPECT_EQ(this->Numero(), 99);
  if (this->kTraits.insert_lands_at_cursor) {
    EXPECT_EQ(AllNumeros(this->ds_), (std::vector<int>{1, 2, 99, 3, 4, 5}));
  }
  EXPECT_EQ(this->Numero(), 99);
}

TYPED_TEST_P(DataSetEditingConformance, AppendedRecordGoesLast) {
  this->OpenWith(4);
  this->ds_->Append();
  EXPECT_EQ(this->Events(),
            (Trace{"l:CheckBrowseMode", "e:BeforeInsert", "e:BeforeScroll", "l:EditingChanged",
                   "e:OnStateChange", "e:OnNewRecord", "l:DataSetChanged", "e:OnDataChange(nil)",
                   "e:AfterInsert", "e:AfterScroll"}));
  this->F("Numero")->SetAsInteger(50);
  this->F("DateAppel")->SetAsDateTime(StandardDate(50));
  this->ds_->Post();
  EXPECT_EQ(this->Numero(), 50);
  EXPECT_EQ(AllNumeros(this->ds_), (std::vector<int>{1, 2, 3, 4, 50}));
  this->ds_->Next();
  EXPECT_TRUE(this->ds_->Eof());
}

TYPED_TEST_P(DataSetEditingConformance, ValuesSetInOnNewRecordAreNotModifications) {
  this->recorder_.hooks["OnNewRecord"] = [](TDataSet* dataset) {
    dataset->FieldByName("Nom")->SetAsString("(Sans nom)");
    dataset->FieldByName("DateAppel")->SetAsDateTime(StandardDate(0));
  };
  this->OpenWith(2);
  this->ds_->Append();
  EXPECT_FALSE(this->ds_->Modified());
  EXPECT_EQ(this->F("Nom")->AsString(), "(Sans nom)");
  // An unmodified insert is cancelled by the browse-mode check, not posted.
  this->ds_->CheckBrowseMode();
  EXPECT_EQ(this->ds_->State(), dsBrowse);
  EXPECT_EQ(AllNumeros(this->ds_), (std::vector<int>{1, 2}));
}

TYPED_TEST_P(DataSetEditingConformance, CancelReturnsToTheRecordBefore) {
  this->OpenWith(5);
  this->ds_->MoveBy(2);
  this->ds_->Insert();
  this->F("Numero")->SetAsInteger(77);
  this->trace_.Clear();
  this->ds_->Cancel();
  EXPECT_EQ(this->Events(),
            (Trace{"l:CheckBrowseMode", "e:BeforeCancel", "l:EditingChanged", "e:OnStateChange",
                   "e:OnCalcFields", "l:DataSetChanged", "e:OnDataChange(nil)", "e:AfterCancel"}));
  EXPECT_EQ(this->Numero(), 3);
  this->ds_->Append();
  this->ds_->Cancel();
  EXPECT_EQ(this->Numero(), 5);
  EXPECT_EQ(AllNumeros(this->ds_), (std::vector<int>{1, 2, 3, 4, 5}));
}

TYPED_TEST_P(DataSetEditingConformance, FailingOnNewRecordReturnsToBrowse) {
  this->OpenWith(4);
  this->recorder_.hooks["OnNewRecord"] = [](TDataSet*) { throw EDatabaseError("refus"); };
  this->ds_->Next();
  EXPECT_THROW(this->ds_->Insert(), EDatabaseError);
  EXPECT_EQ(this->ds_->State(), dsBrowse);
  EXPECT_EQ(this->Numero(), 2);
  EXPECT_EQ(AllNumeros(this->ds_), (std::vector<int>{1, 2, 3, 4}));
}

TYPED_TEST_P(DataSetEditingConformance, EditOnAnEmptyDatasetInserts) {
  this->ds_->Open();
  this->trace_.Clear();
  this->ds_->Edit();
  EXPECT_EQ(this->ds_->State(), dsInsert);
  EXPECT_EQ(this->Events(),
            (Trace{"l:CheckBrowseMode", "e:BeforeInsert", "e:BeforeScroll", "l:EditingChanged",
                   "e:OnStateChange", "e:OnNewRecord", "l:DataSetChanged", "e:OnDataChange(nil)",
                   "e:AfterInsert", "e:AfterScroll"}));
  EXPECT_FALSE(this->ds_->IsEmpty());
}

TYPED_TEST_P(DataSetEditingConformance, EditAndFieldAssignmentNotifyInOrder) {
  this->OpenWith(3);
  this->ds_->Edit();
  EXPECT_EQ(this->Events(), (Trace{"l:CheckBrowseMode", "e:BeforeEdit", "e:OnCalcFields",
                                   "l:EditingChanged", "e:OnStateChange", "l:RecordChanged(nil)",
                                   "e:OnDataChange(nil)", "e:AfterEdit"}));
  std::string pending;
  this->F("Nom")->SetOnValidate([&pending](TField* field) { pending = field->AsString(); });
  this->F("Nom")->SetOnChange([this](TField*) { this->trace_.Add("e:OnChange(Nom)"); });
  EXPECT_FALSE(this->ds_->Modified());
  this->F("Nom")->SetAsString("Durand");
  EXPECT_EQ(pending, "Durand");
  EXPECT_TRUE(this->ds_->Modified());
  EXPECT_EQ(this->Events(), (Trace{"e:OnCalcFields", "l:RecordChanged(Nom)", "e:OnDataChange(Nom)",
                                   "e:OnChange(Nom)"}));
  EXPECT_EQ(this->F("Calcul")->AsString(), "Durand/1");
  this->ds_->SetAutoCalcFields(false);
  this->F("Nom")->SetAsString("Dupont");
  EXPECT_EQ(this->F("Calcul")->AsString(), "Durand/1");
}

TYPED_TEST_P(DataSetEditingConformance, RejectedValueIsNotWritten) {
  this->OpenWith(2);
  this->F("Nom")->SetOnValidate([](TField* field) {
    if (field->AsString() == "Interdit")
      throw EDatabaseError(
          "valeur refus\xE9"
          "e");
  });
  this->ds_->Edit();
  EXPECT_THROW(this->F("Nom")->SetAsString("Interdit"), EDatabaseError);
  EXPECT_EQ(this->F("Nom")->AsString(), "Nom01");
  EXPECT_FALSE(this->ds_->Modified());
}

TYPED_TEST_P(DataSetEditingConformance, CalculatedFieldsRejectStoredWrites) {
  std::string error;
  this->OpenWith(2);
  this->recorder_.hooks["OnCalcFields"] = [&error](TDataSet* dataset) {
    try {
      dataset->FieldByName("Nom")->SetAsString("x");
    } catch (const EDatabaseError& e) {
      error = e.Message();
    }
  };
  this->ds_->Refresh();
  EXPECT_EQ(error, SNotEditing);
}

TYPED_TEST_P(DataSetEditingConformance, PostErrorRetriesAfterTheHandlerFixesTheRecord) {
  this->OpenWith(2);
  int calls = 0;
  this->recorder_.on_post_error = [&calls](TDataSet* dataset, EDatabaseError& e,
                                           TDataAction& action) {
    ++calls;
    EXPECT_EQ(e.Message(), DBFormat(SFieldRequired, {"DateAppel"}));
    dataset->FieldByName("DateAppel")->SetAsDateTime(StandardDate(30));
    action = daRetry;
  };
  this->ds_->Append();
  this->F("Numero")->SetAsInteger(30);
  this->trace_.Clear();
  this->ds_->Post();
  EXPECT_EQ(calls, 1);
  Trace events = this->trace_.Take({"e:BeforePost", "e:OnPostError", "e:AfterPost"});
  EXPECT_EQ(events, (Trace{"e:BeforePost", "e:OnPostError", "e:AfterPost"}));
  EXPECT_EQ(this->F("DateAppel")->AsDateTime(), StandardDate(30));
}

TYPED_TEST_P(DataSetEditingConformance, BoundedRetriesLetTheLastFailurePass) {
  this->OpenWith(1);
  int calls = 0;
  this->recorder_.on_post_error = [&calls](TDataSet*, EDatabaseError&, TDataAction& action) {
    if (++calls <= 20) action = daRetry;
  };
  this->ds_->Append();
  this->F("Numero")->SetAsInteger(2);
  EXPECT_THROW(this->ds_->Post(), EDatabaseError);
  EXPECT_EQ(calls, 21);
  EXPECT_EQ(this->ds_->State(), dsInsert);
  this->recorder_.on_post_error = [](TDataSet*, EDatabaseError&, TDataAction& action) {
    action = daAbort;
  };
  EXPECT_THROW(this->ds_->Post(), EAbort);
  EXPECT_EQ(this->ds_->State(), dsInsert);
}

TYPED_TEST_P(DataSetEditingConformance, BeforePostFailuresLeaveTheInsertPending) {
  this->OpenWith(2);
  int post_errors = 0;
  this->recorder_.on_post_error = [&post_errors](TDataSet*, EDatabaseError&, TDataAction&) {
    ++post_errors;
  };
  this->recorder_.hooks["BeforePost"] = [](TDataSet*) { throw ENumberingFailure("num\xE9ro"); };
  this->ds_->Append();
  this->F("Numero")->SetAsInteger(3);
  this->F("DateAppel")->SetAsDateTime(StandardDate(3));
  this->trace_.Clear();
  EXPECT_THROW(this->ds_->Post(), ENumberingFailure);
  EXPECT_EQ(post_errors, 0);
  EXPECT_EQ(this->ds_->State(), dsInsert);
  this->recorder_.hooks["BeforePost"] = [](TDataSet*) { Abort(); };
  EXPECT_THROW(this->ds_->Post(), EAbort);
  EXPECT_EQ(this->ds_->State(), dsInsert);
  for (const auto& entry : this->trace_.Entries()) EXPECT_NE(entry, "e:AfterPost");
  this->recorder_.hooks["BeforePost"] = nullptr;
  this->ds_->Post();
  EXPECT_EQ(AllNumeros(this->ds_), (std::vector<int>{1, 2, 3}));
}

TYPED_TEST_P(DataSetEditingConformance, PostInBrowseIsRefused) {
  this->OpenWith(1);
  try {
    this->ds_->Post();
    FAIL() << "Post in browse state must raise";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), SNotEditing);
  }
  this->ds_->Cancel();  // cancelling in browse does nothing
  EXPECT_EQ(this->Events(), Trace{});
}

TYPED_TEST_P(DataSetEditingConformance, MovingOffAPendingEditPostsOrCancels) {
  this->OpenWith(3);
  this->ds_->Edit();
  this->F("Nom")->SetAsString("Martin");
  this->trace_.Clear();
  this->ds_->Next();
  EXPECT_EQ(this->trace_.Take({"e:Before", "e:After"}),
            (Trace{"e:BeforePost", "e:AfterPost", "e:BeforeScroll", "e:AfterScroll"}));
  EXPECT_EQ(this->Numero(), 2);
  this->ds_->Prior();
  EXPECT_EQ(this->F("Nom")->AsString(), "Martin");
  this->ds_->Edit();
  this->trace_.Clear();
  this->ds_->Next();
  EXPECT_EQ(this->trace_.Take({"e:Before", "e:After"}),
            (Trace{"e:BeforeCancel", "e:AfterCancel", "e:BeforeScroll", "e:AfterScroll"}));
}

TYPED_TEST_P(DataSetEditingConformance, DeleteFiresItsEventsAndMovesOn) {
  this->OpenWith(5);
  this->ds_->MoveBy(2);
  this->trace_.Clear();
  this->ds_->Delete();
  EXPECT_EQ(this->Events(),
            (Trace{"l:CheckBrowseMode", "e:BeforeDelete", "e:BeforeScroll", "e:OnCalcFields",
                   "l:DataSetChanged", "e:OnDataChange(nil)", "e:AfterDelete", "e:AfterScroll"}));
  EXPECT_EQ(this->Numero(), 4);
  this->ds_->Last();
  this->ds_->Delete();
  EXPECT_EQ(this->Numero(), 4);
  EXPECT_EQ(AllNumeros(this->ds_), (std::vector<int>{1, 2, 4}));
  // Delete while inserting is a Cancel.
  this->ds_->Insert();
  this->trace_.Clear();
  this->ds_->Delete();
  EXPECT_EQ(this->trace_.Take({"e:Before", "e:After"}), (Trace{"e:BeforeCancel", "e:AfterCancel"}));
  // A silent abort in BeforeDelete keeps the record.
  this->recorder_.hooks["BeforeDelete"] = [](TDataSet*) { Abort(); };
  EXPECT_THROW(this->ds_->Delete(), EAbort);
  EXPECT_EQ(AllNumeros(this->ds_), (std::vector<int>{1, 2, 4}));
}

TYPED_TEST_P(DataSetEditingConformance, DeleteOnAnEmptyDatasetIsRefused) {
  this->ds_->Open();
  try {
    this->ds_->Delete();
    FAIL() << "Delete on an empty dataset must raise";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), SDataSetEmpty);
  }
}

TYPED_TEST_P(DataSetEditingConformance, DisabledControlsHearOneChangeAtTheEnd) {
  this->OpenWith(3);
  this->ds_->DisableControls();
  this->ds_->DisableControls();
  for (int i = 0; i < 3; ++i) {
    this->ds_->Edit();
    this->F("Nom")->SetAsString("Lot" + std::to_string(i));
    this->ds_->Post();
    this->ds_->Next();
  }
  this->ds_->EnableControls();
  Trace links = this->trace_.Take({"l:", "e:OnDataChange", "e:OnStateChange", "e:AfterPost"});
  EXPECT_EQ(links, (Trace{"e:AfterPost", "e:AfterPost", "e:AfterPost"}));
  this->ds_->EnableControls();
  EXPECT_EQ(this->trace_.Take({"l:"}), (Trace{"l:DataSetChanged"}));
  this->ds_->EnableControls();  // one too many: ignored
  EXPECT_EQ(this->trace_.Take({"l:"}), Trace{});
  EXPECT_FALSE(this->ds_->ControlsDisabled());
  // A state that changed while disabled is announced first.
  this->ds_->DisableControls();
  this->ds_->Edit();
  this->ds_->EnableControls();
  EXPECT_EQ(this->trace_.Take({"l:"}), (Trace{"l:EditingChanged", "l:DataSetChanged"}));
}

REGISTER_TYPED_TEST_SUITE_P(DataSetEditingConformance, OpenAndCloseFireTheirEventsInOrder,
                            OpeningEmptyFiresNoAfterScroll, DestroyingTheOwnerClosesSilently,
                            InsertFiresItsEventsAndLandsWhereExpected, AppendedRecordGoesLast,
                            ValuesSetInOnNewRecordAreNotModifications,
                            CancelReturnsToTheRecordBefore, FailingOnNewRecordReturnsToBrowse,
                            EditOnAnEmptyDatasetInserts, EditAndFieldAssignmentNotifyInOrder,
                            RejectedValueIsNotWritten, CalculatedFieldsRejectStoredWrites,
                            PostErrorRetriesAfterTheHandlerFixesTheRecord,
                            BoundedRetriesLetTheLastFailurePass,
                            BeforePostFailuresLeaveTheInsertPending, PostInBrowseIsRefused,
                            MovingOffAPendingEditPostsOrCancels, DeleteFiresItsEventsAndMovesOn,
                            DeleteOnAnEmptyDatasetIsRefused, DisabledControlsHearOneChangeAtTheEnd);

}  // namespace cl::test
