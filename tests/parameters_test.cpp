#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/measure_catalog.h"
#include "core/parameters.h"
#include "files/scenario.h"
#include "tests/support.h"

namespace segwork {
namespace {

using segwork::testing::OtherValue;
using segwork::testing::RunCli;

std::vector<std::string> OptionArgs(const Parameter& p, const std::string& value) {
  const std::string option = std::string("--") + p.name;
  if (p.kind == ParameterKind::Flag) return {option + "=" + (value == "yes" ? "true" : "false")};
  return {option, value};
}

// Every row of the table with an option reaches the command line and its help, the scenario file
// and a sweep's record: a new row needs no other edit for them.
TEST(ParameterTable, EveryOptionReachesHelpScenarioAndSweepIdentity) {
  const char* argv[] = {"segwork-cli", "run", "--help"};
  std::ostringstream help, err;
  cli::RunCommandLine(3, argv, stdout, help, err);
  const std::string dir = ::testing::TempDir();
  for (const Parameter& p : Parameters()) {
    if (!p.HasOption()) continue;
    EXPECT_NE(help.str().find(std::string("--") + p.name + " "), std::string::npos) << p.name;
    const std::string value = OtherValue(p);
    const std::string scenario = dir + "/param.json";
    std::vector<std::string> args = {"run", "--seed", "1", "--save-scenario", scenario};
    for (const std::string& a : OptionArgs(p, value)) args.push_back(a);
    const auto saved = RunCli(args);
    ASSERT_EQ(saved.status, 0) << p.name << saved.err;
    EXPECT_EQ(p.get(LoadScenario(scenario).controls), value) << p.name;

    const std::string output = dir + "/param.csv";
    std::filesystem::remove(output);
    const std::string swept = std::string_view(p.name) == "radius" ? "groups" : "radius";
    args = {"sweep",  "parameter", "--parameter", swept, "--from",  "1",        "--to", "1",
            "--runs", "1",         "--seed",      "1",   "--quiet", "--output", output};
    for (const char* name : {"steps", "cell-size", "agents"}) {
      if (name == std::string_view(p.name)) continue;
      args.push_back(std::string("--") + name);
      args.push_back(name == std::string_view("steps") ? "1" : name[0] == 'c' ? "20" : "100");
    }
    for (const std::string& a : OptionArgs(p, value)) args.push_back(a);
    const auto sweep = RunCli(args);
    ASSERT_EQ(sweep.status, 0) << p.name << sweep.err;
    std::ifstream record(output + ".sweep");
    std::stringstream text;
    text << record.rdbuf();
    const std::string wanted = p.name + ("=" + value);
    EXPECT_NE(text.str().find("\n" + wanted + "\n"), std::string::npos) << text.str();
  }
}

// Names are unique across faces: an option, its Python keyword, a scenario key, a measure.
TEST(ParameterTable, NamesAreUniqueAndMeasuresGiveTheirColumns) {
  std::vector<std::string> names, controls;
  for (const Parameter& p : Parameters()) {
    names.push_back(p.name);
    names.push_back(p.PythonName());
    controls.push_back(p.control);
    EXPECT_EQ(FindParameter(p.PythonName()), &p);
  }
  for (auto* list : {&names, &controls}) {
    std::sort(list->begin(), list->end());
    list->erase(std::unique(list->begin(), list->end()), list->end());
  }
  EXPECT_EQ(controls.size(), Parameters().size());
  EXPECT_EQ(FindParameter("no-such"), nullptr);
  EXPECT_EQ(MeasureColumns(MeasureNamed("sat"), 3),
            (std::vector<std::string>{"sat_1", "sat_2", "sat_3"}));
  StepMeasures m;
  m.Segregation = {10, 20, 40};
  std::string field;
  AppendField(field, MeasureNamed("mean_is").read(m, 0));
  EXPECT_EQ(field, "23.333333333333332");
}

}  // namespace
}  // namespace segwork
