#include "analysis/Analyse.h"

#include <algorithm>

#include "model/CellForm.h"
#include "model/convert.h"

namespace segwork {

namespace {

std::vector<LineSeries> GroupSeries(const Model& model, int chart) {
  std::vector<LineSeries> table(size_t(model.GroupCount));
  for (size_t g = 0; g < table.size(); ++g) {
    table[g].chart = chart;
    table[g].axis = VerticalAxis::Right;
    table[g].defaultColour = false;
    table[g].colour = model.GroupColours[g];
  }
  return table;
}

}  // namespace

void AnalysisWindow::ResetAnalysisWindow(const Model& model) {
  const std::string& tiles = model.Controls.Text(Field::E_nbSize);
  const size_t groups = size_t(model.GroupCount);

  SatisfactionSeries = GroupSeries(model, 1);
  ChartTitle[1] = "average satisfaction of the agents";

  SegregationSeries = GroupSeries(model, 4);
  ChartTitle[4] = "segregation measure in " + tiles + "x" + tiles + " tiles";

  ChartTitle[2] = "cluster sizes";

  ChartTitle[3] = "group sizes";
  Series3.bars.clear();
  for (size_t g = 0; g < groups; ++g) {
    Series3.bars.push_back({double(model.GroupSizes[g]), model.GroupColours[g]});
  }

  DissimiGrid.assign(groups + 1, std::vector<std::string>(groups + 2, " "));
  DissimiGrid[0][0] = "groups";
  for (size_t k = 0; k < groups; ++k) {
    DissimiGrid[k + 1][0] = "group " + std::to_string(k);
    DissimiGrid[0][k + 1] = "group " + std::to_string(k);
  }
  DissimiGrid[0][groups + 1] = "IS";

  DensitySegregationSeries = GroupSeries(model, 5);
  ChartTitle[5] = "density - segregation measure in " + tiles + "x" + tiles + " tiles";

  ChangeSeries.assign(4, LineSeries{});
  ChangeSeries[0].chart = 6;
  ChangeSeries[0].axis = VerticalAxis::Right;
  ChangeSeries[1].chart = 6;
  ChangeSeries[1].axis = VerticalAxis::Left;
  ChangeSeries[2].chart = 5;
  ChangeSeries[2].axis = VerticalAxis::Left;
  ChangeSeries[3].chart = 4;
  ChangeSeries[3].axis = VerticalAxis::Left;
  ChartTitle[6] = "changes";
  ++ResetCount;
  ++DissimiGridCount;
}

void AnalysisWindow::ShowClusterSizes(const Model& model) {
  const std::string& text = model.Controls.Text(Field::E_clusterT);
  const int32_t clusterThreshold = StrToInt(text);
  ClusterSizeSeries.bars.clear();
  ChartTitle[2] = "cluster sizes >" + text + " at timestep " + std::to_string(model.StepCount);
  Series3.bars.clear();
  for (size_t g = 0; g < size_t(model.GroupCount); ++g) {
    const TColor colour = model.GroupColours[g];
    Series3.bars.push_back({double(model.GroupSizes[g]), colour});
    if (g >= model.ClusterSizes.size()) continue;
    for (int32_t size : model.ClusterSizes[g]) {
      if (size > clusterThreshold) ClusterSizeSeries.bars.push_back({double(size), colour});
    }
  }
  ++ClusterChartCount;
}

void Model::EnsureAnalysisSeries() {
  const size_t groups = size_t(GroupCount);
  auto fit = [&](std::vector<LineSeries>& table, int chart) {
    for (size_t g = table.size(); g < groups; ++g) {
      LineSeries s;
      s.chart = chart;
      s.defaultColour = false;
      s.colour = GroupColours[g];
      table.push_back(std::move(s));
    }
  };
  fit(Analysis.SatisfactionSeries, 1);
  fit(Analysis.SegregationSeries, 4);
  fit(Analysis.DensitySegregationSeries, 5);
  if (Analysis.ChangeSeries.size() < 4) {
    const int charts[4] = {6, 6, 5, 4};
    const VerticalAxis axes[4] = {VerticalAxis::Right, VerticalAxis::Left, VerticalAxis::Left,
                                  VerticalAxis::Left};
    for (size_t i = Analysis.ChangeSeries.size(); i < 4; ++i) {
      LineSeries s;
      s.chart = charts[i];
      s.axis = axes[i];
      Analysis.ChangeSeries.push_back(std::move(s));
    }
  }
  auto& grid = Analysis.DissimiGrid;
  if (grid.size() < groups + 1) grid.resize(groups + 1);
  for (auto& column : grid) {
    if (column.size() < groups + 2) column.resize(groups + 2, " ");
  }
}

void Model::RecordStepMeasures() {
  if (StepCount == 1) Analysis.ResetAnalysisWindow(*this);
  EnsureAnalysisSeries();
  std::vector<double> sum(size_t(GroupCount), 0.0);
  std::vector<int64_t> count(size_t(GroupCount), 0);
  for (size_t i = 0; i < Cells.size(); ++i) {
    const int32_t state = Cells.State[i];
    if (!Cells.Occupied[i] || state < 1 || state > GroupCount) continue;
    sum[size_t(state - 1)] += Cells.SimilarShare[i];
    ++count[size_t(state - 1)];
  }
  // A group that occupies no cell has no average: it gets no point.
  for (size_t g = 0; g < size_t(GroupCount); ++g) {
    if (count[g] > 0) Analysis.SatisfactionSeries[g].Add(StepCount, sum[g] / double(count[g]));
  }
  if ((int64_t(StepCount) - 1) % 30 == 0) FindClusters();
  ComputeSegregationIndices();
  // The experiments read back the points of the planned run; they set the stop step to its length.
  Analysis.BoundSeries(size_t(std::max<int32_t>(StopStep, 0)));
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

void AnalysisWindow::BoundSeries(size_t exact) {
  for (auto* table :
       {&SatisfactionSeries, &SegregationSeries, &DensitySegregationSeries, &ChangeSeries}) {
    for (LineSeries& series : *table) series.Bound(exact);
  }
}

}  // namespace segwork
