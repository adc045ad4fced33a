// Files that cannot hurt, by kind: the readers (nesting, duplicate keys, checksums,
// files of the version before, special and oversized inputs, the sweep record's checks), the
// targets (special files are never replaced), the race on one sweep output, and termination
// signals during saves and movies. The command line is driven through its words.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "files/scenario.h"
#include "tests/support.h"

namespace segwork {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
using segwork::testing::RunCli;

const std::string kCli = SEGWORK_CLI;
const std::string kFixtures = SEGWORK_FIXTURES;
const Args kWorld = {"--seed",   "7",   "--steps",  "4", "--cell-size",     "20",
                     "--agents", "300", "--groups", "3", "--move-distance", "5"};

Args Joined(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The words with option `name` given `value`, in its place if it is there.
Args With(Args words, const std::string& name, const std::string& value) {
  const auto at = std::find(words.begin(), words.end(), name);
  if (at == words.end()) return Joined(words, {name, value});
  *(at + 1) = value;
  return words;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string Inserted(std::string text, const std::string& after, const std::string& what) {
  const size_t at = text.find(after);
  EXPECT_NE(at, std::string::npos) << after;
  return at == std::string::npos ? text : text.insert(at + after.size(), what);
}

// The names in a folder, the hidden ones (temporary files) too.
std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The program in a process of its own, stdout and stderr on files; `env` is added to its
// environment.
pid_t Spawn(const Args& args, const fs::path& out, const fs::path& err,
            const std::string& env = {}) {
  return segwork::testing::SpawnProgram(kCli, args, out, err, env);
}

bool Running(pid_t pid) {
  return waitpid(pid, nullptr, WNOHANG) == 0;
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("segwork-files-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string At(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

// ----- readers -----

using FileReaders = Files;

// Refused with status 1, no rows and one message beginning with the file's name.
void ExpectRefused(const Args& args, const std::string& file, const std::string& message) {
  const auto r = RunCli(args);
  EXPECT_EQ(r.status, 1) << file << "\n" << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind(file + ": ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(message), std::string::npos) << "wanted: " << message << "\ngot: " << r.err;
}

TEST_F(FileReaders, NestingBeyondTheFormatIsRefusedNamingTheFile) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string head = R"({"format": "segwork scenario", "version": 1)";
  const std::vector<std::string> scenarios = {
      R"({"format": )" + deep + R"(, "version": 1})",
      head + R"(, "street_lines": [{"start": [1, )" + deep + R"(], "end": [1, 1], "type": 1}]})",
  };
  const std::string file = At("deep.json");
  for (const std::string& text : scenarios) {
    Write(file, text);
    ExpectRefused({"run", "--scenario", file}, file, "nested more than 8 deep");
    ExpectRefused({"sweep", "--scenario", file}, file, "nested more than 8 deep");
  }
  // A saved run's header: in format, version, or an unknown key inside scenario or run; in a
  // file of the version before (no checksum) the header itself is refused, in today's the
  // checksum is.
  const std::string today = At("today.segrun");
  ASSERT_EQ(RunCli(Joined({"run", "--save-run", today}, kWorld)).status, 0);
  const std::string run = At("deep.segrun");
  for (const auto& [saved, message] :
       {std::pair{kFixtures + "/v1-grid.segrun", "nested more than 8 deep"},
        std::pair{today, "damaged"}}) {
    const std::string bytes = Read(saved);
    std::string format = bytes;
    format.replace(format.find("\"segwork run\""), 13, deep);
    std::string version = bytes;
    version.replace(version.find("\"version\":") + 10, 1, deep);
    for (const std::string& text :
         {format, version, Inserted(bytes, "\"scenario\":{", "\"x\":" + deep + ","),
          Inserted(bytes, "\"run\":{", "\"x\":" + deep + ",")}) {
      Write(run, text);
      ExpectRefused({"run", "--open-run", run, "--steps", "1"}, run, message);
    }
  }
}

TEST_F(FileReaders, AKeyGivenTwiceIsRefusedNamingIt) {
  const std::string saved = At("saved.json");
  ASSERT_EQ(RunCli(Joined({"run", "--save-scenario", saved}, kWorld)).status, 0);
  const std::string text = Read(saved);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {Inserted(text, "{\n", "  \"format\": \"segwork scenario\",\n"), "format"},
      {Inserted(text, "{\n", "  \"seed\": 12,\n"), "seed"},  // 12, then the file's 7
      {Inserted(text, "{\n", "  \"version\": 2,\n"), "version"},
      {Inserted(text, "{\n", "  \"controls\": {},\n"), "controls"},
      {Inserted(text, "\"controls\": {\n", "    \"TrB_thresh\": 70,\n"), "controls.TrB_thresh"},
      {Inserted(text, "{\n", "  \"street_types\": {},\n"), "street_types"},
  };
  const std::string file = At("twice.json");
  for (const auto& [twice, key] : cases) {
    Write(file, twice);
    ExpectRefused({"run", "--scenario", file}, file, key + ": given twice");
  }
  // In a saved run's header (of the version before: today's would fail its checksum first).
  const std::string run = At("twice.segrun");
  Write(run, Inserted(Read(kFixtures + "/v1-grid.segrun"), "\"run\":{", "\"step\":3,"));
  ExpectRefused({"run", "--open-run", run, "--steps", "1"}, run, "run.step: given twice");
}

TEST_F(FileReaders, AnEditedSavedRunIsRefusedAsDamaged) {
  const std::string saved = At("saved.segrun");
  ASSERT_EQ(RunCli(Joined({"run", "--save-run", saved}, kWorld)).status, 0);
  const std::string bytes = Read(saved);
  ASSERT_EQ(bytes.substr(bytes.size() - 16, 7), "\ncrc32 ");
  const size_t header = bytes.find('\n', 12);
  const std::string file = At("edited.segrun");
  // A digit more in the agent count, the cluster threshold, the step, the generator, the radius,
  // the move distance or the threshold: the header reads well, the checksum does not.
  for (const char* key : {"\"agents\":", "\"E_clusterT\":\"", "\"step\":", "\"generator\":",
                          "\"radius\":", "\"move_distance\":", "\"threshold\":"}) {
    Write(file, Inserted(bytes, key, "1"));
    ExpectRefused({"run", "--open-run", file, "--steps", "1"}, file, "damaged");
  }
  std::string payload = bytes;
  payload[header + 40] ^= 0x01;
  Write(file, payload);
  ExpectRefused({"run", "--open-run", file, "--steps", "1"}, file, "damaged");
  Write(file, bytes.substr(0, bytes.size() - 1));
  ExpectRefused({"run", "--open-run", file, "--steps", "1"}, file, "truncated or damaged");
  Write(file, bytes);
  EXPECT_EQ(RunCli({"run", "--open-run", file, "--steps", "1"}).status, 0);
}

TEST_F(FileReaders, RunsSavedByTheVersionBeforeOpenAndGoOnToTheSameBytes) {
  // Written by segwork-cli before the checksum, with what going on from them printed then.
  for (const char* name : {"v1-grid", "v1-grow"}) {
    SCOPED_TRACE(name);
    const std::string old = kFixtures + "/" + name + ".segrun";
    const std::string expected = Read(kFixtures + "/" + name + ".continued.csv");
    const auto rest = RunCli({"run", "--open-run", old, "--steps", "10"});
    ASSERT_EQ(rest.status, 0) << rest.err;
    EXPECT_EQ(rest.out, expected);
    // Saved again, it is a file of today's version and goes on the same.
    const std::string again = At("again.segrun");
    ASSERT_EQ(RunCli({"run", "--open-run", old, "--steps", "0", "--save-run", again}).status, 0);
    const std::string bytes = Read(again);
    EXPECT_NE(bytes.find("{\"format\":\"segwork run\",\"version\":2,"), std::string::npos);
    EXPECT_EQ(bytes.substr(bytes.size() - 16, 7), "\ncrc32 ");
    EXPECT_EQ(RunCli({"run", "--open-run", again, "--steps", "10"}).out, expected);
  }
}

TEST_F(FileReaders, AScenarioWrittenByTheVersionBeforeRunsAndWritesBackTheSame) {
  // Written by segwork-cli before its controls came from the parameter table: streets laid out
  // and drawn, growth, weights, another empty-cell rule.
  const std::string old = kFixtures + "/v1-scenario.json";
  const auto rows = RunCli({"run", "--scenario", old, "--steps", "30"});
  ASSERT_EQ(rows.status, 0) << rows.err;
  EXPECT_EQ(rows.out, Read(kFixtures + "/v1-scenario.rows.csv"));
  const std::string again = At("again.json");
  ASSERT_EQ(RunCli({"run", "--scenario", old, "--save-scenario", again}).status, 0);
  EXPECT_EQ(Read(again), Read(old));
}

TEST_F(FileReaders, OnlyRegularFilesOfBoundedSizeAreRead) {
  alarm(60);  // a FIFO read would wait for ever: fail loudly instead
  const std::string fifo = At("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& file : {fifo, std::string("/dev/zero")}) {
    ExpectRefused({"run", "--scenario", file}, file, "not a regular file");
    ExpectRefused({"sweep", "--scenario", file}, file, "not a regular file");
    ExpectRefused({"run", "--open-run", file, "--steps", "1"}, file, "not a regular file");
  }
  ExpectRefused({"run", "--open-run", dir_.string(), "--steps", "1"}, dir_.string(), "folder");
  // Sparse files: their size is read, not their bytes.
  const std::string big = At("big.json");
  Write(big, "");
  fs::resize_file(big, kScenarioByteLimit + 1);
  ExpectRefused({"run", "--scenario", big}, big, "MiB, more than a scenario may hold");
  const std::string huge = At("huge.segrun");
  Write(huge, "");
  fs::resize_file(huge, (uint64_t(20) << 30) + 1);  // past the memory limit
  ExpectRefused({"run", "--open-run", huge, "--steps", "1"}, huge, "MiB, more than a saved run");
  alarm(0);
}

// A growth sweep of six runs of five rows, by its words: to standard output, or to a file.
Args GrowthSweep(const Args& more = {}) {
  return Joined({"sweep",    "growth", "--seed",   "11", "--steps",  "5", "--cell-size",     "20",
                 "--agents", "300",    "--groups", "3",  "--radius", "2", "--move-distance", "5",
                 "--from",   "10",     "--to",     "30", "--runs",   "2", "--jobs",          "1",
                 "--quiet"},
                more);
}
Args GrowthSweep(const std::string& output, const Args& more = {}) {
  return GrowthSweep(Joined({"--output", output}, more));
}

TEST_F(FileReaders, AResumeRefusesRowsThatDoNotMatchTheirCheck) {
  const std::string file = At("rows.csv"), record = file + ".sweep";
  ASSERT_EQ(RunCli(GrowthSweep(file)).status, 0);
  const std::string whole = Read(file), kept = Read(record);
  ASSERT_NE(kept.find("\nrows-check=fnv1a-64\ncheck.0="), std::string::npos) << kept;
  const Args resume = GrowthSweep(file, {"--resume"});
  // Lines 12 to 16 hold run 2; line 13 its step 2. A value changed (in a whole file and in one
  // cut in run 3), a column added.
  auto lineStart = [&](int line) {
    size_t at = 0;
    for (int n = 1; n < line; ++n) at = whole.find('\n', at) + 1;
    return at;
  };
  const size_t end13 = lineStart(14) - 1;
  std::string value = whole;
  value[end13 - 1] ^= 1;  // the last digit of its density
  std::string column = whole;
  column.insert(end13, ",1");
  for (const std::string& changed : {value, value.substr(0, lineStart(18) + 10), column}) {
    Write(file, changed);
    const auto r = RunCli(resume);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(file + ": lines 12 to 16 (run 2): not the rows this sweep wrote"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Read(file), changed);
    EXPECT_EQ(Read(record), kept);
  }
  // A record written before the checks were kept (none in it) still resumes, and keeps them
  // from then on.
  const std::string old = kept.substr(0, kept.find("rows-check="));
  for (const size_t cut : {size_t(0), whole.size() / 2, whole.size()}) {
    Write(file, whole.substr(0, cut));
    Write(record, old);
    const auto r = RunCli(resume);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read(file), whole) << cut;
    EXPECT_EQ(Read(record), kept) << cut;
  }
}

// ----- targets -----

using FileTargets = Files;

TEST_F(FileTargets, ATargetThatIsNotARegularFileIsRefusedAndNeverReplaced) {
  std::vector<std::string> nodes = {At("fifo"), At("folder"), At("socket")};
  ASSERT_EQ(mkfifo(nodes[0].c_str(), 0644), 0);
  fs::create_directory(nodes[1]);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", nodes[2].c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // A copy of /dev/full, as root only.
  if (mknod(At("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) nodes.push_back(At("full"));
  for (const std::string& node : nodes) {
    SCOPED_TRACE(node);
    struct stat before {};
    ASSERT_EQ(lstat(node.c_str(), &before), 0);
    for (const Args& target : {Args{"--picture", node}, Args{"--save-run", node},
                               Args{"--save-scenario", node}, Args{"--movie", node}}) {
      const auto r = RunCli(Joined(Joined({"run"}, kWorld), target));
      EXPECT_EQ(r.status, 1) << target[0];
      EXPECT_EQ(r.out, "") << target[0];
      EXPECT_NE(r.err.find(node + ": "), std::string::npos) << r.err;
      EXPECT_TRUE(r.err.find("not a regular file") != std::string::npos ||
                  r.err.find("not a folder") != std::string::npos)
          << r.err;
    }
    for (const Args& more : {Args{}, Args{"--resume"}}) {
      const auto r = RunCli(GrowthSweep(node, more));
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    }
    struct stat after {};
    ASSERT_EQ(lstat(node.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    EXPECT_EQ(after.st_ino, before.st_ino);
  }
  close(sock);
  // Nothing was left beside them.
  std::vector<std::string> names;
  for (const std::string& node : nodes) names.push_back(fs::path(node).filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(Names(dir_), names);
  // Standard output stays as it was: a device there is written to as before.
  for (const Args& command : {Joined({"run"}, kWorld), GrowthSweep()}) {
    const pid_t pid = Spawn(command, "/dev/null", At("stderr"));
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Read(At("stderr"));
  }
}

// ----- the output race -----

using FileOutputRace = Files;

TEST_F(FileOutputRace, ASecondSweepOnOneFileIsRefusedAndLeavesItAsItWas) {
  // About a second of literal-engine runs: the second process comes while the first writes.
  auto slow = [](const Args& words) {
    return With(With(words, "--steps", "10000"), "--engine", "literal");
  };
  const std::string file = At("rows.csv");
  const Args sweep = slow(GrowthSweep(file));
  const auto uninterrupted = RunCli(slow(GrowthSweep()));
  ASSERT_EQ(uninterrupted.status, 0);
  for (const Args& second : {sweep, Joined(sweep, {"--resume"})}) {
    fs::remove(file);
    fs::remove(file + ".sweep");
    const pid_t first = Spawn(sweep, At("stdout"), At("stderr"));
    // Until its first run is in FILE, long after FILE was locked.
    std::error_code missing;
    while ((!fs::exists(file) || fs::file_size(file, missing) == 0) && Running(first)) {
      usleep(1000);
    }
    const auto refused = RunCli(second);
    const std::string during = Read(file);
    int status = 0;
    waitpid(first, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Read(At("stderr"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(file + " is being written by another segwork-cli"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(uninterrupted.out.compare(0, during.size(), during), 0) << "not a prefix";
    EXPECT_EQ(Read(file), uninterrupted.out);
  }
  // Started at the same moment on a missing FILE: whoever comes second is refused or (with
  // --resume, after the first) finds the sweep done; FILE is the sweep's either way.
  const std::string fast = At("fast.csv");
  const std::string whole = RunCli(GrowthSweep()).out;
  for (const Args& more : {Args{}, Args{"--resume"}}) {
    for (int round = 0; round < 3; ++round) {
      fs::remove(fast);
      fs::remove(fast + ".sweep");
      std::vector<pid_t> pids;
      for (int i = 0; i < 3; ++i) {
        pids.push_back(Spawn(GrowthSweep(fast, more), At("out" + std::to_string(i)),
                             At("err" + std::to_string(i))));
      }
      int done = 0;
      for (size_t i = 0; i < pids.size(); ++i) {
        int status = 0;
        waitpid(pids[i], &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        const std::string err = Read(At("err" + std::to_string(i)));
        if (WEXITSTATUS(status) == 0) {
          ++done;
        } else {
          EXPECT_TRUE(err.find("is being written by another") != std::string::npos ||
                      (more.empty() && err.find("exists: give --resume") != std::string::npos))
              << err;
        }
      }
      EXPECT_GE(done, 1);
      EXPECT_EQ(Read(fast), whole);
    }
  }
}

// ----- signals -----

using FileSignals = Files;

TEST_F(FileSignals, ASaveCutByASignalLeavesTheOldFileAndNoTemporaryOne) {
  const std::string file = At("run.segrun");
  Write(file, "the old file");
  // About four million cells: the save takes a good part of a second.
  const pid_t pid = Spawn({"run", "--seed", "1", "--panel", "2000", "--cell-size", "1", "--agents",
                           "100", "--steps", "0", "--save-run", file},
                          At("stdout"), At("stderr"));
  auto saving = [&] {
    for (const std::string& name : Names(dir_)) {
      if (name.rfind(".run.segrun.", 0) == 0) return true;
    }
    return false;
  };
  while (!saving() && Running(pid)) usleep(500);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the save ended before the signal came";
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"run.segrun", "stderr", "stdout"}));
  EXPECT_EQ(Read(file), "the old file");
}

TEST_F(FileSignals, AMovieCutByASignalLeavesNoFilesAndNoFfmpeg) {
  if (std::system("command -v ffmpeg >/dev/null") != 0) GTEST_SKIP() << "no ffmpeg";
  const fs::path tmp = dir_ / "tmp", movies = dir_ / "movies";
  fs::create_directories(tmp);
  fs::create_directories(movies);
  const std::string env = "TMPDIR=" + tmp.string();
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    const pid_t pid = Spawn(
        With(Joined({"run", "--movie", (movies / "m.mp4").string()}, kWorld), "--steps", "1000000"),
        At("stdout"), At("stderr"), env);
    // Until ffmpeg runs and has the start of the movie.
    pid_t ffmpeg = 0;
    const std::string children =
        "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
    auto movieBytes = [&] {
      for (const auto& entry : fs::directory_iterator(movies)) return fs::file_size(entry.path());
      return uintmax_t(0);
    };
    while (Running(pid) && (ffmpeg == 0 || movieBytes() == 0)) {
      std::ifstream(children) >> ffmpeg;
      usleep(1000);
    }
    ASSERT_GT(ffmpeg, 0);
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << Read(At("stderr"));
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(Names(movies), std::vector<std::string>{});
    EXPECT_EQ(Names(tmp), std::vector<std::string>{});
    EXPECT_EQ(kill(ffmpeg, 0), -1) << "ffmpeg goes on";
    EXPECT_EQ(errno, ESRCH);
  }
}

}  // namespace
}  // namespace segwork
