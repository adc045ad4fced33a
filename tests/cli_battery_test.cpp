// Bad input on the real command line: every option of every command, given texts that are not
// what it wants, must either fail with a message and print no result at all, or be rewritten by
// the model's own rule with a warning and give the run of the rewritten value.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "tests/support.h"

namespace segwork::cli {
namespace {

using Args = std::vector<std::string>;

enum : unsigned {
  kRun = 1,
  kBench = 2,
  kParameter = 4,
  kGrowth = 8,
  kStreets = 16,
  kSweeps = kParameter | kGrowth | kStreets,
  kAll = kRun | kBench | kSweeps,
};

struct Command {
  unsigned bit;
  const char* name;
  Args words;
  Args base;
};

// A 20 x 20 world with 21 agents: a run, a bench of 500 steps or a one-run sweep takes
// milliseconds.
const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = [] {
    const Args world = {"--seed",          "1",  "--panel",  "120", "--cell-size", "6",
                        "--agents",        "20", "--groups", "2",   "--radius",    "1",
                        "--move-distance", "5"};
    auto with = [&](Args extra) {
      Args args = world;
      args.insert(args.end(), extra.begin(), extra.end());
      return args;
    };
    const Args sweep = {"--steps", "1", "--runs", "1", "--jobs", "1", "--quiet"};
    auto sweepWith = [&](Args range) {
      Args args = with(sweep);
      args.insert(args.end(), range.begin(), range.end());
      return args;
    };
    // The radius sweep refuses --radius, as every sweep refuses the option it sets.
    Args radiusSweep = sweepWith({"--parameter", "radius", "--from", "1", "--to", "1"});
    radiusSweep.erase(std::find(radiusSweep.begin(), radiusSweep.end(), "--radius"),
                      std::find(radiusSweep.begin(), radiusSweep.end(), "--move-distance"));
    return std::vector<Command>{
        {kRun, "run", {"run"}, with({"--steps", "1"})},
        {kBench, "bench", {"bench"}, world},
        {kParameter, "sweep parameter", {"sweep", "parameter"}, radiusSweep},
        {kGrowth, "sweep growth", {"sweep", "growth"}, sweepWith({"--from", "10", "--to", "10"})},
        {kStreets, "sweep streets", {"sweep", "streets"}, sweepWith({"--from", "2", "--to", "2"})},
    };
  }();
  return commands;
}

using Outcome = testing::Result;

// Every command of the battery writes a few kilobytes at most and takes milliseconds. A value a
// fault lets through (a text read as 2^31 steps, a range of 2^31 runs) meets the caps instead:
// writes past 256 KiB are refused, which ends a run or sweep at its next row or run, and a
// command still going after 20 s (a sweep run of 2^31 steps writes nothing until its end) ends
// the test program naming it.
Outcome Cli(const Args& args) {
  return testing::RunCli(args, {.output = 256 << 10, .time = std::chrono::seconds(20)});
}

std::string Joined(const Args& args) {
  std::string text;
  for (const std::string& a : args) text += " '" + a + "'";
  return text;
}

// The command with its base options, the option given the text instead of its base value,
// then the extra arguments; a base option that these name again is left out.
Args Line(const Command& command, const std::string& option, const std::string& text,
          const Args& extra = {}) {
  Args args = command.words;
  const Args& base = command.base;
  for (size_t i = 0; i < base.size(); ++i) {
    const bool named =
        base[i] == option || (base[i].rfind("--", 0) == 0 &&
                              std::find(extra.begin(), extra.end(), base[i]) != extra.end());
    if (named) {
      if (i + 1 < base.size() && base[i + 1].rfind("--", 0) != 0) ++i;
      continue;
    }
    args.push_back(base[i]);
  }
  args.push_back(option);
  args.push_back(text);
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

void ExpectFailure(const Args& args, const std::string& message) {
  const Outcome r = Cli(args);
  EXPECT_NE(r.status, 0) << Joined(args);
  EXPECT_NE(r.err.find(message), std::string::npos)
      << Joined(args) << "\nwanted: " << message << "\ngot: " << r.err;
  EXPECT_EQ(r.out, "") << Joined(args);
  EXPECT_EQ(r.info, "") << Joined(args);
}

enum class Expect { Fails, Warns, Accepts };

struct Case {
  const char* option;
  std::string text;
  Expect expect;
  std::string message = {};              // part of stderr: the failure or the warning
  std::optional<std::string> same = {};  // a text for the option that gives the same result
  unsigned commands = kAll;
  Args extra = {};
};

// Runs one case on one command; the bench's output has timings, so only its status counts.
void Check(const Command& command, const Case& c) {
  const Args args = Line(command, c.option, c.text, c.extra);
  if (c.expect == Expect::Fails) {
    ExpectFailure(args, c.message);
    return;
  }
  const Outcome r = Cli(args);
  ASSERT_EQ(r.status, 0) << Joined(args) << "\n" << r.err;
  EXPECT_NE(r.out, "") << Joined(args);
  if (c.expect == Expect::Warns) {
    EXPECT_NE(r.err.find("warning: " + c.message), std::string::npos)
        << Joined(args) << "\nwanted: " << c.message << "\ngot: " << r.err;
  } else {
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << Joined(args) << "\n" << r.err;
  }
  if (c.same && command.bit != kBench) {
    const Args other = Line(command, c.option, *c.same, c.extra);
    const Outcome o = Cli(other);
    ASSERT_EQ(o.status, 0) << Joined(other) << "\n" << o.err;
    EXPECT_EQ(r.out, o.out) << Joined(args) << "\nversus" << Joined(other);
  }
}

size_t RunCases(const std::vector<Case>& cases) {
  size_t count = 0;
  for (const Case& c : cases) {
    for (const Command& command : Commands()) {
      if (!(c.commands & command.bit)) continue;
      SCOPED_TRACE(std::string(command.name) + " " + c.option + " '" + c.text + "'");
      Check(command, c);
      ++count;
    }
  }
  return count;
}

struct IntegerOption {
  const char* name;
  unsigned commands;
};

const IntegerOption kIntegerOptions[] = {
    {"--steps", kAll & ~kBench},
    {"--agents", kAll},
    {"--cell-size", kAll},
    {"--groups", kAll},
    {"--radius", kAll & ~kParameter},
    {"--move-distance", kAll},
    {"--threshold", kAll & ~kGrowth},
    {"--grow-start", kAll},
    {"--grow-rate", kAll},
    {"--tile-size", kAll},
    {"--cluster-threshold", kAll},
    {"--rows", kAll & ~kStreets},
    {"--cols", kAll & ~kStreets},
    {"--streets", kAll & ~kStreets},
    {"--street-type", kAll},
    {"--panel", kAll},
    {"--from", kSweeps},
    {"--to", kSweeps},
    {"--increment", kSweeps},
    {"--runs", kSweeps},
    {"--poly-degree", kParameter},
    {"--jobs", kSweeps},
};

TEST(CliBattery, TextsThatAreNoIntegerFailEveryIntegerOption) {
  const char* const texts[] = {
      "",   "abc", "--5",  "1.5",  "1,5",        "1e3",        "99999999999999999999999",
      " 5", "5 ",  "0x10", "5abc", "2147483648", "-2147483649"};
  size_t count = 0;
  for (const IntegerOption& option : kIntegerOptions) {
    for (const Command& command : Commands()) {
      if (!(option.commands & command.bit)) continue;
      for (const char* text : texts) {
        SCOPED_TRACE(std::string(command.name) + " " + option.name);
        ExpectFailure(Line(command, option.name, text),
                      "'" + std::string(text) + "' is not a valid integer value");
        ++count;
      }
    }
  }
  RecordProperty("cases", int(count));
}

TEST(CliBattery, OptionsACommandDoesNotHaveFailAsUnexpected) {
  size_t count = 0;
  for (const IntegerOption& option : kIntegerOptions) {
    for (const Command& command : Commands()) {
      if (option.commands & command.bit) continue;
      SCOPED_TRACE(std::string(command.name) + " " + option.name);
      ExpectFailure(Line(command, option.name, "5"), "not expected");
      ++count;
    }
  }
  for (const Command& command : Commands()) {
    if (command.bit & kBench) {
      ExpectFailure(Line(command, "--engine", "fast"), "not expected");
      ++count;
    }
    if (command.bit & (kRun | kBench)) {
      ExpectFailure(Line(command, "--shard", "0/1"), "not expected");
      ExpectFailure(Line(command, "--summary", "1"), "not expected");
      count += 2;
    }
  }
  RecordProperty("cases", int(count));
}

// The edit checks, spinners and track bar of the main window, each at its bound and one past.
TEST(CliBattery, RunOptionsAtAndPastTheirBounds) {
  const std::vector<Case> cases = {
      // The steps: any count for a run, at least one for a sweep.
      {"--steps", "0", Expect::Accepts, "", std::nullopt, kRun},
      {"--steps", "-1", Expect::Fails, "--steps -1 is below 0", std::nullopt, kRun},
      {"--steps", "-5", Expect::Fails, "--steps -5 is below 0", std::nullopt, kRun},
      {"--steps", "+1", Expect::Accepts, "", "1", kRun | kSweeps},
      {"--steps", "0", Expect::Fails, "--steps 0: a run needs at least 1 step", std::nullopt,
       kSweeps},
      {"--steps", "-5", Expect::Fails, "--steps -5: a run needs at least 1 step", std::nullopt,
       kSweeps},
      // 400 cells: an entry above 400 becomes 400 - 20.
      {"--agents", "400", Expect::Accepts, "", std::nullopt, kAll & ~kBench},
      {"--agents", "401", Expect::Warns, "--agents '401' rewritten to '380'", "380"},
      {"--agents", "2147483647", Expect::Warns, "--agents '2147483647' rewritten to '380'", "380"},
      {"--agents", "0", Expect::Accepts, ""},
      {"--agents", "-5", Expect::Accepts, ""},
      {"--agents", "-2147483648", Expect::Accepts, ""},
      {"--agents", "+20", Expect::Accepts, "", "20"},
      {"--agents", "-0", Expect::Accepts, "", "0"},
      // A panel of 120 pixels takes cells of 1 to 6 pixels.
      {"--cell-size", "6", Expect::Accepts, ""},
      {"--cell-size", "7", Expect::Warns, "--cell-size '7' rewritten to '6'", "6"},
      {"--cell-size", "2147483647", Expect::Warns, "--cell-size '2147483647' rewritten to '6'",
       "6"},
      {"--cell-size", "1", Expect::Accepts, ""},
      {"--cell-size", "0", Expect::Warns, "--cell-size '0' rewritten to '1'", "1", kAll & ~kBench},
      {"--cell-size", "-5", Expect::Warns, "--cell-size '-5' rewritten to '1'", "1",
       kAll & ~kBench},
      {"--cell-size", "+6", Expect::Accepts, "", "6"},
      {"--groups", "1", Expect::Accepts, ""},
      {"--groups", "0", Expect::Warns, "--groups '0' rewritten to '1'", "1"},
      {"--groups", "-5", Expect::Warns, "--groups '-5' rewritten to '1'", "1"},
      {"--groups", "+2", Expect::Accepts, "", "2"},
      {"--groups", "2147483647", Expect::Fails, "2147483647 groups would need about"},
      // The sweep over the radius sets --radius itself and refuses it.
      {"--radius", "1", Expect::Accepts, "", std::nullopt, kAll & ~kParameter},
      {"--radius", "0", Expect::Warns, "--radius '0' rewritten to '1'", "1", kAll & ~kParameter},
      {"--radius", "-5", Expect::Warns, "--radius '-5' rewritten to '1'", "1", kAll & ~kParameter},
      {"--radius", "2147483647", Expect::Accepts, "", std::nullopt, kAll & ~kParameter},
      {"--radius", "1", Expect::Fails, "--radius is not expected", std::nullopt, kParameter},
      // 20 rows: a move distance above 10 becomes 9.
      {"--move-distance", "10", Expect::Accepts, ""},
      {"--move-distance", "11", Expect::Warns, "--move-distance '11' rewritten to '9'", "9"},
      {"--move-distance", "2147483647", Expect::Warns,
       "--move-distance '2147483647' rewritten to '9'", "9"},
      {"--move-distance", "1", Expect::Accepts, ""},
      {"--move-distance", "0", Expect::Warns, "--move-distance '0' rewritten to '1'", "1"},
      {"--move-distance", "-5", Expect::Warns, "--move-distance '-5' rewritten to '1'", "1"},
      // The track bar: 0..100.
      {"--threshold", "0", Expect::Accepts, "", std::nullopt, kAll & ~kGrowth},
      {"--threshold", "100", Expect::Accepts, "", std::nullopt, kAll & ~kGrowth},
      {"--threshold", "101", Expect::Warns, "--threshold 101 is outside 0..100; using 100", "100",
       kAll & ~kGrowth},
      {"--threshold", "-1", Expect::Warns, "--threshold -1 is outside 0..100; using 0", "0",
       kAll & ~kGrowth},
      {"--threshold", "2147483647", Expect::Warns,
       "--threshold 2147483647 is outside 0..100; using 100", "100", kAll & ~kGrowth},
      {"--threshold", "-2147483648", Expect::Warns,
       "--threshold -2147483648 is outside 0..100; using 0", "0", kAll & ~kGrowth},
      // The growth fields have the check of the agent count.
      {"--grow-start", "400", Expect::Accepts, ""},
      {"--grow-start", "401", Expect::Warns, "--grow-start '401' rewritten to '380'", "380"},
      {"--grow-start", "-5", Expect::Accepts, ""},
      {"--grow-start",
       "401",
       Expect::Warns,
       "--grow-start '401' rewritten to '380'",
       "380",
       kAll,
       {"--grow"}},
      {"--grow-rate", "401", Expect::Warns, "--grow-rate '401' rewritten to '380'", "380"},
      {"--grow-rate", "-5", Expect::Accepts, ""},
      {"--grow-rate",
       "2147483647",
       Expect::Warns,
       "--grow-rate '2147483647' rewritten to '380'",
       "380",
       kAll,
       {"--grow"}},
      {"--tile-size", "1", Expect::Accepts, ""},
      {"--tile-size", "0", Expect::Fails, "'0' is not a valid grid size: it must be at least 1"},
      {"--tile-size", "-5", Expect::Fails, "'-5' is not a valid grid size: it must be at least 1"},
      {"--tile-size", "2147483647", Expect::Accepts, ""},
      {"--cluster-threshold", "0", Expect::Accepts, ""},
      {"--cluster-threshold", "-5", Expect::Accepts, ""},
      {"--cluster-threshold", "2147483647", Expect::Accepts, ""},
      // The layout spinners: 1..10000, the street type -3..3.
      {"--rows", "1", Expect::Accepts, "", std::nullopt, kAll & ~kStreets},
      {"--rows", "10000", Expect::Accepts, "", std::nullopt, kAll & ~kStreets},
      {"--rows", "0", Expect::Warns, "--rows 0 is outside 1..10000; using 1", "1",
       kAll & ~kStreets},
      {"--rows", "10001", Expect::Warns, "--rows 10001 is outside 1..10000; using 10000", "10000",
       kAll & ~kStreets},
      {"--rows",
       "-5",
       Expect::Warns,
       "--rows -5 is outside 1..10000; using 1",
       "1",
       kAll & ~kStreets,
       {"--layout", "grid"}},
      {"--cols", "0", Expect::Warns, "--cols 0 is outside 1..10000; using 1", "1",
       kAll & ~kStreets},
      {"--cols",
       "2147483647",
       Expect::Warns,
       "--cols 2147483647 is outside 1..10000; using 10000",
       "10000",
       kAll & ~kStreets,
       {"--layout", "grid"}},
      {"--streets", "0", Expect::Warns, "--streets 0 is outside 1..10000; using 1", "1",
       kAll & ~kStreets},
      {"--streets", "10001", Expect::Warns, "--streets 10001 is outside 1..10000; using 10000",
       "10000", kAll & ~kStreets},
      {"--streets",
       "-5",
       Expect::Warns,
       "--streets -5 is outside 1..10000; using 1",
       "1",
       kAll & ~kStreets,
       {"--layout", "random"}},
      {"--street-type", "3", Expect::Accepts, ""},
      {"--street-type", "-3", Expect::Accepts, ""},
      {"--street-type", "4", Expect::Warns, "--street-type 4 is outside -3..3; using 3", "3"},
      {"--street-type", "-4", Expect::Warns, "--street-type -4 is outside -3..3; using -3", "-3"},
      {"--street-type", "2147483647", Expect::Warns,
       "--street-type 2147483647 is outside -3..3; using 3", "3"},
      // 0 stops a layout, as the button would; without a layout nothing reads it.
      {"--street-type", "0", Expect::Accepts, "", std::nullopt, kAll & ~kStreets},
      {"--street-type",
       "0",
       Expect::Fails,
       "0 is not a valid street type",
       std::nullopt,
       kAll & ~kStreets,
       {"--layout", "grid"}},
      {"--street-type",
       "0",
       Expect::Fails,
       "0 is not a valid street type",
       std::nullopt,
       kAll & ~kStreets,
       {"--layout", "random", "--random-types", "yes"}},
      {"--street-type", "0", Expect::Fails, "0 is not a valid street type", std::nullopt, kStreets},
      // The panel.
      {"--panel", "0", Expect::Fails, "--panel 0 is below 1"},
      {"--panel", "-5", Expect::Fails, "--panel -5 is below 1"},
      {"--panel", "1", Expect::Warns, "--cell-size '6' rewritten to '1'"},
      {"--panel", "+120", Expect::Accepts, "", "120"},
      // Refused by the memory estimate before anything is allocated.
      {"--panel", "1000000", Expect::Fails, "would need about"},
  };
  RecordProperty("cases", int(RunCases(cases)));
}

TEST(CliBattery, SeedTexts) {
  const char* const refused[] = {"-1",  "4294967296", "",    "abc",
                                 "+1",  " 1",         "1 ",  "1.5",
                                 "1e3", "--5",        "0x1", "99999999999999999999999"};
  std::vector<Case> cases;
  for (const char* text : refused) {
    cases.push_back(
        {"--seed", text, Expect::Fails,
         "'" + std::string(text) + "' is not a valid seed: give an integer 0..4294967295"});
  }
  cases.push_back({"--seed", "0", Expect::Accepts, ""});
  cases.push_back({"--seed", "4294967295", Expect::Accepts, ""});
  // Leading zeros, as in the integer fields.
  cases.push_back({"--seed", "0001", Expect::Accepts, "", "1"});
  cases.push_back({"--seed", "00000000004294967295", Expect::Accepts, "", "4294967295"});
  cases.push_back({"--seed", "000000000000", Expect::Accepts, "", "0"});
  cases.push_back({"--seed", "04294967296", Expect::Fails, "'04294967296' is not a valid seed"});
  RecordProperty("cases", int(RunCases(cases)));
}

TEST(CliBattery, WeightLists) {
  const std::string table = "0;0,33;0,67;1;2;4;8";
  const Args grid = {"--layout", "grid", "--random-types", "no"};
  std::vector<Case> cases = {
      {"--weights", "1;2;3", Expect::Fails, "--weights needs seven texts separated by ';', got 3"},
      {"--weights", table + ";9", Expect::Fails,
       "--weights needs seven texts separated by ';', got 8"},
      {"--weights", table + ";", Expect::Fails,
       "--weights needs seven texts separated by ';', got 8"},
      {"--weights", "", Expect::Fails, "--weights needs seven texts separated by ';', got 1"},
      {"--weights", "abc", Expect::Fails, "--weights needs seven texts separated by ';', got 1"},
      {"--weights", "0,0,0,1,2,4,8", Expect::Fails,
       "--weights needs seven texts separated by ';', got 1"},
      {"--weights", ";;;;;;", Expect::Fails, "'' is not a valid floating point value"},
      {"--weights", "0;;0,67;1;2;4;8", Expect::Fails, "'' is not a valid floating point value"},
      {"--weights", "0;0,33;0,67;1;2;4; ", Expect::Fails,
       "' ' is not a valid floating point value"},
      // Read at once, also for the street types the run has none of.
      {"--weights", "abc;0,33;0,67;1;2;4;8", Expect::Fails,
       "'abc' is not a valid floating point value"},
      {"--weights", "0;0,33;0,67;1;2;4;1,5,5", Expect::Fails,
       "'1,5,5' is not a valid floating point value"},
      {"--weights", "0;0,33;0,67;1;2;4;0x10", Expect::Fails,
       "'0x10' is not a valid floating point value"},
      {"--weights", "0;0,33;0,67;1;2;4;1e", Expect::Fails,
       "'1e' is not a valid floating point value"},
  };
  for (const char* text : {"nan", "inf", "-inf", "infinity", "1e400", "-1e400"}) {
    cases.push_back({"--weights", "0;0,33;0,67;1;2;4;" + std::string(text), Expect::Fails,
                     "'" + std::string(text) + "' is not a valid floating point value"});
  }
  // Either decimal point, blanks around, exponents, signs: the model's rule.
  const unsigned laid = kAll & ~kStreets;  // the streets sweep lays out its own grid
  for (const char* text : {"0;0.33;0.67;1;2;4;8", " 0 ;0,33;0,67; 1;2;4;8 ", "0;0,33;0,67;1;2;4;+8",
                           "0;0,33;0,67;1;2;4;8e0", "0;0,33;0,67;1;2;4;0,8E1"}) {
    cases.push_back({"--weights", text, Expect::Accepts, "", table, laid, grid});
    cases.push_back({"--weights", text, Expect::Accepts, "", table, kStreets});
  }
  // Weights whose sums could overflow are refused; the largest allowed either way runs.
  cases.push_back(
      {"--weights", "0;0,33;0,67;1;2;4;1e100", Expect::Accepts, "", std::nullopt, laid, grid});
  cases.push_back(
      {"--weights", "-1e100;0,33;0,67;1;2;4;8", Expect::Accepts, "", std::nullopt, laid, grid});
  for (const char* text : {"1e308", "1,1e100", "-1e101"}) {
    cases.push_back(
        {"--weights", "0;0,33;0,67;1;2;4;" + std::string(text), Expect::Fails,
         "'" + std::string(text) + "' is too large a weight: at most 1e100 either way"});
  }
  cases.push_back(
      {"--weights", "-1;0,33;0,67;1;2;4;8", Expect::Accepts, "", std::nullopt, laid, grid});
  RecordProperty("cases", int(RunCases(cases)));
}

TEST(CliBattery, ChoicesAndFlags) {
  const std::vector<Case> cases = {
      {"--empty-cells", "abc", Expect::Fails, "--empty-cells: abc not in {no,different,similar}"},
      {"--empty-cells", "", Expect::Fails, "--empty-cells:  not in {no,different,similar}"},
      {"--empty-cells", "NO", Expect::Fails, "--empty-cells: NO not in {no,different,similar}"},
      {"--empty-cells", "different", Expect::Accepts, ""},
      {"--layout", "abc", Expect::Fails, "--layout: abc not in {grid,random}"},
      {"--layout", " grid", Expect::Fails, "--layout:  grid not in {grid,random}"},
      {"--layout", "random", Expect::Accepts, ""},
      {"--random-types", "1", Expect::Fails, "--random-types: 1 not in {yes,no}"},
      {"--random-types", "no", Expect::Accepts, ""},
      {"--engine", "Fast", Expect::Fails, "--engine: Fast not in {fast,literal}", std::nullopt,
       kAll & ~kBench},
      {"--engine", "", Expect::Fails, "--engine:  not in {fast,literal}", std::nullopt,
       kAll & ~kBench},
      // Both engines give the same trajectory.
      {"--engine", "literal", Expect::Accepts, "", "fast", kAll & ~kBench},
      {"--parameter", "abc", Expect::Fails,
       "--parameter: abc not in {groups,radius,move-distance,threshold}", std::nullopt, kParameter},
      {"--parameter", "", Expect::Fails, "--parameter:  not in", std::nullopt, kParameter},
      {"--parameter", "threshold", Expect::Accepts, "", std::nullopt, kParameter},
  };
  size_t count = RunCases(cases);

  // Flags take CLI11's true/false words and nothing else.
  for (const Command& command : Commands()) {
    const Args base = Line(command, "--cluster-threshold", "1");
    auto plus = [&](Args more) {
      Args args = base;
      args.insert(args.end(), more.begin(), more.end());
      return args;
    };
    for (const char* text : {"abc", "5x", " 1", "1 ", "--1", "1.5", "yess"}) {
      ExpectFailure(plus({std::string("--grow=") + text}),
                    "--grow: '" + std::string(text) + "' is not a flag value: give true or false");
      ++count;
    }
    ExpectFailure(plus({"--street-occupation=5x"}), "'5x' is not a flag value");
    ++count;
    if (command.bit == kBench) continue;
    const Outcome plain = Cli(base), grow = Cli(plus({"--grow"}));
    ASSERT_EQ(grow.status, 0) << grow.err;
    EXPECT_NE(plain.out, grow.out);
    EXPECT_EQ(Cli(plus({"--grow", "--grow"})).out, grow.out);
    for (const char* yes : {"--grow=true", "--grow=YES", "--grow=on", "--grow=1", "--grow=+2",
                            "--grow=99999999999999999999"}) {
      EXPECT_EQ(Cli(plus({yes})).out, grow.out) << yes;
      ++count;
    }
    for (const char* no : {"--grow=false", "--grow=no", "--grow=off", "--grow=0", "--grow=-1"}) {
      EXPECT_EQ(Cli(plus({no})).out, plain.out) << no;
      ++count;
    }
    count += 1;
    if (command.bit & kSweeps) {
      ExpectFailure(plus({"--summary=abc"}), "--summary: 'abc' is not a flag value");
      EXPECT_EQ(Cli(plus({"--quiet", "--quiet"})).out, plain.out);
      count += 2;
    }
  }
  RecordProperty("cases", int(count));
}

TEST(CliBattery, SweepOptionsAtAndPastTheirBounds) {
  const std::vector<Case> cases = {
      // From above to: the first value still runs, alone.
      {"--to", "-2147483648", Expect::Accepts, "", "0", kParameter},
      {"--from", "2147483647", Expect::Accepts, "", std::nullopt, kParameter},
      {"--from", "0", Expect::Warns, "--radius '0' rewritten to '1'", std::nullopt, kParameter},
      {"--from", "-1", Expect::Warns, "--threshold -1 is outside 0..100; using 0", std::nullopt,
       kGrowth},
      {"--to", "0", Expect::Accepts, "", "2", kStreets},
      {"--from", "0", Expect::Warns, "--rows 0 is outside 1..10000; using 1", std::nullopt,
       kStreets},
      {"--increment", "0", Expect::Fails, "the increment must be at least 1 for a sweep to end",
       std::nullopt, kSweeps},
      {"--increment", "-5", Expect::Fails, "the increment must be at least 1 for a sweep to end",
       std::nullopt, kSweeps},
      {"--increment", "2147483647", Expect::Accepts, "", "1", kSweeps},
      // Fewer than one calculation per value is one, as in the windows.
      {"--runs", "0", Expect::Accepts, "", "1", kSweeps},
      {"--runs", "-5", Expect::Accepts, "", "1", kSweeps},
      {"--runs", "-2147483648", Expect::Accepts, "", "1", kSweeps},
      {"--runs", "+1", Expect::Accepts, "", "1", kSweeps},
      {"--runs",
       "-5",
       Expect::Fails,
       "Function Period should be >= 0",
       std::nullopt,
       kParameter,
       {"--summary"}},
      {"--poly-degree", "2", Expect::Accepts, "", std::nullopt, kParameter},
      {"--poly-degree", "20", Expect::Accepts, "", std::nullopt, kParameter},
      {"--poly-degree", "1", Expect::Warns, "--poly-degree 1 is outside 2..20; using 2", "2",
       kParameter},
      {"--poly-degree", "21", Expect::Warns, "--poly-degree 21 is outside 2..20; using 20", "20",
       kParameter},
      {"--poly-degree",
       "-5",
       Expect::Warns,
       "--poly-degree -5 is outside 2..20; using 2",
       "2",
       kParameter,
       {"--summary"}},
      {"--jobs", "0", Expect::Fails, "--jobs 0 is below 1", std::nullopt, kSweeps},
      {"--jobs", "-1", Expect::Fails, "--jobs -1 is below 1", std::nullopt, kSweeps},
      {"--jobs", "-2147483648", Expect::Fails, "--jobs -2147483648 is below 1", std::nullopt,
       kSweeps},
      {"--jobs", "2147483647", Expect::Accepts, "", "1", kSweeps},
      {"--jobs", "+1", Expect::Accepts, "", "1", kSweeps},
      // A shard is block i of n, 0 <= i < n.
      {"--shard", "0/0", Expect::Fails, "--shard 0/0 needs 0 <= i < n", std::nullopt, kSweeps},
      {"--shard", "2/2", Expect::Fails, "--shard 2/2 needs 0 <= i < n", std::nullopt, kSweeps},
      {"--shard", "1/0", Expect::Fails, "--shard 1/0 needs 0 <= i < n", std::nullopt, kSweeps},
      {"--shard", "-1/2", Expect::Fails, "--shard -1/2 needs 0 <= i < n", std::nullopt, kSweeps},
      {"--shard", "0/-1", Expect::Fails, "--shard 0/-1 needs 0 <= i < n", std::nullopt, kSweeps},
      {"--shard", "a/b", Expect::Fails, "'a' is not a valid integer value", std::nullopt, kSweeps},
      {"--shard", "0/b", Expect::Fails, "'b' is not a valid integer value", std::nullopt, kSweeps},
      {"--shard", "/", Expect::Fails, "'' is not a valid integer value", std::nullopt, kSweeps},
      {"--shard", " 0/1", Expect::Fails, "' 0' is not a valid integer value", std::nullopt,
       kSweeps},
      {"--shard", "0/99999999999999999999999", Expect::Fails,
       "'99999999999999999999999' is not a valid integer value", std::nullopt, kSweeps},
      {"--shard", "1/2/3", Expect::Fails, "--shard '1/2/3' is not of the form i/n", std::nullopt,
       kSweeps},
      {"--shard", "0//1", Expect::Fails, "--shard '0//1' is not of the form i/n", std::nullopt,
       kSweeps},
      {"--shard", "1", Expect::Fails, "--shard '1' is not of the form i/n", std::nullopt, kSweeps},
      {"--shard", "", Expect::Fails, "--shard '' is not of the form i/n", std::nullopt, kSweeps},
      {"--shard",
       "0/1",
       Expect::Fails,
       "--summary needs every run: it cannot go with --shard",
       std::nullopt,
       kParameter,
       {"--summary"}},
      {"--shard", "0/1", Expect::Accepts, "", "+0/+1", kSweeps},
      // One run in all: shard 0 of many prints the header alone, the last one the run.
      {"--shard", "0/2147483647", Expect::Accepts, "", "0/2", kSweeps},
      {"--shard", "2147483646/2147483647", Expect::Accepts, "", "1/2", kSweeps},
  };
  size_t count = RunCases(cases);

  // The same sweep without --shard prints what shard 0/1 prints.
  for (const Command& command : Commands()) {
    if (!(command.bit & kSweeps)) continue;
    Args whole = command.words;
    whole.insert(whole.end(), command.base.begin(), command.base.end());
    const Outcome all = Cli(whole);
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(Cli(Line(command, "--shard", "0/1")).out, all.out);
    EXPECT_EQ(Cli(Line(command, "--shard", "0/2")).out, all.out.substr(0, all.out.find('\n') + 1));
    EXPECT_EQ(Cli(Line(command, "--shard", "1/2")).out, all.out.substr(all.out.find('\n') + 1));
    // Without a seed every shard would draw other run seeds.
    Args unseeded = Line(command, "--seed", "1");
    unseeded.erase(unseeded.end() - 2, unseeded.end());
    unseeded.insert(unseeded.end(), {"--shard", "0/1"});
    ExpectFailure(unseeded, "--shard needs --seed, so that every shard draws the same run seeds");
    count += 4;
  }
  RecordProperty("cases", int(count));
}

TEST(CliBattery, CommandLinesThatAreNoCommand) {
  const std::vector<std::pair<Args, std::string>> lines = {
      {{}, "A subcommand is required"},
      {{"sweep"}, "A subcommand is required"},
      {{"foo"}, "A subcommand is required"},
      {{"sweep", "foo"}, "A subcommand is required"},
      {{"run", "extra"}, "The following argument was not expected: extra"},
      {{"run", "--foo"}, "The following argument was not expected: --foo"},
      {{"run", "-x"}, "The following argument was not expected: -x"},
      {{"bench", "--steps", "5"}, "not expected"},
      {{"sweep", "parameter", "--shard"}, "--shard: 1 required I/N missing"},
      {{"run", "--steps"}, "--steps: 1 required N missing"},
      {{"run", "--steps="}, "--steps: 1 required N missing"},
      {{"run", "--weights"}, "--weights: 1 required W missing"},
      // The option takes the next word as its text, so 5 is left over.
      {{"run", "--steps", "--agents", "5"}, "The following argument was not expected: 5"},
      {{"sweep", "parameter", "--seed", "1", "--steps", "1"}, "please select a parameter"},
  };
  for (const auto& [args, message] : lines) ExpectFailure(args, message);
  size_t count = lines.size();

  // Any option given twice, also with the same text.
  const Args twice[] = {
      {"--steps", "1"},      {"--seed", "1"},
      {"--agents", "20"},    {"--weights", "1;1;1;1;1;1;1"},
      {"--layout", "grid"},  {"--panel", "120"},
      {"--threshold", "30"}, {"--empty-cells", "no"},
      {"--engine", "fast"},  {"--jobs", "1"},
      {"--shard", "0/1"},    {"--parameter", "radius"},
  };
  for (const Command& command : Commands()) {
    for (const Args& option : twice) {
      const Args once = Line(command, option[0], option[1]);
      const Outcome r = Cli(once);
      if (r.status != 0 && r.err.find("not expected") != std::string::npos) continue;
      Args args = once;
      args.insert(args.end(), option.begin(), option.end());
      SCOPED_TRACE(command.name);
      ExpectFailure(args, option[0] + ": At Most 1 required but received 2");
      ++count;
    }
  }
  RecordProperty("cases", int(count));
}

// The checks come before the first row: a failure leaves stdout empty, not a header alone.
TEST(CliBattery, FailuresPrintNoPartialResult) {
  const Command& parameter = Commands()[2];
  // The largest value of the sweep is set up first: too many groups fail before run 0.
  auto groupSweep = [&](const Args& range) {
    Args args = Line(parameter, "--parameter", "groups", range);
    args.erase(std::find(args.begin(), args.end(), "--groups"),
               std::find(args.begin(), args.end(), "--groups") + 2);
    return args;
  };
  ExpectFailure(groupSweep({"--from", "2", "--to", "100000", "--increment", "99998"}),
                "100000 groups would need about");
  const Outcome fine = Cli(groupSweep({"--from", "2", "--to", "3", "--increment", "1"}));
  ASSERT_EQ(fine.status, 0) << fine.err;
  EXPECT_EQ(std::count(fine.out.begin(), fine.out.end(), '\n'), 3);
  // The swept option is refused before its text is read.
  ExpectFailure(Line(parameter, "--radius", "abc"), "--radius is not expected");
  ExpectFailure(Line(parameter, "--threshold", "abc", {"--parameter", "threshold"}),
                "--threshold is not expected");

  // A run reads no text after its first row: the growth rate and the cluster threshold, read at
  // later steps, are checked before it.
  const Command& run = Commands()[0];
  ExpectFailure(Line(run, "--grow-rate", "x", {"--grow", "--steps", "40"}),
                "'x' is not a valid integer value");
  ExpectFailure(Line(run, "--cluster-threshold", "x", {"--steps", "40"}),
                "'x' is not a valid integer value");
  ExpectFailure(Line(run, "--weights", "1;1;1;x;1;1;1", {"--steps", "40"}),
                "'x' is not a valid floating point value");
}

}  // namespace
}  // namespace segwork::cli
