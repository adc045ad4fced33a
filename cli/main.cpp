#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/run_command.h"

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

  CLI11_PARSE(app, argc, argv);
  if (run->parsed()) return segwork::cli::ExecuteRun(runOptions, stdout, std::cerr);
  if (bench->parsed()) return segwork::cli::ExecuteBench(benchOptions, stdout, std::cerr);
  return 0;
}
