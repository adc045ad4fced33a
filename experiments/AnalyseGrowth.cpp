#include "experiments/AnalyseGrowth.h"

#include <algorithm>

#include "model/CellForm.h"
#include "model/convert.h"
#include "model/errors.h"

namespace segwork {

namespace {

std::unique_ptr<Series> AveragedSeries(Series& source, int32_t period, const char* title) {
  auto series = std::make_unique<Series>();
  series->Title = title;
  series->Axis = VerticalAxis::Right;
  auto average = std::make_shared<TAverageFunction>();
  average->SetPeriod(period);
  series->SetSource(&source);
  series->SetFunction(std::move(average));
  return series;
}

void SetPeriod(Series& series, int32_t period) {
  if (auto* average = dynamic_cast<TAverageFunction*>(series.Function())) {
    average->SetPeriod(period);
  }
}

}  // namespace

GrowthAnalysis::GrowthAnalysis(Model& model) : SweepWindow(model) {
  E_valFrom = "10";
  E_valTo = "60";
  E_incre = "10";
  E_toSteps = "1300";
  E_calcVals = "10";
  UpdateCalculationCount();
}

void GrowthAnalysis::B_startClick() {
  ResetCounters();
  CalculationSlot = 0;
  ValueSlot = 0;
  CheckStepsAtStart();
  PrepareCharts();
  StartFirstValue();
  started_ = true;
  TimerEnabled = true;
}

void GrowthAnalysis::PrepareCharts() {
  // Sizes first: a refused range leaves the previous sweep's chart as it was.
  const int64_t values = ValueCount();
  const int64_t calculations = StrToInt(E_calcVals);
  // An empty table would have no slot for the runs the sweep still makes.
  if (values <= 0 || calculations <= 0) throw SegworkError("Range check error");
  // Every value and every calculation gets its lines before the first run: a range of millions
  // would exhaust memory before anything is shown.
  if (values > kMaxSweepLines || calculations > kMaxSweepLines) {
    throw SegworkError("a sweep of " + std::to_string(values) + " values with " +
                       std::to_string(calculations) + " calculations each needs more than the " +
                       std::to_string(kMaxSweepLines) + " lines a chart can hold");
  }
  started_ = false;
  ChartSeries.clear();
  ++TablesGeneration;
  ChartTitle = "segregation index with different densities";
  DensityLine = std::make_unique<Series>();
  DensityLine->Title = "dense";
  DensityLine->Axis = VerticalAxis::Left;
  ChartSeries.push_back(DensityLine.get());
  // Dependants go before their sources, so nothing is left pointing at a freed series.
  ValueMeans.clear();
  ValuePoints.clear();
  for (int64_t i = 0; i < values; ++i) {
    ValuePoints.push_back(std::make_unique<Series>());
    ValueMeans.push_back(AveragedSeries(*ValuePoints.back(), int32_t(calculations), "toler"));
    ChartSeries.push_back(ValueMeans.back().get());
  }
  RunMeans.clear();
  RunPoints.clear();
  for (int64_t i = 0; i < calculations; ++i) {
    RunPoints.push_back(std::make_unique<Series>());
    RunMeans.push_back(AveragedSeries(*RunPoints.back(), model_.GroupCount, "temp"));
    ChartSeries.push_back(RunMeans.back().get());
  }
}

void GrowthAnalysis::ApplySweepValue(int32_t value) {
  model_.TrB_threshChange(value);
  model_.SetUpRun();
}

void GrowthAnalysis::Finish() {
  TimerEnabled = false;
  started_ = false;
  model_.FindClusters();
}

void GrowthAnalysis::Timer3Timer() {
  const int32_t steps = StepsPerRun();
  if (RunStep >= steps) {
    const bool slotsInTables = size_t(CalculationSlot) < RunPoints.size();
    if (slotsInTables) {
      CollectRunSeries();
    } else if (started_) {
      return Finish();  // the fields were changed so that this run has no slot
    }
    ++CalculationSlot;
    const int32_t calculations = StrToInt(E_calcVals);
    if (CalculationSlot >= calculations) {
      if (size_t(ValueSlot) < ValuePoints.size()) {
        AggregateCalculations();
      } else if (started_) {
        return Finish();
      }
      ++ValueSlot;
      for (auto& series : RunMeans) series->Clear();
      for (auto& series : RunPoints) series->Clear();
      CalculationSlot = 0;
    }
    if (CountCompletedRun()) {
      if (NextValuePassesEnd()) return Finish();
      CalculationIndex = 1;
    }
    RunStep = 0;
    ApplySweepValue(CurrentValue);
  }
  StepModel();
}

void GrowthAnalysis::CollectRunSeries() {
  const size_t steps = size_t(StepsPerRun());
  // A copy: it keeps its points when the analysis window resets its series.
  DensityLine->Clear();
  if (model_.Analysis.ChangeSeries.size() > 3) {
    for (const ChartPoint& p : model_.Analysis.ChangeSeries[3].points) DensityLine->AddXY(p.x, p.y);
  }
  Series& points = *RunPoints[size_t(CalculationSlot)];
  const auto& segregation = model_.Analysis.SegregationSeries;
  const size_t groups = std::min(segregation.size(), size_t(std::max(model_.GroupCount, 0)));
  for (size_t g = 0; g < groups; ++g) {
    const auto& source = segregation[g].points;
    for (size_t j = 0; j < std::min(steps, source.size()); ++j) {
      points.AddXY(source[j].x, source[j].y);
    }
  }
  // The run's own groups, which may differ from the count when the tables were made.
  Series& means = *RunMeans[size_t(CalculationSlot)];
  SetPeriod(means, model_.GroupCount);
  means.Recalculate();
}

void GrowthAnalysis::AggregateCalculations() {
  const size_t steps = size_t(StepsPerRun());
  const size_t calculations = size_t(std::max(StrToInt(E_calcVals), 0));
  Series& points = *ValuePoints[size_t(ValueSlot)];
  for (size_t i = 0; i < std::min(calculations, RunMeans.size()); ++i) {
    const Series& run = *RunMeans[i];
    for (size_t j = 0; j < std::min(steps, run.Count()); ++j) {
      points.AddXY(run.XValue(j), run.YValue(j));
    }
  }
  Series& means = *ValueMeans[size_t(ValueSlot)];
  means.Recalculate();
  means.Title = std::to_string(CurrentValue);
}

}  // namespace segwork
