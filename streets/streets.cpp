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
  // The digits-only style of the numeric fields belongs to the window (kDigitsOnlyFields).
  static const char* const kTypes[8] = {"Type", "-3", "-2", "-1", "0", "+1", "+2", "+3"};
  static const char* const kWeights[8] = {"Weight", "0", "0,33", "0,67", "1", "2", "4", "8"};
  for (int row = 0; row < 8; ++row) {
    Controls.SG_weight[0][size_t(row)] = kTypes[row];
    Controls.SG_weight[1][size_t(row)] = kWeights[row];
  }
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
  return int32_t(
      std::count_if(Cells.begin(), Cells.end(), [](const TCell& c) { return c.Street; }));
}

void Model::ClearStreets() {
  std::fill(StreetTypes.begin(), StreetTypes.end(), 0);
  for (TCell& cell : Cells) cell.Street = 0;
  StreetLines.clear();
  BuildNeighbourhoodWeights();
}

void Model::ImprintStreetTypes() {
  for (int32_t y = 0; y < RowCount; ++y) {
    for (int32_t x = 0; x < ColCount; ++x) {
      TCell& cell = CellAt(x, y);
      cell.Street = StreetTypeAt(x, y);
      if (cell.Street == 0) {
        cell.DrawColor = kWhite;
      } else {
        cell.DrawColor = StreetColour(cell.Street);
        cell.DrawCell(*CellImage);
      }
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

// Every weight and list is computed into new storage and installed only when every row of the
// table it needed could be read; on failure nothing changes and the layout counts as changed.
void Model::BuildNeighbourhoodWeights() {
  try {
    WeightRows table(*this);
    const size_t cellCount = Cells.size();

    // Phase 1: the cells' own weights. Each reads only its own weight and its neighbours' streets.
    std::vector<double> weight(cellCount);
    std::vector<char> grey(cellCount, 0);
    int32_t streetCells = 0;
    for (int32_t y = 0; y < RowCount; ++y) {
      for (int32_t x = 0; x < ColCount; ++x) {
        const size_t i = size_t(y) * ColCount + x;
        const TCell& cell = Cells[i];
        double w = cell.Weight;
        if (cell.Street < 0 && cell.Street >= -3) w = table.W(cell.Street);
        if (cell.Street == 0) {
          // The last positive neighbour in scan order decides; adjacency wraps.
          for (int32_t dy = -1; dy <= 1; ++dy) {
            for (int32_t dx = -1; dx <= 1; ++dx) {
              const GridPos n = WrapToGrid(int64_t(x) + dx, int64_t(y) + dy);
              const int32_t t = CellAt(n.x, n.y).Street;
              if (t > 0) {
                grey[i] = 1;
                w = table.W(std::min(t, 3));
              }
            }
          }
        }
        weight[i] = w;
        if (cell.Street != 0) ++streetCells;
      }
    }

    // Phase 2: the neighbour lists. Only negative lines can lower a weight, and the lowest type
    // decides, so the others are left out and the scan stops at a -3.
    std::vector<NegativeLine> barriers;
    const bool linesApply = StreetLines.size() >= 2;
    if (linesApply) {
      for (const StreetLine& l : StreetLines) {
        if (l.Street >= 0) continue;
        barriers.push_back({{l.StartX, l.StartY},
                            {l.EndX, l.EndY},
                            l.Street,
                            std::min(l.StartX, l.EndX),
                            std::max(l.StartX, l.EndX),
                            std::min(l.StartY, l.EndY),
                            std::max(l.StartY, l.EndY)});
      }
      std::stable_sort(
          barriers.begin(), barriers.end(),
          [](const NegativeLine& a, const NegativeLine& b) { return a.street < b.street; });
    }
    const int64_t r = NeighbourRadius;
    std::vector<std::vector<double>> lists(cellCount);
    for (int32_t y = 0; y < RowCount; ++y) {
      const int64_t yLow = std::max<int64_t>(0, y - r),
                    yHigh = std::min<int64_t>(RowCount - 1, y + r);
      for (int32_t x = 0; x < ColCount; ++x) {
        const int64_t xLow = std::max<int64_t>(0, x - r),
                      xHigh = std::min<int64_t>(ColCount - 1, x + r);
        std::vector<double>& list = lists[size_t(y) * ColCount + x];
        if (yHigh < yLow || xHigh < xLow) continue;
        list.reserve(size_t((yHigh - yLow + 1) * (xHigh - xLow + 1)));
        const double w0 = table.W(0);
        for (int64_t ny = yLow; ny <= yHigh; ++ny) {
          for (int64_t nx = xLow; nx <= xHigh; ++nx) {
            double w = w0;
            if (linesApply) {
              int32_t lowest = 0;
              const int32_t pMinX = int32_t(std::min<int64_t>(x, nx)),
                            pMaxX = int32_t(std::max<int64_t>(x, nx));
              const int32_t pMinY = int32_t(std::min<int64_t>(y, ny)),
                            pMaxY = int32_t(std::max<int64_t>(y, ny));
              for (const NegativeLine& l : barriers) {
                if (l.street >= lowest) continue;
                if (l.maxX < pMinX || l.minX > pMaxX || l.maxY < pMinY || l.minY > pMaxY) continue;
                if (LinesCross({x, y}, {int32_t(nx), int32_t(ny)}, l.start, l.end)) {
                  lowest = l.street;
                  if (lowest == -3) break;
                }
              }
              w = table.W(lowest);
            }
            if (w == w0) w = weight[size_t(ny) * ColCount + size_t(nx)];
            list.push_back(w);
          }
        }
      }
    }

    // Install.
    for (int32_t y = 0; y < RowCount; ++y) {
      for (int32_t x = 0; x < ColCount; ++x) {
        const size_t i = size_t(y) * ColCount + x;
        TCell& cell = Cells[i];
        cell.Weight = weight[i];
        cell.NeighbourWeights = std::move(lists[i]);
        if (grey[i]) {
          cell.DrawColor = kNearStreetGrey;
          cell.DrawCell(*CellImage);
        }
      }
    }
    Window.Lbl_strCell = std::to_string(streetCells);
    StreetsChanged = false;
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
    TCell& cell = CellAt(x, y);
    cell.DrawColor = StreetColour(street);
    cell.Street = street;
    StreetTypeAt(x, y) = street;
    cell.DrawCell(*CellImage);
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
  ClearStreets();
  ImprintStreetTypes();
  RepaintAll();
}

}  // namespace segwork
