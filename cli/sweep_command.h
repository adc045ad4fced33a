#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>

#include "cli/run_command.h"
#include "experiments/sweep_core.h"

namespace segwork::cli {

// The sweep's own options, as texts like the experiment windows' fields. The steps per run are
// RunOptions::steps.
struct SweepOptions {
  Experiment experiment = Experiment::Parameter;
  std::string from;
  std::string to;
  std::string increment;
  std::string runs;
  std::optional<std::string> parameter;  // groups | radius | move-distance | threshold
  std::optional<std::string> jobs;       // default: hardware threads
  std::optional<std::string> shard;      // "i/n"
  std::string polyDegree = "3";
  std::optional<std::string> output;  // the rows go to this file, with a record beside it
  bool resume = false;                // finish the sweep `output` holds
  bool summary = false;
  bool quiet = false;
};

// The window's defaults for the experiment: range, increment, steps and runs per value.
void SetSweepDefaults(Experiment experiment, RunOptions& run, SweepOptions& sweep);

// The defaults, the options of run (less those the sweep overwrites) and the sweep options.
void AddSweepOptions(CLI::App& command, Experiment experiment, RunOptions& run,
                     SweepOptions& sweep);

// Fills the sweep options not given on the command line from the scenario's sweep, if it has
// one; a sweep of another experiment is refused.
void ApplySweepScenario(const CLI::App& command, RunOptions& run, SweepOptions& sweep);

// A parameter sweep refuses its swept option, as the other sweeps do theirs (UsageError).
void CheckSweptOption(const CLI::App& command, const SweepOptions& sweep);

// Runs the sweep (or this shard's block of it): CSV on `out`, progress, warnings and errors on
// `err`. Returns the exit status.
int ExecuteSweep(const RunOptions& run, const SweepOptions& sweep, std::FILE* out,
                 std::ostream& err);

}  // namespace segwork::cli
