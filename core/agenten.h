#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/canvas.h"
#include "core/random.h"

namespace segwork {

using colList = std::vector<TColor>;

// std::nearbyint in the default rounding mode, inline: below 2^52, adding and taking away 2^52
// rounds to the nearest integer, ties to even (a zero may lose its sign).
inline double NearestInteger(double v) {
  constexpr double kTwo52 = 4503599627370496.0;
  if (!(std::fabs(v) < kTwo52)) return v;
  return v >= 0 ? (v + kTwo52) - kTwo52 : (v - kTwo52) + kTwo52;
}

// A sum over 2^32 rounded half to even.
inline int32_t RoundOver32(int64_t sum) {
  return int32_t((sum + (int64_t{1} << 31) - 1 + ((sum >> 32) & 1)) >> 32);
}

// Small ends, for which every double below is a multiple of 2^-32 under 2^21 in size, exact in
// 53 bits: the sum is draw * span + a * 2^32 over 2^32, rounded in integers instead.
inline bool ExactInIntegers(int64_t span, int32_t a) {
  constexpr int64_t kExact = int64_t{1} << 20;
  return span >= 1 && span <= kExact && a >= -kExact && a <= kExact;
}

// Round(r * (b - a + 1) + a) for r = draw * 2^-32: lies in a..b+1, the two ends half as likely
// as the values between.
inline int32_t RoundedBetween(uint32_t draw, int32_t a, int32_t b) {
  const int64_t span = int64_t{b} - int64_t{a} + 1;
  if (ExactInIntegers(span, a)) return RoundOver32(int64_t(draw) * span + int64_t{a} * (1LL << 32));
  const double r = static_cast<double>(draw) * (1.0 / 4294967296.0);
  // In 64 bits and doubles: b - a + 1 overflows 32 bits for the widest distances.
  const double value = NearestInteger(r * static_cast<double>(span) + static_cast<double>(a));
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

inline int32_t RandomBetween(Lcg& rng, int32_t a, int32_t b) {
  return RoundedBetween(rng.Next(), a, b);
}

// The offsets of a move, RandomBetween(-distance - 1, distance), with the range checked once
// for the many tries of a turn.
class HeadingRange {
 public:
  explicit HeadingRange(int32_t distance)
      : low_(distance == INT32_MIN ? INT32_MIN : -distance - 1),
        high_(distance),
        span_(int64_t{high_} - int64_t{low_} + 1),
        shifted_(int64_t{low_} * (1LL << 32)),
        exact_(ExactInIntegers(span_, low_)) {}
  int32_t Draw(Lcg& rng) const { return FromDraw(rng.Next()); }
  int32_t FromDraw(uint32_t draw) const {
    return exact_ ? RoundOver32(int64_t(draw) * span_ + shifted_)
                  : RoundedBetween(draw, low_, high_);
  }
  // Every offset lies in -size..size - 1 for a grid side `size`, so one addition wraps it.
  bool WithinOneSize(int64_t size) const { return low_ >= -size && int64_t{high_} + 1 <= size; }
  // Whether offsets round in integers, from Span() and Low().
  bool Exact() const { return exact_; }
  int64_t Span() const { return span_; }
  int32_t Low() const { return low_; }

 private:
  int32_t low_, high_;
  int64_t span_, shifted_;
  bool exact_;
};

class TAgent {
 public:
  // The angle is not used; the move target is a random cell of a square around the agent.
  void ChangeHeading(Lcg& rng, int32_t /*angle*/, int32_t distance) {
    const HeadingRange range(distance);
    HeadingX = range.Draw(rng);
    HeadingY = range.Draw(rng);
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
