#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "core/errors.h"
#include "files/scenario.h"
#include "tests/support.h"

namespace segwork {
namespace {

using Args = std::vector<std::string>;

testing::Result Cli(const Args& args) {
  return testing::RunCli(args);
}

Args Joined(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The options with one given this value.
Args With(Args options, const std::string& name, const std::string& value) {
  const auto at = std::find(options.begin(), options.end(), name);
  if (at == options.end()) return Joined(options, {name, value});
  *(at + 1) = value;
  return options;
}

// A 35 x 35 world: milliseconds a run.
const Args kWorld = {"--seed",   "7",   "--steps",  "6", "--cell-size",     "20",
                     "--agents", "700", "--groups", "3", "--move-distance", "5"};

TEST(Scenario, SavedOptionsRunAsTheOptionsDoAndGivenOptionsOverrideTheFile) {
  const std::vector<Args> settings = {
      {"--layout", "grid", "--rows", "2", "--cols", "3", "--street-line", "2,3,30,20,-2",
       "--street-line", "34,5,0,5,3", "--weights", "0;0,5;0,7;1;3;4;9"},
      {"--grow", "--grow-start", "200", "--grow-rate", "30", "--empty-cells", "similar", "--layout",
       "random", "--streets", "6", "--street-occupation"},
      {"--empty-cells", "different", "--threshold", "55", "--radius", "3", "--tile-size", "7"},
  };
  const testing::TempDir dir;
  for (size_t i = 0; i < settings.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string file = dir / ("saved" + std::to_string(i) + ".json");
    const Args options = Joined(kWorld, settings[i]);
    const auto direct = Cli(Joined({"run"}, options));
    ASSERT_EQ(direct.status, 0) << direct.err;
    const auto saved = Cli(Joined({"run", "--save-scenario", file}, options));
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(saved.out, "");
    const auto fromFile = Cli({"run", "--scenario", file});
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(fromFile.out, direct.out);
    // The file's text is what writing its own reading gives.
    const std::string text = testing::ReadFile(file);
    EXPECT_EQ(ScenarioText(ParseScenario(text, file)), text);

    const auto overridden = Cli({"run", "--scenario", file, "--threshold", "70", "--steps", "4"});
    ASSERT_EQ(overridden.status, 0) << overridden.err;
    EXPECT_EQ(overridden.out,
              Cli(Joined({"run"}, With(With(options, "--threshold", "70"), "--steps", "4"))).out);
  }
}

TEST(Scenario, LinesWithoutAGridAreMarkedAsStrokes) {
  const testing::TempDir dir;
  const std::string file = dir / "lines.json";
  std::ofstream(file) << R"({"format": "segwork scenario", "version": 1, "seed": 7,
    "controls": {"Edit_cellSiz": "20", "Edit_anzAg": "700", "Edit_anzGr": "3",
                 "Edit_mDist": "5", "E_stopT": "6"},
    "street_lines": [{"start": [2, 3], "end": [30, 20], "type": -2}]})";
  const auto fromFile = Cli({"run", "--scenario", file});
  ASSERT_EQ(fromFile.status, 0) << fromFile.err;
  EXPECT_EQ(fromFile.out, Cli(Joined({"run", "--street-line", "2,3,30,20,-2"}, kWorld)).out);
}

TEST(Scenario, BadFilesGetOneMessageNamingTheFileAndTheKey) {
  const std::string head = R"({"format": "segwork scenario", "version": 1)";
  // A 20 x 20 grid of cells of one pixel.
  const std::string small = R"(, "panel": {"width": 20, "height": 20},
      "controls": {"Edit_cellSiz": "1"},
      "street_types": {"columns": 20, "rows": 20, "cells": )";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "not a scenario (JSON)"},
      {"{\n\"version\": 1,,}", "line 2"},
      {"[1, 2]", "expected an object"},
      {R"({"version": 1})", "format:"},
      {R"({"format": "segwork scenario", "version": 2})", "version: 2 is not a version"},
      {R"({"format": "segwork scenario", "version": "1"})", "version:"},
      {head + R"(, "colour": 1})", "colour: unknown key"},
      {head + R"(, "controls": {"Edit_anzag": "5"}})", "controls.Edit_anzag: unknown key"},
      {head + R"(, "controls": {"Edit_anzAg": 5}})", "controls.Edit_anzAg: expected a text"},
      {head + R"(, "controls": {"CB_strOcc": 1}})", "controls.CB_strOcc: expected true"},
      {head + R"(, "controls": {"TrB_thresh": 101}})", "controls.TrB_thresh: expected an integer"},
      {head + R"(, "controls": {"UpD_strType": 2.5}})", "controls.UpD_strType:"},
      {head + R"(, "controls": {"empty_cells": "never"}})", "controls.empty_cells: expected one"},
      {head + R"(, "controls": {"SG_weight": {"+4": "1"}}})", "controls.SG_weight.+4: unknown"},
      {head + R"(, "controls": {"Edit_cellSiz": "six"}})", "controls.Edit_cellSiz: 'six'"},
      {head + R"(, "seed": 4294967296})", "seed: expected an integer 0..4294967295"},
      {head + R"(, "panel": {"width": 0}})", "panel.width:"},
      {head + R"(, "street_lines": [{"start": [116, 0], "end": [1, 1], "type": 1}]})",
       "street_lines[0].start[0]: expected an integer 0..115"},
      {head + R"(, "street_lines": [{"start": [1, 0], "end": [1, 1]}]})",
       "street_lines[0]: needs start, end and type"},
      {head + R"(, "street_lines": [{"start": [1, 0], "end": [1, 1], "type": 0}]})",
       "street_lines[0].type: 0 marks nothing"},
      {head + R"(, "street_types": {"columns": 5, "rows": 5, "cells": []}})",
       "street_types: a grid of 5 x 5 cells, but the cell size makes 116 x 116"},
      {head + small + R"(["....................", "...x................"]}})",
       "street_types.cells[1]: 'x' is not one of"},
      {head + small + R"(["....................", "..."]}})",
       "street_types.cells[1]: expected 20 characters"},
      {head + small + R"(["...................."]}})", "street_types.cells: expected a list of 20"},
      {head + R"(, "sweep": {"experiment": "heat"}})", "sweep.experiment: expected one of"},
  };
  for (const auto& [text, message] : cases) {
    try {
      ParseScenario(text, "f.json");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const SegworkError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("f.json: ", 0), 0u) << e.what();
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos)
          << "wanted: " << message << "\ngot: " << e.what();
    }
  }
  // On the command line: the message, a failing status, no rows.
  const testing::TempDir files;
  const std::string missing = files / "missing.json";
  const auto r = Cli(Joined({"run", "--scenario", missing}, kWorld));
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, missing + ": cannot be opened\n");
  // A sweep that leaves the experiment to the file needs one there.
  const std::string plain = files / "plain.json";
  ASSERT_EQ(Cli(Joined({"run", "--save-scenario", plain}, kWorld)).status, 0);
  const auto noSweep = Cli({"sweep", "--scenario", plain});
  EXPECT_NE(noSweep.status, 0);
  EXPECT_NE(noSweep.err.find(plain + ": sweep: missing"), std::string::npos) << noSweep.err;
  const std::string folder = files.Path().string();
  const auto dir = Cli({"run", "--scenario", folder});
  EXPECT_NE(dir.status, 0);
  EXPECT_EQ(dir.out, "");
  EXPECT_EQ(dir.err, folder + ": is a folder\n");
}

}  // namespace
}  // namespace segwork
