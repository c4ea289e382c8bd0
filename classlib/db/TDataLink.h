// TDataLink: a control's (or a master link's) view of a data source, and TFieldDataLink, the
// view of one field.
//
// A link is active while its data source is enabled and its dataset open, and editing while the
// dataset is in an edit mode and the link is not read-only; it is told of each change by the
// virtual notifications below.  A link with BufferCount n (a grid with n rows) makes the dataset
// keep at least n record buffers and follows them with FirstRecord, the buffer index of its first
// row: scroll events shift it, and it is moved just enough to keep the dataset's active record
// among its rows.  ActiveRecord can be set for a moment to read the fields of another row.
//
// Links are plain objects owned by their control; destroying one detaches it.
// Threads: GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "classlib/db/DBTypes.h"
#include "classlib/rtl/Classes.h"

namespace cl {

class TComponent;
class TDataSource;

class TDataLink : public TPersistent {
 public:
  TDataLink() = default;
  ~TDataLink() override;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return data_source_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only);

  int BufferCount() const { return buffer_count_; }
  // Resizes the dataset's window at once when the link is active.
  void SetBufferCount(int count);
  int FirstRecord() const { return first_record_; }
  // The dataset's active record relative to this link's first row.
  int ActiveRecord() const;
  // The dataset's active record moves to that row (no events); EListError outside
  // 0 <= row < RecordCount().
  void SetActiveRecord(int row);
  // Rows of this link that hold records.
  int RecordCount() const;

  // Asks the data source to edit (unless read-only); returns Editing().
  bool Edit();
  // Runs UpdateData, during which the link's own field changes do not come back to it.
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField** /*field*/) {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}

 private:
  friend class TDataSet;
  friend class TDataSource;

  void DataEvent(TDataEvent event, intptr_t info);
  void UpdateState();
  void SetActive(bool active);
  void SetEditing(bool editing);
  void UpdateRange();

  TDataSource* data_source_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool read_only_ = false;
  bool updating_ = false;
  int buffer_count_ = 1;
  int first_record_ = 0;
};

class TFieldDataLink : public TDataLink {
 public:
  using TLinkEvent = std::function<void(TObject* sender)>;

  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(const std::string& name);
  // The dataset's field of that name while the link is active; nullptr otherwise.
  TField* Field() const { return field_; }
  TComponent* Control() const { return control_; }
  void SetControl(TComponent* control) { control_ = control; }
  // Not read-only, with a field that can be modified.
  bool CanModify() const;
  // The link's own editing: the data source edits and the field can be modified.
  bool Editing() const { return field_editing_; }
  // Puts the dataset into edit state when the field can be modified; returns Editing().
  bool Edit();
  // Marks the control's text as changed, so that the next update writes it.
  void Modified() { modified_ = true; }
  // Reloads the control from the field (forgetting a change).
  void Reset() { RecordChanged(nullptr); }

  const TLinkEvent& OnDataChange() const { return on_data_change_; }
  void SetOnDataChange(TLinkEvent handler) { on_data_change_ = std::move(handler); }
  const TLinkEvent& OnEditingChange() const { return on_editing_change_; }
  void SetOnEditingChange(TLinkEvent handler) { on_editing_change_ = std::move(handler); }
  const TLinkEvent& OnUpdateData() const { return on_update_data_; }
  void SetOnUpdateData(TLinkEvent handler) { on_update_data_ = std::move(handler); }
  const TLinkEvent& OnActiveChange() const { return on_active_change_; }
  void SetOnActiveChange(TLinkEvent handler) { on_active_change_ = std::move(handler); }

 protected:
  void ActiveChanged() override;
  void EditingChanged() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;
  void UpdateData() override;

 private:
  void UpdateField();
  void SetField(TField* field);
  void SetFieldEditing(bool editing);

  std::string field_name_;
  TField* field_ = nullptr;
  TComponent* control_ = nullptr;
  bool field_editing_ = false;
  bool modified_ = false;
  TLinkEvent on_data_change_;
  TLinkEvent on_editing_change_;
  TLinkEvent on_update_data_;
  TLinkEvent on_active_change_;
};

}  // namespace cl
