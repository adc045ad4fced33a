#include "core/agenten.h"

#include <cmath>

namespace segwork {

void TAgent::DrawAgent(Canvas& canvas) const {
  canvas.SetPen(1, Color);
  canvas.SetBrush(Color);
  if (Radius <= 0) {
    // Cell sizes 1 and 2 leave no room for a disc (its box would be empty or inverted): the agent
    // fills its cell's pitch instead, which starts HalfCell (1) left of the centre.
    const int side = Radius + 2;
    canvas.Rectangle(PosX - 1, PosY - 1, PosX - 1 + side, PosY - 1 + side);
    return;
  }
  canvas.Ellipse(PosX - Radius, PosY - Radius, PosX + Radius, PosY + Radius);
}

}  // namespace segwork
