#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace segwork {

constexpr uint32_t kLcgMul = 134775813u;

// k draws at once: seed * mul + add, with mul = kLcgMul^k and add = kLcgMul^(k-1) + ... + 1.
struct LcgJump {
  uint32_t mul, add;
};
template <int N>
constexpr std::array<LcgJump, N> LcgJumps() {
  std::array<LcgJump, N> jumps{};
  LcgJump j{1, 0};
  for (int k = 0; k < N; ++k) {
    j = {j.mul * kLcgMul, j.add * kLcgMul + 1u};
    jumps[size_t(k)] = j;
  }
  return jumps;
}

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

  // The seeds after 1, 2, ... kAhead more draws, each computed from this one alone, so that the
  // draws of several tries need not wait for one another. The generator does not move.
  static constexpr int kAhead = 8;
  std::array<uint32_t, kAhead> SeedsAhead() const {
    constexpr std::array<LcgJump, kAhead> kJumps = LcgJumps<kAhead>();
    std::array<uint32_t, kAhead> seeds{};
    for (size_t k = 0; k < kJumps.size(); ++k) seeds[k] = seed_ * kJumps[k].mul + kJumps[k].add;
    return seeds;
  }

 private:
  uint32_t Advance() { return seed_ = seed_ * kLcgMul + 1u; }

  uint32_t seed_;
};

}  // namespace segwork
