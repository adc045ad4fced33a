#include "core/grid_atan2.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace segwork {

namespace {

// Double-double arithmetic: a value is hi + lo with |lo| <= half an ulp of hi. Every operation is
// made of exactly rounded double operations (products split by Dekker's method, no fused
// multiply-add), so it gives the same bits wherever doubles are IEEE binary64.
struct DD {
  double hi, lo;
};

DD QuickTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

DD TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

DD Split(double a) {
  const double t = 134217729.0 * a;  // 2^27 + 1
  const double hi = t - (t - a);
  return {hi, a - hi};
}

DD TwoProduct(double a, double b) {
  const double p = a * b;
  const DD x = Split(a), y = Split(b);
  return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

DD Add(DD a, DD b) {
  DD s = TwoSum(a.hi, b.hi);
  const DD t = TwoSum(a.lo, b.lo);
  s.lo += t.hi;
  s = QuickTwoSum(s.hi, s.lo);
  s.lo += t.lo;
  return QuickTwoSum(s.hi, s.lo);
}

DD Negate(DD a) {
  return {-a.hi, -a.lo};
}

DD Multiply(DD a, DD b) {
  DD p = TwoProduct(a.hi, b.hi);
  p.lo += a.hi * b.lo + a.lo * b.hi;
  return QuickTwoSum(p.hi, p.lo);
}

DD Divide(DD a, DD b) {
  const double q1 = a.hi / b.hi;
  DD r = Add(a, Negate(Multiply({q1, 0}, b)));
  const double q2 = r.hi / b.hi;
  r = Add(r, Negate(Multiply({q2, 0}, b)));
  const double q3 = r.hi / b.hi;
  return Add(QuickTwoSum(q1, q2), {q3, 0});
}

// atan(i / 16), rounded to 106 bits.
constexpr std::array<DD, 17> kAtanTable{{
    {0x0p+0, 0x0p+0},
    {0x1.ff55bb72cfdeap-5, -0x1.c934d86d23f1dp-60},
    {0x1.fd5ba9aac2f6ep-4, -0x1.cd37686760c17p-59},
    {0x1.7b97b4bce5b02p-3, 0x1.347b0b4f881cap-58},
    {0x1.f5b75f92c80ddp-3, 0x1.8ab6e3cf7afbdp-57},
    {0x1.362773707ebccp-2, -0x1.963a544b672d8p-57},
    {0x1.6f61941e4def1p-2, -0x1.c63aae6f6e918p-56},
    {0x1.a64eec3cc23fdp-2, -0x1.24dec1b50b7ffp-56},
    {0x1.dac670561bb4fp-2, 0x1.a2b7f222f65e2p-56},
    {0x1.0657e94db30dp-1, -0x1.d5b495f6349e6p-56},
    {0x1.1e00babdefeb4p-1, -0x1.928df287a668fp-58},
    {0x1.345f01cce37bbp-1, 0x1.1021137c71102p-55},
    {0x1.4978fa3269ee1p-1, 0x1.2419a87f2a458p-56},
    {0x1.5d58987169b18p-1, 0x1.0028e4bc5e7cap-57},
    {0x1.700a7c5784634p-1, -0x1.8c34d25aadef6p-56},
    {0x1.819d0b7158a4dp-1, -0x1.bf76229d3b917p-56},
    {0x1.921fb54442d18p-1, 0x1.1a62633145c07p-55},
}};
constexpr DD kPi{0x1.921fb54442d18p+1, 0x1.1a62633145c07p-53};
constexpr DD kHalfPi{0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54};

// Odd terms of the series up to u^23: for |u| <= 1/32 the first left out is below 2^-120.
constexpr int kTerms = 12;

const std::array<DD, kTerms>& SeriesCoefficients() {
  static const std::array<DD, kTerms> c = [] {
    std::array<DD, kTerms> r{};
    for (int k = 0; k < kTerms; ++k) {
      const DD v = Divide({1, 0}, {double(2 * k + 1), 0});
      r[size_t(k)] = k % 2 ? Negate(v) : v;
    }
    return r;
  }();
  return c;
}

// atan(a / b) for 0 <= a <= b, b > 0, both below 2^32: atan(i/16) from the table plus the atan of
// the rest, (16a - ib) / (16b + ia), whose numerator and denominator are exact integers.
DD AtanOfRatio(int64_t a, int64_t b) {
  const int64_t i = (32 * a + b) / (2 * b);
  const DD u = Divide({double(16 * a - i * b), 0}, {double(16 * b + i * a), 0});
  const DD u2 = Multiply(u, u);
  const auto& c = SeriesCoefficients();
  DD sum = c[kTerms - 1];
  for (int k = kTerms - 2; k >= 0; --k) sum = Add(Multiply(sum, u2), c[size_t(k)]);
  return Add(kAtanTable[size_t(i)], Multiply(u, sum));
}

}  // namespace

double GridAtan2(int64_t y, int64_t x, bool* unsure) {
  if (unsure) *unsure = false;
  constexpr int64_t kLimit = int64_t(1) << 32;
  if (y <= -kLimit || y >= kLimit || x <= -kLimit || x >= kLimit) {
    return std::atan2(double(y), double(x));
  }
  // Correct rounding is symmetric, so below the axis is the mirror image.
  if (y < 0) return -GridAtan2(-y, x, unsure);
  if (y == 0) return x < 0 ? kPi.hi : 0.0;
  const int64_t ax = std::llabs(x);
  DD angle;
  if (y <= ax) {
    const DD a = AtanOfRatio(y, ax);
    angle = x > 0 ? a : Add(kPi, Negate(a));
  } else {
    const DD a = AtanOfRatio(ax, y);
    angle = x >= 0 ? Add(kHalfPi, Negate(a)) : Add(kHalfPi, a);
  }
  // The sum above is within 2^-100 of the angle (relative); hi is the correctly rounded angle
  // unless the angle could lie on the other side of a midpoint between two doubles.
  if (unsure) {
    const double bound = std::ldexp(std::fabs(angle.hi), -96);
    const double up = std::nextafter(angle.hi, INFINITY) - angle.hi;
    const double down = angle.hi - std::nextafter(angle.hi, 0.0);
    *unsure = angle.lo + bound >= up / 2 || angle.lo - bound <= -down / 2;
  }
  return angle.hi;
}

}  // namespace segwork
