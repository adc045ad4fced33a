#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/errors.h"
#include "experiments/sweep_core.h"
#include "tests/support.h"
#include "window/AnaStreets.h"
#include "window/AnalyseGrowth.h"
#include "window/CellForm.h"
#include "window/Parameterspace.h"

namespace segwork {
namespace {

// The program as started, on a small world unless asked for the default one.
std::unique_ptr<Model> StartedModel(bool small = true) {
  auto m = std::make_unique<Model>();
  m->Sim.ClockSeed = [] { return 99u; };
  if (small) {
    m->Controls.Text(Field::Edit_cellSiz) = "20";
    m->Controls.Text(Field::Edit_anzAg) = "300";
    m->Controls.Text(Field::Edit_mDist) = "10";
  }
  m->CreateMainWindow();
  return m;
}

// Ticks until the sweep stops itself; a failing tick's message is returned.
template <class Sweep, class Tick>
std::string RunToEnd(Sweep& sweep, Tick tick, int limit = 100000) {
  for (int i = 0; i < limit && sweep.TimerEnabled; ++i) {
    try {
      (sweep.*tick)();
    } catch (const SegworkError& e) {
      return e.what();
    }
  }
  return sweep.TimerEnabled ? "still running" : "";
}

using testing::ErrorOf;

// Run r of a sweep with seed S: the low 32 bits of splitmix64(S * 2^32 + r), as docs/cli.md says;
// the values from an implementation outside the code.
TEST(SweepSeeds, RunSeedsAreSplitmix64OfTheSweepSeedAndTheRunIndex) {
  EXPECT_EQ(RunSeed(42, 0), 3198934971u);
  EXPECT_EQ(RunSeed(42, 1), 1616377404u);
  EXPECT_EQ(RunSeed(42, 2), 3816376952u);
  EXPECT_EQ(RunSeed(42, 3), 2513851407u);
  EXPECT_EQ(RunSeed(42, 4294967295u), 3442802562u);
  EXPECT_EQ(RunSeed(0, 0), 2065550767u);
  EXPECT_EQ(RunSeed(1, 0), 2743206200u);
  EXPECT_EQ(RunSeed(4294967295u, 4294967295u), 459615264u);
}

TEST(ParameterSweep, DefaultSweepFillsDataAverageTrendAndFit) {
  auto m = StartedModel();
  ParameterSpaceSweep sweep(*m);
  EXPECT_EQ(sweep.Lbl_proceed, "/ 9");
  m->Window.Timer1Enabled = true;
  sweep.CB_param = 0;
  sweep.B_startClick();
  EXPECT_FALSE(m->Window.Timer1Enabled);
  EXPECT_EQ(m->Controls.Text(Field::E_stopT), "30");
  EXPECT_EQ(sweep.ChartClusterTitle, "clusters per value | cluster threshold = 1");
  sweep.Timer2Timer();
  EXPECT_EQ(sweep.lbl_pSteps, "0");  // the first tick makes step 1
  EXPECT_EQ(RunToEnd(sweep, &ParameterSpaceSweep::Timer2Timer), "");
  EXPECT_EQ(sweep.Lbl_akt, "9");
  ASSERT_EQ(sweep.Series_Avg.Count(), 9u);
  ASSERT_EQ(sweep.Series_IS.Count(), 9u);
  ASSERT_EQ(sweep.Series_AvgClust.Count(), 3u);
  ASSERT_EQ(sweep.Series_IS_Avg.Count(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sweep.Series_IS_Avg.XValue(i), 2.0 + double(i));
    for (size_t r = 0; r < 3; ++r) EXPECT_EQ(sweep.Series_IS.XValue(3 * i + r), 2.0 + double(i));
  }
  EXPECT_EQ(sweep.Series_AvgTrend.Count(), 2u);
  EXPECT_EQ(sweep.Series_IS_Fit.Count(), 9u);
  EXPECT_EQ(m->Controls.Text(Field::Edit_anzGr), "4");
  EXPECT_EQ(m->Sim.GroupCount, 4);
  // A new degree refits at once, from the same points.
  sweep.UpD_polyDegSegClick(2);
  EXPECT_EQ(sweep.Series_IS_Fit.Count(), 9u);
}

TEST(ParameterSweep, RefusalsAndFailuresLeaveItStopped) {
  auto m = StartedModel();
  ParameterSpaceSweep sweep(*m);
  m->Sim.StepCount = 7;
  try {
    sweep.B_startClick();
    FAIL();
  } catch (const SegworkError& e) {
    EXPECT_STREQ(e.what(), "please select a parameter");
    EXPECT_EQ(e.Caption(), "missing value");
  }
  EXPECT_EQ(m->Sim.StepCount, 0);
  EXPECT_FALSE(sweep.TimerEnabled);

  sweep.E_incre = "0";
  EXPECT_EQ(ErrorOf([&] { sweep.UpdateCalculationCount(); }), kZeroIncrementMessage);
  EXPECT_EQ(sweep.Lbl_proceed, "/ 9");
  sweep.E_incre = "1";
  sweep.E_valFrom = "4";
  sweep.E_valTo = "2";
  sweep.UpdateCalculationCount();
  EXPECT_EQ(sweep.Lbl_proceed, "/ -3");

  sweep.CB_param = 3;
  sweep.E_toSteps = "0";
  EXPECT_EQ(ErrorOf([&] { sweep.B_startClick(); }),
            "'0' is not a valid number of timesteps: it must be at least 1");
  EXPECT_FALSE(sweep.TimerEnabled);

  // From above the bound: the first value still runs all its calculations (and a fit over
  // one x fails).
  // Steps per value emptied to 0 mid-sweep count as one step per run.
  sweep.E_toSteps = "3";
  sweep.B_startClick();
  sweep.Timer2Timer();
  sweep.E_toSteps = "0";
  EXPECT_EQ(RunToEnd(sweep, &ParameterSpaceSweep::Timer2Timer), "Cannot process fitting");
  EXPECT_EQ(sweep.Series_Avg.Count(), 3u);
  EXPECT_EQ(m->Sim.StepCount, 1);
  EXPECT_EQ(m->Sim.Threshold, 4);
  sweep.E_toSteps = "3";

  // Two values of three runs each cannot take a degree-3 fit: one message, timer off.
  sweep.E_valFrom = "2";
  sweep.E_valTo = "3";
  sweep.B_startClick();
  EXPECT_EQ(RunToEnd(sweep, &ParameterSpaceSweep::Timer2Timer), "Cannot process fitting");
  EXPECT_FALSE(sweep.TimerEnabled);
  EXPECT_EQ(sweep.Series_IS_Fit.Count(), 0u);
  EXPECT_EQ(sweep.Series_Avg.Count(), 6u);
}

TEST(GrowthSweep, ValueLinesFromRunMeansAndTheDensityOfTheLastRun) {
  auto m = StartedModel();
  GrowthAnalysis sweep(*m);
  EXPECT_EQ(sweep.Lbl_proceed, "/ 60");
  sweep.E_valTo = "20";
  sweep.E_toSteps = "5";
  sweep.E_calcVals = "2";
  m->Window.Timer1Enabled = true;
  sweep.B_startClick();
  EXPECT_TRUE(m->Window.Timer1Enabled);  // this window leaves the main timer alone
  EXPECT_EQ(RunToEnd(sweep, &GrowthAnalysis::Timer3Timer), "");
  EXPECT_EQ(sweep.Lbl_akt, "4");
  ASSERT_EQ(sweep.ValueMeans.size(), 2u);
  EXPECT_EQ(sweep.ValueMeans[0]->Title, "10");
  EXPECT_EQ(sweep.ValueMeans[1]->Title, "20");
  for (const auto& line : sweep.ValueMeans) {
    ASSERT_EQ(line->Count(), 5u);
    for (size_t j = 0; j < 5; ++j) EXPECT_EQ(line->XValue(j), double(j + 1));
  }
  for (const auto& line : sweep.RunMeans) EXPECT_EQ(line->Count(), 0u);
  EXPECT_EQ(sweep.DensityLine->Count(), 5u);
  EXPECT_EQ(sweep.ChartSeries.size(), 5u);
  EXPECT_EQ(m->Sim.Threshold, 20);

  // "start / stop" after the end starts nothing.
  sweep.E_incre = "10";
  sweep.B_breakClick();
  EXPECT_FALSE(sweep.TimerEnabled);
  EXPECT_EQ(sweep.Lbl_akt, "4");

  // Ranges without a slot are refused; the finished sweep's lines stay.
  sweep.E_valTo = "9";
  EXPECT_EQ(ErrorOf([&] { sweep.B_startClick(); }), "Range check error");
  EXPECT_FALSE(sweep.TimerEnabled);
  EXPECT_EQ(sweep.ValueMeans.size(), 2u);
  // So are ranges whose lines could not all be made.
  sweep.E_valTo = "2000000000";
  sweep.E_incre = "1";
  EXPECT_NE(ErrorOf([&] { sweep.B_startClick(); }).find("lines a chart can hold"),
            std::string::npos);
  EXPECT_FALSE(sweep.TimerEnabled);
  EXPECT_EQ(sweep.ValueMeans.size(), 2u);
  sweep.E_valTo = "20";
  sweep.E_incre = "0";
  EXPECT_EQ(ErrorOf([&] { sweep.B_startClick(); }), kZeroIncrementMessage);

  // More runs per value asked for mid-sweep than the tables hold: the sweep ends cleanly.
  sweep.E_incre = "10";
  sweep.B_startClick();
  for (int i = 0; i < 7; ++i) sweep.Timer3Timer();
  sweep.E_calcVals = "5";
  EXPECT_EQ(RunToEnd(sweep, &GrowthAnalysis::Timer3Timer), "");
}

TEST(GrowthSweep, DefaultsEndWithSixValueLinesOf1300Points) {
  auto m = StartedModel();
  GrowthAnalysis sweep(*m);
  sweep.B_startClick();
  EXPECT_EQ(RunToEnd(sweep, &GrowthAnalysis::Timer3Timer, 100000), "");
  EXPECT_EQ(sweep.Lbl_akt, "60");
  ASSERT_EQ(sweep.ValueMeans.size(), 6u);
  for (size_t v = 0; v < 6; ++v) {
    EXPECT_EQ(sweep.ValueMeans[v]->Count(), 1300u);
    EXPECT_EQ(sweep.ValueMeans[v]->Title, std::to_string(10 * (v + 1)));
  }
  EXPECT_EQ(sweep.DensityLine->Count(), 1300u);
}

TEST(StreetSweep, OneRunAtValueTenOnTheDefaultWorld) {
  auto m = StartedModel(false);
  StreetAnalysis sweep(*m);
  EXPECT_EQ(sweep.Lbl_proceed, "/ 510");
  sweep.E_valTo = "10";
  sweep.E_calcVals = "1";
  sweep.E_toSteps = "3";
  sweep.S_startClick();
  EXPECT_EQ(m->Window.Lbl_strCell, "2007");  // 9 + 9 full lines, 81 crossings
  EXPECT_EQ(RunToEnd(sweep, &StreetAnalysis::Timer4Timer), "");
  ASSERT_EQ(sweep.Series_street.Count(), 1u);
  EXPECT_EQ(sweep.Series_street.XValue(0), 2007.0);
  EXPECT_EQ(sweep.Series_strTrend.Count(), 0u);  // one point makes no line

  // Street type 0: the run starts without streets and the sweep pauses with the message.
  m->Controls.UpD_strType = 0;
  EXPECT_EQ(ErrorOf([&] { sweep.S_startClick(); }), "0 is not a valid street type");
  EXPECT_FALSE(sweep.TimerEnabled);
  EXPECT_EQ(m->Sim.StreetCellCount(), 0);
  EXPECT_EQ(m->Sim.StepCount, 0);
  sweep.B_breakClick();
  sweep.Timer4Timer();
  EXPECT_EQ(m->Sim.StepCount, 1);
}

}  // namespace
}  // namespace segwork
