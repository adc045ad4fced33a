#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/cell_P.h"

namespace segwork {

// The published indices of one world: evenness and exposure over the tiles of the segregation
// index, spatial autocorrelation over the occupied cells, and the groups' cluster sizes. A value
// whose denominator is 0 is left empty.
struct SpatialMeasures {
  int32_t Groups = 0;
  std::optional<double> Entropy;             // Theil's H
  std::optional<double> DissimilarityMulti;  // multi-group dissimilarity
  std::vector<std::optional<double>> Isolation;
  std::vector<std::optional<double>> Interaction;  // [g * Groups + h], h != g
  std::vector<std::optional<double>> Moran;
  std::vector<int32_t> LargestCluster;
  std::vector<std::optional<double>> MeanClusterSize;
};

// The measures of the cells' groups 1..`groups`, tiles of side `tileSize` from the top left (the
// last ones cut at the edges), `clusterSizes` as ClusterSizesOf finds them.
SpatialMeasures ComputeSpatialMeasures(const CellSpace& cells, int32_t groups, int32_t tileSize,
                                       const std::vector<std::vector<int32_t>>& clusterSizes);

}  // namespace segwork
