#include "window/CellForm.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/convert.h"
#include "core/errors.h"
#include "display/palette.h"

namespace segwork {

Model::Model() : Run(Controls) {
  ClockSeed = [] { return 0u; };
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
  if (streets.saved) InstallStreets(*streets.saved);
  if (streets.layout == StreetLayout::Grid) LayOutStreetGrid();
  if (streets.layout == StreetLayout::Random) LayOutRandomStreets();
  for (const StreetStroke& stroke : streets.strokes) DrawStroke(stroke);
  B_setupClick();
}

void Model::Timer1Timer() {
  AdvanceOneStep();
  if (StepCount == StopStep) Window.Timer1Enabled = false;
}

void Model::B_stopClick() {
  Window.StopButtonRed = !Window.StopButtonRed;
  std::fill(Cells.ClusterVisited.begin(), Cells.ClusterVisited.end(), 0);
  if (!Window.Timer1Enabled && StreetsChanged) {
    try {
      BuildNeighbourhoodWeights();
    } catch (...) {
      // The run does not start: it must not look as if it had.
      Window.StopButtonRed = !Window.StopButtonRed;
      throw;
    }
    RepaintAll();
  }
  Window.Timer1Enabled = !Window.Timer1Enabled;
}

void Model::B_setupClick() {
  SetUpRun();
  Window.lbl_Steps = std::to_string(StepCount);
}

void Model::CheckSeedField() const {
  if (!NextRunSeed && !SeedField.empty()) StrToSeed(SeedField);
}

void Model::SetUpRun() {
  CheckSeedField();
  // A stroke's cells belong to the grid being replaced.
  CancelStroke();
  const WindowOutputs oldWindow = Window;
  try {
    ReplaceRun([this] { BuildModel(); });
  } catch (...) {
    Window = oldWindow;
    throw;
  }
  ResetAnalysis();
}

void Model::SetUpOnStreets(const SavedStreets& streets) {
  CheckSeedField();
  CancelStroke();
  const WindowOutputs oldWindow = Window;
  std::vector<StreetLine> oldLines = StreetLines;
  try {
    ReplaceRun([&] {
      // Build keeps every street code of positions in both grids: the saved grid is the new one.
      StreetTypes = streets.types;
      ColCount = streets.columns;
      RowCount = streets.rows;
      StreetLines = streets.lines;
      BuildModel();
    });
  } catch (...) {
    Window = oldWindow;
    StreetLines = std::move(oldLines);
    throw;
  }
  ResetAnalysis();
  Window.lbl_Steps = std::to_string(StepCount);
}

void Model::BuildModel() {
  CheckSetupFields();
  uint32_t seed = 0;
  if (NextRunSeed) {
    seed = *NextRunSeed;
    NextRunSeed.reset();
  } else {
    seed = SeedField.empty() ? ClockSeed() : StrToSeed(SeedField);
  }
  Build(seed);
  Window.PanelEnabled = true;
  Window.Lbl_P = std::to_string(Threshold);
  Window.Lbl_cellS = std::to_string(RowCount) + " x " + std::to_string(ColCount) + " = " +
                     std::to_string(int64_t(RowCount) * ColCount);
}

void Model::Edit_anzAgChange(Field sender) {
  const std::string replacement = CheckAgentCount(Controls.Text(sender), RowCount, ColCount);
  if (!replacement.empty()) Controls.Rewrite(sender, replacement);
}

void Model::Edit_cellSizChange() {
  const std::string replacement = CheckCellSize(Controls.Text(Field::Edit_cellSiz), PanelWidth);
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
  const std::string replacement = CheckMoveDistance(Controls.Text(Field::Edit_mDist), RowCount);
  if (!replacement.empty()) Controls.Rewrite(Field::Edit_mDist, replacement);
}

void Model::E_stopTChange() {
  StopStep = StrToInt(Controls.Text(Field::E_stopT));
}

void Model::E_nbSizeChange() {
  const std::string& text = Controls.Text(Field::E_nbSize);
  const int32_t value = StrToInt(text);
  if (value < 1) {
    throw SegworkError("'" + text + "' is not a valid grid size: it must be at least 1");
  }
  TileSize = value;
}

void Model::TrB_threshChange(int32_t position) {
  position = std::clamp(position, 0, 100);
  Controls.TrB_thresh = position;
  Window.Lbl_P = std::to_string(position);
  Threshold = position;
}

void Model::InitStreetControls() {
  // The type column as it opens; the weights are the controls' own (their defaults at program
  // start, or what a headless run was given). The digits-only style of the numeric fields belongs
  // to the window (kDigitsOnlyFields).
  Controls.SG_weight[0] = ControlValues{}.SG_weight[0];
  SwatchColours = {kStreetColours[0], kStreetColours[1], kStreetColours[2], kWhite,
                   kStreetColours[3], kStreetColours[4], kStreetColours[5]};
}

void Model::ClearStreets() {
  CancelStroke();
  Run::ClearStreets();
}

void Model::DeleteStreets() {
  try {
    ClearStreets();
  } catch (const SegworkError&) {
    // The streets are gone even when the rebuild stops on a weight text: the picture and the
    // count must say so; the weights follow once the table is mended.
    std::fill(Cells.DrawColor.begin(), Cells.DrawColor.end(), kWhite);
    StreetCells = 0;
    StreetCellsChanged();
    RepaintAll();
    throw;
  }
  ImprintStreetTypes();
  RepaintAll();
}

}  // namespace segwork
