#pragma once

#include <memory>
#include <vector>

#include "window/sweep.h"

namespace segwork {

// The growth analysis: the threshold over a range, several runs per value; per value the
// segregation index over the steps of a run, averaged over groups and runs, beside the density.
class GrowthAnalysis : public SweepWindow {
 public:
  explicit GrowthAnalysis(Model& model);  // the window's creation

  // Value lines and run lines a new start may make.
  static constexpr int64_t kMaxSweepLines = 100000;

  int32_t CalculationSlot = 0;
  int32_t ValueSlot = 0;

  // Shown from the window's creation, before the first new start.
  const std::string ChartTitle = "segregation index with different densities";
  // The series on the chart, in the order they were placed; rebuilt by every new start.
  std::vector<Series*> ChartSeries;
  // Bumped when the tables are made anew, so views drop what they hold of the old ones.
  uint64_t TablesGeneration = 0;

  // Per value its line, per run of the current value its group-mean line.
  std::vector<std::unique_ptr<Series>> ValueMeans, RunMeans;
  std::unique_ptr<Series> DensityLine;

  void B_startClick();
  void PrepareCharts();
  void ApplySweepValue(int32_t value) override;
  void Timer3Timer();
  void CollectRunSeries();
  void AggregateCalculations();

 private:
  void Finish();
  bool started_ = false;     // a new start made the tables and the sweep has not finished
  int64_t valuePeriod_ = 1;  // runs a value line averages, as typed at the new start
};

}  // namespace segwork
