#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QProgressBar>
#include <filesystem>
#include <fstream>

#include "tests/support.h"
#include "tests/ui_desktop.h"
#include "ui/ExperimentWindow.h"

namespace segwork::ui::testing {
namespace {

class ExperimentDesktop : public Desktop {
 protected:
  void SetUp() override {
    Desktop::SetUp();
    window = std::make_unique<ExperimentWindow>(*main);
    main->SetExperimentWindow(window.get());
    // A 35 x 35 world of 300 agents: a step takes about a millisecond.
    Stop();
    Type("Edit_cellSiz", "20");
    Type("Edit_anzAg", "300");
    Type("Edit_mDist", "5");
  }
  // Cell size 20 and 24 (a grid of 35 or 28 cells) by groups 2 and 3, two runs each.
  void Fill(const char* steps) {
    window->AddVaryRow("cell-size", "20,24");
    window->AddVaryRow("groups", "2:1:3");
    Set("E_runs", "2");
    Set("E_steps", steps);
    Set("E_seed", "5");
  }
  void Set(const char* name, const char* text) {
    window->findChild<QLineEdit*>(name)->setText(text);
  }
  QProgressBar* Progress() { return window->findChild<QProgressBar*>("PB_runs"); }
  bool Wait(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 60000)
      QApplication::processEvents(QEventLoop::AllEvents, 1);
    return done();
  }
  // The saved experiment run headless.
  std::string Headless(const std::string& scenario) {
    const auto r = segwork::testing::RunCli({"experiment", "--scenario", scenario, "--quiet"});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  segwork::testing::TempDir dir;
  std::unique_ptr<ExperimentWindow> window;
};

TEST_F(ExperimentDesktop, RefusesBadValuesAndWritesTheRowsTheSavedExperimentGivesHeadless) {
  Fill("6");
  Set("E_every", "4");  // rows at steps 4 and 6: the chart takes the end rows only
  const std::string rows = dir / "rows.csv";
  window->SetOutput(QString::fromStdString(rows));
  window->findChild<QTableWidget*>("T_vary")->item(1, 1)->setText("3:1:2");
  EXPECT_EQ(window->findChild<QLabel*>("Lbl_combinations")->text(), "? combinations");
  EXPECT_FALSE(window->Run());
  ASSERT_TRUE(Wait([&] { return !boxes.empty(); }));
  EXPECT_TRUE(boxes[0].contains("parameters to vary, row 2: groups=3:1:2: the range never reaches"))
      << boxes[0].toStdString();
  EXPECT_FALSE(std::filesystem::exists(rows));

  window->findChild<QTableWidget*>("T_vary")->item(1, 1)->setText("2:1:3");
  EXPECT_EQ(window->findChild<QLabel*>("Lbl_combinations")->text(),
            "4 combinations × 2 repetitions = 8 runs");
  ASSERT_TRUE(window->Run());
  ASSERT_TRUE(Wait([&] { return !window->Running(); }));
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(Progress()->value(), 8);
  EXPECT_EQ(Progress()->maximum(), 8);
  const std::string scenario = dir / "experiment.json";
  ASSERT_TRUE(window->SaveExperimentTo(QString::fromStdString(scenario)));
  const std::string written = segwork::testing::ReadFile(rows);
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 17);
  EXPECT_EQ(Headless(scenario), written);

  // mean_is against the cell size, a line (and its band) for each group count, a point a size.
  QTest::qWait(300);
  QChart* chart = window->findChild<QChartView*>("Chart_Experiment")->chart();
  int lines = 0, bands = 0;
  for (QAbstractSeries* s : chart->series()) {
    if (auto* line = qobject_cast<QLineSeries*>(s)) {
      ++lines;
      ASSERT_EQ(line->count(), 2) << line->name().toStdString();
      EXPECT_EQ(line->at(0).x(), 20);
      EXPECT_EQ(line->at(1).x(), 24);
    }
    if (auto* band = qobject_cast<QAreaSeries*>(s)) {
      ++bands;
      ASSERT_EQ(band->upperSeries()->count(), 2);
      EXPECT_LE(band->lowerSeries()->at(0).y(), band->upperSeries()->at(0).y());
    }
  }
  EXPECT_EQ(lines, 2);
  EXPECT_EQ(bands, 2);
  EXPECT_EQ(chart->axes().size(), 2);

  // Opened again, the fields run the same experiment.
  window->AddVaryRow("threshold", "40");
  Set("E_seed", "");
  ASSERT_TRUE(window->OpenExperimentFrom(QString::fromStdString(scenario)));
  EXPECT_EQ(window->Output(), QString());
  const std::string again = dir / "again.json";
  ASSERT_TRUE(window->SaveExperimentTo(QString::fromStdString(again)));
  EXPECT_EQ(segwork::testing::ReadFile(again), segwork::testing::ReadFile(scenario));

  // A name no row has is refused, and the fields stay.
  std::string text = segwork::testing::ReadFile(scenario);
  text.replace(text.find("groups=2:1:3"), 12, "nosuch=1");
  std::ofstream(again, std::ios::binary | std::ios::trunc) << text;
  EXPECT_FALSE(window->OpenExperimentFrom(QString::fromStdString(again)));
  ASSERT_TRUE(Wait([&] { return boxes.size() == 2; }));
  EXPECT_TRUE(boxes[1].contains("experiment: vary: nosuch=1: no parameter is named 'nosuch'"))
      << boxes[1].toStdString();
  ASSERT_TRUE(window->SaveExperimentTo(QString::fromStdString(again)));
  EXPECT_EQ(segwork::testing::ReadFile(again), segwork::testing::ReadFile(scenario));
}

TEST_F(ExperimentDesktop, StopKeepsWholeRunsAndTheNextRunEndsWithTheUninterruptedRows) {
  // Agents that never settle: runs of a tenth of a second, long enough to be stopped halfway.
  Find<QSlider>("TrB_thresh")->setValue(100);
  Fill("2000");
  Set("E_runs", "6");  // 24 runs: far more than a stop can miss on a fast machine
  const std::string scenario = dir / "experiment.json";
  ASSERT_TRUE(window->SaveExperimentTo(QString::fromStdString(scenario)));
  const std::string whole = Headless(scenario);
  const std::string rows = dir / "rows.csv";
  window->SetOutput(QString::fromStdString(rows));
  Click("B_stop");  // the main run goes
  ASSERT_TRUE(main->Timer1()->isActive());

  ASSERT_TRUE(window->Run());
  EXPECT_FALSE(main->Timer1()->isActive());  // the experiment takes the cores
  ASSERT_TRUE(Wait([&] { return Progress()->value() >= 1; }));
  Click("B_stop");  // refused while the experiment runs
  EXPECT_FALSE(main->Timer1()->isActive());
  QTest::mouseClick(window->findChild<QPushButton*>("B_stopExperiment"), Qt::LeftButton);
  ASSERT_TRUE(Wait([&] { return !window->Running(); }));
  const std::string stopped = segwork::testing::ReadFile(rows);
  const auto kept = std::count(stopped.begin(), stopped.end(), '\n') - 1;
  EXPECT_GE(kept, 1);
  EXPECT_LT(kept, 24);
  EXPECT_EQ(whole.substr(0, stopped.size()), stopped);
  EXPECT_EQ(window->findChild<QLabel*>("Lbl_status")->text().left(13), "stopped after");

  // Closed while it runs: the runs begun are finished and kept, the thread ends.
  ASSERT_TRUE(window->Run());
  window->close();
  ASSERT_TRUE(Wait([&] { return !window->Running(); }));
  const std::string closed = segwork::testing::ReadFile(rows);
  EXPECT_GE(closed.size(), stopped.size());
  EXPECT_EQ(whole.substr(0, closed.size()), closed);

  ASSERT_TRUE(window->Run());
  ASSERT_TRUE(Wait([&] { return !window->Running(); }));
  EXPECT_EQ(segwork::testing::ReadFile(rows), whole);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].startsWith("sweep running|")) << boxes[0].toStdString();
}

}  // namespace
}  // namespace segwork::ui::testing
