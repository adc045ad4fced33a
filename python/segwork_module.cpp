// The compiled half of the `segwork` Python module: the command line's own commands and a
// simulation held in memory. The Python half (segwork/__init__.py) turns keywords into the
// command line's words and results into DataFrames.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "analysis/measure_catalog.h"
#include "cli/command_line.h"
#include "cli/experiment_command.h"
#include "cli/output.h"
#include "cli/run_command.h"
#include "cli/run_saved.h"
#include "core/errors.h"
#include "core/parameters.h"
#include "display/raster_canvas.h"
#include "display/rendering.h"
#include "files/picture.h"
#include "files/saved_run.h"
#include "files/scenario.h"
#include "sim/engine.h"

namespace py = pybind11;

namespace segwork::python {
namespace {

// What a command printed: its rows, and its messages.
struct Printed {
  int status = 0;
  std::string out;
  std::string err;
};

// Standard output of a command, in memory.
class MemoryFile {
 public:
  MemoryFile() : file_(open_memstream(&data_, &size_)) {
    if (!file_) throw std::bad_alloc();
  }
  ~MemoryFile() {
    if (file_) std::fclose(file_);
    std::free(data_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  std::FILE* get() { return file_; }
  std::string Take() {
    std::fclose(file_);
    file_ = nullptr;
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

// The whole command line, words after the program's name, without the interpreter's lock.
Printed Command(const std::vector<std::string>& words) {
  std::vector<const char*> argv = {"segwork-cli"};
  for (const std::string& w : words) argv.push_back(w.c_str());
  MemoryFile out;
  std::ostringstream info, err;
  Printed p;
  {
    py::gil_scoped_release free;
    p.status = cli::RunCommandLine(int(argv.size()), argv.data(), out.get(), info, err);
  }
  p.out = out.Take() + info.str();
  p.err = err.str();
  return p;
}

// A run's controls without an option of their own (the weights), as name and text.
using Overrides = std::vector<std::pair<std::string, std::string>>;

void SetOverrides(cli::RunOptions& o, const Overrides& overrides) {
  for (const auto& [name, value] : overrides) {
    const Parameter* p = FindParameter(name);
    if (!p) throw SegworkError("no parameter is named '" + name + "'");
    o.controlOverrides.push_back({p, value});
  }
}

// `segwork-cli run` with the controls without an option set too.
Printed Run(const std::vector<std::string>& words, const Overrides& overrides) {
  cli::RunOptions o = cli::ParseRunWords(words);
  SetOverrides(o, overrides);
  MemoryFile out;
  std::ostringstream err;
  Printed p;
  {
    py::gil_scoped_release free;
    p.status = cli::ExecuteRun(o, out.get(), err);
  }
  p.out = out.Take();
  p.err = err.str();
  return p;
}

// An experiment on a thread of its own; the caller's thread waits with the lock released, shows
// progress and stops the experiment after whole runs on an interrupt (KeyboardInterrupt).
Printed Experiment(const std::vector<std::string>& words, const Overrides& overrides,
                   const py::object& progress) {
  auto [run, experiment] = cli::ParseExperimentWords(words);
  SetOverrides(run, overrides);
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t done = 0, total = 0;
  bool finished = false;
  cli::ExperimentHooks hooks;
  hooks.stop = &stop;
  hooks.started = [&](const std::string&, uint64_t d, uint64_t t) {
    const std::lock_guard lock(mutex);
    done = d, total = t;
    changed.notify_all();
  };
  hooks.runDone = [&](uint64_t, const std::string&, uint64_t d, uint64_t t) {
    const std::lock_guard lock(mutex);
    done = d, total = t;
    changed.notify_all();
  };
  MemoryFile out;
  std::ostringstream err;
  Printed p;
  std::thread worker([&] {
    p.status = cli::ExecuteExperiment(run, experiment, out.get(), err, &hooks);
    const std::lock_guard lock(mutex);
    finished = true;
    changed.notify_all();
  });
  bool interrupted = false;
  for (uint64_t shown = 0;;) {
    uint64_t nowDone = 0, nowTotal = 0;
    bool over = false;
    {
      py::gil_scoped_release free;
      std::unique_lock lock(mutex);
      changed.wait_for(lock, std::chrono::milliseconds(100));
      nowDone = done, nowTotal = total, over = finished;
    }
    if (!progress.is_none() && nowDone != shown) {
      progress(nowDone, nowTotal);
      shown = nowDone;
    }
    if (over) break;
    if (!interrupted && PyErr_CheckSignals() != 0) {
      interrupted = true;
      stop = true;
    }
  }
  {
    py::gil_scoped_release free;
    worker.join();
  }
  if (interrupted) throw py::error_already_set();
  p.out = out.Take();
  p.err = err.str();
  return p;
}

// One simulation in memory, set up as `segwork-cli run` sets one up, stepped on request.
class PySimulation {
 public:
  static std::unique_ptr<PySimulation> Prepare(const std::vector<std::string>& words,
                                               const Overrides& overrides, int64_t history,
                                               const std::string& measures) {
    cli::RunOptions o = cli::ParseRunWords(words);
    SetOverrides(o, overrides);
    auto s = std::make_unique<PySimulation>(history);
    std::ostringstream err;
    {
      py::gil_scoped_release free;
      s->sim_ = cli::PrepareRun(o, EngineOf(o), err, false);
    }
    s->warnings_ = err.str();
    s->Start(measures);
    return s;
  }

  static std::unique_ptr<PySimulation> Open(const std::string& path, const std::string& engine,
                                            int64_t history, const std::string& measures) {
    cli::RunOptions o;
    o.openRun = path;
    o.engine = engine;
    auto s = std::make_unique<PySimulation>(history);
    {
      py::gil_scoped_release free;
      s->sim_ = cli::OpenSavedRun(o, EngineOf(o));
    }
    s->Start(measures);
    return s;
  }

  explicit PySimulation(int64_t history) : historyCap_(history) {}

  void Step(int64_t n) {
    if (n < 0) throw py::value_error("step(n): n is below 0");
    for (int64_t i = 0; i < n; ++i) {
      {
        py::gil_scoped_release free;
        sim_->AdvanceOneStep();
      }
      Record();
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
  }

  int64_t StepCount() const { return sim_->StepCount; }
  int32_t GroupCount() const { return sim_->GroupCount; }
  const std::string& Warnings() const { return warnings_; }

  // The latest step's measures of every step, by their column names.
  py::dict Measures() {
    py::dict d;
    if (sim_->Measures.empty()) return d;
    const std::vector<double> row = Row(sim_->Measures.Latest());
    d["step"] = sim_->Measures.Latest().Step;
    for (size_t c = 1; c < columns_.size(); ++c) {
      // Counts as integers, as the rows write them.
      if (integer_[c - 1]) {
        d[py::str(columns_[c])] = int64_t(row[c]);
      } else {
        d[py::str(columns_[c])] = row[c];
      }
    }
    if (sim_->Measures.LastClusterCount) d["clusters"] = *sim_->Measures.LastClusterCount;
    return d;
  }

  std::vector<std::string> Columns() const { return columns_; }
  // The steps kept, a row each, in the order of Columns().
  py::array_t<double> History() const {
    py::array_t<double> a({py::ssize_t(history_.size()), py::ssize_t(columns_.size())});
    auto view = a.mutable_unchecked<2>();
    for (size_t r = 0; r < history_.size(); ++r) {
      for (size_t c = 0; c < columns_.size(); ++c) view(r, c) = history_[r][c];
    }
    return a;
  }

  // The cells' groups (0 empty) as the model holds them: a read-only view, rows outer.
  static py::array Groups(py::object self) {
    const PySimulation& s = self.cast<const PySimulation&>();
    const auto& state = s.sim_->Cells.State;
    py::array a(py::dtype::of<int32_t>(), {s.sim_->RowCount, s.sim_->ColCount},
                {py::ssize_t(sizeof(int32_t)) * s.sim_->ColCount, py::ssize_t(sizeof(int32_t))},
                state.data(), self);
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
  }

  py::array_t<int32_t> Streets() const {
    const CellSpace& c = sim_->Cells;
    py::array_t<int32_t> a({c.RowCount, c.ColCount});
    std::copy(c.Street.begin(), c.Street.end(), a.mutable_data());
    return a;
  }

  // Each occupied cell's similar share in percent, as the satisfaction measures read it.
  py::array_t<double> Shares() const {
    const CellSpace& c = sim_->Cells;
    py::array_t<double> a({c.RowCount, c.ColCount});
    double* out = a.mutable_data();
    for (size_t i = 0; i < c.size(); ++i) {
      out[i] = c.Occupied[i] && c.State[i] > 0 ? c.SimilarShare[i] : std::nan("");
    }
    return a;
  }

  // The world painted as the window paints it: height x width x RGB.
  py::array_t<uint8_t> Picture() const {
    const RasterCanvas canvas = Painted();
    py::array_t<uint8_t> a({canvas.Height(), canvas.Width(), 3});
    uint8_t* out = a.mutable_data();
    const uint32_t* pixels = canvas.Pixels();
    for (size_t i = 0; i < size_t(canvas.Width()) * size_t(canvas.Height()); ++i) {
      out[3 * i] = uint8_t(pixels[i] >> 16), out[3 * i + 1] = uint8_t(pixels[i] >> 8);
      out[3 * i + 2] = uint8_t(pixels[i]);
    }
    return a;
  }

  void SavePicture(const std::string& path) const { SavePng(Painted(), path); }

  std::string Digest() const {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", (unsigned long long)cli::StateDigest(*sim_));
    return hex;
  }

  int64_t Clusters() {
    sim_->FindClusters();
    return sim_->Measures.LastClusterCount.value_or(0);
  }

  uint32_t Seed() const { return sim_->Seed; }

  py::dict Params() const {
    py::dict d;
    for (const Parameter& p : Parameters()) d[py::str(p.PythonName())] = p.get(sim_->Controls);
    return d;
  }

  void SaveRunFile(const std::string& path) const { SaveRun(*sim_, sim_->Analysis, path); }
  void SaveScenarioFile(const std::string& path) const { SaveScenario(ScenarioOf(*sim_), path); }

 private:
  RasterCanvas Painted() const {
    RasterCanvas canvas(sim_->PanelWidth, sim_->PanelHeight);
    RepaintAll(sim_->Cells, sim_->Agents, canvas);
    return canvas;
  }

  static EngineKind EngineOf(const cli::RunOptions& o) {
    return o.engine == "literal" ? EngineKind::Literal : EngineKind::Fast;
  }

  // The columns of `run`, or of `run --measures` with a list.
  void Start(const std::string& list) {
    sim_->History = MeasureHistory::LatestOnly;
    std::vector<const Measure*> measures;
    if (list.empty()) {
      for (const char* name : {"agents", "movers", "is", "sat"}) {
        measures.push_back(&MeasureNamed(name));
      }
    } else {
      measures = ParseMeasureList(list, "measures");
      for (const Measure* m : measures) {
        if (m->available == MeasureAvailable::RunEnd) {
          throw SegworkError(std::string("measures: ") + m->name +
                             " is a measure of an experiment's runs, not of a step");
        }
      }
    }
    sim_->RecordSpatialMeasures = NeedsSpatialMeasures(measures);
    columns_ = {"step"};
    for (const Measure* measure : measures) {
      for (MeasureColumn& c : ColumnsOf(*measure, sim_->GroupCount)) {
        columns_.push_back(c.name);
        integer_.push_back(false);
        measureColumns_.push_back(std::move(c));
      }
    }
  }

  std::vector<double> Row(const StepMeasures& m) {
    std::vector<double> row = {double(m.Step)};
    for (size_t c = 0; c < measureColumns_.size(); ++c) {
      const MeasureValue v = ReadColumn(measureColumns_[c], m, sim_->GroupCount);
      integer_[c] = v.kind == MeasureValue::Kind::Integer;
      row.push_back(v.kind == MeasureValue::Kind::Integer ? double(v.integer)
                    : v.kind == MeasureValue::Kind::Real  ? v.real
                                                          : std::nan(""));
    }
    return row;
  }

  void Record() {
    if (historyCap_ == 0) return;
    history_.push_back(Row(sim_->Measures.Latest()));
    if (historyCap_ > 0 && int64_t(history_.size()) > historyCap_) history_.pop_front();
  }

  std::unique_ptr<cli::HeadlessRun> sim_;
  std::string warnings_;
  std::vector<MeasureColumn> measureColumns_;
  std::vector<bool> integer_;  // per measure column: the latest value was an integer
  std::vector<std::string> columns_;
  int64_t historyCap_;  // steps kept; below 0: all
  std::deque<std::vector<double>> history_;
};

// What a keyword may be: the parameter table's rows.
py::list ParameterRows() {
  py::list rows;
  for (const Parameter& p : Parameters()) {
    py::dict row;
    row["name"] = p.name;
    row["python"] = p.PythonName();
    row["option"] = p.HasOption();
    row["default"] = p.Default();
    row["help"] = p.help ? p.help : "";
    const char* kinds[] = {"text", "position", "choice", "flag", "yesno", "weight"};
    row["kind"] = kinds[int(p.kind)];
    if (p.kind == ParameterKind::Position) row["range"] = py::make_tuple(p.low, p.high);
    py::list words;
    for (const char* w : p.words) {
      if (w) words.append(w);
    }
    row["words"] = words;
    rows.append(row);
  }
  return rows;
}

py::list MeasureRows() {
  py::list rows;
  for (const Measure& m : segwork::Measures()) {
    rows.append(py::make_tuple(m.name, m.shape == MeasureShape::PerGroup, m.description));
  }
  return rows;
}

}  // namespace
}  // namespace segwork::python

PYBIND11_MODULE(_segwork, m) {
  using namespace segwork::python;
  m.doc() = "The compiled core of segwork; use the segwork package.";
  // The command line's refusals and the model's are its messages.
  py::register_exception<segwork::SegworkError>(m, "SegworkError", PyExc_ValueError);
  m.def(
      "command",
      [](const std::vector<std::string>& words) {
        const Printed p = Command(words);
        return py::make_tuple(p.status, py::bytes(p.out), p.err);
      },
      "Runs the command line's words; returns (status, standard output, messages).");
  m.def("run", [](const std::vector<std::string>& words, const Overrides& overrides) {
    const Printed p = Run(words, overrides);
    return py::make_tuple(p.status, py::bytes(p.out), p.err);
  });
  m.def(
      "experiment",
      [](const std::vector<std::string>& words, const Overrides& overrides, py::object progress) {
        const Printed p = Experiment(words, overrides, progress);
        return py::make_tuple(p.status, py::bytes(p.out), p.err);
      },
      py::arg("words"), py::arg("overrides"), py::arg("progress") = py::none());
  m.def("parameters", &ParameterRows);
  m.def("measures", &MeasureRows);
  py::class_<PySimulation>(m, "Simulation")
      .def_static("prepare", &PySimulation::Prepare)
      .def_static("open", &PySimulation::Open)
      .def("step", &PySimulation::Step)
      .def_property_readonly("step_count", &PySimulation::StepCount)
      .def_property_readonly("group_count", &PySimulation::GroupCount)
      .def_property_readonly("warnings", &PySimulation::Warnings)
      .def_property_readonly("measures", &PySimulation::Measures)
      .def_property_readonly("columns", &PySimulation::Columns)
      .def("history", &PySimulation::History)
      .def_property_readonly("groups", &PySimulation::Groups)
      .def("streets", &PySimulation::Streets)
      .def("shares", &PySimulation::Shares)
      .def("picture", &PySimulation::Picture)
      .def("save_picture", &PySimulation::SavePicture)
      .def_property_readonly("digest", &PySimulation::Digest)
      .def("clusters", &PySimulation::Clusters)
      .def_property_readonly("seed", &PySimulation::Seed)
      .def("params", &PySimulation::Params)
      .def("save_run", &PySimulation::SaveRunFile)
      .def("save_scenario", &PySimulation::SaveScenarioFile);
}
