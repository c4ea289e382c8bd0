#include "classlib/db/TDataLink.h"

#include <algorithm>

#include "classlib/db/TDataSet.h"
#include "classlib/db/TDataSource.h"
#include "classlib/rtl/Application.h"

namespace cl {

// ---- TDataLink ---------------------------------------------------------------------------------

TDataLink::~TDataLink() {
  if (data_source_ != nullptr) {
    TDataSource* source = data_source_;
    std::erase(source->data_links_, this);
    data_source_ = nullptr;
    if (source->dataset_ != nullptr) {
      try {
        source->dataset_->UpdateBufferCount();
      } catch (...) {
        Application().HandleException(this);
      }
    }
  }
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == data_source_) return;
  if (data_source_ != nullptr) data_source_->RemoveDataLink(this);
  if (source != nullptr) source->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const {
  return data_source_ != nullptr ? data_source_->DataSet() : nullptr;
}

void TDataLink::SetReadOnly(bool read_only) {
  if (read_only_ == read_only) return;
  read_only_ = read_only;
  UpdateState();
}

void TDataLink::SetBufferCount(int count) {
  if (count < 1) count = 1;
  if (buffer_count_ == count) return;
  buffer_count_ = count;
  if (active_) {
    DataSet()->UpdateBufferCount();
    UpdateRange();
  }
}

int TDataLink::ActiveRecord() const {
  if (!active_ || data_source_->State() == dsSetKey) return 0;
  return DataSet()->active_record_ - first_record_;
}

void TDataLink::SetActiveRecord(int row) {
  if (!active_ || data_source_->State() == dsSetKey) return;
  if (row < 0 || row >= RecordCount()) ListIndexError(row);
  DataSet()->SetActiveRecord(row + first_record_);
}

int TDataLink::RecordCount() const {
  if (!active_) return 0;
  if (data_source_->State() == dsSetKey) return 1;
  int rows = DataSet()->record_count_ - first_record_;
  return std::clamp(rows, 0, buffer_count_);
}

bool TDataLink::Edit() {
  if (!read_only_ && data_source_ != nullptr) data_source_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::UpdateState() {
  bool active = data_source_ != nullptr && data_source_->State() != dsInactive;
  SetActive(active);
  SetEditing(data_source_ != nullptr && IsEditMode(data_source_->State()) && !read_only_);
}

void TDataLink::SetActive(bool active) {
  if (active_ == active) return;
  active_ = active;
  if (active) {
    UpdateRange();
  } else {
    first_record_ = 0;
  }
  ActiveChanged();
}

void TDataLink::SetEditing(bool editing) {
  if (editing_ == editing) return;
  editing_ = editing;
  EditingChanged();
}

// Keeps the dataset's active record among this link's rows, and the rows inside the window.
void TDataLink::UpdateRange() {
  const TDataSet* dataset = DataSet();
  int low = std::max(0, dataset->active_record_ - buffer_count_ + 1);
  int high = std::min(dataset->buffer_count_ - buffer_count_, dataset->active_record_);
  high = std::max(high, 0);
  first_record_ = std::clamp(first_record_, low, std::max(low, high));
  if (first_record_ > 0 && dataset->active_record_ - first_record_ < buffer_count_ - 1) {
    --first_record_;
  }
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
      int moved = 0;
      if (data_source_->State() != dsSetKey) {
        // The rows keep showing the same records (the shift), then follow the active record.
        int active = DataSet()->active_record_;
        int first = first_record_ + (event == deDataSetScroll ? static_cast<int>(info) : 0);
        int last = first + buffer_count_ - 1;
        if (active > last) {
          moved = active - last;
        } else if (active < first) {
          moved = active - first;
        }
        first_record_ = std::max(0, first + moved);
      }
      if (event == deDataSetChange) {
        DataSetChanged();
      } else if (event == deDataSetScroll) {
        DataSetScrolled(moved);
      } else {
        LayoutChanged();
      }
      break;
    }
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deFocusControl:
      FocusControl(reinterpret_cast<TField**>(info));
      break;
    default:
      break;
  }
}

// ---- TFieldDataLink ----------------------------------------------------------------------------

void TFieldDataLink::SetFieldName(const std::string& name) {
  if (field_name_ == name) return;
  field_name_ = name;
  UpdateField();
}

bool TFieldDataLink::CanModify() const {
  return !ReadOnly() && field_ != nullptr && field_->CanModify();
}

bool TFieldDataLink::Edit() {
  if (CanModify()) TDataLink::Edit();
  return field_editing_;
}

void TFieldDataLink::UpdateField() {
  TField* field = nullptr;
  if (Active() && !field_name_.empty()) field = DataSet()->FindField(field_name_);
  SetField(field);
}

void TFieldDataLink::SetField(TField* field) {
  if (field_ == field) return;
  field_ = field;
  EditingChanged();
  RecordChanged(nullptr);
}

void TFieldDataLink::SetFieldEditing(bool editing) {
  if (field_editing_ == editing) return;
  field_editing_ = editing;
  modified_ = false;
  if (on_editing_change_) on_editing_change_(this);
}

void TFieldDataLink::ActiveChanged() {
  UpdateField();
  if (on_active_change_) on_active_change_(this);
}

void TFieldDataLink::EditingChanged() { SetFieldEditing(TDataLink::Editing() && CanModify()); }

void TFieldDataLink::LayoutChanged() { UpdateField(); }

void TFieldDataLink::RecordChanged(TField* field) {
  if (field == nullptr || field == field_) {
    if (on_data_change_) on_data_change_(this);
    modified_ = false;
  }
}

void TFieldDataLink::UpdateData() {
  if (!modified_) return;
  if (field_ != nullptr && on_update_data_) on_update_data_(this);
  modified_ = false;
}

}  // namespace cl
