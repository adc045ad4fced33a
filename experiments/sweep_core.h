#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/measures.h"
#include "core/controls.h"
#include "experiments/series.h"

namespace segwork {

class Simulation;

// The three batch experiments, in the windows and headless alike.
enum class Experiment { Parameter, Growth, Streets };

// The fields of an experiment window as it opens: range, increment, steps and runs per value.
struct SweepFields {
  const char* from;
  const char* to;
  const char* increment;
  const char* steps;
  const char* runs;
};
SweepFields DefaultFields(Experiment experiment);

// Writes a sweep's value into the controls of the swept parameters as a window does: an edit
// field is rewritten (and its window told), a spinner or the track bar holds the value within its
// range. The fields' own checks are the caller's.
void WriteSweptValue(ControlValues& controls, const std::vector<const char*>& parameters,
                     int32_t value);

// The seed of run r of a sweep with seed s: the first output of splitmix64 started at
// s * 2^32 + r, its low 32 bits.
uint32_t RunSeed(uint32_t sweepSeed, uint32_t run);

// The number of values of a sweep's range, for the windows and the command line alike:
// Ceil((to - from + 1) / increment) in floating point, the values from `from` on by the increment
// up to `to` when from <= to and increment >= 1. Below 1 for a range past its end, which the
// windows show and refuse as they do; an increment of 0 has no count.
int64_t SweepValueCount(int64_t from, int64_t to, int64_t increment);
inline constexpr const char* kZeroIncrementMessage =
    "The increment must not be 0: the values would never pass the upper bound.";

// The runs of a sweep, numbered from 0: the first value always runs, then on by the increment
// up to the upper bound, each value with its runs.
struct SweepPlan {
  int64_t from = 0;
  int64_t increment = 1;
  int32_t steps = 1;
  int32_t runsText = 1;      // as typed: the period of the averages
  int64_t runsPerValue = 1;  // at least one
  uint64_t total = 0;
  uint32_t seed = 0;

  int64_t ValueOf(uint64_t r) const { return from + int64_t(r / runsPerValue) * increment; }
  int64_t CalcOf(uint64_t r) const { return int64_t(r % runsPerValue) + 1; }
  uint32_t SeedOf(uint64_t r) const { return RunSeed(seed, uint32_t(r)); }
};
// Refuses an increment below 1, fewer than 1 step and more runs than a seed can number.
SweepPlan MakeSweepPlan(const std::string& from, const std::string& to,
                        const std::string& increment, const std::string& steps,
                        const std::string& runs);

// What a finished run of `steps` steps contributes to its sweep.
struct RunMeasures {
  int64_t clusters = 0;  // above the threshold, at the run's last search
  int32_t streetCells = 0;
  double meanIs = 0;  // at the last step, mean over the groups
  // Growth: the index of every step of the run averaged over the groups, and the density of every
  // step recorded.
  std::vector<SeriesPoint> meanLine;
  std::vector<SeriesPoint> density;
};
RunMeasures MeasureRun(const Simulation& model, Experiment experiment, int32_t steps);

// The derived series of the parameter sweep: per run the clusters and the mean index against the
// value, their averages per value, trends and fitted polynomials.
struct ParameterSeries {
  ParameterSeries();
  Series Series_Avg, Series_AvgClust, Series_AvgFit, Series_AvgTrend;
  Series Series_IS, Series_IS_Avg, Series_IS_Fit, Series_IS_Trend;
  std::shared_ptr<TCurveFittingFunction> ClusterFit;
  std::shared_ptr<TCurveFittingFunction> SegregationFit;

  // Empties the series for a new sweep whose averages take `period` runs.
  void Prepare(int64_t period);
  void AddRun(double value, const RunMeasures& run);
  // Both fits, at the end; the first failure is thrown once both have been tried.
  void Fit();

 private:
  std::shared_ptr<TAverageFunction> clusterAverage_ = std::make_shared<TAverageFunction>();
  std::shared_ptr<TAverageFunction> segregationAverage_ = std::make_shared<TAverageFunction>();
};

// Growth: the mean over runs of their group-mean lines, step by step (`period` runs a value).
std::vector<SeriesPoint> ValueLine(const std::vector<const std::vector<SeriesPoint>*>& runLines,
                                   size_t steps, int64_t period);

}  // namespace segwork
