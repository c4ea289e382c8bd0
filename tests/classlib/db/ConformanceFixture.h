// The dataset conformance suite: the fixture its typed tests share.
//
// Any TDataSet descendant runs the suite by providing a factory type:
//
//   struct MyFactory {
//     static constexpr cl::test::TConformanceTraits kTraits{...};   // where behaviours differ
//     // A closed dataset owned by `owner`, holding no records, whose cursor offers the fields
//     //   Numero (integer), Nom (string 20), DateAppel (date-time, required), Message (memo),
//     // with persistent fields for them and one calculated field Calcul (string 30): usually
//     // CreateStandardFields(dataset, owner).  Records are appended by the suite in Numero order,
//     // which must also be the dataset's order (an index on Numero for an engine table).
//     static cl::TDataSet* Create(cl::TComponent* owner);
//   };
//   CL_INSTANTIATE_DATASET_CONFORMANCE(My, MyFactory);   // in one test source (DataSetConformance.h)
//
// The suite attaches its own data source, trace link and event recorder, and checks the events
// ("e:") and link notifications ("l:") only, so a dataset need not trace its protocol calls.
// Link the test with cl_dataset_conformance.  Besides the record protocol, the dataset must
// support: OnFilterRecord with Filtered, Locate (case-insensitive and partial keys, several
// fields) and Lookup, blob streams on the memo, and a second instance from the same factory
// (lookup fields read "users" from it).  Where a dataset legitimately differs, a trait says so.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Trace.h"
#include "classlib/db/TDataSet.h"
#include "classlib/db/TDataSource.h"
#include "classlib/db/TFields.h"

namespace cl::test {

struct TConformanceTraits {
  // Without an index a posted insert lands before the record that was active (false: the
  // dataset orders records itself, by key).
  bool insert_lands_at_cursor = true;
  // The records survive Close (a table); false for a dataset that empties itself when closed.
  bool keeps_records_when_closed = true;
  // GotoBookmark of a record that is gone raises "Enregistrement non trouvé" (false: the
  // dataset leaves its cursor where it was and shows the record there).
  bool invalid_bookmark_raises = true;
};

// The persistent fields the factory contract asks for, owned by `owner`.
void CreateStandardFields(TDataSet* dataset, TComponent* owner);

// The call date of record `numero` in the suite's records.
TDateTime StandardDate(int numero);
// "Nom01" .. "Nom12".
std::string StandardName(int numero);

// Appends records Numero first..last through the public interface (Append, fields, Post).
void AppendStandardRecords(TDataSet* dataset, int first, int last);

// The Numero of every record, walking from first to last (the position is restored after).
std::vector<int> AllNumeros(TDataSet* dataset);

template <class Factory>
class TConformanceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = std::make_unique<TComponent>(nullptr);
    ds_ = Factory::Create(owner_.get());
    source_ = Create<TDataSource>(owner_.get());
    source_->SetDataSet(ds_);
    recorder_.hooks["OnCalcFields"] = [](TDataSet* dataset) {
      TField* nom = dataset->FieldByName("Nom");
      TField* numero = dataset->FieldByName("Numero");
      dataset->FieldByName("Calcul")->SetAsString(nom->AsString() + "/" + numero->AsString());
    };
    recorder_.Attach(ds_);
    recorder_.Attach(source_);
    link_.SetDataSource(source_);
  }

  void TearDown() override {
    link_.SetDataSource(nullptr);
    owner_.reset();
  }

  // Opens the dataset with records 1..count, on the first record, and clears the trace.
  void OpenWith(int count) {
    ds_->Open();
    AppendStandardRecords(ds_, 1, count);
    ds_->First();
    trace_.Clear();
  }

  TField* F(const char* name) { return ds_->FieldByName(name); }
  int Numero() { return F("Numero")->AsInteger(); }
  std::vector<std::string> Events() { return trace_.TakeEventsAndLinks(); }

  static constexpr TConformanceTraits kTraits = Factory::kTraits;

  TTrace trace_;
  TEventRecorder recorder_{&trace_};
  std::unique_ptr<TComponent> owner_;
  TDataSet* ds_ = nullptr;
  TDataSource* source_ = nullptr;
  TTraceLink link_{&trace_};
};

}  // namespace cl::test
