// The dataset conformance suite on a live query, each instance over a fresh table.
#include <string>

#include "DataSetConformance.h"
#include "engine/components/TTesseraQuery.h"
#include "tests/engine/components/DataSetTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera {
namespace {

mirvel_test::TempDirectory& Directory() {
  static mirvel_test::TempDirectory directory("i19-conformance");
  return directory;
}

struct LiveQueryFactory {
  // The result is the table itself, kept in primary key order wherever the cursor stood.
  static constexpr cl::test::TConformanceTraits kTraits{.insert_lands_at_cursor = false};
  static cl::TDataSet* Create(cl::TComponent* owner) {
    static int count = 0;
    std::string name = "T" + std::to_string(++count);
    testing::CreateStandardTable(Directory().File(name));
    auto* query = cl::Create<TTesseraQuery>(owner);
    query->SetDatabaseName(Directory().Path());
    query->SetRequestLive(true);
    query->SQL()->Add("SELECT * FROM " + name + " ORDER BY Numero");
    cl::test::CreateStandardFields(query, owner);
    return query;
  }
};

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing::SessionsEnvironment);

}  // namespace
}  // namespace tessera

namespace cl::test {
CL_INSTANTIATE_DATASET_CONFORMANCE(LiveQuery, tessera::LiveQueryFactory);
}  // namespace cl::test
