#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "tests/soak.h"
#include "window/CellForm.h"

namespace segwork {
namespace {

using testing::ResidentKiB;

// The default world, headless, run on far past its stop step as an overnight run would be.
TEST(Soak, HeadlessRunStaysBoundedAfterWarmUp) {
  const int64_t steps = testing::SoakSteps();
  const int64_t warmUp = testing::WarmUpSteps(steps);
  auto model = std::make_unique<Model>();
  model->Sim.ClockSeed = [] { return 11u; };
  model->StartProgram();
  const int64_t start = ResidentKiB();
  int64_t atWarmUp = 0;
  for (int64_t s = 1; s <= steps; ++s) {
    model->AdvanceOneStep();
    if (s == warmUp) atWarmUp = ResidentKiB();
  }
  const int64_t atEnd = ResidentKiB();
  std::printf(
      "headless soak: %lld steps, resident %lld KiB after setup, %lld KiB after %lld steps, "
      "%lld KiB at the end\n",
      (long long)steps, (long long)start, (long long)atWarmUp, (long long)warmUp, (long long)atEnd);
  EXPECT_LE(atEnd - atWarmUp, testing::kSoakSlackKiB);
  for (const LineSeries& s : model->Analysis.SegregationSeries) {
    EXPECT_LE(s.points.size(), size_t(model->Sim.StopStep) + 2 * LineSeries::kTailPoints + 1);
    ASSERT_FALSE(s.points.empty());
    EXPECT_EQ(s.points.back().x, double(steps));
  }
}

}  // namespace
}  // namespace segwork
