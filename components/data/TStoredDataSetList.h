// The process-wide list of stored datasets: record entries, each naming a dataset kept by a form.
//
// The list exists between its unit's initialisation and finalisation (register the unit with
// RegisterStoredDataSetsUnit in the program's start-up list); the finaliser frees the entries
// first, then the list.  Nothing in this program adds entries yet.  GUI thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace cl {
class TDataSet;
}

namespace comp {

struct TStoredDataSetRec {
  std::string Name;
  cl::TDataSet* DataSet = nullptr;  // not owned
};

class TStoredDataSetList {
 public:
  ~TStoredDataSetList() { Clear(); }

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count(), else EListError.
  TStoredDataSetRec& Items(int index) const;
  // Takes ownership of a new entry; returns its index.
  int Add(std::unique_ptr<TStoredDataSetRec> entry);
  // Frees every entry.
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TStoredDataSetRec>> items_;
};

// The list while its unit is initialised; nullptr before and after.
TStoredDataSetList* StoredDataSets();

// Registers the unit that creates and frees the list (component library order, 400).
void RegisterStoredDataSetsUnit();

}  // namespace comp
