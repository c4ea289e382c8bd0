// TDataSource: the junction between one dataset and the data links of its controls.
//
// A data source records the dataset's state as of the last deUpdateState, passes every other
// data event to its links while that state is not inactive (the last registered link first), and
// fires OnStateChange, OnDataChange and OnUpdateData.  Enabled false makes every link inactive;
// AutoEdit false keeps typing in a control from putting the dataset into edit state.  The
// dataset keeps the list of its data sources; destroying either side detaches the other.
// Threads: GUI thread only.
#pragma once

#include <vector>

#include "classlib/db/DBTypes.h"
#include "classlib/rtl/TComponent.h"

namespace cl {

class TDataLink;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  // Refuses a dataset that already follows this source (EDatabaseError "Liaisons de données
  // circulaires non autorisées").
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool auto_edit) { auto_edit_ = auto_edit; }
  TDataSetState State() const { return state_; }

  // Puts the dataset into edit state when AutoEdit is on and it is browsing.
  void Edit();
  // True when `dataset`, or a master it follows through GetDataSource(), uses this source.
  bool IsLinkedTo(TDataSet* dataset) const;

  int DataLinkCount() const { return static_cast<int>(data_links_.size()); }
  TDataLink* DataLinks(int index) const { return data_links_[static_cast<size_t>(index)]; }

  const TDataChangeEvent& OnDataChange() const { return on_data_change_; }
  void SetOnDataChange(TDataChangeEvent handler) { on_data_change_ = std::move(handler); }
  const TNotifyEvent& OnStateChange() const { return on_state_change_; }
  void SetOnStateChange(TNotifyEvent handler) { on_state_change_ = std::move(handler); }
  const TNotifyEvent& OnUpdateData() const { return on_update_data_; }
  void SetOnUpdateData(TNotifyEvent handler) { on_update_data_ = std::move(handler); }

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, intptr_t info);
  void NotifyState();
  void SetState(TDataSetState state);
  void NotifyLinks(TDataEvent event, intptr_t info);
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);

  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  bool auto_edit_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> data_links_;
  TDataChangeEvent on_data_change_;
  TNotifyEvent on_state_change_;
  TNotifyEvent on_update_data_;
};

}  // namespace cl
