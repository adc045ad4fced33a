#include "sim/wide_tries.h"

#include <array>
#include <atomic>
#include <cstdlib>

#include "core/large_arrays.h"
#include "core/random.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace segwork {

namespace {

bool Supported() {
#if defined(__x86_64__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

std::atomic<bool>& Enabled() {
  static std::atomic<bool> on{Supported()};
  return on;
}

}  // namespace

bool WideTriesAvailable() {
  return Enabled().load(std::memory_order_relaxed);
}

void SetWideTries(bool on) {
  Enabled().store(on && Supported(), std::memory_order_relaxed);
}

#if defined(__x86_64__)

// Compiled for AVX2 whatever the build's target; called only where the processor has it.
#define SEGWORK_AVX2 __attribute__((target("avx2")))

namespace {

constexpr std::array<LcgJump, 16> kJumps = LcgJumps<16>();

// Try j draws its x offset with the (2j + 1)-th draw, its y offset with the (2j + 2)-th.
template <int kFirst, bool kMul>
constexpr std::array<uint32_t, 8> Lanes() {
  std::array<uint32_t, 8> lanes{};
  for (size_t j = 0; j < 8; ++j) {
    const LcgJump& jump = kJumps[2 * j + kFirst];
    lanes[j] = kMul ? jump.mul : jump.add;
  }
  return lanes;
}
alignas(32) constexpr std::array<uint32_t, 8> kMulX = Lanes<0, true>(), kAddX = Lanes<0, false>(),
                                              kMulY = Lanes<1, true>(), kAddY = Lanes<1, false>();

SEGWORK_AVX2 __m256i Load(const std::array<uint32_t, 8>& lanes) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.data()));
}

struct OffsetConstants {
  __m256i span, shifted, bias, one;
};

// RoundOver32(draw * span + low * 2^32) in each lane: the product in 64 bits, even and odd lanes
// apart, and the result the high half of each rounded sum.
SEGWORK_AVX2 __m256i RoundedHigh(__m256i product, const OffsetConstants& k) {
  const __m256i sum = _mm256_add_epi64(product, k.shifted);
  const __m256i odd = _mm256_and_si256(_mm256_srli_epi64(sum, 32), k.one);
  return _mm256_add_epi64(_mm256_add_epi64(sum, k.bias), odd);
}

SEGWORK_AVX2 __m256i Offsets(__m256i draws, const OffsetConstants& k) {
  const __m256i even = RoundedHigh(_mm256_mul_epu32(draws, k.span), k);
  const __m256i odd = RoundedHigh(_mm256_mul_epu32(_mm256_srli_epi64(draws, 32), k.span), k);
  return _mm256_blend_epi32(_mm256_srli_epi64(even, 32), odd, 0xAA);
}

// One addition brings an offset target back onto the torus.
SEGWORK_AVX2 __m256i Wrapped(__m256i v, __m256i size) {
  const __m256i below = _mm256_cmpgt_epi32(_mm256_setzero_si256(), v);
  const __m256i above = _mm256_cmpgt_epi32(v, _mm256_sub_epi32(size, _mm256_set1_epi32(1)));
  return _mm256_sub_epi32(_mm256_add_epi32(v, _mm256_and_si256(below, size)),
                          _mm256_and_si256(above, size));
}

}  // namespace

SEGWORK_AVX2 TryOutcome WideTries(const TryWorld& world, int32_t x, int32_t y, uint32_t seed,
                                  int64_t span, int32_t low, int batches) {
  const __m256i mulX = Load(kMulX), addX = Load(kAddX), mulY = Load(kMulY), addY = Load(kAddY);
  const OffsetConstants k{_mm256_set1_epi64x(span), _mm256_set1_epi64x(int64_t(low) * (1LL << 32)),
                          _mm256_set1_epi64x((1LL << 31) - 1), _mm256_set1_epi64x(1)};
  const __m256i cols = _mm256_set1_epi32(world.cols), rows = _mm256_set1_epi32(world.rows);
  const __m256i homeX = _mm256_set1_epi32(x), homeY = _mm256_set1_epi32(y);
  const uint32_t streets = world.streetOccupation ? 1 : 0;
  const bool farStreets = !streets && size_t(world.cols) * size_t(world.rows) >= kFarCells;
  alignas(32) int32_t index[8];
  uint32_t s = seed;
  for (int b = 0;; ++b) {
    const __m256i from = _mm256_set1_epi32(int32_t(s));
    const __m256i drawsX = _mm256_add_epi32(_mm256_mullo_epi32(from, mulX), addX);
    const __m256i drawsY = _mm256_add_epi32(_mm256_mullo_epi32(from, mulY), addY);
    const __m256i dx = Offsets(drawsX, k), dy = Offsets(drawsY, k);
    const __m256i tx = Wrapped(_mm256_add_epi32(homeX, dx), cols);
    const __m256i ty = Wrapped(_mm256_add_epi32(homeY, dy), rows);
    _mm256_store_si256(reinterpret_cast<__m256i*>(index),
                       _mm256_add_epi32(_mm256_mullo_epi32(ty, cols), tx));
    if (farStreets) {
      // Far beyond the caches a street cell read after its occupancy would be a second wait.
      for (int j = 0; j < 8; ++j) __builtin_prefetch(&world.street[uint32_t(index[j])]);
    }
    uint32_t found = 0;
    for (int j = 0; j < 8; ++j) found |= uint32_t(world.occupied[uint32_t(index[j])] == 0) << j;
    // Street cells are read only for the free targets, in order, up to the first admissible one.
    for (uint32_t left = streets ? 0 : found; left; left &= left - 1) {
      const int j = __builtin_ctz(left);
      if (world.street[uint32_t(index[j])] == 0) break;
      found &= ~(1u << j);
    }
    if (found || b + 1 >= batches) {
      const int j = found ? __builtin_ctz(found) : 7;
      const __m256i values[5] = {dx, dy, tx, ty, drawsY};
      alignas(32) int32_t lanes[5][8];
      for (int v = 0; v < 5; ++v) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[v]), values[v]);
      }
      return {found != 0,  uint32_t(lanes[4][j]), lanes[0][j],
              lanes[1][j], lanes[2][j],           lanes[3][j]};
    }
    s = s * kJumps[15].mul + kJumps[15].add;
  }
}

#else

TryOutcome WideTries(const TryWorld&, int32_t, int32_t, uint32_t, int64_t, int32_t, int) {
  std::abort();  // WideTriesAvailable() is false here
}

#endif

}  // namespace segwork
