#include <algorithm>

#include "core/convert.h"
#include "core/field_titles.h"
#include "core/large_arrays.h"
#include "sim/simulation.h"
#include "sim/wide_tries.h"

namespace segwork {

void Simulation::AdvanceOneStep() {
  GrowPopulation();
  RelocateAgents();
  ++StepCount;
  if (Observer) Observer->StepCounted();
  RecordStepMeasures();
}

void Simulation::GrowPopulation() {
  if (Controls.CB_actiGrow) {
    const int32_t target = FieldInt(Controls, Field::Edit_anzAg);
    if (int64_t(Agents.size()) < target) {
      const int32_t rate = FieldInt(Controls, Field::E_growRate);
      for (int32_t i = 0; i < rate; ++i) {
        Agents.emplace_back();
        // Growth stops at the first agent that finds no cell.
        if (!PlaceAgent(Agents.size() - 1)) break;
      }
    }
  }
  if (Observer) Observer->PopulationGrown();
}

namespace {

// An agent on cell h whose share is current and above the threshold would only be found
// satisfied again, with no evaluation and no draw: its turn is the comparison alone.
bool PassedOver(const uint8_t* current, const double* share, const int32_t* street, size_t h,
                double threshold, bool streetOccupation) {
  return current && (current[h] & 1) && share[h] > threshold &&
         (streetOccupation || street[h] == 0);
}

// The first set bit at or after `from`, or `end`.
size_t NextBit(const std::vector<uint64_t>& bits, size_t from, size_t end) {
  if (from >= end) return end;
  size_t word = from / 64;
  uint64_t w = bits[word] & (~uint64_t{0} << (from % 64));
  while (w == 0) {
    if (++word >= bits.size()) return end;
    w = bits[word];
  }
  return std::min(end, word * 64 + size_t(__builtin_ctzll(w)));
}

}  // namespace

void Simulation::RelocateAgents() {
  MoversInStep = 0;
  const bool streetOccupation = Controls.CB_strOcc;
  const EmptyCellRule rule = Controls.emptyCellRule;
  if (PlanHolds(rule, streetOccupation)) {
    RelocatePlanned(rule, streetOccupation);
    return;
  }
  const size_t count = Agents.size();
  const uint8_t* current = StepCount != 0 ? Engine->CurrentMarks(rule) : nullptr;
  const double* share = Cells.SimilarShare.data();
  const int32_t* street = Cells.Street.data();
  // Far beyond the caches, the cells of agents a little ahead are fetched early.
  const size_t ahead = Cells.size() >= kFarCells ? 16 : 0;
  // Copies: the stores to the agents could otherwise make every turn read these again.
  const double threshold = Threshold;
  const size_t cols = size_t(ColCount);
  TAgent* agents = Agents.data();
  size_t turns = 0;  // more than the comparison
  for (size_t i = 0; i < count; ++i) {
    TAgent& a = agents[i];
    const size_t h = size_t(a.CellY) * cols + size_t(a.CellX);
    if (ahead && i + ahead < count) {
      const size_t f = size_t(agents[i + ahead].CellY) * cols + size_t(agents[i + ahead].CellX);
      __builtin_prefetch(&share[f]);
      if (current) __builtin_prefetch(&current[f]);
    }
    if (PassedOver(current, share, street, h, threshold, streetOccupation)) {
      a.Satisfied = true;
      continue;
    }
    if (ahead && i + 1 < count) {
      Engine->Prefetch(Cells, NeighbourRadius, agents[i + 1].CellX, agents[i + 1].CellY);
    }
    // The marks stay where they are: a step neither rebuilds the weights nor changes the rule,
    // and a mark cleared meanwhile reads as cleared.
    VisitAgent(a, rule, streetOccupation);
    ++turns;
  }
  // After a busy step another follows: a plan would not be followed.
  Plan.valid = false;
  if (turns * 16 <= count) MakePlan(rule, streetOccupation);
}

// Worth following only when few agents need a turn: each move then also marks two windows.
bool Simulation::PlanHolds(EmptyCellRule rule, bool streetOccupation) const {
  const VisitPlan& p = Plan;
  return p.valid && StepCount != 0 && p.epoch == Engine->Epoch() && p.threshold == Threshold &&
         p.streetOccupation == streetOccupation && p.rule == rule && p.agents == Agents.size() &&
         p.agentAt.size() == Cells.size() && p.pendingCount * 16 <= p.agents;
}

// After a step that visited every agent: the agents whose next turn is more than the comparison.
void Simulation::MakePlan(EmptyCellRule rule, bool streetOccupation) {
  VisitPlan& p = Plan;
  p.valid = false;
  const uint8_t* current = Engine->CurrentMarks(rule);
  if (Engine->Epoch() == 0 || !current || Agents.size() > size_t(INT32_MAX)) return;
  // A group left in an empty cell (cells edited by hand) goes at a trial move's undo, which
  // moves no agent and so marks none.
  for (size_t c = 0; c < Cells.size(); ++c) {
    if (!Cells.Occupied[c] && Cells.State[c] != 0) return;
  }
  AssignLarge(p.agentAt, Cells.size(), -1);
  p.pending.assign((Agents.size() + 63) / 64, 0);
  p.pendingCount = 0;
  for (size_t i = 0; i < Agents.size(); ++i) {
    const TAgent& a = Agents[i];
    const size_t h = Cells.Index(a.CellX, a.CellY);
    p.agentAt[h] = int32_t(i);
    if (!(a.Satisfied && PassedOver(current, Cells.SimilarShare.data(), Cells.Street.data(), h,
                                    Threshold, streetOccupation))) {
      p.pending[i / 64] |= uint64_t{1} << (i % 64);
      ++p.pendingCount;
    }
  }
  p.valid = true;
  p.epoch = Engine->Epoch();
  p.threshold = Threshold;
  p.streetOccupation = streetOccupation;
  p.rule = rule;
  p.agents = Agents.size();
}

// The agents without a pending mark are passed over: the same turns as visiting every agent.
void Simulation::RelocatePlanned(EmptyCellRule rule, bool streetOccupation) {
  VisitPlan& p = Plan;
  const uint8_t* current = Engine->CurrentMarks(rule);
  auto passable = [&](const TAgent& a) {
    return PassedOver(current, Cells.SimilarShare.data(), Cells.Street.data(),
                      Cells.Index(a.CellX, a.CellY), Threshold, streetOccupation);
  };
  auto clear = [&](size_t i) {
    p.pending[i / 64] &= ~(uint64_t{1} << (i % 64));
    --p.pendingCount;
  };
  const size_t count = Agents.size();
  p.marking = true;
  for (size_t i = NextBit(p.pending, 0, count); i < count; i = NextBit(p.pending, i + 1, count)) {
    TAgent& a = Agents[i];
    if (passable(a)) {
      a.Satisfied = true;
      clear(i);
      continue;
    }
    VisitAgent(a, rule, streetOccupation);
    current = Engine->CurrentMarks(rule);
    // The agent's own bit is still set: marks only ever add.
    if (a.Satisfied && passable(a)) clear(i);
  }
  p.marking = false;
}

void Simulation::MarkAround(GridPos cell) {
  VisitPlan& p = Plan;
  const int64_t r = NeighbourRadius;
  const int64_t xLow = std::max<int64_t>(0, cell.x - r),
                xHigh = std::min<int64_t>(ColCount - 1, cell.x + r);
  const int64_t yLow = std::max<int64_t>(0, cell.y - r),
                yHigh = std::min<int64_t>(RowCount - 1, cell.y + r);
  for (int64_t y = yLow; y <= yHigh; ++y) {
    const int32_t* row = &p.agentAt[size_t(y) * size_t(ColCount)];
    for (int64_t x = xLow; x <= xHigh; ++x) {
      const int32_t j = row[x];
      if (j < 0) continue;
      uint64_t& word = p.pending[size_t(j) / 64];
      const uint64_t bit = uint64_t{1} << (size_t(j) % 64);
      p.pendingCount += !(word & bit);
      word |= bit;
    }
  }
}

// Inline: most turns are this short one.
__attribute__((always_inline)) inline void Simulation::VisitAgent(TAgent& a, EmptyCellRule rule,
                                                                  bool streetOccupation) {
  const GridPos home{a.CellX, a.CellY};
  const size_t h = Cells.Index(home.x, home.y);
  if (StepCount == 0) Engine->Evaluate(Cells, NeighbourRadius, rule, home.x, home.y);
  a.Satisfied = Cells.SimilarShare[h] > Threshold && (streetOccupation || Cells.Street[h] == 0);
  if (a.Satisfied) {
    Engine->Evaluate(Cells, NeighbourRadius, rule, home.x, home.y);
    return;
  }
  TryToMove(a, rule, streetOccupation);
}

// Out of line, so that the short turns of satisfied agents save and restore few registers.
__attribute__((noinline)) void Simulation::TryToMove(TAgent& a, EmptyCellRule rule,
                                                     bool streetOccupation) {
  const GridPos home{a.CellX, a.CellY};
  GridPos target;
  const bool found = DrawTarget(a, streetOccupation, target);
  if (found) Engine->Prefetch(Cells, NeighbourRadius, target.x, target.y);
  const double share = Engine->Evaluate(Cells, NeighbourRadius, rule, home.x, home.y);
  // Without a free admissible target the agent stays: no trial, so no occupant is overwritten.
  if (found) {
    const double candidate =
        Engine->EvaluateMove(Cells, NeighbourRadius, rule, a.Group, home, target);
    if (share < candidate) MoveAgent(a, home, target);
  }
  ++MoversInStep;
  if (DrawWhileRunning) a.DrawAgent(*CellImage);
}

// The tries of TAgent::ChangeHeading until a free admissible target: the agent's heading is left
// at the last try and the generator after its draws, as the tries one by one leave them.
bool Simulation::DrawTarget(TAgent& a, bool streetOccupation, GridPos& target) {
  const HeadingRange range(MoveDistance);
  const uint8_t* occupied = Cells.Occupied.data();
  const int32_t* street = Cells.Street.data();
  const int64_t x = a.CellX, y = a.CellY, cols = ColCount, rows = RowCount;
  // Without branches: which try finds a cell is hard to predict.
  auto admissible = [&](size_t t) {
    return (occupied[t] == 0) & (streetOccupation | (street[t] == 0));
  };
  if (!range.WithinOneSize(cols) || !range.WithinOneSize(rows)) {
    bool found = false;
    for (int tries = 0; tries < 1000 && !found; ++tries) {
      a.ChangeHeading(Rng, 180, MoveDistance);
      target = WrapToGrid(x + a.HeadingX, y + a.HeadingY);
      found = admissible(Cells.Index(target.x, target.y));
    }
    return found;
  }
  constexpr int64_t kWideSide = int64_t{1} << 29;
  if (range.Exact() && cols <= kWideSide && rows <= kWideSide && cols * rows <= INT32_MAX &&
      WideTriesAvailable()) {
    const TryOutcome o =
        WideTries({occupied, street, streetOccupation, int32_t(cols), int32_t(rows)}, a.CellX,
                  a.CellY, Rng.State(), range.Span(), range.Low(), 1000 / 8);
    Rng.Seed(o.seed);
    a.HeadingX = o.dx;
    a.HeadingY = o.dy;
    target = {o.tx, o.ty};
    return o.found;
  }
  // Four tries at a time from seeds computed side by side, then the first that finds a cell.
  constexpr int kBatch = Lcg::kAhead / 2;
  static_assert(1000 % kBatch == 0);
  Lcg rng = Rng;
  for (int tries = 0; tries < 1000; tries += kBatch) {
    const std::array<uint32_t, Lcg::kAhead> seeds = rng.SeedsAhead();
    int32_t dx[kBatch], dy[kBatch];
    int64_t tx[kBatch], ty[kBatch];
    int first = kBatch;
    for (int j = kBatch - 1; j >= 0; --j) {
      dx[j] = range.FromDraw(seeds[size_t(2 * j)]);
      dy[j] = range.FromDraw(seeds[size_t(2 * j + 1)]);
      tx[j] = x + dx[j];
      ty[j] = y + dy[j];
      tx[j] += (tx[j] < 0 ? cols : 0) - (tx[j] >= cols ? cols : 0);
      ty[j] += (ty[j] < 0 ? rows : 0) - (ty[j] >= rows ? rows : 0);
      first = admissible(size_t(ty[j]) * size_t(cols) + size_t(tx[j])) ? j : first;
    }
    const int last = first < kBatch ? first : kBatch - 1;
    rng.Seed(seeds[size_t(2 * last + 1)]);
    a.HeadingX = dx[last];
    a.HeadingY = dy[last];
    target = {int32_t(tx[last]), int32_t(ty[last])};
    if (first < kBatch) {
      Rng = rng;
      return true;
    }
  }
  Rng = rng;
  return false;
}

void Simulation::MoveAgent(TAgent& agent, GridPos from, GridPos to) {
  const size_t source = Cells.Index(from.x, from.y);
  Cells.Occupied[source] = 0;
  Cells.State[source] = 0;
  if (DrawWhileRunning) Cells.DrawCell(source, *CellImage);
  agent.CellX = to.x;
  agent.CellY = to.y;
  agent.PosX = agent.CellX * CellSize + HalfCell;
  agent.PosY = agent.CellY * CellSize + HalfCell;
  const size_t destination = Cells.Index(to.x, to.y);
  Cells.Occupied[destination] = 1;
  Cells.State[destination] = agent.Group;
  Engine->CellChanged(Cells, NeighbourRadius, from.x, from.y);
  Engine->CellChanged(Cells, NeighbourRadius, to.x, to.y);
  if (Plan.marking) {
    Plan.agentAt[source] = -1;
    Plan.agentAt[destination] = int32_t(&agent - Agents.data());
    MarkAround(from);
    MarkAround(to);
  }
}

double Simulation::EvaluateCell(int32_t x, int32_t y) {
  return Engine->Evaluate(Cells, NeighbourRadius, Controls.emptyCellRule, x, y);
}

}  // namespace segwork
