#include <algorithm>

#include "model/CellForm.h"
#include "model/convert.h"

namespace segwork {

void Model::AdvanceOneStep() {
  GrowPopulation();
  RelocateAgents();
  ++StepCount;
  Window.lbl_Steps = std::to_string(StepCount);
  RecordStepMeasures();
  UpdateFrameRate();
  if (StepCount == StopStep) {
    Window.Timer1Enabled = false;
    Window.StopButtonRed = true;
  }
}

void Model::GrowPopulation() {
  if (Controls.CB_actiGrow) {
    const int32_t target = StrToInt(Controls.Text(Field::Edit_anzAg));
    if (int64_t(Agents.size()) < target) {
      const int32_t rate = StrToInt(Controls.Text(Field::E_growRate));
      for (int32_t i = 0; i < rate; ++i) {
        Agents.emplace_back();
        // Growth stops at the first agent that finds no cell.
        if (!PlaceAgent(Agents.size() - 1)) break;
      }
    }
  }
  Window.Lbl_nrAgents = std::to_string(int64_t(Agents.size()) - 1);
}

void Model::RelocateAgents() {
  MoversInStep = 0;
  const bool streetOccupation = Controls.CB_strOcc;
  const size_t count = Agents.size();
  for (size_t i = 0; i < count; ++i) {
    TAgent& a = Agents[i];
    const GridPos home{a.CellX, a.CellY};
    TCell& h = CellAt(home.x, home.y);
    if (StepCount == 0) EvaluateCell(home.x, home.y);
    a.Satisfied = h.SimilarShare > Threshold && (streetOccupation || h.Street == 0);
    if (a.Satisfied) {
      EvaluateCell(home.x, home.y);
      continue;
    }
    bool found = false;
    GridPos target;
    for (int tries = 0; tries < 1000 && !found; ++tries) {
      a.ChangeHeading(Rng, 180, MoveDistance);
      target = WrapToGrid(int64_t(a.CellX) + a.HeadingX, int64_t(a.CellY) + a.HeadingY);
      const TCell& t = CellAt(target.x, target.y);
      found = !t.Occupied && (streetOccupation || t.Street == 0);
    }
    const double current = EvaluateCell(home.x, home.y);
    // Without a free admissible target the agent stays: no trial, so no occupant is overwritten.
    if (found) {
      TCell& t = CellAt(target.x, target.y);
      h.State = 0;
      t.State = a.Group;
      const double candidate = EvaluateCell(target.x, target.y);
      t.State = 0;
      h.State = a.Group;
      if (current < candidate) MoveAgent(a, home, target);
    }
    ++MoversInStep;
    if (DrawWhileRunning) a.DrawAgent(*CellImage);
  }
}

void Model::MoveAgent(TAgent& agent, GridPos from, GridPos to) {
  TCell& source = CellAt(from.x, from.y);
  source.Occupied = false;
  source.State = 0;
  if (DrawWhileRunning) source.DrawCell(*CellImage);
  agent.CellX = to.x;
  agent.CellY = to.y;
  agent.PosX = agent.CellX * CellSize + HalfCell;
  agent.PosY = agent.CellY * CellSize + HalfCell;
  TCell& destination = CellAt(to.x, to.y);
  destination.Occupied = true;
  destination.State = agent.Group;
}

double Model::EvaluateCell(int32_t x, int32_t y) {
  SumNeighbourhood(x, y);
  TCell& cell = CellAt(x, y);
  const double total = cell.SimilarWeight + cell.OtherWeight;
  const double share = total > 0 ? cell.SimilarWeight / total * 100 : 0;
  cell.SimilarShare = share;
  return share;
}

void Model::SumNeighbourhood(int32_t x, int32_t y) {
  TCell& e = CellAt(x, y);
  const int32_t state = e.State;
  const EmptyCellRule rule = Controls.emptyCellRule;
  double similar = 0, other = 0;
  size_t k = 0;
  // The loops are clamped to the grid: the same positions in the same order as scanning the
  // whole square and skipping those outside, without overflow for huge radii.
  const int64_t r = NeighbourRadius;
  const int64_t yLow = std::max<int64_t>(0, y - r), yHigh = std::min<int64_t>(RowCount - 1, y + r);
  const int64_t xLow = std::max<int64_t>(0, x - r), xHigh = std::min<int64_t>(ColCount - 1, x + r);
  const double* weights = e.NeighbourWeights.data();
  for (int64_t ny = yLow; ny <= yHigh; ++ny) {
    const TCell* row = &Cells[size_t(ny) * size_t(ColCount)];
    for (int64_t nx = xLow; nx <= xHigh; ++nx) {
      const double w = weights[k++];
      const TCell& n = row[nx];
      if (n.State == state) {
        similar += w;
      } else if (n.Occupied) {
        other += w;
      } else if (rule == EmptyCellRule::CountAsDifferent) {
        other += 1;
      } else if (rule == EmptyCellRule::CountAsSimilar) {
        similar += 1;
      }
    }
  }
  e.SimilarWeight = similar;
  e.OtherWeight = other;
}

GridPos Model::WrapToGrid(int64_t x, int64_t y) const {
  // The same result as repeatedly adding or subtracting the grid size, in constant time.
  x %= ColCount;
  if (x < 0) x += ColCount;
  y %= RowCount;
  if (y < 0) y += RowCount;
  return {int32_t(x), int32_t(y)};
}

void Model::UpdateFrameRate() {
  ++StepsSinceFpsTick;
  const uint32_t now = TickCount();
  const uint32_t elapsed = now - LastFpsTick;
  if (elapsed < 1000) return;
  const int64_t fps = RoundHalfEven(double(StepsSinceFpsTick) / double(elapsed) * 1000);
  LastFpsTick = now;
  StepsSinceFpsTick = 0;
  Window.Caption = "Group seperation || fps= " + std::to_string(fps);
}

}  // namespace segwork
