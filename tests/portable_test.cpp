#include <gtest/gtest.h>
#include <mpfr.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/errors.h"
#include "core/extended.h"
#include "core/grid_atan2.h"
#include "experiments/series.h"

namespace segwork {
namespace {

// A generator of its own so the sample does not depend on the library's distributions.
struct Draw {
  uint64_t state;
  uint64_t Next() {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return state >> 11;
  }
  int64_t Between(int64_t low, int64_t high) {
    return low + int64_t(Next() % uint64_t(high - low + 1));
  }
};

TEST(GridAtan2, CorrectlyRoundedOnASampleOfGridPairs) {
  mpfr_t r, y, x;
  mpfr_inits2(53, r, y, x, static_cast<mpfr_ptr>(nullptr));
  auto check = [&](int64_t b, int64_t a) {
    mpfr_set_si(y, long(b), MPFR_RNDN);
    mpfr_set_si(x, long(a), MPFR_RNDN);
    mpfr_atan2(r, y, x, MPFR_RNDN);
    bool unsure = true;
    const double v = GridAtan2(b, a, &unsure);
    const double expected = mpfr_get_d(r, MPFR_RNDN);
    EXPECT_FALSE(unsure) << b << ", " << a;
    EXPECT_TRUE(v == expected && std::signbit(v) == std::signbit(expected))
        << "atan2(" << b << ", " << a << ") = " << v << ", expected " << expected;
    return v == expected;
  };
  // Every pair near the origin (axes, diagonals, the exact 45 degrees of drawn lines), the
  // corners of the largest grid, and random pairs up to a side of 10,000.
  for (int64_t b = -40; b <= 40; ++b)
    for (int64_t a = -40; a <= 40; ++a) check(b, a);
  for (const int64_t b : {-10000, -9999, 9999, 10000})
    for (const int64_t a : {-10000, -9999, -1, 0, 1, 9999, 10000}) check(b, a);
  Draw draw{7};
  int wrong = 0;
  for (int i = 0; i < 200000 && wrong < 10; ++i) {
    wrong += !check(draw.Between(-10000, 10000), draw.Between(-10000, 10000));
  }
  mpfr_clears(r, y, x, static_cast<mpfr_ptr>(nullptr));
}

#if SEGWORK_EXTENDED_IN_HARDWARE
using Bits = SoftExtended::Encoding;

Bits HardwareBits(long double v) {
  unsigned char bytes[sizeof(long double)] = {};
  std::memcpy(bytes, &v, sizeof v);
  Bits b{};
  std::memcpy(&b.significand, bytes, 8);
  std::memcpy(&b.signExponent, bytes + 8, 2);
  return b;
}

// Same bits as the x87 unit (NaNs only as NaN), and the same conversion to double.
::testing::AssertionResult Same(const SoftExtended& soft, long double hard) {
  const Bits s = soft.Encode(), h = HardwareBits(hard);
  if (std::isnan(hard) ? soft.IsNaN()
                       : s.signExponent == h.signExponent && s.significand == h.significand) {
    const double a = double(soft), b = double(hard);
    if (std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b))) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "as double " << a << " against " << b;
  }
  return ::testing::AssertionFailure()
         << std::hex << "soft " << s.signExponent << ":" << s.significand << " hardware "
         << h.signExponent << ":" << h.significand;
}

// Operands of every kind: small integers and percentages as the indices sum them, full 64-bit
// significands from earlier results, near-equal values that cancel, huge and tiny ones that
// overflow and go subnormal, zeros of both signs, infinities.
TEST(SoftExtended, SameBitsAsTheX87UnitOverManyOperations) {
  Draw draw{2024};
  std::vector<long double> pool = {0.0L, -0.0L, 1.0L, 100.0L, 0.5L, INFINITY, -INFINITY};
  auto fresh = [&]() -> long double {
    switch (draw.Next() % 6) {
      case 0:
        return (long double)draw.Between(-100000, 100000);
      case 1:
        return (long double)draw.Between(0, 5000) / draw.Between(1, 5000) * 100;
      case 2:
        return std::ldexp((long double)(draw.Next()) * (draw.Next() % 2 ? 1 : -1),
                          int(draw.Between(-16500, 16400)));
      case 3:
        return std::ldexp(double(draw.Next()), int(draw.Between(-1100, 1000)));
      default:
        return pool[draw.Next() % pool.size()];
    }
  };
  int failures = 0;
  for (int i = 0; i < 400000 && failures < 10; ++i) {
    const long double a = fresh(), b = draw.Next() % 4 ? fresh() : std::nextafter(a, 0.0L);
    const SoftExtended sa = SoftExtended::Decode(HardwareBits(a));
    const SoftExtended sb = SoftExtended::Decode(HardwareBits(b));
    ASSERT_TRUE(Same(sa, a));
    long double r = 0;
    SoftExtended s;
    switch (i % 4) {
      case 0:
        r = a + b, s = sa + sb;
        break;
      case 1:
        r = a - b, s = sa - sb;
        break;
      case 2:
        r = a * b, s = sa * sb;
        break;
      default:
        r = a / b, s = sa / sb;
        break;
    }
    const ::testing::AssertionResult same = Same(s, r);
    EXPECT_TRUE(same) << double(a) << " op" << i % 4 << " " << double(b);
    EXPECT_EQ(sa < sb, a < b);
    EXPECT_EQ(sa == sb, a == b);
    EXPECT_EQ(sa >= sb, a >= b);
    failures += !same;
    if (std::isfinite(r) && r != 0 && pool.size() < 5000) pool.push_back(r);
  }
  // From doubles and integers, exactly.
  for (const double d : {0.1, -1e-310, 1e300, 4.9e-324}) EXPECT_TRUE(Same(SoftExtended(d), d));
  for (const int64_t n : {INT64_MIN, INT64_MAX, int64_t(-7)}) {
    EXPECT_TRUE(Same(SoftExtended(n), (long double)n));
  }
  // A long sum of percentages, as the segregation indices add up their tiles.
  SoftExtended soft = 0;
  long double hard = 0;
  for (int i = 0; i < 100000; ++i) {
    const int c = int(draw.Between(0, 400)), t = int(draw.Between(1, 12000));
    const SoftExtended sc = SoftExtended(c) / SoftExtended(t) * 100;
    const long double hc = (long double)c / t * 100;
    soft += Abs(sc - (i % 7));
    hard += std::fabs(hc - (i % 7));
  }
  EXPECT_TRUE(Same(soft * 0.5, hard * 0.5L));
}

// The curve fit of the experiment windows, every degree, over series like theirs (steps against
// percentages, long and short, with repeated x): the same doubles, or both refused.
TEST(SoftExtended, CurveFitGivesTheX87UnitsPoints) {
  Draw draw{99};
  for (int set = 0; set < 12; ++set) {
    std::vector<SeriesPoint> points;
    const int n = int(draw.Between(2, 400));
    const double step = double(draw.Between(1, set % 2 ? 5000 : 10));
    for (int i = 0; i < n; ++i) {
      points.push_back({double(i / (set % 3 + 1)) * step, double(draw.Between(0, 1000000)) / 7919});
    }
    for (int32_t degree = 1; degree <= 20; ++degree) {
      std::vector<SeriesPoint> hard, soft;
      bool hardFailed = false, softFailed = false;
      try {
        hard = FitPolynomial<long double>(points, degree);
      } catch (const SegworkError&) {
        hardFailed = true;
      }
      try {
        soft = FitPolynomial<SoftExtended>(points, degree);
      } catch (const SegworkError&) {
        softFailed = true;
      }
      ASSERT_EQ(hardFailed, softFailed) << "set " << set << " degree " << degree;
      ASSERT_EQ(hard.size(), soft.size());
      for (size_t i = 0; i < hard.size(); ++i) {
        ASSERT_EQ(std::memcmp(&hard[i].y, &soft[i].y, sizeof(double)), 0)
            << "set " << set << " degree " << degree << " point " << i << ": " << hard[i].y
            << " against " << soft[i].y;
      }
    }
  }
}
#endif

}  // namespace
}  // namespace segwork
