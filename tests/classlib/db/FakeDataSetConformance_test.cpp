// The dataset conformance suite on the traced fake dataset.
#include "DataSetConformance.h"
#include "FakeDataSet.h"

namespace cl::test {
namespace {

struct FakeFactory {
  static constexpr TConformanceTraits kTraits{};
  static TDataSet* Create(TComponent* owner) {
    auto* dataset = cl::Create<TFakeDataSet>(owner);
    AddStandardDefs(dataset);
    CreateStandardFields(dataset, owner);
    return dataset;
  }
};

}  // namespace

CL_INSTANTIATE_DATASET_CONFORMANCE(Fake, FakeFactory);

}  // namespace cl::test
