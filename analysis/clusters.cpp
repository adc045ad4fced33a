#include <vector>

#include "model/CellForm.h"

namespace segwork {

namespace {

struct Frame {
  GridPos cell;
  size_t nextLink;
};

}  // namespace

// Depth-first like the nested form (a cell's links are expanded in list order, each completely,
// before the next), but on an explicit stack: one cluster may cover the whole grid.
void Model::FindClusters() {
  ClusterSizes.assign(size_t(std::max(GroupCount, 0)), {});
  for (TCell& cell : Cells) {
    cell.ClusterLinks.clear();
    cell.ClusterVisited = false;
  }
  auto addLikeNeighbours = [&](int32_t x, int32_t y) {
    TCell& centre = CellAt(x, y);
    for (const GridPos& n : FourNeighbours(x, y)) {
      TCell& neighbour = CellAt(n.x, n.y);
      if (neighbour.State == centre.State && !neighbour.ClusterVisited) {
        centre.ClusterLinks.push_back(n);
        neighbour.ClusterVisited = true;
        ++ClusterSizes[size_t(centre.State - 1)].back();
      }
    }
  };
  std::vector<Frame> stack;
  for (int32_t y = 0; y < RowCount; ++y) {
    for (int32_t x = 0; x < ColCount; ++x) {
      TCell& cell = CellAt(x, y);
      if (cell.State <= 0 || cell.State > GroupCount || cell.ClusterVisited) continue;
      cell.ClusterVisited = true;
      ClusterSizes[size_t(cell.State - 1)].push_back(1);
      addLikeNeighbours(x, y);
      stack.push_back({{x, y}, 0});
      while (!stack.empty()) {
        Frame& top = stack.back();
        const std::vector<GridPos>& links = CellAt(top.cell.x, top.cell.y).ClusterLinks;
        if (top.nextLink == links.size()) {
          stack.pop_back();
          continue;
        }
        const GridPos next = links[top.nextLink++];
        addLikeNeighbours(next.x, next.y);
        stack.push_back({next, 0});
      }
    }
  }
  Analysis.ShowClusterSizes(*this);
}

}  // namespace segwork
