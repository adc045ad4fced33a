#pragma once

// What many test files need and used to build each by hand: the number format, error capture,
// temporary folders and file reading, the small world (as options and as a model), placing
// agents by hand, and `segwork-cli` run in this process with its output kept.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "core/errors.h"
#include "core/parameters.h"
#include "window/CellForm.h"

namespace segwork::testing {

// ----- the number format -----

// A real as the CLI writes it: "%.17g", 17 significant digits where the number needs them.
inline std::string Real(double v) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

// ----- error capture -----

// The message of the SegworkError the action throws, or "(no error)".
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const SegworkError& e) {
    return e.what();
  }
  return "(no error)";
}

// ----- files -----

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A fresh folder of this test's own under the temporary directory, removed with what it holds
// when the object goes.
class TempDir {
 public:
  TempDir() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    static std::atomic<int> made{0};
    path_ = std::filesystem::temp_directory_path() /
            ("segwork-" + std::to_string(::getpid()) + "-" +
             (test ? std::string(test->test_suite_name()) + "." + test->name() : "test") + "-" +
             std::to_string(made++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The path of `name` in the folder, as a string for command lines.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// ----- the small world -----

// 35 x 35 cells (cell size 20 on the 694-pixel panel), three groups, radius 2, move distance 5:
// a step takes about a millisecond. The options of `segwork-cli run` ...
inline std::vector<std::string> SmallWorld(const std::string& agents = "700") {
  return {"--cell-size", "20", "--agents",        agents, "--groups", "3",
          "--radius",    "2",  "--move-distance", "5"};
}

// ... and the same world typed into the main window's controls, every setup seeded with `seed`.
inline std::unique_ptr<Model> SmallWorldModel(uint32_t seed, const std::string& agents = "700") {
  auto m = std::make_unique<Model>();
  m->Sim.ClockSeed = [seed] { return seed; };
  ControlValues& c = m->Controls;
  c.Text(Field::Edit_cellSiz) = "20";
  c.Text(Field::Edit_anzAg) = agents;
  c.Text(Field::Edit_anzGr) = "3";
  c.Text(Field::Edit_nRad) = "2";
  c.Text(Field::Edit_mDist) = "5";
  return m;
}

// An agent of `group` placed by hand on the empty cell (x, y), as a setup would place it; the
// engine forgets what it knew of the cells.
inline void PlaceAgent(Model& m, int32_t x, int32_t y, int32_t group) {
  m.Sim.Agents.push_back({.CellX = x,
                          .CellY = y,
                          .Group = group,
                          .Color = m.Sim.GroupColours[size_t(group - 1)],
                          .PosX = x * m.Sim.CellSize + m.Sim.HalfCell,
                          .PosY = y * m.Sim.CellSize + m.Sim.HalfCell,
                          .Radius = m.Sim.AgentRadius});
  TCell cell = m.Sim.CellAt(x, y);
  cell.Occupied = true;
  cell.State = group;
  ++m.Sim.GroupSizes[size_t(group - 1)];
  m.Sim.CellsEdited();
}

// ----- segwork-cli in this process -----

// What a command printed and returned.
struct Result {
  int status = 0;
  std::string out;   // the rows (standard output)
  std::string err;   // messages, warnings, progress
  std::string info;  // help and version text
};

// The most a command run by these helpers may write and take: past either it fails at once
// (its next write is refused, or the test program ends naming it) instead of filling the disk or
// running for hours when a fault lets a huge value through.
inline constexpr size_t kOutputCap = size_t{16} << 20;
inline constexpr std::chrono::seconds kTimeCap{120};

namespace detail {

struct Sink {
  std::string text;
  size_t cap = kOutputCap;
};

inline ssize_t WriteToSink(void* cookie, const char* data, size_t size) {
  Sink& sink = *static_cast<Sink*>(cookie);
  if (sink.text.size() + size > sink.cap) {
    errno = EFBIG;
    return -1;
  }
  sink.text.append(data, size);
  return ssize_t(size);
}

// Ends the test program, naming `what`, when `cap` passes before it is destroyed.
class Watchdog {
 public:
  Watchdog(std::string what, std::chrono::seconds cap)
      : what_(std::move(what)), cap_(cap), thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    woken_.notify_one();
    thread_.join();
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!woken_.wait_for(lock, cap_, [this] { return done_; })) {
      std::fprintf(stderr, "%s ran past its cap of %lld s\n", what_.c_str(),
                   (long long)cap_.count());
      std::_Exit(1);
    }
  }
  std::string what_;
  std::chrono::seconds cap_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool done_ = false;
  std::thread thread_;  // last: started once the rest is there
};

}  // namespace detail

// The caps of one command.
struct Caps {
  size_t output = kOutputCap;
  std::chrono::seconds time = kTimeCap;
};

// Runs a command that writes rows to a FILE and messages to a stream, and keeps both; the
// FILE refuses writes past the output cap.
inline Result Capture(const std::function<int(std::FILE*, std::ostream&)>& command,
                      const Caps& caps = {}, const std::string& what = "a command") {
  detail::Sink sink;
  sink.cap = caps.output;
  std::FILE* file = fopencookie(&sink, "w", {nullptr, detail::WriteToSink, nullptr, nullptr});
  std::ostringstream err;
  Result r;
  {
    const detail::Watchdog watchdog(what, caps.time);
    r.status = command(file, err);
  }
  std::fclose(file);
  r.out = sink.text;
  r.err = err.str();
  return r;
}

// `segwork-cli ARGS`, run in this process.
inline Result RunCli(const std::vector<std::string>& args, const Caps& caps = {}) {
  std::vector<const char*> argv = {"segwork-cli"};
  std::string line = "segwork-cli";
  for (const std::string& a : args) {
    argv.push_back(a.c_str());
    line += " '" + a + "'";
  }
  std::ostringstream info;
  Result r = Capture(
      [&](std::FILE* out, std::ostream& err) {
        return cli::RunCommandLine(int(argv.size()), argv.data(), out, info, err);
      },
      caps, line);
  r.info = info.str();
  return r;
}

// The arguments followed by more.
inline std::vector<std::string> Plus(std::vector<std::string> args,
                                     const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// `program ARGS` in a process of its own, started as a shell would start it whatever this test
// was started under (a runner under nohup ignores SIGHUP, a background job SIGINT, and exec keeps
// what is ignored), stdout and stderr on files, `env` added to its environment; no file it writes
// grows past `fileCap` bytes (SIGXFSZ ends it there; 0: no cap).
inline pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& out, const std::filesystem::path& err,
                          const std::string& env = {}, rlim_t fileCap = 0) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) std::signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (fileCap > 0) {
      const rlimit size{fileCap, fileCap};
      setrlimit(RLIMIT_FSIZE, &size);
    }
    if (!env.empty()) putenv(const_cast<char*>(env.c_str()));
    if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr)) {
      _exit(127);
    }
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// ----- the parameter table -----

// A value each kind of control holds that is not its default.
inline std::string OtherValue(const Parameter& p) {
  switch (p.kind) {
    case ParameterKind::Position:
      return std::to_string(p.Default() == std::to_string(p.low) ? p.high : p.low);
    case ParameterKind::Choice:
      return p.words[1];
    case ParameterKind::Flag:
    case ParameterKind::YesNo:
      return p.Default() == "yes" ? "no" : "yes";
    default:
      return "3";
  }
}

// Fields of a line or lines of a text; a trailing separator other than a newline ends in an
// empty field.
inline std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator && separator != '\n') parts.push_back("");
  return parts;
}

}  // namespace segwork::testing
