#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/Analyse.h"
#include "cli/run_pictures.h"
#include "core/controls.h"
#include "core/parameters.h"
#include "sim/simulation.h"

namespace CLI {
class App;
}

namespace segwork {
enum class EngineKind;
struct Scenario;
}  // namespace segwork

namespace segwork::cli {

// The options of `segwork-cli run`, kept as the texts the controls would hold; they are converted
// and checked by the same code the desktop program uses. The defaults are the controls'.
struct RunOptions {
  std::optional<std::string> seed;
  // Every run parameter's text, in the order of the parameter table (flags as yes or no).
  std::vector<std::string> values = DefaultValues();
  // Flags bound to the command line, in the same order.
  std::deque<bool> flags = DefaultFlags();
  std::string& Text(std::string_view name) { return values[Index(name)]; }
  const std::string& Text(std::string_view name) const { return values[Index(name)]; }
  bool& Flag(std::string_view name) { return flags[Index(name)]; }
  bool Flag(std::string_view name) const { return flags[Index(name)]; }
  // The parameter's value as a face writes it: a flag's yes or no, any other's text.
  std::string Value(const Parameter& p) const;
  void SetValue(const Parameter& p, const std::string& value);

  // Controls without an option of their own set for this run (an experiment's weights).
  std::vector<std::pair<const Parameter*, std::string>> controlOverrides;

  static size_t Index(std::string_view name);
  static std::vector<std::string> DefaultValues();
  static std::deque<bool> DefaultFlags();

  std::optional<std::string> layout;
  std::optional<std::string> weights;
  // X0,Y0,X1,Y1,T each: strokes drawn after the layout press, in order.
  std::vector<std::string> streetLines;
  std::string panel = "694";
  std::optional<std::string> panelHeight;  // a scenario's panel need not be square
  std::string engine = "fast";
  // --scenario: the file's controls beneath the options, and its streets before the layout
  // press; a street sweep lays out its own streets instead.
  std::optional<std::string> scenarioFile;
  std::shared_ptr<const Scenario> scenario;
  bool scenarioStreets = true;
  // --save-scenario: write the scenario of these options instead of running.
  std::optional<std::string> saveScenario;
  // --save-run: the run after its last step; --open-run: go on from a saved run for --steps more.
  std::optional<std::string> saveRun;
  std::optional<std::string> openRun;
  // --picture, --frames, --movie, --every: pictures of the run.
  PictureOptions pictures;
  // --measures: the columns of the rows instead of the usual ones.
  std::optional<std::string> measures;
  // --cells, --agents-table: the world as data at the start, every --every steps and the last.
  std::optional<std::string> cells;
  std::optional<std::string> agentsTable;
};

void AddRunOptions(CLI::App& command, RunOptions& options);

// Loads --scenario if it was given and fills every option not given on the command line from it.
void ApplyScenario(const CLI::App& command, RunOptions& options);
// The options `--scenario` gives a command with no other option: all of them from the scenario,
// here one held in memory; `name` stands for its file in messages.
RunOptions ScenarioRunOptions(std::shared_ptr<const Scenario> scenario, const std::string& name);

// A flag that also takes "--name=true" and the like, and refuses any other text.
void AddFlag(CLI::App& command, const std::string& name, bool& value,
             const std::string& description);

// Milliseconds since this call, as a run's TickCount reads them.
std::function<uint32_t()> SteadyTickCount();

// The text of --seed: decimal digits for 0..4294967295, otherwise a SegworkError.
uint32_t ParseSeed(const std::string& text);

// A run without a window, and the analysis window's tables a saved run of it keeps: those of its
// setup, or of the file it was opened from.
struct HeadlessRun : Simulation {
  AnalysisWindow Analysis;
};

// Program start, the layout button if one is given, and "new Setup", with the options in the
// controls; warnings and the clock seed go to `err` unless quiet.
void PrepareSimulation(Simulation& sim, const RunOptions& options, EngineKind engine,
                       std::ostream& err, bool quiet);
std::unique_ptr<HeadlessRun> PrepareRun(const RunOptions& options, EngineKind engine,
                                        std::ostream& err, bool quiet);

// FNV-1a over every cell's State as 32-bit little-endian integers, rows outer.
uint64_t StateDigest(const Simulation& sim);

// Runs the model as the contract of `segwork-cli run` says: CSV rows on `out`, warnings, the clock
// seed and errors on `err`. Returns the exit status.
int ExecuteRun(const RunOptions& options, std::FILE* out, std::ostream& err);

// Runs a command's body: a failure prints its message on `err` and gives status 1.
int ExitStatusOf(const std::function<int()>& command, std::FILE* out, std::ostream& err);

// Both engines side by side on the same settings: steps per second for steps 1-50 and 401-500,
// their ratios, and whether the cell states agree after every step.
int ExecuteBench(const RunOptions& options, std::FILE* out, std::ostream& err);

}  // namespace segwork::cli
