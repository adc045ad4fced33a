#include "analysis/Analyse.h"

#include <algorithm>

#include "core/convert.h"

namespace segwork {

namespace {

LineSeries GroupLine(int chart, TColor colour) {
  LineSeries s;
  s.chart = chart;
  s.axis = VerticalAxis::Right;
  s.defaultColour = false;
  s.colour = colour;
  return s;
}

std::vector<LineSeries> GroupSeries(const colList& colours, int chart) {
  std::vector<LineSeries> table;
  for (TColor colour : colours) table.push_back(GroupLine(chart, colour));
  return table;
}

// Chart6 (movers, movers in percent), Chart5 (density over agents), Chart4 (density).
constexpr int kChangeCharts[4] = {6, 6, 5, 4};
constexpr VerticalAxis kChangeAxes[4] = {VerticalAxis::Right, VerticalAxis::Left,
                                         VerticalAxis::Left, VerticalAxis::Left};

LineSeries ChangeLine(size_t i) {
  LineSeries s;
  s.chart = kChangeCharts[i];
  s.axis = kChangeAxes[i];
  return s;
}

}  // namespace

void AnalysisWindow::ResetAnalysisWindow(const colList& groupColours,
                                         const std::vector<int32_t>& groupSizes,
                                         const std::string& tileText) {
  const size_t groups = groupColours.size();
  SatisfactionSeries = GroupSeries(groupColours, 1);
  ChartTitle[1] = "average satisfaction of the agents";
  SegregationSeries = GroupSeries(groupColours, 4);
  ChartTitle[4] = "segregation measure in " + tileText + "x" + tileText + " tiles";
  ChartTitle[2] = "cluster sizes";
  // The old run's clusters are not this run's.
  ClusterSizeSeries.bars.clear();
  ChartTitle[3] = "group sizes";
  Series3.bars.clear();
  for (size_t g = 0; g < groups; ++g)
    Series3.bars.push_back({double(groupSizes[g]), groupColours[g]});

  DissimiGrid.assign(groups + 1, std::vector<std::string>(groups + 2, " "));
  DissimiGrid[0][0] = "groups";
  for (size_t k = 0; k < groups; ++k) {
    DissimiGrid[k + 1][0] = "group " + std::to_string(k);
    DissimiGrid[0][k + 1] = "group " + std::to_string(k);
  }
  DissimiGrid[0][groups + 1] = "IS";

  DensitySegregationSeries = GroupSeries(groupColours, 5);
  ChartTitle[5] = "density - segregation measure in " + tileText + "x" + tileText + " tiles";
  ChangeSeries.clear();
  for (size_t i = 0; i < 4; ++i) ChangeSeries.push_back(ChangeLine(i));
  SpatialSeries.clear();
  SpatialNames.clear();
  ChartTitle[6] = "changes";
  ++ResetCount;
  ++DissimiGridCount;
}

void AnalysisWindow::EnsureSeries(const colList& groupColours) {
  const size_t groups = groupColours.size();
  auto fit = [&](std::vector<LineSeries>& table, int chart) {
    for (size_t g = table.size(); g < groups; ++g) {
      table.push_back(GroupLine(chart, groupColours[g]));
    }
  };
  fit(SatisfactionSeries, 1);
  fit(SegregationSeries, 4);
  fit(DensitySegregationSeries, 5);
  for (size_t i = ChangeSeries.size(); i < 4; ++i) ChangeSeries.push_back(ChangeLine(i));
  if (DissimiGrid.size() < groups + 1) DissimiGrid.resize(groups + 1);
  for (auto& column : DissimiGrid) {
    if (column.size() < groups + 2) column.resize(groups + 2, " ");
  }
}

void AnalysisWindow::ShowSatisfaction(const StepMeasures& m) {
  // A group that occupies no cell has no average: it gets no point.
  for (size_t g = 0; g < m.Satisfaction.size(); ++g) {
    if (m.Satisfaction[g]) SatisfactionSeries[g].Add(m.Step, *m.Satisfaction[g]);
  }
}

void AnalysisWindow::ShowIndices(const StepMeasures& m, const SegregationIndices& indices) {
  const size_t groups = indices.Index.size();
  const double agents = double(m.AgentCount - 1);
  ++DissimiGridCount;
  for (size_t g = 0; g < groups; ++g) {
    for (size_t h = g; h < groups; ++h) {
      DissimiGrid[h + 1][g + 1] =
          TwoDecimalText(double(indices.Pairs[h * groups + g]), DecimalSeparator);
    }
    DissimiGrid[g + 1][groups + 1] = TwoDecimalText(m.Segregation[g], DecimalSeparator);
    SegregationSeries[g].Add(m.Step, m.Segregation[g]);
    DensitySegregationSeries[g].Add(agents, m.Segregation[g]);
  }
  ChangeSeries[0].Add(m.Step, m.Movers);
  ChangeSeries[1].Add(m.Step, m.MoversPercent);
  ChangeSeries[2].Add(agents, m.Density);
  ChangeSeries[3].Add(m.Step, m.Density);
}

void AnalysisWindow::ShowClusterSizes(const std::string& thresholdText, int32_t step,
                                      const colList& groupColours,
                                      const std::vector<int32_t>& groupSizes,
                                      const std::vector<std::vector<int32_t>>& clusterSizes) {
  const int32_t clusterThreshold = StrToInt(thresholdText);
  ClusterSizeSeries.bars.clear();
  ChartTitle[2] = "cluster sizes >" + thresholdText + " at timestep " + std::to_string(step);
  Series3.bars.clear();
  for (size_t g = 0; g < groupColours.size(); ++g) {
    const TColor colour = groupColours[g];
    Series3.bars.push_back({double(groupSizes[g]), colour});
    if (g >= clusterSizes.size()) continue;
    for (int32_t size : clusterSizes[g]) {
      if (size > clusterThreshold) ClusterSizeSeries.bars.push_back({double(size), colour});
    }
  }
  ++ClusterChartCount;
}

void LineSeries::Bound(size_t exact) {
  const size_t n = points.size();
  if (n <= exact + 2 * kTailPoints) return;
  size_t kept = exact;
  for (size_t i = exact; i + 1 < n; i += 2) points[kept++] = points[i];
  points[kept++] = points[n - 1];
  points.resize(kept);
  ++Thinnings;
}

void AnalysisWindow::ShowSpatial(const StepMeasures& m, const colList& groupColours) {
  if (!m.Spatial) return;
  const Measure* measure = FindMeasure(SpatialMeasure);
  if (!measure || measure->available != MeasureAvailable::OnRequest) return;
  const int32_t groups = int32_t(groupColours.size());
  const std::vector<MeasureColumn> columns = ColumnsOf(*measure, groups);
  if (SpatialSeries.size() != columns.size()) {
    SpatialSeries.clear();
    SpatialNames.clear();
    for (const MeasureColumn& c : columns) {
      SpatialSeries.push_back(
          measure->shape == MeasureShape::Scalar ? ChangeLine(0) : GroupLine(7, groupColours[c.g]));
      SpatialSeries.back().chart = 7;
      SpatialNames.push_back(c.name);
    }
  }
  for (size_t k = 0; k < columns.size(); ++k) {
    const MeasureValue v = ReadColumn(columns[k], m, groups);
    // An empty value (no denominator) gets no point.
    if (v.kind == MeasureValue::Kind::Real) SpatialSeries[k].Add(m.Step, v.real);
    if (v.kind == MeasureValue::Kind::Integer) SpatialSeries[k].Add(m.Step, double(v.integer));
  }
}

void AnalysisWindow::ChooseSpatialMeasure(const std::string& name, const colList& groupColours,
                                          const std::vector<StepMeasures>& steps) {
  SpatialMeasure = name;
  SpatialSeries.clear();
  SpatialNames.clear();
  for (const StepMeasures& m : steps) ShowSpatial(m, groupColours);
  ++ResetCount;
}

void AnalysisWindow::BoundSeries(size_t exact) {
  for (auto* table : {&SatisfactionSeries, &SegregationSeries, &DensitySegregationSeries,
                      &ChangeSeries, &SpatialSeries}) {
    for (LineSeries& series : *table) series.Bound(exact);
  }
}

}  // namespace segwork
