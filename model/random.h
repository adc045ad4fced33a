#pragma once

#include <cstdint>

namespace segwork {

// The one pseudo-random generator of a run: a 32-bit linear congruential generator,
// seed <- seed * 134775813 + 1 (mod 2^32). Every draw advances the seed once.
class Lcg {
 public:
  explicit Lcg(uint32_t seed = 0) : seed_(seed) {}

  void Seed(uint32_t seed) { seed_ = seed; }
  uint32_t State() const { return seed_; }

  // Uniform on 0..n-1: the high 32 bits of the 64-bit product of the new seed and n.
  int32_t Random(int32_t n) {
    const uint64_t product = uint64_t{Advance()} * uint64_t{static_cast<uint32_t>(n)};
    return static_cast<int32_t>(static_cast<uint32_t>(product >> 32));
  }
  // The new seed read as unsigned, times 2^-32: in [0, 1).
  double RandomReal() { return static_cast<double>(Advance()) * (1.0 / 4294967296.0); }
  // The new seed itself: RandomReal() is it times 2^-32.
  uint32_t Next() { return Advance(); }

 private:
  uint32_t Advance() { return seed_ = seed_ * 134775813u + 1u; }
  uint32_t seed_;
};

}  // namespace segwork
