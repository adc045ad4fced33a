#include "core/extended.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace segwork {

using Wide = unsigned __int128;

namespace {

constexpr int32_t kMinExponent = -16382;  // of the smallest normal value
constexpr int32_t kMaxExponent = 16383;

int TopBit(Wide v) {
  const uint64_t high = uint64_t(v >> 64);
  return high ? 127 - std::countl_zero(high) : 63 - std::countl_zero(uint64_t(v));
}

// `bits` (at least 1) bits of v from its top one, the rest rounded to nearest, ties to even. The
// lowest bit kept weighs 2^shift times v's lowest bit. The result may be 2^bits after rounding up.
Wide RoundToBits(Wide v, int bits, int topBit, int& shift) {
  shift = topBit + 1 - bits;
  if (shift <= 0) {
    shift = 0;
    return v;
  }
  Wide kept = v >> shift;
  const Wide rest = v & ((Wide(1) << shift) - 1), half = Wide(1) << (shift - 1);
  if (rest > half || (rest == half && (kept & 1))) ++kept;
  return kept;
}

}  // namespace

// value = magnitude * 2^e, rounded into the format.
struct ExtendedRounding {
  static SoftExtended Round(bool negative, int32_t e, Wide magnitude) {
    if (magnitude == 0) return SoftExtended::Special(SoftExtended::Kind::kZero, negative);
    const int top = TopBit(magnitude);
    const int64_t exponent = int64_t(e) + top;  // of the top bit
    // The smallest subnormal is 2^(kMinExponent - 63): below half of it is zero.
    if (exponent < kMinExponent - 64)
      return SoftExtended::Special(SoftExtended::Kind::kZero, negative);
    int shift = 0;
    Wide kept;
    if (exponent == kMinExponent - 64) {
      shift = top + 1;
      kept = magnitude > (Wide(1) << top) ? 1 : 0;
    } else {
      const int bits = exponent < kMinExponent ? int(64 - (kMinExponent - exponent)) : 64;
      kept = RoundToBits(magnitude, bits, top, shift);
    }
    if (kept == 0) return SoftExtended::Special(SoftExtended::Kind::kZero, negative);
    int64_t lowWeight = int64_t(e) + shift;  // kept * 2^lowWeight
    if (kept >> 64) {                        // rounded up to 2^64
      kept >>= 1;
      ++lowWeight;
    }
    uint64_t significand = uint64_t(kept);
    int lead = std::countl_zero(significand);
    int64_t resultExponent = lowWeight + 63 - lead;
    if (resultExponent < kMinExponent) {
      lead -= int(kMinExponent - resultExponent);
      resultExponent = kMinExponent;
    }
    if (resultExponent > kMaxExponent) {
      return SoftExtended::Special(SoftExtended::Kind::kInfinite, negative);
    }
    SoftExtended r;
    r.kind_ = SoftExtended::Kind::kFinite;
    r.negative_ = negative;
    r.significand_ = significand << lead;
    r.exponent_ = int32_t(resultExponent);
    return r;
  }

  // Magnitudes compared; both finite.
  static int CompareMagnitudes(const SoftExtended& a, const SoftExtended& b) {
    // A subnormal's exponent is the smallest normal one and its top bit is clear, so exponent
    // then significand orders them too.
    if (a.exponent_ != b.exponent_) return a.exponent_ < b.exponent_ ? -1 : 1;
    if (a.significand_ != b.significand_) return a.significand_ < b.significand_ ? -1 : 1;
    return 0;
  }

  static SoftExtended Add(const SoftExtended& x, const SoftExtended& y, bool subtract) {
    using K = SoftExtended::Kind;
    const bool yNegative = y.negative_ != subtract;
    if (x.kind_ == K::kNaN || y.kind_ == K::kNaN) return SoftExtended::Special(K::kNaN, false);
    if (x.kind_ == K::kInfinite || y.kind_ == K::kInfinite) {
      if (x.kind_ == K::kInfinite && y.kind_ == K::kInfinite && x.negative_ != yNegative) {
        return SoftExtended::Special(K::kNaN, true);
      }
      return x.kind_ == K::kInfinite ? x : SoftExtended::Special(K::kInfinite, yNegative);
    }
    if (y.kind_ == K::kZero) {
      if (x.kind_ == K::kZero) return SoftExtended::Special(K::kZero, x.negative_ && yNegative);
      return x;
    }
    if (x.kind_ == K::kZero) {
      SoftExtended r = y;
      r.negative_ = yNegative;
      return r;
    }
    const bool xLarger = CompareMagnitudes(x, y) >= 0;
    const SoftExtended& big = xLarger ? x : y;
    const SoftExtended& small = xLarger ? y : x;
    const bool bigNegative = xLarger ? x.negative_ : yNegative;
    const bool smallNegative = xLarger ? yNegative : x.negative_;
    // 63 bits below the significands keep the rounding exact; what shifts out of the smaller
    // one is kept as a sticky lowest bit, far below any rounding position.
    const Wide a = Wide(big.significand_) << 63;
    Wide b = Wide(small.significand_) << 63;
    const int64_t d = int64_t(big.exponent_) - small.exponent_;
    if (d >= 127) {
      b = 1;
    } else if (d > 0) {
      const bool lost = (b & ((Wide(1) << d) - 1)) != 0;
      b = (b >> d) | Wide(lost);
    }
    const int32_t e = big.exponent_ - 126;
    if (bigNegative == smallNegative) return Round(bigNegative, e, a + b);
    if (a == b) return SoftExtended::Special(K::kZero, false);
    return Round(bigNegative, e, a - b);
  }

  static SoftExtended Multiply(const SoftExtended& x, const SoftExtended& y) {
    using K = SoftExtended::Kind;
    const bool negative = x.negative_ != y.negative_;
    if (x.kind_ == K::kNaN || y.kind_ == K::kNaN) return SoftExtended::Special(K::kNaN, false);
    if (x.kind_ == K::kInfinite || y.kind_ == K::kInfinite) {
      if (x.kind_ == K::kZero || y.kind_ == K::kZero) return SoftExtended::Special(K::kNaN, true);
      return SoftExtended::Special(K::kInfinite, negative);
    }
    if (x.kind_ == K::kZero || y.kind_ == K::kZero)
      return SoftExtended::Special(K::kZero, negative);
    return Round(negative, x.exponent_ + y.exponent_ - 126,
                 Wide(x.significand_) * Wide(y.significand_));
  }

  static SoftExtended Divide(const SoftExtended& x, const SoftExtended& y) {
    using K = SoftExtended::Kind;
    const bool negative = x.negative_ != y.negative_;
    if (x.kind_ == K::kNaN || y.kind_ == K::kNaN) return SoftExtended::Special(K::kNaN, false);
    if (x.kind_ == K::kInfinite) {
      if (y.kind_ == K::kInfinite) return SoftExtended::Special(K::kNaN, true);
      return SoftExtended::Special(K::kInfinite, negative);
    }
    if (y.kind_ == K::kInfinite) return SoftExtended::Special(K::kZero, negative);
    if (y.kind_ == K::kZero) {
      if (x.kind_ == K::kZero) return SoftExtended::Special(K::kNaN, true);
      return SoftExtended::Special(K::kInfinite, negative);
    }
    if (x.kind_ == K::kZero) return SoftExtended::Special(K::kZero, negative);
    // Subnormals normalised: both significands get their top bit set.
    const int lx = std::countl_zero(x.significand_), ly = std::countl_zero(y.significand_);
    const uint64_t a = x.significand_ << lx, b = y.significand_ << ly;
    const Wide numerator = Wide(a) << 64;
    const Wide q = numerator / b, r = numerator % b;
    // Eight more quotient bits, then the remainder as a sticky bit.
    const Wide q2 = (q << 8) | ((r << 8) / b);
    const Wide r2 = (r << 8) % b;
    const int32_t e = (x.exponent_ - lx) - (y.exponent_ - ly) - 72;
    return Round(negative, e, q2 | Wide(r2 != 0));
  }
};

SoftExtended::SoftExtended(double value) {
  if (std::isnan(value)) {
    *this = Special(Kind::kNaN, std::signbit(value));
    return;
  }
  if (std::isinf(value)) {
    *this = Special(Kind::kInfinite, value < 0);
    return;
  }
  if (value == 0) {
    *this = Special(Kind::kZero, std::signbit(value));
    return;
  }
  int e = 0;
  const double m = std::frexp(std::fabs(value), &e);  // in [0.5, 1), exact
  kind_ = Kind::kFinite;
  negative_ = value < 0;
  significand_ = uint64_t(std::ldexp(m, 64));
  exponent_ = e - 1;
}

SoftExtended SoftExtended::FromInteger(bool negative, uint64_t magnitude) {
  return ExtendedRounding::Round(negative, 0, magnitude);
}

SoftExtended::operator double() const {
  switch (kind_) {
    case Kind::kNaN:
      return negative_ ? -NAN : NAN;
    case Kind::kInfinite:
      return negative_ ? -INFINITY : INFINITY;
    case Kind::kZero:
      return negative_ ? -0.0 : 0.0;
    case Kind::kFinite:
      break;
  }
  // 53 bits, fewer below the smallest normal double, rounded as the conversion rounds.
  const int lead = std::countl_zero(significand_);
  const int top = 63 - lead;
  const int64_t exponent = int64_t(exponent_) - lead;  // of the top bit
  const double zero = negative_ ? -0.0 : 0.0;
  if (exponent < -1075) return zero;  // below half the smallest subnormal
  int shift = 0;
  uint64_t kept;
  if (exponent == -1075) {
    shift = top + 1;
    kept = significand_ > (uint64_t(1) << top) ? 1 : 0;
  } else {
    const int bits = exponent < -1022 ? int(53 - (-1022 - exponent)) : 53;
    kept = uint64_t(RoundToBits(significand_, bits, top, shift));
  }
  if (exponent > 1023) return negative_ ? -INFINITY : INFINITY;
  // kept * 2^weight is a double or beyond the largest, so the scaling is exact or overflows.
  const double magnitude = std::ldexp(double(kept), int(int64_t(exponent_) - 63 + shift));
  return negative_ ? -magnitude : magnitude;
}

std::partial_ordering operator<=>(const SoftExtended& a, const SoftExtended& b) {
  using K = SoftExtended::Kind;
  if (a.kind_ == K::kNaN || b.kind_ == K::kNaN) return std::partial_ordering::unordered;
  // A sign and a rank of magnitude: zero, finite, infinite.
  auto rank = [](const SoftExtended& v) {
    return v.kind_ == K::kZero ? 0 : v.kind_ == K::kFinite ? 1 : 2;
  };
  const int ra = rank(a), rb = rank(b);
  if (ra == 0 && rb == 0) return std::partial_ordering::equivalent;
  const int sa = ra == 0 ? 0 : a.negative_ ? -1 : 1;
  const int sb = rb == 0 ? 0 : b.negative_ ? -1 : 1;
  if (sa != sb) return sa < sb ? std::partial_ordering::less : std::partial_ordering::greater;
  int magnitude = ra != rb  ? (ra < rb ? -1 : 1)
                  : ra == 1 ? ExtendedRounding::CompareMagnitudes(a, b)
                            : 0;
  if (sa < 0) magnitude = -magnitude;
  return magnitude < 0   ? std::partial_ordering::less
         : magnitude > 0 ? std::partial_ordering::greater
                         : std::partial_ordering::equivalent;
}

SoftExtended operator+(const SoftExtended& a, const SoftExtended& b) {
  return ExtendedRounding::Add(a, b, false);
}
SoftExtended operator-(const SoftExtended& a, const SoftExtended& b) {
  return ExtendedRounding::Add(a, b, true);
}
SoftExtended operator*(const SoftExtended& a, const SoftExtended& b) {
  return ExtendedRounding::Multiply(a, b);
}
SoftExtended operator/(const SoftExtended& a, const SoftExtended& b) {
  return ExtendedRounding::Divide(a, b);
}

SoftExtended::Encoding SoftExtended::Encode() const {
  const uint16_t sign = negative_ ? 0x8000 : 0;
  switch (kind_) {
    case Kind::kZero:
      return {sign, 0};
    case Kind::kInfinite:
      return {uint16_t(sign | 0x7fff), uint64_t(1) << 63};
    case Kind::kNaN:
      return {uint16_t(sign | 0x7fff), uint64_t(3) << 62};
    case Kind::kFinite:
      break;
  }
  const bool subnormal = (significand_ >> 63) == 0;
  return {uint16_t(sign | (subnormal ? 0 : exponent_ + 16383)), significand_};
}

SoftExtended SoftExtended::Decode(Encoding e) {
  const bool negative = e.signExponent >> 15;
  const int biased = e.signExponent & 0x7fff;
  if (biased == 0x7fff) {
    return Special((e.significand << 1) ? Kind::kNaN : Kind::kInfinite, negative);
  }
  if (e.significand == 0) return Special(Kind::kZero, negative);
  // A biased exponent of 0 is a subnormal, weighing as the smallest normal exponent.
  return ExtendedRounding::Round(negative, (biased ? biased - 16383 : kMinExponent) - 63,
                                 e.significand);
}

}  // namespace segwork
