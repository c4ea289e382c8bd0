// The dataset conformance suite on the table component, each instance on a fresh table.
#include <string>

#include "DataSetConformance.h"
#include "engine/components/TTesseraTable.h"
#include "tests/engine/components/DataSetTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera {
namespace {

mirvel_test::TempDirectory& Directory() {
  static mirvel_test::TempDirectory directory("i18-conformance");
  return directory;
}

struct TableFactory {
  // The engine keeps records in key order, wherever the cursor stood.
  static constexpr cl::test::TConformanceTraits kTraits{.insert_lands_at_cursor = false};
  static cl::TDataSet* Create(cl::TComponent* owner) {
    static int count = 0;
    std::string name = "T" + std::to_string(++count);
    testing::CreateStandardTable(Directory().File(name));
    auto* table = cl::Create<TTesseraTable>(owner);
    table->SetDatabaseName(Directory().Path());
    table->SetTableName(name);
    cl::test::CreateStandardFields(table, owner);
    return table;
  }
};

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing::SessionsEnvironment);

}  // namespace
}  // namespace tessera

namespace cl::test {
CL_INSTANTIATE_DATASET_CONFORMANCE(Table, tessera::TableFactory);
}  // namespace cl::test
