#pragma once

#include <memory>

#include "experiments/series.h"
#include "experiments/sweep.h"

namespace segwork {

// The parameter-space sweep: one parameter over a range, several runs per value; per run the
// cluster count and the mean segregation index, with averages, trends and fitted polynomials.
class ParameterSpaceSweep : public SweepWindow {
 public:
  explicit ParameterSpaceSweep(Model& model);  // the window's creation

  // Selected item of CB_param: 0 groups, 1 radius, 2 move distance, 3 threshold; -1 none.
  int32_t CB_param = -1;

  std::string ChartClusterTitle;
  std::string ChartISTitle;
  Series Series_Avg, Series_AvgClust, Series_AvgFit, Series_AvgTrend;
  Series Series_IS, Series_IS_Avg, Series_IS_Fit, Series_IS_Trend;
  std::shared_ptr<TCurveFittingFunction> ClusterFit;
  std::shared_ptr<TCurveFittingFunction> SegregationFit;

  void B_startClick();
  void PrepareCharts();
  void ApplySweepValue(int32_t value) override;
  void Timer2Timer();
  void AddRunResult();
  void UpD_polyDegClustClick(int32_t position) { ClusterFit->SetPolyDegree(position); }
  void UpD_polyDegSegClick(int32_t position) { SegregationFit->SetPolyDegree(position); }

 private:
  std::shared_ptr<TAverageFunction> clusterAverage_ = std::make_shared<TAverageFunction>();
  std::shared_ptr<TAverageFunction> segregationAverage_ = std::make_shared<TAverageFunction>();
};

}  // namespace segwork
