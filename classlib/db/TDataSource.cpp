#include "classlib/db/TDataSource.h"

#include <algorithm>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TDataLink.h"
#include "classlib/db/TDataSet.h"
#include "classlib/rtl/Application.h"

namespace cl {

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  Destroying();
  try {
    SetDataSet(nullptr);
  } catch (...) {
    Application().HandleException(this);
  }
  while (!data_links_.empty()) {
    TDataLink* link = data_links_.back();
    data_links_.pop_back();
    link->data_source_ = nullptr;
    link->active_ = false;
    link->editing_ = false;
  }
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (IsLinkedTo(dataset)) DatabaseError(SCircularDataLink);
  if (dataset_ != nullptr) {
    TDataSet* old = dataset_;
    old->RemoveDataSource(this);
    RemoveFreeNotification(old);
  }
  if (dataset != nullptr) {
    FreeNotification(dataset);
    dataset->AddDataSource(this);
  }
}

void TDataSource::SetEnabled(bool enabled) {
  enabled_ = enabled;
  NotifyState();
}

void TDataSource::Edit() {
  if (auto_edit_ && state_ == dsBrowse && dataset_ != nullptr) dataset_->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* dataset) const {
  std::vector<const TDataSet*> seen;
  while (dataset != nullptr) {
    TDataSource* source = dataset->GetDataSource();
    if (source == nullptr) return false;
    if (source == this) return true;
    if (std::find(seen.begin(), seen.end(), dataset) != seen.end()) return false;
    seen.push_back(dataset);
    dataset = source->DataSet();
  }
  return false;
}

void TDataSource::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == dataset_) {
    // The dataset normally detaches us itself; this covers a dataset dying without doing so.
    dataset_ = nullptr;
    NotifyState();
  }
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    NotifyState();
    return;
  }
  if (state_ == dsInactive) return;
  NotifyLinks(event, info);
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (on_data_change_) on_data_change_(this, reinterpret_cast<TField*>(info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (on_data_change_) on_data_change_(this, nullptr);
      break;
    case deUpdateRecord:
      if (on_update_data_) on_update_data_(this);
      break;
    default:
      break;
  }
}

void TDataSource::NotifyState() {
  if (enabled_ && dataset_ != nullptr) {
    SetState(dataset_->State());
  } else {
    SetState(dsInactive);
  }
}

void TDataSource::SetState(TDataSetState state) {
  if (state_ == state) return;
  TDataSetState prior = state_;
  state_ = state;
  NotifyLinks(deUpdateState, 0);
  if (ComponentState().Contains(csDestroying)) return;
  if (on_state_change_) on_state_change_(this);
  if (prior == dsInactive && on_data_change_) on_data_change_(this, nullptr);
}

// The last registered link first; a link may detach itself (or others) while it is told.
void TDataSource::NotifyLinks(TDataEvent event, intptr_t info) {
  std::vector<TDataLink*> links = data_links_;
  for (auto it = links.rbegin(); it != links.rend(); ++it) {
    if (std::find(data_links_.begin(), data_links_.end(), *it) != data_links_.end()) {
      (*it)->DataEvent(event, info);
    }
  }
}

void TDataSource::AddDataLink(TDataLink* link) {
  data_links_.push_back(link);
  link->data_source_ = this;
  if (dataset_ != nullptr) dataset_->UpdateBufferCount();
  link->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* link) {
  link->data_source_ = nullptr;
  std::erase(data_links_, link);
  link->UpdateState();
  if (dataset_ != nullptr) dataset_->UpdateBufferCount();
}

}  // namespace cl
