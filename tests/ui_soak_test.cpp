#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <algorithm>

#include "tests/soak.h"
#include "tests/ui_desktop.h"

namespace segwork::ui {
namespace {

using segwork::testing::ResidentKiB;

class DesktopSoak : public testing::Desktop {};

// The program left running overnight with the analysis window open: past the stop step the run
// goes on, the charts refresh, and memory stops growing once the tables have reached their bound.
TEST_F(DesktopSoak, AnalysisWindowOpenForAMillionSteps) {
  const int64_t steps = segwork::testing::SoakSteps();
  const int64_t warmUp = segwork::testing::WarmUpSteps(steps);
  Stop();
  Find<QSlider>("TrB_speed")->setValue(Find<QSlider>("TrB_speed")->maximum());
  Find<QCheckBox>("CB_graphicUpd")->setChecked(false);
  Click("B_setup");
  analysis->show();
  Click("B_stop");  // runs to the stop step (500) ...
  int64_t atWarmUp = 0;
  const int64_t start = ResidentKiB();
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!main->Timer1()->isActive() && model.Sim.StepCount < steps) Click("B_stop");  // ... and on
    if (atWarmUp == 0 && model.Sim.StepCount >= warmUp) atWarmUp = ResidentKiB();
    if (model.Sim.StepCount >= steps) {
      main->Timer1()->stop();
      loop.quit();
    }
  });
  poll.start(50);
  loop.exec();
  analysis->Refresh();
  const int64_t atEnd = ResidentKiB();
  std::printf(
      "desktop soak: %d steps, resident %lld KiB after setup, %lld KiB after %lld steps, "
      "%lld KiB at the end\n",
      model.Sim.StepCount, (long long)start, (long long)atWarmUp, (long long)warmUp,
      (long long)atEnd);
  EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
  EXPECT_LE(atEnd - atWarmUp, segwork::testing::kSoakSlackKiB);
  // The charts still end at the newest step after the core thinned its tables many times.
  auto* chart = analysis->findChild<QChartView*>("Chart4")->chart();
  ASSERT_FALSE(chart->series().isEmpty());
  auto* line = qobject_cast<QLineSeries*>(chart->series().front());
  ASSERT_NE(line, nullptr);
  ASSERT_GT(line->count(), 0);
  EXPECT_LE(line->count(), 1000);
  EXPECT_EQ(line->at(line->count() - 1).x(), model.Analysis.SegregationSeries[0].points.back().x);
}

}  // namespace
}  // namespace segwork::ui
