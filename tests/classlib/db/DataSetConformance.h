// The dataset conformance suite: include this header in exactly one test source and
// instantiate it for a factory (see ConformanceFixture.h for what the factory provides):
//
//   CL_INSTANTIATE_DATASET_CONFORMANCE(Fake, FakeFactory);
#pragma once

#include "ConformanceEditing.h"
#include "ConformanceFields.h"
#include "ConformanceNavigation.h"

#define CL_INSTANTIATE_DATASET_CONFORMANCE(Prefix, Factory)                                        \
  INSTANTIATE_TYPED_TEST_SUITE_P(Prefix, DataSetEditingConformance, ::testing::Types<Factory>);    \
  INSTANTIATE_TYPED_TEST_SUITE_P(Prefix, DataSetNavigationConformance, ::testing::Types<Factory>); \
  INSTANTIATE_TYPED_TEST_SUITE_P(Prefix, DataSetFieldConformance, ::testing::Types<Factory>)
