#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/cell_P.h"
#include "sim/engine.h"

namespace segwork {

// Per cell, what its neighbourhood window holds, weighted as that cell weighs it: the number of
// empty cells (they add 1 whatever the weight), the weight of all agents and the weight of each
// group. Kept for the windows whose weights are all whole numbers, where these counts are exact
// and give the same share as the sum in scan order; an evaluation then reads three numbers.
//
// Layout: one row of 16-bit counters per cell, [own entry, empty, agents, group 1 .. group G],
// so a cell's numbers share a cache line and a change touches one short row per window cell;
// the own entry is the cell as counted, to know what a change replaces. Everything is rebuilt
// from the cells and the weights.
class WindowCounts {
 public:
  struct Span {
    int64_t low, high;
  };
  // Largest window magnitude (entries times largest weight) a counter holds.
  static constexpr double kLimit = 32767;
  static constexpr int32_t kMaxGroups = 4096;
  // Tables larger than this are not built: the engine sums instead.
  static constexpr double kBudgetBytes = double(uint64_t{4} << 30);
  // Rows longer than this change counter by counter rather than whole.
  static constexpr size_t kWholeRowStride = 32;

  struct Weights {
    const int32_t* own = nullptr;  // each cell's whole weight; null when every weight is 1
    const BarrierWeights* barriers = nullptr;
    // The cells whose counts are read: those with `usableBit` set. The others' may be wrong.
    const uint8_t* usable = nullptr;
    uint8_t usableBit = 0;
    bool Used(size_t c) const { return usable[c] & usableBit; }
  };

  // Builds the table from the cells; false (and no table) when a cell holds a state the table
  // cannot count or the table would not fit.
  bool Build(const CellSpace& cells, int32_t radius, Weights weights);
  void Clear();
  bool Built() const { return stride_ != 0; }
  int32_t Groups() const { return int32_t(stride_) - 3; }

  // The cell at index n now holds what the cells say; false when the table cannot count it.
  bool Change(const CellSpace& cells, int32_t radius, Weights weights, size_t n);

  int32_t Own(size_t i) const { return int16_t(data_[i * stride_]); }
  int32_t Empty(size_t i) const { return int16_t(data_[i * stride_ + 1]); }
  int32_t Agents(size_t i) const { return int16_t(data_[i * stride_ + 2]); }
  int32_t Group(size_t i, int32_t g) const { return int16_t(data_[i * stride_ + 2 + size_t(g)]); }
  const void* Row(size_t i) const { return &data_[i * stride_]; }

  // The weight cell c gives its neighbour n: n's own unless the pair lies behind a barrier.
  static int32_t PairWeight(const CellSpace& cells, int32_t radius, Weights weights, size_t c,
                            size_t n);

 private:
  void AddRow(const CellSpace& cells, int32_t radius, const int32_t* own, int64_t y,
              const uint16_t* previous, int64_t enterLow, int64_t enterHigh, int64_t leave);
  void ChangePlain(const CellSpace& cells, Span xs, Span ys, int32_t w, int32_t before,
                   int32_t now);
  void CorrectBarriers(const CellSpace& cells, int32_t radius, Weights weights);

  size_t stride_ = 0;
  std::vector<uint16_t> data_;
  std::vector<uint16_t> sum_;      // scratch: the horizontal window sums of one row
  std::vector<uint16_t> pattern_;  // scratch: what a change adds to one row of its window
  // The used windows where a cell weighs other than its own weight, by cell: the window's cell
  // and the weight less the own one. Empty without barriers.
  struct BarrierPair {
    uint32_t cell;
    int32_t difference;
  };
  std::vector<uint64_t> pairStart_;
  std::vector<BarrierPair> barrierPairs_;
};

}  // namespace segwork
