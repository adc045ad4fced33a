#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "analysis/measure_catalog.h"
#include "tests/support.h"

namespace segwork {
namespace {

using testing::Plus;
using testing::RunCli;
using testing::Split;

const std::vector<std::string> kWorld = {"--cell-size", "20", "--agents", "900",
                                         "--seed",      "42", "--quiet"};

std::string Write(const testing::TempDir& dir, const std::string& name, const std::string& text) {
  const std::string path = dir / name;
  std::ofstream(path) << text;
  return path;
}

// A design listing the combinations of --vary in their order gives the same bytes, with any
// --jobs; a settled run stops at its first step without movers; any row is the end of the run
// `segwork-cli run` makes with its seed and values.
TEST(Experiment, VaryAndDesignGiveTheRowsOfTheRunsThemselves) {
  const testing::TempDir dir;
  const auto varied =
      RunCli(Plus({"experiment", "--vary", "threshold=30,50", "--vary", "groups=2:1:3", "--runs",
                   "2", "--steps", "300", "--until", "settled", "--jobs", "1"},
                  kWorld));
  ASSERT_EQ(varied.status, 0) << varied.err;
  const std::string design = Write(dir, "d.csv", "threshold,groups\n30,2\n30,3\n50,2\n\"50\",3\n");
  const auto designed = RunCli(Plus({"experiment", "--design", design, "--runs", "2", "--steps",
                                     "300", "--until", "settled", "--jobs", "3"},
                                    kWorld));
  ASSERT_EQ(designed.status, 0) << designed.err;
  EXPECT_EQ(designed.out, varied.out);

  const std::vector<std::string> rows = Split(varied.out, '\n');
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[0],
            "run,calc,seed,threshold,groups,steps,settled,movers,mean_is,is_1,is_2,is_3,sat_1,"
            "sat_2,sat_3,clusters");
  // The seeds are the sweeps' (seed 42: 3198934971, 1616377404, ...).
  EXPECT_EQ(rows[1].substr(0, 17), "0,1,3198934971,30");
  for (size_t r : {3u, 6u, 8u}) {
    const std::vector<std::string> f = Split(rows[r], ',');
    ASSERT_EQ(f.size(), 16u) << rows[r];
    EXPECT_EQ(f[6], "yes");
    const auto run = RunCli({"run", "--cell-size", "20", "--agents", "900", "--seed", f[2],
                             "--threshold", f[3], "--groups", f[4], "--steps", f[5]});
    const std::vector<std::string> lines = Split(run.out, '\n');
    // The run's rows: the last step has no movers, every step before it has some.
    for (size_t s = 1; s + 2 < lines.size(); ++s) {
      EXPECT_EQ(Split(lines[s], ',')[2] == "0", s + 3 == lines.size()) << rows[r] << " step " << s;
    }
    const std::vector<std::string> last = Split(lines[lines.size() - 3], ',');
    const size_t groups = std::stoul(f[4]);
    for (size_t g = 0; g < groups; ++g) {
      EXPECT_EQ(f[9 + g], last[3 + g]) << "is_" << g + 1;
      EXPECT_EQ(f[12 + g], last[3 + groups + g]) << "sat_" << g + 1;
    }
    if (groups == 2) {
      EXPECT_EQ(f[11], "");
    }
    EXPECT_EQ("clusters," + f[15], lines[lines.size() - 2]);
  }
}

// Rows every K steps and one at the end; the weights, which have no option, can be varied too.
TEST(Experiment, EveryKStepsAndParametersWithoutAnOption) {
  const auto r = RunCli(Plus({"experiment", "--vary", "weight-p3=8;0,5", "--layout", "grid",
                              "--steps", "12", "--every", "5", "--measures", "movers,clusters"},
                             kWorld));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> rows = Split(r.out, '\n');
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0], "run,calc,seed,weight-p3,step,settled,movers,clusters");
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Split(rows[1 + i], ',')[4], std::to_string(i < 2 ? 5 * (i + 1) : 12));
    EXPECT_EQ(rows[4 + i].substr(0, 21), "1,1,1616377404,\"0,5\",") << rows[4 + i];
  }
  // Another weight, another run: the same seed would give the same movers.
  EXPECT_NE(Split(rows[3], ',').back(), Split(rows[6], ',').back());
}

// Bad input: one message naming the file, row and column or the option; no row.
TEST(Experiment, BadInputIsRefusedWithoutARow) {
  const testing::TempDir dir;
  const std::vector<std::pair<std::string, std::string>> designs = {
      {"threshold,bogus\n30,2\n", "row 1, column 2: no parameter is named 'bogus'"},
      {"threshold,groups\n30,2,4\n", "row 2: 3 fields, the header has 2"},
      {"threshold,groups\n30,2\n40,x\n", "row 3, column groups: 'x' is not a valid integer"},
      {"threshold,threshold\n30,2\n", "'threshold' is named twice"},
      {"threshold\n", "no runs"},
      {"empty-cells,seed\nsimilar,-1\n", "row 2, column seed"},
  };
  for (const auto& [text, message] : designs) {
    const std::string file = Write(dir, "bad.csv", text);
    const auto r = RunCli(Plus({"experiment", "--design", file, "--steps", "3"}, kWorld));
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_EQ(r.out, "") << text;
    EXPECT_EQ(r.err.rfind(file + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  for (const char* vary : {"bogus=1,2", "threshold=1:1:0", "threshold=1,,2", "steps=1,2",
                           "empty-cells=no,maybe", "threshold"}) {
    const auto r = RunCli(Plus({"experiment", "--vary", vary, "--steps", "3"}, kWorld));
    EXPECT_EQ(r.status, 1) << vary;
    EXPECT_EQ(r.out, "") << vary;
    EXPECT_EQ(r.err.rfind(std::string("--vary ") + vary + ": ", 0), 0u) << r.err;
  }
  EXPECT_EQ(RunCli(Plus({"experiment", "--measures", "movers,nope", "--steps", "3"}, kWorld)).err,
            "--measures: no measure is named 'nope'; the measures: " + MeasureNames() + "\n");
  EXPECT_EQ(RunCli({"experiment", "--vary", "threshold=1", "--design", "x.csv"}).status, 2);
}

// The parameter sweep's runs, as an experiment: the same seeds, clusters and mean index (at a
// step where the sweep's last cluster analysis is the run's end).
TEST(Experiment, AParameterSweepAsAnExperimentGivesItsClustersAndMeanIndex) {
  const auto sweep = RunCli(Plus({"sweep", "parameter", "--parameter", "radius", "--from", "1",
                                  "--to", "3", "--increment", "1", "--runs", "2", "--steps", "31"},
                                 kWorld));
  const auto experiment = RunCli(Plus({"experiment", "--vary", "radius=1:1:3", "--runs", "2",
                                       "--steps", "31", "--measures", "clusters,mean_is"},
                                      kWorld));
  ASSERT_EQ(sweep.status, 0) << sweep.err;
  ASSERT_EQ(experiment.status, 0) << experiment.err;
  const std::vector<std::string> a = Split(sweep.out, '\n'), b = Split(experiment.out, '\n');
  ASSERT_EQ(a.size(), 7u);
  ASSERT_EQ(b.size(), a.size());
  for (size_t i = 1; i < a.size(); ++i) {
    const std::vector<std::string> s = Split(a[i], ','), e = Split(b[i], ',');
    EXPECT_EQ((std::vector{s[1], s[3], s[4], s[5]}), (std::vector{e[3], e[2], e[6], e[7]})) << i;
  }
}

// Rows to a file: cut anywhere (runs of their own number of rows, until settled) and resumed,
// they are the bytes of an experiment never stopped; a changed row is refused and left as it
// is; the experiment saved in a scenario runs again to the same bytes.
TEST(Experiment, AFileCutAnywhereResumesAndAScenarioKeepsTheExperiment) {
  const testing::TempDir dir;
  const std::string file = dir / "rows.csv";
  const std::vector<std::string> experiment =
      Plus({"experiment", "--vary", "threshold=30,60", "--vary", "groups=2,3", "--runs", "2",
            "--steps", "40", "--every", "6", "--until", "settled", "--jobs", "2"},
           kWorld);
  const auto whole = RunCli(experiment);
  ASSERT_EQ(whole.status, 0) << whole.err;
  ASSERT_EQ(RunCli(Plus(experiment, {"--output", file})).status, 0);
  ASSERT_EQ(testing::ReadFile(file), whole.out);
  for (size_t cut = 0; cut <= whole.out.size(); cut += 97) {
    std::ofstream(file, std::ios::trunc) << whole.out.substr(0, cut);
    const auto r = RunCli(Plus(experiment, {"--output", file, "--resume"}));
    ASSERT_EQ(r.status, 0) << cut << r.err;
    ASSERT_EQ(testing::ReadFile(file), whole.out) << cut;
  }
  std::string changed = whole.out;
  changed[changed.find(",no,") + 1] = 'N';
  std::ofstream(file, std::ios::trunc) << changed;
  const auto refused = RunCli(Plus(experiment, {"--output", file, "--resume"}));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("the file was changed"), std::string::npos) << refused.err;
  EXPECT_EQ(testing::ReadFile(file), changed);
  EXPECT_EQ(RunCli(Plus(experiment, {"--output", file})).status, 1) << "exists: not replaced";

  const std::string scenario = dir / "exp.json";
  ASSERT_EQ(RunCli(Plus(experiment, {"--save-scenario", scenario})).status, 0);
  const auto again = RunCli({"experiment", "--scenario", scenario, "--quiet", "--jobs", "1"});
  EXPECT_EQ(again.out, whole.out) << again.err;
  EXPECT_EQ(RunCli(Plus(experiment, {"--resume"})).status, 2);
}

}  // namespace
}  // namespace segwork
