#include "components/ui/TDBRecordCount.h"

#include "classlib/db/TDataSet.h"
#include "components/data/Helpers.h"

namespace comp {

TCustomDBInformation::TCustomDBInformation(cl::TComponent* owner) : cl::TPanel(owner) {
  SetCaption("");
  link_.on_active_changed = [this] { Refresh(); };
  link_.on_check_browse_mode = [this] { Refresh(); };
  link_.on_data_set_changed = [this] { Refresh(); };
  link_.on_editing_changed = [this] { Refresh(); };
}

TCustomDBInformation::~TCustomDBInformation() { link_.SetDataSource(nullptr); }

void TCustomDBInformation::SetDataSource(cl::TDataSource* source) {
  link_.SetDataSource(source);
  if (source != nullptr) source->FreeNotification(this);
  Refresh();
}

void TCustomDBInformation::Notification(cl::TComponent* component, cl::TOperation operation) {
  cl::TPanel::Notification(component, operation);
  if (operation == cl::opRemove && component == link_.DataSource()) {
    link_.SetDataSource(nullptr);
    Refresh();
  }
}

void TCustomDBInformation::Refresh() {
  if (Enabled() && link_.Active()) {
    UpdateText();
  } else {
    ClearText();
  }
}

void TDBRecordCount::SetRecordName(const std::string& name) {
  record_name_ = name;
  Refresh();
}

void TDBRecordCount::SetPluralLetter(const std::string& letter) {
  plural_letter_ = letter;
  Refresh();
}

void TDBRecordCount::UpdateText() {
  cl::TDataSet* dataset = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
  if (dataset == nullptr || !Link().Active()) {
    SetCaption("");
    return;
  }
  if (dataset->State() == cl::dsBrowse) {
    SetCaption(FormatCount(record_name_, plural_letter_, dataset->RecordCount()));
  }
}

}  // namespace comp
