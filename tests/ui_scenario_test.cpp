#include <unistd.h>

#include <QButtonGroup>
#include <QRadioButton>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/command_line.h"
#include "cli/run_command.h"
#include "tests/support.h"
#include "tests/ui_desktop.h"
#include "ui/qt_canvas.h"

namespace segwork::ui::testing {
namespace {

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("segwork_ui_scenario_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

// What `segwork-cli` prints for these arguments.
std::string Cli(const std::vector<std::string>& args) {
  const auto r = segwork::testing::RunCli(args);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

std::string LastLine(const std::string& text) {
  const size_t end = text.find_last_not_of('\n');
  const size_t begin = text.rfind('\n', end);
  return text.substr(begin == std::string::npos ? 0 : begin + 1, end - begin);
}

class ScenarioDesktop : public Desktop {
 protected:
  // A 35 x 35 world whose fields need no rewriting, seed 77, five steps.
  void SmallWorld() {
    Stop();
    Type("Edit_cellSiz", "20");
    Type("Edit_anzAg", "700");
    Type("Edit_anzGr", "3");
    Type("Edit_mDist", "5");
    Type("E_stopT", "5");
    Type("E_seed", "77");
  }
  // "new Setup", then the window's own ticks to the stop step: the digest of the cells.
  std::string WindowRun() {
    Click("B_setup");
    for (int i = 0; i < 5; ++i) main->Timer1Timer();
    char digest[40];
    std::snprintf(digest, sizeof digest, "digest,%016llx",
                  static_cast<unsigned long long>(cli::StateDigest(model.Sim)));
    return digest;
  }
  static QPoint Cell20(int x, int y) { return QPoint(x * 20 + 10, y * 20 + 10); }
};

TEST_F(ScenarioDesktop, ADrawnStrokeSavedRunsHeadlessAsInTheWindowAndAsAStreetLine) {
  SmallWorld();
  Click("B_setup");
  EXPECT_EQ(Text("Lbl_seed"), "this run's seed: 77");
  Find<QComboBox>("CB_strType")->setCurrentIndex(1);  // -2
  QTest::mousePress(Panel(), Qt::LeftButton, {}, Cell20(2, 3));
  QTest::mouseMove(Panel(), Cell20(20, 12));
  QTest::mouseRelease(Panel(), Qt::LeftButton, {}, Cell20(30, 20));
  ASSERT_EQ(model.Sim.StreetLines.size(), 1u);
  const std::string file = TempPath("stroke.json");
  ASSERT_TRUE(main->SaveScenarioTo(QString::fromStdString(file)));
  const std::string window = WindowRun();

  EXPECT_EQ(LastLine(Cli({"run", "--scenario", file})), window);
  EXPECT_EQ(
      LastLine(Cli({"run", "--seed", "77", "--cell-size", "20", "--agents", "700", "--groups", "3",
                    "--move-distance", "5", "--steps", "5", "--street-line", "2,3,30,20,-2"})),
      window);
  std::filesystem::remove(file);
  EXPECT_TRUE(boxes.empty());
}

// At "fastest" a tick makes a frame's worth of steps, yet the run stops at its stop step
// exactly and goes the CLI's way step for step.
TEST_F(ScenarioDesktop, FastestStepsManyATickAndStopsWhereTheCliRunEnds) {
  Stop();
  auto* speed = Find<QSlider>("TrB_speed");
  speed->setValue(speed->maximum());
  Type("E_seed", "77");
  Type("E_stopT", "1500");
  Click("B_setup");
  int ticks = 0;
  QObject::connect(main->Timer1(), &QTimer::timeout, [&] { ++ticks; });
  Click("B_stop");
  ASSERT_TRUE(RunUntilStopped(main->Timer1()));
  EXPECT_EQ(model.Sim.StepCount, 1500);
  EXPECT_EQ(Text("lbl_Steps"), "1500");
  EXPECT_TRUE(Red());
  EXPECT_LT(ticks, 500);
  char digest[40];
  std::snprintf(digest, sizeof digest, "digest,%016llx",
                static_cast<unsigned long long>(cli::StateDigest(model.Sim)));
  EXPECT_EQ(LastLine(Cli({"run", "--steps", "1500", "--seed", "77"})), digest);
}

TEST_F(ScenarioDesktop, OpeningSetsControlsStreetsAndSeedAndABadFileChangesNothing) {
  Stop();
  const std::string file = TempPath("open.json");
  const std::vector<std::string> options = {
      "--seed",          "4242",       "--cell-size",   "20",
      "--agents",        "600",        "--groups",      "4",
      "--move-distance", "6",          "--steps",       "5",
      "--threshold",     "55",         "--empty-cells", "similar",
      "--layout",        "grid",       "--weights",     "0;1;1;1;2;4;6",
      "--street-line",   "1,1,33,30,1"};
  std::vector<std::string> save = {"run", "--save-scenario", file};
  save.insert(save.end(), options.begin(), options.end());
  Cli(save);
  main->Timer1Timer();
  ASSERT_EQ(Text("Lbl_nrAgents"), "12000");
  ASSERT_TRUE(main->OpenScenarioFrom(QString::fromStdString(file)));
  EXPECT_EQ(Text("Lbl_nrAgents"), "600");
  EXPECT_EQ(Text("Edit_cellSiz"), "20");
  EXPECT_EQ(Text("E_seed"), "4242");
  EXPECT_EQ(Find<QSlider>("TrB_thresh")->value(), 55);
  EXPECT_EQ(Find<QTableWidget>("SG_weight")->item(7, 1)->text(), "6");
  EXPECT_EQ(model.Sim.ColCount, 35);
  EXPECT_EQ(model.Sim.StreetLines.size(), 9u);  // the grid's 8 and the stroke
  EXPECT_EQ(Text("Lbl_seed"), "this run's seed: 4242");
  EXPECT_EQ(WindowRun(), LastLine(Cli({"run", "--scenario", file})));

  // Nothing of a file that cannot be read reaches the window.
  std::vector<int32_t> streetTypes = model.Sim.StreetTypes;
  for (const char* text : {"not json", R"({"format": "segwork scenario", "version": 1,
                                          "controls": {"Edit_cellSiz": "8", "TrB_thresh": "9"}})"}) {
    std::ofstream(file) << text;
    boxes.clear();
    EXPECT_FALSE(main->OpenScenarioFrom(QString::fromStdString(file)));
    QApplication::processEvents();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(QString::fromStdString(file))) << boxes[0].toStdString();
    EXPECT_EQ(Text("Edit_cellSiz"), "20");
    EXPECT_EQ(Find<QSlider>("TrB_thresh")->value(), 55);
    EXPECT_EQ(model.Sim.StreetTypes, streetTypes);
    EXPECT_EQ(model.Sim.Seed, 4242u);
  }
  std::filesystem::remove(file);
  EXPECT_FALSE(main->OpenScenarioFrom(QString::fromStdString(file)));

  if (const char* dir = std::getenv("SEGWORK_GRAB_DIR")) {
    main->grab().save(QString(dir) + "/scenario_main.png");
  }
}

TEST_F(ScenarioDesktop, ASavedRunOpensWithItsPictureAndStepsAndGoesOnAsTheCliRun) {
  SmallWorld();
  Click("B_setup");
  for (int i = 0; i < 3; ++i) main->Timer1Timer();
  const QImage picture = dynamic_cast<QtCanvas*>(model.Sim.CellImage.get())->Image().copy();
  const std::string file = TempPath("window.segrun");
  ASSERT_TRUE(main->SaveRunTo(QString::fromStdString(file)));
  Type("E_seed", "78");
  Type("Edit_anzGr", "2");
  Click("B_setup");
  main->Timer1Timer();

  ASSERT_TRUE(main->OpenRunFrom(QString::fromStdString(file)));
  EXPECT_EQ(Text("lbl_Steps"), "3");
  EXPECT_EQ(Text("Edit_anzGr"), "3");
  EXPECT_EQ(Text("E_seed"), "77");
  EXPECT_EQ(dynamic_cast<QtCanvas*>(model.Sim.CellImage.get())->Image(), picture);
  EXPECT_EQ(model.Analysis.SatisfactionSeries.size(), 3u);
  std::ofstream(file, std::ios::app) << "trailing";
  boxes.clear();
  EXPECT_FALSE(main->OpenRunFrom(QString::fromStdString(file)));
  QApplication::processEvents();
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(model.Sim.StepCount, 3);
  for (int i = 0; i < 2; ++i) main->Timer1Timer();
  char digest[40];
  std::snprintf(digest, sizeof digest, "digest,%016llx",
                static_cast<unsigned long long>(cli::StateDigest(model.Sim)));
  EXPECT_EQ(LastLine(Cli({"run", "--seed", "77", "--cell-size", "20", "--agents", "700", "--groups",
                          "3", "--move-distance", "5", "--steps", "5"})),
            digest);
  std::filesystem::remove(file);
  if (const char* dir = std::getenv("SEGWORK_GRAB_DIR")) {
    main->grab().save(QString(dir) + "/saved_run_main.png");
  }
}

using segwork::testing::Real;

TEST_F(ScenarioDesktop, ASweepSavedFromItsWindowRunsHeadlessToTheSameRows) {
  SmallWorld();
  auto field = [&](const char* name, const char* text) {
    ps->findChild<QLineEdit*>(name)->setText(text);
  };
  ps->findChild<QComboBox*>("CB_param")->setCurrentIndex(1);  // radius
  field("E_valFrom", "1");
  field("E_valTo", "5");
  field("E_incre", "1");
  field("E_toSteps", "3");
  field("E_calcVals", "1");
  field("E_seed", "11");
  const std::string file = TempPath("sweep.json");
  ASSERT_TRUE(ps->SaveSweepTo(QString::fromStdString(file)));
  QTest::mouseClick(ps->findChild<QPushButton*>("B_start"), Qt::LeftButton);
  ParameterSpaceSweep& sweep = ps->sweep();
  for (int i = 0; i < 1000 && sweep.TimerEnabled; ++i) sweep.Timer2Timer();
  ASSERT_FALSE(sweep.TimerEnabled);

  // run,value,calc,seed,clusters,mean_is: the window's points are (value, clusters) and
  // (value, mean_is).
  std::istringstream rows(Cli({"sweep", "--scenario", file, "--quiet"}));
  std::vector<std::string> clusters, indices, window;
  std::string row;
  std::getline(rows, row);
  EXPECT_EQ(row, "run,value,calc,seed,clusters,mean_is");
  while (std::getline(rows, row)) {
    std::vector<std::string> f;
    std::istringstream fields(row);
    for (std::string x; std::getline(fields, x, ',');) f.push_back(x);
    ASSERT_EQ(f.size(), 6u) << row;
    clusters.push_back(f[1] + "," + f[4]);
    indices.push_back(f[1] + "," + f[5]);
  }
  EXPECT_EQ(clusters.size(), 5u);
  for (const SeriesPoint& p : sweep.Series_Avg.Points())
    window.push_back(Real(p.x) + "," + Real(p.y));
  EXPECT_EQ(window, clusters);
  window.clear();
  for (const SeriesPoint& p : sweep.Series_IS.Points())
    window.push_back(Real(p.x) + "," + Real(p.y));
  EXPECT_EQ(window, indices);
  std::filesystem::remove(file);
  EXPECT_TRUE(boxes.empty());
  if (const char* dir = std::getenv("SEGWORK_GRAB_DIR")) {
    ps->grab().save(QString(dir) + "/scenario_ps.png");
    growth->grab().save(QString(dir) + "/scenario_growth.png");
    streets->grab().save(QString(dir) + "/scenario_streets.png");
  }
}

}  // namespace
}  // namespace segwork::ui::testing

namespace segwork::ui::testing {
namespace {

// Every run parameter's widget: an opened scenario shows its control there, and setting the
// widget writes the control, whatever the kind of widget.
TEST_F(ScenarioDesktop, EveryParameterHasItsWidgetBothWays) {
  using segwork::testing::OtherValue;
  Stop();
  Scenario wanted;
  for (const Parameter& p : Parameters()) p.set(wanted.controls, OtherValue(p));
  const std::string file = TempPath("every.json");
  SaveScenario(wanted, file);
  ASSERT_TRUE(main->OpenScenarioFrom(QString::fromStdString(file)));
  std::filesystem::remove(file);
  const ControlValues opening;
  for (const Parameter& p : Parameters()) {
    QObject* w = p.kind == ParameterKind::Weight ? main->findChild<QObject*>("SG_weight")
                                                 : main->findChild<QObject*>(p.control);
    ASSERT_NE(w, nullptr) << p.control;
    const std::string other = OtherValue(p), back = p.Default();
    std::string shown;
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      shown = edit->text().toStdString();
      edit->setText(QString::fromStdString(back));
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      shown = box->isChecked() ? "yes" : "no";
      box->setChecked(back == "yes");
    } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
      shown = std::to_string(spin->value());
      spin->setValue(std::stoi(back));
    } else if (auto* slider = qobject_cast<QSlider*>(w)) {
      shown = std::to_string(slider->value());
      slider->setValue(std::stoi(back));
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      shown = std::to_string(combo->currentIndex());
      combo->setCurrentIndex(std::stoi(back));
    } else if (auto* group = qobject_cast<QButtonGroup*>(w)) {
      shown = p.words[size_t(group->checkedId())];
      group->button(int(std::find(p.words.begin(), p.words.end(), back) - p.words.begin()))
          ->setChecked(true);
    } else if (auto* table = qobject_cast<QTableWidget*>(w)) {
      const auto& types = opening.SG_weight[0];
      const int row = int(std::find(types.begin(), types.end(), p.control) - types.begin());
      shown = table->item(row, 1)->text().toStdString();
      table->item(row, 1)->setText(QString::fromStdString(back));
    }
    EXPECT_EQ(shown, other) << p.control;
    EXPECT_EQ(p.get(model.Controls), back) << p.control;
  }
}

}  // namespace
}  // namespace segwork::ui::testing
