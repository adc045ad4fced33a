// What reaches the reader when writing fails or the program is stopped: the real segwork-cli in a
// process of its own, and resumed sweeps against uninterrupted ones.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/sweep_command.h"
#include "tests/support.h"

namespace segwork::cli {
namespace {

namespace fs = std::filesystem;
using testing::Split;

const std::string kCli = SEGWORK_CLI;
const std::string kWorld = " --seed 3 --cell-size 20 --agents 300 --groups 3 --move-distance 5";

struct Outcome {
  int status = 0;  // as a shell reports it: 128 + the signal for a killed process
  std::string err;
};

std::string Read(const fs::path& path) {
  return testing::ReadFile(path);
}

class Scratch : public ::testing::Test {
 protected:
  // A bash line, with $CLI the program; its stderr is kept.
  Outcome Bash(const std::string& line) {
    const fs::path err = dir_ / "stderr";
    const std::string command =
        "CLI='" + kCli + "' bash -c '" + line + "' 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    Outcome r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.err = Read(err);
    return r;
  }

  // Starts the program with its stdout on `out` and waits until `watched` holds `bytes` bytes.
  pid_t Start(const std::vector<std::string>& args, const fs::path& out, const fs::path& watched,
              uintmax_t bytes) {
    // Whatever goes wrong, no file of it grows past 64 MiB.
    const pid_t pid = segwork::testing::SpawnProgram(kCli, args, out, "/dev/null", {}, 64 << 20);
    auto size = [&] {
      std::error_code missing;
      const uintmax_t n = fs::file_size(watched, missing);
      return missing ? 0 : n;
    };
    while (size() < bytes && waitpid(pid, nullptr, WNOHANG) == 0) usleep(2000);
    return pid;
  }

  const testing::TempDir scratch_;
  const fs::path dir_ = scratch_.Path();
};

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

using CliOutput = Scratch;

TEST_F(CliOutput, FailedWritesEndInAMessageAndStatus1) {
  const std::string run = "$CLI run --steps 3" + kWorld;
  const std::string sweep = "$CLI sweep growth --runs 2 --steps 50 --jobs 2 --quiet" + kWorld;
  for (const std::string& line :
       {run + " > /dev/full", sweep + " > /dev/full", std::string("$CLI --version > /dev/full"),
        run + " >&-", sweep + " --output /dev/full/x"}) {
    const Outcome r = Bash(line);
    EXPECT_EQ(r.status, 1) << line << "\n" << r.err;
    EXPECT_NE(r.err.find("segwork-cli: "), std::string::npos) << line << "\n" << r.err;
    EXPECT_NE(r.err.find("cannot"), std::string::npos) << line << "\n" << r.err;
  }
  // A reader that goes away ends the program at once, also when the caller ignores SIGPIPE.
  const Outcome piped = Bash("trap \"\" PIPE; $CLI run --steps 30000" + kWorld +
                             " | head -n 3 >/dev/null; exit ${PIPESTATUS[0]}");
  EXPECT_EQ(piped.status, 128 + SIGPIPE) << piped.err;
}

TEST_F(CliOutput, AFullFileSystemIsReported) {
  const fs::path small = dir_ / "small";
  fs::create_directories(small);
  if (mount("segwork", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << ")";
  }
  const std::string to = " > " + (small / "out.csv").string();
  for (const std::string& line :
       {std::string("$CLI run --steps 2000") + kWorld + to,
        "$CLI sweep growth --runs 3 --steps 400 --jobs 2 --quiet" + kWorld + to,
        "$CLI sweep growth --runs 3 --steps 400 --jobs 2 --quiet --output " +
            (small / "rows.csv").string() + kWorld}) {
    fs::remove(small / "out.csv");
    fs::remove(small / "rows.csv");
    const Outcome r = Bash(line);
    EXPECT_EQ(r.status, 1) << line << "\n" << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << line << "\n" << r.err;
  }
  umount(small.c_str());
}

TEST_F(CliOutput, TerminationSignalsEndARunOnAWholeRow) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    const fs::path out = dir_ / ("run-" + std::to_string(signal) + ".csv");
    // Past the first few blocks of the output, so a cut block would show. 200,000 steps take
    // about a second and write 22 MB: the signal comes long before the end, and a run that did
    // not stop for it still ends.
    const pid_t pid = Start(Words("run --steps 200000" + kWorld), out, out, 20000);
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << signal;
    EXPECT_EQ(WTERMSIG(status), signal);
    const std::string text = Read(out);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    for (const std::string& row : Split(text, '\n')) EXPECT_EQ(Split(row, ',').size(), 9u) << row;
  }
}

TEST_F(CliOutput, ASweepOrExperimentKilledAndResumedEqualsAnUninterruptedOne) {
  // Twelve runs of 2000 steps: the kill comes long before the last. The fast engine settles this
  // world in milliseconds; the literal one takes a second for the batch. The experiment's runs
  // end when settled, each with its own number of rows.
  for (const std::string& batch :
       {"sweep growth --runs 2 --steps 2000 --quiet --engine literal" + kWorld,
        "experiment --vary threshold=20:10:70 --runs 2 --steps 2000 --every 50 --until settled "
        "--quiet --engine literal" +
            kWorld}) {
    ASSERT_EQ(Bash("$CLI " + batch + " > " + (dir_ / "whole.csv").string()).status, 0);
    const std::string whole = Read(dir_ / "whole.csv");
    for (const char* jobs : {"1", "2"}) {
      const fs::path file = dir_ / (std::string("rows-") + jobs + ".csv");
      fs::remove(file), fs::remove(file.string() + ".sweep");
      const std::string options = " --jobs " + std::string(jobs) + " --output " + file.string();
      const pid_t pid = Start(Words(batch + options), dir_ / "stdout", file, 1);
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      EXPECT_LT(Read(file).size(), whole.size()) << "killed only after the last run";
      const Outcome resumed = Bash("$CLI " + batch + options + " --resume");
      EXPECT_EQ(resumed.status, 0) << resumed.err;
      EXPECT_EQ(Read(file), whole) << batch << " " << jobs;
    }
  }
}

// Sweeps in this process: six growth runs of five steps on a small world.
struct Sweep {
  RunOptions run;
  SweepOptions sweep;

  explicit Sweep(const fs::path& file) {
    SetSweepDefaults(Experiment::Growth, run, sweep);
    run.seed = "11", run.Text("steps") = "5", run.Text("cell-size") = "20",
    run.Text("agents") = "300";
    run.Text("groups") = "3", run.Text("radius") = "2", run.Text("move-distance") = "5";
    sweep.from = "10", sweep.to = "30", sweep.runs = "2", sweep.jobs = "1", sweep.quiet = true;
    sweep.output = file.string();
  }
  testing::Result Execute() const {
    return testing::Capture(
        [&](std::FILE* out, std::ostream& err) { return ExecuteSweep(run, sweep, out, err); });
  }
};

TEST_F(CliOutput, AResumeKeepsTheWholeRowsOfAFileCutAnywhere) {
  const fs::path file = dir_ / "rows.csv";
  const Sweep fresh(file);
  ASSERT_EQ(fresh.Execute().status, 0);
  const std::string whole = Read(file);
  Sweep plain = fresh;
  plain.sweep.output.reset();
  EXPECT_EQ(plain.Execute().out, whole);  // the same bytes as on standard output

  Sweep resume = fresh;
  resume.sweep.resume = true;
  for (size_t cut = 0; cut <= whole.size(); cut += cut < 60 ? 1 : 23) {
    resume.sweep.jobs = cut % 2 ? "2" : "1";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << whole.substr(0, cut);
    const testing::Result r = resume.Execute();
    ASSERT_EQ(r.status, 0) << cut << "\n" << r.err;
    ASSERT_EQ(Read(file), whole) << cut;
  }
  // Neither FILE nor its record: the sweep starts.
  fs::remove(file);
  fs::remove(file.string() + ".sweep");
  ASSERT_EQ(resume.Execute().status, 0);
  EXPECT_EQ(Read(file), whole);
}

// A file cut where a run ends holds those runs whole: a resume makes only the runs after them, as
// its progress lines count, and gives the bytes of a sweep never stopped.
TEST_F(CliOutput, AResumeAtARunBoundaryMakesOnlyTheMissingRuns) {
  const std::string file = (dir_ / "rows.csv").string();
  const std::vector<std::string> sweep =
      testing::Plus({"sweep", "growth", "--seed", "11", "--steps", "5", "--from", "10", "--to",
                     "30", "--runs", "2", "--output", file},
                    testing::SmallWorld("300"));
  const testing::Result fresh = testing::RunCli(testing::Plus(sweep, {"--jobs", "1"}));
  ASSERT_EQ(fresh.status, 0) << fresh.err;
  const std::string whole = Read(file);
  const std::vector<std::string> lines = Split(whole, '\n');
  ASSERT_EQ(lines.size(), 1u + 6u * 5u);  // the header, then six runs of five rows
  auto progress = [](const std::string& err) {
    std::vector<std::string> made;
    for (const std::string& line : Split(err, '\n')) {
      if (line.rfind("# run ", 0) == 0) made.push_back(line.substr(6, line.find(' ', 6) - 6));
    }
    return made;
  };
  EXPECT_EQ(progress(fresh.err).size(), 6u);
  for (size_t kept = 0; kept <= 6; ++kept) {
    SCOPED_TRACE(std::to_string(kept) + " runs kept");
    std::string cut;
    for (size_t i = 0; i < 1 + 5 * kept; ++i) cut += lines[i] + '\n';
    std::ofstream(file, std::ios::binary | std::ios::trunc) << cut;
    const testing::Result r =
        testing::RunCli(testing::Plus(sweep, {"--resume", "--jobs", kept % 2 ? "2" : "1"}));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> expected;
    for (size_t run = kept + 1; run <= 6; ++run) expected.push_back(std::to_string(run) + "/6");
    EXPECT_EQ(progress(r.err), expected) << r.err;
    EXPECT_EQ(Read(file), whole);
  }
}

TEST_F(CliOutput, AResumeRefusesAFileOfAnotherSweep) {
  const fs::path file = dir_ / "rows.csv";
  const Sweep fresh(file);
  ASSERT_EQ(fresh.Execute().status, 0);
  const std::string whole = Read(file);
  const std::string half = whole.substr(0, whole.size() / 2);
  struct Case {
    void (*change)(Sweep&);
    const char* message;
    int status;
  };
  const Case cases[] = {
      {[](Sweep&) {}, "exists: give --resume", 1},
      {[](Sweep& s) { s.sweep.resume = true, s.run.Text("agents") = "299"; },
       "belongs to another sweep (" /* FILE.sweep */, 1},
      {[](Sweep& s) { s.sweep.resume = true, s.run.seed = "12"; }, "seed was 11, is 12", 1},
      {[](Sweep& s) { s.sweep.resume = true, s.sweep.shard = "0/1"; }, "", 0},
      {[](Sweep& s) { s.sweep.resume = true, s.sweep.shard = "0/2"; }, "shard was 0/1, is 0/2", 1},
      {[](Sweep& s) { s.sweep.resume = true, s.sweep.output.reset(); }, "needs --output", 2},
      {[](Sweep& s) { s.sweep.resume = true, s.sweep.summary = true; }, "cannot go with", 2},
  };
  for (const Case& c : cases) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << half;
    Sweep s = fresh;
    c.change(s);
    const testing::Result r = s.Execute();
    EXPECT_EQ(r.status, c.status) << c.message << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Read(file), c.status ? half : whole) << c.message;
  }
  // A FILE another process is writing, a row changed by hand, or a FILE without its record is
  // not taken for this sweep's.
  Sweep s = fresh;
  s.sweep.resume = true;
  const int writing = open(file.c_str(), O_RDONLY);
  ASSERT_EQ(flock(writing, LOCK_EX), 0);
  EXPECT_NE(s.Execute().err.find("is being written by another"), std::string::npos);
  close(writing);
  std::string changed = half;
  changed[changed.find("\n1,") + 3] = '7';
  std::ofstream(file, std::ios::binary | std::ios::trunc) << changed;
  const std::string refused = s.Execute().err;
  EXPECT_NE(refused.find("line 7 is not a row of this sweep"), std::string::npos) << refused;
  fs::remove(file.string() + ".sweep");
  EXPECT_NE(s.Execute().err.find("has no"), std::string::npos);
  EXPECT_EQ(Read(file), changed);
}

}  // namespace
}  // namespace segwork::cli
