#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_command.h"
#include "cli/sweep_command.h"
#include "tests/support.h"
#include "window/AnaStreets.h"
#include "window/AnalyseGrowth.h"
#include "window/CellForm.h"
#include "window/Parameterspace.h"

namespace segwork::cli {
namespace {

// A run prepared as the CLI prepares one, in the window's model: its tables and labels follow.
std::unique_ptr<Model> WindowModel(const RunOptions& o, std::ostream& err) {
  auto model = std::make_unique<Model>();
  PrepareSimulation(model->Sim, o, EngineKind::Fast, err, true);
  return model;
}

using Rows = std::vector<std::vector<std::string>>;

struct Sweep {
  RunOptions run;
  SweepOptions sweep;
};

using testing::Capture;
using testing::Plus;
using testing::Real;
using testing::Result;
using testing::RunCli;
using testing::Split;

Result Execute(const Sweep& s) {
  return Capture(
      [&](std::FILE* out, std::ostream& err) { return ExecuteSweep(s.run, s.sweep, out, err); });
}

// 35 x 35 cells, 301 agents in three groups, five steps: milliseconds per run.
Sweep Tiny(Experiment experiment) {
  Sweep s;
  SetSweepDefaults(experiment, s.run, s.sweep);
  s.run.seed = "11", s.run.Text("steps") = "5", s.run.Text("cell-size") = "20",
  s.run.Text("agents") = "300";
  s.run.Text("groups") = "3", s.run.Text("radius") = "2", s.run.Text("move-distance") = "5";
  s.sweep.jobs = "1", s.sweep.quiet = true;
  if (experiment == Experiment::Parameter) s.sweep.parameter = "radius";
  if (experiment == Experiment::Growth) s.sweep.from = "10", s.sweep.to = "30", s.sweep.runs = "2";
  if (experiment == Experiment::Streets) s.sweep.from = "2", s.sweep.to = "4", s.sweep.runs = "2";
  return s;
}

// The rows of the run table, without the header; or of the summary, name first.
Rows Table(const std::string& out, bool summary = false) {
  const size_t blank = out.find("\n\n");
  if (summary && blank == std::string::npos) return {};
  Rows rows;
  const std::string block = summary ? out.substr(blank + 2) : out.substr(0, blank);
  for (const std::string& line : Split(block, '\n')) {
    if (line.rfind("run,", 0) != 0 && line.rfind("series,", 0) != 0) {
      rows.push_back(Split(line, ','));
    }
  }
  return rows;
}

Rows Series(const std::string& out, const std::string& name) {
  Rows rows;
  for (const auto& row : Table(out, true)) {
    if (row[0] == name) rows.push_back({row[1], row[2]});
  }
  return rows;
}

TEST(CliSweep, ParameterDefaultsMakeNineRunsInSweepOrder) {
  const Result r = Execute(Tiny(Experiment::Parameter));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "run,value,calc,seed,clusters,mean_is");
  const Rows rows = Table(r.out);
  ASSERT_EQ(rows.size(), 9u);
  // splitmix64(11 * 2^32 + i), low 32 bits, from an implementation outside the code.
  const char* const seeds[9] = {"1656755946", "1859482073", "2056999552",
                                "1038847173", "1133532534", "1573551751",
                                "896827191",  "2195365203", "2982677384"};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0] + rows[i][1] + rows[i][2],
              std::to_string(i) + std::to_string(2 + i / 3) + std::to_string(1 + i % 3));
    EXPECT_EQ(rows[i][3], seeds[i]);
  }
}

// The sweep seed 42's first run seeds, by an independent splitmix64: the numbers the user guide
// shows in its radius sweep.
TEST(CliSweep, RunSeedsAreSplitmix64OfTheSweepSeedAndTheRunIndex) {
  const Result r =
      RunCli(Plus({"sweep", "parameter", "--parameter", "groups", "--from", "1", "--to", "3",
                   "--runs", "3", "--steps", "1", "--seed", "42", "--quiet"},
                  {"--cell-size", "20", "--agents", "300"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const Rows rows = Table(r.out);
  const std::vector<std::string> seeds = {"3198934971", "1616377404", "3816376952",
                                          "2513851407", "812447143",  "655284874",
                                          "1561198520", "425796879",  "2826330532"};
  ASSERT_EQ(rows.size(), seeds.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][3], seeds[i]) << i;
}

// --shard I/N runs [floor(I * R / N), floor((I + 1) * R / N)) of the R runs.
TEST(CliSweep, AShardRunsItsBlockOfTheRuns) {
  // Nine runs: three values, three runs each.
  const std::vector<std::string> sweep = {
      "sweep",   "parameter",   "--parameter", "groups",   "--from", "2",      "--to",
      "4",       "--runs",      "3",           "--steps",  "1",      "--seed", "11",
      "--quiet", "--cell-size", "20",          "--agents", "300",    "--jobs", "1"};
  // The runs of each shard, shard by shard.
  const std::vector<std::pair<int, std::vector<std::string>>> blocks = {
      {1, {"0,1,2,3,4,5,6,7,8"}},
      {2, {"0,1,2,3", "4,5,6,7,8"}},
      {4, {"0,1", "2,3", "4,5", "6,7,8"}},
      {5, {"0", "1,2", "3,4", "5,6", "7,8"}},
      {10, {"", "0", "1", "2", "3", "4", "5", "6", "7", "8"}},
  };
  for (const auto& [shards, runs] : blocks) {
    for (int i = 0; i < shards; ++i) {
      const std::string shard = std::to_string(i) + "/" + std::to_string(shards);
      const Result r = RunCli(Plus(sweep, {"--shard", shard}));
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out.rfind("run,value,calc,seed,", 0) == 0, i == 0) << shard;
      std::string got;
      for (const auto& row : Table(r.out)) got += (got.empty() ? "" : ",") + row[0];
      EXPECT_EQ(got, runs[size_t(i)]) << shard;
    }
  }
}

TEST(CliSweep, LoopBoundsFollowTheWindows) {
  Sweep s = Tiny(Experiment::Parameter);
  s.sweep.from = "5", s.sweep.to = "3";  // the first value still runs
  EXPECT_EQ(Table(Execute(s).out).size(), 3u);

  s.sweep.from = "1", s.sweep.to = "6", s.sweep.increment = "2", s.sweep.runs = "0";
  Rows rows = Table(Execute(s).out);
  ASSERT_EQ(rows.size(), 3u);  // 1, 3, 5, one run each
  EXPECT_EQ(rows[2][1] + rows[2][2], "51");

  // A clamped value keeps the written value in its row; the same warning shows once.
  s.sweep.parameter = "threshold", s.sweep.from = "100", s.sweep.to = "120";
  s.sweep.increment = "20", s.sweep.runs = "2";
  const Result r = Execute(s);
  rows = Table(r.out);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[3][1], "120");
  const std::string warning = "--threshold 120 is outside 0..100; using 100";
  ASSERT_NE(r.err.find(warning), std::string::npos);
  EXPECT_EQ(r.err.find(warning, r.err.find(warning) + 1), std::string::npos);
}

TEST(CliSweep, JobsAndShardsDoNotChangeTheBytes) {
  for (Experiment e : {Experiment::Parameter, Experiment::Growth, Experiment::Streets}) {
    Sweep s = Tiny(e);
    if (e == Experiment::Streets) s.run.layout = "random";
    const std::string whole = Execute(s).out;
    ASSERT_FALSE(whole.empty());
    s.sweep.jobs = "2";
    EXPECT_EQ(Execute(s).out, whole);
    s.sweep.jobs = "5";
    // 7 shards of 6 runs: some, shard 0 among them, have no runs of their own.
    for (int shards : {3, 7}) {
      std::string joined;
      for (int i = 0; i < shards; ++i) {
        s.sweep.shard = std::to_string(i) + "/" + std::to_string(shards);
        joined += Execute(s).out;
      }
      EXPECT_EQ(joined, whole) << shards << " shards";
    }
    s.sweep.shard.reset();
    s.sweep.summary = true;
    const std::string summary = Execute(s).out;
    s.sweep.jobs = "1";
    EXPECT_EQ(Execute(s).out, summary);
  }
}

// The options less one and its value.
std::vector<std::string> Without(std::vector<std::string> args, const std::string& option) {
  const auto at = std::find(args.begin(), args.end(), option);
  if (at != args.end()) args.erase(at, at + 2);
  return args;
}

// The groups' mean segregation index of a row of `segwork-cli run`, as a sweep row holds it.
std::string MeanIs(const std::string& row, size_t groups) {
  const std::vector<std::string> fields = Split(row, ',');
  double sum = 0;
  for (size_t g = 0; g < groups; ++g) sum += std::stod(fields.at(3 + g));
  return Real(sum / double(groups));
}

// "Any row is repeated by segwork-cli run --seed <its seed> <the same options> --<swept option>
// <its value>", through the run command.
TEST(CliSweep, ARowIsRepeatedByTheRunCommandWithItsSeedAndValue) {
  const std::vector<std::string> world = testing::SmallWorld("300");
  const std::vector<std::string> sweep = {"--seed", "11", "--quiet", "--jobs", "1"};

  // 31 steps: the sweep's last periodic cluster analysis (step 31) sees the final state.
  std::vector<std::string> options =
      Plus(Without(world, "--move-distance"), {"--layout", "grid", "--steps", "31"});
  Result r =
      RunCli(Plus(Plus({"sweep", "parameter", "--parameter", "move-distance"}, sweep), options));
  ASSERT_EQ(r.status, 0) << r.err;
  Rows rows = Table(r.out);
  ASSERT_EQ(rows.size(), 9u);
  for (const size_t i : {0u, 4u, 8u}) {
    const Result run =
        RunCli(Plus({"run", "--seed", rows[i][3], "--move-distance", rows[i][1]}, options));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = Split(run.out, '\n');
    ASSERT_EQ(lines.size(), 1u + 31u + 2u);
    EXPECT_EQ(lines[32], "clusters," + rows[i][4]) << i;
    EXPECT_EQ(MeanIs(lines[31], 3), rows[i][5]) << i;
  }

  // Growth: one row per step; the density counts the agents in the list less one, of 35 x 35.
  options = Plus(world, {"--grow", "--grow-start", "50", "--grow-rate", "20", "--steps", "5"});
  r = RunCli(
      Plus(Plus({"sweep", "growth", "--from", "10", "--to", "30", "--runs", "2"}, sweep), options));
  ASSERT_EQ(r.status, 0) << r.err;
  rows = Table(r.out);
  ASSERT_EQ(rows.size(), 6u * 5u);
  const Result run =
      RunCli(Plus({"run", "--seed", rows[15][3], "--threshold", rows[15][1]}, options));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Split(run.out, '\n');
  ASSERT_EQ(lines.size(), 1u + 5u + 2u);
  for (size_t j = 0; j < 5; ++j) {
    const std::vector<std::string> row = rows[15 + j];
    const int64_t agents = std::stoll(Split(lines[j + 1], ',').at(1));
    EXPECT_EQ(row[4] + ',' + row[5] + ',' + row[6],
              std::to_string(j + 1) + ',' + MeanIs(lines[j + 1], 3) + ',' +
                  Real(double(agents - 1) / (35.0 * 35.0) * 100));
  }

  // Streets: the value as --rows and --cols of a grid, or as --streets of a random layout; the
  // clusters of the final state.
  for (const char* layout : {"grid", "random"}) {
    options = Plus(world, {"--layout", layout, "--steps", "5"});
    r = RunCli(Plus(Plus({"sweep", "streets", "--from", "2", "--to", "4", "--runs", "2"}, sweep),
                    options));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto street = Table(r.out).at(3);
    EXPECT_NE(street[4], "0") << layout;
    std::vector<std::string> value = {"--streets", street[1]};
    if (std::string(layout) == "grid") value = {"--rows", street[1], "--cols", street[1]};
    const Result one = RunCli(Plus(Plus({"run", "--seed", street[3]}, value), options));
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(Split(one.out, '\n').at(1u + 5u), "clusters," + street[5]) << layout;
  }
}

// The rows the user guide prints, and the runs it repeats them with.
TEST(CliSweep, TheGuidesRowsAndTheRunsThatRepeatThem) {
  // Its radius sweep: 15 runs of 61 steps; the first three (shard 0 of 5) and row 7 alone.
  const std::vector<std::string> radius = {
      "sweep", "parameter", "--parameter", "radius", "--from", "1",      "--to",
      "5",     "--steps",   "61",          "--seed", "42",     "--quiet"};
  Result r = RunCli(Plus(radius, {"--shard", "0/5"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "run,value,calc,seed,clusters,mean_is\n"
            "0,1,1,3198934971,1576,12.813723902878044\n"
            "1,1,2,1616377404,1683,13.004577525770829\n"
            "2,1,3,3816376952,1604,13.853850218068366\n");
  r = RunCli(Plus(radius, {"--shard", "7/15"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "7,3,2,425796879,252,43.052643310651113\n");
  r = RunCli({"run", "--seed", "425796879", "--steps", "61", "--radius", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = Split(r.out, '\n');
  ASSERT_EQ(lines.size(), 1u + 61u + 2u);
  EXPECT_EQ(MeanIs(lines[61], 6), "43.052643310651113");
  EXPECT_EQ(lines[62], "clusters,252");

  // Its street sweep: 10 runs; the first five are shard 0 of 2.
  r = RunCli({"sweep", "streets", "--agents", "8000", "--from", "2", "--to", "10", "--increment",
              "2", "--runs", "2", "--steps", "100", "--seed", "1", "--quiet", "--shard", "0/2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "run,value,calc,seed,street_cells,clusters\n"
            "0,2,1,2743206200,231,817\n"
            "1,2,2,4250506607,231,744\n"
            "2,4,1,2488299554,687,737\n"
            "3,4,2,1824305051,687,808\n"
            "4,6,1,639754241,1135,601\n");

  // Its growth sweep's first rows, and run 0 by the run command: 116 x 116 cells.
  const std::vector<std::string> growth = {"--grow", "--grow-start", "1000", "--grow-rate",
                                           "200",    "--steps",      "150"};
  r = RunCli(Plus({"sweep", "growth", "--from", "10", "--to", "50", "--increment", "20", "--runs",
                   "2", "--seed", "42", "--quiet", "--shard", "0/6"},
                  growth));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> sweepLines = Split(r.out, '\n');
  ASSERT_EQ(sweepLines.size(), 1u + 150u);
  EXPECT_EQ(sweepLines[1], "0,10,1,3198934971,1,45.835408529502708,8.9179548156955999");
  EXPECT_EQ(sweepLines[2], "0,10,1,3198934971,2,45.128054671952356,10.404280618311535");
  r = RunCli(Plus({"run", "--seed", "3198934971", "--threshold", "10"}, growth));
  ASSERT_EQ(r.status, 0) << r.err;
  lines = Split(r.out, '\n');
  ASSERT_EQ(lines.size(), 1u + 150u + 2u);
  for (size_t j = 1; j <= 150; ++j) {
    const int64_t agents = std::stoll(Split(lines[j], ',').at(1));
    EXPECT_EQ(sweepLines[j], "0,10,1,3198934971," + std::to_string(j) + ',' + MeanIs(lines[j], 6) +
                                 ',' + Real(double(agents - 1) / (116.0 * 116.0) * 100));
  }
}

TEST(CliSweep, BadInputsGiveAMessageAndNoRows) {
  const std::vector<std::pair<std::function<void(Sweep&)>, std::string>> cases = {
      {[](Sweep& s) { s.sweep.from = "two"; }, "'two' is not a valid integer value"},
      {[](Sweep& s) { s.sweep.increment = "0"; }, "the increment must be at least 1"},
      {[](Sweep& s) { s.run.Text("steps") = "0"; }, "a run needs at least 1 step"},
      {[](Sweep& s) { s.sweep.parameter.reset(); }, "please select a parameter"},
      {[](Sweep& s) { s.sweep.jobs = "0"; }, "--jobs 0 is below 1"},
      {[](Sweep& s) { s.sweep.shard = "3/3"; }, "needs 0 <= i < n"},
      {[](Sweep& s) { s.sweep.shard = "0/2", s.run.seed.reset(); }, "--shard needs --seed"},
      {[](Sweep& s) { s.sweep.shard = "0/2", s.sweep.summary = true; }, "cannot go with --shard"},
      {[](Sweep& s) { s.sweep.summary = true, s.sweep.runs = "-1"; }, "Period should be >= 0"},
      {[](Sweep& s) { s.sweep.from = "-2147483648", s.sweep.to = "2147483647"; }, "the most"},
      // Model options fail in the first run, before the header, also with other runs under way.
      {[](Sweep& s) { s.run.Text("agents") = "many"; }, "'many' is not a valid integer value"},
      {[](Sweep& s) { s.sweep.jobs = "2", s.run.Text("tile-size") = "0"; },
       "not a valid grid size"},
  };
  for (const auto& [mutate, message] : cases) {
    Sweep s = Tiny(Experiment::Parameter);
    mutate(s);
    const Result r = Execute(s);
    // Options that cannot go together are a usage error; bad values and failures give 1.
    const std::string text = message;
    const bool usage = text == "--shard needs --seed" || text == "cannot go with --shard";
    EXPECT_EQ(r.status, usage ? 2 : 1) << message;
    EXPECT_EQ(r.out, "") << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
}

TEST(CliSweep, WarningsThatDifferOnlyInAValueAreSummarised) {
  // 35 rows: every move distance past 16 is rewritten, each value with its own warning.
  Sweep s = Tiny(Experiment::Parameter);
  s.sweep.parameter = "move-distance", s.sweep.from = "20", s.sweep.to = "24";
  const Result r = Execute(s);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string first = "segwork-cli: warning: --move-distance '20' rewritten to '16'\n";
  EXPECT_EQ(r.err, first + first.substr(0, first.size() - 1) + " \u2026 and 4 more like it\n");
}

TEST(CliSweep, SummariesDeriveTheWindowsSeries) {
  Sweep s = Tiny(Experiment::Parameter);
  s.sweep.summary = true;
  Result r = Execute(s);
  Rows rows = Table(r.out);
  for (const auto& [name, column] : {std::pair{"clusters", 4}, std::pair{"is", 5}}) {
    const Rows average = Series(r.out, std::string(name) + "_average");
    ASSERT_EQ(average.size(), 3u) << name;  // one point per value
    for (size_t v = 0; v < 3; ++v) {
      double sum = 0;
      for (size_t c = 0; c < 3; ++c) sum += std::stod(rows[3 * v + c][size_t(column)]);
      EXPECT_EQ(average[v][0], std::to_string(2 + v));
      EXPECT_NEAR(std::stod(average[v][1]), sum / 3, 1e-12) << name;
    }
    EXPECT_EQ(Series(r.out, std::string(name) + "_trend").size(), 2u) << name;
    EXPECT_EQ(Series(r.out, std::string(name) + "_fit").size(), 3u) << name;  // one per value
  }
  // Two values cannot carry a parabola: no fit rows, the window's message.
  s.sweep.to = "3";
  r = Execute(s);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Series(r.out, "is_fit").empty());
  EXPECT_EQ(Series(r.out, "is_average").size(), 2u);
  EXPECT_NE(r.err.find("Cannot process fitting"), std::string::npos);
  // One value: no line fits its points, and the trend's fields are empty, not the line y = x.
  s.sweep.to = "2";
  r = Execute(s);
  EXPECT_EQ(Series(r.out, "clusters_trend"), (Rows{{"2", ""}, {"2", ""}}));

  // Growth with one run per value: the value line is that run's mean line.
  s = Tiny(Experiment::Growth);
  s.sweep.summary = true, s.sweep.runs = "1";
  r = Execute(s);
  rows = Table(r.out);
  ASSERT_EQ(rows.size(), 3u * 5u);
  for (size_t v = 0; v < 3; ++v) {
    const Rows line = Series(r.out, "value_" + std::to_string(10 * (v + 1)));
    ASSERT_EQ(line.size(), 5u);
    for (size_t j = 0; j < 5; ++j) {
      EXPECT_EQ(line[j][0] + ',' + line[j][1], std::to_string(j + 1) + ',' + rows[5 * v + j][5]);
    }
  }
  EXPECT_EQ(Series(r.out, "density").at(4)[1], rows.back()[6]);

  s = Tiny(Experiment::Streets);
  s.sweep.summary = true;
  r = Execute(s);
  rows = Table(r.out);
  const Rows trend = Series(r.out, "trend");
  ASSERT_EQ(trend.size(), 2u);
  EXPECT_EQ(trend[0][0] + ',' + trend[1][0], rows.front()[4] + ',' + rows.back()[4]);
}

// "x,y" of every point, in the order the series holds them.
std::vector<std::string> Points(const segwork::Series& series) {
  std::vector<std::string> points;
  for (const SeriesPoint& p : series.Points()) points.push_back(Real(p.x) + ',' + Real(p.y));
  return points;
}

std::vector<std::string> Points(const Rows& rows, size_t x = 0, size_t y = 1) {
  std::vector<std::string> points;
  for (const auto& row : rows) points.push_back(row[x] + ',' + row[y]);
  return points;
}

// The seed column, once per run.
std::vector<std::string> Seeds(const Rows& rows, size_t rowsPerRun = 1) {
  std::vector<std::string> seeds;
  for (size_t i = 0; i < rows.size(); i += rowsPerRun) seeds.push_back(rows[i][3]);
  return seeds;
}

// The experiment window's tick machine on the CLI's own program start, every setup seeded as the
// CLI seeds its run of the same number; the seeds it asked for are returned.
std::vector<std::string> RunWindow(const Sweep& s, Model& model, SweepWindow& window,
                                   const std::function<void()>& start,
                                   const std::function<void()>& tick) {
  std::vector<std::string> seeds;
  model.Sim.ClockSeed = [&seeds, n = 0u]() mutable {
    seeds.push_back(std::to_string(RunSeed(11, n)));
    return RunSeed(11, n++);
  };
  window.E_valFrom = s.sweep.from, window.E_valTo = s.sweep.to;
  window.E_incre = s.sweep.increment, window.E_toSteps = s.run.Text("steps");
  window.E_calcVals = s.sweep.runs;
  start();
  for (int i = 0; i < 10000 && window.TimerEnabled; ++i) tick();
  EXPECT_FALSE(window.TimerEnabled);
  return seeds;
}

TEST(CliSweep, TheWindowsFindTheSameRunsAndSeriesForTheSameSeeds) {
  // The street sweep also with layouts that draw from the generator.
  struct Case {
    Experiment experiment;
    const char* layout;
    const char* randomTypes;
  };
  for (const Case c : {Case{Experiment::Parameter, "grid", "no"},
                       {Experiment::Growth, "grid", "no"},
                       {Experiment::Streets, "grid", "no"},
                       {Experiment::Streets, "grid", "yes"},
                       {Experiment::Streets, "random", "yes"}}) {
    const Experiment experiment = c.experiment;
    Sweep s = Tiny(experiment);
    s.sweep.summary = true;
    s.run.Text("random-types") = c.randomTypes;
    if (experiment == Experiment::Streets) s.run.layout = c.layout;
    const Result cli = Execute(s);
    ASSERT_EQ(cli.status, 0) << cli.err;
    const Rows rows = Table(cli.out);
    std::ostringstream err;
    auto model = WindowModel(s.run, err);
    auto series = [&](const char* name) { return Points(Series(cli.out, name)); };
    if (experiment == Experiment::Parameter) {
      ParameterSpaceSweep w(*model);
      w.CB_param = 1;  // radius
      const auto seeds = RunWindow(
          s, *model, w, [&] { w.B_startClick(); }, [&] { w.Timer2Timer(); });
      EXPECT_EQ(seeds, Seeds(rows));
      EXPECT_EQ(Points(w.Series_Avg), Points(rows, 1, 4));
      EXPECT_EQ(Points(w.Series_IS), Points(rows, 1, 5));
      EXPECT_EQ(Points(w.Series_AvgClust), series("clusters_average"));
      EXPECT_EQ(Points(w.Series_AvgTrend), series("clusters_trend"));
      // The window's fit has a point per run; the summary one per value.
      auto once = [](std::vector<std::string> points) {
        points.erase(std::unique(points.begin(), points.end()), points.end());
        return points;
      };
      EXPECT_EQ(once(Points(w.Series_AvgFit)), series("clusters_fit"));
      EXPECT_EQ(Points(w.Series_IS_Avg), series("is_average"));
      EXPECT_EQ(Points(w.Series_IS_Trend), series("is_trend"));
      EXPECT_EQ(once(Points(w.Series_IS_Fit)), series("is_fit"));
    } else if (experiment == Experiment::Growth) {
      GrowthAnalysis w(*model);
      const auto seeds = RunWindow(
          s, *model, w, [&] { w.B_startClick(); }, [&] { w.Timer3Timer(); });
      EXPECT_EQ(seeds, Seeds(rows, 5));
      ASSERT_EQ(w.ValueMeans.size(), 3u);
      for (size_t v = 0; v < 3; ++v) {
        EXPECT_EQ(Points(*w.ValueMeans[v]), series(("value_" + w.ValueMeans[v]->Title).c_str()));
      }
      EXPECT_EQ(Points(*w.DensityLine), series("density"));
    } else {
      StreetAnalysis w(*model);
      w.RB_grid = std::string_view(c.layout) == "grid";
      const auto seeds = RunWindow(
          s, *model, w, [&] { w.S_startClick(); }, [&] { w.Timer4Timer(); });
      EXPECT_EQ(seeds, Seeds(rows));
      // The window holds its points in ascending street cells, equal ones in run order.
      Rows sorted = rows;
      std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return std::stod(a[4]) < std::stod(b[4]);
      });
      EXPECT_EQ(Points(w.Series_street), Points(sorted, 4, 5)) << c.layout << c.randomTypes;
      EXPECT_EQ(Points(w.Series_strTrend), series("trend"));
    }
  }
}

}  // namespace
}  // namespace segwork::cli
