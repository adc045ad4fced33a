#pragma once

#include <cstdint>
#include <vector>

#include "display/canvas.h"
#include "model/random.h"

namespace segwork {

using colList = std::vector<TColor>;

// Round(r * (b - a + 1) + a) for r uniform in [0, 1): lies in a..b+1, the two ends half as
// likely as the values between.
int32_t RandomBetween(Lcg& rng, int32_t a, int32_t b);

class TAgent {
 public:
  // The angle is not used; the move target is a random cell of a square around the agent.
  void ChangeHeading(Lcg& rng, int32_t angle, int32_t distance);
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
