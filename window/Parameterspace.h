#pragma once

#include "experiments/sweep_core.h"
#include "window/sweep.h"

namespace segwork {

// The parameter-space sweep: one parameter over a range, several runs per value; per run the
// cluster count and the mean segregation index, with averages, trends and fitted polynomials.
class ParameterSpaceSweep : public SweepWindow, public ParameterSeries {
 public:
  explicit ParameterSpaceSweep(Model& model);  // the window's creation

  // Selected item of CB_param: 0 groups, 1 radius, 2 move distance, 3 threshold; -1 none.
  int32_t CB_param = -1;

  std::string ChartClusterTitle;
  std::string ChartISTitle;

  void B_startClick();
  void PrepareCharts();
  void ApplySweepValue(int32_t value) override;
  void Timer2Timer();
  void AddRunResult();
  void UpD_polyDegClustClick(int32_t position) { ClusterFit->SetPolyDegree(position); }
  void UpD_polyDegSegClick(int32_t position) { SegregationFit->SetPolyDegree(position); }
};

}  // namespace segwork
