#include "engine/components/TTesseraMasterDataLink.h"

#include <algorithm>
#include <utility>

#include "classlib/db/TDataSet.h"
#include "classlib/db/TDataSource.h"

namespace tessera {

void TTesseraMasterDataLink::SetFieldNames(const std::string& names) {
  if (field_names_ == names) return;
  std::string old_names = std::exchange(field_names_, names);
  try {
    ActiveChanged();
  } catch (...) {
    field_names_ = std::move(old_names);
    throw;
  }
}

// The fields are collected before the old ones are dropped, so that an unknown name changes
// nothing.
void TTesseraMasterDataLink::ActiveChanged() {
  std::vector<cl::TField*> fields;
  if (Active()) DataSet()->GetFieldList(fields, field_names_);
  fields_ = std::move(fields);
  if (!detail_->Active() || detail_->ComponentState().Contains(cl::csDestroying)) return;
  if (Active() && !fields_.empty()) {
    if (on_master_change_) on_master_change_();
  } else if (on_master_disable_) {
    on_master_disable_();
  }
}

void TTesseraMasterDataLink::RecordChanged(cl::TField* field) {
  if (DataSource() == nullptr || DataSource()->State() == cl::dsSetKey) return;
  if (!detail_->Active() || fields_.empty()) return;
  if (field != nullptr && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) return;
  if (on_master_change_) on_master_change_();
}

void TTesseraMasterDataLink::CheckBrowseMode() {
  if (detail_->Active()) detail_->CheckBrowseMode();
}

}  // namespace tessera
