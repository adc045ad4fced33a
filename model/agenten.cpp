#include "model/agenten.h"

#include <cmath>

namespace segwork {

int32_t RandomBetween(Lcg& rng, int32_t a, int32_t b) {
  const double r = rng.RandomReal();
  // In 64 bits and doubles: b - a + 1 overflows 32 bits for the widest distances.
  const double span = static_cast<double>(int64_t{b} - int64_t{a} + 1);
  const double value = std::nearbyint(r * span + static_cast<double>(a));
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

void TAgent::ChangeHeading(Lcg& rng, int32_t /*angle*/, int32_t distance) {
  const int32_t low = distance == INT32_MIN ? INT32_MIN : -distance - 1;
  HeadingX = RandomBetween(rng, low, distance);
  HeadingY = RandomBetween(rng, low, distance);
}

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
