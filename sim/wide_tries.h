#pragma once

#include <cstdint>

namespace segwork {

// What the tries of a turn look at: a target is admissible when free and, unless streets may be
// occupied, not a street cell.
struct TryWorld {
  const uint8_t* occupied;
  const int32_t* street;
  bool streetOccupation;
  int32_t cols, rows;
};

struct TryOutcome {
  bool found;
  uint32_t seed;   // the generator after the last try made
  int32_t dx, dy;  // the last try's offsets
  int32_t tx, ty;  // and its target
};

// Whether this processor runs WideTries; false also forces the tries a few at a time (tests).
bool WideTriesAvailable();
void SetWideTries(bool on);

// `batches` times eight tries from the cell (x, y), drawn from `seed` as the tries one by one
// draw them (x offset, then y offset), until the first admissible target. Offsets are
// RoundOver32(draw * span + low * 2^32), so span and |low| must be at most 2^20, every offset
// within one grid side, and the grid under 2^31 cells.
TryOutcome WideTries(const TryWorld& world, int32_t x, int32_t y, uint32_t seed, int64_t span,
                     int32_t low, int batches);

}  // namespace segwork
