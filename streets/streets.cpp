#include "streets/streets.h"

#include <algorithm>
#include <cmath>

#include "core/convert.h"
#include "core/errors.h"
#include "core/grid_atan2.h"

namespace segwork {

namespace {

struct NegativeLine {
  GridPos start, end;
  int32_t street;
  int32_t minX, maxX, minY, maxY;
};

struct CrossedPair {
  uint64_t cell;
  uint32_t position;
  int32_t street;
};

// The x-range of a segment within the rows low..high, widened by one cell against rounding.
std::pair<int64_t, int64_t> SegmentColumns(const NegativeLine& l, int64_t low, int64_t high) {
  if (l.start.y == l.end.y) return {l.minX, l.maxX};
  const double dy = double(l.end.y - l.start.y);
  double t0 = (double(low) - l.start.y) / dy, t1 = (double(high) - l.start.y) / dy;
  if (t0 > t1) std::swap(t0, t1);
  t0 = std::max(t0, 0.0);
  t1 = std::min(t1, 1.0);
  const double x0 = l.start.x + t0 * (l.end.x - l.start.x);
  const double x1 = l.start.x + t1 * (l.end.x - l.start.x);
  return {int64_t(std::floor(std::min(x0, x1))) - 1, int64_t(std::ceil(std::max(x0, x1))) + 1};
}

// Every pair of neighbours whose connecting segment crosses a negative line, with the lowest type
// crossed. Only cells near a line can have such a pair: a pair spans at most the radius in each
// direction, so each line is visited along its band instead of over the whole grid.
std::vector<CrossedPair> CrossedPairs(const CellSpace& cells, const std::vector<StreetLine>& lines,
                                      int32_t radius) {
  std::vector<NegativeLine> barriers;
  for (const StreetLine& l : lines) {
    if (l.Street >= 0) continue;
    barriers.push_back({{l.StartX, l.StartY},
                        {l.EndX, l.EndY},
                        l.Street,
                        std::min(l.StartX, l.EndX),
                        std::max(l.StartX, l.EndX),
                        std::min(l.StartY, l.EndY),
                        std::max(l.StartY, l.EndY)});
  }
  std::vector<CrossedPair> pairs;
  const int64_t r = radius, cols = cells.ColCount, rows = cells.RowCount;
  if (r < 0) return pairs;
  for (const NegativeLine& l : barriers) {
    const int64_t yFirst = std::max<int64_t>(0, l.minY - r);
    const int64_t yLast = std::min<int64_t>(rows - 1, l.maxY + r);
    for (int64_t y = yFirst; y <= yLast; ++y) {
      const auto [segLow, segHigh] = SegmentColumns(l, y - r, y + r);
      const int64_t xFirst = std::max<int64_t>(0, segLow - r);
      const int64_t xLast = std::min<int64_t>(cols - 1, segHigh + r);
      const int64_t yLow = std::max<int64_t>(0, y - r), yHigh = std::min<int64_t>(rows - 1, y + r);
      for (int64_t x = xFirst; x <= xLast; ++x) {
        const int64_t xLow = std::max<int64_t>(0, x - r),
                      xHigh = std::min<int64_t>(cols - 1, x + r);
        const int64_t width = xHigh - xLow + 1;
        for (int64_t ny = std::max(yLow, int64_t(l.minY) - r); ny <= yHigh; ++ny) {
          if (std::min(y, ny) > l.maxY) break;
          if (std::max(y, ny) < l.minY) continue;
          for (int64_t nx = xLow; nx <= xHigh; ++nx) {
            if (std::max(x, nx) < l.minX || std::min(x, nx) > l.maxX) continue;
            if (LinesCross({int32_t(x), int32_t(y)}, {int32_t(nx), int32_t(ny)}, l.start, l.end)) {
              pairs.push_back(
                  {uint64_t(y * cols + x), uint32_t((ny - yLow) * width + (nx - xLow)), l.street});
            }
          }
        }
      }
    }
  }
  // Scan order, and the lowest type first within a pair.
  std::sort(pairs.begin(), pairs.end(), [](const CrossedPair& a, const CrossedPair& b) {
    if (a.cell != b.cell) return a.cell < b.cell;
    if (a.position != b.position) return a.position < b.position;
    return a.street < b.street;
  });
  return pairs;
}

}  // namespace

bool LinesCross(GridPos p1, GridPos p2, GridPos a, GridPos b) {
  const int64_t d = int64_t(p1.x - p2.x) * (a.y - b.y) - int64_t(p1.y - p2.y) * (a.x - b.x);
  if (d == 0) return false;
  const int64_t n1 = int64_t(p2.x - p1.x) * (b.y - p1.y) - int64_t(p2.y - p1.y) * (b.x - p1.x);
  const int64_t n2 = int64_t(p2.x - a.x) * (b.y - a.y) - int64_t(p2.y - a.y) * (b.x - a.x);
  auto strictlyBetween = [d](int64_t n) { return d > 0 ? (0 < n && n < d) : (d < n && n < 0); };
  return strictlyBetween(n1) && strictlyBetween(n2);
}

double StreetWeight(const WeightTexts& weights, int32_t type) {
  return StrToWeight(weights[size_t(type + 4)]);
}

double WeightRows::W(int32_t type) {
  std::optional<double>& row = rows_[size_t(type + 3)];
  if (!row) row = StreetWeight(weights_, type);
  return *row;
}

double PairWeight(const std::vector<StreetLine>& lines, const WeightTexts& weights, int32_t x,
                  int32_t y, int32_t nx, int32_t ny) {
  int32_t lowest = 0;
  for (const StreetLine& line : lines) {
    if (LinesCross({x, y}, {nx, ny}, {line.StartX, line.StartY}, {line.EndX, line.EndY}) &&
        line.Street < lowest) {
      lowest = line.Street;
    }
  }
  return StreetWeight(weights, lowest);
}

namespace {

// The cells' own weights. Each reads only its own weight and its neighbours' streets.
void CellWeights(const CellSpace& cells, WeightRows& table, NeighbourhoodWeights& result,
                 const ProgressFunction& progress) {
  result.weight.resize(cells.size());
  result.grey.assign(cells.size(), 0);
  for (int32_t y = 0; y < cells.RowCount; ++y) {
    for (int32_t x = 0; x < cells.ColCount; ++x) {
      const size_t i = cells.Index(x, y);
      const int32_t street = cells.Street[i];
      double w = cells.Weight[i];
      if (street < 0 && street >= -3) w = table.W(street);
      if (street == 0) {
        // The last positive neighbour in scan order decides; adjacency wraps.
        for (int32_t dy = -1; dy <= 1; ++dy) {
          for (int32_t dx = -1; dx <= 1; ++dx) {
            const GridPos n = cells.Wrap(int64_t(x) + dx, int64_t(y) + dy);
            const int32_t t = cells.Street[cells.Index(n.x, n.y)];
            if (t > 0) {
              result.grey[i] = 1;
              w = table.W(std::min(t, 3));
            }
          }
        }
      }
      result.weight[i] = w;
      if (street != 0) ++result.streetCells;
    }
    if (progress && y % 1024 == 0) progress("building weights", 0.5 * y / cells.RowCount);
  }
}

// A pair behind a barrier takes the barrier's weight unless that equals the no-street row; with
// fewer than two lines no pair is behind one.
BarrierWeights Barriers(const CellSpace& cells, const std::vector<StreetLine>& lines,
                        int32_t radius, WeightRows& table, double w0,
                        const ProgressFunction& progress) {
  BarrierWeights barriers;
  if (lines.size() < 2) return barriers;
  const std::vector<CrossedPair> pairs = CrossedPairs(cells, lines, radius);
  if (progress) progress("building weights", 0.75);
  uint64_t previousCell = UINT64_MAX;
  uint32_t previousPosition = 0;
  std::vector<uint64_t> counts;
  for (const CrossedPair& p : pairs) {
    if (p.cell == previousCell && p.position == previousPosition) continue;
    previousCell = p.cell;
    previousPosition = p.position;
    const double w = table.W(p.street);
    if (w == w0) continue;
    if (counts.empty()) counts.assign(cells.size() + 1, 0);
    ++counts[p.cell + 1];
    barriers.position.push_back(p.position);
    barriers.value.push_back(w);
  }
  if (!counts.empty()) {
    for (size_t i = 1; i <= cells.size(); ++i) counts[i] += counts[i - 1];
    barriers.start = std::move(counts);
  }
  return barriers;
}

}  // namespace

NeighbourhoodWeights ComputeNeighbourhoodWeights(const CellSpace& cells,
                                                 const std::vector<StreetLine>& lines,
                                                 int32_t radius, const WeightTexts& weights,
                                                 const ProgressFunction& progress) {
  WeightRows table(weights);
  NeighbourhoodWeights result;
  CellWeights(cells, table, result, progress);
  // Every neighbour position reads the no-street row.
  const double w0 = radius >= 0 && cells.size() ? table.W(0) : 0.0;
  result.barriers = Barriers(cells, lines, radius, table, w0, progress);
  return result;
}

std::vector<size_t> StreetPath(const CellSpace& cells, GridPos from, GridPos start, double angle) {
  std::vector<size_t> path;
  const int32_t sx = start.x, sy = start.y;
  int32_t x = from.x, y = from.y;
  // Every allowed step comes one cell closer to the start, so the walk ends within the grid's
  // cell count; the bound only guards degenerate grids.
  const int64_t maxSteps = int64_t(cells.ColCount) * cells.RowCount;
  for (int64_t step = 0;; ++step) {
    path.push_back(cells.Index(x, y));
    if (x == sx && y == sy) return path;
    double best = 999999999.0;
    std::optional<GridPos> chosen;
    for (const GridPos& n : cells.FourNeighbours(x, y)) {
      const double theta = GridAtan2(int64_t(sy) - n.y, int64_t(sx) - n.x);
      const double d = std::fabs(angle - theta);
      const bool closer = std::abs(int64_t(sy) - n.y) <= std::abs(int64_t(sy) - y) &&
                          std::abs(int64_t(sx) - n.x) <= std::abs(int64_t(sx) - x);
      if (closer && d < best) {
        chosen = n;
        best = d;
      }
    }
    if (!chosen || step >= maxSteps) return path;
    x = chosen->x;
    y = chosen->y;
  }
}

}  // namespace segwork
