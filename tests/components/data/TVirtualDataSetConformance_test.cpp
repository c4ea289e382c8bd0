// The dataset conformance suite on the in-memory dataset, without index and with an index on
// Numero.  The in-memory dataset frees its records when closed and leaves its cursor on a
// bookmark it cannot find; under an index a posted record goes to its key's place.
#include "DataSetConformance.h"
#include "components/data/TVirtualDataSet.h"

namespace cl::test {
namespace {

using comp::TVirtualDataSet;

struct VirtualFactory {
  static constexpr TConformanceTraits kTraits{
      .insert_lands_at_cursor = true,
      .keeps_records_when_closed = false,
      .invalid_bookmark_raises = false,
  };
  static cl::TDataSet* Create(cl::TComponent* owner) {
    auto* dataset = cl::Create<TVirtualDataSet>(owner);
    cl::test::CreateStandardFields(dataset, owner);
    return dataset;
  }
};

struct IndexedVirtualFactory {
  static constexpr TConformanceTraits kTraits{
      .insert_lands_at_cursor = false,
      .keeps_records_when_closed = false,
      .invalid_bookmark_raises = false,
  };
  static cl::TDataSet* Create(cl::TComponent* owner) {
    auto* dataset = cl::Create<TVirtualDataSet>(owner);
    cl::test::CreateStandardFields(dataset, owner);
    dataset->SetIndexFieldNames("Numero");
    return dataset;
  }
};

}  // namespace

CL_INSTANTIATE_DATASET_CONFORMANCE(Virtual, VirtualFactory);
CL_INSTANTIATE_DATASET_CONFORMANCE(IndexedVirtual, IndexedVirtualFactory);

}  // namespace cl::test
