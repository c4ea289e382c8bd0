// The trace that dataset tests compare with the documented order of events.
//
// Entries are prefixed by their source: "v:" a protocol call of a traced dataset, "e:" a dataset
// or data-source event, "l:" a data-link notification.  A test keeps the prefixes it checks.
#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/db/TDataLink.h"
#include "classlib/db/TDataSet.h"
#include "classlib/db/TDataSource.h"

namespace cl::test {

// An expected or taken sequence of entries.
using Trace = std::vector<std::string>;

class TTrace {
 public:
  void Add(std::string entry) { entries_.push_back(std::move(entry)); }
  const std::vector<std::string>& Entries() const { return entries_; }
  void Clear() { entries_.clear(); }
  // The entries that start with one of `prefixes`, in order.
  std::vector<std::string> Filtered(std::initializer_list<std::string_view> prefixes) const;
  // Filtered, then cleared.
  std::vector<std::string> Take(std::initializer_list<std::string_view> prefixes);
  // The entries other than the "v:" ones.
  std::vector<std::string> TakeEventsAndLinks() { return Take({"e:", "l:"}); }

 private:
  std::vector<std::string> entries_;
};

// A data link that writes every notification into the trace ("l:Name" for a link named l).
class TTraceLink : public TDataLink {
 public:
  explicit TTraceLink(TTrace* trace, std::string name = "l")
      : trace_(trace), name_(std::move(name)) {}

  // Each DataSetScrolled entry carries the distance and the link's first record afterwards:
  // "l:DataSetScrolled(-1) first=0".
  int scrolled_count = 0;

 protected:
  void ActiveChanged() override { Add("ActiveChanged"); }
  void CheckBrowseMode() override { Add("CheckBrowseMode"); }
  void DataSetChanged() override { Add("DataSetChanged"); }
  void DataSetScrolled(int distance) override;
  void EditingChanged() override { Add("EditingChanged"); }
  void LayoutChanged() override { Add("LayoutChanged"); }
  void RecordChanged(TField* field) override;
  void UpdateData() override;

 public:
  // Runs at UpdateData (a control writing its pending text).
  std::function<void()> on_update_data;

 private:
  void Add(const std::string& what) { trace_->Add(name_ + ":" + what); }

  TTrace* trace_;
  std::string name_;
};

// Records every event of a dataset and of a data source as "e:<event>".  Hooks run after the
// recording: `hooks["BeforePost"]`, the error hooks, the data source hooks.
class TEventRecorder {
 public:
  explicit TEventRecorder(TTrace* trace) : trace_(trace) {}

  void Attach(TDataSet* dataset);
  void Attach(TDataSource* source);

  std::map<std::string, std::function<void(TDataSet*)>> hooks;
  std::function<void(TDataSet*, EDatabaseError&, TDataAction&)> on_post_error;
  std::function<void(TDataSet*, EDatabaseError&, TDataAction&)> on_edit_error;
  std::function<void(TDataSet*, EDatabaseError&, TDataAction&)> on_delete_error;

 private:
  TDataSetNotifyEvent Recorder(const std::string& name);
  TDataSetErrorEvent ErrorRecorder(
      const std::string& name,
      std::function<void(TDataSet*, EDatabaseError&, TDataAction&)> TEventRecorder::*hook);

  TTrace* trace_;
};

// "Name" of a field, "nil" for none.
std::string FieldTag(const TField* field);

}  // namespace cl::test
