#include "analysis/measures.h"

#include <algorithm>
#include <cmath>

#include "core/errors.h"

namespace segwork {

void MeasuresLog::Append(StepMeasures measures, size_t exact) {
  if (steps_.size() > exact) {
    steps_.back() = std::move(measures);
  } else {
    steps_.push_back(std::move(measures));
  }
}

const StepMeasures& MeasuresLog::At(size_t j) const {
  if (steps_.empty()) throw SegworkError("a run recorded no measures");
  return steps_[std::min(j, steps_.size() - 1)];
}

std::vector<std::optional<double>> MeanSatisfaction(const CellSpace& cells, int32_t groups) {
  std::vector<double> sum(size_t(groups), 0.0);
  std::vector<int64_t> count(size_t(groups), 0);
  for (size_t i = 0; i < cells.size(); ++i) {
    const int32_t state = cells.State[i];
    if (!cells.Occupied[i] || state < 1 || state > groups) continue;
    sum[size_t(state - 1)] += cells.SimilarShare[i];
    ++count[size_t(state - 1)];
  }
  std::vector<std::optional<double>> means(static_cast<size_t>(groups));
  for (size_t g = 0; g < means.size(); ++g) {
    if (count[g] > 0) means[g] = sum[g] / double(count[g]);
  }
  return means;
}

namespace {

// q = (count / total) * 100, with an empty divisor contributing 0 so that every call still
// gives every group one finite point.
ExtendedReal Percent(ExtendedReal count, ExtendedReal total) {
  if (total == 0) return 0;
  return count / total * 100;
}

}  // namespace

SegregationIndices ComputeIndices(const CellSpace& cells, int32_t tileSize,
                                  const std::vector<int32_t>& groupSizes, int64_t agentsWanted) {
  const size_t groups = groupSizes.size();
  const int64_t rows = cells.RowCount, cols = cells.ColCount;
  const int64_t tiles = int64_t(std::ceil(double(rows) / double(tileSize)));
  SegregationIndices result{std::vector<ExtendedReal>(groups * groups, ExtendedReal(0)),
                            std::vector<ExtendedReal>(groups, ExtendedReal(0))};
  auto& d = result.Pairs;
  auto& is = result.Index;
  std::vector<int32_t> count(groups);
  // Of the groups in the current tile, else 0.
  std::vector<ExtendedReal> share(groups, ExtendedReal(0));
  std::vector<size_t> present;
  present.reserve(groups);

  for (int64_t j = 0; j < tiles; ++j) {
    const int64_t rowBegin = j * tileSize, rowEnd = std::min<int64_t>(rowBegin + tileSize, rows);
    for (int64_t i = 0; i < tiles; ++i) {
      const int64_t colBegin = i * tileSize, colEnd = std::min<int64_t>(colBegin + tileSize, cols);
      std::fill(count.begin(), count.end(), 0);
      int64_t tileTotal = 0;
      for (int64_t y = rowBegin; y < rowEnd; ++y) {
        for (int64_t x = colBegin; x < colEnd; ++x) {
          const int32_t state = cells.State[cells.Index(int32_t(x), int32_t(y))];
          if (state < 1 || size_t(state) > groups) continue;
          ++count[size_t(state - 1)];
          ++tileTotal;
        }
      }
      // A pair with neither group in the tile adds exactly +0, so only pairs with a group
      // present are visited: many groups on small tiles cost (groups present) x groups, and
      // every pair still sums its tiles in the same order.
      present.clear();
      for (size_t g = 0; g < groups; ++g) {
        if (count[g] == 0) continue;
        present.push_back(g);
        share[g] = Percent(count[g], groupSizes[g]);
      }
      for (const size_t g : present) {
        const ExtendedReal own = share[g];
        for (size_t h = g + 1; h < groups; ++h) d[h * groups + g] += Abs(own - share[h]);
        for (size_t k = 0; k < g; ++k) {
          if (count[k] == 0) d[g * groups + k] += Abs(share[k] - own);
        }
      }
      for (size_t g = 0; g < groups; ++g) {
        // The sum of the other groups' counts is an integer, so subtracting is exact.
        const ExtendedReal rest = static_cast<ExtendedReal>(tileTotal - count[g]);
        is[g] +=
            Abs(share[g] - Percent(rest, static_cast<ExtendedReal>(agentsWanted - groupSizes[g])));
      }
      for (const size_t g : present) share[g] = ExtendedReal(0);
    }
  }
  for (auto& v : d) v *= 0.5;
  for (auto& v : is) v *= 0.5;
  return result;
}

// A cluster's size does not depend on the order its cells are reached in: a plain stack of cells
// with their coordinates, so that no neighbour needs a division. One cluster may cover the grid.
std::vector<std::vector<int32_t>> ClusterSizesOf(const CellSpace& cells,
                                                 std::vector<uint8_t>& visited, int32_t groups) {
  std::vector<std::vector<int32_t>> sizes(size_t(std::max(groups, 0)));
  visited.assign(cells.size(), 0);
  const int32_t* state = cells.State.data();
  std::vector<GridPos> stack;
  for (size_t i = 0; i < cells.size(); ++i) {
    const int32_t group = state[i];
    if (group <= 0 || group > groups || visited[i]) continue;
    visited[i] = 1;
    int32_t size = 1;
    stack.push_back({cells.XOf(i), cells.YOf(i)});
    while (!stack.empty()) {
      const GridPos c = stack.back();
      stack.pop_back();
      for (const GridPos n : cells.FourNeighbours(c.x, c.y)) {
        const size_t k = cells.Index(n.x, n.y);
        if (state[k] != group || visited[k]) continue;
        visited[k] = 1;
        ++size;
        stack.push_back(n);
      }
    }
    sizes[size_t(group - 1)].push_back(size);
  }
  return sizes;
}

int64_t CountClustersAbove(const std::vector<std::vector<int32_t>>& sizes, int32_t threshold) {
  int64_t count = 0;
  for (const auto& group : sizes) {
    count += std::count_if(group.begin(), group.end(), [&](int32_t s) { return s > threshold; });
  }
  return count;
}

}  // namespace segwork
