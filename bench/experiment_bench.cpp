// Experiments against the same runs made one after another, with one and two jobs, and what
// stopping when settled saves; run with --benchmark_filter to pick some.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <sstream>

#include "cli/experiment_command.h"
#include "cli/run_command.h"
#include "experiments/sweep_core.h"
#include "sim/engine.h"

namespace segwork::cli {
namespace {

constexpr int kRuns = 8;
constexpr uint32_t kSeed = 1;

// Eight runs of 300 steps at the defaults, thresholds 20 and 40.
ExperimentOptions Eight(const char* jobs) {
  ExperimentOptions e;
  e.vary = {"threshold=20,40"};
  e.runs = "4";
  e.jobs = jobs;
  e.quiet = true;
  return e;
}

RunOptions Defaults(const char* steps) {
  RunOptions o;
  o.seed = std::to_string(kSeed);
  o.Text("steps") = steps;
  return o;
}

// The experiment's runs, made here one after another, without rows.
void BM_RunsOneAfterAnother(benchmark::State& state) {
  for (auto _ : state) {
    for (int r = 0; r < kRuns; ++r) {
      RunOptions o = Defaults("300");
      o.seed = std::to_string(RunSeed(kSeed, uint32_t(r)));
      o.Text("threshold") = r < kRuns / 2 ? "20" : "40";
      std::ostringstream err;
      const auto sim = PrepareRun(o, EngineKind::Fast, err, true);
      sim->History = MeasureHistory::LatestOnly;
      for (int s = 0; s < 300; ++s) sim->AdvanceOneStep();
      sim->FindClusters();
      benchmark::DoNotOptimize(sim->Measures.LastClusterCount);
    }
  }
  state.counters["runs/s"] =
      benchmark::Counter(kRuns, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RunsOneAfterAnother)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Experiment(benchmark::State& state) {
  std::FILE* null = std::fopen("/dev/null", "w");
  const std::string jobs = std::to_string(state.range(0));
  for (auto _ : state) {
    std::ostringstream err;
    ExecuteExperiment(Defaults("300"), Eight(jobs.c_str()), null, err);
  }
  std::fclose(null);
  state.counters["runs/s"] =
      benchmark::Counter(kRuns, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Experiment)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("jobs")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Until settled on the defaults, against the 500 steps of a run: the steps made per run.
void BM_UntilSettled(benchmark::State& state) {
  std::FILE* rows = std::tmpfile();
  ExperimentOptions e = Eight("1");
  e.until = "settled";
  e.measures = "movers";
  for (auto _ : state) {
    std::ostringstream err;
    std::rewind(rows);
    ExecuteExperiment(Defaults("500"), e, rows, err);
  }
  // The steps column of the rows: run,calc,seed,threshold,steps,...
  std::fflush(rows);
  std::rewind(rows);
  char line[256];
  double steps = 0;
  for (bool header = true; std::fgets(line, sizeof line, rows); header = false) {
    if (header) continue;
    std::istringstream fields(line);
    std::string field;
    for (int f = 0; f < 4 && std::getline(fields, field, ','); ++f) {
    }
    if (std::getline(fields, field, ',')) steps += std::stod(field);
  }
  std::fclose(rows);
  state.counters["steps/run"] = steps / kRuns;
  state.counters["of 500"] = steps / kRuns / 500;
}
BENCHMARK(BM_UntilSettled)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace segwork::cli

BENCHMARK_MAIN();
