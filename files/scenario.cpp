#include "files/scenario.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <tuple>

#include "core/convert.h"
#include "core/errors.h"
#include "core/parameters.h"
#include "experiments/experiment.h"
#include "files/atomic_file.h"
#include "files/json_reader.h"

namespace segwork {

using Json = nlohmann::ordered_json;

namespace {

// Codes of the street-type grid: one character a cell.
constexpr char kTypeCodes[7] = {'c', 'b', 'a', '.', '1', '2', '3'};  // -3..+3

// Reading one file: every message names it and the key.
class Reader {
 public:
  explicit Reader(const std::string& name) : name_(name) {}

  [[noreturn]] void Fail(const std::string& key, const std::string& what) const {
    throw SegworkError(name_ + ": " + (key.empty() ? "" : key + ": ") + what);
  }

  // The object at `key`, whose keys must all be among `known`.
  const Json& Object(const Json& value, const std::string& key,
                     const std::set<std::string>& known) const {
    if (!value.is_object()) Fail(key, "expected an object");
    for (const auto& [k, v] : value.items()) {
      if (!known.count(k)) Fail(Join(key, k), "unknown key");
    }
    return value;
  }

  int64_t Integer(const Json& value, const std::string& key, int64_t low, int64_t high) const {
    if (!value.is_number_integer() ||
        (value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(high)) ||
        value.get<int64_t>() < low || value.get<int64_t>() > high) {
      Fail(key, "expected an integer " + std::to_string(low) + ".." + std::to_string(high));
    }
    return value.get<int64_t>();
  }

  std::string Text(const Json& value, const std::string& key) const {
    if (!value.is_string()) Fail(key, "expected a text in quotes");
    return value.get<std::string>();
  }

  bool Flag(const Json& value, const std::string& key) const {
    if (!value.is_boolean()) Fail(key, "expected true or false");
    return value.get<bool>();
  }

  template <typename Names>
  std::string Choice(const Json& value, const std::string& key, const Names& names) {
    const std::string text = value.is_string() ? value.get<std::string>() : std::string();
    for (const char* n : names) {
      if (text == n) return text;
    }
    std::string list;
    for (const char* n : names) list += std::string(list.empty() ? "" : ", ") + "\"" + n + "\"";
    Fail(key, "expected one of " + list);
  }

  static std::string Join(const std::string& key, const std::string& child) {
    return key.empty() ? child : key + "." + child;
  }

 private:
  const std::string& name_;
};

void ReadControls(Reader& r, const Json& j, ControlValues& c) {
  std::set<std::string> known = {"SG_weight"};
  std::set<std::string> weightKeys;
  for (const Parameter& p : Parameters()) {
    (p.kind == ParameterKind::Weight ? weightKeys : known).insert(p.control);
  }
  r.Object(j, "controls", known);
  const Json* weights = nullptr;
  for (const Parameter* row : ParametersInFileOrder()) {
    const Parameter& p = *row;
    if (p.kind == ParameterKind::Weight && !weights) {
      if (!j.contains("SG_weight")) break;
      weights = &r.Object(j["SG_weight"], "controls.SG_weight", weightKeys);
    }
    const Json& where = p.kind == ParameterKind::Weight ? *weights : j;
    if (!where.contains(p.control)) continue;
    const Json& value = where[p.control];
    const std::string key =
        std::string(p.kind == ParameterKind::Weight ? "controls.SG_weight." : "controls.") +
        p.control;
    switch (p.kind) {
      case ParameterKind::Text:
      case ParameterKind::Weight:
        p.set(c, r.Text(value, key));
        break;
      case ParameterKind::Flag:
      case ParameterKind::YesNo:
        p.set(c, r.Flag(value, key) ? "yes" : "no");
        break;
      case ParameterKind::Position:
        p.set(c, std::to_string(r.Integer(value, key, p.low, p.high)));
        break;
      case ParameterKind::Choice: {
        const std::string word = r.Choice(value, key, p.fileWords);
        for (size_t i = 0; i < p.fileWords.size(); ++i) {
          if (word == p.fileWords[i]) p.set(c, p.words[i]);
        }
        break;
      }
    }
  }
}

GridPos Cell(Reader& r, const Json& j, const std::string& key, GridPos grid) {
  if (!j.is_array() || j.size() != 2) r.Fail(key, "expected [column, row]");
  return {int32_t(r.Integer(j[0], key + "[0]", 0, grid.x - 1)),
          int32_t(r.Integer(j[1], key + "[1]", 0, grid.y - 1))};
}

void ReadStreets(Reader& r, const Json& root, Scenario& s, GridPos grid) {
  if (root.contains("street_lines")) {
    const Json& lines = root["street_lines"];
    if (!lines.is_array()) r.Fail("street_lines", "expected a list");
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string key = "street_lines[" + std::to_string(i) + "]";
      const Json& l = r.Object(lines[i], key, {"start", "end", "type"});
      if (!l.contains("start") || !l.contains("end") || !l.contains("type")) {
        r.Fail(key, "needs start, end and type");
      }
      const GridPos start = Cell(r, l["start"], key + ".start", grid);
      const GridPos end = Cell(r, l["end"], key + ".end", grid);
      const auto type = int32_t(r.Integer(l["type"], key + ".type", -3, 3));
      s.lines.push_back({start.x, start.y, end.x, end.y, type});
    }
  }
  if (!root.contains("street_types")) {
    for (size_t i = 0; i < s.lines.size(); ++i) {
      if (s.lines[i].Street == 0) {
        r.Fail("street_lines[" + std::to_string(i) + "].type",
               "0 marks nothing: without street_types give -3..-1 or 1..3");
      }
    }
    return;
  }
  const Json& t = r.Object(root["street_types"], "street_types", {"columns", "rows", "cells"});
  if (!t.contains("columns") || !t.contains("rows") || !t.contains("cells")) {
    r.Fail("street_types", "needs columns, rows and cells");
  }
  SavedStreets streets;
  streets.columns = int32_t(r.Integer(t["columns"], "street_types.columns", 1, INT32_MAX));
  streets.rows = int32_t(r.Integer(t["rows"], "street_types.rows", 1, INT32_MAX));
  if (streets.columns != grid.x || streets.rows != grid.y) {
    r.Fail("street_types", "a grid of " + std::to_string(streets.columns) + " x " +
                               std::to_string(streets.rows) + " cells, but the cell size makes " +
                               std::to_string(grid.x) + " x " + std::to_string(grid.y));
  }
  const Json& cells = t["cells"];
  const std::string rows = "expected a list of " + std::to_string(grid.y) + " rows";
  if (!cells.is_array()) r.Fail("street_types.cells", rows);
  for (size_t y = 0; y < std::min(cells.size(), size_t(grid.y)); ++y) {
    const std::string key = "street_types.cells[" + std::to_string(y) + "]";
    const std::string row = r.Text(cells[y], key);
    if (row.size() != size_t(grid.x)) {
      r.Fail(key, "expected " + std::to_string(grid.x) + " characters");
    }
    for (char ch : row) {
      const char* code = std::find(std::begin(kTypeCodes), std::end(kTypeCodes), ch);
      if (code == std::end(kTypeCodes)) {
        r.Fail(key, std::string("'") + ch + "' is not one of c b a . 1 2 3");
      }
      streets.types.push_back(int32_t(code - std::begin(kTypeCodes)) - 3);
    }
  }
  if (cells.size() != size_t(grid.y)) r.Fail("street_types.cells", rows);
  streets.lines = s.lines;
  s.streets = std::move(streets);
}

void ReadSweep(Reader& r, const Json& j, Scenario& s) {
  r.Object(j, "sweep",
           {"experiment", "parameter", "layout", "from", "to", "increment", "runs", "poly_degree"});
  SweepSettings w;
  if (!j.contains("experiment")) r.Fail("sweep", "needs experiment");
  std::vector<const char*> experiments;
  for (const ExperimentDescription& e : Experiments()) experiments.push_back(e.name);
  w.experiment = r.Choice(j["experiment"], "sweep.experiment", experiments);
  for (auto [key, text] : {std::pair{"parameter", &w.parameter},
                           {"layout", &w.layout},
                           {"from", &w.from},
                           {"to", &w.to},
                           {"increment", &w.increment},
                           {"runs", &w.runs},
                           {"poly_degree", &w.polyDegree}}) {
    if (j.contains(key)) *text = r.Text(j[key], std::string("sweep.") + key);
  }
  s.sweep = std::move(w);
}

void ReadExperiment(Reader& r, const Json& j, Scenario& s) {
  r.Object(j, "experiment", {"vary", "design", "runs", "until", "measures", "every"});
  ExperimentSettings e;
  if (j.contains("vary")) {
    if (!j["vary"].is_array()) r.Fail("experiment.vary", "expected a list of \"NAME=VALUES\"");
    for (size_t i = 0; i < j["vary"].size(); ++i) {
      e.vary.push_back(r.Text(j["vary"][i], "experiment.vary[" + std::to_string(i + 1) + "]"));
    }
  }
  for (auto [key, text] : {std::pair{"design", &e.design},
                           {"runs", &e.runs},
                           {"until", &e.until},
                           {"measures", &e.measures},
                           {"every", &e.every}}) {
    if (j.contains(key)) *text = r.Text(j[key], std::string("experiment.") + key);
  }
  if (e.vary.empty() == e.design.empty()) {
    r.Fail("experiment", "needs either vary or design");
  }
  s.experiment = std::move(e);
}

}  // namespace

GridPos GridSizeOf(const ControlValues& controls, int32_t panelWidth, int32_t panelHeight) {
  ControlValues checked = controls;
  checked.onFieldRewritten = nullptr;
  CheckControls(checked, panelWidth, panelHeight, [](Field, const std::string&) {});
  const int32_t cellSize = StrToInt(checked.Text(Field::Edit_cellSiz));
  return {int32_t(RoundHalfEven(double(panelWidth) / cellSize)),
          int32_t(RoundHalfEven(double(panelHeight) / cellSize))};
}

Scenario ParseScenario(const std::string& text, const std::string& name) {
  Reader r(name);
  Json root;
  try {
    root = ParseJsonText(text);
  } catch (const JsonRefusal& e) {
    if (e.Syntax()) r.Fail("", std::string("not a scenario (JSON): ") + e.what());
    r.Fail(e.Key(), e.what());
  }
  r.Object(root, "",
           {"format", "version", "seed", "panel", "controls", "street_lines", "street_types",
            "sweep", "experiment"});
  if (!root.contains("format") || root["format"] != kScenarioFormat) {
    r.Fail("format", std::string("expected \"") + kScenarioFormat + "\"");
  }
  if (!root.contains("version")) r.Fail("version", "missing");
  if (!root["version"].is_number_integer() || root["version"] != kScenarioVersion) {
    // Only a number is shown: anything else could be nested deep enough to exhaust the stack.
    const std::string given =
        root["version"].is_number() ? root["version"].dump() : std::string("that");
    r.Fail("version", given + " is not a version this program reads (" +
                          std::to_string(kScenarioVersion) + ")");
  }
  Scenario s;
  if (root.contains("seed") && !root["seed"].is_null()) {
    s.seed = uint32_t(r.Integer(root["seed"], "seed", 0, UINT32_MAX));
  }
  if (root.contains("panel")) {
    const Json& p = r.Object(root["panel"], "panel", {"width", "height"});
    if (p.contains("width"))
      s.panelWidth = int32_t(r.Integer(p["width"], "panel.width", 1, 1 << 20));
    if (p.contains("height")) {
      s.panelHeight = int32_t(r.Integer(p["height"], "panel.height", 1, 1 << 20));
    }
  }
  if (root.contains("controls")) ReadControls(r, root["controls"], s.controls);
  GridPos grid;
  try {
    grid = GridSizeOf(s.controls, s.panelWidth, s.panelHeight);
  } catch (const SegworkError& e) {
    r.Fail("controls.Edit_cellSiz", e.what());
  }
  if (grid.x < 1 || grid.y < 1) r.Fail("panel", "the panel holds no cell");
  ReadStreets(r, root, s, grid);
  if (root.contains("sweep")) ReadSweep(r, root["sweep"], s);
  if (root.contains("experiment")) ReadExperiment(r, root["experiment"], s);
  return s;
}

Scenario LoadScenario(const std::string& path) {
  return ParseScenario(ReadWholeFile(path, kScenarioByteLimit, "a scenario"), path);
}

namespace {

// On one line, with a space after each comma and colon.
std::string Inline(const Json& j) {
  if (!j.is_structured()) return j.dump();
  std::string out = j.is_object() ? "{" : "[";
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (it != j.begin()) out += ", ";
    if (j.is_object()) out += Json(it.key()).dump() + ": ";
    out += Inline(*it);
  }
  return out + (j.is_object() ? "}" : "]");
}

// Two-space indents; lists of numbers and small objects on one line, the grid a row a line.
void Write(std::string& out, const Json& j, int indent) {
  const std::string pad(size_t(indent) + 2, ' ');
  const std::string line = Inline(j);
  if (!j.is_structured() || line.size() <= 60 || (j.is_array() && j[0].is_number())) {
    out += line;
    return;
  }
  const bool object = j.is_object();
  out += object ? "{\n" : "[\n";
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (it != j.begin()) out += ",\n";
    out += pad;
    if (object) out += Json(it.key()).dump() + ": ";
    Write(out, *it, indent + 2);
  }
  out += "\n" + std::string(size_t(indent), ' ') + (object ? "}" : "]");
}

}  // namespace

std::string ScenarioText(const Scenario& s) {
  Json root;
  root["format"] = kScenarioFormat;
  root["version"] = kScenarioVersion;
  root["seed"] = s.seed ? Json(*s.seed) : Json(nullptr);
  root["panel"] = {{"width", s.panelWidth}, {"height", s.panelHeight}};
  Json& c = root["controls"];
  for (const Parameter* p : ParametersInFileOrder()) {
    const std::string value = p->get(s.controls);
    switch (p->kind) {
      case ParameterKind::Text:
        c[p->control] = value;
        break;
      case ParameterKind::Weight:
        c["SG_weight"][p->control] = value;
        break;
      case ParameterKind::Flag:
      case ParameterKind::YesNo:
        c[p->control] = value == "yes";
        break;
      case ParameterKind::Position:
        c[p->control] = StrToInt(value);
        break;
      case ParameterKind::Choice:
        for (size_t i = 0; i < p->words.size(); ++i) {
          if (value == p->words[i]) c[p->control] = p->fileWords[i];
        }
        break;
    }
  }
  root["street_lines"] = Json::array();
  for (const StreetLine& l : s.lines) {
    root["street_lines"].push_back(
        {{"start", {l.StartX, l.StartY}}, {"end", {l.EndX, l.EndY}}, {"type", l.Street}});
  }
  if (s.streets) {
    Json& t = root["street_types"];
    t["columns"] = s.streets->columns;
    t["rows"] = s.streets->rows;
    t["cells"] = Json::array();
    for (int32_t y = 0; y < s.streets->rows; ++y) {
      std::string row;
      for (int32_t x = 0; x < s.streets->columns; ++x) {
        const int32_t type = s.streets->types[size_t(y) * size_t(s.streets->columns) + size_t(x)];
        row += kTypeCodes[std::clamp(type, -3, 3) + 3];
      }
      t["cells"].push_back(row);
    }
  }
  if (s.sweep) {
    const SweepSettings& w = *s.sweep;
    Json& j = root["sweep"];
    j["experiment"] = w.experiment;
    const ExperimentDescription* d = FindExperiment(w.experiment);
    // The choice under the name of its option (the parameter, or the layout).
    if (d && d->choiceOption) {
      j[d->choiceOption] = std::string_view(d->choiceOption) == "layout" ? w.layout : w.parameter;
    }
    j["from"] = w.from;
    j["to"] = w.to;
    j["increment"] = w.increment;
    j["runs"] = w.runs;
    if (d && d->fits) j["poly_degree"] = w.polyDegree;
  }
  if (s.experiment) {
    const ExperimentSettings& e = *s.experiment;
    Json& j = root["experiment"];
    if (!e.vary.empty()) j["vary"] = e.vary;
    if (!e.design.empty()) j["design"] = e.design;
    j["runs"] = e.runs;
    if (!e.until.empty()) j["until"] = e.until;
    if (!e.measures.empty()) j["measures"] = e.measures;
    if (!e.every.empty()) j["every"] = e.every;
  }
  std::string out;
  Write(out, root, 0);
  return out + "\n";
}

void SaveScenario(const Scenario& scenario, const std::string& path) {
  const std::string text = ScenarioText(scenario);
  AtomicFile file(path);
  file.Write(text.data(), text.size());
  file.Commit();
}

Scenario SettingsOf(const Simulation& model) {
  Scenario s;
  s.controls = model.Controls;
  s.controls.onFieldRewritten = nullptr;
  s.panelWidth = model.PanelWidth;
  s.panelHeight = model.PanelHeight;
  s.seed = model.Seed;
  return s;
}

Scenario ScenarioOf(const Simulation& model) {
  Scenario s = SettingsOf(model);
  s.lines = model.StreetLines;
  // A cell size typed since the last setup: the grid as the next setup keeps it, positions in
  // both sizes carried over.
  const GridPos grid = GridSizeOf(model.Controls, model.PanelWidth, model.PanelHeight);
  SavedStreets streets{model.StreetLines, grid.x, grid.y,
                       std::vector<int32_t>(size_t(grid.x) * size_t(grid.y), 0)};
  for (int32_t y = 0; y < std::min(grid.y, model.RowCount); ++y) {
    for (int32_t x = 0; x < std::min(grid.x, model.ColCount); ++x) {
      streets.types[size_t(y) * size_t(grid.x) + size_t(x)] = model.StreetTypeAt(x, y);
    }
  }
  for (const StreetLine& l : s.lines) {
    if (std::max(l.StartX, l.EndX) >= grid.x || std::max(l.StartY, l.EndY) >= grid.y) {
      throw SegworkError("a street line lies outside the " + std::to_string(grid.x) + " x " +
                         std::to_string(grid.y) +
                         " grid the cell size makes: delete the streets or go back to the "
                         "cell size they were drawn on");
    }
  }
  s.streets = std::move(streets);
  return s;
}

StartStreets StartStreetsOf(const Scenario& scenario, const std::string& name) {
  StartStreets start;
  if (scenario.streets) {
    start.saved = &*scenario.streets;
    return start;
  }
  for (size_t i = 0; i < scenario.lines.size(); ++i) {
    const StreetLine& l = scenario.lines[i];
    start.strokes.push_back({{l.StartX, l.StartY},
                             {l.EndX, l.EndY},
                             l.Street,
                             name + ": street_lines[" + std::to_string(i) + "]"});
  }
  return start;
}

}  // namespace segwork
