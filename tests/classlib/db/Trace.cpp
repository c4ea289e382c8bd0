#include "Trace.h"

namespace cl::test {

std::vector<std::string> TTrace::Filtered(std::initializer_list<std::string_view> prefixes) const {
  std::vector<std::string> out;
  for (const auto& entry : entries_) {
    for (std::string_view prefix : prefixes) {
      if (std::string_view(entry).substr(0, prefix.size()) == prefix) {
        out.push_back(entry);
        break;
      }
    }
  }
  return out;
}

std::vector<std::string> TTrace::Take(std::initializer_list<std::string_view> prefixes) {
  std::vector<std::string> out = Filtered(prefixes);
  entries_.clear();
  return out;
}

std::string FieldTag(const TField* field) { return field == nullptr ? "nil" : field->FieldName(); }

void TTraceLink::DataSetScrolled(int distance) {
  ++scrolled_count;
  Add("DataSetScrolled(" + std::to_string(distance) + ") first=" + std::to_string(FirstRecord()));
}

void TTraceLink::RecordChanged(TField* field) { Add("RecordChanged(" + FieldTag(field) + ")"); }

void TTraceLink::UpdateData() {
  Add("UpdateData");
  if (on_update_data) on_update_data();
}

TDataSetNotifyEvent TEventRecorder::Recorder(const std::string& name) {
  return [this, name](TDataSet* dataset) {
    trace_->Add("e:" + name);
    auto it = hooks.find(name);
    if (it != hooks.end() && it->second) it->second(dataset);
  };
}

TDataSetErrorEvent TEventRecorder::ErrorRecorder(
    const std::string& name,
    std::function<void(TDataSet*, EDatabaseError&, TDataAction&)> TEventRecorder::*hook) {
  return [this, name, hook](TDataSet* dataset, EDatabaseError& e, TDataAction& action) {
    trace_->Add("e:" + name);
    if (this->*hook) (this->*hook)(dataset, e, action);
  };
}

void TEventRecorder::Attach(TDataSet* dataset) {
  dataset->SetBeforeOpen(Recorder("BeforeOpen"));
  dataset->SetAfterOpen(Recorder("AfterOpen"));
  dataset->SetBeforeClose(Recorder("BeforeClose"));
  dataset->SetAfterClose(Recorder("AfterClose"));
  dataset->SetBeforeInsert(Recorder("BeforeInsert"));
  dataset->SetAfterInsert(Recorder("AfterInsert"));
  dataset->SetBeforeEdit(Recorder("BeforeEdit"));
  dataset->SetAfterEdit(Recorder("AfterEdit"));
  dataset->SetBeforePost(Recorder("BeforePost"));
  dataset->SetAfterPost(Recorder("AfterPost"));
  dataset->SetBeforeCancel(Recorder("BeforeCancel"));
  dataset->SetAfterCancel(Recorder("AfterCancel"));
  dataset->SetBeforeDelete(Recorder("BeforeDelete"));
  dataset->SetAfterDelete(Recorder("AfterDelete"));
  dataset->SetBeforeScroll(Recorder("BeforeScroll"));
  dataset->SetAfterScroll(Recorder("AfterScroll"));
  dataset->SetOnCalcFields(Recorder("OnCalcFields"));
  dataset->SetOnNewRecord(Recorder("OnNewRecord"));
  dataset->SetOnPostError(ErrorRecorder("OnPostError", &TEventRecorder::on_post_error));
  dataset->SetOnEditError(ErrorRecorder("OnEditError", &TEventRecorder::on_edit_error));
  dataset->SetOnDeleteError(ErrorRecorder("OnDeleteError", &TEventRecorder::on_delete_error));
}

void TEventRecorder::Attach(TDataSource* source) {
  source->SetOnStateChange([this](TObject*) { trace_->Add("e:OnStateChange"); });
  source->SetOnDataChange(
      [this](TObject*, TField* field) { trace_->Add("e:OnDataChange(" + FieldTag(field) + ")"); });
  source->SetOnUpdateData([this](TObject*) { trace_->Add("e:OnUpdateData"); });
}

}  // namespace cl::test
