#include "window/AnalyseGrowth.h"

#include <algorithm>

#include "core/convert.h"
#include "core/errors.h"
#include "window/CellForm.h"

namespace segwork {

namespace {

std::unique_ptr<Series> Line(const std::string& title) {
  auto series = std::make_unique<Series>();
  series->Title = title;
  series->Axis = VerticalAxis::Right;
  return series;
}

void Fill(Series& series, const std::vector<SeriesPoint>& points) {
  series.Clear();
  for (const SeriesPoint& p : points) series.AddXY(p.x, p.y);
}

}  // namespace

GrowthAnalysis::GrowthAnalysis(Model& model)
    : SweepWindow(model, DefaultFields(Experiment::Growth)) {}

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
  DensityLine = std::make_unique<Series>();
  DensityLine->Title = "dense";
  DensityLine->Axis = VerticalAxis::Left;
  ChartSeries.push_back(DensityLine.get());
  valuePeriod_ = calculations;
  ValueMeans.clear();
  for (int64_t i = 0; i < values; ++i) {
    ValueMeans.push_back(Line("toler"));
    ChartSeries.push_back(ValueMeans.back().get());
  }
  RunMeans.clear();
  RunSeeds.clear();
  for (int64_t i = 0; i < calculations; ++i) {
    RunMeans.push_back(Line("run " + std::to_string(i + 1)));
    ChartSeries.push_back(RunMeans.back().get());
  }
}

void GrowthAnalysis::ApplySweepValue(int32_t value) {
  ApplySweptValue(model_, DescriptionOf(Experiment::Growth).swept[0], value);
  SetUpSweepRun();
}

void GrowthAnalysis::Finish() {
  EndSweep();
  started_ = false;
  model_.FindClusters();
}

void GrowthAnalysis::Timer3Timer() {
  const int32_t steps = StepsPerRun();
  if (RunStep >= steps) {
    const bool slotsInTables = size_t(CalculationSlot) < RunMeans.size();
    if (slotsInTables) {
      CollectRunSeries();
    } else if (started_) {
      return Finish();  // the fields were changed so that this run has no slot
    }
    ++CalculationSlot;
    const int32_t calculations = StrToInt(E_calcVals);
    if (CalculationSlot >= calculations) {
      if (size_t(ValueSlot) < ValueMeans.size()) {
        AggregateCalculations();
      } else if (started_) {
        return Finish();
      }
      ++ValueSlot;
      for (auto& series : RunMeans) series->Clear();
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
  const RunMeasures run = MeasureRun(model_.Sim, Experiment::Growth, StepsPerRun());
  // A copy: it keeps its points when the next run starts a new log.
  Fill(*DensityLine, run.density);
  Fill(*RunMeans[size_t(CalculationSlot)], run.meanLine);
  // The seeds of the value's runs, one per run line.
  RunSeeds.resize(RunMeans.size());
  RunSeeds[size_t(CalculationSlot)] = model_.Sim.Seed;
}

void GrowthAnalysis::AggregateCalculations() {
  const size_t calculations = size_t(std::max(StrToInt(E_calcVals), 0));
  std::vector<const std::vector<SeriesPoint>*> runs;
  for (size_t i = 0; i < std::min(calculations, RunMeans.size()); ++i) {
    runs.push_back(&RunMeans[i]->Points());
  }
  Series& means = *ValueMeans[size_t(ValueSlot)];
  Fill(means, ValueLine(runs, size_t(StepsPerRun()), valuePeriod_));
  means.Title = std::to_string(CurrentValue);
}

}  // namespace segwork
