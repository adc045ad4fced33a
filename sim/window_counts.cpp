#include "sim/window_counts.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "core/large_arrays.h"

namespace segwork {

namespace {

using Span = WindowCounts::Span;

Span Clipped(int64_t centre, int64_t radius, int64_t count) {
  return {std::max<int64_t>(0, centre - radius), std::min<int64_t>(count - 1, centre + radius)};
}

// A barrier value as the counters take it; only whole values reach a counted window.
int32_t WholeOrZero(double v) {
  return std::fabs(v) <= double(1 << 20) ? int32_t(v) : 0;
}

// Whole blocks: no scalar remainder, the pattern's zeros past the window change nothing.
constexpr size_t kBlock = 16;

// Built also for AVX2, taken where the processor has it: a block is then one register.
#if defined(__x86_64__)
#define SEGWORK_AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#else
#define SEGWORK_AVX2_CLONE
#endif

// A block of the pattern at a time down all rows: the block stays in a register (the pattern is
// scratch of its own, which no row overlaps).
SEGWORK_AVX2_CLONE void AddPattern(uint16_t* __restrict first, size_t rowStep, size_t rows,
                                   const uint16_t* __restrict pattern, size_t length) {
  for (size_t k = 0; k < length; k += kBlock) {
    uint16_t* row = first + k;
    for (size_t y = 0; y < rows; ++y, row += rowStep) {
      for (size_t j = 0; j < kBlock; ++j) row[j] = uint16_t(row[j] + pattern[k + j]);
    }
  }
}

// Counters wrap: a window whose sums do not fit is never read, so its garbage is harmless.
void Add(uint16_t* row, int32_t category, int32_t weight, int32_t sign) {
  if (category == 0) {
    row[1] = uint16_t(row[1] + sign);
    return;
  }
  const uint16_t d = uint16_t(sign * weight);
  row[2] = uint16_t(row[2] + d);
  row[2 + category] = uint16_t(row[2 + category] + d);
}

}  // namespace

void WindowCounts::Clear() {
  stride_ = 0;
  data_ = std::vector<uint16_t>{};
  sum_ = std::vector<uint16_t>{};
  pattern_ = std::vector<uint16_t>{};
  pairStart_ = std::vector<uint64_t>{};
  barrierPairs_ = std::vector<BarrierPair>{};
}

int32_t WindowCounts::PairWeight(const CellSpace& cells, int32_t radius, Weights weights, size_t c,
                                 size_t n) {
  const int32_t own = weights.own ? weights.own[n] : 1;
  const BarrierWeights* b = weights.barriers;
  if (!b || b->empty() || b->start[c] == b->start[c + 1]) return own;
  const Span xs = Clipped(cells.XOf(c), radius, cells.ColCount);
  const Span ys = Clipped(cells.YOf(c), radius, cells.RowCount);
  const uint64_t p = uint64_t(cells.YOf(n) - ys.low) * uint64_t(xs.high - xs.low + 1) +
                     uint64_t(cells.XOf(n) - xs.low);
  const uint32_t* first = b->position.data() + b->start[c];
  const uint32_t* last = b->position.data() + b->start[c + 1];
  const uint32_t* at = std::lower_bound(first, last, p);
  return at != last && *at == p ? WholeOrZero(b->value[size_t(at - b->position.data())]) : own;
}

bool WindowCounts::Build(const CellSpace& cells, int32_t radius, Weights weights) {
  Clear();
  if (radius < 0 || cells.size() == 0) return false;
  int32_t groups = 0;
  for (size_t i = 0; i < cells.size(); ++i) {
    const int32_t s = cells.State[i];
    if (cells.Occupied[i] ? s < 1 || s > kMaxGroups : s != 0) return false;
    groups = std::max(groups, s);
  }
  const size_t stride = size_t(groups) + 3;
  if (double(cells.size()) * double(stride) * sizeof(uint16_t) > kBudgetBytes) return false;
  try {
    // The padding takes the last block of a change at the table's end.
    AssignLarge(data_, cells.size() * stride + kBlock, 0);
    sum_.assign(stride, 0);
  } catch (const std::bad_alloc&) {
    Clear();
    return false;
  }
  stride_ = stride;
  const int64_t rows = cells.RowCount, cols = cells.ColCount, r = radius;
  for (int64_t y = 0; y < rows; ++y) {
    // Row y's windows are row y - 1's, with row y + r entering and row y - r - 1 leaving.
    const Span enter =
        y == 0 ? Span{0, std::min(r, rows - 1)} : (y + r < rows ? Span{y + r, y + r} : Span{0, -1});
    const uint16_t* previous = y == 0 ? nullptr : &data_[size_t(y - 1) * size_t(cols) * stride];
    AddRow(cells, radius, weights.own, y, previous, enter.low, enter.high, y - r - 1);
  }
  for (size_t i = 0; i < cells.size(); ++i) {
    data_[i * stride] = uint16_t(cells.Occupied[i] ? cells.State[i] : 0);
  }
  try {
    CorrectBarriers(cells, radius, weights);
  } catch (const std::bad_alloc&) {
    Clear();
    return false;
  }
  return true;
}

void WindowCounts::AddRow(const CellSpace& cells, int32_t radius, const int32_t* own, int64_t y,
                          const uint16_t* previous, int64_t enterLow, int64_t enterHigh,
                          int64_t leave) {
  const int64_t cols = cells.ColCount, r = radius;
  std::fill(sum_.begin(), sum_.end(), uint16_t(0));
  auto put = [&](int64_t ny, int64_t nx, int32_t sign) {
    const size_t n = size_t(ny) * size_t(cols) + size_t(nx);
    const int32_t category = cells.Occupied[n] ? cells.State[n] : 0;
    Add(sum_.data(), category, own ? own[n] : 1, sign);
  };
  // The horizontal window sums of the entering rows less the leaving one, slid along x.
  auto column = [&](int64_t nx, int32_t sign) {
    for (int64_t ny = enterLow; ny <= enterHigh; ++ny) put(ny, nx, sign);
    if (leave >= 0) put(leave, nx, -sign);
  };
  for (int64_t nx = 0; nx < std::min(r, cols); ++nx) column(nx, 1);
  uint16_t* out = &data_[size_t(y) * size_t(cols) * stride_];
  for (int64_t x = 0; x < cols; ++x, out += stride_) {
    if (x + r < cols) column(x + r, 1);
    if (x - r - 1 >= 0) column(x - r - 1, -1);
    if (previous) {
      const uint16_t* in = previous + size_t(x) * stride_;
      for (size_t k = 1; k < stride_; ++k) out[k] = uint16_t(in[k] + sum_[k]);
    } else {
      for (size_t k = 1; k < stride_; ++k) out[k] = sum_[k];
    }
  }
}

// The rows above count every neighbour with its own weight; pairs behind a barrier weigh
// otherwise. Each such pair is also listed under the neighbour, for its changes to correct.
void WindowCounts::CorrectBarriers(const CellSpace& cells, int32_t radius, Weights weights) {
  const BarrierWeights* b = weights.barriers;
  if (!b || b->empty()) return;
  auto each = [&](auto visit) {
    for (size_t c = 0; c < cells.size(); ++c) {
      if (b->start[c] == b->start[c + 1] || !weights.Used(c)) continue;
      const Span xs = Clipped(cells.XOf(c), radius, cells.ColCount);
      const Span ys = Clipped(cells.YOf(c), radius, cells.RowCount);
      const uint64_t width = uint64_t(xs.high - xs.low + 1);
      for (uint64_t e = b->start[c]; e < b->start[c + 1]; ++e) {
        const size_t n = cells.Index(int32_t(xs.low + int64_t(b->position[e] % width)),
                                     int32_t(ys.low + int64_t(b->position[e] / width)));
        const int32_t own = weights.own ? weights.own[n] : 1;
        const int32_t difference = WholeOrZero(b->value[e]) - own;
        if (difference != 0) visit(c, n, difference);
      }
    }
  };
  std::vector<uint64_t> start(cells.size() + 1, 0);
  each([&](size_t, size_t n, int32_t) { ++start[n + 1]; });
  for (size_t n = 0; n < cells.size(); ++n) start[n + 1] += start[n];
  barrierPairs_.resize(start.back());
  std::vector<uint64_t> next(start.begin(), start.end() - 1);
  each([&](size_t c, size_t n, int32_t difference) {
    if (cells.Occupied[n]) Add(&data_[c * stride_], cells.State[n], difference, 1);
    // The budget keeps cell indices below 2^32.
    barrierPairs_[next[n]++] = {uint32_t(c), difference};
  });
  pairStart_ = std::move(start);
}

// Every window weighs n alike: the same four counters change in each, without a branch (an
// empty side adds 0 to the agents' counter).
void WindowCounts::ChangePlain(const CellSpace& cells, Span xs, Span ys, int32_t w, int32_t before,
                               int32_t now) {
  const uint16_t empty = uint16_t((now == 0) - (before == 0));
  const uint16_t agents = uint16_t(((now != 0) - (before != 0)) * w);
  const uint16_t out = uint16_t(before ? w : 0), in = uint16_t(now ? w : 0);
  const size_t outSlot = 2 + size_t(before), inSlot = 2 + size_t(now);
  const size_t width = size_t(xs.high - xs.low + 1);
  if (stride_ > kWholeRowStride) {
    // Many groups: four counters of a long row are cheaper than the whole row.
    for (int64_t y = ys.low; y <= ys.high; ++y) {
      uint16_t* row = &data_[(size_t(y) * size_t(cells.ColCount) + size_t(xs.low)) * stride_];
      for (size_t x = 0; x < width; ++x, row += stride_) {
        row[1] = uint16_t(row[1] + empty);
        row[2] = uint16_t(row[2] + agents);
        row[outSlot] = uint16_t(row[outSlot] - out);
        row[inSlot] = uint16_t(row[inSlot] + in);
      }
    }
    return;
  }
  // The window's cells of one grid row are adjacent in the table: one pattern, added to each
  // row by a loop the compiler vectorises.
  const size_t length = width * stride_;
  const size_t blocks = (length + kBlock - 1) / kBlock * kBlock;
  if (pattern_.size() < blocks) pattern_.resize(blocks);
  uint16_t* pattern = pattern_.data();
  std::fill(pattern, pattern + blocks, uint16_t(0));
  for (size_t k = 0; k < length; k += stride_) {
    pattern[k + 1] = empty;
    pattern[k + 2] = agents;
    pattern[k + outSlot] = uint16_t(pattern[k + outSlot] - out);
    pattern[k + inSlot] = uint16_t(pattern[k + inSlot] + in);
  }
  AddPattern(&data_[(size_t(ys.low) * size_t(cells.ColCount) + size_t(xs.low)) * stride_],
             size_t(cells.ColCount) * stride_, size_t(ys.high - ys.low + 1), pattern, blocks);
}

bool WindowCounts::Change(const CellSpace& cells, int32_t radius, Weights weights, size_t n) {
  const int32_t s = cells.State[n];
  if (cells.Occupied[n] ? s < 1 || s > Groups() : s != 0) return false;
  const int32_t now = cells.Occupied[n] ? s : 0, before = Own(n);
  if (now == before) return true;
  data_[n * stride_] = uint16_t(now);
  const Span xs = Clipped(cells.XOf(n), radius, cells.ColCount);
  const Span ys = Clipped(cells.YOf(n), radius, cells.RowCount);
  // Every window counts n with its own weight, then the pairs behind a barrier are corrected.
  const int32_t own = weights.own ? weights.own[n] : 1;
  ChangePlain(cells, xs, ys, own, before, now);
  if (pairStart_.empty()) return true;
  for (uint64_t k = pairStart_[n]; k < pairStart_[n + 1]; ++k) {
    // Only the weighted counters: the empty one took the change above.
    const uint16_t d = uint16_t(barrierPairs_[k].difference);
    uint16_t* counters = &data_[size_t(barrierPairs_[k].cell) * stride_];
    if (before) {
      counters[2] = uint16_t(counters[2] - d);
      counters[2 + before] = uint16_t(counters[2 + before] - d);
    }
    if (now) {
      counters[2] = uint16_t(counters[2] + d);
      counters[2 + now] = uint16_t(counters[2 + now] + d);
    }
  }
  return true;
}

}  // namespace segwork
