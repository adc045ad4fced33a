// The whole command line, run: any arguments end with status 0, 1 or 2 (a usage error); a
// failure says why on err and prints no rows; a success prints complete output. The sizes are
// held to a tiny world so that one execution takes milliseconds.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "core/convert.h"
#include "core/errors.h"
#include "fuzz/fuzz_argv.h"

namespace {

using namespace segwork::fuzz;

// An option whose value decides the cost of a run: a valid integer above `most` (or below
// `least`) is replaced by `tame`; any other text stays, so its refusal is still tried.
struct Bound {
  int64_t least, most;
  const char* tame;
};

const std::map<std::string, Bound>& Bounds() {
  static const std::map<std::string, Bound> bounds = {
      {"--panel", {INT32_MIN, 60, "60"}},
      {"--cell-size", {3, INT32_MAX, "6"}},
      {"--steps", {INT32_MIN, 3, "2"}},
      {"--agents", {INT32_MIN, 60, "20"}},
      {"--radius", {INT32_MIN, 5, "2"}},
      {"--grow-start", {INT32_MIN, 60, "10"}},
      {"--grow-rate", {INT32_MIN, 20, "5"}},
      {"--rows", {INT32_MIN, 12, "3"}},
      {"--cols", {INT32_MIN, 12, "3"}},
      {"--streets", {INT32_MIN, 12, "5"}},
      {"--from", {-4, 4, "2"}},
      {"--to", {-4, 4, "3"}},
      {"--increment", {-4, 4, "1"}},
      {"--runs", {-3, 2, "1"}},
      {"--jobs", {-3, 2, "1"}},
  };
  return bounds;
}

// The options to give when absent, per command (an option the command lacks would be refused).
const std::vector<std::string>& Defaults(const std::string& command) {
  static const std::map<std::string, std::vector<std::string>> defaults = {
      {"run", {"--panel", "--agents", "--steps"}},
      {"bench", {"--panel", "--agents"}},
      {"parameter", {"--panel", "--agents", "--steps", "--runs", "--jobs"}},
      {"growth", {"--panel", "--agents", "--steps", "--runs", "--jobs", "--from", "--to"}},
      {"streets", {"--panel", "--agents", "--steps", "--runs", "--jobs", "--from", "--to"}},
  };
  static const std::vector<std::string> none;
  const auto it = defaults.find(command);
  return it == defaults.end() ? none : it->second;
}

std::optional<int64_t> IntegerOf(const std::string& text) {
  try {
    return segwork::StrToInt(text);
  } catch (const segwork::SegworkError&) {
    return std::nullopt;
  }
}

std::string Tamed(const Bound& bound, const std::string& value) {
  const std::optional<int64_t> v = IntegerOf(value);
  return v && (*v < bound.least || *v > bound.most) ? bound.tame : value;
}

// Holds every cost option within its bound, in "--name value" and "--name=value" form, and
// gives the absent ones after each command word.
std::vector<std::string> Tame(std::vector<std::string> args) {
  std::vector<bool> present(args.size(), false);
  std::map<std::string, bool> given;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const size_t eq = a.find('=');
    const std::string name = a.substr(0, eq);
    const auto it = Bounds().find(name);
    if (it == Bounds().end()) continue;
    given[name] = true;
    if (eq != std::string::npos) {
      args[i] = name + "=" + Tamed(it->second, a.substr(eq + 1));
    } else if (i + 1 < args.size()) {
      args[i + 1] = Tamed(it->second, args[i + 1]);
    }
  }
  std::vector<std::string> tamed;
  for (const std::string& a : args) {
    tamed.push_back(a);
    for (const std::string& name : Defaults(a)) {
      if (given.count(name)) continue;
      tamed.push_back(name);
      tamed.push_back(Bounds().at(name).tame);
    }
  }
  return tamed;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = Tame(SplitArguments(data, size));
  // Writing scenario, run and sweep files, pictures and movies where the fuzzer says is not this
  // target's business.
  for (const std::string& a : args) {
    for (const char* writer :
         {"--save-scenario", "--save-run", "--picture", "--frames", "--movie", "--output"}) {
      if (a.rfind(writer, 0) == 0) return 0;
    }
  }
  const std::vector<const char*> argv = Argv(args);
  const int argc = int(args.size());

  char* buffer = nullptr;
  size_t length = 0;
  std::FILE* out = open_memstream(&buffer, &length);
  if (!out) std::abort();
  std::ostringstream info, err;
  const int status = segwork::cli::RunCommandLine(argc, argv.data(), out, info, err);
  std::fclose(out);
  const std::string printed(buffer, length);
  std::free(buffer);

  // For reading a corpus: SEGWORK_FUZZ_TRACE=1 tells what each input did.
  static const bool trace = std::getenv("SEGWORK_FUZZ_TRACE") != nullptr;
  if (trace) {
    std::fprintf(stderr, "status %d, %zu bytes out, err: %.80s\n", status, printed.size(),
                 err.str().c_str());
  }

  std::ostringstream checkInfo, checkErr;
  const int parsed = segwork::cli::CheckCommandLine(argc, argv.data(), checkInfo, checkErr);

  if (status != 1 && !IsParseStatus(status)) Fail("status outside 0, 1 and 2", args);
  // A refused parse ends with its status; options that cannot go together are found after it.
  if (parsed != 0 && parsed != status) Fail("run and check disagree on the parse", args);
  if (status != 0) {
    if (err.str().empty()) Fail("failed without a message", args);
    // A sweep prints the rows of the runs that completed before one failed.
    const bool sweep = parsed == 0 && err.str().find("# run ") != std::string::npos;
    if (!printed.empty() && !sweep) Fail("a failure printed rows", args);
    return 0;
  }
  if (!info.str().empty()) {
    if (!printed.empty()) Fail("help or version printed rows", args);
    return 0;
  }
  if (printed.empty()) Fail("a success printed nothing", args);
  if (printed.back() != '\n') Fail("output ends within a line", args);
  const std::vector<std::string> lines = Lines(printed);
  // A run ends with its cluster count and digest, after a header and one row per step.
  if (lines.front().rfind("step,agents,movers", 0) == 0) {
    if (lines.size() < 3 || lines[lines.size() - 2].rfind("clusters,", 0) != 0 ||
        lines.back().rfind("digest,", 0) != 0 || lines.back().size() != 7 + 16) {
      Fail("run output incomplete", args);
    }
    const size_t columns = std::count(lines.front().begin(), lines.front().end(), ',');
    for (size_t i = 1; i + 2 < lines.size(); ++i) {
      if (size_t(std::count(lines[i].begin(), lines[i].end(), ',')) != columns) {
        Fail("row with another field count than the header", args);
      }
    }
  }
  return 0;
}
