// database/soup_model_test.cpp - a seeded random workload on the database
// over the in-memory block file, checked against a plain model.
#include <gtest/gtest.h>

#include <memory>

#include "database/soup_model_test_support.h"

namespace bw {
namespace {

TEST(SoupModelTest, RandomWorkloadMatchesTheModel) {
  for (uint32_t seed : {1u}) {
    auto disk = std::make_shared<testing::FakeDisk>();
    testing::SoupModel model([disk] { return std::make_unique<testing::FakeSoupBlockFile>(disk, -1); }, seed);
    for (int batch = 0; batch < 12; ++batch) {
      for (int i = 0; i < 500; ++i) model.step();
      model.check();
      if (::testing::Test::HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace bw
