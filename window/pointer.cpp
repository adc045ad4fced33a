#include <algorithm>
#include <cmath>
#include <exception>

#include "core/convert.h"
#include "core/errors.h"
#include "core/grid_atan2.h"
#include "window/CellForm.h"

namespace segwork {

namespace {

// The street types of CB_strType's items, in item order.
constexpr int32_t kItemStreetType[6] = {-3, -2, -1, 1, 2, 3};

bool HasStreetType(const ControlValues& controls) {
  return controls.CB_strType >= 0 && controls.CB_strType < 6;
}

}  // namespace

GridPos Model::PixelToCell(int x, int y) const {
  // Odd cell sizes map the first pixels to column -1, large ones the last pixels past the grid.
  auto axis = [&](int pixel, int32_t count) {
    const int64_t cell = RoundHalfEven(double(pixel - Sim.HalfCell) / double(Sim.CellSize));
    return int32_t(std::clamp<int64_t>(cell, 0, std::max(count - 1, 0)));
  };
  return {axis(x, Sim.ColCount), axis(y, Sim.RowCount)};
}

void Model::CreateOverlay() {
  if (CreateOverlayCanvas) OverlayImage = CreateOverlayCanvas(Sim.PanelWidth, Sim.PanelHeight);
  if (!OverlayImage) OverlayImage = std::make_unique<NullCanvas>();
}

void Model::CancelStroke() {
  if (Stroke.active && Stroke.lineIndex < Sim.StreetLines.size()) {
    Sim.StreetLines.erase(Sim.StreetLines.begin() + std::ptrdiff_t(Stroke.lineIndex));
  }
  Stroke.active = false;
  DrawingLine = false;
  OverlayImage.reset();
}

void Model::ZeichenPanelMouseDown(PointerButton button, int x, int y) {
  if (!HasStreetType(Controls)) {
    throw SegworkError("please select a street type", kMissingValueCaption);
  }
  // A second button pressed during a stroke belongs to that stroke.
  if (Stroke.active || Sim.Cells.size() == 0) return;
  if (Controls.CB_hideAgs) {
    Window.Timer1Enabled = false;
    Window.StopButtonRed = true;
    Sim.DrawCells();
  } else {
    Sim.RepaintAll();
  }
  if (button == PointerButton::Left) DrawingLine = true;
  const GridPos cell = PixelToCell(x, y);
  Sim.LineStartCell = cell;
  StreetLine line;
  line.StartX = cell.x;
  line.StartY = cell.y;
  Sim.StreetLines.push_back(line);
  Stroke = {true, button, cell, Sim.StreetLines.size() - 1};
  CreateOverlay();
}

void Model::ZeichenPanelMouseMove(int x, int y) {
  if (!DrawingLine || !Stroke.active || !OverlayImage || !HasStreetType(Controls)) return;
  Canvas& overlay = *OverlayImage;
  overlay.SetBrush(kWhite);
  overlay.SetPen(1, kWhite);
  overlay.Rectangle(0, 0, Sim.PanelWidth, Sim.PanelHeight);
  overlay.SetPen(3, Sim.StreetColour(kItemStreetType[Controls.CB_strType]));
  overlay.MoveTo(Stroke.start.x * Sim.CellSize + Sim.HalfCell,
                 Stroke.start.y * Sim.CellSize + Sim.HalfCell);
  overlay.LineTo(x, y);
}

void Model::ZeichenPanelMouseUp(PointerButton button, int x, int y) {
  if (!HasStreetType(Controls)) {
    CancelStroke();
    return;
  }
  if (!Stroke.active || button != Stroke.button) return;
  DrawingLine = false;
  Stroke.active = false;
  const GridPos end = PixelToCell(x, y);
  Sim.LineStartCell = Stroke.start;
  Sim.LineEndCell = end;
  Sim.LineAngle = GridAtan2(int64_t(Stroke.start.y) - end.y, int64_t(Stroke.start.x) - end.x);
  const int32_t street = kItemStreetType[Controls.CB_strType];
  StreetLine& line = Sim.StreetLines[Stroke.lineIndex];
  line.EndX = end.x;
  line.EndY = end.y;
  line.Street = street;
  Sim.MarkStreetPath(end.x, end.y, street);
  Sim.StreetsChanged = true;
  // A failed rebuild still ends the stroke: the overlay goes and the picture is repainted.
  std::exception_ptr failure;
  if (!Controls.CB_hideAgs) {
    try {
      Sim.BuildNeighbourhoodWeights();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (Controls.CB_hideAgs) {
    Sim.DrawCells();
  } else {
    Sim.RepaintAll();
  }
  OverlayImage.reset();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace segwork
