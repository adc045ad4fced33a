#include <algorithm>
#include <cmath>

#include "model/CellForm.h"
#include "model/convert.h"
#include "model/errors.h"

namespace segwork {

namespace {

// q = (count / total) * 100, with an empty divisor contributing 0 so that every call still
// gives every group one finite point.
long double Percent(long double count, long double total) {
  if (total == 0) return 0;
  return count / total * 100;
}

}  // namespace

void Model::ComputeSegregationIndices() {
  const int64_t n = StrToInt(Controls.Text(Field::Edit_anzAg));
  if (TileSize < 1) {
    throw SegworkError("'" + std::to_string(TileSize) +
                       "' is not a valid grid size: it must be at least 1");
  }
  EnsureAnalysisSeries();
  const size_t groups = size_t(GroupCount);
  const int64_t a = int64_t(Agents.size()) - 1;
  const int64_t tiles = int64_t(std::ceil(double(RowCount) / double(TileSize)));

  std::vector<long double> d(groups * groups, 0.0L);  // d[h * groups + g], h > g
  std::vector<long double> is(groups, 0.0L);
  std::vector<int32_t> count(groups);
  std::vector<long double> share(groups, 0.0L);  // of the groups in the current tile, else 0
  std::vector<size_t> present;
  present.reserve(groups);

  for (int64_t j = 0; j < tiles; ++j) {
    const int64_t rowBegin = j * TileSize;
    const int64_t rowEnd = std::min<int64_t>(rowBegin + TileSize, RowCount);
    for (int64_t i = 0; i < tiles; ++i) {
      const int64_t colBegin = i * TileSize;
      const int64_t colEnd = std::min<int64_t>(colBegin + TileSize, ColCount);
      std::fill(count.begin(), count.end(), 0);
      int64_t tileTotal = 0;
      for (int64_t y = rowBegin; y < rowEnd; ++y) {
        for (int64_t x = colBegin; x < colEnd; ++x) {
          const int32_t state = Cells.State[Cells.Index(int32_t(x), int32_t(y))];
          if (state < 1 || state > GroupCount) continue;
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
        share[g] = Percent(count[g], GroupSizes[g]);
      }
      for (const size_t g : present) {
        const long double own = share[g];
        for (size_t h = g + 1; h < groups; ++h) d[h * groups + g] += std::fabs(own - share[h]);
        for (size_t k = 0; k < g; ++k) {
          if (count[k] == 0) d[g * groups + k] += std::fabs(share[k] - own);
        }
      }
      for (size_t g = 0; g < groups; ++g) {
        // The sum of the other groups' counts is an integer, so subtracting is exact.
        const long double rest = static_cast<long double>(tileTotal - count[g]);
        is[g] += std::fabs(share[g] - Percent(rest, static_cast<long double>(n - GroupSizes[g])));
      }
      for (const size_t g : present) share[g] = 0.0L;
    }
  }

  auto& grid = Analysis.DissimiGrid;
  ++Analysis.DissimiGridCount;
  const char separator = Analysis.DecimalSeparator;
  for (size_t g = 0; g < groups; ++g) {
    for (size_t h = g; h < groups; ++h) {
      long double& v = d[h * groups + g];
      v *= 0.5L;
      grid[h + 1][g + 1] = TwoDecimalText(double(v), separator);
    }
    is[g] *= 0.5L;
    grid[g + 1][groups + 1] = TwoDecimalText(double(is[g]), separator);
    Analysis.SegregationSeries[g].Add(StepCount, double(is[g]));
    Analysis.DensitySegregationSeries[g].Add(double(a), double(is[g]));
  }
  const double cells = double(RowCount) * double(ColCount);
  const double density = cells != 0 ? double(a) / cells * 100 : 0;
  Analysis.ChangeSeries[0].Add(StepCount, MoversInStep);
  Analysis.ChangeSeries[1].Add(StepCount, a != 0 ? double(MoversInStep) / double(a) * 100 : 0);
  Analysis.ChangeSeries[2].Add(double(a), density);
  Analysis.ChangeSeries[3].Add(StepCount, density);
}

}  // namespace segwork
