#include "cli/experiment_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include "analysis/measure_catalog.h"
#include "cli/output.h"
#include "cli/run_pool.h"
#include "cli/sweep_file.h"
#include "core/convert.h"
#include "core/errors.h"
#include "experiments/sweep_core.h"
#include "files/atomic_file.h"

namespace segwork::cli {

void AddExperimentOptions(CLI::App& command, RunOptions& run, ExperimentOptions& e) {
  AddRunOptions(command, run);
  command.get_option("--seed")->description(
      "unsigned 32-bit seed of the experiment; each run's seed is mixed from it and the run's "
      "index");
  command.get_option("--steps")->description("time steps of every run at the most");
  command.add_option("--engine", run.engine, "neighbourhood engine")
      ->check(CLI::IsMember({"fast", "literal"}));
  command
      .add_option("--vary", e.vary,
                  "a parameter and its values, a,b,c or from:step:to; repeatable: all "
                  "combinations, the first varying slowest")
      ->type_name("NAME=VALUES")
      ->allow_extra_args(false);
  command
      .add_option("--design", e.design, "a CSV file of runs: a header of parameters, a row a run")
      ->type_name("FILE");
  command.add_option("--runs", e.runs, "repetitions of each combination or design row")
      ->type_name("N");
  command.add_option("--until", e.until, "end a run after its first step without movers")
      ->check(CLI::IsMember({"settled"}));
  command.add_option("--measures", e.measures, "the measures of each row, comma-separated")
      ->type_name("LIST");
  command.add_option("--every", e.every, "a row every K steps and one at the end")->type_name("K");
  command.add_option("--jobs", e.jobs, "runs in parallel (default: hardware threads)")
      ->type_name("N");
  command.add_option("--shard", e.shard, "run only block I of N of the runs")->type_name("I/N");
  command
      .add_option("--output", e.output,
                  "write the rows to FILE as the runs finish (with FILE.sweep naming the "
                  "experiment)")
      ->type_name("FILE");
  AddFlag(command, "--resume", e.resume,
          "finish the experiment of --output FILE: keep its whole runs, make only what is "
          "missing");
  command
      .add_option("--save-scenario", run.saveScenario,
                  "write the scenario of these options with this experiment instead of running")
      ->type_name("FILE");
  AddFlag(command, "--quiet", e.quiet, "no progress lines on stderr");
}

ExperimentSettings SettingsOf(const ExperimentOptions& e) {
  ExperimentSettings s;
  s.vary = e.vary;
  s.design = e.design.value_or("");
  s.runs = e.runs;
  s.until = e.until.value_or("");
  s.measures = e.measures == ExperimentOptions().measures ? std::string() : e.measures;
  s.every = e.every.value_or("");
  return s;
}

ExperimentOptions OptionsOf(const ExperimentSettings& s, const std::string& base) {
  ExperimentOptions e;
  e.vary = s.vary;
  if (!s.design.empty()) {
    const std::filesystem::path design(s.design);
    e.design = design.is_absolute() || base.empty() ? s.design : (base / design).string();
  }
  e.runs = s.runs;
  if (!s.until.empty()) e.until = s.until;
  if (!s.measures.empty()) e.measures = s.measures;
  if (!s.every.empty()) e.every = s.every;
  return e;
}

void ApplyExperimentScenario(const CLI::App& command, const RunOptions& run, ExperimentOptions& e) {
  if (!run.scenario || !run.scenario->experiment) return;
  auto given = [&](const char* name) {
    const CLI::Option* option = command.get_option_no_throw(name);
    return option && option->count() > 0;
  };
  const ExperimentOptions file = OptionsOf(
      *run.scenario->experiment, std::filesystem::path(*run.scenarioFile).parent_path().string());
  // What varies is the command line's when it says, else the file's.
  if (!given("--vary") && !given("--design")) {
    e.vary = file.vary;
    e.design = file.design;
  }
  if (!given("--runs")) e.runs = file.runs;
  if (!given("--until")) e.until = file.until;
  if (!given("--measures")) e.measures = file.measures;
  if (!given("--every")) e.every = file.every;
}

namespace {

constexpr uint64_t kMostValues = 1'000'000;

// A value the parameter's control takes; `where` begins the message of one it refuses.
void CheckValue(const Parameter& p, const std::string& value, const std::string& where) {
  try {
    switch (p.kind) {
      case ParameterKind::Text:
      case ParameterKind::Position:
        StrToInt(value);
        return;
      case ParameterKind::Weight:
        StrToWeight(value);
        return;
      case ParameterKind::Flag:
      case ParameterKind::YesNo:
        if (value == "yes" || value == "no") return;
        throw SegworkError("'" + value + "' is not yes or no");
      case ParameterKind::Choice:
        if (std::find(p.words.begin(), p.words.end(), value) != p.words.end()) return;
        throw SegworkError("'" + value + "' is not one of " + p.words[0] + ", " + p.words[1] +
                           ", " + p.words[2]);
    }
  } catch (const SegworkError& e) {
    throw SegworkError(where + ": " + e.what());
  }
}

const Parameter& VariedNamed(const std::string& name, const std::string& where) {
  const Parameter* p = FindParameter(name);
  if (!p) {
    throw SegworkError(where + ": no parameter is named '" + name +
                       "'; the parameters: " + VariableParameterNames());
  }
  if (std::string_view(p->name) == "steps") {
    throw SegworkError(where +
                       ": the steps are every run's cap (--steps), not a parameter to vary");
  }
  return *p;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(separator, begin);
    parts.push_back(text.substr(begin, end - begin));
    if (end == std::string::npos) return parts;
    begin = end + 1;
  }
}

}  // namespace

VariedParameter ParseVary(const std::string& text) {
  const std::string where = "--vary " + text;
  const size_t equals = text.find('=');
  if (equals == std::string::npos) throw SegworkError(where + ": give NAME=VALUES");
  VariedParameter varied;
  varied.parameter = &VariedNamed(text.substr(0, equals), where);
  const std::string values = text.substr(equals + 1);
  if (values.find(':') != std::string::npos) {
    const std::vector<std::string> range = Split(values, ':');
    if (range.size() != 3) throw SegworkError(where + ": a range is from:step:to");
    int64_t from = 0, step = 0, to = 0;
    try {
      from = StrToInt(range[0]), step = StrToInt(range[1]), to = StrToInt(range[2]);
    } catch (const SegworkError& e) {
      throw SegworkError(where + ": " + e.what());
    }
    if (step == 0 || (step > 0 ? from > to : from < to)) {
      throw SegworkError(where + ": the range never reaches " + range[2] + " by " + range[1]);
    }
    if (uint64_t((to - from) / step) >= kMostValues) {
      throw SegworkError(where + ": more than " + std::to_string(kMostValues) + " values");
    }
    for (int64_t v = from; step > 0 ? v <= to : v >= to; v += step) {
      varied.values.push_back(std::to_string(v));
    }
  } else {
    // Weights may have a decimal comma: a list with ';' in it is separated by ';'.
    varied.values = Split(values, values.find(';') != std::string::npos ? ';' : ',');
  }
  for (const std::string& value : varied.values) {
    if (value.empty()) throw SegworkError(where + ": an empty value");
    CheckValue(*varied.parameter, value, where);
  }
  return varied;
}

namespace {

// The fields of one CSV line: separated by commas, a field in double quotes may hold commas and
// doubled quotes.
std::vector<std::string> CsvFields(const std::string& line, const std::string& where) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"', ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (quoted) throw SegworkError(where + ": a quote is not closed");
  for (std::string& f : fields) {
    const size_t first = f.find_first_not_of(" \t");
    const size_t last = f.find_last_not_of(" \t");
    f = first == std::string::npos ? std::string() : f.substr(first, last - first + 1);
  }
  return fields;
}

}  // namespace

Design ParseDesign(const std::string& text, const std::string& name) {
  Design design;
  std::istringstream in(text);
  std::string line;
  std::vector<std::string> header;
  std::optional<size_t> seedColumn;
  for (uint64_t number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::string where = name + ": row " + std::to_string(number);
    std::vector<std::string> fields = CsvFields(line, where);
    if (header.empty()) {
      header = fields;
      for (size_t c = 0; c < header.size(); ++c) {
        const std::string column = where + ", column " + std::to_string(c + 1);
        if (std::count(header.begin(), header.end(), header[c]) > 1) {
          throw SegworkError(column + ": '" + header[c] + "' is named twice");
        }
        if (header[c] == "seed") {
          seedColumn = c;
          design.parameters.push_back(nullptr);
        } else {
          design.parameters.push_back(&VariedNamed(header[c], column));
        }
      }
      continue;
    }
    if (fields.size() != header.size()) {
      throw SegworkError(where + ": " + std::to_string(fields.size()) + " fields, the header has " +
                         std::to_string(header.size()));
    }
    std::optional<uint32_t> seed;
    for (size_t c = 0; c < fields.size(); ++c) {
      const std::string column = where + ", column " + header[c];
      if (fields[c].empty()) throw SegworkError(column + ": an empty value");
      if (seedColumn == c) {
        try {
          seed = StrToSeed(fields[c]);
        } catch (const SegworkError& e) {
          throw SegworkError(column + ": " + e.what());
        }
      } else {
        CheckValue(*design.parameters[c], fields[c], column);
      }
    }
    if (seedColumn) fields.erase(fields.begin() + std::ptrdiff_t(*seedColumn));
    design.rows.push_back(std::move(fields));
    design.seeds.push_back(seed);
  }
  if (seedColumn) design.parameters.erase(design.parameters.begin() + std::ptrdiff_t(*seedColumn));
  if (design.rows.empty()) throw SegworkError(name + ": no runs: a header and a row a run");
  return design;
}

namespace {

// The runs of an experiment: the varied parameters, each combination's values, repetitions.
struct ExperimentPlan {
  std::vector<const Parameter*> parameters;
  std::vector<std::vector<std::string>> combinations;
  std::vector<std::optional<uint32_t>> seeds;  // per combination, from a design
  uint64_t repetitions = 1;
  uint64_t total = 0;
  uint64_t begin = 0, end = 0;
  bool printsHeader = true;
  uint32_t seed = 0;
  int32_t steps = 0;
  bool untilSettled = false;
  int32_t every = 0;  // 0: one row at the end
  std::vector<const Measure*> measures;
  int32_t groups = 1;  // the largest group count, for the columns per group
  uint32_t jobs = 1;
  EngineKind engine = EngineKind::Fast;
  bool quiet = false;
  std::string shard;        // i/n, or none
  std::string designCheck;  // the design file's fingerprint, or none

  uint64_t CombinationOf(uint64_t r) const { return r / repetitions; }
  uint64_t CalcOf(uint64_t r) const { return r % repetitions + 1; }
  uint32_t SeedOf(uint64_t r) const {
    const auto& given = seeds[size_t(CombinationOf(r))];
    return given ? *given : RunSeed(seed, uint32_t(r));
  }
  // The fields every row of run r begins with: run, calc and seed.
  std::string RowPrefix(uint64_t r) const {
    return std::to_string(r) + ',' + std::to_string(CalcOf(r)) + ',' + std::to_string(SeedOf(r));
  }
};

void Combine(ExperimentPlan& plan, const std::vector<VariedParameter>& varied) {
  plan.combinations = {{}};
  for (const VariedParameter& v : varied) {
    plan.parameters.push_back(v.parameter);
    std::vector<std::vector<std::string>> next;
    for (const auto& combination : plan.combinations) {
      for (const std::string& value : v.values) {
        next.push_back(combination);
        next.back().push_back(value);
      }
    }
    plan.combinations = std::move(next);
    if (plan.combinations.size() > kMostValues) {
      throw SegworkError("--vary: more than " + std::to_string(kMostValues) + " combinations");
    }
  }
  plan.seeds.assign(plan.combinations.size(), std::nullopt);
}

int32_t Positive(const std::string& option, const std::string& text) {
  const int32_t value = StrToInt(text);
  if (value < 1) throw SegworkError(option + " " + text + " is below 1");
  return value;
}

ExperimentPlan MakePlan(const RunOptions& run, const ExperimentOptions& e, std::ostream& err) {
  ExperimentPlan plan;
  if (!e.vary.empty() && e.design) throw UsageError("--vary and --design cannot go together");
  std::vector<const Parameter*> seen;
  if (e.design) {
    const std::string text = ReadWholeFile(*e.design, uint64_t{64} << 20, "design");
    Design design = ParseDesign(text, *e.design);
    char check[17];
    std::snprintf(check, sizeof check, "%016" PRIx64, Fnv1a64(text));
    plan.designCheck = check;
    plan.parameters = design.parameters;
    plan.combinations = std::move(design.rows);
    plan.seeds = std::move(design.seeds);
  } else {
    std::vector<VariedParameter> varied;
    for (const std::string& text : e.vary) {
      varied.push_back(ParseVary(text));
      if (std::count(seen.begin(), seen.end(), varied.back().parameter) > 0) {
        throw UsageError("--vary " + text + ": " + varied.back().parameter->name +
                         " is varied twice");
      }
      seen.push_back(varied.back().parameter);
    }
    Combine(plan, varied);
  }
  plan.repetitions = uint64_t(Positive("--runs", e.runs));
  plan.total = uint64_t(plan.combinations.size()) * plan.repetitions;
  if (plan.total > (uint64_t{1} << 32)) {
    throw SegworkError("an experiment of " + std::to_string(plan.total) +
                       " runs is more than a seed can number");
  }
  const int64_t steps = StrToInt(run.Text("steps"));
  if (steps < 1)
    throw SegworkError("--steps " + run.Text("steps") + ": a run needs at least 1 step");
  plan.steps = int32_t(steps);
  plan.untilSettled = e.until.has_value();
  if (e.every) plan.every = Positive("--every", *e.every);
  plan.measures = ParseMeasureList(e.measures, "--measures");
  // The columns per group are those of the most groups any run has.
  const auto groupsAt =
      std::find(plan.parameters.begin(), plan.parameters.end(), &ParameterNamed("groups")) -
      plan.parameters.begin();
  plan.groups = std::max(1, StrToInt(run.Text("groups")));
  if (size_t(groupsAt) < plan.parameters.size()) {
    plan.groups = 1;
    for (const auto& combination : plan.combinations) {
      plan.groups = std::max(plan.groups, StrToInt(combination[size_t(groupsAt)]));
    }
  }
  plan.jobs = e.jobs ? uint32_t(Positive("--jobs", *e.jobs))
                     : std::max(1u, std::thread::hardware_concurrency());
  plan.engine = run.engine == "literal" ? EngineKind::Literal : EngineKind::Fast;
  plan.quiet = e.quiet;
  plan.end = plan.total;
  const bool seededByDesign = std::all_of(plan.seeds.begin(), plan.seeds.end(),
                                          [](const auto& s) { return s.has_value(); });
  if (e.shard) {
    const std::vector<std::string> parts = Split(*e.shard, '/');
    if (parts.size() != 2) throw SegworkError("--shard '" + *e.shard + "' is not of the form i/n");
    const int64_t i = StrToInt(parts[0]), n = StrToInt(parts[1]);
    if (n < 1 || i < 0 || i >= n) throw SegworkError("--shard " + *e.shard + " needs 0 <= i < n");
    if (!run.seed && !seededByDesign) {
      throw UsageError("--shard needs --seed, so that every shard draws the same run seeds");
    }
    plan.begin = uint64_t(i) * plan.total / uint64_t(n);
    plan.end = uint64_t(i + 1) * plan.total / uint64_t(n);
    plan.printsHeader = i == 0;
    plan.shard = std::to_string(i) + '/' + std::to_string(n);
  }
  if (e.resume && !e.output) throw UsageError("--resume needs --output FILE");
  if (run.seed) {
    plan.seed = ParseSeed(*run.seed);
  } else if (!seededByDesign) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    plan.seed = uint32_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    err << "# seed " << plan.seed << "\n";
  }
  return plan;
}

std::string Header(const ExperimentPlan& plan) {
  std::string header = "run,calc,seed";
  for (const Parameter* p : plan.parameters) header += std::string(",") + p->name;
  header += plan.every ? ",step,settled" : ",steps,settled";
  for (const Measure* m : plan.measures) {
    for (const std::string& column : MeasureColumns(*m, plan.groups)) header += ',' + column;
  }
  return header + '\n';
}

// A value as a CSV field: quoted when it holds a comma (a weight's decimal comma) or a quote.
std::string CsvField(const std::string& value) {
  if (value.find_first_of(",\"") == std::string::npos) return value;
  std::string quoted = "\"";
  for (char c : value) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + '"';
}

struct RunResult {
  std::string rows;
  std::string warnings;
  std::optional<std::string> error;
};

// The row of a run at its current step; `prefix` names the run and its values.
// `settledAt` is the first step without movers so far.
std::string Row(const ExperimentPlan& plan, HeadlessRun& sim, const std::string& prefix,
                bool settled, std::optional<int32_t> settledAt) {
  const StepMeasures& m = sim.Measures.Latest();
  std::string row = prefix + std::to_string(sim.StepCount) + ',' + (settled ? "yes" : "no");
  for (const Measure* measure : plan.measures) {
    for (const MeasureColumn& column : ColumnsOf(*measure, plan.groups)) {
      row += ',';
      const std::string_view name = measure->name;
      if (name == "clusters") {
        // As `run` counts them at its end: a cluster analysis of this step.
        sim.FindClusters();
        AppendField(row, MeasureValue::Of(sim.Measures.LastClusterCount.value_or(0)));
      } else if (name == "steps_to_settle") {
        if (settledAt) AppendField(row, MeasureValue::Of(int64_t(*settledAt)));
      } else {
        AppendField(row, ReadColumn(column, m, sim.GroupCount));
      }
    }
  }
  return row + '\n';
}

RunResult DoRun(const ExperimentPlan& plan, const RunOptions& base, uint64_t r) {
  RunResult result;
  std::ostringstream warnings;
  result.error = FailureOf([&] {
    RunOptions o = base;
    o.seed = std::to_string(plan.SeedOf(r));
    const auto& values = plan.combinations[size_t(plan.CombinationOf(r))];
    for (size_t i = 0; i < plan.parameters.size(); ++i) {
      const Parameter& p = *plan.parameters[i];
      if (p.HasOption()) {
        o.SetValue(p, values[i]);
      } else {
        o.controlOverrides.push_back({&p, values[i]});
      }
    }
    const std::unique_ptr<HeadlessRun> sim = PrepareRun(o, plan.engine, warnings, false);
    sim->History = MeasureHistory::LatestOnly;
    sim->RecordSpatialMeasures = NeedsSpatialMeasures(plan.measures);
    // The values as the controls took them, after their checks.
    std::string prefix = plan.RowPrefix(r);
    for (const Parameter* p : plan.parameters) prefix += ',' + CsvField(p->get(sim->Controls));
    prefix += ',';
    const bool grows = sim->Controls.CB_actiGrow;
    const int64_t agents = StrToInt(sim->Controls.Text(Field::Edit_anzAg));
    bool settled = false;
    std::optional<int32_t> settledAt;
    for (int32_t s = 1; s <= plan.steps && !settled; ++s) {
      sim->AdvanceOneStep();
      if (!settledAt && sim->Measures.Latest().Movers == 0) settledAt = sim->StepCount;
      settled = plan.untilSettled && sim->Measures.Latest().Movers == 0 &&
                (!grows || int64_t(sim->Agents.size()) >= agents);
      const bool last = s == plan.steps || settled;
      if ((plan.every && (s % plan.every == 0 || last)) || (!plan.every && last)) {
        result.rows += Row(plan, *sim, prefix, settled, settledAt);
      }
    }
  });
  result.warnings = warnings.str();
  return result;
}

// Everything the rows depend on; not --jobs or --quiet, which leave them as they are.
SweepIdentity IdentityOf(const ExperimentPlan& plan, const RunOptions& o,
                         const ExperimentOptions& e) {
  std::string vary;
  for (const std::string& v : e.vary) vary += v + ' ';
  SweepIdentity identity = {{"experiment", "any"},
                            {"vary", vary},
                            {"design", plan.designCheck},
                            {"runs-per-combination", std::to_string(plan.repetitions)},
                            {"runs", std::to_string(plan.total)},
                            {"steps", std::to_string(plan.steps)},
                            {"until", e.until.value_or("")},
                            {"measures", e.measures},
                            {"every", std::to_string(plan.every)},
                            {"seed", std::to_string(plan.seed)},
                            {"shard", plan.shard}};
  AppendRunIdentity(identity, o, o.layout.value_or(""));
  return identity;
}

RowShape ShapeOf(const ExperimentPlan& plan, const std::string& header) {
  RowShape shape;
  shape.prefix = [&plan](uint64_t r) { return plan.RowPrefix(r); };
  shape.prefixNames = "run, calc and seed";
  shape.begin = plan.begin;
  shape.end = plan.end;
  shape.header = plan.printsHeader ? header.c_str() : nullptr;
  // With --every every run has its steps' rows; until settled, as many as it made.
  shape.rowsPerRun = plan.untilSettled ? 0
                     : plan.every      ? (plan.steps + plan.every - 1) / plan.every
                                       : 1;
  return shape;
}

// The scenario of the options, as `run --save-scenario` writes it, with the experiment.
void SaveExperimentScenario(const RunOptions& run, const ExperimentOptions& e, uint32_t seed,
                            std::ostream& err) {
  RunOptions o = run;
  o.saveScenario.reset();
  // The experiment's seed, also when it was drawn from the clock.
  o.seed = std::to_string(seed);
  std::unique_ptr<HeadlessRun> sim = PrepareRun(o, EngineKind::Fast, err, false);
  Scenario scenario = ScenarioOf(*sim);
  scenario.experiment = SettingsOf(e);
  // The design is found beside the scenario, wherever the two are moved together.
  if (e.design) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::absolute(*run.saveScenario).parent_path();
    scenario.experiment->design = fs::absolute(*e.design).lexically_relative(folder).string();
  }
  SaveScenario(scenario, *run.saveScenario);
}

int Experiment(const RunOptions& given, const ExperimentOptions& e, std::FILE* out,
               std::ostream& err, const ExperimentHooks* hooks) {
  RunOptions run = given;
  // A resumed experiment that drew its seed from the clock goes on with that seed.
  if (e.resume && e.output && !run.seed) {
    if (const auto seed = RecordedSeed(*e.output)) run.seed = std::to_string(*seed);
  }
  ExperimentPlan plan = MakePlan(run, e, err);
  if (run.saveScenario) {
    SaveExperimentScenario(run, e, plan.seed, err);
    return 0;
  }
  const std::string header = Header(plan);
  const RowShape shape = ShapeOf(plan, header);
  std::optional<SweepOutput> output;
  if (e.output) {
    output.emplace(*e.output, e.resume, IdentityOf(plan, run, e), shape);
  } else {
    output.emplace(out, shape);
  }
  plan.begin = output->Next();
  if (hooks && hooks->started) hooks->started(header, plan.begin, plan.total);
  Warnings warnings(err);
  RunPool<RunResult> pool(plan.begin, plan.end, plan.jobs,
                          [&](uint64_t r) { return DoRun(plan, run, r); });
  const int status = pool.TakeAll(
      warnings, err,
      [&](uint64_t r, RunResult& result) {
        output->WriteRun(r, result.rows);
        if (!plan.quiet) err << "# run " << r + 1 << '/' << plan.total << "\n";
        if (hooks && hooks->runDone) hooks->runDone(r, result.rows, r + 1, plan.total);
      },
      hooks ? hooks->stop : nullptr);
  if (status) return status;
  // Shard 0 may have no runs of its own and still owes the header.
  output->Finish();
  warnings.Summarise();
  return 0;
}

}  // namespace

int ExecuteExperiment(const RunOptions& run, const ExperimentOptions& experiment, std::FILE* out,
                      std::ostream& err, const ExperimentHooks* hooks) {
  return ExitStatusOf([&] { return Experiment(run, experiment, out, err, hooks); }, out, err);
}

}  // namespace segwork::cli
