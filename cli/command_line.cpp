#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/experiment_command.h"
#include "cli/output.h"
#include "cli/run_command.h"
#include "cli/run_saved.h"
#include "cli/sweep_command.h"
#include "core/errors.h"
#include "experiments/experiment.h"
#include "files/scenario.h"

// The build passes the project's version; one number for --version, the man page and the package.
#ifndef SEGWORK_VERSION
#error "SEGWORK_VERSION must be defined by the build"
#endif

namespace segwork::cli {
namespace {

struct SweepCommand {
  RunOptions run;
  SweepOptions options;
  CLI::App* command = nullptr;
};

// The command tree with every option bound to its texts.
struct CommandLine {
  // A fixed name, so the usage line does not show the path the program was started by.
  CLI::App app{"segwork-cli: the segregation model without windows", "segwork-cli"};
  RunOptions runOptions;
  CLI::App* run = nullptr;
  RunOptions benchOptions;
  CLI::App* bench = nullptr;
  std::vector<SweepCommand> sweeps = std::vector<SweepCommand>(Experiments().size());
  RunOptions experimentRun;
  ExperimentOptions experimentOptions;
  CLI::App* experiment = nullptr;

  CommandLine() {
    app.set_version_flag("--version", std::string("segwork-cli " SEGWORK_VERSION));
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 done; 1 a bad value, a failed write or a failed run; 2 a usage error (the "
        "command line does not parse or has options that cannot go together); 3 bench: the "
        "engines differ; 128+N ended by signal N (a run or sweep stops between whole rows).");

    run = app.add_subcommand("run", "set up one run and print one CSV row per step");
    AddRunOptions(*run, runOptions);
    run->add_option("--engine", runOptions.engine, "neighbourhood engine")
        ->check(CLI::IsMember({"fast", "literal"}));
    run->add_option("--save-scenario", runOptions.saveScenario,
                    "write the scenario of these options (the streets laid out) instead of "
                    "running")
        ->type_name("FILE");
    run->add_option("--save-run", runOptions.saveRun,
                    "write the run after its last step, to go on from later with --open-run")
        ->type_name("FILE");
    run->add_option("--open-run", runOptions.openRun,
                    "go on from a saved run for --steps more steps; its settings hold")
        ->type_name("FILE");
    AddPictureOptions(*run, runOptions.pictures);
    run->add_option("--measures", runOptions.measures,
                    "the measures of each row, comma-separated, instead of "
                    "agents,movers,is,sat")
        ->type_name("LIST");
    run->add_option("--cells", runOptions.cells,
                    "write every cell at step 0, every --every steps and the last, as CSV "
                    "(.csv) or NetCDF (.nc)")
        ->type_name("FILE");
    run->add_option("--agents-table", runOptions.agentsTable,
                    "write every agent at the steps of --cells, as CSV")
        ->type_name("FILE.csv");

    bench = app.add_subcommand(
        "bench", "run both engines side by side for 500 steps and compare their speed");
    AddRunOptions(*bench, benchOptions);
    bench->remove_option(bench->get_option("--steps"));

    CLI::App* sweep = app.add_subcommand(
        "sweep", "run one of the batch experiments without windows, in parallel and shardable");
    sweep->require_subcommand(1);
    for (size_t i = 0; i < Experiments().size(); ++i) {
      const ExperimentDescription& d = Experiments()[i];
      sweeps[i].command = sweep->add_subcommand(d.name, d.description);
      AddSweepOptions(*sweeps[i].command, d.kind, sweeps[i].run, sweeps[i].options);
    }

    experiment = app.add_subcommand(
        "experiment",
        "run every combination of varied parameters, or a design table, and print a row a run");
    AddExperimentOptions(*experiment, experimentRun, experimentOptions);
  }

  // -1 when the arguments name a command to run, otherwise the exit status.
  int Parse(int argc, const char* const* argv, std::ostream& info, std::ostream& err) {
    try {
      app.parse(argc, argv);
      return -1;
    } catch (const CLI::ParseError& e) {
      // Help and version end here with 0; CLI11's own codes for usage errors are not documented.
      return app.exit(e, info, err) == 0 ? 0 : kUsageStatus;
    }
  }
};

int LoadScenario(const CLI::App& command, RunOptions& options, std::FILE* out, std::ostream& err) {
  return ExitStatusOf(
      [&] {
        ApplyScenario(command, options);
        return 0;
      },
      out, err);
}

// `sweep --scenario FILE ...` sweeps the experiment the file's sweep names: the words with it put
// after "sweep". A file that cannot tell (unreadable, no sweep) gets "parameter" here, so that the
// parse goes on as for a named experiment and the run reports what is wrong with the file.
struct SweepWords {
  std::vector<std::string> words;
  bool kindFromFile = false;
};

SweepWords WithSweepKind(int argc, const char* const* argv) {
  SweepWords result{std::vector<std::string>(argv, argv + argc)};
  std::vector<std::string>& words = result.words;
  if (argc < 3 || words[1] != "sweep") return result;
  std::string file;
  if (words[2] == "--scenario" && argc >= 4) file = words[3];
  if (words[2].rfind("--scenario=", 0) == 0) file = words[2].substr(11);
  if (file.empty()) return result;
  std::string kind = "parameter";
  try {
    const Scenario scenario = segwork::LoadScenario(file);
    if (scenario.sweep) kind = scenario.sweep->experiment;
  } catch (const SegworkError&) {
  }
  words.insert(words.begin() + 2, kind);
  result.kindFromFile = true;
  return result;
}

}  // namespace

int RunCommandLine(int argc, const char* const* argv, std::FILE* out, std::ostream& info,
                   std::ostream& err) {
  const SweepWords words = WithSweepKind(argc, argv);
  std::vector<const char*> args;
  for (const std::string& word : words.words) args.push_back(word.c_str());
  CommandLine line;
  if (const int status = line.Parse(int(args.size()), args.data(), info, err); status >= 0) {
    return status;
  }
  if (line.run->parsed()) {
    if (line.runOptions.openRun) {
      const int status = ExitStatusOf(
          [&] {
            CheckOpenRunOptions(*line.run);
            return 0;
          },
          out, err);
      if (status) return status;
    }
    if (const int status = LoadScenario(*line.run, line.runOptions, out, err)) return status;
    return ExecuteRun(line.runOptions, out, err);
  }
  if (line.bench->parsed()) {
    if (const int status = LoadScenario(*line.bench, line.benchOptions, out, err)) return status;
    return ExecuteBench(line.benchOptions, out, err);
  }
  if (line.experiment->parsed()) {
    const int status = ExitStatusOf(
        [&] {
          ApplyScenario(*line.experiment, line.experimentRun);
          ApplyExperimentScenario(*line.experiment, line.experimentRun, line.experimentOptions);
          return 0;
        },
        out, err);
    if (status) return status;
    return ExecuteExperiment(line.experimentRun, line.experimentOptions, out, err);
  }
  for (SweepCommand& s : line.sweeps) {
    if (!s.command->parsed()) continue;
    const int status = ExitStatusOf(
        [&] {
          ApplyScenario(*s.command, s.run);
          if (words.kindFromFile && !s.run.scenario->sweep) {
            throw SegworkError(*s.run.scenarioFile +
                               ": sweep: missing; name the experiment: segwork-cli sweep "
                               "parameter|growth|streets --scenario " +
                               *s.run.scenarioFile);
          }
          ApplySweepScenario(*s.command, s.run, s.options);
          CheckSweptOption(*s.command, s.options);
          return 0;
        },
        out, err);
    if (status) return status;
    return ExecuteSweep(s.run, s.options, out, err);
  }
  return 0;
}

namespace {

// The words parsed, or the command line's message thrown.
void ParseWords(CommandLine& line, const std::vector<std::string>& words) {
  std::vector<const char*> args = {"segwork-cli"};
  for (const std::string& word : words) args.push_back(word.c_str());
  std::ostringstream info, err;
  if (line.Parse(int(args.size()), args.data(), info, err) >= 0) {
    std::string message = err.str().empty() ? info.str() : err.str();
    while (!message.empty() && message.back() == '\n') message.pop_back();
    throw UsageError(message);
  }
}

}  // namespace

RunOptions ParseRunWords(const std::vector<std::string>& words) {
  CommandLine line;
  ParseWords(line, words);
  if (!line.run->parsed()) throw UsageError("not the words of run");
  ApplyScenario(*line.run, line.runOptions);
  return line.runOptions;
}

std::pair<RunOptions, ExperimentOptions> ParseExperimentWords(
    const std::vector<std::string>& words) {
  CommandLine line;
  ParseWords(line, words);
  if (!line.experiment->parsed()) throw UsageError("not the words of experiment");
  ApplyScenario(*line.experiment, line.experimentRun);
  ApplyExperimentScenario(*line.experiment, line.experimentRun, line.experimentOptions);
  return {line.experimentRun, line.experimentOptions};
}

int CheckCommandLine(int argc, const char* const* argv, std::ostream& info, std::ostream& err) {
  const SweepWords words = WithSweepKind(argc, argv);
  std::vector<const char*> args;
  for (const std::string& word : words.words) args.push_back(word.c_str());
  CommandLine line;
  const int status = line.Parse(int(args.size()), args.data(), info, err);
  return status >= 0 ? status : 0;
}

}  // namespace segwork::cli
