#include "ui/ExperimentWindow.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <set>
#include <sstream>

#include "analysis/measure_catalog.h"
#include "cli/sweep_file.h"
#include "core/convert.h"
#include "core/errors.h"
#include "core/parameters.h"
#include "ui/MainForm.h"
#include "ui/chart_axes.h"
#include "ui/chart_export.h"
#include "ui/error_reporter.h"
#include "ui/look.h"

namespace segwork::ui {

namespace {

// The fields of a row: a field in double quotes may hold commas (a weight's decimal comma).
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"', ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// A value as a number, a decimal comma as well as a point; false for a word.
bool Number(const std::string& text, double& value) {
  bool ok = false;
  value = QString::fromStdString(text).replace(',', '.').toDouble(&ok);
  return ok && std::isfinite(value);
}

QString Duration(double seconds) {
  const auto s = static_cast<long long>(std::ceil(seconds));
  if (s < 60) return QString("%1 s").arg(s);
  if (s < 3600) return QString("%1 min %2 s").arg(s / 60).arg(s % 60);
  return QString("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
}

// The engine's messages as the window shows them: without the command's name or progress lines.
QString Messages(const std::string& text) {
  QStringList lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("segwork-cli: ", 0) == 0) line.erase(0, 13);
    lines << QString::fromStdString(line);
  }
  return lines.join('\n');
}

const QColor kLineColours[] = {QColor(31, 119, 180),  QColor(255, 127, 14),  QColor(44, 160, 44),
                               QColor(214, 39, 40),   QColor(148, 103, 189), QColor(140, 86, 75),
                               QColor(227, 119, 194), QColor(127, 127, 127)};

constexpr const char* kNoLines = "none";

}  // namespace

ExperimentWindow::ExperimentWindow(TForm1& main, QWidget* parent)
    : QWidget(parent, Qt::Window), main_(main) {
  setObjectName("ExperimentWindow");
  setWindowTitle("Experiment");
  setFont(WindowFont());
  resize(1000, 640);

  auto* settings = new QWidget(this);
  settings->setFixedWidth(330);
  auto* left = new QVBoxLayout(settings);
  left->setContentsMargins(0, 0, 0, 0);

  auto* varyBox = new QGroupBox("parameters to vary", settings);
  auto* varyLayout = new QVBoxLayout(varyBox);
  vary_ = new QTableWidget(0, 2, varyBox);
  vary_->setObjectName("T_vary");
  vary_->setHorizontalHeaderLabels({"parameter", "values"});
  vary_->verticalHeader()->hide();
  vary_->horizontalHeader()->setStretchLastSection(true);
  vary_->setColumnWidth(0, 130);
  vary_->verticalHeader()->setDefaultSectionSize(24);
  vary_->setMinimumHeight(24 * 4 + 26);
  vary_->setToolTip(
      "Values as a list (1,2,5; weights with a decimal comma as 0,5;1) or a range "
      "from:step:to (1:1:4 is 1, 2, 3, 4)");
  varyLayout->addWidget(vary_);
  auto* varyButtons = new QHBoxLayout;
  auto* add = new QPushButton("add", varyBox);
  add->setObjectName("B_addVary");
  auto* remove = new QPushButton("remove", varyBox);
  remove->setObjectName("B_removeVary");
  combinations_ = new QLabel(varyBox);
  combinations_->setObjectName("Lbl_combinations");
  varyButtons->addWidget(add);
  varyButtons->addWidget(remove);
  varyButtons->addStretch(1);
  varyLayout->addLayout(varyButtons);
  varyLayout->addWidget(combinations_);
  left->addWidget(varyBox, 2);

  auto* runBox = new QGroupBox("each run", settings);
  auto* form = new QFormLayout(runBox);
  auto edit = [&](const char* name, const QString& text, const QString& tip) {
    auto* e = new QLineEdit(text, runBox);
    e->setObjectName(name);
    e->setToolTip(tip);
    return e;
  };
  runs_ = edit("E_runs", "1", "Runs of each combination, each with a seed of its own");
  steps_ = edit("E_steps", QString::fromStdString(main_.model().Controls.Text(Field::E_stopT)),
                "Time steps of every run at the most");
  settled_ = new QCheckBox("end a run at its first step without movers", runBox);
  settled_->setObjectName("CB_untilSettled");
  every_ = edit("E_every", "", "A row every K steps and one at the end; empty: a row at the end");
  seed_ = edit("E_seed", "", "Seed of the experiment; empty: drawn from the clock");
  form->addRow("repetitions:", runs_);
  form->addRow("steps:", steps_);
  form->addRow(settled_);
  form->addRow("row every:", every_);
  form->addRow("seed:", seed_);
  left->addWidget(runBox);

  auto* measureBox = new QGroupBox("measures", settings);
  auto* measureLayout = new QVBoxLayout(measureBox);
  measures_ = new QListWidget(measureBox);
  measures_->setObjectName("L_measures");
  measureLayout->addWidget(measures_);
  left->addWidget(measureBox, 1);
  SetMeasures(cli::ExperimentOptions().measures);

  auto* files = new QHBoxLayout;
  auto* open = new QPushButton("Open experiment…", settings);
  open->setObjectName("B_openExperiment");
  auto* save = new QPushButton("Save experiment…", settings);
  save->setObjectName("B_saveExperiment");
  save->setToolTip(
      "The main window's settings with this experiment, for segwork-cli experiment "
      "--scenario FILE");
  open->setToolTip(
      "This window's fields from a saved experiment; the main window keeps its "
      "settings (its \"Open scenario…\" takes the file's)");
  files->addWidget(open);
  files->addWidget(save);
  left->addLayout(files);
  auto* rows = new QHBoxLayout;
  auto* chooseOutput = new QPushButton("Rows to…", settings);
  chooseOutput->setObjectName("B_output");
  outputLabel_ = new QLabel("(no file chosen)", settings);
  outputLabel_->setObjectName("Lbl_output");
  outputLabel_->setMinimumWidth(10);
  rows->addWidget(chooseOutput);
  rows->addWidget(outputLabel_, 1);
  left->addLayout(rows);
  auto* buttons = new QHBoxLayout;
  run_ = new QPushButton("run", settings);
  run_->setObjectName("B_runExperiment");
  stop_ = new QPushButton("stop", settings);
  stop_->setObjectName("B_stopExperiment");
  stop_->setEnabled(false);
  buttons->addWidget(run_);
  buttons->addWidget(stop_);
  left->addLayout(buttons);
  progress_ = new QProgressBar(settings);
  progress_->setObjectName("PB_runs");
  progress_->setFormat("%v / %m runs");
  progress_->setRange(0, 1);
  progress_->setValue(0);
  left->addWidget(progress_);
  timeLeft_ = new QLabel(settings);
  timeLeft_->setObjectName("Lbl_timeLeft");
  status_ = new QLabel(settings);
  status_->setObjectName("Lbl_status");
  status_->setWordWrap(true);
  left->addWidget(timeLeft_);
  left->addWidget(status_);

  auto* chartSide = new QWidget(this);
  auto* right = new QVBoxLayout(chartSide);
  right->setContentsMargins(0, 0, 0, 0);
  auto* choices = new QHBoxLayout;
  auto combo = [&](const char* name, const char* caption) {
    choices->addWidget(new QLabel(caption, chartSide));
    auto* c = new QComboBox(chartSide);
    c->setObjectName(name);
    c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    choices->addWidget(c);
    return c;
  };
  measure_ = combo("CB_measure", "measure:");
  x_ = combo("CB_x", "against:");
  lines_ = combo("CB_lines", "lines by:");
  choices->addStretch(1);
  right->addLayout(choices);
  chart_ = new QChartView(new QChart, chartSide);
  chart_->setObjectName("Chart_Experiment");
  chart_->setRenderHint(QPainter::Antialiasing);
  chart_->chart()->setBackgroundBrush(Qt::white);
  chart_->setFrameShape(QFrame::Box);
  right->addWidget(chart_, 1);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(settings);
  layout->addWidget(chartSide, 1);

  // Runs end faster than a chart is drawn: it is rebuilt at most a few times a second.
  chartLater_ = new QTimer(this);
  chartLater_->setSingleShot(true);
  chartLater_->setInterval(200);
  connect(chartLater_, &QTimer::timeout, this, &ExperimentWindow::RebuildChart);
  for (QComboBox* c : {measure_, x_, lines_}) {
    connect(c, &QComboBox::currentIndexChanged, this, [this] { chartLater_->start(); });
  }
  AddChartExport(chart_, [this] {
    ChartData data;
    for (QAbstractSeries* s : chart_->chart()->series()) {
      auto* line = qobject_cast<QLineSeries*>(s);
      if (!line) continue;
      ExportSeries e{line->name().toStdString(), x_->currentText().toStdString(), {}};
      for (const QPointF& p : line->points()) e.points.push_back({p.x(), p.y()});
      data.push_back(std::move(e));
    }
    return data;
  });

  connect(add, &QPushButton::clicked, this, [this] {
    // The first parameter not varied yet, at its value in the main window.
    std::set<QString> used;
    for (int r = 0; r < vary_->rowCount(); ++r) {
      used.insert(qobject_cast<QComboBox*>(vary_->cellWidget(r, 0))->currentText());
    }
    for (const Parameter& p : Parameters()) {
      if (std::string_view(p.name) == "steps" || used.count(p.name)) continue;
      AddVaryRow(p.name, QString::fromStdString(p.get(main_.model().Controls)));
      return;
    }
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    const int row = vary_->currentRow() >= 0 ? vary_->currentRow() : vary_->rowCount() - 1;
    if (row >= 0) vary_->removeRow(row);
    ShowCombinations();
  });
  connect(vary_, &QTableWidget::itemChanged, this, [this] { ShowCombinations(); });
  connect(runs_, &QLineEdit::textChanged, this, [this] { ShowCombinations(); });
  connect(chooseOutput, &QPushButton::clicked, this, [this] {
    const QString caption = "Rows of the experiment (a file of this experiment is continued)";
    const QString filter = "CSV files (*.csv);;All files (*)";
    QString path = SavePathPrompt::ask
                       ? SavePathPrompt::ask(this, caption, "experiment.csv", filter)
                       : QFileDialog::getSaveFileName(this, caption, "experiment.csv", filter,
                                                      nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += ".csv";
    SetOutput(path);
  });
  connect(run_, &QPushButton::clicked, this, [this] { Run(); });
  connect(stop_, &QPushButton::clicked, this, [this] { Stop(); });
  connect(save, &QPushButton::clicked, this, [this] {
    const QString filter = "Scenarios (*.json);;All files (*)";
    QString path =
        SavePathPrompt::ask
            ? SavePathPrompt::ask(this, "Save experiment", "experiment.json", filter)
            : QFileDialog::getSaveFileName(this, "Save experiment", "experiment.json", filter);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += ".json";
    SaveExperimentTo(path);
  });
  connect(open, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this, "Open experiment", QString(),
                                                      "Scenarios (*.json);;All files (*)");
    if (!path.isEmpty()) OpenExperimentFrom(path);
  });
  ShowCombinations();
}

ExperimentWindow::~ExperimentWindow() {
  stopFlag_ = true;
  if (worker_.joinable()) worker_.join();
}

void ExperimentWindow::AddVaryRow(const QString& name, const QString& values) {
  const int row = vary_->rowCount();
  vary_->insertRow(row);
  auto* parameter = new QComboBox(vary_);
  for (const Parameter& p : Parameters()) {
    if (std::string_view(p.name) != "steps") parameter->addItem(p.name);
  }
  parameter->setCurrentText(name);
  connect(parameter, &QComboBox::currentIndexChanged, this, [this] { ShowCombinations(); });
  vary_->setCellWidget(row, 0, parameter);
  vary_->setItem(row, 1, new QTableWidgetItem(values));
  ShowCombinations();
}

void ExperimentWindow::SetMeasures(const std::string& names) {
  // The measures named first and in their order, as the rows have their columns.
  std::vector<std::string> chosen;
  std::istringstream in(names);
  for (std::string name; std::getline(in, name, ',');) chosen.push_back(name);
  measures_->clear();
  auto add = [&](const Measure& m, bool checked) {
    auto* item = new QListWidgetItem(m.name, measures_);
    item->setToolTip(m.description);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  };
  for (const std::string& name : chosen) {
    if (const Measure* m = FindMeasure(name)) add(*m, true);
  }
  for (const Measure& m : Measures()) {
    if (std::find(chosen.begin(), chosen.end(), m.name) == chosen.end()) add(m, false);
  }
}

cli::ExperimentOptions ExperimentWindow::Options() const {
  cli::ExperimentOptions e;
  std::set<std::string> varied;
  for (int r = 0; r < vary_->rowCount(); ++r) {
    const std::string name =
        qobject_cast<QComboBox*>(vary_->cellWidget(r, 0))->currentText().toStdString();
    const QTableWidgetItem* item = vary_->item(r, 1);
    const std::string text = name + '=' + (item ? item->text().trimmed().toStdString() : "");
    const std::string where = "parameters to vary, row " + std::to_string(r + 1) + ": ";
    try {
      cli::ParseVary(text);
    } catch (const SegworkError& error) {
      std::string message = error.what();
      if (message.rfind("--vary ", 0) == 0) message.erase(0, 7);
      throw SegworkError(where + message);
    }
    if (!varied.insert(name).second) throw SegworkError(where + name + " is varied twice");
    e.vary.push_back(text);
  }
  auto positive = [](const QLineEdit* field, const char* caption) {
    const std::string text = field->text().trimmed().toStdString();
    try {
      if (StrToInt(text) >= 1) return text;
    } catch (const SegworkError&) {
    }
    throw SegworkError(std::string(caption) + ": '" + text + "' is not a whole number from 1");
  };
  e.runs = positive(runs_, "repetitions");
  positive(steps_, "steps");
  if (settled_->isChecked()) e.until = "settled";
  if (!every_->text().trimmed().isEmpty()) e.every = positive(every_, "row every");
  if (!seed_->text().trimmed().isEmpty()) {
    try {
      StrToSeed(seed_->text().trimmed().toStdString());
    } catch (const SegworkError& error) {
      throw SegworkError(std::string("seed: ") + error.what());
    }
  }
  e.measures.clear();
  for (int i = 0; i < measures_->count(); ++i) {
    if (measures_->item(i)->checkState() != Qt::Checked) continue;
    e.measures += (e.measures.empty() ? "" : ",") + measures_->item(i)->text().toStdString();
  }
  if (e.measures.empty()) throw SegworkError("measures: check at least one");
  return e;
}

Scenario ExperimentWindow::ScenarioWith(const cli::ExperimentOptions& options) const {
  Scenario s = ScenarioOf(main_.model().Sim);
  s.controls.onFieldRewritten = nullptr;
  s.controls.Text(Field::E_stopT) = steps_->text().trimmed().toStdString();
  s.seed.reset();
  if (!seed_->text().trimmed().isEmpty()) s.seed = StrToSeed(seed_->text().trimmed().toStdString());
  // A grid without a street says nothing a setup would not make, and would fix every run to its
  // size: left out, a varied cell size makes its own.
  if (s.lines.empty() && s.streets &&
      std::all_of(s.streets->types.begin(), s.streets->types.end(),
                  [](int32_t type) { return type == 0; })) {
    s.streets.reset();
  }
  s.sweep.reset();
  s.experiment = cli::SettingsOf(options);
  return s;
}

void ExperimentWindow::ShowCombinations() {
  uint64_t combinations = 1;
  try {
    for (int r = 0; r < vary_->rowCount(); ++r) {
      const QTableWidgetItem* item = vary_->item(r, 1);
      const std::string text =
          qobject_cast<QComboBox*>(vary_->cellWidget(r, 0))->currentText().toStdString() + '=' +
          (item ? item->text().trimmed().toStdString() : "");
      combinations *= cli::ParseVary(text).values.size();
    }
  } catch (const SegworkError& error) {
    combinations_->setText("? combinations");
    combinations_->setToolTip(error.what());
    return;
  }
  QString text = QString("%1 combination%2").arg(combinations).arg(combinations == 1 ? "" : "s");
  bool ok = false;
  const qulonglong runs = runs_->text().trimmed().toULongLong(&ok);
  if (ok && runs >= 1) {
    text += QString(" × %1 repetition%2 = %3 run%4")
                .arg(runs)
                .arg(runs == 1 ? "" : "s")
                .arg(combinations * runs)
                .arg(combinations * runs == 1 ? "" : "s");
  }
  combinations_->setText(text);
  combinations_->setToolTip(QString());
}

void ExperimentWindow::SetOutput(const QString& path) {
  output_ = path;
  outputLabel_->setText(QFileInfo(path).fileName());
  outputLabel_->setToolTip(path);
}

bool ExperimentWindow::SaveExperimentTo(const QString& path) {
  main_.CommitWeightEditor();
  return main_.Guarded([&] { SaveScenario(ScenarioWith(Options()), path.toStdString()); });
}

bool ExperimentWindow::OpenExperimentFrom(const QString& path) {
  if (running_) {
    ErrorReporter::Instance().Report("experiment running", "Stop the experiment first.");
    return false;
  }
  return main_.Guarded([&] {
    const std::string name = path.toStdString();
    const Scenario s = LoadScenario(name);
    if (!s.experiment) throw SegworkError(name + ": experiment: missing; it holds no experiment");
    const ExperimentSettings& e = *s.experiment;
    if (!e.design.empty()) {
      throw SegworkError(name + ": experiment: runs the design table " + e.design +
                         "; this window varies parameters by lists and ranges: run it with "
                         "segwork-cli experiment --scenario " +
                         name);
    }
    // Checked before a field changes: a name the table has no row for would become another.
    std::vector<std::pair<QString, QString>> rows;
    for (const std::string& text : e.vary) {
      try {
        cli::ParseVary(text);
      } catch (const SegworkError& error) {
        std::string message = error.what();
        if (message.rfind("--vary ", 0) == 0) message.erase(0, 7);
        throw SegworkError(name + ": experiment: vary: " + message);
      }
      const size_t equals = text.find('=');
      rows.emplace_back(QString::fromStdString(text.substr(0, equals)),
                        QString::fromStdString(text.substr(equals + 1)));
    }
    std::istringstream measures(e.measures);
    for (std::string measure; std::getline(measures, measure, ',');) {
      if (!FindMeasure(measure)) {
        throw SegworkError(name + ": experiment: measures: no measure is named '" + measure +
                           "'; the measures: " + MeasureNames());
      }
    }
    vary_->setRowCount(0);
    for (const auto& [parameter, values] : rows) AddVaryRow(parameter, values);
    runs_->setText(QString::fromStdString(e.runs));
    steps_->setText(QString::fromStdString(s.controls.Text(Field::E_stopT)));
    settled_->setChecked(!e.until.empty());
    every_->setText(QString::fromStdString(e.every));
    seed_->setText(s.seed ? QString::number(*s.seed) : QString());
    SetMeasures(e.measures.empty() ? cli::ExperimentOptions().measures : e.measures);
    // Another experiment: its rows go to a file of their own.
    output_.clear();
    outputLabel_->setText("(no file chosen)");
    outputLabel_->setToolTip(QString());
    ShowCombinations();
  });
}

bool ExperimentWindow::Run() {
  if (running_) return false;
  main_.CommitWeightEditor();
  cli::ExperimentOptions options;
  std::shared_ptr<Scenario> scenario;
  if (!main_.Guarded([&] {
        options = Options();
        scenario = std::make_shared<Scenario>(ScenarioWith(options));
      })) {
    return false;
  }
  if (output_.isEmpty()) {
    findChild<QPushButton*>("B_output")->click();
    if (output_.isEmpty()) return false;
  }
  options.output = output_.toStdString();
  // A file there already is continued: whole runs of this experiment are kept, any other file
  // is refused with the engine's message.
  options.resume = QFileInfo::exists(output_);
  options.quiet = true;
  const cli::RunOptions run = cli::ScenarioRunOptions(scenario, "the main window's settings");
  // The experiment takes the cores.
  main_.StopRun();

  columns_.clear();
  endRows_.clear();
  stopFlag_ = false;
  running_ = true;
  doneAtStart_ = 0;
  clock_.start();
  progress_->setValue(0);
  status_->setText("starting…");
  timeLeft_->clear();
  ShowRunning();
  const std::string path = *options.output;
  worker_ = std::thread([this, run, options, path] {
    cli::ExperimentHooks hooks;
    hooks.stop = &stopFlag_;
    hooks.started = [this, path](const std::string& header, uint64_t done, uint64_t total) {
      // The rows already there count for the chart.
      std::string kept;
      if (done > 0) {
        std::ifstream in(path, std::ios::binary);
        kept.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      }
      const auto seed = cli::RecordedSeed(path);
      const QString seedText = seed ? QString::number(*seed) : QString();
      QMetaObject::invokeMethod(
          this, [=, this] { Started(header, kept, done, total, seedText); }, Qt::QueuedConnection);
    };
    hooks.runDone = [this](uint64_t, const std::string& rows, uint64_t done, uint64_t total) {
      QMetaObject::invokeMethod(
          this, [=, this] { RunFinished(rows, done, total); }, Qt::QueuedConnection);
    };
    std::ostringstream err;
    const int status = cli::ExecuteExperiment(run, options, stdout, err, &hooks);
    QMetaObject::invokeMethod(
        this, [this, status, messages = err.str()] { Finished(status, messages); },
        Qt::QueuedConnection);
  });
  return true;
}

void ExperimentWindow::Stop() {
  if (!running_) return;
  stopFlag_ = true;
  stop_->setEnabled(false);
  status_->setText("stopping: the runs begun are finished…");
}

void ExperimentWindow::ShowRunning() {
  run_->setEnabled(!running_);
  stop_->setEnabled(running_ && !stopFlag_);
  for (const char* name : {"B_openExperiment", "B_output"}) {
    findChild<QPushButton*>(name)->setEnabled(!running_);
  }
}

void ExperimentWindow::Started(const std::string& header, const std::string& kept, uint64_t done,
                               uint64_t total, const QString& seed) {
  columns_ = Fields(header.substr(0, header.find('\n')));
  stepsColumn_ = 3;
  while (stepsColumn_ < columns_.size() && columns_[stepsColumn_] != "steps" &&
         columns_[stepsColumn_] != "step") {
    ++stepsColumn_;
  }
  TakeRows(kept, done);
  doneAtStart_ = done;
  clock_.start();
  progress_->setRange(0, int(std::min<uint64_t>(total, INT32_MAX)));
  progress_->setValue(int(std::min<uint64_t>(done, INT32_MAX)));
  status_->setText(done == 0
                       ? QString("running")
                       : QString("running on from %1 of %2 runs in the file").arg(done).arg(total));
  if (!seed.isEmpty()) seed_->setPlaceholderText("clock: " + seed);
  FillChartChoices();
  RebuildChart();
}

void ExperimentWindow::RunFinished(const std::string& rows, uint64_t done, uint64_t total) {
  TakeRows(rows, std::numeric_limits<uint64_t>::max());
  progress_->setValue(int(std::min<uint64_t>(done, INT32_MAX)));
  const uint64_t made = done - doneAtStart_;
  if (made > 0 && done < total) {
    const double seconds = clock_.elapsed() / 1000.0 / double(made) * double(total - done);
    timeLeft_->setText("about " + Duration(seconds) + " left");
  } else {
    timeLeft_->clear();
  }
  if (!chartLater_->isActive()) chartLater_->start();
}

void ExperimentWindow::Finished(int status, const std::string& messages) {
  if (worker_.joinable()) worker_.join();
  running_ = false;
  ShowRunning();
  timeLeft_->clear();
  const uint64_t done = uint64_t(progress_->value()), total = uint64_t(progress_->maximum());
  const QString shown = Messages(messages);
  // A seed drawn from the clock is reported; the placeholder shows it, to be typed for a rerun.
  const size_t drawn = messages.find("# seed ");
  if (drawn != std::string::npos) {
    seed_->setPlaceholderText("clock: " + QString::fromStdString(messages.substr(
                                              drawn + 7, messages.find('\n', drawn) - drawn - 7)));
  }
  if (status != 0) {
    status_->setText("failed: " + shown);
    ErrorReporter::Instance().Report("experiment", shown);
  } else if (done < total) {
    status_->setText(QString("stopped after %1 of %2 runs; \"run\" goes on").arg(done).arg(total));
  } else {
    status_->setText(QString("finished: %1 runs in %2%3")
                         .arg(total)
                         .arg(Duration(clock_.elapsed() / 1000.0))
                         .arg(shown.isEmpty() ? QString() : "\n" + shown));
  }
  RebuildChart();
}

void ExperimentWindow::TakeRows(const std::string& text, uint64_t below) {
  std::istringstream in(text);
  bool header = true;
  for (std::string line; std::getline(in, line);) {
    if (header) {  // a file begins with its header; a run's rows have none
      header = false;
      if (line.rfind("run,", 0) == 0) continue;
    }
    std::vector<std::string> fields = Fields(line);
    if (fields.size() != columns_.size()) continue;
    char* end = nullptr;
    const uint64_t run = std::strtoull(fields[0].c_str(), &end, 10);
    // The last row of a run is its end; a partial run after the whole ones is no run yet.
    if (*end == '\0' && run < below) endRows_[run] = std::move(fields);
  }
}

void ExperimentWindow::FillChartChoices() {
  auto fill = [](QComboBox* combo, const QStringList& items, const QString& preferred) {
    const QString was = combo->currentText();
    const QSignalBlocker block(combo);
    combo->clear();
    combo->addItems(items);
    combo->setCurrentText(items.contains(was) ? was : preferred);
  };
  QStringList measures, parameters;
  for (size_t c = stepsColumn_ + 2; c < columns_.size(); ++c) {
    measures << QString::fromStdString(columns_[c]);
  }
  if (stepsColumn_ < columns_.size() && columns_[stepsColumn_] == "steps") measures << "steps";
  for (size_t c = 3; c < stepsColumn_; ++c) parameters << QString::fromStdString(columns_[c]);
  fill(measure_, measures, measures.contains("mean_is") ? "mean_is" : measures.value(0));
  fill(x_, parameters, parameters.value(0));
  fill(lines_, QStringList{kNoLines} + parameters, parameters.value(1, kNoLines));
}

void ExperimentWindow::RebuildChart() {
  QChart* chart = chart_->chart();
  chart->removeAllSeries();
  for (QAbstractAxis* axis : chart->axes()) {
    chart->removeAxis(axis);
    delete axis;
  }
  auto column = [&](const QString& name) -> std::optional<size_t> {
    const auto at = std::find(columns_.begin(), columns_.end(), name.toStdString());
    if (name.isEmpty() || at == columns_.end()) return std::nullopt;
    return size_t(at - columns_.begin());
  };
  const auto m = column(measure_->currentText());
  const auto x = column(x_->currentText());
  const auto by = lines_->currentText() == kNoLines ? std::nullopt : column(lines_->currentText());
  chart->setTitle(m && x ? QString("%1 against %2, mean and range over the repetitions")
                               .arg(measure_->currentText(), x_->currentText())
                         : QString());
  if (!m || !x) return;

  // The values of x in the order the runs have them; a word (a rule, yes or no) stands at its
  // place in that order.
  std::vector<std::string> xValues, lineValues;
  bool numeric = true;
  struct Cell {
    double sum = 0, low = 0, high = 0;
    uint64_t count = 0;
  };
  std::map<std::string, std::map<std::string, Cell>> cells;  // line value → x value → values
  for (const auto& [run, fields] : endRows_) {
    double value = 0, ignored = 0;
    if (!Number(fields[*m], value)) continue;  // no value: a group this run does not have
    const std::string& xv = fields[*x];
    const std::string lv = by ? fields[*by] : std::string();
    if (std::find(xValues.begin(), xValues.end(), xv) == xValues.end()) {
      xValues.push_back(xv);
      numeric = numeric && Number(xv, ignored);
    }
    if (std::find(lineValues.begin(), lineValues.end(), lv) == lineValues.end()) {
      lineValues.push_back(lv);
    }
    Cell& cell = cells[lv][xv];
    cell.low = cell.count ? std::min(cell.low, value) : value;
    cell.high = cell.count ? std::max(cell.high, value) : value;
    cell.sum += value;
    ++cell.count;
  }
  auto position = [&](const std::string& v) {
    double p = 0;
    if (numeric) Number(v, p);
    return numeric ? p : double(std::find(xValues.begin(), xValues.end(), v) - xValues.begin());
  };
  auto* xAxis = numeric ? static_cast<QAbstractAxis*>(new QValueAxis) : new QCategoryAxis;
  auto* yAxis = new QValueAxis;
  xAxis->setTitleText(x_->currentText());
  yAxis->setTitleText(measure_->currentText());
  chart->addAxis(xAxis, Qt::AlignBottom);
  chart->addAxis(yAxis, Qt::AlignLeft);
  double xLow = 0, xHigh = 1, yLow = 0, yHigh = 1;
  bool any = false;
  for (size_t i = 0; i < lineValues.size(); ++i) {
    std::vector<std::pair<double, const Cell*>> points;
    for (const auto& [xv, cell] : cells[lineValues[i]]) points.emplace_back(position(xv), &cell);
    std::sort(points.begin(), points.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    auto* mean = new QLineSeries;
    auto* upper = new QLineSeries;
    auto* lower = new QLineSeries;
    for (const auto& [p, cell] : points) {
      mean->append(p, cell->sum / double(cell->count));
      upper->append(p, cell->high);
      lower->append(p, cell->low);
      xLow = any ? std::min(xLow, p) : p;
      xHigh = any ? std::max(xHigh, p) : p;
      yLow = any ? std::min(yLow, cell->low) : cell->low;
      yHigh = any ? std::max(yHigh, cell->high) : cell->high;
      any = true;
    }
    const QColor colour = kLineColours[i % std::size(kLineColours)];
    mean->setName(by ? lines_->currentText() + " " + QString::fromStdString(lineValues[i])
                     : measure_->currentText());
    mean->setPen(QPen(colour, 2));
    mean->setPointsVisible(true);
    auto* band = new QAreaSeries(upper, lower);
    // The band does not own its edges: they go with it.
    upper->setParent(band);
    lower->setParent(band);
    band->setName(mean->name() + " min–max");
    QColor fill = colour;
    fill.setAlpha(50);
    band->setBrush(fill);
    band->setPen(Qt::NoPen);
    chart->addSeries(band);
    chart->addSeries(mean);
    for (QAbstractSeries* s :
         {static_cast<QAbstractSeries*>(band), static_cast<QAbstractSeries*>(mean)}) {
      s->attachAxis(xAxis);
      s->attachAxis(yAxis);
    }
    for (QLegendMarker* marker : chart->legend()->markers(band)) marker->setVisible(false);
  }
  chart->legend()->setVisible(by.has_value());
  if (xHigh == xLow) xLow -= 1, xHigh += 1;
  if (yHigh == yLow) yLow -= 1, yHigh += 1;
  if (auto* values = qobject_cast<QValueAxis*>(xAxis)) {
    UseNiceTicks(values, true);
    FitNiceRange(values, xLow, xHigh, 0.05);
  } else if (auto* categories = qobject_cast<QCategoryAxis*>(xAxis)) {
    for (size_t i = 0; i < xValues.size(); ++i) {
      categories->append(QString::fromStdString(xValues[i]), double(i));
    }
    categories->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    categories->setRange(-0.5, double(xValues.size()) - 0.5);
  }
  UseNiceTicks(yAxis, false);
  FitNiceRange(yAxis, yLow, yHigh, 0.05);
}

void ExperimentWindow::closeEvent(QCloseEvent* event) {
  // Whole runs only: the runs begun are finished, then the thread ends.
  if (running_) {
    stopFlag_ = true;
    if (worker_.joinable()) worker_.join();
  }
  event->accept();
}

}  // namespace segwork::ui
