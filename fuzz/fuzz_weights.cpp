// The street weight table: arbitrary texts in its seven rows, then a street layout and the
// rebuilds that read the table, on a 10 x 10 world. Every rebuild completes or is refused with
// the message of a row that does not parse or holds too large a weight, and the run stays whole
// and steppable either way, no share undefined.
// Both engines go through the same input and must agree on every outcome, weight and state.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#include "core/convert.h"
#include "core/errors.h"
#include "window/CellForm.h"

namespace {

using namespace segwork;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

// The messages the table's rows would give, and whether all of them are weights.
struct TableErrors {
  std::set<std::string> messages;
  bool AllParse() const { return messages.empty(); }
};

TableErrors ErrorsOf(const ControlValues& controls) {
  TableErrors errors;
  for (size_t row = 1; row <= 7; ++row) {
    try {
      StrToWeight(controls.SG_weight[1][row]);
    } catch (const SegworkError& e) {
      errors.messages.insert(e.what());
    }
  }
  return errors;
}

// Runs a step of the model that reads the table: it completes, or fails with the message of a
// row that does not parse and leaves the streets marked as changed.
template <typename F>
bool Rebuild(Model& m, F action) {
  const TableErrors errors = ErrorsOf(m.Controls);
  try {
    action();
    return true;
  } catch (const SegworkError& e) {
    if (!errors.messages.count(e.what())) {
      // The grid layout's spinner check and the stroke's street type are the only other refusals.
      const std::string message = e.what();
      if (message != "0 is not a valid street type" && message != "please select a street type") {
        std::fprintf(stderr, "unexpected message: %s\n", e.what());
        Fail("refused with a message no row gives");
      }
      return false;
    }
    if (errors.AllParse()) Fail("refused although every row parses");
    return false;
  }
}

// FNV-1a, over the bytes of whatever the run shows.
struct Digest {
  uint64_t hash = 0xcbf29ce484222325ull;
  template <typename T>
  void Add(const T& value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    for (size_t i = 0; i < sizeof value; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
  }
};

// Every cell's full weight list, then one step; adds both to the trace.
void CheckRunIsWhole(Model& m, Digest& trace) {
  if (m.Sim.Cells.size() != size_t(m.Sim.ColCount) * size_t(m.Sim.RowCount)) Fail("cell count");
  trace.Add(m.Sim.Cells.size());
  if (m.Sim.Cells.size() == 0) return;
  if (!m.Sim.Engine) Fail("run without engine");
  const int32_t r = m.Sim.NeighbourRadius;
  for (int32_t y = 0; y < m.Sim.RowCount; ++y) {
    for (int32_t x = 0; x < m.Sim.ColCount; ++x) {
      const int64_t width = std::min(m.Sim.ColCount - 1, x + r) - std::max(0, x - r) + 1;
      const int64_t height = std::min(m.Sim.RowCount - 1, y + r) - std::max(0, y - r) + 1;
      const std::vector<double> weights = m.Sim.NeighbourWeightsOf(x, y);
      if (int64_t(weights.size()) != std::max<int64_t>(0, width) * std::max<int64_t>(0, height)) {
        Fail("neighbour weight list not full length");
      }
      for (double w : weights) {
        if (!std::isfinite(w)) Fail("weight not finite");
        trace.Add(w);
      }
    }
  }
  const int32_t before = m.Sim.StepCount;
  try {
    m.AdvanceOneStep();
  } catch (const SegworkError& e) {
    std::fprintf(stderr, "step refused: %s\n", e.what());
    Fail("a step failed after a rebuild");
  }
  if (m.Sim.StepCount != before + 1) Fail("step not counted");
  for (size_t i = 0; i < m.Sim.Cells.size(); ++i) {
    if (std::isnan(m.Sim.Cells.SimilarShare[i])) Fail("share undefined");
  }
  for (size_t i = 0; i < m.Sim.Cells.size(); ++i) trace.Add(m.Sim.Cells.State[i]);
  trace.Add(m.Sim.MoversInStep);
}

uint64_t Scenario(const uint8_t* data, size_t size, EngineKind engine) {
  FuzzedDataProvider in(data, size);
  Digest trace;
  Model m;
  m.Sim.PanelWidth = m.Sim.PanelHeight = 60;
  m.Sim.EngineChoice = engine;
  ControlValues& c = m.Controls;
  c.Text(Field::Edit_cellSiz) = "6";
  c.Text(Field::Edit_nRad) = std::to_string(in.ConsumeIntegralInRange(0, 6));
  c.Text(Field::Edit_anzAg) = std::to_string(in.ConsumeIntegralInRange(-1, 40));
  c.Text(Field::Edit_anzGr) = std::to_string(in.ConsumeIntegralInRange(1, 3));
  c.Text(Field::Edit_mDist) = "3";
  c.CB_strOcc = in.ConsumeBool();
  c.CB_rndTyp = in.ConsumeBool();
  c.CB_hideAgs = in.ConsumeBool();
  c.emptyCellRule = EmptyCellRule(in.ConsumeIntegralInRange(0, 2));
  c.UpD_rows = in.ConsumeIntegralInRange<int16_t>(-2, 12);
  c.UpD_cols = in.ConsumeIntegralInRange<int16_t>(-2, 12);
  c.UpD_nrStr = in.ConsumeIntegralInRange<int16_t>(-2, 12);
  c.UpD_strType = in.ConsumeIntegralInRange<int16_t>(-3, 3);
  c.CB_strType = in.ConsumeIntegralInRange(-1, 6);
  m.Sim.ClockSeed = [seed = in.ConsumeIntegral<uint32_t>()] { return seed; };
  m.CreateMainWindow();  // the default table: nothing can fail
  CheckRunIsWhole(m, trace);

  for (size_t row = 1; row <= 7; ++row) c.SG_weight[1][row] = in.ConsumeRandomLengthString(40);

  // A few of the operations that rebuild the weights, in the order the input gives.
  const int operations = in.ConsumeIntegralInRange(1, 4);
  for (int op = 0; op < operations; ++op) {
    const bool wasChanged = m.Sim.StreetsChanged;
    bool built = false;
    bool rebuilds = true;
    switch (in.ConsumeIntegralInRange(0, 6)) {
      case 0:
        built = Rebuild(m, [&] { m.Sim.LayOutStreetGrid(); });
        break;
      case 1:
        built = Rebuild(m, [&] { m.Sim.LayOutRandomStreets(); });
        break;
      case 2: {
        // A stroke across the panel, its ends possibly off the panel.
        const int x0 = in.ConsumeIntegralInRange(-10, 70), y0 = in.ConsumeIntegralInRange(-10, 70);
        const int x1 = in.ConsumeIntegralInRange(-10, 70), y1 = in.ConsumeIntegralInRange(-10, 70);
        const PointerButton button = in.ConsumeBool() ? PointerButton::Left : PointerButton::Right;
        rebuilds = !c.CB_hideAgs && c.CB_strType >= 0 && c.CB_strType < 6;
        built = Rebuild(m, [&] {
          m.ZeichenPanelMouseDown(button, x0, y0);
          m.ZeichenPanelMouseMove(x1, y1);
          m.ZeichenPanelMouseUp(button, x1, y1);
        });
        if (m.Stroke.active || m.OverlayImage) Fail("stroke left open");
        break;
      }
      case 3:
        built = Rebuild(m, [&] { m.DeleteStreets(); });
        break;
      case 4: {
        // The old run goes first only when every row parses; otherwise it is kept.
        m.Sim.KeepOldRunBytes = in.ConsumeBool() ? 0 : m.Sim.KeepOldRunBytes;
        const size_t cellsBefore = m.Sim.Cells.size();
        built = Rebuild(m, [&] { m.SetUpRun(); });
        if (!built && m.Sim.Cells.size() != cellsBefore) Fail("a refused setup changed the run");
        break;
      }
      case 5: {
        const bool stoppedBefore = m.Window.StopButtonRed;
        const bool wasRunning = m.Window.Timer1Enabled;
        built = Rebuild(m, [&] { m.B_stopClick(); });
        rebuilds = !wasRunning && wasChanged;
        if (!built && m.Window.StopButtonRed != stoppedBefore) Fail("refused start changed button");
        break;
      }
      default:
        built = Rebuild(m, [&] { m.Sim.BuildNeighbourhoodWeights(); });
        break;
    }
    if (rebuilds && built && m.Sim.StreetsChanged) Fail("completed rebuild left streets changed");
    if (!built && !m.Sim.StreetsChanged && m.Sim.Cells.size()) {
      // Only the checks before any rebuild leave the flag as it was.
      if (wasChanged) Fail("refused rebuild cleared the changed flag");
    }
    trace.Add(built);
    CheckRunIsWhole(m, trace);
  }
  return trace.hash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (Scenario(data, size, EngineKind::Literal) != Scenario(data, size, EngineKind::Fast)) {
    Fail("the engines differ");
  }
  return 0;
}
