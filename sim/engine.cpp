#include "sim/engine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "core/large_arrays.h"
#include "sim/window_counts.h"

namespace segwork {

namespace {

struct Window {
  int64_t xLow, xHigh, yLow, yHigh;
};

// The neighbourhood clipped to the grid: the in-grid positions of the square in scan order.
Window Clip(const CellSpace& cells, int32_t radius, int32_t x, int32_t y) {
  const int64_t r = radius;
  return {std::max<int64_t>(0, x - r), std::min<int64_t>(cells.ColCount - 1, x + r),
          std::max<int64_t>(0, y - r), std::min<int64_t>(cells.RowCount - 1, y + r)};
}

double WindowEntries(const Window& w) {
  return double(w.xHigh - w.xLow + 1) * double(w.yHigh - w.yLow + 1);
}

// Clears the low bit of n bytes a word at a time. The words do not overlap: a load across a
// recent narrower store would stall.
void ClearLowBits(uint8_t* bytes, size_t n) {
  auto clear = [&bytes](auto word) {
    std::memcpy(&word, bytes, sizeof word);
    word &= decltype(word)(~decltype(word)(0x0101010101010101ull));
    std::memcpy(bytes, &word, sizeof word);
    bytes += sizeof word;
  };
  for (; n >= 8; n -= 8) clear(uint64_t{});
  if (n & 4) clear(uint32_t{});
  if (n & 2) clear(uint16_t{});
  if (n & 1) clear(uint8_t{});
}

// Stands for a weight of 1 in every position.
struct UnitWeight {};

double Share(CellSpace& cells, size_t i, double similar, double other) {
  cells.SimilarWeight[i] = similar;
  cells.OtherWeight[i] = other;
  const double total = similar + other;
  const double share = total > 0 ? similar / total * 100 : 0;
  cells.SimilarShare[i] = share;
  return share;
}

std::vector<double> ExpandWeights(const CellSpace& cells, const BarrierWeights& barriers,
                                  int32_t radius, int32_t x, int32_t y) {
  std::vector<double> list;
  const Window w = Clip(cells, radius, x, y);
  if (w.xHigh < w.xLow || w.yHigh < w.yLow) return list;
  list.reserve(size_t((w.xHigh - w.xLow + 1) * (w.yHigh - w.yLow + 1)));
  for (int64_t ny = w.yLow; ny <= w.yHigh; ++ny) {
    for (int64_t nx = w.xLow; nx <= w.xHigh; ++nx) {
      list.push_back(cells.Weight[size_t(ny) * size_t(cells.ColCount) + size_t(nx)]);
    }
  }
  if (!barriers.empty()) {
    const size_t i = cells.Index(x, y);
    for (uint64_t e = barriers.start[i]; e < barriers.start[i + 1]; ++e) {
      list[barriers.position[e]] = barriers.value[e];
    }
  }
  return list;
}

// One weight list per cell, summed in scan order with the branches as written.
class LiteralEngine final : public NeighbourhoodEngine {
 public:
  EngineKind Kind() const override { return EngineKind::Literal; }

  void InstallWeights(const CellSpace& cells, int32_t radius, BarrierWeights barriers) override {
    std::vector<std::vector<double>> lists(cells.size());
    for (int32_t y = 0; y < cells.RowCount; ++y) {
      for (int32_t x = 0; x < cells.ColCount; ++x) {
        lists[cells.Index(x, y)] = ExpandWeights(cells, barriers, radius, x, y);
      }
    }
    lists_ = std::move(lists);
    barriers_ = std::move(barriers);
  }

  double Evaluate(CellSpace& cells, int32_t radius, EmptyCellRule rule, int32_t x,
                  int32_t y) override {
    const size_t i = cells.Index(x, y);
    const int32_t state = cells.State[i];
    const Window w = Clip(cells, radius, x, y);
    const std::vector<double>& weights = lists_[i];
    double similar = 0, other = 0;
    size_t k = 0;
    for (int64_t ny = w.yLow; ny <= w.yHigh; ++ny) {
      for (int64_t nx = w.xLow; nx <= w.xHigh; ++nx) {
        const size_t n = size_t(ny) * size_t(cells.ColCount) + size_t(nx);
        const double weight = weights[k++];
        if (cells.State[n] == state) {
          similar += weight;
        } else if (cells.Occupied[n]) {
          other += weight;
        } else if (rule == EmptyCellRule::CountAsDifferent) {
          other += 1;
        } else if (rule == EmptyCellRule::CountAsSimilar) {
          similar += 1;
        }
      }
    }
    return Share(cells, i, similar, other);
  }

  double EvaluateTrial(CellSpace& cells, int32_t radius, EmptyCellRule rule, int32_t x,
                       int32_t y) override {
    return Evaluate(cells, radius, rule, x, y);
  }

  void CellChanged(const CellSpace&, int32_t, int32_t, int32_t) override {}
  void Forget() override {}

  std::vector<double> NeighbourWeights(const CellSpace& cells, int32_t, int32_t x,
                                       int32_t y) const override {
    return lists_[cells.Index(x, y)];
  }
  const BarrierWeights& Barriers() const override { return barriers_; }

  // A rebuild makes the new lists while the old ones are still held.
  double BytesPerCell() const override { return 2 * sizeof(std::vector<double>); }
  double BytesPerEntry() const override { return 2 * sizeof(double); }

 private:
  std::vector<std::vector<double>> lists_;
  BarrierWeights barriers_;
};

// Runs on several threads (sweeps) draw stamps from one counter.
uint64_t NextStamp() {
  static std::atomic<uint64_t> counter{0};
  return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

// Largest weight magnitude summed as an integer: far from 2^53 even over a radius of 1000.
constexpr double kIntegralLimit = 1 << 20;

bool Integral(double w) {
  return w == std::trunc(w) && std::fabs(w) <= kIntegralLimit;
}

// Weights read from the cells' own Weight except for the few pairs behind a barrier; a per-cell
// mark that the stored share still holds (a cell's result changes only when a cell of its
// neighbourhood changes, the weights are rebuilt, or the empty-cell rule differs); and, where every
// weight a cell sums is a whole number, an integer sum: such sums are exact in doubles whatever
// the order, so the result is the same to the bit.
class FastEngine final : public NeighbourhoodEngine {
 public:
  EngineKind Kind() const override { return EngineKind::Fast; }

  // A summed-area table of the cells with a fractional weight, rows and columns from 1; keeps the
  // whole weights and raises `maxMagnitude` to the largest whole weight or barrier value.
  std::vector<uint32_t> FractionalTable(const CellSpace& cells, double& maxMagnitude) {
    const size_t cols = size_t(cells.ColCount), rows = size_t(cells.RowCount);
    std::vector<uint32_t> table((cols + 1) * (rows + 1), 0);
    for (double v : barriers_.value) {
      if (Integral(v)) maxMagnitude = std::max(maxMagnitude, std::fabs(v));
    }
    for (size_t y = 0; y < rows; ++y) {
      uint32_t rowSum = 0;
      for (size_t x = 0; x < cols; ++x) {
        const size_t i = y * cols + x;
        const bool integral = Integral(cells.Weight[i]);
        if (integral) {
          intWeight_[i] = int32_t(cells.Weight[i]);
          maxMagnitude = std::max(maxMagnitude, std::fabs(cells.Weight[i]));
        }
        rowSum += !integral;
        table[(y + 1) * (cols + 1) + x + 1] = table[y * (cols + 1) + x + 1] + rowSum;
      }
    }
    return table;
  }

  void InstallWeights(const CellSpace& cells, int32_t radius, BarrierWeights barriers) override {
    barriers_ = std::move(barriers);
    const size_t n = cells.size();
    AssignLarge(flags_, n, 0);
    anyCurrent_ = false;
    Dropped();
    // Without streets every weight is 1: the sums are counts and no weight needs reading.
    allUnit_ = barriers_.empty() && std::all_of(cells.Weight.begin(), cells.Weight.end(),
                                                [](double w) { return w == 1.0; });
    intWeight_.clear();
    ForgetCounts();
    if (allUnit_) {
      for (int32_t y = 0; y < cells.RowCount; ++y) {
        for (int32_t x = 0; x < cells.ColCount; ++x) {
          const double entries = WindowEntries(Clip(cells, radius, x, y));
          if (entries < 2147483647.0) flags_[cells.Index(x, y)] = kIntegralCell;
          if (entries <= WindowCounts::kLimit) flags_[cells.Index(x, y)] |= kCountedCell;
        }
      }
      return;
    }
    AssignLarge(intWeight_, n, 0);
    // Count the cells with a fractional weight over every window. Empty cells add 1 whatever the
    // weights.
    double maxMagnitude = 1;
    const std::vector<uint32_t> table = FractionalTable(cells, maxMagnitude);
    const size_t cols = size_t(cells.ColCount);
    for (int32_t y = 0; y < cells.RowCount; ++y) {
      for (int32_t x = 0; x < cells.ColCount; ++x) {
        const Window w = Clip(cells, radius, x, y);
        if (w.xHigh < w.xLow || w.yHigh < w.yLow) continue;
        auto at = [&](int64_t yy, int64_t xx) {
          return table[size_t(yy) * (cols + 1) + size_t(xx)];
        };
        const uint32_t fractional = at(w.yHigh + 1, w.xHigh + 1) - at(w.yLow, w.xHigh + 1) -
                                    at(w.yHigh + 1, w.xLow) + at(w.yLow, w.xLow);
        bool integral = fractional == 0;
        const size_t i = cells.Index(x, y);
        if (integral && !barriers_.empty()) {
          for (uint64_t e = barriers_.start[i]; e < barriers_.start[i + 1]; ++e) {
            integral = integral && Integral(barriers_.value[e]);
          }
        }
        if (integral && WindowEntries(w) * maxMagnitude < 2147483647.0) flags_[i] = kIntegralCell;
        if (integral && WindowEntries(w) * maxMagnitude <= WindowCounts::kLimit) {
          flags_[i] |= kCountedCell;
        }
      }
    }
  }

  double Evaluate(CellSpace& cells, int32_t radius, EmptyCellRule rule, int32_t x,
                  int32_t y) override {
    const size_t i = cells.Index(x, y);
    EnsureCounts(cells, radius);
    if (rule != rule_) {
      for (uint8_t& f : flags_) f &= uint8_t(~kCurrent);
      rule_ = rule;
      Dropped();
    } else if (flags_[i] & kCurrent) {
      return cells.SimilarShare[i];
    }
    changed_ = true;
    const double share = Sum(cells, radius, rule, x, y);
    flags_[i] |= kCurrent;
    anyCurrent_ = true;
    return share;
  }

  double EvaluateTrial(CellSpace& cells, int32_t radius, EmptyCellRule rule, int32_t x,
                       int32_t y) override {
    const double share = Sum(cells, radius, rule, x, y);
    flags_[cells.Index(x, y)] &= uint8_t(~kCurrent);
    return share;
  }

  double EvaluateMove(CellSpace& cells, int32_t radius, EmptyCellRule rule, int32_t group,
                      GridPos from, GridPos to) override {
    EnsureCounts(cells, radius);
    const size_t h = cells.Index(from.x, from.y), t = cells.Index(to.x, to.y);
    if (!counts_.Built() || !(flags_[t] & kCountedCell) || group < 1 || group > counts_.Groups() ||
        counts_.Own(h) != group || counts_.Own(t) != 0 || cells.State[h] != group ||
        cells.State[t] != 0 || cells.Occupied[t]) {
      return NeighbourhoodEngine::EvaluateMove(cells, radius, rule, group, from, to);
    }
    // The window of `to` as counted, with `to` holding the agent (no longer empty) and `from`
    // another group's cell.
    const WindowCounts::Weights weights = CountWeights();
    const int32_t self = WindowCounts::PairWeight(cells, radius, weights, t, t);
    const bool near =
        std::abs(int64_t(from.x) - to.x) <= radius && std::abs(int64_t(from.y) - to.y) <= radius;
    const int32_t home = near ? WindowCounts::PairWeight(cells, radius, weights, t, h) : 0;
    const int32_t same = counts_.Group(t, group);
    const double share = Combine(cells, t, rule, same - home + self,
                                 counts_.Agents(t) - same + home, counts_.Empty(t) - 1);
    flags_[t] &= uint8_t(~kCurrent);
    return share;
  }

  const uint8_t* CurrentMarks(EmptyCellRule rule) const override {
    static_assert(kCurrent == 1);
    return rule == rule_ && anyCurrent_ ? flags_.data() : nullptr;
  }

  void CellChanged(const CellSpace& cells, int32_t radius, int32_t x, int32_t y) override {
    changed_ = true;
    if (counts_.Built() && !counts_.Change(cells, radius, CountWeights(), cells.Index(x, y))) {
      // A group the table has no row for, or a state it cannot count: built again when needed.
      ForgetCounts();
    }
    if (!anyCurrent_) return;
    // The relation "lies in the neighbourhood of" is symmetric, so the cells whose result may
    // change are those of this cell's own neighbourhood.
    static_assert(kCurrent == 1);
    const Window w = Clip(cells, radius, x, y);
    if (w.xHigh < w.xLow) return;
    for (int64_t ny = w.yLow; ny <= w.yHigh; ++ny) {
      ClearLowBits(&flags_[size_t(ny) * size_t(cells.ColCount) + size_t(w.xLow)],
                   size_t(w.xHigh - w.xLow + 1));
    }
  }

  void Prefetch(const CellSpace& cells, int32_t radius, int32_t x, int32_t y) const override {
    // Only a large world misses the cache on every row of a neighbourhood.
    if (cells.size() < kFarCells) return;
    if (counts_.Built()) {
      // Counted windows read one row of the table; the rest is the cell's own.
      const size_t i = cells.Index(x, y);
      __builtin_prefetch(counts_.Row(i));
      __builtin_prefetch(&flags_[i]);
      __builtin_prefetch(&cells.State[i]);
      __builtin_prefetch(&cells.SimilarShare[i]);
      return;
    }
    const Window w = Clip(cells, radius, x, y);
    const size_t cols = size_t(cells.ColCount);
    for (int64_t ny = w.yLow; ny <= w.yHigh; ++ny) {
      const size_t first = size_t(ny) * cols + size_t(w.xLow),
                   last = size_t(ny) * cols + size_t(w.xHigh);
      __builtin_prefetch(&cells.State[first]);
      __builtin_prefetch(&cells.State[last]);
      __builtin_prefetch(&cells.Occupied[first]);
      __builtin_prefetch(&cells.Occupied[last]);
      if (!allUnit_) {
        __builtin_prefetch(&intWeight_[first]);
        __builtin_prefetch(&cells.Weight[first]);
      }
    }
    __builtin_prefetch(&flags_[cells.Index(x, y)]);
  }

  void Forget() override {
    for (uint8_t& f : flags_) f &= uint8_t(~kCurrent);
    anyCurrent_ = false;
    ForgetCounts();
    Dropped();
  }

  uint64_t Epoch() const override { return epoch_; }
  // Trial evaluations write only the share of an empty cell and are not counted as changes.
  uint64_t Version() override {
    if (changed_) {
      version_ = NextStamp();
      changed_ = false;
    }
    return version_;
  }

  std::vector<double> NeighbourWeights(const CellSpace& cells, int32_t radius, int32_t x,
                                       int32_t y) const override {
    return ExpandWeights(cells, barriers_, radius, x, y);
  }
  const BarrierWeights& Barriers() const override { return barriers_; }

  double BytesPerCell() const override { return 1 + sizeof(int32_t) + 4; }
  double BytesPerEntry() const override { return 0; }
  // With the index of pairs behind a barrier, which streets add.
  double GroupTableBytes(double cells, int64_t groups) const override {
    const double table = cells * double(groups + 3) * sizeof(uint16_t);
    const bool built = groups <= WindowCounts::kMaxGroups && table <= WindowCounts::kBudgetBytes;
    return built ? table + cells * sizeof(uint64_t) : 0;
  }

 private:
  static constexpr uint8_t kCurrent = 1;
  static constexpr uint8_t kIntegralCell = 2;
  // Whole weights whose window sums fit the counters of the table.
  static constexpr uint8_t kCountedCell = 4;

  void Dropped() {
    epoch_ = NextStamp();
    changed_ = true;
  }

  WindowCounts::Weights CountWeights() const {
    return {allUnit_ ? nullptr : intWeight_.data(), &barriers_, flags_.data(), kCountedCell};
  }

  void ForgetCounts() {
    counts_.Clear();
    countsWanted_ = true;
  }

  // The table is built at the first evaluation after a change of weights or cells, so placing
  // the agents of a setup costs no updates; a failed build is not tried again until then.
  void EnsureCounts(const CellSpace& cells, int32_t radius) {
    if (!countsWanted_) return;
    countsWanted_ = false;
    counts_.Build(cells, radius, CountWeights());
  }

  static double Combine(CellSpace& cells, size_t i, EmptyCellRule rule, int32_t similar,
                        int32_t other, int32_t empty) {
    if (rule == EmptyCellRule::CountAsSimilar) similar += empty;
    if (rule == EmptyCellRule::CountAsDifferent) other += empty;
    return Share(cells, i, double(similar), double(other));
  }

  // One neighbour: its weight to the similar sum when it holds the cell's group, to the other sum
  // when another agent stands there, the empty-cell contribution otherwise. Written with
  // multiplications by 0 and 1 so the compiler emits no branch; each term is exact and adding a
  // zero leaves a sum as it was.
  static void Accumulate(bool sameGroup, bool occupied, double weight, double emptySimilar,
                         double emptyOther, double& similar, double& other) {
    const double same = sameGroup, occ = occupied;
    const double empty = (1 - same) * (1 - occ);
    similar += same * weight + empty * emptySimilar;
    other += (1 - same) * occ * weight + empty * emptyOther;
  }
  // Integers: the same with bit masks.
  static void Accumulate(bool sameGroup, bool occupied, int32_t weight, int32_t emptySimilar,
                         int32_t emptyOther, int32_t& similar, int32_t& other) {
    const int32_t same = -int32_t(sameGroup), occ = -int32_t(occupied);
    const int32_t empty = ~same & ~occ;
    similar += (weight & same) + (emptySimilar & empty);
    other += (weight & ~same & occ) + (emptyOther & empty);
  }

  template <typename T, typename W>
  static T WeightAt(const W* weights, int64_t k) {
    if constexpr (std::is_same_v<W, UnitWeight>) {
      return T(1);
    } else {
      return T(weights[k]);
    }
  }

  // Runs the sum over the cell's window with the weights of `weights`, replacing the barrier
  // entries in list order. The sums start at 0 and add 0 where the written form adds nothing:
  // the same result, without branches.
  template <typename T, typename W>
  void SumWindow(const CellSpace& cells, size_t i, const Window& w, const W* weights,
                 EmptyCellRule rule, T& similar, T& other) const {
    const int32_t state = cells.State[i];
    const T emptySimilar = rule == EmptyCellRule::CountAsSimilar ? T(1) : T(0);
    const T emptyOther = rule == EmptyCellRule::CountAsDifferent ? T(1) : T(0);
    const size_t cols = size_t(cells.ColCount);
    const int32_t* states = cells.State.data();
    const uint8_t* occupied = cells.Occupied.data();
    const uint32_t* barrierAt = nullptr;
    const double* barrierValue = nullptr;
    uint64_t barrierCount = 0;
    if (!barriers_.empty()) {
      const uint64_t begin = barriers_.start[i];
      barrierCount = barriers_.start[i + 1] - begin;
      barrierAt = barriers_.position.data() + begin;
      barrierValue = barriers_.value.data() + begin;
    }
    const int64_t width = w.xHigh - w.xLow + 1;
    T s = 0, o = 0;
    uint32_t rowFirst = 0;  // list index of the row's first entry
    for (int64_t ny = w.yLow; ny <= w.yHigh; ++ny, rowFirst += uint32_t(width)) {
      const size_t rowStart = size_t(ny) * cols + size_t(w.xLow);
      const int32_t* rowStates = states + rowStart;
      const uint8_t* rowOccupied = occupied + rowStart;
      const W* rowWeights = weights ? weights + rowStart : nullptr;
      const uint32_t rowEnd = rowFirst + uint32_t(width);
      if (barrierCount == 0 || *barrierAt >= rowEnd) {
        for (int64_t k = 0; k < width; ++k) {
          Accumulate(rowStates[k] == state, rowOccupied[k] != 0, WeightAt<T>(rowWeights, k),
                     emptySimilar, emptyOther, s, o);
        }
        continue;
      }
      for (int64_t k = 0; k < width; ++k) {
        T weight = WeightAt<T>(rowWeights, k);
        if (barrierCount && *barrierAt == rowFirst + uint32_t(k)) {
          weight = T(*barrierValue++);
          ++barrierAt;
          --barrierCount;
        }
        Accumulate(rowStates[k] == state, rowOccupied[k] != 0, weight, emptySimilar, emptyOther, s,
                   o);
      }
    }
    similar = s;
    other = o;
  }

  double Sum(CellSpace& cells, int32_t radius, EmptyCellRule rule, int32_t x, int32_t y) const {
    const size_t i = cells.Index(x, y);
    const int32_t s = cells.State[i];
    if (counts_.Built() && (flags_[i] & kCountedCell) && s >= 1 && s <= counts_.Groups() &&
        counts_.Own(i) == s && cells.Occupied[i]) {
      const int32_t same = counts_.Group(i, s);
      return Combine(cells, i, rule, same, counts_.Agents(i) - same, counts_.Empty(i));
    }
    return SumInScanOrder(cells, radius, rule, x, y);
  }

  // Out of line: the counted evaluations above, nearly all of them, need none of its registers.
  __attribute__((noinline)) double SumInScanOrder(CellSpace& cells, int32_t radius,
                                                  EmptyCellRule rule, int32_t x, int32_t y) const {
    const size_t i = cells.Index(x, y);
    const Window w = Clip(cells, radius, x, y);
    if (w.xHigh < w.xLow || w.yHigh < w.yLow) return Share(cells, i, 0, 0);
    if ((flags_[i] & kIntegralCell) && allUnit_) {
      int32_t similar, other;
      SumWindow<int32_t, UnitWeight>(cells, i, w, nullptr, rule, similar, other);
      return Share(cells, i, double(similar), double(other));
    }
    if (flags_[i] & kIntegralCell) {
      int32_t similar, other;
      SumWindow<int32_t, int32_t>(cells, i, w, intWeight_.data(), rule, similar, other);
      return Share(cells, i, double(similar), double(other));
    }
    double similar, other;
    SumWindow<double, double>(cells, i, w, cells.Weight.data(), rule, similar, other);
    return Share(cells, i, similar, other);
  }

  BarrierWeights barriers_;
  std::vector<uint8_t> flags_;
  WindowCounts counts_;
  bool countsWanted_ = true;
  std::vector<int32_t> intWeight_;
  bool allUnit_ = false;
  bool anyCurrent_ = false;
  uint64_t epoch_ = NextStamp();
  uint64_t version_ = NextStamp();
  bool changed_ = false;
  EmptyCellRule rule_ = EmptyCellRule::DoNotCount;
};

}  // namespace

std::unique_ptr<NeighbourhoodEngine> MakeEngine(EngineKind kind) {
  if (kind == EngineKind::Literal) return std::make_unique<LiteralEngine>();
  return std::make_unique<FastEngine>();
}

const char* EngineName(EngineKind kind) {
  return kind == EngineKind::Literal ? "literal" : "fast";
}

}  // namespace segwork
