#include "model/cell_P.h"

namespace segwork {

void TCell::DrawCell(Canvas& canvas) const {
  canvas.SetPen(0, kSilver);
  canvas.SetBrush(DrawColor);
  canvas.Rectangle(PositionX - Size, PositionY - Size, PositionX + Size, PositionY + Size);
}

}  // namespace segwork
