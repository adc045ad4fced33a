#include "sim/simulation.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/convert.h"
#include "core/errors.h"
#include "core/field_titles.h"
#include "display/palette.h"
#include "display/rendering.h"

namespace segwork {

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

uint64_t EstimateSetupBytes(EngineKind engine, int64_t colCount, int64_t rowCount, int64_t radius,
                            int64_t agents, int64_t groups) {
  const auto kind = MakeEngine(engine);
  const double cells = double(colCount) * double(rowCount);
  const double entries =
      double(ClippedSpanSum(colCount, radius)) * double(ClippedSpanSum(rowCount, radius));
  // Per cell: the cell columns, the street code, the engine's share, and with an engine that
  // follows changes the index of the agent there (to visit only the agents that can change).
  const double perCell = 46 + 4 + kind->BytesPerCell() + (kind->Epoch() != 0 ? 4 : 0);
  const double tables = kind->GroupTableBytes(cells, groups);
  const double groupTables = double(groups) * double(groups) * 64.0;
  const double bytes = cells * perCell + entries * kind->BytesPerEntry() + tables +
                       double(std::max<int64_t>(0, agents)) * sizeof(TAgent) + groupTables;
  return bytes >= 1.8e19 ? UINT64_MAX : uint64_t(bytes);
}

// Converts and checks every field a setup reads before anything is freed, in the order the
// setup reads them, so the message is the one the setup itself would give.
uint64_t Simulation::CheckSetupFields() const {
  const int32_t cellSize = FieldInt(Controls, Field::Edit_cellSiz);
  const int32_t radius = FieldInt(Controls, Field::Edit_nRad);
  FieldInt(Controls, Field::Edit_mDist);
  if (cellSize < 1) throw SegworkError("cell size " + std::to_string(cellSize) + " is below 1");
  const int64_t cols = RoundHalfEven(double(PanelWidth) / cellSize);
  const int64_t rows = RoundHalfEven(double(PanelHeight) / cellSize);
  if (cols < 1 || rows < 1) {
    throw SegworkError("cell size " + std::to_string(cellSize) + " leaves no cell on the panel");
  }
  const int32_t groups = FieldInt(Controls, Field::Edit_anzGr);
  if (groups < 1) {
    throw SegworkError("number of groups " + std::to_string(groups) + " is below 1");
  }
  const int32_t agents =
      FieldInt(Controls, Controls.CB_actiGrow ? Field::E_startGrowWith : Field::Edit_anzAg);
  const int32_t tileSize = FieldInt(Controls, Field::E_nbSize);
  if (tileSize < 1) {
    throw SegworkError(
        "'" + Controls.Text(Field::E_nbSize) + "' is not a valid grid size: it must be at least 1",
        FieldTitle(Field::E_nbSize));
  }
  FieldInt(Controls, Field::E_stopT);
  const int64_t placed = std::min<int64_t>(int64_t(agents) + 1, cols * rows);
  const uint64_t bytes = EstimateSetupBytes(EngineChoice, cols, rows, radius, placed, groups);
  if (bytes > MemoryLimitBytes) {
    throw SegworkError("a setup with cell size " + std::to_string(cellSize) + ", radius " +
                       std::to_string(radius) + " and " + std::to_string(groups) +
                       " groups would need about " + std::to_string(bytes >> 20) +
                       " MB of memory, more than the " + std::to_string(MemoryLimitBytes >> 20) +
                       " MB allowed; choose a larger cell size or a smaller radius");
  }
  return bytes;
}

namespace {

bool AllWeightRowsParse(const ControlValues& controls) {
  for (size_t row = 1; row <= 7; ++row) {
    try {
      StrToWeight(controls.SG_weight[1][row]);
    } catch (const SegworkError&) {
      return false;
    }
  }
  return true;
}

}  // namespace

void Simulation::ReplaceRun(const std::function<void()>& build) {
  const uint64_t newBytes = CheckSetupFields();
  const Lcg oldRng = Rng;
  // Keep the old run aside until the new one is complete. Only when both would not fit together
  // and nothing left can fail (every field checked, every weight row readable) does the old one
  // go first.
  const uint64_t oldBytes =
      Cells.size() ? EstimateSetupBytes(Engine->Kind(), ColCount, RowCount, NeighbourRadius,
                                        int64_t(Agents.size()), GroupCount)
                   : 0;
  if (oldBytes + newBytes > KeepOldRunBytes && AllWeightRowsParse(Controls)) {
    Cells = CellSpace{};
    Agents = std::vector<TAgent>{};
    Engine.reset();
    CellImage.reset();
    const int32_t tileSize = TileSize, stopStep = StopStep;
    try {
      build();
    } catch (...) {
      // Only memory can run out here; leave an empty run that every operation can handle, with
      // the settings the steps read still valid.
      static_cast<RunData&>(*this) = RunData{};
      TileSize = tileSize;
      StopStep = stopStep;
      Engine = MakeEngine(EngineChoice);
      CreateCellImage();
      throw;
    }
    return;
  }
  RunData old = std::move(static_cast<RunData&>(*this));
  static_cast<RunData&>(*this) = RunData{};
  StreetTypes = old.StreetTypes;
  ColCount = old.ColCount;
  RowCount = old.RowCount;
  try {
    build();
  } catch (...) {
    static_cast<RunData&>(*this) = std::move(old);
    Rng = oldRng;
    throw;
  }
}

void Simulation::Build(uint32_t seed) {
  Rng.Seed(seed);
  Seed = seed;
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
  Cells = CellSpace{};
  Agents.clear();
  Engine = MakeEngine(EngineChoice);
  CreateCellImage();
  CreateCells();
  CreateAgents();
  StepCount = 0;
  TileSize = StrToInt(Controls.Text(Field::E_nbSize));
  StopStep = StrToInt(Controls.Text(Field::E_stopT));
  Threshold = Controls.TrB_thresh;
  DrawWhileRunning = Controls.CB_graphicUpd;
}

void Simulation::CreateCells() {
  Cells.Create(ColCount, RowCount, CellSize, HalfCell);
  ResetCells();
}

void Simulation::ResetCells() {
  const size_t n = Cells.size();
  for (size_t i = 0; i < n; ++i) {
    Cells.Occupied[i] = 0;
    Cells.DrawColor[i] = kWhite;
    Cells.State[i] = 0;
    Cells.Street[i] = 0;
    Cells.Weight[i] = 1.0;
    Cells.ClusterVisited[i] = 0;
    Cells.DrawCell(i, *CellImage);
  }
  ImprintStreetTypes();
}

void Simulation::CreateAgents() {
  const int32_t n =
      StrToInt(Controls.Text(Controls.CB_actiGrow ? Field::E_startGrowWith : Field::Edit_anzAg));
  AgentsRequested = n >= 0 ? int64_t(n) + 1 : 0;
  if (n < 0) return;
  Agents.reserve(size_t(std::min<int64_t>(AgentsRequested, int64_t(Cells.size()) + 1)));
  const int64_t progressEvery = std::max<int64_t>(1, AgentsRequested / 16);
  for (int64_t i = 0; i < AgentsRequested; ++i) {
    Agents.emplace_back();
    if (!PlaceAgent(Agents.size() - 1)) break;
    if (Progress && i % progressEvery == 0) Progress("placing agents", double(i) / AgentsRequested);
  }
}

bool Simulation::PlaceAgent(size_t index) {
  const bool streetOccupation = Controls.CB_strOcc;
  auto admissible = [&](size_t i) {
    return !Cells.Occupied[i] && (streetOccupation || !Cells.Street[i]);
  };
  TAgent& a = Agents[index];
  bool found = false;
  for (int tries = 0; tries < 1000 && !found; ++tries) {
    a.CellX = Rng.Random(ColCount);
    a.CellY = Rng.Random(RowCount);
    found = admissible(Cells.Index(a.CellX, a.CellY));
  }
  if (!found) {
    // The random tries failed: take one of the admissible cells left, or drop the agent.
    size_t freeCount = 0;
    for (size_t i = 0; i < Cells.size(); ++i) freeCount += admissible(i);
    if (freeCount == 0) {
      Agents.erase(Agents.begin() + std::ptrdiff_t(index));
      return false;
    }
    size_t chosen = size_t(Rng.Random(int32_t(std::min<size_t>(freeCount, INT32_MAX))));
    size_t i = 0;
    for (;; ++i) {
      if (admissible(i) && chosen-- == 0) break;
    }
    a.CellX = Cells.XOf(i);
    a.CellY = Cells.YOf(i);
  }
  a.PosX = a.CellX * CellSize + HalfCell;
  a.PosY = a.CellY * CellSize + HalfCell;
  a.Radius = AgentRadius;
  a.Satisfied = false;
  a.Group = Rng.Random(GroupCount) + 1;
  a.Color = GroupColours[size_t(a.Group - 1)];
  a.DrawAgent(*CellImage);
  const size_t cell = Cells.Index(a.CellX, a.CellY);
  Cells.Occupied[cell] = 1;
  Cells.State[cell] = a.Group;
  Engine->CellChanged(Cells, NeighbourRadius, a.CellX, a.CellY);
  ++GroupSizes[size_t(a.Group - 1)];
  return true;
}

void Simulation::CreateCellImage() {
  if (CreateCanvas) CellImage = CreateCanvas(PanelWidth, PanelHeight);
  if (!CellImage) CellImage = std::make_unique<NullCanvas>();
}

void Simulation::DrawCells() {
  segwork::DrawCells(Cells, *CellImage);
}

void Simulation::RepaintAll() {
  segwork::RepaintAll(Cells, Agents, *CellImage);
}

}  // namespace segwork

namespace segwork {

void Simulation::StartProgram(const StartStreets& streets) {
  InitStreetControls();
  BuildModel();
  ClearStreets();
  if (streets.saved) InstallStreets(*streets.saved);
  if (streets.layout == StreetLayout::Grid) LayOutStreetGrid();
  if (streets.layout == StreetLayout::Random) LayOutRandomStreets();
  for (const StreetStroke& stroke : streets.strokes) DrawStroke(stroke);
  SetUpRun();
}

void Simulation::InitStreetControls() {
  // The type column as it opens; the weights are the controls' own (their defaults at program
  // start, or what a headless run was given). The digits-only style of the numeric fields belongs
  // to the window (kDigitsOnlyFields).
  Controls.SG_weight[0] = ControlValues{}.SG_weight[0];
  SwatchColours = {kStreetColours[0], kStreetColours[1], kStreetColours[2], kWhite,
                   kStreetColours[3], kStreetColours[4], kStreetColours[5]};
}

void Simulation::CheckSeedField() const {
  if (!NextRunSeed && !SeedField.empty()) StrToSeed(SeedField);
}

void Simulation::SetUpRun() {
  CheckSeedField();
  ReplaceRun([this] { BuildModel(); });
  ResetMeasures();
}

void Simulation::SetUpOnStreets(const SavedStreets& streets) {
  CheckSeedField();
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
    StreetLines = std::move(oldLines);
    throw;
  }
  ResetMeasures();
}

void Simulation::BuildModel() {
  CheckSetupFields();
  uint32_t seed = 0;
  if (NextRunSeed) {
    seed = *NextRunSeed;
    NextRunSeed.reset();
  } else {
    seed = SeedField.empty() ? ClockSeed() : StrToSeed(SeedField);
  }
  Build(seed);
  if (Observer) Observer->RunBuilt();
}

}  // namespace segwork
