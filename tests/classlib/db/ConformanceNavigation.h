// Conformance: the buffer window as a grid's data link sees it, bookmarks, resync, locate,
// lookup and record filters.  Part of DataSetConformance.h; include that header instead.
#pragma once

#include "ConformanceFixture.h"
#include "classlib/db/DBConsts.h"

namespace cl::test {

template <class F>
class DataSetNavigationConformance : public TConformanceFixture<F> {
 protected:
  // Opens with 12 records behind a 5-row grid link "l" and a 3-row link "g".
  void OpenWithGrid() {
    this->link_.SetBufferCount(5);
    small_.SetBufferCount(3);
    small_.SetDataSource(this->source_);
    this->OpenWith(12);
  }
  void TearDown() override {
    small_.SetDataSource(nullptr);
    TConformanceFixture<F>::TearDown();
  }

  TTraceLink small_{&this->trace_, "g"};
};
TYPED_TEST_SUITE_P(DataSetNavigationConformance);

TYPED_TEST_P(DataSetNavigationConformance, GridLinksFollowTheWindow) {
  this->OpenWithGrid();
  EXPECT_EQ(this->ds_->BufferCount(), 5);
  EXPECT_EQ(this->ds_->RecordCountInBuffers(), 5);
  for (int i = 0; i < 7; ++i) this->ds_->Next();
  EXPECT_EQ(this->Numero(), 8);
  for (int i = 0; i < 3; ++i) this->ds_->Prior();
  EXPECT_EQ(this->Numero(), 5);
  EXPECT_EQ(this->ds_->MoveBy(5), 5);
  EXPECT_EQ(this->Numero(), 10);
  EXPECT_EQ(this->ds_->MoveBy(-5), -5);
  EXPECT_EQ(this->Numero(), 5);
  // Each entry: the shift the link's rows saw, and its first row afterwards.
  EXPECT_EQ(this->trace_.Filtered({"l:DataSetScrolled"}),
            (Trace{"l:DataSetScrolled(0) first=0", "l:DataSetScrolled(0) first=0",
                   "l:DataSetScrolled(0) first=0", "l:DataSetScrolled(0) first=0",
                   "l:DataSetScrolled(1) first=0", "l:DataSetScrolled(1) first=0",
                   "l:DataSetScrolled(1) first=0", "l:DataSetScrolled(0) first=0",
                   "l:DataSetScrolled(0) first=0", "l:DataSetScrolled(0) first=0",
                   "l:DataSetScrolled(2) first=0", "l:DataSetScrolled(-1) first=0"}));
  EXPECT_EQ(this->trace_.Filtered({"g:DataSetScrolled"}),
            (Trace{"g:DataSetScrolled(0) first=0", "g:DataSetScrolled(0) first=0",
                   "g:DataSetScrolled(1) first=1", "g:DataSetScrolled(1) first=2",
                   "g:DataSetScrolled(1) first=2", "g:DataSetScrolled(1) first=2",
                   "g:DataSetScrolled(1) first=2", "g:DataSetScrolled(0) first=2",
                   "g:DataSetScrolled(0) first=2", "g:DataSetScrolled(-1) first=1",
                   "g:DataSetScrolled(3) first=2", "g:DataSetScrolled(-3) first=0"}));
  this->ds_->Last();
  EXPECT_EQ(this->link_.FirstRecord(), 0);
  EXPECT_EQ(this->small_.FirstRecord(), 2);
  EXPECT_EQ(this->link_.ActiveRecord(), 4);
  EXPECT_EQ(this->small_.ActiveRecord(), 2);
  this->ds_->First();
  EXPECT_EQ(this->small_.FirstRecord(), 0);
}

TYPED_TEST_P(DataSetNavigationConformance, GridRowsReadTheirOwnRecords) {
  this->OpenWithGrid();
  this->ds_->Last();
  ASSERT_EQ(this->link_.RecordCount(), 5);
  int active = this->link_.ActiveRecord();
  std::vector<int> rows;
  for (int row = 0; row < this->link_.RecordCount(); ++row) {
    this->link_.SetActiveRecord(row);
    rows.push_back(this->Numero());
  }
  this->link_.SetActiveRecord(active);
  EXPECT_EQ(rows, (std::vector<int>{8, 9, 10, 11, 12}));
  EXPECT_EQ(this->Numero(), 12);
  ASSERT_EQ(this->small_.RecordCount(), 3);
  this->small_.SetActiveRecord(0);
  EXPECT_EQ(this->Numero(), 10);
  this->small_.SetActiveRecord(2);
  EXPECT_EQ(this->Numero(), 12);
}

TYPED_TEST_P(DataSetNavigationConformance, EdgesAndEmptiness) {
  this->OpenWith(3);
  EXPECT_TRUE(this->ds_->Bof());
  EXPECT_FALSE(this->ds_->Eof());
  this->ds_->Next();
  EXPECT_FALSE(this->ds_->Bof());
  EXPECT_FALSE(this->ds_->Eof());
  this->ds_->Next();
  EXPECT_FALSE(this->ds_->Eof());
  this->ds_->Next();  // tries to move past the last record: now at the end
  EXPECT_TRUE(this->ds_->Eof());
  EXPECT_EQ(this->Numero(), 3);
  this->trace_.Clear();
  this->ds_->Next();  // at the end: before-scroll only
  EXPECT_TRUE(this->ds_->Eof());
  EXPECT_EQ(this->trace_.Take({"e:BeforeScroll", "e:AfterScroll"}), Trace{"e:BeforeScroll"});
  this->ds_->Prior();
  EXPECT_FALSE(this->ds_->Eof());
  this->ds_->First();
  this->ds_->Prior();
  EXPECT_TRUE(this->ds_->Bof());
  EXPECT_EQ(this->Numero(), 1);
  EXPECT_FALSE(this->ds_->IsEmpty());
  this->ds_->Last();
  EXPECT_TRUE(this->ds_->Eof());
  EXPECT_FALSE(this->ds_->Bof());
  while (!this->ds_->IsEmpty()) this->ds_->Delete();
  EXPECT_TRUE(this->ds_->Bof());
  EXPECT_TRUE(this->ds_->Eof());
  EXPECT_TRUE(this->F("Nom")->IsNull());
  EXPECT_EQ(this->F("Nom")->AsString(), "");
}

TYPED_TEST_P(DataSetNavigationConformance, BookmarksCentreTheWindow) {
  this->OpenWithGrid();
  this->ds_->MoveBy(8);
  ASSERT_EQ(this->Numero(), 9);
  TBookmark nine = this->ds_->GetBookmark();
  ASSERT_FALSE(nine.empty());
  this->ds_->Last();
  TBookmark twelve = this->ds_->GetBookmark();
  this->ds_->First();
  TBookmark one = this->ds_->GetBookmark();
  this->trace_.Clear();
  this->ds_->GotoBookmark(nine);
  EXPECT_EQ(this->Numero(), 9);
  EXPECT_EQ(this->ds_->ActiveRecord(), 2);
  std::vector<int> window;
  for (int row = 0; row < this->link_.RecordCount(); ++row) {
    this->link_.SetActiveRecord(row);
    window.push_back(this->Numero());
  }
  this->link_.SetActiveRecord(2);
  EXPECT_EQ(window, (std::vector<int>{7, 8, 9, 10, 11}));
  EXPECT_EQ(this->trace_.Take({"e:BeforeScroll", "e:AfterScroll"}),
            (Trace{"e:BeforeScroll", "e:AfterScroll"}));
  EXPECT_LT(this->ds_->CompareBookmarks(one, nine), 0);
  EXPECT_GT(this->ds_->CompareBookmarks(twelve, nine), 0);
  EXPECT_EQ(this->ds_->CompareBookmarks(nine, nine), 0);
  EXPECT_TRUE(this->ds_->BookmarkValid(nine));
  this->ds_->Delete();
  EXPECT_FALSE(this->ds_->BookmarkValid(nine));
  EXPECT_TRUE(this->ds_->BookmarkValid(twelve));
  TBookmark empty;
  this->ds_->GotoBookmark(empty);  // nothing happens
  EXPECT_EQ(this->Numero(), 10);
  // The deleted record's bookmark.
  if (this->kTraits.invalid_bookmark_raises) {
    try {
      this->ds_->GotoBookmark(nine);
      FAIL() << "a bookmark of a deleted record must not be found";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), SRecordNotFound);
    }
    EXPECT_EQ(this->Numero(), 10);
  } else {
    this->ds_->GotoBookmark(nine);
    EXPECT_EQ(this->ds_->State(), dsBrowse);
    EXPECT_FALSE(this->ds_->IsEmpty());
  }
}

TYPED_TEST_P(DataSetNavigationConformance, InsertedRecordHasNoBookmark) {
  this->OpenWith(2);
  this->ds_->Insert();
  EXPECT_TRUE(this->ds_->GetBookmark().empty());
  this->ds_->Cancel();
  EXPECT_FALSE(this->ds_->GetBookmark().empty());
}

TYPED_TEST_P(DataSetNavigationConformance, RefreshKeepsTheRecord) {
  this->OpenWithGrid();
  this->ds_->MoveBy(6);
  this->trace_.Clear();
  this->ds_->Refresh();
  EXPECT_EQ(this->Numero(), 7);
  EXPECT_EQ(this->trace_.Take({"e:Before", "e:After", "l:DataSetChanged"}),
            (Trace{"l:DataSetChanged"}));
}

TYPED_TEST_P(DataSetNavigationConformance, LocateScrollsOnlyWhenFound) {
  this->OpenWithGrid();
  this->ds_->Next();
  this->trace_.Clear();
  EXPECT_TRUE(this->ds_->Locate("Nom", Variant("nom07"), TLocateOptions{loCaseInsensitive}));
  EXPECT_EQ(this->Numero(), 7);
  EXPECT_EQ(this->trace_.Take({"e:BeforeScroll", "e:AfterScroll", "l:DataSetChanged"}),
            (Trace{"e:BeforeScroll", "l:DataSetChanged", "e:AfterScroll"}));
  EXPECT_FALSE(this->ds_->Locate("Nom", Variant("nom07"), TLocateOptions{}));
  EXPECT_EQ(this->Numero(), 7);
  EXPECT_EQ(this->trace_.Take({"e:BeforeScroll", "e:AfterScroll", "l:DataSet"}),
            (Trace{"e:BeforeScroll"}));
  EXPECT_TRUE(this->ds_->Locate("Nom", Variant("Nom1"), TLocateOptions{loPartialKey}));
  EXPECT_EQ(this->Numero(), 10);
  EXPECT_TRUE(this->ds_->Locate("Numero;Nom", VarArrayOf({Variant(4), Variant("Nom04")}),
                                TLocateOptions{}));
  EXPECT_EQ(this->Numero(), 4);
  EXPECT_FALSE(this->ds_->Locate("Numero;Nom", VarArrayOf({Variant(4), Variant("Nom05")}),
                                 TLocateOptions{}));
  EXPECT_THROW(this->ds_->Locate("Inconnu", Variant(1), TLocateOptions{}), EDatabaseError);
}

TYPED_TEST_P(DataSetNavigationConformance, LookupNeverMoves) {
  this->OpenWith(6);
  this->ds_->MoveBy(2);
  this->trace_.Clear();
  EXPECT_EQ(this->ds_->Lookup("Numero", Variant(5), "Nom").AsString(), "Nom05");
  Variant both = this->ds_->Lookup("Numero", Variant(6), "Nom;Calcul");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(both[0].AsString(), "Nom06");
  EXPECT_EQ(both[1].AsString(), "Nom06/6");
  EXPECT_TRUE(this->ds_->Lookup("Numero", Variant(60), "Nom").IsNull());
  EXPECT_EQ(this->Numero(), 3);
  EXPECT_EQ(this->trace_.Take({"e:BeforeScroll", "e:AfterScroll", "l:DataSet"}), Trace{});
}

TYPED_TEST_P(DataSetNavigationConformance, RecordFilterHidesRecords) {
  this->OpenWith(12);
  this->ds_->SetOnFilterRecord([](TDataSet* dataset, bool& accept) {
    accept = dataset->FieldByName("Numero")->AsInteger() % 3 == 0;
  });
  this->ds_->SetFiltered(true);
  EXPECT_TRUE(this->ds_->Filtered());
  EXPECT_EQ(AllNumeros(this->ds_), (std::vector<int>{3, 6, 9, 12}));
  this->ds_->First();
  EXPECT_EQ(this->Numero(), 3);
  this->ds_->SetFiltered(false);
  EXPECT_EQ(AllNumeros(this->ds_).size(), 12u);
}

REGISTER_TYPED_TEST_SUITE_P(DataSetNavigationConformance, GridLinksFollowTheWindow,
                            GridRowsReadTheirOwnRecords, EdgesAndEmptiness,
                            BookmarksCentreTheWindow, InsertedRecordHasNoBookmark,
                            RefreshKeepsTheRecord, LocateScrollsOnlyWhenFound, LookupNeverMoves,
                            RecordFilterHidesRecords);

}  // namespace cl::test
