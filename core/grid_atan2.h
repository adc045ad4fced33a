#pragma once

#include <cstdint>

namespace segwork {

// atan2(y, x) of whole numbers, correctly rounded to the nearest double, with the same bits on
// every machine: it uses only additions, multiplications and divisions of doubles, never the C
// library's atan2, whose last bit differs between libraries and builds. A street's path is decided
// by near-ties between such angles. Checked against MPFR for every pair with |y|, |x| <= 10000 by
// tools/atan2_check. Differences of grid coordinates stay below 2^32 either way; beyond that the C
// library's atan2 answers. `unsure`, when given, is set where the rounding could not be decided
// with the error bound to spare (nowhere in the checked range).
double GridAtan2(int64_t y, int64_t x, bool* unsure = nullptr);

}  // namespace segwork
