#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/Analyse.h"
#include "analysis/measures.h"
#include "core/canvas.h"
#include "core/controls.h"
#include "core/parameters.h"
#include "sim/simulation.h"

namespace segwork {

enum class PointerButton { Left, Right, Middle };

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

// The main window's side of a run: its controls and their change handlers, labels and caption,
// the run timer, the pointer stroke and the analysis window's tables, around the Simulation they
// drive, which it follows as its observer. Every failure is a SegworkError carrying the message
// the user sees.
class Model : public SimulationObserver {
 public:
  Model();
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  Simulation Sim;
  // The run's controls, which the window's widgets hold.
  ControlValues& Controls = Sim.Controls;

  // ----- injected platform -----
  std::function<uint32_t()> TickCount;  // milliseconds, wraps at 2^32
  // The rubber band's surface: white is see-through.
  std::function<std::unique_ptr<Canvas>(int width, int height)> CreateOverlayCanvas;

  WindowOutputs Window;
  AnalysisWindow Analysis;
  // The steps of the last second of running, as (millisecond, steps) in time order, and when
  // the run last started running; the caption's figure is counted from them.
  std::deque<std::pair<uint32_t, uint32_t>> RecentSteps;
  uint32_t RunStartTick = 0;
  uint32_t LastFpsTick = 0;  // when the caption last showed a figure

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
  // "step": one time step, as a tick makes it, running or not; new streets get their weights
  // first, as when the run starts.
  void B_stepClick();
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
  // What a control does when its value was set, by its widget or by an experiment: the change
  // handler of its row, if it has one.
  void ControlChanged(const Parameter& parameter);

  // ----- time step -----
  void AdvanceOneStep();
  // The run's growth, then the agent count shown.
  void GrowPopulation();
  // Counts a step; the caption shows steps per second over the last second of running, or since
  // the run started when shorter, renewed every 100 ms and when the run stops (`final`).
  void UpdateFrameRate(bool final = false);
  // The run starts (or resumes) running now: time stopped before it is no running time.
  void RunStarted();

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
  void RecordStepMeasures() { Sim.RecordStepMeasures(); }
  void ComputeSegregationIndices() { Sim.ComputeSegregationIndices(); }
  void FindClusters() { Sim.FindClusters(); }
  // New analysis tables and an empty measures log, for a new run.
  void ResetAnalysis() { Sim.ResetMeasures(); }
  // A saved run was installed in Sim: its analysis tables and what the window shows of it.
  void RunOpened(AnalysisWindow analysis);
  // The spatial measure the analysis window charts over the steps.
  void ChooseSpatialMeasure(const std::string& name) {
    Analysis.ChooseSpatialMeasure(name, Sim.GroupColours, Sim.Measures.Steps());
  }

 private:
  void ShowFrameRate(uint32_t now);
  // What the window shows of the run, as the run makes it.
  void RunBuilt() override;
  void PopulationGrown() override;
  void StepCounted() override;
  void StreetCellsChanged() override;
  void MeasuresReset() override;
  void StepRecording() override;
  void SatisfactionMeasured(const StepMeasures& m) override;
  void ClustersFound() override;
  void IndicesMeasured(const StepMeasures& m, const SegregationIndices& indices) override;
  void StepRecorded() override;
};

}  // namespace segwork
