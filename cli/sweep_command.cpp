#include "cli/sweep_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "experiments/series.h"
#include "model/CellForm.h"
#include "model/convert.h"
#include "model/errors.h"

namespace segwork::cli {

void SetSweepDefaults(Experiment experiment, RunOptions& run, SweepOptions& sweep) {
  struct Defaults {
    const char *from, *to, *increment, *steps, *runs;
  };
  const Defaults d = experiment == Experiment::Parameter ? Defaults{"2", "4", "1", "30", "3"}
                     : experiment == Experiment::Growth  ? Defaults{"10", "60", "10", "1300", "10"}
                                                         : Defaults{"10", "60", "1", "500", "10"};
  sweep.experiment = experiment;
  sweep.from = d.from;
  sweep.to = d.to;
  sweep.increment = d.increment;
  run.steps = d.steps;
  sweep.runs = d.runs;
}

void AddSweepOptions(CLI::App& command, Experiment experiment, RunOptions& run,
                     SweepOptions& sweep) {
  SetSweepDefaults(experiment, run, sweep);
  AddRunOptions(command, run);
  command.get_option("--seed")->description(
      "unsigned 32-bit seed of the sweep; each run's seed is mixed from it and the run's index");
  command.get_option("--steps")->description("time steps of every run (timesteps per value)");
  // The swept value overwrites these.
  if (experiment == Experiment::Growth) command.remove_option(command.get_option("--threshold"));
  if (experiment == Experiment::Streets) {
    for (const char* name : {"--rows", "--cols", "--streets"}) {
      command.remove_option(command.get_option(name));
    }
    command.get_option("--layout")->description("street layout of every run (default grid)");
  }
  command.add_option("--engine", run.engine, "neighbourhood engine")
      ->check(CLI::IsMember({"fast", "literal"}));
  command.add_option("--from", sweep.from, "first value")->type_name("N");
  command.add_option("--to", sweep.to, "upper bound of the values")->type_name("N");
  command.add_option("--increment", sweep.increment, "step between values")->type_name("N");
  command.add_option("--runs", sweep.runs, "calculations per value")->type_name("N");
  if (experiment == Experiment::Parameter) {
    command.add_option("--parameter", sweep.parameter, "the swept parameter")
        ->check(CLI::IsMember({"groups", "radius", "move-distance", "threshold"}));
    command.add_option("--poly-degree", sweep.polyDegree, "coefficients of the curve fits, 2..20")
        ->type_name("N");
  }
  command.add_option("--jobs", sweep.jobs, "runs in parallel (default: hardware threads)")
      ->type_name("N");
  command.add_option("--shard", sweep.shard, "run only block I of N of the runs")->type_name("I/N");
  AddFlag(command, "--summary", sweep.summary, "append the derived series (averages, trend, fit)");
  AddFlag(command, "--quiet", sweep.quiet, "no progress lines on stderr");
}

uint32_t RunSeed(uint32_t sweepSeed, uint32_t run) {
  uint64_t z = ((uint64_t(sweepSeed) << 32) | run) + 0x9e3779b97f4a7c15ull;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return uint32_t(z ^ (z >> 31));
}

namespace {

constexpr uint64_t kMostRuns = uint64_t{1} << 32;  // run indices are 32-bit in the seed mix

struct Plan {
  Experiment experiment = Experiment::Parameter;
  int64_t from = 0;
  int64_t increment = 1;
  int32_t steps = 1;
  int32_t runsText = 1;      // as typed: the average's period, as in the window
  int64_t runsPerValue = 1;  // at least one
  uint64_t total = 0;
  uint64_t begin = 0;
  uint64_t end = 0;
  bool printsHeader = true;
  uint32_t seed = 0;
  uint32_t jobs = 1;
  int32_t polyDegree = 3;
  std::string parameter;
  std::string layout;
  EngineKind engine = EngineKind::Fast;
  bool summary = false;
  bool quiet = false;

  int64_t ValueOf(uint64_t r) const { return from + int64_t(r / runsPerValue) * increment; }
  int64_t CalcOf(uint64_t r) const { return int64_t(r % runsPerValue) + 1; }
};

struct RunResult {
  std::string rows;
  std::string warnings;
  std::optional<std::string> error;
  // What the summary needs.
  double clusters = 0;
  double meanIs = 0;
  int32_t streetCells = 0;
  std::vector<SeriesPoint> meanLine;  // growth: per step, the mean over the groups
  std::vector<SeriesPoint> density;   // growth: kept of the last run only
};

std::string Real(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

// Position j of a series, or its last point when it is shorter.
const ChartPoint& PointAt(const LineSeries& series, size_t j) {
  if (series.points.empty()) throw SegworkError("a run recorded no measures");
  return series.points[std::min(j, series.points.size() - 1)];
}

// Sum over the groups in their order, then divided: the window's arithmetic.
double MeanIndex(const Model& model, size_t j) {
  double sum = 0;
  for (int32_t g = 0; g < model.GroupCount; ++g) {
    sum += PointAt(model.Analysis.SegregationSeries.at(size_t(g)), j).y;
  }
  return sum / model.GroupCount;
}

std::vector<SeriesPoint> GroupMeanLine(const Model& model, int32_t steps) {
  Series points;
  Series means;
  means.SetSource(&points);
  auto average = std::make_shared<TAverageFunction>();
  average->SetPeriod(model.GroupCount);
  means.SetFunction(average);
  // Step-major adding gives the order of the window's group-major adding (equal x keep the order
  // of adding) without inserting into the middle.
  for (int32_t j = 0; j < steps; ++j) {
    for (int32_t g = 0; g < model.GroupCount; ++g) {
      const ChartPoint& p = PointAt(model.Analysis.SegregationSeries.at(size_t(g)), size_t(j));
      points.AddXY(p.x, p.y);
    }
  }
  means.Recalculate();
  return means.Points();
}

// The options of run r: the base with its seed and the swept value.
RunOptions RunOptionsOf(const Plan& plan, const RunOptions& base, uint64_t r) {
  RunOptions o = base;
  const std::string text = std::to_string(plan.ValueOf(r));
  o.seed = std::to_string(RunSeed(plan.seed, uint32_t(r)));
  switch (plan.experiment) {
    case Experiment::Parameter:
      if (plan.parameter == "groups") o.groups = text;
      if (plan.parameter == "radius") o.radius = text;
      if (plan.parameter == "move-distance") o.moveDistance = text;
      if (plan.parameter == "threshold") o.threshold = text;
      break;
    case Experiment::Growth:
      o.threshold = text;
      break;
    case Experiment::Streets:
      o.layout = plan.layout;
      if (plan.layout == "grid") o.rows = o.cols = text;
      if (plan.layout == "random") o.streets = text;
      break;
  }
  return o;
}

RunResult DoRun(const Plan& plan, const RunOptions& base, uint64_t r) {
  RunResult result;
  std::ostringstream warnings;
  try {
    const RunOptions o = RunOptionsOf(plan, base, r);
    const std::unique_ptr<Model> model = PrepareModel(o, plan.engine, warnings, false);
    result.streetCells = model->StreetCellCount();
    for (int32_t s = 0; s < plan.steps; ++s) model->AdvanceOneStep();

    const std::string prefix = std::to_string(r) + ',' + std::to_string(plan.ValueOf(r)) + ',' +
                               std::to_string(plan.CalcOf(r)) + ',' + *o.seed + ',';
    const size_t last = size_t(plan.steps) - 1;
    switch (plan.experiment) {
      case Experiment::Parameter: {
        // The last periodic analysis of the run, as the window reads it.
        const size_t clusters = model->Analysis.ClusterSizeSeries.bars.size();
        result.clusters = double(clusters);
        result.meanIs = MeanIndex(*model, last);
        result.rows = prefix + std::to_string(clusters) + ',' + Real(result.meanIs) + '\n';
        break;
      }
      case Experiment::Growth:
        for (size_t j = 0; j <= last; ++j) {
          result.rows += prefix + std::to_string(j + 1) + ',' + Real(MeanIndex(*model, j)) + ',' +
                         Real(PointAt(model->Analysis.ChangeSeries.at(3), j).y) + '\n';
        }
        if (plan.summary) {
          result.meanLine = GroupMeanLine(*model, plan.steps);
          if (r + 1 == plan.total) {
            for (const ChartPoint& p : model->Analysis.ChangeSeries.at(3).points) {
              result.density.push_back({p.x, p.y});
            }
          }
        }
        break;
      case Experiment::Streets: {
        model->FindClusters();
        const size_t clusters = model->Analysis.ClusterSizeSeries.bars.size();
        result.clusters = double(clusters);
        result.rows =
            prefix + std::to_string(result.streetCells) + ',' + std::to_string(clusters) + '\n';
        break;
      }
    }
  } catch (const SegworkError& e) {
    result.error = e.what();
  } catch (const std::bad_alloc&) {
    result.error = "segwork-cli: out of memory";
  } catch (const std::exception& e) {
    result.error = std::string("segwork-cli: ") + e.what();
  }
  result.warnings = warnings.str();
  return result;
}

const char* Header(Experiment experiment) {
  switch (experiment) {
    case Experiment::Parameter:
      return "run,value,calc,seed,clusters,mean_is\n";
    case Experiment::Growth:
      return "run,value,calc,seed,step,mean_is,density\n";
    case Experiment::Streets:
      return "run,value,calc,seed,street_cells,clusters\n";
  }
  return "";
}

// Every run writes the same warnings: show each text once. Progress lines of large setups are
// dropped, they would arrive only after the run.
void ForwardWarnings(const std::string& text, std::set<std::string>& shown, std::ostream& err) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (shown.insert(line).second) err << line << "\n";
  }
}

void AddDerived(std::string& block, const std::string& name, Series& source,
                std::shared_ptr<SeriesFunction> function, std::ostream& err) {
  Series derived;
  derived.SetSource(&source);
  try {
    derived.SetFunction(std::move(function));
  } catch (const SegworkError& e) {
    err << "segwork-cli: warning: " << e.what() << " (" << name << ")\n";
    return;
  }
  for (const SeriesPoint& p : derived.Points()) {
    block += name + ',' + Real(p.x) + ',' + Real(p.y) + '\n';
  }
}

std::shared_ptr<SeriesFunction> Average(int64_t period) {
  auto average = std::make_shared<TAverageFunction>();
  average->SetPeriod(period);
  return average;
}

std::string Summary(const Plan& plan, const std::vector<RunResult>& results, std::ostream& err) {
  std::string block = "\nseries,x,y\n";
  switch (plan.experiment) {
    case Experiment::Parameter: {
      Series clusters;
      Series is;
      for (uint64_t r = 0; r < results.size(); ++r) {
        clusters.AddXY(double(plan.ValueOf(r)), results[r].clusters);
        is.AddXY(double(plan.ValueOf(r)), results[r].meanIs);
      }
      for (auto [name, data] : {std::pair{"clusters", &clusters}, std::pair{"is", &is}}) {
        const std::string prefix = name;
        AddDerived(block, prefix + "_average", *data, Average(plan.runsText), err);
        AddDerived(block, prefix + "_trend", *data, std::make_shared<TTrendFunction>(), err);
        auto fit = std::make_shared<TCurveFittingFunction>();
        fit->SetPolyDegree(plan.polyDegree);
        AddDerived(block, prefix + "_fit", *data, fit, err);
      }
      break;
    }
    case Experiment::Growth: {
      for (uint64_t first = 0; first < results.size(); first += uint64_t(plan.runsPerValue)) {
        Series points;
        const uint64_t stop = std::min<uint64_t>(first + plan.runsPerValue, results.size());
        // Step-major, as in GroupMeanLine: the window adds run by run.
        for (size_t j = 0; j < size_t(plan.steps); ++j) {
          for (uint64_t r = first; r < stop; ++r) {
            const std::vector<SeriesPoint>& line = results[r].meanLine;
            if (j < line.size()) points.AddXY(line[j].x, line[j].y);
          }
        }
        AddDerived(block, "value_" + std::to_string(plan.ValueOf(first)), points,
                   Average(plan.runsPerValue), err);
      }
      if (!results.empty()) {
        for (const SeriesPoint& p : results.back().density) {
          block += "density," + Real(p.x) + ',' + Real(p.y) + '\n';
        }
      }
      break;
    }
    case Experiment::Streets: {
      Series streets;
      for (const RunResult& result : results) {
        streets.AddXY(double(result.streetCells), result.clusters);
      }
      AddDerived(block, "trend", streets, std::make_shared<TTrendFunction>(), err);
      break;
    }
  }
  return block;
}

int RunPlan(const Plan& plan, const RunOptions& base, std::FILE* out, std::ostream& err) {
  std::mutex mutex;
  std::condition_variable finishedOne;
  std::map<uint64_t, RunResult> finished;
  std::atomic<uint64_t> next{plan.begin};
  std::atomic<bool> stop{false};
  const auto work = [&] {
    while (!stop) {
      const uint64_t r = next.fetch_add(1);
      if (r >= plan.end) return;
      RunResult result = DoRun(plan, base, r);
      {
        const std::lock_guard lock(mutex);
        finished.emplace(r, std::move(result));
      }
      finishedOne.notify_all();
    }
  };
  const uint64_t count = plan.end - plan.begin;
  std::vector<std::jthread> workers;
  // Declared after the workers, so it stops them before they are joined, also on a throw.
  const struct StopOnExit {
    std::atomic<bool>& stop;
    ~StopOnExit() { stop = true; }
  } stopOnExit{stop};
  for (uint64_t t = 0; t < std::min<uint64_t>(plan.jobs, count); ++t) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      // More jobs than the system grants threads: go on with those it gave.
      if (workers.empty()) throw SegworkError("segwork-cli: cannot start a thread");
      break;
    }
  }

  // Printed in run order as the runs come in, so any --jobs gives the same bytes.
  bool header = plan.printsHeader;
  std::set<std::string> shown;
  std::vector<RunResult> kept;
  int status = 0;
  for (uint64_t r = plan.begin; r < plan.end; ++r) {
    RunResult result;
    {
      std::unique_lock lock(mutex);
      finishedOne.wait(lock, [&] { return finished.count(r) > 0; });
      result = std::move(finished.at(r));
      finished.erase(r);
    }
    ForwardWarnings(result.warnings, shown, err);
    if (result.error) {
      err << *result.error << "\n";
      status = 1;
      break;
    }
    if (header) std::fputs(Header(plan.experiment), out);
    header = false;
    std::fputs(result.rows.c_str(), out);
    std::fflush(out);
    if (!plan.quiet) {
      err << "# run " << r + 1 << '/' << plan.total << " value " << plan.ValueOf(r) << "\n";
    }
    if (plan.summary) {
      result.rows.clear();
      kept.push_back(std::move(result));
    }
  }
  stop = true;
  workers.clear();
  if (status != 0) return status;
  // Shard 0 may have no runs of its own and still owes the header.
  if (header) std::fputs(Header(plan.experiment), out);
  if (plan.summary) std::fputs(Summary(plan, kept, err).c_str(), out);
  std::fflush(out);
  return 0;
}

Plan MakePlan(const RunOptions& run, const SweepOptions& sweep, std::ostream& err) {
  Plan plan;
  plan.experiment = sweep.experiment;
  if (sweep.experiment == Experiment::Parameter) {
    if (!sweep.parameter) throw SegworkError("please select a parameter", kMissingValueCaption);
    plan.parameter = *sweep.parameter;
    if (plan.parameter != "groups" && plan.parameter != "radius" &&
        plan.parameter != "move-distance" && plan.parameter != "threshold") {
      throw SegworkError("--parameter " + plan.parameter +
                         " is not one of groups, radius, move-distance, threshold");
    }
    // The swept values replace the option's text, which must still be an integer.
    StrToInt(plan.parameter == "groups"          ? run.groups
             : plan.parameter == "radius"        ? run.radius
             : plan.parameter == "move-distance" ? run.moveDistance
                                                 : run.threshold);
  }
  if (sweep.experiment == Experiment::Streets) {
    plan.layout = run.layout.value_or("grid");
    if (plan.layout != "grid" && plan.layout != "random") {
      throw SegworkError("--layout " + plan.layout + " is not grid or random");
    }
  }
  plan.from = StrToInt(sweep.from);
  const int64_t to = StrToInt(sweep.to);
  plan.increment = StrToInt(sweep.increment);
  plan.steps = StrToInt(run.steps);
  plan.runsText = StrToInt(sweep.runs);
  if (plan.increment < 1) throw SegworkError("the increment must be at least 1 for a sweep to end");
  if (plan.steps < 1) throw SegworkError("--steps " + run.steps + ": a run needs at least 1 step");
  plan.runsPerValue = std::max<int64_t>(plan.runsText, 1);
  // The window's loop: the first value always runs, then on by the increment up to `to`.
  const uint64_t values = plan.from > to ? 1 : uint64_t((to - plan.from) / plan.increment) + 1;
  plan.total = values * uint64_t(plan.runsPerValue);
  if (plan.total > kMostRuns) {
    throw SegworkError("a sweep of " + std::to_string(plan.total) + " runs is more than " +
                       std::to_string(kMostRuns) + ", the most it can number");
  }

  if (sweep.experiment == Experiment::Parameter) {
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
  plan.engine = run.engine == "literal" ? EngineKind::Literal : EngineKind::Fast;

  plan.end = plan.total;
  if (sweep.shard) {
    const std::string& text = *sweep.shard;
    const size_t slash = text.find('/');
    if (slash == std::string::npos || text.find('/', slash + 1) != std::string::npos) {
      throw SegworkError("--shard '" + text + "' is not of the form i/n");
    }
    const int64_t i = StrToInt(text.substr(0, slash));
    const int64_t n = StrToInt(text.substr(slash + 1));
    if (n < 1 || i < 0 || i >= n) throw SegworkError("--shard " + text + " needs 0 <= i < n");
    if (plan.summary) throw SegworkError("--summary needs every run: it cannot go with --shard");
    if (!run.seed) {
      throw SegworkError("--shard needs --seed, so that every shard draws the same run seeds");
    }
    // i * total < 2^31 * 2^32: no overflow.
    plan.begin = uint64_t(i) * plan.total / uint64_t(n);
    plan.end = uint64_t(i + 1) * plan.total / uint64_t(n);
    plan.printsHeader = i == 0;
  }
  // Checked here so that a bad period fails before any run, as the window's new start does.
  if (plan.summary && plan.experiment == Experiment::Parameter) Average(plan.runsText);

  if (run.seed) {
    plan.seed = ParseSeed(*run.seed);
  } else {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    plan.seed = uint32_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    err << "# seed " << plan.seed << "\n";
  }
  return plan;
}

// More groups or a larger radius need more memory: when the largest value of the block can be
// set up, so can the others, and a sweep that would fail on it fails before its first row.
void CheckLargestValue(const Plan& plan, const RunOptions& base) {
  if (plan.experiment != Experiment::Parameter || plan.end - plan.begin < 2 ||
      plan.ValueOf(plan.begin) == plan.ValueOf(plan.end - 1)) {
    return;
  }
  if (plan.parameter != "groups" && plan.parameter != "radius") return;
  std::ostringstream silenced;
  PrepareModel(RunOptionsOf(plan, base, plan.end - 1), plan.engine, silenced, true);
}

}  // namespace

int ExecuteSweep(const RunOptions& run, const SweepOptions& sweep, std::FILE* out,
                 std::ostream& err) {
  return ExitStatusOf(
      [&] {
        const Plan plan = MakePlan(run, sweep, err);
        CheckLargestValue(plan, run);
        return RunPlan(plan, run, out, err);
      },
      out, err);
}

}  // namespace segwork::cli
