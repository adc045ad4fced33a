#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/run_command.h"

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
  bool quiet = false;
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

// Runs the experiment: its rows on `out`, progress and warnings on `err`; returns the status.
int ExecuteExperiment(const RunOptions& run, const ExperimentOptions& experiment, std::FILE* out,
                      std::ostream& err);

}  // namespace segwork::cli
