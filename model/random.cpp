#include "model/random.h"

namespace segwork {

int32_t Lcg::Random(int32_t n) {
  const uint64_t product = uint64_t{Advance()} * uint64_t{static_cast<uint32_t>(n)};
  return static_cast<int32_t>(static_cast<uint32_t>(product >> 32));
}

double Lcg::RandomReal() {
  return static_cast<double>(Advance()) * (1.0 / 4294967296.0);
}

}  // namespace segwork
