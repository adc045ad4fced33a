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
  Run::GrowPopulation();
  Window.Lbl_nrAgents = std::to_string(int64_t(Agents.size()) - 1);
}

void Run::GrowPopulation() {
  if (controls_.CB_actiGrow) {
    const int32_t target = StrToInt(controls_.Text(Field::Edit_anzAg));
    if (int64_t(Agents.size()) < target) {
      const int32_t rate = StrToInt(controls_.Text(Field::E_growRate));
      for (int32_t i = 0; i < rate; ++i) {
        Agents.emplace_back();
        // Growth stops at the first agent that finds no cell.
        if (!PlaceAgent(Agents.size() - 1)) break;
      }
    }
  }
}

void Run::RelocateAgents() {
  MoversInStep = 0;
  const bool streetOccupation = controls_.CB_strOcc;
  const EmptyCellRule rule = controls_.emptyCellRule;
  const size_t count = Agents.size();
  // An agent whose share is current and above the threshold would only be found satisfied
  // again, with no evaluation and no draw: its turn is the comparison alone.
  const uint8_t* current = StepCount != 0 ? Engine->CurrentMarks(rule) : nullptr;
  const double* share = Cells.SimilarShare.data();
  const int32_t* street = Cells.Street.data();
  // Far beyond the caches, the cells of agents a little ahead are fetched early.
  const size_t ahead = Cells.size() >= (size_t(1) << 22) ? 16 : 0;
  // Copies: the stores to the agents could otherwise make every turn read these again.
  const double threshold = Threshold;
  const size_t cols = size_t(ColCount);
  TAgent* agents = Agents.data();
  for (size_t i = 0; i < count; ++i) {
    TAgent& a = agents[i];
    const size_t h = size_t(a.CellY) * cols + size_t(a.CellX);
    if (ahead && i + ahead < count) {
      const size_t f = size_t(agents[i + ahead].CellY) * cols + size_t(agents[i + ahead].CellX);
      __builtin_prefetch(&share[f]);
      if (current) __builtin_prefetch(&current[f]);
    }
    if (current && (current[h] & 1) && share[h] > threshold &&
        (streetOccupation || street[h] == 0)) {
      a.Satisfied = true;
      continue;
    }
    if (i + 1 < count) {
      Engine->Prefetch(Cells, NeighbourRadius, agents[i + 1].CellX, agents[i + 1].CellY);
    }
    VisitAgent(a, rule, streetOccupation);
    if (current) current = Engine->CurrentMarks(rule);
  }
}

void Run::VisitAgent(TAgent& a, EmptyCellRule rule, bool streetOccupation) {
  const GridPos home{a.CellX, a.CellY};
  const size_t h = Cells.Index(home.x, home.y);
  if (StepCount == 0) Engine->Evaluate(Cells, NeighbourRadius, rule, home.x, home.y);
  a.Satisfied = Cells.SimilarShare[h] > Threshold && (streetOccupation || Cells.Street[h] == 0);
  if (a.Satisfied) {
    Engine->Evaluate(Cells, NeighbourRadius, rule, home.x, home.y);
    return;
  }
  bool found = false;
  GridPos target;
  size_t t = 0;
  {
    // The tries of TAgent::ChangeHeading on locals: the stores to the agent could otherwise
    // make every try reload the generator.
    Lcg rng = Rng;
    const HeadingRange range(MoveDistance);
    const int64_t x = a.CellX, y = a.CellY;
    const uint8_t* occupied = Cells.Occupied.data();
    const int32_t* street = Cells.Street.data();
    int32_t headingX = a.HeadingX, headingY = a.HeadingY;
    for (int tries = 0; tries < 1000 && !found; ++tries) {
      headingX = range.Draw(rng);
      headingY = range.Draw(rng);
      target = WrapToGrid(x + headingX, y + headingY);
      t = Cells.Index(target.x, target.y);
      found = !occupied[t] && (streetOccupation || street[t] == 0);
    }
    Rng = rng;
    a.HeadingX = headingX;
    a.HeadingY = headingY;
  }
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

void Run::MoveAgent(TAgent& agent, GridPos from, GridPos to) {
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
}

double Run::EvaluateCell(int32_t x, int32_t y) {
  return Engine->Evaluate(Cells, NeighbourRadius, controls_.emptyCellRule, x, y);
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
