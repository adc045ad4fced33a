#include <gtest/gtest.h>

#include "model/random.h"

namespace segwork {
namespace {

TEST(Lcg, FirstDraws) {
  Lcg rng(0);
  EXPECT_EQ(rng.Random(100), 0);  // seed 1
}

}  // namespace
}  // namespace segwork
