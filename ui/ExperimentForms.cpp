#include "ui/ExperimentForms.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>

#include "core/convert.h"
#include "ui/MainForm.h"
#include "ui/chart_export.h"
#include "ui/error_reporter.h"
#include "ui/field_check.h"
#include "ui/look.h"
#include "ui/series_chart.h"
#include "window/CellForm.h"

namespace segwork::ui {

namespace {

constexpr int kChartRefreshMs = 33;

QLabel* Label(const QString& text, QWidget* parent, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->move(x, y);
  label->adjustSize();
  return label;
}

QPushButton* Button(const char* name, const char* caption, QWidget* parent, QRect geometry) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  return button;
}

void SetText(QLabel* label, const std::string& text) {
  const QString q = QString::fromStdString(text);
  if (label->text() != q) label->setText(q);
}

const SeriesLook kData{SeriesLook::Points, QColor(), 1};
const SeriesLook kAverage{SeriesLook::LineWithMarks, QColor(), 1};
const SeriesLook kFit{SeriesLook::Line, QColor(0, 128, 255), 2};
const SeriesLook kTrend{SeriesLook::Line, QColor(255, 128, 0), 1};

}  // namespace

// ----- shared -----

ExperimentForm::ExperimentForm(TForm1& main, SweepWindow& sweep, const char* name,
                               const char* timerName, QWidget* parent)
    : QWidget(parent, Qt::Window), main_(main), sweep_(sweep) {
  setObjectName(name);
  setFont(WindowFont());
  timer_ = new QTimer(this);
  timer_->setObjectName(timerName);
  // As the main window's: one step per tick, as often as the event loop allows.
  timer_->setInterval(0);
  auto* charts = new QTimer(this);
  charts->setInterval(kChartRefreshMs);
  connect(charts, &QTimer::timeout, this, [this] {
    if (isVisible()) RefreshCharts();
  });
  charts->start();
}

QGroupBox* ExperimentForm::BuildSettings(QRect geometry, int top, const char* fromCaption,
                                         const char* startName, const char* breakName,
                                         std::function<void()> start) {
  auto* box = new QGroupBox("settings", this);
  box->setGeometry(geometry);
  struct FieldInfo {
    const char* name;
    const char* caption;
    std::string SweepWindow::*text;
  };
  const FieldInfo fields[5] = {
      {"E_valFrom", fromCaption, &SweepWindow::E_valFrom},
      {"E_valTo", "to:", &SweepWindow::E_valTo},
      {"E_incre", "increment:", &SweepWindow::E_incre},
      {"E_toSteps", "timesteps per value:", &SweepWindow::E_toSteps},
      {"E_calcVals", "calculations per value:", &SweepWindow::E_calcVals},
  };
  int y = top;
  for (const FieldInfo& field : fields) {
    Label(field.caption, box, 8, y + 2);
    if (QString(field.caption).contains('\n')) y += 12;
    auto* edit = new QLineEdit(QString::fromStdString(sweep_.*(field.text)), box);
    edit->setObjectName(field.name);
    edit->setGeometry(132, y, 56, 20);
    // Every field but the run length enters the planned total.
    const bool counts = field.text != &SweepWindow::E_toSteps;
    PausedCheck* check = nullptr;
    if (counts) {
      // The box is titled with the field's caption as it reads on one line, without its colon.
      QString title = QString(field.caption).simplified();
      if (title.endsWith(':')) title.chop(1);
      check = new PausedCheck(
          edit, title, [this] { sweep_.UpdateCalculationCount(); },
          [this](const std::function<void()>& operation) { return Guarded(operation); });
    }
    connect(edit, &QLineEdit::textChanged, this, [this, field, check](const QString& text) {
      sweep_.*(field.text) = text.toStdString();
      if (check) check->Edited();
    });
    y += 26;
  }
  auto* startButton = Button(startName, "new start", box, QRect(8, y + 4, 80, 25));
  auto* breakButton = Button(breakName, "start / stop", box, QRect(96, y + 4, 80, 25));
  connect(startButton, &QPushButton::clicked, this, [this, start] {
    main_.CommitWeightEditor();
    Guarded(start);
  });
  connect(breakButton, &QPushButton::clicked, this,
          [this] { Guarded([&] { sweep_.B_breakClick(); }); });
  y += 38;
  lbl_pSteps_ = Label("0", box, 8, y);
  lbl_pSteps_->setObjectName("lbl_pSteps");
  lbl_pSteps_->setFixedWidth(40);
  lbl_pSteps_->setAlignment(Qt::AlignRight);
  Label(": timesteps", box, 50, y);
  y += 20;
  Lbl_akt_ = Label("0", box, 8, y);
  Lbl_akt_->setObjectName("Lbl_akt");
  Lbl_akt_->setFixedWidth(40);
  Lbl_akt_->setAlignment(Qt::AlignRight);
  Lbl_proceed_ = Label(QString::fromStdString(sweep_.Lbl_proceed), box, 50, y);
  Lbl_proceed_->setObjectName("Lbl_proceed");
  Lbl_proceed_->setMinimumWidth(50);
  calculationsCaption_ = Label(": calculations", box, 102, y);
  ShowCalculationCount();
  auto* undo = Button("B_undoZ", "undoZoom", box, QRect(8, y + 24, 75, 25));
  connect(undo, &QPushButton::clicked, this, [this] { UndoZoom(); });
  auto* save = Button("B_saveSweep", "Save sweep…", box, QRect(96, y + 24, 92, 25));
  connect(save, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, "Save sweep", "sweep.json",
                                                      "Scenarios (*.json);;All files (*)");
    if (!path.isEmpty()) SaveSweepTo(path);
  });
  seedLabel_ = Label("sweep seed:", box, 8, y + 58);
  E_seed_ = new QLineEdit(box);
  E_seed_->setObjectName("E_seed");
  E_seed_->setGeometry(96, y + 56, 92, 20);
  E_seed_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), E_seed_));
  E_seed_->setPlaceholderText("clock");
  E_seed_->setToolTip(
      "Each run's seed is mixed from this one and the run's number, as "
      "segwork-cli sweep --seed mixes it; empty: the clock");
  connect(E_seed_, &QLineEdit::textChanged, this,
          [this](const QString& text) { sweep_.E_seed = text.toStdString(); });
  return box;
}

bool ExperimentForm::SaveSweepTo(const QString& path) {
  main_.CommitWeightEditor();
  return Guarded([&] {
    Scenario scenario = ScenarioOf(main_.model().Sim);
    scenario.controls.Text(Field::E_stopT) = sweep_.E_toSteps;
    scenario.seed.reset();
    if (!sweep_.E_seed.empty()) scenario.seed = StrToSeed(sweep_.E_seed);
    scenario.sweep = Settings();
    SaveScenario(scenario, path.toStdString());
  });
}

bool ExperimentForm::Guarded(const std::function<void()>& operation) {
  const bool ok = main_.Guarded(operation);
  SyncFromSweep();
  return ok;
}

void ExperimentForm::Tick(const std::function<void()>& tick) {
  if (BusyGuard::Busy()) return;
  BusyGuard guard;
  if (!main_.Guarded(tick)) sweep_.TimerEnabled = false;
  SyncFromSweep();
}

void ExperimentForm::SyncFromSweep() {
  SetText(lbl_pSteps_, sweep_.lbl_pSteps);
  SetText(Lbl_akt_, sweep_.Lbl_akt);
  if (Lbl_proceed_->text().toStdString() != sweep_.Lbl_proceed) ShowCalculationCount();
  if (sweep_.TimerEnabled != timer_->isActive()) {
    if (sweep_.TimerEnabled) {
      main_.StopRun();  // the sweep steps the main window's model
      timer_->start();
    } else {
      timer_->stop();
      RefreshCharts();  // the final state, also of a hidden window
    }
  }
}

void ExperimentForm::ShowCalculationCount() {
  SetText(Lbl_proceed_, sweep_.Lbl_proceed);
  // The count is shown whole; its caption follows it and shortens where the box ends.
  Lbl_proceed_->adjustSize();
  const int x = Lbl_proceed_->x() + Lbl_proceed_->width() + 2;
  const int room = Lbl_proceed_->parentWidget()->width() - 8 - x;
  const QString full = ": calculations";
  calculationsCaption_->setText(
      calculationsCaption_->fontMetrics().horizontalAdvance(full) <= room ? full : ": calc.");
  calculationsCaption_->adjustSize();
  calculationsCaption_->move(x, Lbl_proceed_->y());
}

void ExperimentForm::LayOutForResizing(const std::vector<QWidget*>& charts) {
  defaultSize_ = size();
  setMinimumSize(defaultSize_);
  for (QWidget* chart : charts) charts_.push_back({chart, chart->geometry()});
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (std::find(charts.begin(), charts.end(), child) == charts.end()) {
      beside_.push_back({child, child->geometry()});
    }
  }
}

void ExperimentForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (defaultSize_.isEmpty()) return;
  const int dx = std::max(0, width() - defaultSize_.width());
  const int dy = std::max(0, height() - defaultSize_.height());
  const int n = int(charts_.size());
  for (int k = 0; k < n; ++k) {
    const auto& [chart, at] = charts_[size_t(k)];
    const int top = dy * k / n, bottom = dy * (k + 1) / n;
    chart->setGeometry(at.x(), at.y() + top, at.width() + dx, at.height() + bottom - top);
  }
  for (const auto& [widget, at] : beside_) widget->move(at.x() + dx, at.y());
}

void ExperimentForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshCharts();
}

// ----- parameter space -----

TForm3::TForm3(TForm1& main, QWidget* parent)
    : ExperimentForm(main, sweep3_, "TForm3", "Timer2", parent), sweep3_(main.model()) {
  setWindowTitle("Analyse Parameterspace");
  resize(1000, 700);
  Chart_Cluster_ = new SeriesChart("Chart_Cluster", "values", "clusters", "", false, this);
  Chart_Cluster_->setGeometry(8, 8, 640, 340);
  Chart_IS_ = new SeriesChart("Chart_IS", "values", "segregation index (IS)", "", false, this);
  Chart_IS_->setGeometry(8, 352, 640, 340);
  ParameterSpaceSweep& s = sweep3_;
  Chart_Cluster_->SetSeries({{&s.Series_Avg, kData},
                             {&s.Series_AvgClust, kAverage},
                             {&s.Series_AvgFit, kFit},
                             {&s.Series_AvgTrend, kTrend}});
  Chart_IS_->SetSeries({{&s.Series_IS, kData},
                        {&s.Series_IS_Avg, kAverage},
                        {&s.Series_IS_Fit, kFit},
                        {&s.Series_IS_Trend, kTrend}});
  AddChartExport(Chart_Cluster_, [this] { return ClusterChartData(sweep3_); });
  AddChartExport(Chart_IS_, [this] { return SegregationChartData(sweep3_); });

  QGroupBox* settings =
      BuildSettings(QRect(656, 8, 336, 300), 52, "values from:", "B_start", "B_break", [this] {
        ReadParameterChoice();
        sweep3_.B_startClick();
      });
  CB_param_ = new QComboBox(settings);
  CB_param_->setObjectName("CB_param");
  CB_param_->setEditable(true);
  CB_param_->setInsertPolicy(QComboBox::NoInsert);
  for (const char* item :
       {" number of groups", " radius neighbourhood", " move distance", " tolerance threshold"}) {
    CB_param_->addItem(item);
  }
  CB_param_->setCurrentIndex(-1);
  CB_param_->setEditText(" choose parameter");
  CB_param_->setGeometry(8, 22, 180, 22);
  // The wide box has room for the seed beside the fields.
  seedLabel_->move(200, 54);
  E_seed_->setGeometry(200, 72, 120, 20);
  connect(CB_param_, &QComboBox::currentIndexChanged, this, [this] { ReadParameterChoice(); });
  connect(CB_param_, &QComboBox::editTextChanged, this, [this] { ReadParameterChoice(); });

  struct ChartGroup {
    const char* title;
    const char* suffix;
    std::array<Series*, 4> series;
    void (ParameterSpaceSweep::*degree)(int32_t);
    int y;
  };
  const ChartGroup groups[2] = {
      {"cluster chart",
       "Clust",
       {&s.Series_Avg, &s.Series_AvgClust, &s.Series_AvgTrend, &s.Series_AvgFit},
       &ParameterSpaceSweep::UpD_polyDegClustClick,
       316},
      {"segregation chart",
       "Seg",
       {&s.Series_IS, &s.Series_IS_Avg, &s.Series_IS_Trend, &s.Series_IS_Fit},
       &ParameterSpaceSweep::UpD_polyDegSegClick,
       500},
  };
  const char* boxes[4][2] = {{"CB_data_", "show data"},
                             {"CB_avg_", "show average"},
                             {"CB_trend_", "show trend"},
                             {"CB_cFit_", "show curve fitting"}};
  for (const ChartGroup& g : groups) {
    auto* box = new QGroupBox(g.title, this);
    box->setGeometry(656, g.y, 336, 176);
    for (int i = 0; i < 4; ++i) {
      auto* check = new QCheckBox(boxes[i][1], box);
      check->setObjectName(QString(boxes[i][0]) + g.suffix);
      check->setChecked(true);
      check->setGeometry(8, 22 + 24 * i, 160, 20);
      Series* series = g.series[size_t(i)];
      connect(check, &QCheckBox::toggled, this, [this, series](bool on) {
        series->Visible = on;
        RefreshCharts();
      });
    }
    Label("poly degree:", box, 8, 124);
    auto* degree = new QSpinBox(box);
    degree->setObjectName(QString("UpD_polyDeg") + g.suffix);
    if (auto* edit = degree->findChild<QLineEdit*>()) {
      edit->setObjectName(QString("E_polyDeg") + g.suffix);
    }
    degree->setRange(2, 20);
    degree->setValue(3);
    degree->setGeometry(90, 120, 56, 22);
    if (!UpD_polyDegClust_) UpD_polyDegClust_ = degree;
    const auto click = g.degree;
    connect(degree, &QSpinBox::valueChanged, this, [this, click](int position) {
      Guarded([&] { (sweep3_.*click)(position); });
      RefreshCharts();
    });
  }
  connect(timer_, &QTimer::timeout, this, [this] { Tick([this] { sweep3_.Timer2Timer(); }); });
  LayOutForResizing({Chart_Cluster_, Chart_IS_});
}

void TForm3::ReadParameterChoice() {
  // Text typed over the selected item means no parameter is chosen.
  int index = CB_param_->currentIndex();
  if (index >= 0 && CB_param_->currentText() != CB_param_->itemText(index)) index = -1;
  sweep3_.CB_param = index;
}

SweepSettings TForm3::Settings() const {
  const char* const parameters[4] = {"groups", "radius", "move-distance", "threshold"};
  const int32_t choice = sweep3_.CB_param;
  return {"parameter",
          choice >= 0 && choice <= 3 ? parameters[choice] : "",
          "",
          sweep3_.E_valFrom,
          sweep3_.E_valTo,
          sweep3_.E_incre,
          sweep3_.E_calcVals,
          std::to_string(UpD_polyDegClust_->value())};
}

void TForm3::RefreshCharts() {
  Chart_Cluster_->Refresh(QString::fromStdString(sweep3_.ChartClusterTitle));
  Chart_IS_->Refresh(QString::fromStdString(sweep3_.ChartISTitle));
}

void TForm3::UndoZoom() {
  Chart_Cluster_->UndoZoom();
  Chart_IS_->UndoZoom();
}

// ----- growth -----

TForm4::TForm4(TForm1& main, QWidget* parent)
    : ExperimentForm(main, sweep4_, "TForm4", "Timer3", parent), sweep4_(main.model()) {
  setWindowTitle("Form4");
  resize(1024, 358);
  Chart_Growth_ =
      new SeriesChart("Chart_Growth", "time", "density in %", "segregation index", true, this);
  Chart_Growth_->setGeometry(8, 8, 780, 342);
  AddChartExport(Chart_Growth_, [this] { return GrowthChartData(sweep4_); });
  BuildSettings(QRect(796, 8, 220, 342), 22, "tolerance from:", "B_start", "B_break",
                [this] { sweep4_.B_startClick(); });
  connect(timer_, &QTimer::timeout, this, [this] { Tick([this] { sweep4_.Timer3Timer(); }); });
  LayOutForResizing({Chart_Growth_});
}

SweepSettings TForm4::Settings() const {
  return {"growth",          "", "", sweep4_.E_valFrom, sweep4_.E_valTo, sweep4_.E_incre,
          sweep4_.E_calcVals};
}

void TForm4::RefreshCharts() {
  if (shownGeneration_ != sweep4_.TablesGeneration) {
    // The old tables are gone: drop the chart's views of them first.
    shownGeneration_ = sweep4_.TablesGeneration;
    std::vector<std::pair<const Series*, SeriesLook>> series;
    for (const Series* s : sweep4_.ChartSeries) {
      SeriesLook look;
      if (s == sweep4_.DensityLine.get()) look.colour = QColor(255, 255, 0);
      series.push_back({s, look});
    }
    Chart_Growth_->SetSeries(series);
  }
  Chart_Growth_->Refresh(QString::fromStdString(sweep4_.ChartTitle));
}

void TForm4::UndoZoom() {
  Chart_Growth_->UndoZoom();
}

// ----- streets -----

TForm5::TForm5(TForm1& main, QWidget* parent)
    : ExperimentForm(main, sweep5_, "TForm5", "Timer4", parent), sweep5_(main.model()) {
  setWindowTitle("Analyse Street Effects");
  resize(1024, 360);
  Chart_Streets_ = new SeriesChart("Chart_Streets", "Streets", "Clusters", "", false, this);
  Chart_Streets_->setGeometry(8, 8, 780, 344);
  Chart_Streets_->SetSeries(
      {{&sweep5_.Series_street, kData}, {&sweep5_.Series_strTrend, SeriesLook{}}});
  AddChartExport(Chart_Streets_, [this] { return StreetChartData(sweep5_); });
  QGroupBox* settings =
      BuildSettings(QRect(796, 8, 220, 344), 22, "nr. of streets or\nrows / cols from:", "S_start",
                    "S_break", [this] { sweep5_.S_startClick(); });
  auto* frame = new QGroupBox("street layout", settings);
  frame->setGeometry(8, 300, 204, 38);
  auto* grid = new QRadioButton("grid", frame);
  grid->setObjectName("RB_grid");
  grid->setGeometry(8, 16, 80, 18);
  grid->setChecked(true);
  auto* random = new QRadioButton("random", frame);
  random->setObjectName("RB_rnd");
  random->setGeometry(100, 16, 90, 18);
  connect(grid, &QRadioButton::toggled, this, [this](bool on) { sweep5_.RB_grid = on; });
  connect(timer_, &QTimer::timeout, this, [this] { Tick([this] { sweep5_.Timer4Timer(); }); });
  LayOutForResizing({Chart_Streets_});
}

SweepSettings TForm5::Settings() const {
  return {"streets",
          "",
          sweep5_.RB_grid ? "grid" : "random",
          sweep5_.E_valFrom,
          sweep5_.E_valTo,
          sweep5_.E_incre,
          sweep5_.E_calcVals};
}

void TForm5::RefreshCharts() {
  Chart_Streets_->Refresh(QString::fromStdString(sweep5_.ChartTitle));
}

void TForm5::UndoZoom() {
  Chart_Streets_->UndoZoom();
}

}  // namespace segwork::ui
