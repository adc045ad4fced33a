#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "display/canvas.h"
#include "model/random.h"

namespace segwork {

using colList = std::vector<TColor>;

// std::nearbyint in the default rounding mode, inline: below 2^52, adding and taking away 2^52
// rounds to the nearest integer, ties to even (a zero may lose its sign).
inline double NearestInteger(double v) {
  constexpr double kTwo52 = 4503599627370496.0;
  if (!(std::fabs(v) < kTwo52)) return v;
  return v >= 0 ? (v + kTwo52) - kTwo52 : (v - kTwo52) + kTwo52;
}

// Round(r * (b - a + 1) + a) for r uniform in [0, 1): lies in a..b+1, the two ends half as
// likely as the values between. Inline: a move try draws two.
inline int32_t RandomBetween(Lcg& rng, int32_t a, int32_t b) {
  const double r = rng.RandomReal();
  // In 64 bits and doubles: b - a + 1 overflows 32 bits for the widest distances.
  const double span = static_cast<double>(int64_t{b} - int64_t{a} + 1);
  const double value = NearestInteger(r * span + static_cast<double>(a));
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

class TAgent {
 public:
  // The angle is not used; the move target is a random cell of a square around the agent.
  void ChangeHeading(Lcg& rng, int32_t /*angle*/, int32_t distance) {
    const int32_t low = distance == INT32_MIN ? INT32_MIN : -distance - 1;
    HeadingX = RandomBetween(rng, low, distance);
    HeadingY = RandomBetween(rng, low, distance);
  }
  void DrawAgent(Canvas& canvas) const;

  bool Satisfied = false;
  int32_t CellX = 0;
  int32_t CellY = 0;
  int32_t Group = 0;
  TColor Color = 0;
  int32_t PosX = 0;
  int32_t PosY = 0;
  int32_t Radius = 0;
  int32_t HeadingX = 0;
  int32_t HeadingY = 0;
};

}  // namespace segwork
