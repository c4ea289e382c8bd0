// TVirtualDataSet: the filter text, OnFilterRecord and the filtered list.
#include "classlib/rtl/TextUtils.h"
#include "components/data/TFilterEvaluator.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {

using namespace cl;

namespace {}  // namespace

bool TVirtualDataSet::FilterActive() const {
  return Filtered() && (!Filter().empty() || static_cast<bool>(OnFilterRecord()));
}

bool TVirtualDataSet::AcceptRecord(TStoredRecord* record) {
  if (!FilterActive()) return true;
  uint8_t* saved = key_record_;
  bool saved_calc = key_record_has_calc_;
  TDataSetState old = SetTempState(dsFilter);
  key_record_ = record->data;
  key_record_has_calc_ = false;
  auto restore = [&] {
    key_record_ = saved;
    key_record_has_calc_ = saved_calc;
    RestoreState(old);
  };
  bool accept = true;
  try {
    if (filter_evaluator_ != nullptr && filter_evaluator_->Expression() != nullptr) {
      accept = filter_evaluator_->Expression()->GetAsBoolean();
    }
    if (OnFilterRecord()) OnFilterRecord()(this, accept);
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return accept;
}

void TVirtualDataSet::BuildFilteredList() {
  const TRecordList& source = range_active_ ? range_list_ : records_;
  TRecordList list;
  if (!FilterActive()) {
    list = source;
  } else {
    for (TStoredRecord* record : source) {
      if (AcceptRecord(record)) list.PushBack(record);
    }
  }
  filtered_list_ = std::move(list);
}

void TVirtualDataSet::CompileFilter() {
  auto evaluator = std::make_unique<TFilterEvaluator>(this);
  std::string text = cl::Trim(Filter());
  evaluator->Compile(text.empty() ? "True" : text);
  filter_evaluator_ = std::move(evaluator);
}

void TVirtualDataSet::RefilterAndFirst(const std::function<void()>& undo) {
  // A filter that compiles can still fail on a record: the previous filter stays whole, text,
  // evaluator and list, or the shown records would disagree with the filter the next post tests.
  try {
    BuildFilteredList();
  } catch (...) {
    undo();
    throw;
  }
  First();
}

void TVirtualDataSet::SetFiltered(bool value) {
  if (value == Filtered()) return;
  if (!Active()) {
    TDataSet::SetFiltered(value);
    return;
  }
  CheckBrowseMode();
  TRecordBuffer active = IsEmpty() ? nullptr : ActiveBuffer();
  TStoredRecord* remembered = active == nullptr ? nullptr : RecordOfId(BufferId(active));
  if (value) {
    CompileFilter();
    TDataSet::SetFiltered(true);
    try {
      BuildFilteredList();
    } catch (...) {
      TDataSet::SetFiltered(false);
      filter_evaluator_.reset();
      throw;
    }
    First();
    return;
  }
  filter_evaluator_.reset();
  filtered_list_.Clear();
  TDataSet::SetFiltered(false);
  cursor_ = remembered == nullptr ? -1 : PositionIn(View(), remembered, cursor_);
  Resync(TResyncMode{});
}

void TVirtualDataSet::SetFilterText(const std::string& text) {
  std::string trimmed = cl::Trim(text);
  if (trimmed == Filter()) return;
  if (!Active() || !Filtered()) {
    TDataSet::SetFilterText(trimmed);
    return;
  }
  CheckBrowseMode();
  std::string previous = Filter();
  std::unique_ptr<TFilterEvaluator> previous_evaluator = std::move(filter_evaluator_);
  auto undo = [&] {
    TDataSet::SetFilterText(previous);
    filter_evaluator_ = std::move(previous_evaluator);
  };
  TDataSet::SetFilterText(trimmed);
  try {
    CompileFilter();
  } catch (...) {
    undo();
    throw;
  }
  RefilterAndFirst(undo);
}

void TVirtualDataSet::SetFilterOptions(TFilterOptions options) {
  if (options == FilterOptions()) return;
  bool rebuild = Active() && Filtered();
  if (rebuild) CheckBrowseMode();
  const TFilterOptions previous = FilterOptions();
  TDataSet::SetFilterOptions(options);
  if (rebuild) RefilterAndFirst([&] { TDataSet::SetFilterOptions(previous); });
}

void TVirtualDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  bool rebuild = Active() && Filtered();
  if (rebuild) CheckBrowseMode();
  TFilterRecordEvent previous = OnFilterRecord();
  TDataSet::SetOnFilterRecord(std::move(handler));
  if (rebuild) RefilterAndFirst([&] { TDataSet::SetOnFilterRecord(std::move(previous)); });
}

}  // namespace comp
