#include <cmath>

#include "model/CellForm.h"
#include "model/convert.h"
#include "model/errors.h"

namespace segwork {

int32_t Model::RandomStreetType() {
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

void Model::LayOutStreetGrid() {
  CheckStreetTypeSpinner(Controls);
  const int32_t n = RowCount;
  auto strips = [&](int32_t k, bool columns) {
    if (k <= 1) return;
    const int64_t spacing = RoundHalfEven(double(n) / k);
    for (int32_t a = 1; a <= k - 1; ++a) {
      const int32_t street = Controls.CB_rndTyp ? RandomStreetType() : Controls.UpD_strType;
      const int64_t at = int64_t(a) * spacing - 1;
      if (at < INT32_MIN || at > INT32_MAX) continue;  // outside the grid in any case
      const int32_t v = int32_t(at);
      if (columns) {
        PlaceStreetLine({v, 0}, {v, n - 1}, street);
      } else {
        PlaceStreetLine({0, v}, {n - 1, v}, street);
      }
    }
  };
  strips(Controls.UpD_rows, true);
  strips(Controls.UpD_cols, false);
  StreetsChanged = true;
  BuildNeighbourhoodWeights();
  RepaintAll();
}

void Model::LayOutRandomStreets() {
  CheckStreetTypeSpinner(Controls);
  const int32_t n = RowCount;
  const int32_t k = Controls.UpD_nrStr;
  for (int32_t i = 0; i < k - 1; ++i) {
    const int32_t street = Controls.CB_rndTyp ? RandomStreetType() : Controls.UpD_strType;
    const int32_t endX = Rng.Random(n), endY = Rng.Random(n);
    const int32_t startX = Rng.Random(n), startY = Rng.Random(n);
    PlaceStreetLine({endX, endY}, {startX, startY}, street);
  }
  StreetsChanged = true;
  BuildNeighbourhoodWeights();
  RepaintAll();
}

void Model::PlaceStreetLine(GridPos end, GridPos start, int32_t street) {
  if (IsOutsideGrid(end.x, end.y) || IsOutsideGrid(start.x, start.y)) return;
  LineEndCell = end;
  StreetLines.push_back({start.x, start.y, end.x, end.y, street});
  LineStartCell = start;
  LineAngle = std::atan2(double(start.y - end.y), double(start.x - end.x));
  MarkStreetPath(end.x, end.y, street);
}

}  // namespace segwork
