#include <algorithm>
#include <cmath>
#include <string>

#include "core/errors.h"
#include "core/grid_atan2.h"
#include "sim/simulation.h"

namespace segwork {

double Simulation::StreetWeight(int32_t type) const {
  return segwork::StreetWeight(Controls.SG_weight[1], type);
}

TColor Simulation::StreetColour(int32_t type) const {
  if (type < -3 || type > 3) return kWhite;
  return SwatchColours[size_t(type + 3)];
}

int32_t Simulation::StreetCellCount() const {
  return int32_t(std::count_if(Cells.Street.begin(), Cells.Street.end(),
                               [](int32_t street) { return street != 0; }));
}

void Simulation::ClearStreets() {
  Plan.valid = false;
  std::fill(StreetTypes.begin(), StreetTypes.end(), 0);
  std::fill(Cells.Street.begin(), Cells.Street.end(), 0);
  StreetLines.clear();
  BuildNeighbourhoodWeights();
}

void Simulation::ImprintStreetTypes() {
  Plan.valid = false;
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

// Every weight is computed into new storage and installed only when every row of the table it
// needed could be read; on failure nothing changes and the layout counts as changed.
void Simulation::BuildNeighbourhoodWeights() try {
  NeighbourhoodWeights built = ComputeNeighbourhoodWeights(Cells, StreetLines, NeighbourRadius,
                                                           Controls.SG_weight[1], Progress);
  Cells.Weight = std::move(built.weight);
  for (size_t i = 0; i < Cells.size(); ++i) {
    if (built.grey[i]) {
      Cells.DrawColor[i] = kNearStreetGrey;
      Cells.DrawCell(i, *CellImage);
    }
  }
  Engine->InstallWeights(Cells, NeighbourRadius, std::move(built.barriers));
  StreetCells = built.streetCells;
  StreetCellsChanged();
  StreetsChanged = false;
  if (Progress) Progress("building weights", 1.0);
} catch (...) {
  StreetsChanged = true;
  throw;
}

void Simulation::MarkStreetPath(int32_t x, int32_t y, int32_t street) {
  // Street cells decide who is satisfied; the engine does not see this change.
  Plan.valid = false;
  for (size_t i : StreetPath(Cells, {x, y}, LineStartCell, LineAngle)) {
    Cells.DrawColor[i] = StreetColour(street);
    Cells.Street[i] = street;
    StreetTypes[i] = street;
    Cells.DrawCell(i, *CellImage);
  }
}

int32_t Simulation::RandomStreetType() {
  const int32_t r = Rng.Random(6);
  return r + 1 <= 3 ? r + 1 : r - 6;
}

namespace {

void CheckStreetTypeSpinner(const ControlValues& controls) {
  if (controls.UpD_strType == 0) {
    throw SegworkError("0 is not a valid street type", kMissingValueCaption);
  }
}

}  // namespace

void Simulation::LayOutStreetGrid() {
  CheckStreetTypeSpinner(Controls);
  PlaceLines(GridLayoutLines(RowCount, Controls.UpD_rows, Controls.UpD_cols, [this] {
    return Controls.CB_rndTyp ? RandomStreetType() : int32_t(Controls.UpD_strType);
  }));
}

void Simulation::LayOutRandomStreets() {
  CheckStreetTypeSpinner(Controls);
  PlaceLines(RandomLayoutLines(RowCount, Controls.UpD_nrStr, Rng, [this] {
    return Controls.CB_rndTyp ? RandomStreetType() : int32_t(Controls.UpD_strType);
  }));
}

void Simulation::PlaceLines(const std::vector<StreetLine>& lines) {
  for (const StreetLine& l : lines)
    PlaceStreetLine({l.EndX, l.EndY}, {l.StartX, l.StartY}, l.Street);
  StreetsChanged = true;
  BuildNeighbourhoodWeights();
  RepaintAll();
}

void Simulation::PlaceStreetLine(GridPos end, GridPos start, int32_t street) {
  if (IsOutsideGrid(end.x, end.y) || IsOutsideGrid(start.x, start.y)) return;
  LineEndCell = end;
  StreetLines.push_back({start.x, start.y, end.x, end.y, street});
  LineStartCell = start;
  LineAngle = GridAtan2(int64_t(start.y) - end.y, int64_t(start.x) - end.x);
  MarkStreetPath(end.x, end.y, street);
}

void Simulation::InstallStreets(const SavedStreets& streets) {
  if (streets.columns != ColCount || streets.rows != RowCount ||
      streets.types.size() != StreetTypes.size()) {
    throw SegworkError("the street grid is " + std::to_string(streets.columns) + " x " +
                       std::to_string(streets.rows) + " cells, the run's " +
                       std::to_string(ColCount) + " x " + std::to_string(RowCount));
  }
  for (const StreetLine& l : streets.lines) {
    if (IsOutsideGrid(l.StartX, l.StartY) || IsOutsideGrid(l.EndX, l.EndY)) {
      throw SegworkError("a street line lies outside the " + std::to_string(ColCount) + " x " +
                         std::to_string(RowCount) + " grid");
    }
  }
  StreetLines = streets.lines;
  StreetTypes = streets.types;
  // The cells and weights follow at the next setup or rebuild.
  StreetsChanged = true;
}

void Simulation::DrawStroke(const StreetStroke& stroke) {
  for (const GridPos cell : {stroke.press, stroke.release}) {
    if (IsOutsideGrid(cell.x, cell.y)) {
      throw SegworkError(stroke.name + ": cell (" + std::to_string(cell.x) + "," +
                         std::to_string(cell.y) + ") is outside the " + std::to_string(ColCount) +
                         " x " + std::to_string(RowCount) + " grid");
    }
  }
  if (stroke.street == 0 || stroke.street < -3 || stroke.street > 3) {
    throw SegworkError(stroke.name + ": street type " + std::to_string(stroke.street) +
                       " is not one of -3, -2, -1, 1, 2, 3");
  }
  PlaceStreetLine(stroke.release, stroke.press, stroke.street);
  StreetsChanged = true;
}

}  // namespace segwork
