#include "experiments/sweep_core.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>

#include "analysis/measure_catalog.h"
#include "core/convert.h"
#include "core/errors.h"
#include "core/parameters.h"
#include "sim/simulation.h"

namespace segwork {

void WriteSweptValue(ControlValues& controls, const std::vector<const char*>& parameters,
                     int32_t value) {
  for (const char* name : parameters) {
    const Parameter& p = ParameterNamed(name);
    if (const std::optional<Field> field = p.EditField()) {
      controls.Rewrite(*field, std::to_string(value));
    } else {
      p.set(controls, std::to_string(std::clamp(value, p.low, p.high)));
    }
  }
}

uint32_t RunSeed(uint32_t sweepSeed, uint32_t run) {
  uint64_t z = ((uint64_t(sweepSeed) << 32) | run) + 0x9e3779b97f4a7c15ull;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return uint32_t(z ^ (z >> 31));
}

int64_t SweepValueCount(int64_t from, int64_t to, int64_t increment) {
  if (increment == 0) throw SegworkError(kZeroIncrementMessage);
  return int64_t(std::ceil(double(to - from + 1) / double(increment)));
}

SweepPlan MakeSweepPlan(const std::string& from, const std::string& to,
                        const std::string& increment, const std::string& steps,
                        const std::string& runs) {
  constexpr uint64_t kMostRuns = uint64_t{1} << 32;  // run indices are 32-bit in the seed mix
  SweepPlan plan;
  plan.from = StrToInt(from);
  const int64_t last = StrToInt(to);
  plan.increment = StrToInt(increment);
  plan.steps = StrToInt(steps);
  plan.runsText = StrToInt(runs);
  if (plan.increment < 1) throw SegworkError("the increment must be at least 1 for a sweep to end");
  if (plan.steps < 1) throw SegworkError("--steps " + steps + ": a run needs at least 1 step");
  plan.runsPerValue = std::max<int64_t>(plan.runsText, 1);
  // The first value always runs, also when it is past the upper bound.
  const uint64_t values =
      uint64_t(std::max<int64_t>(SweepValueCount(plan.from, last, plan.increment), 1));
  plan.total = values * uint64_t(plan.runsPerValue);
  if (plan.total > kMostRuns) {
    throw SegworkError("a sweep of " + std::to_string(plan.total) + " runs is more than " +
                       std::to_string(kMostRuns) + ", the most it can number");
  }
  return plan;
}

namespace {

double MeanIndex(const StepMeasures& m) {
  return MeasureNamed("mean_is").read(m, 0).real;
}

// The means of each `period` consecutive points that `add` puts in a series.
std::vector<SeriesPoint> Averaged(int64_t period, const std::function<void(Series&)>& add) {
  Series points;
  Series means;
  means.SetSource(&points);
  auto average = std::make_shared<TAverageFunction>();
  average->SetPeriod(period);
  means.SetFunction(average);
  add(points);
  means.Recalculate();
  return means.Points();
}

std::vector<SeriesPoint> GroupMeanLine(const MeasuresLog& log, int32_t groups, size_t steps) {
  // Step-major adding gives the order of group-major adding (equal x keep the order of adding)
  // without inserting into the middle.
  return Averaged(groups, [&](Series& points) {
    for (size_t j = 0; j < std::min(steps, log.size()); ++j) {
      const StepMeasures& m = log.At(j);
      for (double index : m.Segregation) points.AddXY(m.Step, index);
    }
  });
}

}  // namespace

RunMeasures MeasureRun(const Simulation& model, Experiment experiment, int32_t steps) {
  const MeasuresLog& log = model.Measures;
  RunMeasures run;
  run.clusters = log.LastClusterCount.value_or(0);
  run.streetCells = model.StreetCells;
  // A run stopped by a failing first step has nothing more to give.
  if (log.empty()) return run;
  const StepMeasures& last = log.At(size_t(std::max(steps - 1, 0)));
  run.meanIs = model.GroupCount > 0 ? MeanIndex(last) : 0.0;
  if (experiment != Experiment::Growth) return run;
  run.meanLine = GroupMeanLine(log, model.GroupCount, size_t(steps));
  for (size_t j = 0; j < log.size(); ++j)
    run.density.push_back({double(log.At(j).Step), log.At(j).Density});
  return run;
}

ParameterSeries::ParameterSeries() {
  ClusterFit = std::make_shared<TCurveFittingFunction>();
  ClusterFit->SetPolyDegree(3);
  SegregationFit = std::make_shared<TCurveFittingFunction>();
  SegregationFit->SetPolyDegree(3);
  // Averages, trends, and a curve fit of its own until the first Prepare hands each fit series
  // the shared fit object.
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
}

void ParameterSeries::Prepare(int64_t period) {
  Series_Avg.Clear();
  Series_AvgClust.Clear();
  Series_AvgFit.Clear();
  clusterAverage_->SetPeriod(period);
  Series_AvgFit.SetFunction(ClusterFit);
  Series_IS.Clear();
  Series_IS_Avg.Clear();
  Series_IS_Fit.Clear();
  segregationAverage_->SetPeriod(period);
  Series_IS_Fit.SetFunction(SegregationFit);
}

void ParameterSeries::AddRun(double value, const RunMeasures& run) {
  Series_Avg.AddXY(value, double(run.clusters));
  Series_AvgClust.Recalculate();
  Series_AvgTrend.Recalculate();
  Series_IS.AddXY(value, run.meanIs);
  Series_IS_Avg.Recalculate();
  Series_IS_Trend.Recalculate();
}

void ParameterSeries::Fit() {
  std::exception_ptr failure;
  for (Series* fit : {&Series_IS_Fit, &Series_AvgFit}) {
    try {
      fit->Recalculate();
    } catch (const SegworkError&) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

std::vector<SeriesPoint> ValueLine(const std::vector<const std::vector<SeriesPoint>*>& runLines,
                                   size_t steps, int64_t period) {
  // Step-major: equal x keep the order of adding, as when adding run by run.
  return Averaged(period, [&](Series& points) {
    for (size_t j = 0; j < steps; ++j) {
      for (const std::vector<SeriesPoint>* line : runLines) {
        if (j < line->size()) points.AddXY((*line)[j].x, (*line)[j].y);
      }
    }
  });
}

}  // namespace segwork
