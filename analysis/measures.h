#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/spatial_measures.h"
#include "core/cell_P.h"
#include "core/extended.h"

namespace segwork {

// The measures of one time step, as RecordStepMeasures writes them. The analysis window's series,
// the CLI's rows and the sweeps all read these.
struct StepMeasures {
  int32_t Step = 0;
  int64_t AgentCount = 0;  // length of the agent list
  int32_t Movers = 0;
  double MoversPercent = 0;
  double Density = 0;  // agents per cell, in percent
  int32_t StreetCells = 0;
  std::vector<double> Segregation;  // IS per group
  // Mean similar share per group; none for a group that occupies no cell.
  std::vector<std::optional<double>> Satisfaction;
  // Clusters above the cluster threshold, in the steps that look for them.
  std::optional<int64_t> Clusters;
  // Entropy, exposure, Moran's I and cluster sizes, in runs that ask for them.
  std::optional<SpatialMeasures> Spatial;
};

// The measures of the steps since the run's first step. The first `exact` steps are kept; past
// them only the newest, so a run that goes on for hours stays bounded.
class MeasuresLog {
 public:
  void Clear() { steps_.clear(); }
  void Append(StepMeasures measures, size_t exact);
  size_t size() const { return steps_.size(); }
  bool empty() const { return steps_.empty(); }
  // Position j, or the newest when the log is shorter; a SegworkError when it is empty.
  const StepMeasures& At(size_t j) const;
  const StepMeasures& Latest() const { return At(steps_.size()); }
  // Every kept record, oldest first, as a saved run keeps them.
  const std::vector<StepMeasures>& Steps() const { return steps_; }
  void Restore(std::vector<StepMeasures> steps) { steps_ = std::move(steps); }

  // The clusters the latest search counted above the threshold (a step's or any other).
  std::optional<int64_t> LastClusterCount;

 private:
  std::vector<StepMeasures> steps_;
};

// Mean similar share of the occupied cells of each group.
std::vector<std::optional<double>> MeanSatisfaction(const CellSpace& cells, int32_t groups);

// Dissimilarity of every pair of groups and the segregation index of every group over square
// tiles of `tileSize` cells.
struct SegregationIndices {
  std::vector<ExtendedReal> Pairs;  // [h * groups + g] for h >= g
  std::vector<ExtendedReal> Index;  // per group
};
// `agentsWanted` is the agent count of the setup field, read when the indices are computed.
SegregationIndices ComputeIndices(const CellSpace& cells, int32_t tileSize,
                                  const std::vector<int32_t>& groupSizes, int64_t agentsWanted);

// Sizes of the four-connected clusters of every group, in scan order of their first cell.
// `visited` is the cells' scratch flag, one per cell.
std::vector<std::vector<int32_t>> ClusterSizesOf(const CellSpace& cells,
                                                 std::vector<uint8_t>& visited, int32_t groups);

int64_t CountClustersAbove(const std::vector<std::vector<int32_t>>& sizes, int32_t threshold);

}  // namespace segwork
