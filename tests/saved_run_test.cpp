#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/command_line.h"
#include "cli/run_command.h"
#include "core/errors.h"
#include "files/saved_run.h"
#include "tests/support.h"

namespace segwork {
namespace {

using Args = std::vector<std::string>;

testing::Result Cli(Args args) {
  args.insert(args.begin(), "run");
  return testing::RunCli(args);
}

using testing::ReadFile;

// The header and the rows after step `from`, then the clusters and digest lines.
std::string RowsAfter(const std::string& csv, int from) {
  std::istringstream in(csv);
  std::string line, kept;
  for (int n = 0; std::getline(in, line); ++n) {
    if (n == 0 || n > from) kept += line + "\n";
  }
  return kept;
}

TEST(SavedRun, GoingOnFromASavedRunRepeatsTheUninterruptedOne) {
  const std::vector<Args> cases = {
      {},
      {"--layout", "grid", "--weights", "0;0,25;0,5;1;2,5;4;8", "--random-types", "yes"},
      {"--layout", "random", "--street-type", "-2", "--empty-cells", "similar"},
      {"--grow", "--grow-start", "150", "--grow-rate", "20", "--empty-cells", "different"},
      {"--street-occupation", "--layout", "grid", "--street-type", "-1", "--groups", "3"},
  };
  const testing::TempDir dir;
  const std::string file = dir / "continue.run";
  for (const Args& extra : cases) {
    for (const char* engine : {"fast", "literal"}) {
      Args base = {"--seed", "11", "--cell-size", "14", "--agents", "1500", "--engine", engine};
      base.insert(base.end(), extra.begin(), extra.end());
      Args whole = base, first = base;
      whole.insert(whole.end(), {"--steps", "40"});
      first.insert(first.end(), {"--steps", "15", "--save-run", file});
      const auto uninterrupted = Cli(whole);
      ASSERT_EQ(Cli(first).status, 0);
      const auto rest = Cli({"--open-run", file, "--steps", "25", "--engine", engine});
      ASSERT_EQ(rest.status, 0) << rest.err;
      EXPECT_EQ(rest.out, RowsAfter(uninterrupted.out, 15)) << engine << " " << extra.size();
    }
  }
}

// A run in the window's model: the analysis tables follow, and the streets may be pending.
std::unique_ptr<Model> WindowRun() {
  auto m = std::make_unique<Model>();
  m->Controls.Text(Field::Edit_cellSiz) = "14";
  m->Controls.Text(Field::Edit_anzAg) = "1500";
  m->Sim.SeedField = "5";
  m->StartProgram(StreetLayout::Grid);
  return m;
}

void Steps(Model& m, int n) {
  for (int i = 0; i < n; ++i) m.AdvanceOneStep();
}

TEST(SavedRun, TheWindowsRunGoesOnWithItsChartsAndPendingStreets) {
  const testing::TempDir dir;
  const std::string file = dir / "window.run";
  for (int pending = 0; pending < 3; ++pending) {
    auto a = WindowRun();
    Steps(*a, 12);
    // A stroke not yet built into the weights, or streets deleted.
    if (pending == 1) a->Sim.DrawStroke({{2, 3}, {40, 30}, -2, "stroke"});
    if (pending == 2) a->DeleteStreets();
    SaveRun(a->Sim, a->Analysis, file);
    auto b = std::make_unique<Model>();
    b->InitStreetControls();
    b->RunOpened(OpenRun(b->Sim, file));
    for (Model* m : {a.get(), b.get()}) {
      EXPECT_EQ(m->Sim.StreetsChanged, pending == 1);
      if (m->Sim.StreetsChanged) m->Sim.BuildNeighbourhoodWeights();  // as starting the run does
      Steps(*m, 20);
    }
    EXPECT_EQ(cli::StateDigest(a->Sim), cli::StateDigest(b->Sim)) << pending;
    EXPECT_EQ(a->Sim.Rng.State(), b->Sim.Rng.State());
    ASSERT_EQ(a->Analysis.SegregationSeries.size(), b->Analysis.SegregationSeries.size());
    for (size_t g = 0; g < a->Analysis.SegregationSeries.size(); ++g) {
      const auto& pa = a->Analysis.SegregationSeries[g].points;
      const auto& pb = b->Analysis.SegregationSeries[g].points;
      ASSERT_FALSE(pa.empty());
      ASSERT_EQ(pa.size(), pb.size());
      EXPECT_EQ(pa.back().y, pb.back().y);
    }
    EXPECT_EQ(a->Analysis.DissimiGrid, b->Analysis.DissimiGrid);
    EXPECT_EQ(a->Sim.Measures.Steps().size(), b->Sim.Measures.Steps().size());
  }
}

TEST(SavedRun, BadFilesAreRefusedAndTheOpenRunStays) {
  const testing::TempDir dir;
  const std::string good = dir / "good.run", bad = dir / "bad.run";
  auto source = WindowRun();
  Steps(*source, 3);
  SaveRun(source->Sim, source->Analysis, good);
  const std::string bytes = ReadFile(good);
  const size_t payload = bytes.find('\n', 12) + 1;
  // A file of today's version ends in a checksum of all of it: any change is damage. One of the
  // version before (tests/fixtures), without one, has the checks of its parts only.
  const std::string old = ReadFile(SEGWORK_FIXTURES "/v1-grid.segrun");
  const size_t oldPayload = old.find('\n', 12) + 1;
  std::vector<std::pair<std::string, std::string>> cases = {
      {"{\"format\": \"segwork scenario\"}", "not a saved run"},
      {bytes.substr(0, payload - 20), "header"},
      {bytes.substr(0, payload + 100), "truncated"},
      {bytes.substr(0, bytes.size() - 3), "truncated or damaged"},
      {bytes + "x", "truncated or damaged"},
      {old.substr(0, oldPayload + 100), "truncated"},
      {old + "x", "after the payload"},
  };
  for (const auto& [file, at, payloadDamage] :
       {std::tuple{&bytes, payload, "damaged: its checksum does not match"},
        std::tuple{&old, oldPayload, "corrupt"}}) {
    const bool sealed = file == &bytes;
    std::string flipped = *file;
    flipped[at + (file->size() - at) / 2] ^= 0x5a;
    std::string version = *file;
    version.replace(version.find("\"version\":"), 11, "\"version\":9");
    std::string grid = *file;
    grid.replace(grid.find("\"columns\":"), 10, "\"columns\":1");
    cases.push_back({flipped, payloadDamage});
    cases.push_back({version, sealed ? "damaged" : "version 9"});
    cases.push_back({grid, sealed ? "damaged" : "grid does not fit"});
  }
  auto target = WindowRun();
  Steps(*target, 2);
  const uint64_t before = cli::StateDigest(target->Sim);
  for (const auto& [text, message] : cases) {
    std::ofstream(bad, std::ios::binary) << text;
    try {
      target->RunOpened(OpenRun(target->Sim, bad));
      ADD_FAILURE() << message;
    } catch (const SegworkError& e) {
      EXPECT_NE(std::string(e.what()).find(bad + ": "), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
    EXPECT_EQ(cli::StateDigest(target->Sim), before);
    EXPECT_EQ(target->Sim.StepCount, 2);
  }
  const auto refused = Cli({"--open-run", bad, "--steps", "5"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(Cli({"--open-run", good, "--radius", "3"}).err.find("--radius cannot be given"),
            std::string::npos);
}

TEST(SavedRun, AFailedSaveLeavesTheOldFileAndNoPart) {
  const testing::TempDir dir;
  const std::string folder = dir.Path().string();
  const std::string file = folder + "/run.run";
  std::ofstream(file) << "a good file";
  auto m = WindowRun();
  const auto missing = Cli({"--steps", "1", "--save-run", folder + "/no/such/run.run"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("does not exist"), std::string::npos);
  // A file size limit stands in for a full disk.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 4096;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_THROW(SaveRun(m->Sim, m->Analysis, file), SegworkError);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(ReadFile(file), "a good file");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

}  // namespace
}  // namespace segwork
