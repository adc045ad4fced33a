#include "cli/run_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <functional>
#include <sstream>
#include <vector>

#include "analysis/measure_catalog.h"
#include "cli/output.h"
#include "cli/run_saved.h"
#include "core/convert.h"
#include "core/errors.h"
#include "files/atomic_file.h"
#include "files/saved_run.h"
#include "files/scenario.h"
#include "files/world_export.h"

namespace segwork::cli {

void AddFlag(CLI::App& command, const std::string& name, bool& value,
             const std::string& description) {
  // CLI11 reads "--flag=TEXT" with stoll, which takes "5x" for 5: allow its words and whole
  // integers only.
  const CLI::Validator text(
      [](std::string& given) -> std::string {
        std::string t = given;
        for (char& ch : t) ch = char(std::tolower(static_cast<unsigned char>(ch)));
        for (const char* word : {"true", "false", "on", "off", "yes", "no", "enable", "disable",
                                 "t", "f", "y", "n", "+", "-"}) {
          if (t == word) return {};
        }
        const size_t sign = t.find_first_not_of("+-") == 1 ? 1 : 0;
        if (t.size() > sign && t.find_first_not_of("0123456789", sign) == std::string::npos) {
          return {};
        }
        return "'" + given + "' is not a flag value: give true or false";
      },
      "", "flag value");
  command.add_flag(name, value, description)->check(text);
}

size_t RunOptions::Index(std::string_view name) {
  return size_t(&ParameterNamed(name) - Parameters().data());
}

std::vector<std::string> RunOptions::DefaultValues() {
  std::vector<std::string> values;
  for (const Parameter& p : Parameters()) values.push_back(p.Default());
  return values;
}

std::deque<bool> RunOptions::DefaultFlags() {
  std::deque<bool> flags;
  for (const Parameter& p : Parameters()) flags.push_back(p.Default() == "yes");
  return flags;
}

std::string RunOptions::Value(const Parameter& p) const {
  const size_t i = size_t(&p - Parameters().data());
  if (p.kind == ParameterKind::Flag) return flags[i] ? "yes" : "no";
  return values[i];
}

void RunOptions::SetValue(const Parameter& p, const std::string& value) {
  const size_t i = size_t(&p - Parameters().data());
  if (p.kind == ParameterKind::Flag) flags[i] = value == "yes";
  values[i] = value;
}

void AddRunOptions(CLI::App& run, RunOptions& o) {
  run.add_option("--seed", o.seed, "unsigned 32-bit seed given to the generator at every setup")
      ->type_name("S");
  for (const Parameter& p : Parameters()) {
    if (!p.HasOption()) continue;
    // The layout button comes before the fields it reads.
    if (std::string_view(p.name) == "rows") {
      run.add_option("--layout", o.layout, "press a predefined street layout once")
          ->check(CLI::IsMember({"grid", "random"}));
    }
    const std::string name = std::string("--") + p.name;
    switch (p.kind) {
      case ParameterKind::Flag:
        AddFlag(run, name, o.Flag(p.name), p.help);
        break;
      case ParameterKind::Choice:
        run.add_option(name, o.Text(p.name), p.help)
            ->check(CLI::IsMember(std::vector<std::string>(p.words.begin(), p.words.end())));
        break;
      case ParameterKind::YesNo:
        run.add_option(name, o.Text(p.name), p.help)->check(CLI::IsMember({"yes", "no"}));
        break;
      default:
        run.add_option(name, o.Text(p.name), p.help)->type_name(p.typeName);
        break;
    }
  }
  run.add_option("--weights", o.weights,
                 "seven weights for the types -3..+3, separated by ';', e.g. 0;0,33;0,67;1;2;4;8")
      ->type_name("W");
  run.add_option("--street-line", o.streetLines,
                 "a street stroke pressed on cell X0,Y0 and released on X1,Y1 with type T "
                 "(-3..-1, 1..3), drawn after --layout; repeatable")
      ->type_name("X0,Y0,X1,Y1,T")
      ->allow_extra_args(false);
  run.add_option("--panel", o.panel, "side of the square drawing panel in pixels")
      ->type_name("PIXELS");
  run.add_option("--scenario", o.scenarioFile,
                 "start from a scenario file; options given here override it")
      ->type_name("FILE");
}

namespace {

// The scenario's options beneath those `given` on a command line.
void FillFromScenario(RunOptions& o, std::shared_ptr<const Scenario> scenario,
                      const std::function<bool(const char*)>& given) {
  const Scenario& s = *scenario;
  const ControlValues& c = s.controls;
  if (!given("--seed") && s.seed) o.seed = std::to_string(*s.seed);
  for (const Parameter& p : Parameters()) {
    if (p.HasOption() && !given((std::string("--") + p.name).c_str())) o.SetValue(p, p.get(c));
  }
  if (!given("--panel")) {
    o.panel = std::to_string(s.panelWidth);
    o.panelHeight = std::to_string(s.panelHeight);
  }
  o.scenario = std::move(scenario);
}

}  // namespace

void ApplyScenario(const CLI::App& command, RunOptions& o) {
  if (!o.scenarioFile) return;
  FillFromScenario(o, std::make_shared<Scenario>(LoadScenario(*o.scenarioFile)),
                   [&](const char* name) {
                     const CLI::Option* option = command.get_option_no_throw(name);
                     return option && option->count() > 0;
                   });
}

RunOptions ScenarioRunOptions(std::shared_ptr<const Scenario> scenario, const std::string& name) {
  RunOptions o;
  o.scenarioFile = name;
  FillFromScenario(o, std::move(scenario), [](const char*) { return false; });
  return o;
}

std::function<uint32_t()> SteadyTickCount() {
  const auto start = std::chrono::steady_clock::now();
  return [start] {
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count());
  };
}

uint32_t ParseSeed(const std::string& text) {
  return StrToSeed(text);
}

namespace {

// A spinner or track bar holds its position within its range.
int32_t Clamped(const std::string& option, const std::string& text, int32_t low, int32_t high,
                std::ostream& err) {
  const int32_t value = StrToInt(text);
  const int32_t clamped = std::clamp(value, low, high);
  if (clamped != value) {
    err << "segwork-cli: warning: " << option << " " << value << " is outside " << low << ".."
        << high << "; using " << clamped << "\n";
  }
  return clamped;
}

std::vector<std::string> SplitWeights(const std::string& text) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(';', begin);
    parts.push_back(text.substr(begin, end - begin));
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  return parts;
}

// The options as the controls hold them; spinners and the track bar keep their range.
ControlValues ControlsOf(const RunOptions& o, std::ostream& warn) {
  // A scenario's weight table and the controls no option sets stay as the file has them.
  ControlValues c = o.scenario ? o.scenario->controls : ControlValues{};
  for (const Parameter& p : Parameters()) {
    if (!p.HasOption()) continue;
    if (p.kind == ParameterKind::Position) {
      const std::string option = std::string("--") + p.name;
      p.set(c, std::to_string(Clamped(option, o.Value(p), p.low, p.high, warn)));
    } else {
      p.set(c, o.Value(p));
    }
  }
  for (const auto& [p, value] : o.controlOverrides) {
    p->set(c, p->kind == ParameterKind::Position
                  ? std::to_string(Clamped(p->name, value, p->low, p->high, warn))
                  : value);
  }
  if (o.weights) {
    const std::vector<std::string> parts = SplitWeights(*o.weights);
    if (parts.size() != 7) {
      throw SegworkError("--weights needs seven texts separated by ';', got " +
                         std::to_string(parts.size()));
    }
    // The table is read only for the street types a run has; a text given here is read at once.
    for (size_t i = 0; i < 7; ++i) {
      StrToWeight(parts[i]);
      c.SG_weight[1][i + 1] = parts[i];
    }
  }
  return c;
}

// "X0,Y0,X1,Y1,T" as the stroke it names; its cells and type are checked against the grid.
StreetStroke StrokeOf(const std::string& text) {
  const std::string name = "--street-line " + text;
  std::vector<int32_t> numbers;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(',', begin);
    const std::string part = text.substr(begin, end - begin);
    if (part.empty() || part.find_first_not_of("+-0123456789") != std::string::npos) break;
    try {
      numbers.push_back(StrToInt(part));
    } catch (const SegworkError&) {
      break;
    }
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  if (numbers.size() != 5 || std::count(text.begin(), text.end(), ',') != 4) {
    throw SegworkError(name + ": give five integers X0,Y0,X1,Y1,T");
  }
  return {{numbers[0], numbers[1]}, {numbers[2], numbers[3]}, numbers[4], name};
}

std::string OptionOf(Field field) {
  for (const Parameter& p : Parameters()) {
    if (p.HasOption() && std::string_view(p.control) == FieldName(field)) {
      return std::string("--") + p.name;
    }
  }
  return FieldName(field);
}

// The clock is read once and given to every setup, like --seed: the reported seed then repeats
// the whole run, also a layout drawn from the program-start generator. Reported once.
void InjectClocks(Simulation& model, std::optional<uint32_t> seed, bool quiet, std::ostream& err) {
  bool report = !seed && !quiet;
  if (!seed) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    seed = uint32_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
  }
  model.ClockSeed = [s = *seed, report, &err]() mutable -> uint32_t {
    if (report) err << "# seed " << s << "\n";
    report = false;
    return s;
  };
}

}  // namespace

std::unique_ptr<HeadlessRun> PrepareRun(const RunOptions& o, EngineKind engine, std::ostream& err,
                                        bool quiet) {
  auto run = std::make_unique<HeadlessRun>();
  PrepareSimulation(*run, o, engine, err, quiet);
  run->Analysis.ResetAnalysisWindow(run->GroupColours, run->GroupSizes,
                                    run->Controls.Text(Field::E_nbSize));
  return run;
}

void PrepareSimulation(Simulation& sim, const RunOptions& o, EngineKind engine, std::ostream& err,
                       bool quiet) {
  Simulation* model = &sim;
  model->EngineChoice = engine;
  std::ostringstream silenced;
  std::ostream& warn = quiet ? silenced : err;

  std::optional<uint32_t> seed;
  if (o.seed) seed = ParseSeed(*o.seed);
  const int32_t panel = StrToInt(o.panel);
  if (panel < 1) throw SegworkError("--panel " + o.panel + " is below 1");
  const int32_t panelHeight = o.panelHeight ? StrToInt(*o.panelHeight) : panel;
  if (panelHeight < 1) throw SegworkError("--panel height " + *o.panelHeight + " is below 1");
  model->PanelWidth = panel;
  model->PanelHeight = panelHeight;
  ControlValues c = ControlsOf(o, warn);
  CheckControls(c, panel, panelHeight, [&](Field field, const std::string& before) {
    warn << "segwork-cli: warning: " << OptionOf(field) << " '" << before << "' rewritten to '"
         << c.Text(field) << "'\n";
  });
  // Read in every step or at the first cluster analysis: refuse a bad text before any output.
  StrToInt(c.Text(Field::E_clusterT));
  if (o.Flag("grow")) StrToInt(c.Text(Field::E_growRate));
  model->Controls = std::move(c);

  InjectClocks(*model, seed, quiet, err);
  // Large worlds take a while to set up: say how far it has come.
  const int32_t cellSize = StrToInt(model->Controls.Text(Field::Edit_cellSiz));
  if (!quiet && int64_t(panel) * panelHeight / (int64_t(cellSize) * cellSize) >= 4'000'000) {
    model->Progress = [&err, last = std::string()](const char* phase, double fraction) mutable {
      const std::string line =
          std::string("# ") + phase + " " + std::to_string(int(fraction * 100 + 0.5)) + "%";
      if (line != last) err << line << std::endl;
      last = line;
    };
  }
  StartStreets streets;
  if (o.scenario && o.scenarioStreets) streets = StartStreetsOf(*o.scenario, *o.scenarioFile);
  streets.layout = o.layout == "grid"     ? StreetLayout::Grid
                   : o.layout == "random" ? StreetLayout::Random
                                          : StreetLayout::None;
  for (const std::string& text : o.streetLines) streets.strokes.push_back(StrokeOf(text));
  model->StartProgram(streets);
  if (int64_t(model->Agents.size()) < model->AgentsRequested) {
    warn << "segwork-cli: placed " << model->Agents.size() << " of " << model->AgentsRequested
         << " agents: no free admissible cell was left\n";
  }
}

uint64_t StateDigest(const Simulation& model) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (int32_t y = 0; y < model.RowCount; ++y) {
    for (int32_t x = 0; x < model.ColCount; ++x) {
      const uint32_t state = uint32_t(model.Cells.State[model.Cells.Index(x, y)]);
      for (int byte = 0; byte < 4; ++byte) {
        hash ^= (state >> (8 * byte)) & 0xFF;
        hash *= 0x100000001b3ull;
      }
    }
  }
  return hash;
}

namespace {

// --cells and --agents-table of one run: the start, every --every steps and the last.
class WorldExports {
 public:
  WorldExports(const RunOptions& o, const Simulation& model) {
    if (o.pictures.every) every_ = StrToInt(*o.pictures.every);
    if (o.cells) cells_ = OpenCellExport(*o.cells, model, "--cells " + *o.cells);
    if (o.agentsTable) {
      agents_ =
          std::make_unique<AgentTableExport>(*o.agentsTable, "--agents-table " + *o.agentsTable);
    }
    Write(model);
  }
  void AfterStep(const Simulation& model, bool last) {
    if (last || model.StepCount % every_ == 0) Write(model);
  }
  void Commit() {
    if (cells_) cells_->Commit();
    if (agents_) agents_->Commit();
  }

 private:
  void Write(const Simulation& model) {
    if (cells_) cells_->Write(model);
    if (agents_) agents_->Write(model);
  }
  int64_t every_ = 1;
  std::unique_ptr<CellExport> cells_;
  std::unique_ptr<AgentTableExport> agents_;
};

int Execute(const RunOptions& o, std::FILE* out, std::ostream& err) {
  const std::string& stepsText = o.Text("steps");
  const int64_t steps = StrToInt(stepsText);
  if (steps < 0) throw SegworkError("--steps " + stepsText + " is below 0");
  if (o.saveScenario && (o.saveRun || o.openRun)) {
    throw UsageError(
        "--save-scenario writes a scenario instead of running: it takes no "
        "--save-run or --open-run");
  }
  if (o.saveScenario && (o.measures || o.cells || o.agentsTable)) {
    throw UsageError(
        "--save-scenario writes a scenario instead of running: it takes no "
        "--measures, --cells or --agents-table");
  }
  if (o.saveRun) CheckWritableTarget(*o.saveRun);
  // The columns of `segwork-cli run`, from the measure catalog.
  std::vector<const Measure*> measures;
  if (o.measures) {
    measures = ParseMeasureList(*o.measures, "--measures");
    for (const Measure* m : measures) {
      if (m->available == MeasureAvailable::RunEnd) {
        throw SegworkError(std::string("--measures: ") + m->name +
                           " is a measure of an experiment's runs, not of a step");
      }
    }
  } else {
    for (const char* name : {"agents", "movers", "is", "sat"})
      measures.push_back(&MeasureNamed(name));
  }
  if (o.cells) CheckCellExportTarget(*o.cells, "--cells " + *o.cells);
  if (o.agentsTable) CheckAgentTableTarget(*o.agentsTable, "--agents-table " + *o.agentsTable);
  const EngineKind engine = o.engine == "literal" ? EngineKind::Literal : EngineKind::Fast;
  RunPictures pictures(o);
  const std::unique_ptr<HeadlessRun> prepared =
      o.openRun ? OpenSavedRun(o, engine) : PrepareRun(o, engine, err, false);
  HeadlessRun& model = *prepared;
  if (o.saveScenario) {
    SaveScenario(ScenarioOf(model), *o.saveScenario);
    return 0;
  }
  model.History = MeasureHistory::LatestOnly;
  model.RecordSpatialMeasures = NeedsSpatialMeasures(measures);
  const bool large = model.Cells.size() >= 4'000'000;
  pictures.AfterSetup(model, steps);
  WorldExports exports(o, model);

  RowWriter writer(out, "standard output");
  std::vector<MeasureColumn> columns;
  std::string line = "step";
  for (const Measure* measure : measures) {
    for (MeasureColumn& column : ColumnsOf(*measure, model.GroupCount)) {
      line += ',' + column.name;
      columns.push_back(std::move(column));
    }
  }
  line += '\n';
  writer.Write(line);
  // Each row goes out whole as soon as it is made: nothing of a step is kept past its row.
  for (int64_t s = 0; s < steps; ++s) {
    model.AdvanceOneStep();
    const StepMeasures& m = model.Measures.Latest();
    line = std::to_string(m.Step);
    for (const MeasureColumn& column : columns) {
      line += ',';
      AppendField(line, ReadColumn(column, m, model.GroupCount));
    }
    line += '\n';
    writer.Write(line);
    if (large) err << "# step " << model.StepCount << " done" << std::endl;
    pictures.AfterStep(model);
    exports.AfterStep(model, s + 1 == steps);
  }
  pictures.AtEnd(model);
  exports.Commit();
  model.FindClusters();
  if (o.saveRun) SaveRun(model, model.Analysis, *o.saveRun);
  char tail[80];
  std::snprintf(tail, sizeof tail, "clusters,%" PRId64 "\ndigest,%016" PRIx64 "\n",
                model.Measures.LastClusterCount.value_or(0), StateDigest(model));
  writer.Write(tail);
  return 0;
}

}  // namespace

int ExecuteRun(const RunOptions& options, std::FILE* out, std::ostream& err) {
  return ExitStatusOf([&] { return Execute(options, out, err); }, out, err);
}

int ExitStatusOf(const std::function<int()>& command, std::FILE* out, std::ostream& err) {
  try {
    return command();
  } catch (const UsageError& e) {
    std::fflush(out);
    err << e.what() << "\n";
    return kUsageStatus;
  } catch (const SegworkError& e) {
    std::fflush(out);
    err << e.what() << "\n";
    return kFailureStatus;
  } catch (const std::bad_alloc&) {
    std::fflush(out);
    err << "segwork-cli: out of memory\n";
    return kFailureStatus;
  } catch (const std::exception& e) {
    std::fflush(out);
    err << "segwork-cli: " << e.what() << "\n";
    return kFailureStatus;
  }
}

}  // namespace segwork::cli
