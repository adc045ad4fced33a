#include "model/CellForm.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "display/palette.h"
#include "model/convert.h"
#include "model/errors.h"

namespace segwork {

Model::Model() {
  ClockSeed = [] { return 0u; };
  TickCount = [] { return 0u; };
}

void Model::CreateMainWindow() {
  InitStreetControls();
  BuildModel();
  ClearStreets();
}

void Model::Timer1Timer() {
  AdvanceOneStep();
  if (StepCount == StopStep) Window.Timer1Enabled = false;
}

void Model::B_stopClick() {
  Window.StopButtonRed = !Window.StopButtonRed;
  for (TCell& cell : Cells) {
    cell.ClusterLinks.clear();
    cell.ClusterVisited = false;
  }
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

namespace {

// Width of the clipped neighbourhood of every index, summed over a line of `count` cells.
uint64_t ClippedSpanSum(int64_t count, int64_t radius) {
  if (radius < 0) return 0;
  uint64_t sum = 0;
  for (int64_t i = 0; i < count; ++i) {
    const int64_t low = std::max<int64_t>(0, i - radius);
    const int64_t high = std::min<int64_t>(count - 1, i + radius);
    sum += uint64_t(high - low + 1);
  }
  return sum;
}

}  // namespace

uint64_t EstimateSetupBytes(int64_t colCount, int64_t rowCount, int64_t radius, int64_t agents,
                            int64_t groups) {
  const double cells = double(colCount) * double(rowCount);
  // The weight lists are built twice over during a rebuild: the new ones before the old go.
  const double entries =
      double(ClippedSpanSum(colCount, radius)) * double(ClippedSpanSum(rowCount, radius));
  const double groupTables = double(groups) * double(groups) * 64.0;
  const double bytes = cells * (sizeof(TCell) + 2 * sizeof(int32_t)) + 2.0 * entries * 8.0 +
                       double(std::max<int64_t>(0, agents)) * sizeof(TAgent) + groupTables;
  return bytes >= 1.8e19 ? UINT64_MAX : uint64_t(bytes);
}

// Converts and checks every field a setup reads before anything is freed, in the order the
// setup reads them, so the message is the one the setup itself would give.
void Model::CheckSetupFields() const {
  const int32_t cellSize = StrToInt(Controls.Text(Field::Edit_cellSiz));
  const int32_t radius = StrToInt(Controls.Text(Field::Edit_nRad));
  StrToInt(Controls.Text(Field::Edit_mDist));
  if (cellSize < 1) throw SegworkError("cell size " + std::to_string(cellSize) + " is below 1");
  const int64_t cols = RoundHalfEven(double(PanelWidth) / cellSize);
  const int64_t rows = RoundHalfEven(double(PanelHeight) / cellSize);
  if (cols < 1 || rows < 1) {
    throw SegworkError("cell size " + std::to_string(cellSize) + " leaves no cell on the panel");
  }
  const int32_t groups = StrToInt(Controls.Text(Field::Edit_anzGr));
  if (groups < 1) {
    throw SegworkError("number of groups " + std::to_string(groups) + " is below 1");
  }
  const int32_t agents =
      StrToInt(Controls.Text(Controls.CB_actiGrow ? Field::E_startGrowWith : Field::Edit_anzAg));
  const int32_t tileSize = StrToInt(Controls.Text(Field::E_nbSize));
  if (tileSize < 1) {
    throw SegworkError("'" + Controls.Text(Field::E_nbSize) +
                       "' is not a valid grid size: it must be at least 1");
  }
  StrToInt(Controls.Text(Field::E_stopT));
  const int64_t placed = std::min<int64_t>(int64_t(agents) + 1, cols * rows);
  const uint64_t bytes = EstimateSetupBytes(cols, rows, radius, placed, groups);
  if (bytes > MemoryLimitBytes) {
    throw SegworkError("a setup with cell size " + std::to_string(cellSize) + ", radius " +
                       std::to_string(radius) + " and " + std::to_string(groups) +
                       " groups would need about " + std::to_string(bytes >> 20) +
                       " MB of memory, more than the " + std::to_string(MemoryLimitBytes >> 20) +
                       " MB allowed; choose a larger cell size or a smaller radius");
  }
}

void Model::SetUpRun() {
  CheckSetupFields();
  // Keep the old run aside until the new one is complete.
  RunData old = std::move(static_cast<RunData&>(*this));
  static_cast<RunData&>(*this) = RunData{};
  StreetTypes = old.StreetTypes;
  ColCount = old.ColCount;
  RowCount = old.RowCount;
  const Lcg oldRng = Rng;
  const WindowOutputs oldWindow = Window;
  try {
    BuildModel();
  } catch (...) {
    static_cast<RunData&>(*this) = std::move(old);
    Rng = oldRng;
    Window = oldWindow;
    throw;
  }
  Analysis.ResetAnalysisWindow(*this);
}

void Model::BuildModel() {
  CheckSetupFields();
  Rng.Seed(ClockSeed());
  CellSize = StrToInt(Controls.Text(Field::Edit_cellSiz));
  NeighbourRadius = StrToInt(Controls.Text(Field::Edit_nRad));
  MoveDistance = StrToInt(Controls.Text(Field::Edit_mDist));
  AgentRadius = CellSize / 2 - 1;
  HalfCell = (CellSize + 1) / 2;
  const int32_t oldCols = ColCount, oldRows = RowCount;
  ColCount = int32_t(RoundHalfEven(double(PanelWidth) / CellSize));
  RowCount = int32_t(RoundHalfEven(double(PanelHeight) / CellSize));
  GroupCount = StrToInt(Controls.Text(Field::Edit_anzGr));
  StreetsChanged = false;
  GroupColours = MakeGroupPalette(GroupCount);
  GroupSizes.assign(size_t(GroupCount), 0);

  // The street codes of positions present in both sizes survive; new positions get 0.
  std::vector<int32_t> streetTypes(size_t(ColCount) * size_t(RowCount), 0);
  for (int32_t y = 0; y < std::min(RowCount, oldRows); ++y) {
    for (int32_t x = 0; x < std::min(ColCount, oldCols); ++x) {
      streetTypes[size_t(y) * ColCount + x] = StreetTypes[size_t(y) * oldCols + x];
    }
  }
  StreetTypes = std::move(streetTypes);
  Cells.clear();
  Agents.clear();
  CreateCellImage();
  CreateCells();
  CreateAgents();
  Window.PanelEnabled = true;
  StepCount = 0;
  TileSize = StrToInt(Controls.Text(Field::E_nbSize));
  StopStep = StrToInt(Controls.Text(Field::E_stopT));
  Threshold = Controls.TrB_thresh;
  DrawWhileRunning = Controls.CB_graphicUpd;
  Window.Lbl_P = std::to_string(Threshold);
  Window.Lbl_cellS = std::to_string(RowCount) + " x " + std::to_string(ColCount) + " = " +
                     std::to_string(int64_t(RowCount) * ColCount);
}

void Model::CreateCells() {
  Cells.resize(size_t(ColCount) * size_t(RowCount));
  for (int32_t y = 0; y < RowCount; ++y) {
    for (int32_t x = 0; x < ColCount; ++x) {
      CellAt(x, y) = TCell(x * CellSize + HalfCell, y * CellSize + HalfCell, HalfCell, 0);
    }
  }
  ResetCells();
}

void Model::ResetCells() {
  for (TCell& cell : Cells) {
    cell.Occupied = false;
    cell.DrawColor = kWhite;
    cell.State = 0;
    cell.Street = 0;
    cell.Weight = 1.0;
    cell.ClusterVisited = false;
    cell.DrawCell(*CellImage);
    cell.NeighbourWeights.clear();
  }
  ImprintStreetTypes();
}

void Model::CreateAgents() {
  const int32_t n =
      StrToInt(Controls.Text(Controls.CB_actiGrow ? Field::E_startGrowWith : Field::Edit_anzAg));
  AgentsRequested = n >= 0 ? int64_t(n) + 1 : 0;
  if (n < 0) return;
  Agents.reserve(size_t(std::min<int64_t>(AgentsRequested, int64_t(Cells.size()) + 1)));
  for (int64_t i = 0; i < AgentsRequested; ++i) {
    Agents.emplace_back();
    if (!PlaceAgent(Agents.size() - 1)) break;
  }
}

bool Model::PlaceAgent(size_t index) {
  const bool streetOccupation = Controls.CB_strOcc;
  auto admissible = [&](const TCell& c) { return !c.Occupied && (streetOccupation || !c.Street); };
  TAgent& a = Agents[index];
  bool found = false;
  for (int tries = 0; tries < 1000 && !found; ++tries) {
    a.CellX = Rng.Random(ColCount);
    a.CellY = Rng.Random(RowCount);
    found = admissible(CellAt(a.CellX, a.CellY));
  }
  if (!found) {
    // The random tries failed: take one of the admissible cells left, or drop the agent.
    std::vector<size_t> free;
    for (size_t i = 0; i < Cells.size(); ++i) {
      if (admissible(Cells[i])) free.push_back(i);
    }
    if (free.empty()) {
      Agents.erase(Agents.begin() + std::ptrdiff_t(index));
      return false;
    }
    const size_t chosen =
        free[size_t(Rng.Random(int32_t(std::min<size_t>(free.size(), INT32_MAX))))];
    a.CellX = int32_t(chosen % size_t(ColCount));
    a.CellY = int32_t(chosen / size_t(ColCount));
  }
  a.PosX = a.CellX * CellSize + HalfCell;
  a.PosY = a.CellY * CellSize + HalfCell;
  a.Radius = AgentRadius;
  a.Satisfied = false;
  a.Group = Rng.Random(GroupCount) + 1;
  a.Color = GroupColours[size_t(a.Group - 1)];
  a.DrawAgent(*CellImage);
  TCell& cell = CellAt(a.CellX, a.CellY);
  cell.Occupied = true;
  cell.State = a.Group;
  ++GroupSizes[size_t(a.Group - 1)];
  return true;
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

}  // namespace segwork
