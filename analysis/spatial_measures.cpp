#include "analysis/spatial_measures.h"

#include <algorithm>
#include <cmath>

namespace segwork {

namespace {

std::optional<double> Ratio(long double numerator, long double denominator) {
  if (denominator == 0) return std::nullopt;
  return double(numerator / denominator);
}

}  // namespace

SpatialMeasures ComputeSpatialMeasures(const CellSpace& cells, int32_t groups, int32_t tileSize,
                                       const std::vector<std::vector<int32_t>>& clusterSizes) {
  const size_t G = size_t(std::max(groups, 0));
  const int32_t cols = cells.ColCount, rows = cells.RowCount;
  const int32_t tile = std::max(tileSize, 1);
  const int32_t* state = cells.State.data();
  auto groupOf = [&](size_t i) { return state[i] >= 1 && state[i] <= groups ? state[i] : 0; };

  // The totals first: dissimilarity compares each tile with the whole world.
  std::vector<int64_t> total(G + 1, 0);
  for (size_t i = 0; i < cells.size(); ++i) ++total[size_t(groupOf(i))];
  int64_t P = 0;
  for (size_t g = 1; g <= G; ++g) P += total[g];
  std::vector<long double> pi(G, 0.0L);
  long double E = 0, I = 0;
  for (size_t g = 0; g < G; ++g) {
    if (total[g + 1] == 0) continue;
    pi[g] = (long double)total[g + 1] / (long double)P;
    E -= pi[g] * std::log(pi[g]);
    I += pi[g] * (1 - pi[g]);
  }

  // One row of tiles is counted at a time, so memory does not grow with the world.
  const size_t across = size_t((int64_t(cols) + tile - 1) / tile);
  std::vector<int32_t> count(across * G, 0);
  long double tileEntropy = 0, dissimilarity = 0;  // sums of n_t E_t and of |c - n_t pi|
  std::vector<long double> exposure(G * G, 0.0L);  // sums of c(t,g) c(t,h) / n_t
  std::vector<size_t> present;
  auto flushTiles = [&] {
    for (size_t t = 0; t < across; ++t) {
      int32_t* c = &count[t * G];
      int64_t n = 0;
      present.clear();
      for (size_t g = 0; g < G; ++g) {
        n += c[g];
        if (c[g] > 0) present.push_back(g);
      }
      if (n == 0) continue;
      const long double nt = (long double)n;
      for (size_t g = 0; g < G; ++g) dissimilarity += std::fabs(c[g] - nt * pi[g]);
      for (const size_t g : present) {
        const long double share = c[g] / nt;
        tileEntropy -= nt * share * std::log(share);
        for (const size_t h : present) exposure[g * G + h] += (long double)c[g] * c[h] / nt;
      }
      std::fill(c, c + G, 0);
    }
  };

  // Moran's I from three sums per group: A the ordered neighbour pairs both of the group, B the
  // occupied neighbours of the group's cells, and W all ordered occupied neighbour pairs.
  std::vector<int64_t> A(G, 0), B(G, 0);
  int64_t W = 0;
  const bool small = rows < 3 || cols < 3;
  for (int32_t y = 0; y < rows; ++y) {
    const int32_t ys[3] = {y == 0 ? rows - 1 : y - 1, y, y + 1 == rows ? 0 : y + 1};
    const int32_t* up = state + size_t(ys[0]) * size_t(cols);
    const int32_t* mid = state + size_t(y) * size_t(cols);
    const int32_t* down = state + size_t(ys[2]) * size_t(cols);
    size_t tx = 0;
    for (int32_t x = 0, edge = tile; x < cols; ++x) {
      if (x == edge) ++tx, edge += tile;
      const size_t i = cells.Index(x, y);
      const int32_t g = groupOf(i);
      if (g == 0) continue;
      ++count[tx * G + size_t(g - 1)];
      const int32_t left = x == 0 ? cols - 1 : x - 1, right = x + 1 == cols ? 0 : x + 1;
      int64_t occupied = 0, same = 0;
      if (small) {
        // On a grid one or two cells wide a neighbour position can be the cell itself.
        for (const int32_t ny : ys) {
          for (const int32_t nx : {left, x, right}) {
            const size_t j = cells.Index(nx, ny);
            if (j == i) continue;
            const int32_t h = groupOf(j);
            occupied += h != 0;
            same += h == g;
          }
        }
      } else {
        const int32_t around[8] = {up[left],   up[x],      up[right], mid[left],
                                   mid[right], down[left], down[x],   down[right]};
        for (const int32_t h : around) {
          occupied += h >= 1 && h <= groups;
          same += h == g;
        }
      }
      W += occupied;
      A[size_t(g - 1)] += same;
      B[size_t(g - 1)] += occupied;
    }
    if ((y + 1) % tile == 0 || y + 1 == rows) flushTiles();
  }

  SpatialMeasures m;
  m.Groups = groups;
  if (P > 0 && E > 0) m.Entropy = double((P * E - tileEntropy) / (P * E));
  if (P > 0) m.DissimilarityMulti = Ratio(dissimilarity, 2 * P * I);
  m.Isolation.resize(G);
  m.Interaction.resize(G * G);
  m.Moran.resize(G);
  m.LargestCluster.assign(G, 0);
  m.MeanClusterSize.resize(G);
  for (size_t g = 0; g < G; ++g) {
    const int64_t C = total[g + 1];
    if (C > 0) {
      for (size_t h = 0; h < G; ++h) {
        if (h != g) m.Interaction[g * G + h] = Ratio(exposure[g * G + h], C);
      }
      m.Isolation[g] = Ratio(exposure[g * G + g], C);
    }
    if (C > 0 && C < P && W > 0) {
      const long double n = (long double)P, mean = C / n;
      const long double cross = A[g] - 2 * mean * B[g] + mean * mean * W;
      m.Moran[g] = double(n / W * cross / (C * (1 - mean)));
    }
    if (g < clusterSizes.size() && !clusterSizes[g].empty()) {
      m.LargestCluster[g] = *std::max_element(clusterSizes[g].begin(), clusterSizes[g].end());
      m.MeanClusterSize[g] = double(C) / double(clusterSizes[g].size());
    }
  }
  return m;
}

}  // namespace segwork
