#include <climits>

#include "core/convert.h"
#include "streets/streets.h"

namespace segwork {

std::vector<StreetLine> GridLayoutLines(int32_t n, int32_t rows, int32_t cols,
                                        const std::function<int32_t()>& type) {
  std::vector<StreetLine> lines;
  auto strips = [&](int32_t k, bool columns) {
    if (k <= 1) return;
    const int64_t spacing = RoundHalfEven(double(n) / k);
    for (int32_t a = 1; a <= k - 1; ++a) {
      const int32_t street = type();
      const int64_t at = int64_t(a) * spacing - 1;
      if (at < INT32_MIN || at > INT32_MAX) continue;  // outside the grid in any case
      const int32_t v = int32_t(at);
      // Drawn from the end at the top or left edge back to the start.
      if (columns) {
        lines.push_back({v, n - 1, v, 0, street});
      } else {
        lines.push_back({n - 1, v, 0, v, street});
      }
    }
  };
  strips(rows, true);
  strips(cols, false);
  return lines;
}

std::vector<StreetLine> RandomLayoutLines(int32_t n, int32_t count, Lcg& rng,
                                          const std::function<int32_t()>& type) {
  std::vector<StreetLine> lines;
  for (int32_t i = 0; i < count - 1; ++i) {
    const int32_t street = type();
    const int32_t endX = rng.Random(n), endY = rng.Random(n);
    const int32_t startX = rng.Random(n), startY = rng.Random(n);
    lines.push_back({startX, startY, endX, endY, street});
  }
  return lines;
}

}  // namespace segwork
