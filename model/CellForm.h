#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analysis/Analyse.h"
#include "display/canvas.h"
#include "model/agenten.h"
#include "model/cell_P.h"
#include "model/controls.h"
#include "model/engine.h"
#include "model/random.h"

namespace segwork {

struct StreetLine {
  int32_t StartX = 0;
  int32_t StartY = 0;
  int32_t EndX = 0;
  int32_t EndY = 0;
  int32_t Street = 0;
};

enum class PointerButton { Left, Right, Middle };

enum class StreetLayout { None, Grid, Random };

// The pointer stroke in progress: the press that began it and the index of its own line, so a
// release can only complete that line, and a setup or "delete streets" can cancel it.
struct StrokeRecord {
  bool active = false;
  PointerButton button = PointerButton::Left;
  GridPos start;
  size_t lineIndex = 0;
};

// What the main window shows that the model sets: labels, caption and the run indicator.
struct WindowOutputs {
  std::string lbl_Steps = "lbl_Steps";
  std::string Lbl_nrAgents = "nr agents";
  std::string Lbl_P = "___";
  std::string Lbl_cellS;
  std::string Lbl_strCell;
  std::string Caption = "segwork";
  bool Timer1Enabled = true;
  bool StopButtonRed = false;  // "start / stop" font: green while running, red while stopped
  bool PanelEnabled = false;
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
};

// The model half of the main window: the state of a run, its setup, the time step, the streets
// and the analysis recording. Windows and the CLI drive it through ControlValues and its methods;
// every failure is a SegworkError carrying the message the user sees.
class Model : public RunData {
 public:
  Model();

  // ----- injected platform -----
  std::function<uint32_t()> ClockSeed;  // seed for every setup
  std::function<uint32_t()> TickCount;  // milliseconds, wraps at 2^32
  std::function<std::unique_ptr<Canvas>(int width, int height)> CreateCanvas;
  // The rubber band's surface: white is see-through.
  std::function<std::unique_ptr<Canvas>(int width, int height)> CreateOverlayCanvas;
  int32_t PanelWidth = 694;
  int32_t PanelHeight = 694;
  // A setup whose estimated memory exceeds this is refused.
  uint64_t MemoryLimitBytes = uint64_t{20} << 30;
  // A setup keeps the old run until the new one is complete, unless both together would need
  // more than this; then, once nothing left can fail, the old one goes first.
  uint64_t KeepOldRunBytes = uint64_t{4} << 30;
  // The engine every setup gives its run.
  EngineKind EngineChoice = EngineKind::Fast;
  // Told how far long phases (setup, weight build) have come, when set.
  std::function<void(const char* phase, double fraction)> Progress;

  ControlValues Controls;
  Lcg Rng;
  WindowOutputs Window;
  AnalysisWindow Analysis;
  MeasuresLog Measures;
  // Whether the log keeps the steps of the planned run, which the experiments read back; the CLI's
  // single run prints each step at once and needs only the newest.
  bool KeepAllMeasures = true;
  std::array<TColor, 7> SwatchColours{};  // colCode1..colCode7: street types -3..+3

  std::vector<StreetLine> StreetLines;
  std::vector<std::vector<int32_t>> ClusterSizes;
  int32_t MoversInStep = 0;
  uint32_t LastFpsTick = 0;
  uint32_t StepsSinceFpsTick = 0;

  // Street drawing state, shared with the layouts.
  bool DrawingLine = false;
  GridPos LineStartCell;
  GridPos LineEndCell;
  double LineAngle = 0;
  StrokeRecord Stroke;
  std::unique_ptr<Canvas> OverlayImage;  // exists from a press on the panel to its release

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

  // ----- program start and run control -----
  void CreateMainWindow();  // InitStreetControls, BuildModel, ClearStreets
  // A run from the controls as they stand: program start, the layout button if any, "new Setup".
  // The CLI and the tests begin this way; the main window stops after program start.
  void StartProgram(StreetLayout layout = StreetLayout::None);
  void Timer1Timer();
  void B_stopClick();
  void B_setupClick();

  // ----- setup -----
  void SetUpRun();
  void BuildModel();
  void CreateCells();
  void ResetCells();
  void CreateAgents();
  bool PlaceAgent(size_t index);  // false when no admissible cell is left: the agent is dropped

  // ----- change handlers of the controls -----
  void Edit_anzAgChange(Field sender = Field::Edit_anzAg);
  void Edit_cellSizChange();
  void Edit_anzGrChange();
  void Edit_nRadChange();
  void Edit_mDistChange();
  void E_stopTChange();
  void E_nbSizeChange();
  void TrB_threshChange(int32_t position);

  // ----- time step -----
  void AdvanceOneStep();
  void GrowPopulation();
  void RelocateAgents();
  void UpdateFrameRate();
  double EvaluateCell(int32_t x, int32_t y);
  void MoveAgent(TAgent& agent, GridPos from, GridPos to);
  // Cells were edited directly (tests, tools): drop what the engine remembers of them.
  void CellsEdited() { Engine->Forget(); }
  GridPos WrapToGrid(int64_t x, int64_t y) const;
  bool IsOutsideGrid(int64_t x, int64_t y) const {
    return x < 0 || x > ColCount - 1 || y < 0 || y > RowCount - 1;
  }

  // ----- streets -----
  void InitStreetControls();
  void ClearStreets();
  void ImprintStreetTypes();
  void BuildNeighbourhoodWeights();
  double StreetWeight(int32_t type) const;  // W(t): parses column 1 of row t + 4 of SG_weight
  double PairWeight(int32_t x, int32_t y, int32_t nx, int32_t ny) const;
  TColor StreetColour(int32_t type) const;
  std::array<GridPos, 4> FourNeighbours(int32_t x, int32_t y) const;
  void MarkStreetPath(int32_t x, int32_t y, int32_t street);
  void DeleteStreets();
  // Pointer events on the drawing panel, in panel pixels.
  void ZeichenPanelMouseDown(PointerButton button, int x, int y);
  void ZeichenPanelMouseMove(int x, int y);
  void ZeichenPanelMouseUp(PointerButton button, int x, int y);
  // The cell of a panel pixel, clamped into the grid.
  GridPos PixelToCell(int x, int y) const;
  void CancelStroke();
  int32_t StreetCellCount() const;

  // ----- predefined layouts -----
  void LayOutStreetGrid();
  void LayOutRandomStreets();
  void PlaceStreetLine(GridPos end, GridPos start, int32_t street);

  // ----- rendering -----
  void CreateCellImage();
  void CreateOverlay();
  void DrawCells();
  void RepaintAll();

  // ----- analysis -----
  void RecordStepMeasures();
  void ComputeSegregationIndices();
  void FindClusters();
  // New analysis tables and an empty measures log, for a new run.
  void ResetAnalysis();

 private:
  // The segregation indices, movers and density into `m` and the analysis window.
  void MeasureIndices(StepMeasures& m);
  uint64_t CheckSetupFields() const;  // the estimated bytes of the new run
  int32_t RandomStreetType();
};

// Proper crossing of the segments P1-P2 and A-B: they meet in one point strictly inside both.
bool LinesCross(GridPos p1, GridPos p2, GridPos a, GridPos b);

// Bytes a setup would need for its cells, weight lists and agents with the given engine.
uint64_t EstimateSetupBytes(EngineKind engine, int64_t colCount, int64_t rowCount, int64_t radius,
                            int64_t agents, int64_t groups);

}  // namespace segwork
