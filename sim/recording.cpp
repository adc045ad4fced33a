#include <algorithm>

#include "analysis/Analyse.h"
#include "core/convert.h"
#include "core/errors.h"
#include "core/field_titles.h"
#include "sim/simulation.h"

namespace segwork {

namespace {

// The tiles of the indices and of the spatial measures.
void CheckTileSize(int32_t size) {
  if (size < 1) {
    throw SegworkError("'" + std::to_string(size) +
                       "' is not a valid grid size: it must be at least 1");
  }
}

}  // namespace

void Simulation::ResetMeasures() {
  if (Observer) Observer->MeasuresReset();
  Measures.Clear();
}

void Simulation::RecordStepMeasures() {
  if (StepCount == 1) ResetMeasures();
  if (Observer) Observer->StepRecording();
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
  if (Observer) Observer->SatisfactionMeasured(m);
  if ((int64_t(StepCount) - 1) % 30 == 0) {
    FindClusters();
    m.Clusters = Measures.LastClusterCount;
  }
  MeasureIndices(m);
  if (RecordSpatialMeasures) m.Spatial = ComputeSpatialMeasures();
  // The experiments read back the steps of the planned run; they set the stop step to its length.
  const size_t exact = size_t(std::max<int32_t>(StopStep, 0));
  Measures.Append(std::move(m),
                  History == MeasureHistory::PlannedRun ? exact + LineSeries::kTailPoints : 0);
  if (Observer) Observer->StepRecorded();
}

void Simulation::ComputeSegregationIndices() {
  StepMeasures m;
  m.Step = StepCount;
  m.AgentCount = int64_t(Agents.size());
  MeasureIndices(m);
}

void Simulation::MeasureIndices(StepMeasures& m) {
  const int64_t wanted = FieldInt(Controls, Field::Edit_anzAg);
  CheckTileSize(TileSize);
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
  m.Segregation.resize(indices.Index.size());
  std::transform(indices.Index.begin(), indices.Index.end(), m.Segregation.begin(),
                 [](const ExtendedReal& v) { return double(v); });
  const int64_t a = m.AgentCount - 1;
  const double cells = double(RowCount) * double(ColCount);
  m.Movers = MoversInStep;
  m.MoversPercent = a != 0 ? double(MoversInStep) / double(a) * 100 : 0;
  m.Density = cells != 0 ? double(a) / cells * 100 : 0;
  if (Observer) Observer->IndicesMeasured(m, indices);
}

void Simulation::UpdateClusterSizes() {
  MeasureCache& cache = Cached;
  const uint64_t version = Engine ? Engine->Version() : 0;
  if (version == 0 || version != cache.clustersVersion || cache.clusterGroups != GroupCount) {
    ClusterSizes = ClusterSizesOf(Cells, Cells.ClusterVisited, GroupCount);
    cache.clustersVersion = version;
    cache.clusterGroups = GroupCount;
  }
}

SpatialMeasures Simulation::ComputeSpatialMeasures() {
  CheckTileSize(TileSize);
  MeasureCache& cache = Cached;
  const uint64_t version = Engine ? Engine->Version() : 0;
  if (version == 0 || version != cache.spatialVersion || cache.spatialTile != TileSize ||
      cache.spatialGroups != GroupCount) {
    UpdateClusterSizes();
    cache.spatial = segwork::ComputeSpatialMeasures(Cells, GroupCount, TileSize, ClusterSizes);
    cache.spatialVersion = version;
    cache.spatialTile = TileSize;
    cache.spatialGroups = GroupCount;
  }
  return cache.spatial;
}

void Simulation::FindClusters() {
  UpdateClusterSizes();
  if (Observer) Observer->ClustersFound();
  Measures.LastClusterCount =
      CountClustersAbove(ClusterSizes, FieldInt(Controls, Field::E_clusterT));
}

}  // namespace segwork
