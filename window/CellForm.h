#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Analyse.h"
#include "analysis/measures.h"
#include "core/canvas.h"
#include "core/controls.h"
#include "sim/simulation.h"

namespace segwork {

enum class PointerButton { Left, Right, Middle };

enum class StreetLayout { None, Grid, Random };

// The streets a run starts with, in the order they are laid: a saved layout, a layout button,
// then pointer strokes.
struct StartStreets {
  const SavedStreets* saved = nullptr;
  StreetLayout layout = StreetLayout::None;
  std::vector<StreetStroke> strokes;
};

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

// The controls a run reads; a base of Model, so they exist before the run that refers to them.
struct MainWindowControls {
  ControlValues Controls;
};

// The main window's side of a run: its controls and their change handlers, labels and caption,
// the run timer, the pointer stroke and the analysis recording, around the Run they drive.
// Windows and the CLI use it through ControlValues and its methods; every failure is a
// SegworkError carrying the message the user sees.
class Model : public MainWindowControls, public Run {
 public:
  Model();

  // ----- injected platform -----
  std::function<uint32_t()> ClockSeed;  // seed for every setup, unless one is given
  std::function<uint32_t()> TickCount;  // milliseconds, wraps at 2^32
  // The rubber band's surface: white is see-through.
  std::function<std::unique_ptr<Canvas>(int width, int height)> CreateOverlayCanvas;

  // The main window's seed field: a setup takes its seed from here unless it is empty.
  std::string SeedField;
  // An experiment's seed for the next setup only; before the field and the clock.
  std::optional<uint32_t> NextRunSeed;

  WindowOutputs Window;
  AnalysisWindow Analysis;
  MeasuresLog Measures;
  // Whether the log keeps the steps of the planned run, which the experiments read back; the CLI's
  // single run prints each step at once and needs only the newest.
  bool KeepAllMeasures = true;
  // Whether the analysis window's tables follow the measures; headless runs have no window.
  bool AnalysisShown = true;
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
  } Cached;
  uint32_t LastFpsTick = 0;
  uint32_t StepsSinceFpsTick = 0;

  // Street drawing by the pointer.
  bool DrawingLine = false;
  StrokeRecord Stroke;
  std::unique_ptr<Canvas> OverlayImage;  // exists from a press on the panel to its release

  // ----- program start and run control -----
  void CreateMainWindow();  // InitStreetControls, BuildModel, ClearStreets
  // A run from the controls as they stand: program start, the layout button if any, "new Setup".
  // The CLI and the tests begin this way; the main window stops after program start.
  void StartProgram(StreetLayout layout = StreetLayout::None);
  void StartProgram(const StartStreets& streets);
  void Timer1Timer();
  void B_stopClick();
  void B_setupClick();

  // ----- setup -----
  void SetUpRun();
  void BuildModel();
  // "new Setup" on a saved street layout, as opening a scenario does; on failure the old run and
  // its streets stay.
  void SetUpOnStreets(const SavedStreets& streets);

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
  // The run's growth, then the agent count shown.
  void GrowPopulation();
  void UpdateFrameRate();

  // ----- streets -----
  void InitStreetControls();
  // Also ends a stroke in progress, whose line goes with the others.
  void ClearStreets();
  void DeleteStreets();
  // Pointer events on the drawing panel, in panel pixels.
  void ZeichenPanelMouseDown(PointerButton button, int x, int y);
  void ZeichenPanelMouseMove(int x, int y);
  void ZeichenPanelMouseUp(PointerButton button, int x, int y);
  // The cell of a panel pixel, clamped into the grid.
  GridPos PixelToCell(int x, int y) const;
  void CancelStroke();
  void CreateOverlay();

  // ----- analysis -----
  void RecordStepMeasures();
  void ComputeSegregationIndices();
  void FindClusters();
  // New analysis tables and an empty measures log, for a new run.
  void ResetAnalysis();

 protected:
  void StreetCellsChanged() override { Window.Lbl_strCell = std::to_string(StreetCells); }

 private:
  // The segregation indices, movers and density into `m` and the analysis window.
  void MeasureIndices(StepMeasures& m);
  // A seed field that holds no seed fails a setup before it may free the old run.
  void CheckSeedField() const;
};

}  // namespace segwork
