// TTesseraMasterDataLink: the detail table's link to its master data source.  It collects the
// master fields named by FieldNames (";"-separated) while the link is active and tells the
// detail, through two calls the detail installs, when its range must follow the master
// (on-master-change) or be lifted (on-master-disable).
//
// Owned by the detail dataset, which outlives it.  Threads: GUI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/db/TDataLink.h"

namespace cl {
class TDataSet;
class TField;
}  // namespace cl

namespace tessera {

class TTesseraMasterDataLink : public cl::TDataLink {
 public:
  using TMasterEvent = std::function<void()>;

  explicit TTesseraMasterDataLink(cl::TDataSet* detail) : detail_(detail) {}

  cl::TDataSet* Detail() const { return detail_; }
  const std::string& FieldNames() const { return field_names_; }
  // A new text collects the fields again (as an activity change); an unknown name raises the
  // class library's field-not-found error and keeps the old text and fields.
  void SetFieldNames(const std::string& names);
  // The master fields of FieldNames, in order; empty while the link is inactive.
  const std::vector<cl::TField*>& Fields() const { return fields_; }

  void SetOnMasterChange(TMasterEvent handler) { on_master_change_ = std::move(handler); }
  void SetOnMasterDisable(TMasterEvent handler) { on_master_disable_ = std::move(handler); }

 protected:
  // Collects the fields again (none while inactive; an unknown name raises and keeps the old
  // ones); then, the detail being open and not destroyed, calls
  // on-master-change when active with fields, else on-master-disable.
  void ActiveChanged() override;
  void LayoutChanged() override { ActiveChanged(); }
  // A change of `field` (nullptr: the whole record) calls on-master-change when it is one of the
  // link's fields, unless the master is editing a key or the detail is closed.
  void RecordChanged(cl::TField* field) override;
  void CheckBrowseMode() override;

 private:
  cl::TDataSet* detail_;
  std::string field_names_;
  std::vector<cl::TField*> fields_;
  TMasterEvent on_master_change_;
  TMasterEvent on_master_disable_;
};

}  // namespace tessera
