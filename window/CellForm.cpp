#include "window/CellForm.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/convert.h"
#include "core/errors.h"
#include "core/field_titles.h"

namespace segwork {

Model::Model() {
  Sim.Observer = this;
  TickCount = [] { return 0u; };
}

void Model::CreateMainWindow() {
  InitStreetControls();
  BuildModel();
  ClearStreets();
}

void Model::StartProgram(StreetLayout layout) {
  StartProgram(StartStreets{nullptr, layout, {}});
}

void Model::StartProgram(const StartStreets& streets) {
  CreateMainWindow();
  if (streets.saved) Sim.InstallStreets(*streets.saved);
  if (streets.layout == StreetLayout::Grid) Sim.LayOutStreetGrid();
  if (streets.layout == StreetLayout::Random) Sim.LayOutRandomStreets();
  for (const StreetStroke& stroke : streets.strokes) Sim.DrawStroke(stroke);
  B_setupClick();
}

void Model::Timer1Timer() {
  AdvanceOneStep();
  if (Sim.StepCount == Sim.StopStep) Window.Timer1Enabled = false;
}

void Model::B_stopClick() {
  Window.StopButtonRed = !Window.StopButtonRed;
  std::fill(Sim.Cells.ClusterVisited.begin(), Sim.Cells.ClusterVisited.end(), 0);
  if (!Window.Timer1Enabled && Sim.StreetsChanged) {
    try {
      Sim.BuildNeighbourhoodWeights();
    } catch (...) {
      // The run does not start: it must not look as if it had.
      Window.StopButtonRed = !Window.StopButtonRed;
      throw;
    }
    Sim.RepaintAll();
  }
  Window.Timer1Enabled = !Window.Timer1Enabled;
  if (Window.Timer1Enabled) {
    RunStarted();
  } else {
    ShowFrameRate(TickCount());
  }
}

void Model::B_stepClick() {
  if (Sim.StreetsChanged) {
    Sim.BuildNeighbourhoodWeights();
    Sim.RepaintAll();
  }
  Timer1Timer();
}

void Model::B_setupClick() {
  SetUpRun();
  Window.lbl_Steps = std::to_string(Sim.StepCount);
}

void Model::SetUpRun() {
  Sim.CheckSeedField();
  // A stroke's cells belong to the grid being replaced.
  CancelStroke();
  const WindowOutputs oldWindow = Window;
  try {
    Sim.SetUpRun();
  } catch (...) {
    Window = oldWindow;
    throw;
  }
}

void Model::SetUpOnStreets(const SavedStreets& streets) {
  Sim.CheckSeedField();
  CancelStroke();
  const WindowOutputs oldWindow = Window;
  try {
    Sim.SetUpOnStreets(streets);
  } catch (...) {
    Window = oldWindow;
    throw;
  }
  Window.lbl_Steps = std::to_string(Sim.StepCount);
}

void Model::BuildModel() {
  Sim.BuildModel();
}

void Model::RunBuilt() {
  Window.PanelEnabled = true;
  // Once the label shows a count, a new run shows its own before its first step.
  if (Window.Lbl_nrAgents != WindowOutputs{}.Lbl_nrAgents) PopulationGrown();
  Window.Lbl_P = std::to_string(Sim.Threshold);
  Window.Lbl_cellS = std::to_string(Sim.RowCount) + " x " + std::to_string(Sim.ColCount) + " = " +
                     std::to_string(int64_t(Sim.RowCount) * Sim.ColCount);
}

void Model::Edit_anzAgChange(Field sender) {
  const std::string replacement =
      CheckAgentCount(Controls.Text(sender), Sim.RowCount, Sim.ColCount);
  if (!replacement.empty()) Controls.Rewrite(sender, replacement);
}

void Model::Edit_cellSizChange() {
  const std::string replacement = CheckCellSize(Controls.Text(Field::Edit_cellSiz), Sim.PanelWidth);
  if (!replacement.empty()) Controls.Rewrite(Field::Edit_cellSiz, replacement);
}

void Model::Edit_anzGrChange() {
  const std::string replacement = CheckAtLeastOne(Controls.Text(Field::Edit_anzGr));
  if (!replacement.empty()) Controls.Rewrite(Field::Edit_anzGr, replacement);
}

void Model::Edit_nRadChange() {
  const std::string replacement = CheckAtLeastOne(Controls.Text(Field::Edit_nRad));
  if (!replacement.empty()) Controls.Rewrite(Field::Edit_nRad, replacement);
}

void Model::Edit_mDistChange() {
  const std::string replacement = CheckMoveDistance(Controls.Text(Field::Edit_mDist), Sim.RowCount);
  if (!replacement.empty()) Controls.Rewrite(Field::Edit_mDist, replacement);
}

void Model::E_stopTChange() {
  Sim.StopStep = StrToInt(Controls.Text(Field::E_stopT));
}

void Model::E_nbSizeChange() {
  const std::string& text = Controls.Text(Field::E_nbSize);
  const int32_t value = StrToInt(text);
  if (value < 1) {
    throw SegworkError("'" + text + "' is not a valid grid size: it must be at least 1");
  }
  Sim.TileSize = value;
}

void Model::TrB_threshChange(int32_t position) {
  position = std::clamp(position, 0, 100);
  Controls.TrB_thresh = position;
  Window.Lbl_P = std::to_string(position);
  Sim.Threshold = position;
}

void Model::ControlChanged(const Parameter& parameter) {
  const std::string_view control = parameter.control;
  if (const std::optional<Field> field = parameter.EditField()) {
    switch (*field) {
      case Field::Edit_anzAg:
      case Field::E_startGrowWith:
      case Field::E_growRate:
        return Edit_anzAgChange(*field);
      case Field::Edit_cellSiz:
        return Edit_cellSizChange();
      case Field::Edit_anzGr:
        return Edit_anzGrChange();
      case Field::Edit_nRad:
        return Edit_nRadChange();
      case Field::Edit_mDist:
        return Edit_mDistChange();
      case Field::E_stopT:
        return E_stopTChange();
      case Field::E_nbSize:
        return E_nbSizeChange();
      case Field::E_clusterT:
        return;
    }
  }
  if (control == "TrB_thresh") TrB_threshChange(Controls.TrB_thresh);
}

void Model::InitStreetControls() {
  Sim.InitStreetControls();
}

void Model::ClearStreets() {
  CancelStroke();
  Sim.ClearStreets();
}

void Model::DeleteStreets() {
  try {
    ClearStreets();
  } catch (const SegworkError&) {
    // The streets are gone even when the rebuild stops on a weight text: the picture and the
    // count must say so; the weights follow once the table is mended.
    std::fill(Sim.Cells.DrawColor.begin(), Sim.Cells.DrawColor.end(), kWhite);
    Sim.StreetCells = 0;
    StreetCellsChanged();
    Sim.RepaintAll();
    throw;
  }
  Sim.ImprintStreetTypes();
  Sim.RepaintAll();
}

}  // namespace segwork

namespace segwork {

void Model::AdvanceOneStep() {
  Sim.AdvanceOneStep();
  UpdateFrameRate(Sim.StepCount == Sim.StopStep);
  if (Sim.StepCount == Sim.StopStep) {
    Window.Timer1Enabled = false;
    Window.StopButtonRed = true;
  }
}

void Model::GrowPopulation() {
  Sim.GrowPopulation();
}

void Model::RunStarted() {
  RecentSteps.clear();
  RunStartTick = LastFpsTick = TickCount();
}

void Model::UpdateFrameRate(bool final) {
  constexpr uint32_t kRenewal = 100;
  const uint32_t now = TickCount();
  if (!RecentSteps.empty() && RecentSteps.back().first == now) {
    ++RecentSteps.back().second;
  } else {
    RecentSteps.push_back({now, 1});
  }
  if (final || now - LastFpsTick >= kRenewal) ShowFrameRate(now);
}

void Model::ShowFrameRate(uint32_t now) {
  constexpr uint32_t kSpan = 1000;
  // Differences are taken unsigned: the tick wraps.
  while (!RecentSteps.empty() && now - RecentSteps.front().first >= kSpan) {
    RecentSteps.pop_front();
  }
  const uint32_t span = std::min(kSpan, now - RunStartTick);
  if (span == 0) return;
  uint64_t steps = 0;
  for (const auto& [tick, count] : RecentSteps) steps += count;
  LastFpsTick = now;
  const int64_t fps = RoundHalfEven(double(steps) / double(span) * 1000);
  Window.Caption = "Group seperation || fps= " + std::to_string(fps);
}

void Model::PopulationGrown() {
  Window.Lbl_nrAgents = std::to_string(int64_t(Sim.Agents.size()) - 1);
}

void Model::StepCounted() {
  Window.lbl_Steps = std::to_string(Sim.StepCount);
}

void Model::StreetCellsChanged() {
  Window.Lbl_strCell = std::to_string(Sim.StreetCells);
}

void Model::MeasuresReset() {
  Analysis.ResetAnalysisWindow(Sim.GroupColours, Sim.GroupSizes, Controls.Text(Field::E_nbSize));
}

void Model::StepRecording() {
  Analysis.EnsureSeries(Sim.GroupColours);
}

void Model::SatisfactionMeasured(const StepMeasures& m) {
  Analysis.ShowSatisfaction(m);
}

void Model::ClustersFound() {
  // A threshold that is no number fails naming its field, before the chart reads it.
  FieldInt(Controls, Field::E_clusterT);
  Analysis.ShowClusterSizes(Controls.Text(Field::E_clusterT), Sim.StepCount, Sim.GroupColours,
                            Sim.GroupSizes, Sim.ClusterSizes);
}

void Model::IndicesMeasured(const StepMeasures& m, const SegregationIndices& indices) {
  Analysis.EnsureSeries(Sim.GroupColours);
  Analysis.ShowIndices(m, indices);
}

void Model::StepRecorded() {
  Analysis.ShowSpatial(Sim.Measures.Latest(), Sim.GroupColours);
  Analysis.BoundSeries(size_t(std::max<int32_t>(Sim.StopStep, 0)));
}

void Model::RunOpened(AnalysisWindow analysis) {
  const uint64_t resets = Analysis.ResetCount, clusterCharts = Analysis.ClusterChartCount,
                 grids = Analysis.DissimiGridCount;
  const std::string spatial = Analysis.SpatialMeasure;
  Analysis = std::move(analysis);
  Analysis.SpatialMeasure = spatial;
  Analysis.ResetCount = resets + 1;
  Analysis.ClusterChartCount = clusterCharts + 1;
  Analysis.DissimiGridCount = grids + 1;
  // What a new run shows, and its step, agents and street cells as the file has them.
  RunBuilt();
  StepCounted();
  if (Sim.StepCount > 0) PopulationGrown();
  StreetCellsChanged();
}

}  // namespace segwork
