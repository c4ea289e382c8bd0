#include "components/data/TStoredDataSetList.h"

#include <gtest/gtest.h>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/Units.h"

namespace comp {
namespace {

TEST(TStoredDataSetListTest, LivesBetweenItsUnitsStartAndEnd) {
  cl::ClearUnits();
  RegisterStoredDataSetsUnit();
  EXPECT_EQ(StoredDataSets(), nullptr);
  cl::InitializeUnits();
  ASSERT_NE(StoredDataSets(), nullptr);
  auto entry = std::make_unique<TStoredDataSetRec>();
  entry->Name = "TableMessages";
  EXPECT_EQ(StoredDataSets()->Add(std::move(entry)), 0);
  EXPECT_EQ(StoredDataSets()->Items(0).Name, "TableMessages");
  EXPECT_THROW(StoredDataSets()->Items(1), cl::EListError);
  cl::FinalizeUnits();
  EXPECT_EQ(StoredDataSets(), nullptr);
  cl::ClearUnits();
}

}  // namespace
}  // namespace comp
