#include <algorithm>
#include <vector>

#include "model/CellForm.h"

namespace segwork {

namespace {

struct Frame {
  size_t cell;
  uint8_t links;     // which of the four neighbours this cell brought into the cluster
  uint8_t nextLink;  // the next of them to expand
};

}  // namespace

// Depth-first like the nested form (a cell's links are expanded in neighbour order, each
// completely, before the next), but on an explicit stack: one cluster may cover the whole grid.
void Model::FindClusters() {
  ClusterSizes.assign(size_t(std::max(GroupCount, 0)), {});
  std::fill(Cells.ClusterVisited.begin(), Cells.ClusterVisited.end(), 0);
  // Links the unvisited like neighbours of a cell, returning them as a mask over FourNeighbours.
  auto addLikeNeighbours = [&](size_t centre) -> uint8_t {
    const int32_t state = Cells.State[centre];
    const auto neighbours = FourNeighbours(Cells.XOf(centre), Cells.YOf(centre));
    uint8_t links = 0;
    for (int k = 0; k < 4; ++k) {
      const size_t n = Cells.Index(neighbours[size_t(k)].x, neighbours[size_t(k)].y);
      if (Cells.State[n] == state && !Cells.ClusterVisited[n]) {
        links |= uint8_t(1u << k);
        Cells.ClusterVisited[n] = 1;
        ++ClusterSizes[size_t(state - 1)].back();
      }
    }
    return links;
  };
  std::vector<Frame> stack;
  for (size_t i = 0; i < Cells.size(); ++i) {
    const int32_t state = Cells.State[i];
    if (state <= 0 || state > GroupCount || Cells.ClusterVisited[i]) continue;
    Cells.ClusterVisited[i] = 1;
    ClusterSizes[size_t(state - 1)].push_back(1);
    stack.push_back({i, addLikeNeighbours(i), 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      while (top.nextLink < 4 && !(top.links & (1u << top.nextLink))) ++top.nextLink;
      if (top.nextLink == 4) {
        stack.pop_back();
        continue;
      }
      const GridPos next = FourNeighbours(Cells.XOf(top.cell), Cells.YOf(top.cell))[top.nextLink++];
      const size_t n = Cells.Index(next.x, next.y);
      stack.push_back({n, addLikeNeighbours(n), 0});
    }
  }
  Analysis.ShowClusterSizes(*this);
}

}  // namespace segwork
