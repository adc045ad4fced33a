#include <algorithm>
#include <cmath>
#include <optional>

#include "display/palette.h"
#include "model/CellForm.h"
#include "model/convert.h"
#include "model/errors.h"

namespace segwork {

namespace {

// The weight table as one build reads it: each row is parsed when first needed, so only the rows
// a layout really uses can fail.
class WeightRows {
 public:
  explicit WeightRows(const Model& model) : model_(model) {}
  double W(int32_t type) {
    std::optional<double>& row = rows_[size_t(type + 3)];
    if (!row) row = model_.StreetWeight(type);
    return *row;
  }

 private:
  const Model& model_;
  std::array<std::optional<double>, 7> rows_;
};

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
std::vector<CrossedPair> CrossedPairs(const Model& m) {
  std::vector<NegativeLine> barriers;
  for (const StreetLine& l : m.StreetLines) {
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
  const int64_t r = m.NeighbourRadius, cols = m.ColCount, rows = m.RowCount;
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

void Model::InitStreetControls() {
  // The type column as it opens; the weights are the controls' own (their defaults at program
  // start, or what a headless run was given). The digits-only style of the numeric fields belongs
  // to the window (kDigitsOnlyFields).
  Controls.SG_weight[0] = ControlValues{}.SG_weight[0];
  SwatchColours = {kStreetColours[0], kStreetColours[1], kStreetColours[2], kWhite,
                   kStreetColours[3], kStreetColours[4], kStreetColours[5]};
}

double Model::StreetWeight(int32_t type) const {
  return StrToFloat(Controls.SG_weight[1][size_t(type + 4)]);
}

TColor Model::StreetColour(int32_t type) const {
  if (type < -3 || type > 3) return kWhite;
  return SwatchColours[size_t(type + 3)];
}

int32_t Model::StreetCellCount() const {
  return int32_t(std::count_if(Cells.Street.begin(), Cells.Street.end(),
                               [](int32_t street) { return street != 0; }));
}

void Model::ClearStreets() {
  std::fill(StreetTypes.begin(), StreetTypes.end(), 0);
  std::fill(Cells.Street.begin(), Cells.Street.end(), 0);
  CancelStroke();
  StreetLines.clear();
  BuildNeighbourhoodWeights();
}

void Model::ImprintStreetTypes() {
  for (size_t i = 0; i < Cells.size(); ++i) {
    Cells.Street[i] = StreetTypes[i];
    if (Cells.Street[i] == 0) {
      Cells.DrawColor[i] = kWhite;
    } else {
      Cells.DrawColor[i] = StreetColour(Cells.Street[i]);
      Cells.DrawCell(i, *CellImage);
    }
  }
  BuildNeighbourhoodWeights();
}

double Model::PairWeight(int32_t x, int32_t y, int32_t nx, int32_t ny) const {
  int32_t lowest = 0;
  for (const StreetLine& line : StreetLines) {
    if (LinesCross({x, y}, {nx, ny}, {line.StartX, line.StartY}, {line.EndX, line.EndY}) &&
        line.Street < lowest) {
      lowest = line.Street;
    }
  }
  return StreetWeight(lowest);
}

// Every weight is computed into new storage and installed only when every row of the table it
// needed could be read; on failure nothing changes and the layout counts as changed.
void Model::BuildNeighbourhoodWeights() {
  try {
    WeightRows table(*this);
    const size_t cellCount = Cells.size();

    // The cells' own weights. Each reads only its own weight and its neighbours' streets.
    std::vector<double> weight(cellCount);
    std::vector<uint8_t> grey(cellCount, 0);
    int32_t streetCells = 0;
    for (int32_t y = 0; y < RowCount; ++y) {
      for (int32_t x = 0; x < ColCount; ++x) {
        const size_t i = Cells.Index(x, y);
        const int32_t street = Cells.Street[i];
        double w = Cells.Weight[i];
        if (street < 0 && street >= -3) w = table.W(street);
        if (street == 0) {
          // The last positive neighbour in scan order decides; adjacency wraps.
          for (int32_t dy = -1; dy <= 1; ++dy) {
            for (int32_t dx = -1; dx <= 1; ++dx) {
              const GridPos n = WrapToGrid(int64_t(x) + dx, int64_t(y) + dy);
              const int32_t t = Cells.Street[Cells.Index(n.x, n.y)];
              if (t > 0) {
                grey[i] = 1;
                w = table.W(std::min(t, 3));
              }
            }
          }
        }
        weight[i] = w;
        if (street != 0) ++streetCells;
      }
      if (Progress && y % 1024 == 0) Progress("building weights", 0.5 * y / RowCount);
    }

    // Every neighbour position reads the no-street row.
    const double w0 = NeighbourRadius >= 0 && cellCount ? table.W(0) : 0.0;

    // A pair behind a barrier takes the barrier's weight unless that equals the no-street row;
    // with fewer than two lines no pair is behind one.
    BarrierWeights barriers;
    if (StreetLines.size() >= 2) {
      const std::vector<CrossedPair> pairs = CrossedPairs(*this);
      if (Progress) Progress("building weights", 0.75);
      uint64_t previousCell = UINT64_MAX;
      uint32_t previousPosition = 0;
      std::vector<uint64_t> counts;
      for (const CrossedPair& p : pairs) {
        if (p.cell == previousCell && p.position == previousPosition) continue;
        previousCell = p.cell;
        previousPosition = p.position;
        const double w = table.W(p.street);
        if (w == w0) continue;
        if (counts.empty()) counts.assign(cellCount + 1, 0);
        ++counts[p.cell + 1];
        barriers.position.push_back(p.position);
        barriers.value.push_back(w);
      }
      if (!counts.empty()) {
        for (size_t i = 1; i <= cellCount; ++i) counts[i] += counts[i - 1];
        barriers.start = std::move(counts);
      }
    }

    // Install.
    Cells.Weight = std::move(weight);
    for (size_t i = 0; i < cellCount; ++i) {
      if (grey[i]) {
        Cells.DrawColor[i] = kNearStreetGrey;
        Cells.DrawCell(i, *CellImage);
      }
    }
    Engine->InstallWeights(Cells, NeighbourRadius, std::move(barriers));
    StreetCells = streetCells;
    Window.Lbl_strCell = std::to_string(streetCells);
    StreetsChanged = false;
    if (Progress) Progress("building weights", 1.0);
  } catch (...) {
    StreetsChanged = true;
    throw;
  }
}

std::array<GridPos, 4> Model::FourNeighbours(int32_t x, int32_t y) const {
  return {WrapToGrid(x, int64_t(y) + 1), WrapToGrid(x, int64_t(y) - 1),
          WrapToGrid(int64_t(x) + 1, y), WrapToGrid(int64_t(x) - 1, y)};
}

void Model::MarkStreetPath(int32_t x, int32_t y, int32_t street) {
  const int32_t sx = LineStartCell.x, sy = LineStartCell.y;
  // Every allowed step comes one cell closer to the start, so the walk ends within the grid's
  // cell count; the bound only guards degenerate grids.
  const int64_t maxSteps = int64_t(ColCount) * RowCount;
  for (int64_t step = 0;; ++step) {
    const size_t i = Cells.Index(x, y);
    Cells.DrawColor[i] = StreetColour(street);
    Cells.Street[i] = street;
    StreetTypes[i] = street;
    Cells.DrawCell(i, *CellImage);
    if (x == sx && y == sy) return;
    double best = 999999999.0;
    std::optional<GridPos> chosen;
    for (const GridPos& n : FourNeighbours(x, y)) {
      const double theta = std::atan2(double(sy - n.y), double(sx - n.x));
      const double d = std::fabs(LineAngle - theta);
      const bool closer = std::abs(int64_t(sy) - n.y) <= std::abs(int64_t(sy) - y) &&
                          std::abs(int64_t(sx) - n.x) <= std::abs(int64_t(sx) - x);
      if (closer && d < best) {
        chosen = n;
        best = d;
      }
    }
    if (!chosen || step >= maxSteps) return;
    x = chosen->x;
    y = chosen->y;
  }
}

void Model::DeleteStreets() {
  try {
    ClearStreets();
  } catch (const SegworkError&) {
    // The streets are gone even when the rebuild stops on a weight text: the picture and the
    // count must say so; the weights follow once the table is mended.
    std::fill(Cells.DrawColor.begin(), Cells.DrawColor.end(), kWhite);
    StreetCells = 0;
    Window.Lbl_strCell = std::to_string(StreetCells);
    RepaintAll();
    throw;
  }
  ImprintStreetTypes();
  RepaintAll();
}

}  // namespace segwork
