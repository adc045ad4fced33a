#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/cell_P.h"
#include "core/controls.h"
#include "streets/streets.h"

namespace segwork {

enum class EngineKind { Literal, Fast };

// How a run stores its neighbour weights and evaluates neighbourhoods. The literal engine keeps one
// weight list per cell and sums it in scan order as written; the fast one keeps only the weights
// that differ and skips evaluations whose inputs did not change. Both give the same numbers.
class NeighbourhoodEngine {
 public:
  virtual ~NeighbourhoodEngine() = default;
  virtual EngineKind Kind() const = 0;

  // The result of a weight build; the cells' own weights are already in cells.Weight.
  virtual void InstallWeights(const CellSpace& cells, int32_t radius, BarrierWeights barriers) = 0;
  // Fills SimilarWeight, OtherWeight and SimilarShare of the cell and returns the share.
  virtual double Evaluate(CellSpace& cells, int32_t radius, EmptyCellRule rule, int32_t x,
                          int32_t y) = 0;
  // The same for a trial placement, whose states do not last.
  virtual double EvaluateTrial(CellSpace& cells, int32_t radius, EmptyCellRule rule, int32_t x,
                               int32_t y) = 0;
  // A trial move of the agent of `group` at `from` to the free cell `to`: the share of `to` with
  // the agent there and `from` left as another group's cell, as EvaluateTrial gives it with those
  // states. The cells are left with `from` holding `group` and `to` empty.
  virtual double EvaluateMove(CellSpace& cells, int32_t radius, EmptyCellRule rule, int32_t group,
                              GridPos from, GridPos to) {
    const size_t h = cells.Index(from.x, from.y), t = cells.Index(to.x, to.y);
    const int32_t before = cells.State[t];
    cells.State[h] = 0;
    cells.State[t] = group;
    const double share = EvaluateTrial(cells, radius, rule, to.x, to.y);
    cells.State[t] = 0;
    cells.State[h] = group;
    // The undo empties `to` of a group left there by hand: a change that lasts.
    if (before != 0) CellChanged(cells, radius, to.x, to.y);
    return share;
  }
  // Per cell, a byte whose lowest bit is set while the share stored in the cell is what Evaluate
  // with `rule` would give; null when the engine keeps no such marks. Valid until the next call.
  virtual const uint8_t* CurrentMarks(EmptyCellRule) const { return nullptr; }
  // A cell's State or Occupied changed for good.
  virtual void CellChanged(const CellSpace& cells, int32_t radius, int32_t x, int32_t y) = 0;
  // A hint that the neighbourhood of this cell is evaluated soon.
  virtual void Prefetch(const CellSpace&, int32_t, int32_t, int32_t) const {}
  // Cells were edited behind the engine's back: nothing known about them holds any more.
  virtual void Forget() = 0;
  // The barrier weights of the last InstallWeights, as given: with the cells' own weights they
  // rebuild every weight list, which is what a saved run keeps.
  virtual const BarrierWeights& Barriers() const = 0;
  // The full weight list of a cell, one entry per in-grid neighbour position in scan order.
  virtual std::vector<double> NeighbourWeights(const CellSpace& cells, int32_t radius, int32_t x,
                                               int32_t y) const = 0;
  // A stamp that changes whenever what the engine knows of the cells is dropped wholesale (new
  // weights, cells edited, another empty-cell rule); 0 when the engine keeps nothing to drop.
  // Stamps come from one counter, so two engines never share one.
  virtual uint64_t Epoch() const { return 0; }
  // A stamp that changes whenever a cell's state or an occupied cell's share may have changed;
  // 0 when the engine does not follow changes.
  virtual uint64_t Version() { return 0; }
  // Memory the weights cost: per cell, and per neighbour position of a cell.
  virtual double BytesPerCell() const = 0;
  virtual double BytesPerEntry() const = 0;
  // Memory of the tables kept per cell and group, for a world of `cells` cells.
  virtual double GroupTableBytes(double /*cells*/, int64_t /*groups*/) const { return 0; }
};

std::unique_ptr<NeighbourhoodEngine> MakeEngine(EngineKind kind);
const char* EngineName(EngineKind kind);

}  // namespace segwork
