#include "components/data/TStoredDataSetList.h"

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/Units.h"

namespace comp {
namespace {

std::unique_ptr<TStoredDataSetList>& GlobalList() {
  static std::unique_ptr<TStoredDataSetList> list;
  return list;
}

}  // namespace

TStoredDataSetRec& TStoredDataSetList::Items(int index) const {
  if (index < 0 || index >= Count()) cl::ListIndexError(index);
  return *items_[static_cast<size_t>(index)];
}

int TStoredDataSetList::Add(std::unique_ptr<TStoredDataSetRec> entry) {
  items_.push_back(std::move(entry));
  return Count() - 1;
}

TStoredDataSetList* StoredDataSets() { return GlobalList().get(); }

void RegisterStoredDataSetsUnit() {
  cl::RegisterUnit(
      "StoredDataSets", [] { GlobalList() = std::make_unique<TStoredDataSetList>(); },
      [] {
        if (GlobalList()) GlobalList()->Clear();
        GlobalList().reset();
      },
      400);
}

}  // namespace comp
