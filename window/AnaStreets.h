#pragma once

#include "experiments/series.h"
#include "window/sweep.h"

namespace segwork {

// The street analysis: grid or random layouts of growing size, several runs per value; per run the
// clusters against the street cells, with a trend line.
class StreetAnalysis : public SweepWindow {
 public:
  explicit StreetAnalysis(Model& model);  // the window's creation

  bool RB_grid = true;  // otherwise random streets

  const std::string ChartTitle = "Streets - Clusters Relationship";
  Series Series_street, Series_strTrend;

  void S_startClick();
  void PrepareCharts() {
    Series_street.Clear();
    RunSeeds.clear();
  }
  void ApplySweepValue(int32_t value) override;
  void Timer4Timer();
};

}  // namespace segwork
