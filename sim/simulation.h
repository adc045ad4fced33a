#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/measures.h"
#include "core/agenten.h"
#include "core/canvas.h"
#include "core/cell_P.h"
#include "core/controls.h"
#include "core/random.h"
#include "sim/engine.h"
#include "streets/streets.h"

namespace segwork {

// Which agents the next step must visit, when it need not visit all (an engine that keeps current
// marks): the others would only be found satisfied again, with no evaluation and no draw.
struct VisitPlan {
  bool valid = false;
  // Moves mark the agents around them: set while a step follows the plan.
  bool marking = false;
  // What the plan was made under; a step under anything else visits every agent.
  uint64_t epoch = 0;
  int32_t threshold = 0;
  bool streetOccupation = false;
  EmptyCellRule rule = EmptyCellRule::DoNotCount;
  size_t agents = 0;
  std::vector<uint64_t> pending;  // one bit per agent
  size_t pendingCount = 0;
  std::vector<int32_t> agentAt;  // per cell, the index of the agent there or -1
};

// The part of the state that every setup replaces. A setup builds a complete new one before the
// old one goes, so a failed setup leaves the old run untouched and steppable.
struct RunData {
  int32_t CellSize = 0;
  int32_t AgentRadius = 0;
  int32_t HalfCell = 0;
  int32_t ColCount = 0;
  int32_t RowCount = 0;
  int32_t StepCount = 0;
  int32_t NeighbourRadius = 0;
  int32_t MoveDistance = 0;
  int32_t StopStep = 0;
  int32_t TileSize = 0;
  // The generator's seed at this run's setup: with the controls and streets it repeats the run.
  uint32_t Seed = 0;
  int32_t GroupCount = 0;
  colList GroupColours;
  std::vector<int32_t> GroupSizes;
  int32_t Threshold = 0;
  bool DrawWhileRunning = false;
  bool StreetsChanged = false;
  // Street cells counted by the last weight build.
  int32_t StreetCells = 0;
  std::unique_ptr<Canvas> CellImage;
  CellSpace Cells;
  // Street codes, row-major like the cells; address them with StreetTypeAt.
  std::vector<int32_t> StreetTypes;
  std::unique_ptr<NeighbourhoodEngine> Engine;
  std::vector<TAgent> Agents;
  // Agents the last CreateAgents asked for (n + 1), to tell when fewer could be placed.
  int64_t AgentsRequested = 0;
  VisitPlan Plan;
};

// A street layout as a file keeps it: the lines (the barriers) and the street-type grid, which
// later strokes and "delete streets" may have made different from what the lines mark.
struct SavedStreets {
  std::vector<StreetLine> lines;
  int32_t columns = 0;
  int32_t rows = 0;
  std::vector<int32_t> types;  // row-major, columns x rows
};

// A pointer stroke given as cells: pressed on one, released on another, with a street type.
struct StreetStroke {
  GridPos press;
  GridPos release;
  int32_t street = 0;
  std::string name;  // how messages call it
};

enum class StreetLayout { None, Grid, Random };

// The streets a run starts with, in the order they are laid: a saved layout, a layout button,
// then pointer strokes.
struct StartStreets {
  const SavedStreets* saved = nullptr;
  StreetLayout layout = StreetLayout::None;
  std::vector<StreetStroke> strokes;
};

// What a face showing a run is told, at the points where it shows it. Every hook is called in the
// order the run makes its effects, so a failure half way leaves a face as it leaves the run.
class SimulationObserver {
 public:
  virtual ~SimulationObserver() = default;
  virtual void RunBuilt() {}
  virtual void PopulationGrown() {}
  virtual void StepCounted() {}
  virtual void StreetCellsChanged() {}
  virtual void MeasuresReset() {}
  virtual void StepRecording() {}
  virtual void SatisfactionMeasured(const StepMeasures&) {}
  virtual void ClustersFound() {}
  virtual void IndicesMeasured(const StepMeasures&, const SegregationIndices&) {}
  virtual void StepRecorded() {}
};

// How much of the measures log a run keeps: the steps of the planned run, which the experiments
// read back, or the newest only, for a face that handles each step as it comes.
enum class MeasureHistory { PlannedRun, LatestOnly };

// One run and everything that makes it: the controls it reads, its cells, agents, streets, engine
// and generator, the seed choice, setup, the agents' moves, the street weights and layouts, and
// the measures of every step. It knows no window: a face follows it through its observer.
class Simulation : public RunData {
 public:
  Simulation() = default;
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;
  ~Simulation() = default;

  // The controls a run reads, some at setup and some at the moment of use.
  ControlValues Controls;
  SimulationObserver* Observer = nullptr;

  // ----- injected -----
  std::function<std::unique_ptr<Canvas>(int width, int height)> CreateCanvas;
  int32_t PanelWidth = 694;
  int32_t PanelHeight = 694;
  // A setup whose estimated memory exceeds this is refused.
  uint64_t MemoryLimitBytes = uint64_t{20} << 30;
  // A setup keeps the old run until the new one is complete, unless both together would need
  // more than this; then, once nothing left can fail, the old one goes first.
  uint64_t KeepOldRunBytes = uint64_t{4} << 30;
  // The engine every setup gives its run.
  EngineKind EngineChoice = EngineKind::Fast;
  // The seed of every setup, unless one is given.
  std::function<uint32_t()> ClockSeed = [] { return 0u; };
  // The main window's seed field: a setup takes its seed from here unless it is empty.
  std::string SeedField;
  // An experiment's seed for the next setup only; before the field and the clock.
  std::optional<uint32_t> NextRunSeed;
  // Told how far long phases (setup, weight build) have come, when set.
  ProgressFunction Progress;

  Lcg Rng;
  std::vector<StreetLine> StreetLines;
  std::array<TColor, 7> SwatchColours{};  // colCode1..colCode7: street types -3..+3
  int32_t MoversInStep = 0;
  // The line being marked: MarkStreetPath walks from its end back to LineStartCell.
  GridPos LineStartCell;
  GridPos LineEndCell;
  double LineAngle = 0;

  MeasuresLog Measures;
  MeasureHistory History = MeasureHistory::PlannedRun;
  // Each step's record also holds the spatial measures: a pass over the cells and a cluster
  // search per step, so only where asked.
  bool RecordSpatialMeasures = false;
  std::vector<std::vector<int32_t>> ClusterSizes;
  // The last measures and what they were computed from, reused while the engine's version says
  // the cells are as they were (version 0: always computed).
  struct MeasureCache {
    uint64_t satisfactionVersion = 0;
    int32_t satisfactionGroups = 0;
    std::vector<std::optional<double>> satisfaction;
    uint64_t indicesVersion = 0;
    int32_t tileSize = 0;
    int64_t agentsWanted = 0;
    std::vector<int32_t> groupSizes;
    SegregationIndices indices;
    uint64_t clustersVersion = 0;
    int32_t clusterGroups = 0;
    uint64_t spatialVersion = 0;
    int32_t spatialTile = 0;
    int32_t spatialGroups = 0;
    SpatialMeasures spatial;
  } Cached;

  TCell CellAt(int32_t x, int32_t y) { return Cells.At(x, y); }
  // The full weight list of a cell, whichever engine holds it.
  std::vector<double> NeighbourWeightsOf(int32_t x, int32_t y) const {
    return Engine->NeighbourWeights(Cells, NeighbourRadius, x, y);
  }
  int32_t& StreetTypeAt(int32_t x, int32_t y) {
    return StreetTypes[size_t(y) * size_t(ColCount) + size_t(x)];
  }
  int32_t StreetTypeAt(int32_t x, int32_t y) const {
    return StreetTypes[size_t(y) * size_t(ColCount) + size_t(x)];
  }

  // ----- program start and setup -----
  // A run from the controls as they stand: program start (the street controls, a first run, no
  // streets), the streets given, and "new Setup".
  void StartProgram(const StartStreets& streets = {});
  void InitStreetControls();
  // "new Setup": a new run from the controls; on failure the old run stays.
  void SetUpRun();
  // "new Setup" on a saved street layout, as opening a scenario does; on failure the old run and
  // its streets stay.
  void SetUpOnStreets(const SavedStreets& streets);
  // The fields checked, the seed chosen, the run built.
  void BuildModel();
  // A seed field that holds no seed fails a setup before it may free the old run.
  void CheckSeedField() const;

  // ----- building a run -----
  // Converts and checks every field a setup reads; returns the estimated bytes of the new run.
  uint64_t CheckSetupFields() const;
  // A new run from the controls, its generator seeded with `seed`; street codes of positions
  // present in both grid sizes survive.
  void Build(uint32_t seed);
  // Replaces this run by what `build` makes, keeping the old one until the new one is complete
  // (unless memory says otherwise); on failure the old run stays, or an empty one that steps.
  void ReplaceRun(const std::function<void()>& build);
  void CreateCells();
  void ResetCells();
  void CreateAgents();
  bool PlaceAgent(size_t index);  // false when no admissible cell is left: the agent is dropped

  // ----- the agents' moves -----
  // Growth, the moves, the step counted and its measures recorded.
  void AdvanceOneStep();
  void GrowPopulation();
  void RelocateAgents();
  double EvaluateCell(int32_t x, int32_t y);
  void MoveAgent(TAgent& agent, GridPos from, GridPos to);
  // An unsatisfied agent's search: up to 1000 tries of ChangeHeading until a free admissible
  // cell; false when none was found (`target` is then the last try's).
  bool DrawTarget(TAgent& a, bool streetOccupation, GridPos& target);
  // Cells were edited directly (tests, tools): drop what the engine remembers of them.
  void CellsEdited() { Engine->Forget(); }
  GridPos WrapToGrid(int64_t x, int64_t y) const { return Cells.Wrap(x, y); }
  bool IsOutsideGrid(int64_t x, int64_t y) const {
    return x < 0 || x > ColCount - 1 || y < 0 || y > RowCount - 1;
  }

  // ----- streets -----
  void ClearStreets();
  void ImprintStreetTypes();
  void BuildNeighbourhoodWeights();
  double StreetWeight(int32_t type) const;  // W(t): parses column 1 of row t + 4 of SG_weight
  TColor StreetColour(int32_t type) const;
  std::array<GridPos, 4> FourNeighbours(int32_t x, int32_t y) const {
    return Cells.FourNeighbours(x, y);
  }
  void MarkStreetPath(int32_t x, int32_t y, int32_t street);
  int32_t StreetCellCount() const;
  void LayOutStreetGrid();
  void LayOutRandomStreets();
  void PlaceStreetLine(GridPos end, GridPos start, int32_t street);
  // Replaces the lines and the street-type grid; refused unless the grid is this run's size and
  // every line lies in it.
  void InstallStreets(const SavedStreets& streets);
  // What a stroke's release does to the streets (the line appended, its path marked); refused for
  // a cell outside the grid or a type outside -3..-1, 1..3.
  void DrawStroke(const StreetStroke& stroke);

  // ----- measures -----
  void RecordStepMeasures();
  void ComputeSegregationIndices();
  void FindClusters();
  // The spatial measures of the cells as they are, at the tile size of the indices.
  SpatialMeasures ComputeSpatialMeasures();
  // An empty measures log, for a new run.
  void ResetMeasures();

  // ----- painting -----
  void CreateCellImage();
  void DrawCells();
  void RepaintAll();

 private:
  void StreetCellsChanged() {
    if (Observer) Observer->StreetCellsChanged();
  }
  // The segregation indices, movers and density into `m`.
  void MeasureIndices(StepMeasures& m);
  // ClusterSizes of the cells as they are.
  void UpdateClusterSizes();
  int32_t RandomStreetType();
  // One agent's turn in a step, as the step makes it; an unsatisfied agent's part is TryToMove.
  void VisitAgent(TAgent& a, EmptyCellRule rule, bool streetOccupation);
  void TryToMove(TAgent& a, EmptyCellRule rule, bool streetOccupation);
  bool PlanHolds(EmptyCellRule rule, bool streetOccupation) const;
  void RelocatePlanned(EmptyCellRule rule, bool streetOccupation);
  void MakePlan(EmptyCellRule rule, bool streetOccupation);
  void MarkAround(GridPos cell);
  void PlaceLines(const std::vector<StreetLine>& lines);
};

// Bytes a setup would need for its cells, weight lists and agents with the given engine.
uint64_t EstimateSetupBytes(EngineKind engine, int64_t colCount, int64_t rowCount, int64_t radius,
                            int64_t agents, int64_t groups);

}  // namespace segwork
