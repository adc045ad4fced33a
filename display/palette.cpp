#include "display/palette.h"

#include "core/convert.h"

namespace segwork {

colList MakeGroupPalette(int32_t n) {
  colList colours;
  if (n <= 0) return colours;
  colours.reserve(size_t(n));
  // A single group would divide by zero: it takes the first colour of the ramp.
  const double step = n > 1 ? 1275.0 / (n - 1) : 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t a = uint32_t(RoundHalfEven(i * step));
    if (a <= 255) {
      colours.push_back(Rgb(255, a, 0));
    } else if (a <= 510) {
      colours.push_back(Rgb(510 - a, 255, 0));
    } else if (a <= 765) {
      colours.push_back(Rgb(0, 255, a - 510));
    } else if (a <= 1020) {
      colours.push_back(Rgb(0, 1020 - a, 255));
    } else {
      colours.push_back(Rgb(a - 1020, 0, 255));
    }
  }
  return colours;
}

}  // namespace segwork
