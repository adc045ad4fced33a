#include <algorithm>

#include "core/convert.h"
#include "core/errors.h"
#include "window/CellForm.h"

namespace segwork {

void Model::ResetAnalysis() {
  if (AnalysisShown) {
    Analysis.ResetAnalysisWindow(GroupColours, GroupSizes, Controls.Text(Field::E_nbSize));
  }
  Measures.Clear();
}

void Model::RecordStepMeasures() {
  if (StepCount == 1) ResetAnalysis();
  if (AnalysisShown) Analysis.EnsureSeries(GroupColours);
  StepMeasures m;
  m.Step = StepCount;
  m.AgentCount = int64_t(Agents.size());
  m.StreetCells = StreetCells;
  MeasureCache& cache = Cached;
  const uint64_t version = Engine ? Engine->Version() : 0;
  if (version == 0 || version != cache.satisfactionVersion ||
      cache.satisfactionGroups != GroupCount) {
    cache.satisfaction = MeanSatisfaction(Cells, GroupCount);
    cache.satisfactionVersion = version;
    cache.satisfactionGroups = GroupCount;
  }
  m.Satisfaction = cache.satisfaction;
  if (AnalysisShown) Analysis.ShowSatisfaction(m);
  if ((int64_t(StepCount) - 1) % 30 == 0) {
    FindClusters();
    m.Clusters = Measures.LastClusterCount;
  }
  MeasureIndices(m);
  // The experiments read back the steps of the planned run; they set the stop step to its length.
  const size_t exact = size_t(std::max<int32_t>(StopStep, 0));
  Measures.Append(std::move(m), KeepAllMeasures ? exact + LineSeries::kTailPoints : 0);
  if (AnalysisShown) Analysis.BoundSeries(exact);
}

void Model::ComputeSegregationIndices() {
  StepMeasures m;
  m.Step = StepCount;
  m.AgentCount = int64_t(Agents.size());
  MeasureIndices(m);
}

void Model::MeasureIndices(StepMeasures& m) {
  const int64_t wanted = StrToInt(Controls.Text(Field::Edit_anzAg));
  if (TileSize < 1) {
    throw SegworkError("'" + std::to_string(TileSize) +
                       "' is not a valid grid size: it must be at least 1");
  }
  MeasureCache& cache = Cached;
  const uint64_t version = Engine ? Engine->Version() : 0;
  if (version == 0 || version != cache.indicesVersion || cache.tileSize != TileSize ||
      cache.agentsWanted != wanted || cache.groupSizes != GroupSizes) {
    cache.indices = ComputeIndices(Cells, TileSize, GroupSizes, wanted);
    cache.indicesVersion = version;
    cache.tileSize = TileSize;
    cache.agentsWanted = wanted;
    cache.groupSizes = GroupSizes;
  }
  const SegregationIndices& indices = cache.indices;
  m.Segregation.assign(indices.Index.begin(), indices.Index.end());
  const int64_t a = m.AgentCount - 1;
  const double cells = double(RowCount) * double(ColCount);
  m.Movers = MoversInStep;
  m.MoversPercent = a != 0 ? double(MoversInStep) / double(a) * 100 : 0;
  m.Density = cells != 0 ? double(a) / cells * 100 : 0;
  if (AnalysisShown) {
    Analysis.EnsureSeries(GroupColours);
    Analysis.ShowIndices(m, indices);
  }
}

void Model::FindClusters() {
  MeasureCache& cache = Cached;
  const uint64_t version = Engine ? Engine->Version() : 0;
  if (version == 0 || version != cache.clustersVersion || cache.clusterGroups != GroupCount) {
    ClusterSizes = ClusterSizesOf(Cells, Cells.ClusterVisited, GroupCount);
    cache.clustersVersion = version;
    cache.clusterGroups = GroupCount;
  }
  if (AnalysisShown) {
    Analysis.ShowClusterSizes(Controls.Text(Field::E_clusterT), StepCount, GroupColours, GroupSizes,
                              ClusterSizes);
  }
  Measures.LastClusterCount =
      CountClustersAbove(ClusterSizes, StrToInt(Controls.Text(Field::E_clusterT)));
}

}  // namespace segwork
