#include "experiments/Parameterspace.h"

#include <exception>

#include "model/CellForm.h"
#include "model/convert.h"
#include "model/errors.h"

namespace segwork {

ParameterSpaceSweep::ParameterSpaceSweep(Model& model) : SweepWindow(model) {
  E_valFrom = "2";
  E_valTo = "4";
  E_incre = "1";
  E_toSteps = "30";
  E_calcVals = "3";
  ClusterFit = std::make_shared<TCurveFittingFunction>();
  ClusterFit->SetPolyDegree(3);
  SegregationFit = std::make_shared<TCurveFittingFunction>();
  SegregationFit->SetPolyDegree(3);
  // The derived series as designed: averages, trends, and a curve fit of its own until the first
  // new start hands each fit series the window's fit object.
  auto derive = [](Series& series, Series& source, std::shared_ptr<SeriesFunction> function) {
    series.SetSource(&source);
    series.SetFunction(std::move(function));
  };
  derive(Series_AvgClust, Series_Avg, clusterAverage_);
  derive(Series_AvgTrend, Series_Avg, std::make_shared<TTrendFunction>());
  derive(Series_AvgFit, Series_Avg, std::make_shared<TCurveFittingFunction>());
  derive(Series_IS_Avg, Series_IS, segregationAverage_);
  derive(Series_IS_Trend, Series_IS, std::make_shared<TTrendFunction>());
  derive(Series_IS_Fit, Series_IS, std::make_shared<TCurveFittingFunction>());
  UpdateCalculationCount();
}

void ParameterSpaceSweep::B_startClick() {
  model_.Window.Timer1Enabled = false;
  RunStep = 0;
  model_.StepCount = 0;
  if (CB_param < 0 || CB_param > 3) {
    throw SegworkError("please select a parameter", kMissingValueCaption);
  }
  CheckStepsAtStart();
  PrepareCharts();
  CalculationIndex = 1;
  CompletedRuns = 0;
  StartFirstValue();
  TimerEnabled = true;
}

void ParameterSpaceSweep::PrepareCharts() {
  Series_Avg.Clear();
  Series_AvgClust.Clear();
  Series_AvgFit.Clear();
  ChartClusterTitle =
      "clusters per value | cluster threshold = " + model_.Controls.Text(Field::E_clusterT);
  clusterAverage_->SetPeriod(StrToInt(E_calcVals));
  Series_AvgFit.SetFunction(ClusterFit);
  Series_IS.Clear();
  Series_IS_Avg.Clear();
  Series_IS_Fit.Clear();
  ChartISTitle = "segregation per value";
  segregationAverage_->SetPeriod(StrToInt(E_calcVals));
  Series_IS_Fit.SetFunction(SegregationFit);
}

void ParameterSpaceSweep::ApplySweepValue(int32_t value) {
  // Writing a field runs its own check, as typing does.
  const std::string text = std::to_string(value);
  switch (CB_param) {
    case 0:
      model_.Controls.Rewrite(Field::Edit_anzGr, text);
      model_.Edit_anzGrChange();
      break;
    case 1:
      model_.Controls.Rewrite(Field::Edit_nRad, text);
      model_.Edit_nRadChange();
      break;
    case 2:
      model_.Controls.Rewrite(Field::Edit_mDist, text);
      model_.Edit_mDistChange();
      break;
    case 3:
      model_.TrB_threshChange(value);
      break;
    default:
      break;
  }
  model_.SetUpRun();
}

void ParameterSpaceSweep::Timer2Timer() {
  const int32_t steps = StepsPerRun();
  if (RunStep >= steps) {
    AddRunResult();
    if (CountCompletedRun()) {
      if (NextValuePassesEnd()) {
        // The timer goes first, so a failing fit cannot leave the sweep running.
        TimerEnabled = false;
        model_.FindClusters();
        std::exception_ptr failure;
        for (Series* fit : {&Series_IS_Fit, &Series_AvgFit}) {
          try {
            fit->Recalculate();
          } catch (const SegworkError&) {
            if (!failure) failure = std::current_exception();
          }
        }
        if (failure) std::rethrow_exception(failure);
        return;
      }
      CalculationIndex = 1;
    }
    RunStep = 0;
    ApplySweepValue(CurrentValue);
  }
  StepModel();
}

void ParameterSpaceSweep::AddRunResult() {
  // The point of the run's last step; after a "new Setup" mid-run the series is shorter, then
  // its last point.
  double sum = 0;
  const auto& segregation = model_.Analysis.SegregationSeries;
  const size_t groups = std::min(segregation.size(), size_t(std::max(model_.GroupCount, 0)));
  for (size_t g = 0; g < groups; ++g) {
    const auto& points = segregation[g].points;
    if (points.empty()) continue;
    const size_t at = std::min(size_t(std::max(RunStep - 1, 0)), points.size() - 1);
    sum += points[at].y;
  }
  const double mean = model_.GroupCount > 0 ? sum / model_.GroupCount : 0.0;
  Series_Avg.AddXY(CurrentValue, double(model_.Analysis.ClusterSizeSeries.bars.size()));
  Series_AvgClust.Recalculate();
  Series_AvgTrend.Recalculate();
  Series_IS.AddXY(CurrentValue, mean);
  Series_IS_Avg.Recalculate();
  Series_IS_Trend.Recalculate();
}

}  // namespace segwork
