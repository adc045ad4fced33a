// Both engines side by side: every step must leave the same cells, shares and series.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "window/CellForm.h"

#ifndef SEGWORK_LONG_RUN
#define SEGWORK_LONG_RUN 0
#endif

namespace segwork {
namespace {

uint64_t Mix(uint64_t hash, uint64_t value) {
  for (int byte = 0; byte < 8; ++byte) {
    hash ^= (value >> (8 * byte)) & 0xFF;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

uint64_t Bits(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

// States, shares to the bit, and the latest point of every series.
uint64_t Digest(const Model& m) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < m.Sim.Cells.size(); ++i) {
    h = Mix(h, uint64_t(uint32_t(m.Sim.Cells.State[i])));
    h = Mix(h, Bits(m.Sim.Cells.SimilarShare[i]));
  }
  h = Mix(h, m.Sim.Agents.size());
  for (const TAgent& a : m.Sim.Agents) {
    h = Mix(h, uint64_t(m.Sim.Cells.Index(a.CellX, a.CellY)) << 1 | uint64_t(a.Satisfied));
  }
  h = Mix(h, uint64_t(m.Sim.MoversInStep));
  for (const auto* table :
       {&m.Analysis.SatisfactionSeries, &m.Analysis.SegregationSeries, &m.Analysis.ChangeSeries}) {
    for (const LineSeries& s : *table) {
      h = Mix(h, s.points.size());
      if (!s.points.empty()) h = Mix(h, Bits(s.points.back().y));
    }
  }
  h = Mix(h, m.Analysis.ClusterSizeSeries.bars.size());
  return h;
}

// Deterministic choices for one scenario, drawn from its own generator.
struct Scenario {
  explicit Scenario(uint32_t seed) : rng(seed * 2654435761u + 17) {}
  int Pick(int n) { return rng.Random(n); }
  Lcg rng;
};

void Configure(Model& m, uint32_t seed, Scenario& s, int panel) {
  m.Sim.PanelWidth = m.Sim.PanelHeight = panel;
  m.Sim.ClockSeed = [seed] { return seed; };
  ControlValues& c = m.Controls;
  const int cellSize = 4 + s.Pick(5);
  const int cells = (panel / cellSize) * (panel / cellSize);
  c.Text(Field::Edit_cellSiz) = std::to_string(cellSize);
  c.Text(Field::Edit_anzAg) = std::to_string(cells * (30 + s.Pick(65)) / 100);
  c.Text(Field::Edit_anzGr) = std::to_string(2 + s.Pick(5));
  c.Text(Field::Edit_nRad) = std::to_string(1 + s.Pick(4));
  c.Text(Field::Edit_mDist) = std::to_string(1 + s.Pick(8));
  c.Text(Field::E_nbSize) = std::to_string(3 + s.Pick(10));
  c.TrB_thresh = 10 * s.Pick(11);
  c.emptyCellRule = EmptyCellRule(s.Pick(3));
  c.CB_strOcc = s.Pick(2);
  c.CB_actiGrow = s.Pick(3) == 0;
  c.Text(Field::E_startGrowWith) = std::to_string(cells / 10);
  c.Text(Field::E_growRate) = std::to_string(1 + s.Pick(20));
  c.UpD_rows = int16_t(1 + s.Pick(5));
  c.UpD_cols = int16_t(1 + s.Pick(5));
  c.UpD_nrStr = int16_t(s.Pick(8));
  c.UpD_strType = int16_t(s.Pick(2) ? -3 : 2);
  c.CB_rndTyp = s.Pick(2);
}

// Changes to both models' settings after Configure, drawing from the same choices.
using Tweak = std::function<void(Model&, Scenario&)>;

// Cells edited behind the engine: the last agent taken away, sometimes leaving its group in an
// empty cell (a state no step makes), then the engine told to forget.
void EditCells(Model& m, bool leaveGroup) {
  if (m.Sim.Agents.size() < 2) return;
  const TAgent a = m.Sim.Agents.back();
  m.Sim.Agents.pop_back();
  const size_t i = m.Sim.Cells.Index(a.CellX, a.CellY);
  m.Sim.Cells.Occupied[i] = 0;
  m.Sim.Cells.State[i] = leaveGroup ? a.Group : 0;
  m.Sim.CellsEdited();
}

// Builds both models the same way, then steps them, changing settings read at use between steps.
void RunSideBySide(uint32_t seed, int steps, int panel, const Tweak& tweak = {},
                   bool edits = false) {
  Scenario setup(seed);
  Model literal, fast;
  literal.Sim.EngineChoice = EngineKind::Literal;
  fast.Sim.EngineChoice = EngineKind::Fast;
  Scenario a = setup, b = setup;
  Configure(literal, seed, a, panel);
  Configure(fast, seed, b, panel);
  if (tweak) {
    Scenario ta(seed + 7919), tb = ta;
    tweak(literal, ta);
    tweak(fast, tb);
  }
  Scenario layout = a;
  const int streets = layout.Pick(4);
  for (Model* m : {&literal, &fast}) {
    m->CreateMainWindow();
    if (streets == 1 || streets == 3) m->Sim.LayOutStreetGrid();
    if (streets == 2 || streets == 3) m->Sim.LayOutRandomStreets();
    m->SetUpRun();
  }
  ASSERT_EQ(Digest(literal), Digest(fast)) << "seed " << seed << " after setup";
  Scenario during(seed ^ 0x5bd1e995u);
  for (int step = 1; step <= steps; ++step) {
    if (during.Pick(8) == 0) {
      const EmptyCellRule rule = EmptyCellRule(during.Pick(3));
      const bool occupation = during.Pick(2);
      const int threshold = 10 * during.Pick(11);
      for (Model* m : {&literal, &fast}) {
        m->Controls.emptyCellRule = rule;
        m->Controls.CB_strOcc = occupation;
        m->TrB_threshChange(threshold);
      }
    }
    if (during.Pick(40) == 0) {
      // Streets changed while running: a new layout and a rebuild of the weights.
      for (Model* m : {&literal, &fast}) m->Sim.LayOutRandomStreets();
    }
    if (during.Pick(30) == 0) {
      // A stroke whose weights wait for the next build: only the street cells change.
      const StreetStroke stroke{
          {during.Pick(literal.Sim.ColCount), during.Pick(literal.Sim.RowCount)},
          {during.Pick(literal.Sim.ColCount), during.Pick(literal.Sim.RowCount)},
          during.Pick(2) ? -1 : 2,
          "stroke"};
      for (Model* m : {&literal, &fast}) m->Sim.DrawStroke(stroke);
    }
    if (edits && during.Pick(6) == 0) {
      const bool leaveGroup = during.Pick(3) == 0;
      for (Model* m : {&literal, &fast}) EditCells(*m, leaveGroup);
    }
    literal.AdvanceOneStep();
    fast.AdvanceOneStep();
    ASSERT_EQ(Digest(literal), Digest(fast)) << "seed " << seed << " step " << step;
  }
}

TEST(Engines, SameTrajectoryOverManySeedsAndSettings) {
  const int scenarios = SEGWORK_LONG_RUN ? 400 : 40;
  const int steps = SEGWORK_LONG_RUN ? 120 : 25;
  for (uint32_t seed = 1; seed <= uint32_t(scenarios); ++seed) {
    RunSideBySide(seed, steps, 120);
    if (HasFatalFailure()) return;
  }
}

// The counted windows: hundreds of groups (some first seen while growing), whole weights other
// than 1 beside streets and behind barriers, weights too large for the counters, radii up to
// the whole grid, and cells edited between steps.
TEST(Engines, SameTrajectoryWithManyGroupsAndWholeWeights) {
  const std::array<const char*, 3> tables = {"0;2;3;1;2;4;8", "0;0,33;0,67;1;2;4;8",
                                             "5;6;7;1;300;400;500"};
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    RunSideBySide(
        seed, 20, 120,
        [&](Model& m, Scenario& s) {
          m.Controls.Text(Field::Edit_anzGr) = std::to_string(s.Pick(2) ? 1 + s.Pick(400) : 2);
          m.Controls.Text(Field::Edit_nRad) = std::to_string(1 + s.Pick(14));
          m.Controls.CB_actiGrow = s.Pick(2);
          const std::string table = tables[size_t(s.Pick(3))];
          for (size_t row = 1, from = 0; row <= 7; ++row) {
            const size_t to = std::min(table.find(';', from), table.size());
            m.Controls.SG_weight[1][row] = table.substr(from, to - from);
            from = to + 1;
          }
        },
        true);
    if (HasFatalFailure()) return;
  }
}

TEST(Engines, SameTrajectoryAtDefaultSize) {
  const int steps = SEGWORK_LONG_RUN ? 300 : 40;
  Model literal, fast;
  literal.Sim.EngineChoice = EngineKind::Literal;
  for (Model* m : {&literal, &fast}) {
    m->Sim.ClockSeed = [] { return 20261209u; };
    m->StartProgram(StreetLayout::Grid);
  }
  for (int step = 1; step <= steps; ++step) {
    literal.AdvanceOneStep();
    fast.AdvanceOneStep();
    ASSERT_EQ(Digest(literal), Digest(fast)) << "step " << step;
  }
}

// Settled runs, where a step visits only the agents that can change, then disturbed: the
// threshold, the rule, a stroke, growth, an edit, new weights.
TEST(Engines, SameTrajectoryWhenOnlySomeAgentsAreVisited) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    Model literal, fast;
    literal.Sim.EngineChoice = EngineKind::Literal;
    for (Model* m : {&literal, &fast}) {
      m->Sim.ClockSeed = [seed] { return seed; };
      m->Sim.PanelWidth = m->Sim.PanelHeight = 240;
      m->Controls.Text(Field::Edit_anzAg) = "900";
      m->Controls.Text(Field::Edit_mDist) = "10";
      m->Controls.TrB_thresh = 20 + 10 * int(seed % 3);
      m->Controls.emptyCellRule = EmptyCellRule(seed % 3);
      m->StartProgram(seed % 2 ? StreetLayout::Grid : StreetLayout::None);
    }
    bool followedPlan = false;
    for (int step = 1; step <= 160; ++step) {
      for (Model* m : {&literal, &fast}) {
        if (step == 90) m->TrB_threshChange(m->Sim.Threshold + 10);
        if (step == 100) m->Controls.emptyCellRule = EmptyCellRule((seed + 1) % 3);
        if (step == 110) m->Sim.DrawStroke({{2, 3}, {30, 25}, -2, "stroke"});
        if (step == 120) {
          m->Controls.CB_actiGrow = true;
          m->Controls.Text(Field::Edit_anzAg) = std::to_string(m->Sim.Agents.size() + 30);
        }
        if (step == 130) EditCells(*m, false);
        if (step == 140) m->Sim.BuildNeighbourhoodWeights();
      }
      followedPlan = followedPlan || fast.Sim.Plan.valid;
      literal.AdvanceOneStep();
      fast.AdvanceOneStep();
      ASSERT_EQ(Digest(literal), Digest(fast)) << "seed " << seed << " step " << step;
    }
    EXPECT_TRUE(followedPlan) << "seed " << seed;
  }
}

TEST(Engines, WeightListsAgreeAfterEveryKindOfLayout) {
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    Model literal, fast;
    literal.Sim.EngineChoice = EngineKind::Literal;
    Scenario a(seed), b(seed);
    Configure(literal, seed, a, 150);
    Configure(fast, seed, b, 150);
    for (Model* m : {&literal, &fast}) {
      m->Controls.UpD_nrStr = 12;
      m->CreateMainWindow();
      m->Sim.LayOutRandomStreets();
      m->Sim.LayOutStreetGrid();
    }
    for (int32_t y = 0; y < literal.Sim.RowCount; ++y) {
      for (int32_t x = 0; x < literal.Sim.ColCount; ++x) {
        ASSERT_EQ(literal.Sim.NeighbourWeightsOf(x, y), fast.Sim.NeighbourWeightsOf(x, y))
            << "seed " << seed << " cell " << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace segwork
