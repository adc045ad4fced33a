#pragma once

#include <cfloat>
#include <cmath>
#include <compare>
#include <concepts>
#include <cstdint>

namespace segwork {

// The x87 extended format in software: a 64-bit significand, a 15-bit exponent with gradual
// underflow, every operation rounded to nearest, ties to even, as the x87 unit rounds at its
// default precision. Sums that were written for `long double` on x86-64 give the same bits with
// it where `long double` is another format (128 bits on arm64 and WebAssembly, 64 elsewhere).
// NaNs carry no payload.
class SoftExtended {
 public:
  constexpr SoftExtended() = default;
  SoftExtended(double value);
  template <std::integral I>
  SoftExtended(I value) : SoftExtended(FromInteger(value < 0, Magnitude(value))) {}

  explicit operator double() const;

  friend SoftExtended operator+(const SoftExtended& a, const SoftExtended& b);
  friend SoftExtended operator-(const SoftExtended& a, const SoftExtended& b);
  friend SoftExtended operator*(const SoftExtended& a, const SoftExtended& b);
  friend SoftExtended operator/(const SoftExtended& a, const SoftExtended& b);
  friend SoftExtended operator-(SoftExtended a) {
    a.negative_ = !a.negative_;
    return a;
  }
  SoftExtended& operator+=(const SoftExtended& b) { return *this = *this + b; }
  SoftExtended& operator-=(const SoftExtended& b) { return *this = *this - b; }
  SoftExtended& operator*=(const SoftExtended& b) { return *this = *this * b; }
  SoftExtended& operator/=(const SoftExtended& b) { return *this = *this / b; }

  friend bool operator==(const SoftExtended& a, const SoftExtended& b) {
    return (a <=> b) == std::partial_ordering::equivalent;
  }
  friend std::partial_ordering operator<=>(const SoftExtended& a, const SoftExtended& b);

  friend SoftExtended Abs(SoftExtended a) {
    a.negative_ = false;
    return a;
  }

  // The x87 encoding: sign and biased exponent, and the significand with its explicit top bit.
  struct Encoding {
    uint16_t signExponent;
    uint64_t significand;
  };
  Encoding Encode() const;
  static SoftExtended Decode(Encoding e);
  bool IsNaN() const { return kind_ == Kind::kNaN; }

 private:
  enum class Kind : uint8_t { kZero, kFinite, kInfinite, kNaN };
  template <std::integral I>
  static uint64_t Magnitude(I value) {
    if constexpr (std::signed_integral<I>) {
      return value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    } else {
      return uint64_t(value);
    }
  }
  static SoftExtended FromInteger(bool negative, uint64_t magnitude);
  static SoftExtended Special(Kind kind, bool negative) {
    SoftExtended r;
    r.kind_ = kind;
    r.negative_ = negative;
    return r;
  }
  friend struct ExtendedRounding;

  // A finite value is significand_ * 2^(exponent_ - 63); below the smallest normal exponent the
  // significand's top bit is clear.
  uint64_t significand_ = 0;
  int32_t exponent_ = 0;
  bool negative_ = false;
  Kind kind_ = Kind::kZero;
};

// The type the indices and the curve fit sum in: the hardware's where `long double` is the x87
// format, the software one elsewhere.
#if LDBL_MANT_DIG == 64 && LDBL_MAX_EXP == 16384 && LDBL_MIN_EXP == -16381
#define SEGWORK_EXTENDED_IN_HARDWARE 1
using ExtendedReal = long double;
inline long double Abs(long double v) {
  return std::fabs(v);
}
#else
#define SEGWORK_EXTENDED_IN_HARDWARE 0
using ExtendedReal = SoftExtended;
#endif

}  // namespace segwork
