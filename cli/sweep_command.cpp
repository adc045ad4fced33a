#include "cli/sweep_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/measure_catalog.h"
#include "cli/output.h"
#include "cli/run_pool.h"
#include "cli/sweep_file.h"
#include "core/convert.h"
#include "core/errors.h"
#include "experiments/experiment.h"
#include "experiments/sweep_core.h"
#include "files/scenario.h"

namespace segwork::cli {

namespace {

// The street sweep's choice is the run's layout button; any other's is an option of the sweep.
bool ChoosesLayout(const ExperimentDescription& d) {
  return d.choiceOption && std::string_view(d.choiceOption) == "layout";
}
std::optional<std::string>& ChoiceOf(const ExperimentDescription& d, RunOptions& run,
                                     SweepOptions& sweep) {
  return ChoosesLayout(d) ? run.layout : sweep.parameter;
}

}  // namespace

void SetSweepDefaults(Experiment experiment, RunOptions& run, SweepOptions& sweep) {
  const SweepFields d = DescriptionOf(experiment).defaults;
  sweep.experiment = experiment;
  sweep.from = d.from;
  sweep.to = d.to;
  sweep.increment = d.increment;
  run.Text("steps") = d.steps;
  sweep.runs = d.runs;
}

void AddSweepOptions(CLI::App& command, Experiment experiment, RunOptions& run,
                     SweepOptions& sweep) {
  SetSweepDefaults(experiment, run, sweep);
  AddRunOptions(command, run);
  command.get_option("--seed")->description(
      "unsigned 32-bit seed of the sweep; each run's seed is mixed from it and the run's index");
  command.get_option("--steps")->description("time steps of every run (timesteps per value)");
  const ExperimentDescription& d = DescriptionOf(experiment);
  // The swept value overwrites these.
  for (const char* name : d.overwritten) {
    command.remove_option(command.get_option(std::string("--") + name));
  }
  if (ChoosesLayout(d)) {
    command.get_option("--layout")
        ->description(std::string("street layout of every run (default ") + d.defaultChoice + ")");
  }
  command.add_option("--engine", run.engine, "neighbourhood engine")
      ->check(CLI::IsMember({"fast", "literal"}));
  command.add_option("--from", sweep.from, "first value")->type_name("N");
  command.add_option("--to", sweep.to, "upper bound of the values")->type_name("N");
  command.add_option("--increment", sweep.increment, "step between values")->type_name("N");
  command.add_option("--runs", sweep.runs, "calculations per value")->type_name("N");
  if (d.choiceOption && !ChoosesLayout(d)) {
    command.add_option(std::string("--") + d.choiceOption, sweep.parameter, "the swept parameter")
        ->check(CLI::IsMember(std::vector<std::string>(d.choices.begin(), d.choices.end())));
  }
  if (d.fits) {
    command.add_option("--poly-degree", sweep.polyDegree, "coefficients of the curve fits, 2..20")
        ->type_name("N");
  }
  command.add_option("--jobs", sweep.jobs, "runs in parallel (default: hardware threads)")
      ->type_name("N");
  command.add_option("--shard", sweep.shard, "run only block I of N of the runs")->type_name("I/N");
  command
      .add_option("--output", sweep.output,
                  "write the rows to FILE as the runs finish (with FILE.sweep naming the sweep)")
      ->type_name("FILE");
  AddFlag(command, "--resume", sweep.resume,
          "finish the sweep of --output FILE: keep its whole rows, run only what is missing");
  AddFlag(command, "--summary", sweep.summary, "append the derived series (averages, trend, fit)");
  AddFlag(command, "--quiet", sweep.quiet, "no progress lines on stderr");
}

void ApplySweepScenario(const CLI::App& command, RunOptions& run, SweepOptions& sweep) {
  if (!run.scenario) return;
  const ExperimentDescription& d = DescriptionOf(sweep.experiment);
  // The street sweep lays out its own streets after "delete streets", as its window does.
  if (ChoosesLayout(d)) run.scenarioStreets = false;
  if (!run.scenario->sweep) return;
  const SweepSettings& s = *run.scenario->sweep;
  const std::string kind = d.name;
  if (s.experiment != kind) {
    throw SegworkError(*run.scenarioFile + ": sweep.experiment: the file sweeps " + s.experiment +
                       ", not " + kind);
  }
  auto given = [&](const char* name) {
    const CLI::Option* option = command.get_option_no_throw(name);
    return option && option->count() > 0;
  };
  auto fill = [&](const char* name, std::string& option, const std::string& text) {
    if (!given(name) && !text.empty()) option = text;
  };
  fill("--from", sweep.from, s.from);
  fill("--to", sweep.to, s.to);
  fill("--increment", sweep.increment, s.increment);
  fill("--runs", sweep.runs, s.runs);
  if (d.choiceOption) {
    const std::string& chosen = ChoosesLayout(d) ? s.layout : s.parameter;
    if (!given((std::string("--") + d.choiceOption).c_str()) && !chosen.empty()) {
      ChoiceOf(d, run, sweep) = chosen;
    }
  }
  if (d.fits) fill("--poly-degree", sweep.polyDegree, s.polyDegree);
}

void CheckSweptOption(const CLI::App& command, const SweepOptions& sweep) {
  const ExperimentDescription& d = DescriptionOf(sweep.experiment);
  // The chosen parameters take their values from the sweep; the others are not options at all.
  if (!d.choiceOption || !sweep.parameter) return;
  const size_t choice = d.ChoiceIndex(*sweep.parameter);
  for (const char* swept : d.swept[choice]) {
    const std::string name = std::string("--") + swept;
    const CLI::Option* option = command.get_option_no_throw(name);
    if (option && option->count() > 0) {
      throw UsageError(name + " is not expected: it is the swept parameter, whose values come " +
                       "from --from, --to and --increment");
    }
  }
}

namespace {

// The sweep's runs and what the CLI adds to them: its share, its threads, its output.
struct Plan : SweepPlan {
  Experiment experiment = Experiment::Parameter;
  uint64_t begin = 0;
  uint64_t end = 0;
  std::string shard = "0/1";  // i/n as numbers
  bool printsHeader = true;
  std::string header;
  uint32_t jobs = 1;
  int32_t polyDegree = 3;
  const ExperimentDescription* description = &DescriptionOf(Experiment::Parameter);
  // What the values are written to, and the choice that made it so (a layout's name).
  const std::vector<const char*>* swept = nullptr;
  std::string choice;
  EngineKind engine = EngineKind::Fast;
  bool summary = false;
  bool quiet = false;

  // The fields every row of run r begins with: run, value, calc and seed.
  std::string RowPrefix(uint64_t r) const {
    return std::to_string(r) + ',' + std::to_string(ValueOf(r)) + ',' + std::to_string(CalcOf(r)) +
           ',' + std::to_string(SeedOf(r));
  }
};

struct RunResult {
  std::string rows;
  std::string warnings;
  std::optional<std::string> error;
  RunMeasures measures;  // kept for the summary
};

std::string Real(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

// The options of run r: the base with its seed, the layout and the swept value as option texts.
RunOptions RunOptionsOf(const Plan& plan, const RunOptions& base, uint64_t r) {
  RunOptions o = base;
  const std::string text = std::to_string(plan.ValueOf(r));
  o.seed = std::to_string(plan.SeedOf(r));
  if (ChoosesLayout(*plan.description)) o.layout = plan.choice;
  for (const char* name : *plan.swept) o.Text(name) = text;
  return o;
}

std::string RowsOf(const Plan& plan, uint64_t r, const RunMeasures& m) {
  return plan.description->Rows(plan.RowPrefix(r) + ',', m);
}

RunResult DoRun(const Plan& plan, const RunOptions& base, uint64_t r) {
  RunResult result;
  std::ostringstream warnings;
  result.error = FailureOf([&] {
    const RunOptions o = RunOptionsOf(plan, base, r);
    const std::unique_ptr<HeadlessRun> model = PrepareRun(o, plan.engine, warnings, false);
    for (int32_t s = 0; s < plan.steps; ++s) model->AdvanceOneStep();
    if (plan.description->clustersAtEnd) model->FindClusters();
    result.measures = MeasureRun(*model, plan.experiment, plan.steps);
    result.rows = RowsOf(plan, r, result.measures);
    // The summary's density line is the last run's.
    if (r + 1 != plan.total) result.measures.density.clear();
  });
  result.warnings = warnings.str();
  return result;
}

std::string Summary(const Plan& plan, const std::vector<RunResult>& results, std::ostream& err) {
  std::vector<RunMeasures> runs;
  for (const RunResult& result : results) runs.push_back(result.measures);
  std::vector<std::string> warnings;
  const std::vector<SummarySeries> series =
      plan.description->Summary(plan, plan.polyDegree, runs, warnings);
  for (const std::string& warning : warnings) err << "segwork-cli: warning: " << warning << "\n";
  std::string block = "\nseries,x,y\n";
  for (const SummarySeries& one : series) {
    for (const SeriesPoint& p : one.points) {
      // An undefined y of a derived series (a trend over a single x) is an empty field.
      block += one.name + ',' + Real(p.x) + ',' +
               (one.derived && std::isnan(p.y) ? "" : Real(p.y)) + '\n';
    }
  }
  return block;
}

int RunPlan(Plan& plan, const RunOptions& base, SweepOutput& output, std::FILE* out,
            std::ostream& err) {
  std::vector<RunResult> kept;
  Warnings warnings(err);
  plan.begin = output.Next();
  {
    RunPool<RunResult> pool(plan.begin, plan.end, plan.jobs,
                            [&](uint64_t r) { return DoRun(plan, base, r); });
    // Written in run order as the runs come in, so any --jobs gives the same bytes.
    const int status = pool.TakeAll(warnings, err, [&](uint64_t r, RunResult& result) {
      output.WriteRun(r, result.rows);
      if (!plan.quiet) {
        err << "# run " << r + 1 << '/' << plan.total << " value " << plan.ValueOf(r) << "\n";
      }
      if (plan.summary) {
        result.rows.clear();
        kept.push_back(std::move(result));
      }
    });
    if (status) return status;
  }
  // Shard 0 may have no runs of its own and still owes the header.
  output.Finish();
  warnings.Summarise();
  if (plan.summary) RowWriter(out, "standard output").Write(Summary(plan, kept, err));
  return 0;
}

// This shard's block of the runs; the whole sweep without --shard.
void SetShard(Plan& plan, const SweepOptions& sweep, const RunOptions& run) {
  plan.end = plan.total;
  if (!sweep.shard) return;
  const std::string& text = *sweep.shard;
  const size_t slash = text.find('/');
  if (slash == std::string::npos || text.find('/', slash + 1) != std::string::npos) {
    throw SegworkError("--shard '" + text + "' is not of the form i/n");
  }
  const int64_t i = StrToInt(text.substr(0, slash));
  const int64_t n = StrToInt(text.substr(slash + 1));
  if (n < 1 || i < 0 || i >= n) throw SegworkError("--shard " + text + " needs 0 <= i < n");
  if (plan.summary) throw UsageError("--summary needs every run: it cannot go with --shard");
  if (!run.seed) {
    throw UsageError("--shard needs --seed, so that every shard draws the same run seeds");
  }
  plan.shard = std::to_string(i) + '/' + std::to_string(n);
  // i * total < 2^31 * 2^32: no overflow.
  plan.begin = uint64_t(i) * plan.total / uint64_t(n);
  plan.end = uint64_t(i + 1) * plan.total / uint64_t(n);
  plan.printsHeader = i == 0;
}

uint32_t ClockSeed(std::ostream& err) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto seed = uint32_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
  err << "# seed " << seed << "\n";
  return seed;
}

Plan MakePlan(const RunOptions& run, const SweepOptions& sweep, std::ostream& err) {
  Plan plan;
  plan.experiment = sweep.experiment;
  const ExperimentDescription& d = DescriptionOf(sweep.experiment);
  plan.description = &d;
  plan.header = d.Header();
  size_t choice = 0;
  if (d.choiceOption) {
    const std::optional<std::string>& chosen =
        ChoiceOf(d, const_cast<RunOptions&>(run), const_cast<SweepOptions&>(sweep));
    if (!chosen && !d.defaultChoice) {
      throw SegworkError("please select a parameter", kMissingValueCaption);
    }
    plan.choice = chosen.value_or(d.defaultChoice ? d.defaultChoice : "");
    choice = d.ChoiceIndex(plan.choice);
  }
  plan.swept = &d.swept[choice];
  // The swept values replace the options' texts, which must still be integers.
  for (const char* name : *plan.swept) StrToInt(run.Text(name));
  static_cast<SweepPlan&>(plan) =
      MakeSweepPlan(sweep.from, sweep.to, sweep.increment, run.Text("steps"), sweep.runs);

  if (d.fits) {
    const int32_t degree = StrToInt(sweep.polyDegree);
    plan.polyDegree = std::clamp(degree, 2, 20);
    if (plan.polyDegree != degree) {
      err << "segwork-cli: warning: --poly-degree " << degree << " is outside 2..20; using "
          << plan.polyDegree << "\n";
    }
  }
  if (sweep.jobs) {
    const int32_t jobs = StrToInt(*sweep.jobs);
    if (jobs < 1) throw SegworkError("--jobs " + *sweep.jobs + " is below 1");
    plan.jobs = uint32_t(jobs);
  } else {
    plan.jobs = std::max(1u, std::thread::hardware_concurrency());
  }
  plan.summary = sweep.summary;
  plan.quiet = sweep.quiet;
  if (sweep.resume && !sweep.output) throw UsageError("--resume needs --output FILE");
  if (sweep.resume && plan.summary) {
    throw UsageError("--summary needs every run in one process: it cannot go with --resume");
  }
  plan.engine = run.engine == "literal" ? EngineKind::Literal : EngineKind::Fast;
  SetShard(plan, sweep, run);
  // Checked here so that a bad period fails before any run, as the window's new start does.
  if (plan.summary && d.fits) ParameterSeries{}.Prepare(plan.runsText);
  plan.seed = run.seed ? ParseSeed(*run.seed) : ClockSeed(err);
  return plan;
}

// More groups or a larger radius need more memory: when the largest value of the block can be
// set up, so can the others, and a sweep that would fail on it fails before its first row.
void CheckLargestValue(const Plan& plan, const RunOptions& base) {
  if (plan.end - plan.begin < 2 || plan.ValueOf(plan.begin) == plan.ValueOf(plan.end - 1)) return;
  bool grows = false;
  for (const char* name : *plan.swept) {
    grows = grows || std::string_view(name) == "groups" || std::string_view(name) == "radius";
  }
  if (!grows) return;
  std::ostringstream silenced;
  PrepareRun(RunOptionsOf(plan, base, plan.end - 1), plan.engine, silenced, true);
}

// Everything the rows depend on; not --jobs, --quiet or --summary, which leave them as they are.
SweepIdentity IdentityOf(const Plan& plan, const RunOptions& o, const SweepOptions& s) {
  SweepIdentity identity = {{"experiment", plan.description->name},
                            {"parameter", s.parameter.value_or("")},
                            {"from", std::to_string(plan.from)},
                            {"increment", std::to_string(plan.increment)},
                            {"runs-per-value", std::to_string(plan.runsText)},
                            {"runs", std::to_string(plan.total)},
                            {"steps", std::to_string(plan.steps)},
                            {"seed", std::to_string(plan.seed)},
                            {"shard", plan.shard}};
  AppendRunIdentity(identity, o,
                    ChoosesLayout(*plan.description) ? plan.choice : o.layout.value_or(""));
  return identity;
}

RowShape ShapeOf(const Plan& plan) {
  RowShape shape;
  shape.prefix = [&plan](uint64_t r) { return plan.RowPrefix(r); };
  shape.prefixNames = "run, value, calc and seed";
  shape.begin = plan.begin;
  shape.end = plan.end;
  shape.header = plan.printsHeader ? plan.header.c_str() : nullptr;
  shape.stepColumn = plan.description->rowPerStep;
  shape.rowsPerRun = shape.stepColumn ? plan.steps : 1;
  return shape;
}

int Sweep(const RunOptions& given, const SweepOptions& sweep, std::FILE* out, std::ostream& err) {
  RunOptions run = given;
  // A resumed sweep that drew its seed from the clock goes on with that seed.
  if (sweep.resume && sweep.output && !run.seed) {
    if (const auto seed = RecordedSeed(*sweep.output)) run.seed = std::to_string(*seed);
  }
  Plan plan = MakePlan(run, sweep, err);
  CheckLargestValue(plan, run);
  if (!sweep.output) {
    SweepOutput output(out, ShapeOf(plan));
    return RunPlan(plan, run, output, out, err);
  }
  SweepOutput output(*sweep.output, sweep.resume, IdentityOf(plan, run, sweep), ShapeOf(plan));
  return RunPlan(plan, run, output, out, err);
}

}  // namespace

int ExecuteSweep(const RunOptions& run, const SweepOptions& sweep, std::FILE* out,
                 std::ostream& err) {
  return ExitStatusOf([&] { return Sweep(run, sweep, out, err); }, out, err);
}

}  // namespace segwork::cli
