#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/controls.h"
#include "sim/simulation.h"

namespace segwork {

inline constexpr int kScenarioVersion = 1;
inline constexpr const char* kScenarioFormat = "segwork scenario";
// The most a scenario file may hold: the street grid (a character a cell) of the largest world a
// run can set up within the 20 GiB memory limit (about 341 million cells at 63 bytes each), the
// quotes and indents of up to 2^20 rows and room for lines and controls.
inline constexpr uint64_t kScenarioByteLimit = uint64_t(352) << 20;

// An experiment window's own fields, as texts like the window holds them; the steps per run are
// the controls' E_stopT.
struct SweepSettings {
  std::string experiment;  // parameter | growth | streets
  std::string parameter;   // parameter sweep: groups | radius | move-distance | threshold
  std::string layout;      // street sweep: grid | random
  std::string from;
  std::string to;
  std::string increment;
  std::string runs;
  std::string polyDegree = "3";
};

// An experiment of any design, as `segwork-cli experiment` takes it: the varied parameters as
// NAME=VALUES, or a design file (relative to the scenario's folder); the steps per run are the
// controls' E_stopT.
struct ExperimentSettings {
  std::vector<std::string> vary;
  std::string design;
  std::string runs = "1";
  std::string until;     // "settled", or none
  std::string measures;  // none: the default measures
  std::string every;     // none: a row at the end of each run
};

// Everything a run depends on, as a file keeps it: the main window's controls as they stand, the
// panel, the seed (none: the clock) and the streets; optionally an experiment window's sweep.
struct Scenario {
  ControlValues controls;
  int32_t panelWidth = 694;
  int32_t panelHeight = 694;
  std::optional<uint32_t> seed;
  std::vector<StreetLine> lines;
  // The street-type grid; without one the lines are marked as strokes, in order.
  std::optional<SavedStreets> streets;
  std::optional<SweepSettings> sweep;
  std::optional<ExperimentSettings> experiment;
};

// The grid the controls' cell size makes on the panel, after the edit checks.
GridPos GridSizeOf(const ControlValues& controls, int32_t panelWidth, int32_t panelHeight);

// Reads a scenario from its text; `name` (the file) begins every message. A text that is not
// JSON, an unknown version or key, a value of the wrong kind or range, a street line outside the
// grid or a grid of another size throws one SegworkError naming the key.
Scenario ParseScenario(const std::string& text, const std::string& name);
Scenario LoadScenario(const std::string& path);

// The scenario as its file holds it, and written to a file (every write checked).
std::string ScenarioText(const Scenario& scenario);
void SaveScenario(const Scenario& scenario, const std::string& path);

// The controls, panel and seed of a run, without its streets.
Scenario SettingsOf(const Simulation& model);
// The scenario of a run as it stands: its controls, panel, seed and streets.
Scenario ScenarioOf(const Simulation& model);

// The streets a run of the scenario starts with: the saved grid, or the lines as strokes.
StartStreets StartStreetsOf(const Scenario& scenario, const std::string& name);

}  // namespace segwork
