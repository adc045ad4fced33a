// Compares GridAtan2 with MPFR's correctly rounded atan2 (53 bits, to nearest) on every pair of
// whole numbers a grid can give: y in [-N, N], x in [-N, N]. Pairs with a common factor must give
// the angle of their reduced pair; below the axis the mirror image is GridAtan2's own, so only
// y >= 0 is walked. Usage: atan2_check [N [THREADS]], N = 10000 by default. Prints the counts and
// the first mismatches; exit status 1 on any mismatch or any rounding left undecided.
#include <mpfr.h>

#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "core/grid_atan2.h"

int main(int argc, char** argv) {
  const int64_t n = argc > 1 ? std::atoll(argv[1]) : 10000;
  const int threads = argc > 2 ? std::atoi(argv[2]) : 2;
  if (n < 1 || threads < 1) {
    std::fprintf(stderr, "usage: atan2_check [N [THREADS]]\n");
    return 2;
  }
  std::atomic<int64_t> nextRow{0}, pairs{0}, checked{0}, wrong{0}, unsure{0};
  std::mutex printing;
  auto work = [&] {
    mpfr_t r, my, mx;
    mpfr_inits2(53, r, my, mx, static_cast<mpfr_ptr>(nullptr));
    for (int64_t y; (y = nextRow++) <= n;) {
      int64_t rowPairs = 0, rowChecked = 0;
      for (int64_t x = -n; x <= n; ++x) {
        bool undecided = false;
        const double v = segwork::GridAtan2(y, x, &undecided);
        ++rowPairs;
        if (undecided) ++unsure;
        const int64_t g = std::gcd(y, x < 0 ? -x : x);
        double expected;
        if (g > 1) {
          expected = segwork::GridAtan2(y / g, x / g);
        } else {
          mpfr_set_si(my, long(y), MPFR_RNDN);
          mpfr_set_si(mx, long(x), MPFR_RNDN);
          mpfr_atan2(r, my, mx, MPFR_RNDN);
          expected = mpfr_get_d(r, MPFR_RNDN);
          ++rowChecked;
        }
        if (v != expected || std::signbit(v) != std::signbit(expected)) {
          if (wrong++ < 20) {
            std::lock_guard lock(printing);
            std::printf("atan2(%" PRId64 ", %" PRId64 "): %a, expected %a\n", y, x, v, expected);
          }
        }
      }
      pairs += rowPairs;
      checked += rowChecked;
    }
    mpfr_clears(r, my, mx, static_cast<mpfr_ptr>(nullptr));
    mpfr_free_cache();
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(work);
  for (auto& t : pool) t.join();
  std::printf("N=%" PRId64 ": %" PRId64 " pairs with y >= 0, %" PRId64 " against MPFR, %" PRId64
              " wrong, %" PRId64 " undecided\n",
              n, pairs.load(), checked.load(), wrong.load(), unsure.load());
  return wrong || unsure ? 1 : 0;
}
