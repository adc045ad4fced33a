#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/measure_catalog.h"
#include "analysis/measures.h"
#include "core/canvas.h"

namespace segwork {

using colList = std::vector<TColor>;

struct ChartPoint {
  double x = 0;
  double y = 0;
};

enum class VerticalAxis { Left, Right };

// A line series as charts will show it: points in order of appending, the chart (1..6) and axis
// it is placed on, and its colour (or the chart's default colour).
struct LineSeries {
  // Points past the exact ones that a series keeps at most twice over before thinning them.
  static constexpr size_t kTailPoints = size_t(1) << 15;

  std::vector<ChartPoint> points;
  int chart = 0;
  VerticalAxis axis = VerticalAxis::Right;
  bool defaultColour = true;
  TColor colour = 0;
  // Bumped whenever points were removed, so that views copying new points start over.
  uint64_t Thinnings = 0;

  void Add(double x, double y) { points.push_back({x, y}); }
  // A run that goes on for hours must not grow without end: the first `exact` points stay as they
  // are, and once more than 2 * kTailPoints follow them every other one of those goes. The newest
  // point always stays.
  void Bound(size_t exact);
};

struct Bar {
  double value = 0;
  TColor colour = 0;
};

struct BarSeries {
  std::vector<Bar> bars;
};

// The analysis window's data: its series tables, the bar series, the chart titles and the
// dissimilarity table, projected from the measures. Chart widgets are views over this.
class AnalysisWindow {
 public:
  std::vector<LineSeries> SatisfactionSeries;        // Chart1
  std::vector<LineSeries> SegregationSeries;         // Chart4
  std::vector<LineSeries> DensitySegregationSeries;  // Chart5
  std::vector<LineSeries> ChangeSeries;              // Chart6 (0, 1), Chart5 (2), Chart4 (3)
  // Chart7: the columns of one spatial measure over the steps, named as the catalog names them.
  std::vector<LineSeries> SpatialSeries;
  std::vector<std::string> SpatialNames;
  std::string SpatialMeasure = "entropy_h";
  BarSeries ClusterSizeSeries;            // Chart2
  BarSeries Series3;                      // Chart3: group sizes
  std::array<std::string, 7> ChartTitle;  // index 1..6
  // DissimiGrid[column][row].
  std::vector<std::vector<std::string>> DissimiGrid;
  char DecimalSeparator = '.';

  // Views rebuild on these: every reset bumps the first, every ShowClusterSizes the second.
  uint64_t ResetCount = 0;
  uint64_t ClusterChartCount = 0;
  // Bumped whenever the dissimilarity table's texts change.
  uint64_t DissimiGridCount = 0;

  // New tables for the groups of a setup; the tile side is shown as typed.
  void ResetAnalysisWindow(const colList& groupColours, const std::vector<int32_t>& groupSizes,
                           const std::string& tileText);
  // Sizes every table to the groups, so the measures have somewhere to go before the first reset.
  void EnsureSeries(const colList& groupColours);
  // Bounds every line series, keeping the points of the first `exact` steps exact.
  void BoundSeries(size_t exact);
  void ShowSatisfaction(const StepMeasures& m);
  // The indices of `m` (and its movers and density) as points, the pairs as the table's texts.
  void ShowIndices(const StepMeasures& m, const SegregationIndices& indices);
  // The chosen spatial measure of `m`, when it has them, as points.
  void ShowSpatial(const StepMeasures& m, const colList& groupColours);
  // Another spatial measure for Chart7, its series drawn anew from the steps kept so far.
  void ChooseSpatialMeasure(const std::string& name, const colList& groupColours,
                            const std::vector<StepMeasures>& steps);
  void ShowClusterSizes(const std::string& thresholdText, int32_t step, const colList& groupColours,
                        const std::vector<int32_t>& groupSizes,
                        const std::vector<std::vector<int32_t>>& clusterSizes);
};

}  // namespace segwork
