#include <CLI/CLI.hpp>
#include <iostream>
#include <tuple>

#include "cli/run_command.h"
#include "cli/sweep_command.h"

int main(int argc, char** argv) {
  CLI::App app{"segwork-cli: the segregation model without windows"};
  app.set_version_flag("--version", std::string("segwork-cli 0.1.0"));
  app.require_subcommand(1);

  segwork::cli::RunOptions runOptions;
  CLI::App* run = app.add_subcommand("run", "set up one run and print one CSV row per step");
  segwork::cli::AddRunOptions(*run, runOptions);
  run->add_option("--engine", runOptions.engine, "neighbourhood engine")
      ->check(CLI::IsMember({"fast", "literal"}));

  segwork::cli::RunOptions benchOptions;
  CLI::App* bench = app.add_subcommand(
      "bench", "run both engines side by side for 500 steps and compare their speed");
  segwork::cli::AddRunOptions(*bench, benchOptions);
  bench->remove_option(bench->get_option("--steps"));

  CLI::App* sweep = app.add_subcommand(
      "sweep", "run one of the batch experiments without windows, in parallel and shardable");
  sweep->require_subcommand(1);
  using segwork::cli::Experiment;
  struct SweepCommand {
    segwork::cli::RunOptions run;
    segwork::cli::SweepOptions options;
    CLI::App* command = nullptr;
  };
  SweepCommand sweeps[3];
  const std::tuple<Experiment, const char*, const char*> kinds[3] = {
      {Experiment::Parameter, "parameter", "sweep one model parameter: clusters and mean IS"},
      {Experiment::Growth, "growth", "sweep the threshold: mean IS and density per step"},
      {Experiment::Streets, "streets", "sweep a street layout's size: street cells and clusters"},
  };
  for (size_t i = 0; i < 3; ++i) {
    const auto& [experiment, name, description] = kinds[i];
    sweeps[i].command = sweep->add_subcommand(name, description);
    segwork::cli::AddSweepOptions(*sweeps[i].command, experiment, sweeps[i].run, sweeps[i].options);
  }

  CLI11_PARSE(app, argc, argv);
  if (run->parsed()) return segwork::cli::ExecuteRun(runOptions, stdout, std::cerr);
  if (bench->parsed()) return segwork::cli::ExecuteBench(benchOptions, stdout, std::cerr);
  for (const SweepCommand& s : sweeps) {
    if (s.command->parsed()) return segwork::cli::ExecuteSweep(s.run, s.options, stdout, std::cerr);
  }
  return 0;
}
