#include "core/cell_P.h"

#include "core/large_arrays.h"

namespace segwork {

void DrawCellAt(Canvas& canvas, int32_t positionX, int32_t positionY, int32_t size, TColor colour) {
  canvas.SetPen(0, kSilver);
  canvas.SetBrush(colour);
  canvas.Rectangle(positionX - size, positionY - size, positionX + size, positionY + size);
}

void TCell::DrawCell(Canvas& canvas) const {
  DrawCellAt(canvas, PositionX, PositionY, Size, DrawColor);
}

void CellSpace::Create(int32_t cols, int32_t rows, int32_t cellSize, int32_t halfCell) {
  ColCount = cols;
  RowCount = rows;
  CellSize = cellSize;
  HalfCell = halfCell;
  const size_t n = size_t(cols) * size_t(rows);
  AssignLarge(State, n, 0);
  AssignLarge(Occupied, n, 0);
  AssignLarge(Street, n, 0);
  AssignLarge(Weight, n, 0.0);
  AssignLarge(SimilarShare, n, 0.0);
  AssignLarge(SimilarWeight, n, 0.0);
  AssignLarge(OtherWeight, n, 0.0);
  AssignLarge(DrawColor, n, 0);
  AssignLarge(ClusterVisited, n, 0);
}

TCell CellSpace::operator[](size_t i) {
  return {State[i],
          Occupied[i],
          Street[i],
          Weight[i],
          SimilarShare[i],
          SimilarWeight[i],
          OtherWeight[i],
          DrawColor[i],
          ClusterVisited[i],
          XOf(i) * CellSize + HalfCell,
          YOf(i) * CellSize + HalfCell,
          HalfCell,
          0};
}

void CellSpace::DrawCell(size_t i, Canvas& canvas) const {
  if (CellSize == 1) {
    // No room for an outline: the square of half-size 1 would cover the neighbours' pixels in
    // silver. The cell is its one pixel in its own colour.
    const int32_t x = XOf(i), y = YOf(i);
    canvas.SetPen(0, DrawColor[i]);
    canvas.SetBrush(DrawColor[i]);
    canvas.Rectangle(x, y, x + 1, y + 1);
    return;
  }
  DrawCellAt(canvas, XOf(i) * CellSize + HalfCell, YOf(i) * CellSize + HalfCell, HalfCell,
             DrawColor[i]);
}

}  // namespace segwork
