#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_command.h"
#include "cli/sweep_command.h"
#include "tests/cli_capture.h"
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
using testing::Result;
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

std::string Real(double v) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

double MeanIndex(const Model& model, size_t j) {
  double sum = 0;
  for (const LineSeries& series : model.Analysis.SegregationSeries) sum += series.points.at(j).y;
  return sum / model.Sim.GroupCount;
}

TEST(CliSweep, ParameterDefaultsMakeNineRunsInSweepOrder) {
  const Result r = Execute(Tiny(Experiment::Parameter));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "run,value,calc,seed,clusters,mean_is");
  const Rows rows = Table(r.out);
  ASSERT_EQ(rows.size(), 9u);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0] + rows[i][1] + rows[i][2],
              std::to_string(i) + std::to_string(2 + i / 3) + std::to_string(1 + i % 3));
    EXPECT_EQ(rows[i][3], std::to_string(RunSeed(11, uint32_t(i))));
  }
  EXPECT_NE(RunSeed(11, 0), RunSeed(12, 0));
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

TEST(CliSweep, ARowIsReproducedByItsSeedAndValue) {
  std::ostringstream err;
  Sweep s = Tiny(Experiment::Parameter);
  s.run.layout = "grid";
  s.sweep.parameter = "move-distance";
  const auto row = Table(Execute(s).out).at(4);
  RunOptions o = s.run;
  o.seed = row[3], o.Text("move-distance") = row[1];
  auto model = WindowModel(o, err);
  for (int i = 0; i < 5; ++i) model->AdvanceOneStep();
  EXPECT_EQ(row[4], std::to_string(model->Analysis.ClusterSizeSeries.bars.size()));
  EXPECT_EQ(row[5], Real(MeanIndex(*model, 4)));

  s = Tiny(Experiment::Growth);
  s.run.Flag("grow") = true, s.run.Text("grow-start") = "50", s.run.Text("grow-rate") = "20";
  const Rows rows = Table(Execute(s).out);
  ASSERT_EQ(rows.size(), 6u * 5u);
  o = s.run;
  o.seed = rows[15][3], o.Text("threshold") = rows[15][1];
  model = WindowModel(o, err);
  for (size_t j = 0; j < 5; ++j) {
    model->AdvanceOneStep();
    EXPECT_EQ(rows[15 + j][4] + ',' + rows[15 + j][5] + ',' + rows[15 + j][6],
              std::to_string(j + 1) + ',' + Real(MeanIndex(*model, j)) + ',' +
                  Real(model->Analysis.ChangeSeries.at(3).points.at(j).y));
  }

  for (const char* layout : {"grid", "random"}) {
    s = Tiny(Experiment::Streets);
    s.run.layout = layout;
    const auto street = Table(Execute(s).out).at(3);
    o = s.run;
    o.seed = street[3], o.Text("rows") = o.Text("cols") = o.Text("streets") = street[1];
    model = WindowModel(o, err);
    EXPECT_EQ(street[4], model->Window.Lbl_strCell) << layout;
    EXPECT_NE(street[4], "0") << layout;
    for (int i = 0; i < 5; ++i) model->AdvanceOneStep();
    model->FindClusters();
    EXPECT_EQ(street[5], std::to_string(model->Analysis.ClusterSizeSeries.bars.size())) << layout;
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
    EXPECT_EQ(Series(r.out, std::string(name) + "_fit").size(), 9u) << name;
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
  for (Experiment experiment : {Experiment::Parameter, Experiment::Growth, Experiment::Streets}) {
    Sweep s = Tiny(experiment);
    s.sweep.summary = true;
    s.run.Text("random-types") = "no";  // the layout then draws nothing from the generator
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
      EXPECT_EQ(Points(w.Series_AvgFit), series("clusters_fit"));
      EXPECT_EQ(Points(w.Series_IS_Avg), series("is_average"));
      EXPECT_EQ(Points(w.Series_IS_Trend), series("is_trend"));
      EXPECT_EQ(Points(w.Series_IS_Fit), series("is_fit"));
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
      const auto seeds = RunWindow(
          s, *model, w, [&] { w.S_startClick(); }, [&] { w.Timer4Timer(); });
      EXPECT_EQ(seeds, Seeds(rows));
      // The window holds its points in ascending street cells, equal ones in run order.
      Rows sorted = rows;
      std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return std::stod(a[4]) < std::stod(b[4]);
      });
      EXPECT_EQ(Points(w.Series_street), Points(sorted, 4, 5));
      EXPECT_EQ(Points(w.Series_strTrend), series("trend"));
    }
  }
}

}  // namespace
}  // namespace segwork::cli
