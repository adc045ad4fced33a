#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/run_command.h"
#include "files/scenario.h"

namespace CLI {
class App;
}

namespace segwork::cli {

// The options of `segwork-cli experiment` beside those of `run`, as the texts given.
struct ExperimentOptions {
  std::vector<std::string> vary;      // NAME=VALUES each
  std::optional<std::string> design;  // a CSV file, one run per row
  std::string runs = "1";             // repetitions of each combination or design row
  std::optional<std::string> until;   // "settled"
  std::string measures = "movers,mean_is,is,sat,clusters";
  std::optional<std::string> every;
  std::optional<std::string> jobs;
  std::optional<std::string> shard;
  std::optional<std::string> output;  // the rows to FILE, with FILE.sweep naming the experiment
  bool resume = false;
  bool quiet = false;
};

// What a caller other than the command line follows of a running experiment, on the thread that
// runs it.
struct ExperimentHooks {
  // Set: no further run is taken; the whole runs written so far are kept, and a resumed
  // experiment goes on from there.
  const std::atomic<bool>* stop = nullptr;
  // Before any run: the header of the rows and how many runs the output holds already.
  std::function<void(const std::string& header, uint64_t done, uint64_t total)> started;
  // After each run's rows are written.
  std::function<void(uint64_t run, const std::string& rows, uint64_t done, uint64_t total)> runDone;
};

void AddExperimentOptions(CLI::App& command, RunOptions& run, ExperimentOptions& experiment);

// One varied parameter and its values, in the order they are run.
struct VariedParameter {
  const Parameter* parameter = nullptr;
  std::vector<std::string> values;
};

// "NAME=a,b,c" or "NAME=from:step:to" (to included when a step hits it).
VariedParameter ParseVary(const std::string& text);

// A design table: the parameters of its header and one row of values per run; a "seed" column
// gives each run its seed.
struct Design {
  std::vector<const Parameter*> parameters;
  std::vector<std::vector<std::string>> rows;  // in the order of `parameters`
  std::vector<std::optional<uint32_t>> seeds;  // per row, when the design has a seed column
};
// Reads a design from its text; `name` (the file) begins every message, which names the row and
// the column.
Design ParseDesign(const std::string& text, const std::string& name);

// Fills every experiment option not given on the command line from the scenario's experiment
// section, if it has one; a design file is found beside the scenario.
void ApplyExperimentScenario(const CLI::App& command, const RunOptions& run,
                             ExperimentOptions& experiment);

// The experiment section of a scenario for these options, and back; `base` is the folder of the
// scenario file, which a design's path is relative to.
ExperimentSettings SettingsOf(const ExperimentOptions& experiment);
ExperimentOptions OptionsOf(const ExperimentSettings& settings, const std::string& base);

// Runs the experiment: its rows on `out` (or --output), progress and warnings on `err`; returns
// the status. With --save-scenario, writes the scenario with its experiment instead.
int ExecuteExperiment(const RunOptions& run, const ExperimentOptions& experiment, std::FILE* out,
                      std::ostream& err, const ExperimentHooks* hooks = nullptr);

}  // namespace segwork::cli
