// TCustomDBInformation: a panel showing a text derived from the dataset of its DataSource,
// refreshed on every change of that dataset (scrolling excepted); TDBRecordCount, the one that
// shows the record count with its noun ("12 clients").
//
// The count is the dataset's RecordCount: the records a filter or a range lets through.
// Ownership: the panel owns its link; the data source is the program's and is forgotten when it
// goes.  GUI thread only.
#pragma once

#include <string>

#include "classlib/db/TDataSource.h"
#include "classlib/forms/ExtCtrls.h"
#include "components/ui/TInfoDataLink.h"

namespace comp {

class TCustomDBInformation : public cl::TPanel {
 public:
  explicit TCustomDBInformation(cl::TComponent* owner);
  ~TCustomDBInformation() override;

  cl::TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(cl::TDataSource* source);

  // Shows the text when the panel is enabled and the link active, else empties it.
  void Refresh();

 protected:
  const TInfoDataLink& Link() const { return link_; }
  virtual void UpdateText() {}
  virtual void ClearText() { SetCaption(""); }
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  TInfoDataLink link_;
};

class TDBRecordCount : public TCustomDBInformation {
 public:
  explicit TDBRecordCount(cl::TComponent* owner) : TCustomDBInformation(owner) {}

  const std::string& RecordName() const { return record_name_; }
  void SetRecordName(const std::string& name);
  const std::string& PluralLetter() const { return plural_letter_; }
  void SetPluralLetter(const std::string& letter);

 protected:
  // In browse state the count and its noun; other states keep the caption (no flicker while a
  // record is edited).
  void UpdateText() override;

 private:
  std::string record_name_ = "enregistrement";
  std::string plural_letter_ = "s";
};

}  // namespace comp
