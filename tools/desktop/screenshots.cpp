// Not checks: the user guide's pictures (docs/images) and a few for looking at, taken from the
// real windows offscreen. tools/screenshots.sh runs them with SEGWORK_SCREENSHOT_DIR set; seeds,
// strokes and step counts are fixed, so the pictures change only with the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "tests/ui_desktop.h"
#include "ui/ExperimentWindow.h"

namespace segwork::ui {
namespace {

using testing::Desktop;
using testing::RunUntilStopped;

// The folder the pictures go to: SEGWORK_SCREENSHOT_DIR, made if missing.
QString ShotDir() {
  const QString dir = qEnvironmentVariable("SEGWORK_SCREENSHOT_DIR");
  EXPECT_FALSE(dir.isEmpty()) << "set SEGWORK_SCREENSHOT_DIR to the folder for the pictures";
  EXPECT_TRUE(dir.isEmpty() || QDir().mkpath(dir)) << dir.toStdString();
  return dir;
}

// Lets pending layouts and chart refreshes happen; the main run stays stopped meanwhile.
void Settle() {
  for (int i = 0; i < 3; ++i) QTest::qWait(40);
}

void SetField(QWidget* window, const char* name, const char* text) {
  auto* edit = window->findChild<QLineEdit*>(name);
  ASSERT_NE(edit, nullptr) << name;
  edit->setText(text);
}

void ClickIn(QWidget* window, const char* name) {
  auto* button = window->findChild<QPushButton*>(name);
  ASSERT_NE(button, nullptr) << name;
  QTest::mouseClick(button, Qt::LeftButton);
}

// The user guide's pictures of the windows.
TEST_F(Desktop, Screenshots) {
  const QString dir = ShotDir();
  ASSERT_FALSE(dir.isEmpty());
  auto save = [&](const QPixmap& pixmap, const char* file) {
    EXPECT_TRUE(pixmap.save(dir + "/" + file, "PNG")) << file;
  };
  Stop();
  // Every setup reads a new seed, as from the clock, but in the same sequence each time.
  uint32_t nextSeed = 7;
  model.Sim.ClockSeed = [&nextSeed] { return nextSeed++; };
  QTabWidget* tabs = main->findChild<QTabWidget*>();
  ASSERT_NE(tabs, nullptr);
  auto* streetType = Find<QComboBox>("CB_strType");
  const QRect panel(8, 9, 694, 694);
  const QRect tabPage(706, 4, 214, 490);
  // Cells 20..77 x 54..111, enlarged twice: agents, street colours and grey cells can be told
  // apart.
  const QRect detail(panel.x() + 120, panel.y() + 324, 348, 348);

  // A 3 x 3 grid with random types, an attracting street drawn by hand, then a separating one,
  // caught while the rubber band follows the pointer ("draw without agents" hides the agents).
  tabs->setCurrentIndex(3);
  Find<QSpinBox>("UpD_rows")->setValue(3);
  Find<QSpinBox>("UpD_cols")->setValue(3);
  Click("B_drawGrid");
  streetType->setCurrentIndex(5);  // +3
  QTest::mousePress(Panel(), Qt::LeftButton, {}, CellPixel(8, 100));
  QTest::mouseRelease(Panel(), Qt::LeftButton, {}, CellPixel(108, 100));
  streetType->setCurrentIndex(0);  // -3
  QTest::mousePress(Panel(), Qt::LeftButton, {}, CellPixel(12, 18));
  for (int i = 1; i <= 10; ++i) QTest::mouseMove(Panel(), CellPixel(12 + 7 * i, 18 + 6 * i));
  save(main->grab(panel), "panel_drawing.png");
  QTest::mouseRelease(Panel(), Qt::LeftButton, {}, CellPixel(82, 78));
  EXPECT_EQ(model.Sim.StreetLines.size(), 6u);

  // A new population off the streets, 300 steps, with the analysis window open: its spatial
  // chart has the measures of the steps made while it is.
  Click("B_setup");
  analysis->show();
  for (int i = 0; i < 300; ++i) main->Timer1Timer();
  ASSERT_EQ(model.Sim.StepCount, 300);
  ASSERT_TRUE(boxes.empty()) << boxes.front().toStdString();

  // The main window as it looks while running (green "start / stop"), tab by tab; no event is
  // handled before the run is stopped again, so no step is made.
  Click("B_stop");
  ASSERT_FALSE(Red());
  const QPixmap zoomed = main->grab(detail);
  save(zoomed.scaled(zoomed.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation),
       "panel_streets.png");
  const char* pages[4] = {"tab_setup.png", "tab_parameter.png", "tab_analysis.png",
                          "tab_streets.png"};
  for (int i = 0; i < 4; ++i) {
    tabs->setCurrentIndex(i);
    save(main->grab(tabPage), pages[i]);
  }
  tabs->setCurrentIndex(0);
  save(main->grab(), "main.png");
  Stop();
  ASSERT_EQ(model.Sim.StepCount, 300);

  analysis->Refresh();
  Settle();
  // The six charts of the analysis window's top, then its chart of a spatial measure.
  save(analysis->grab(QRect(0, 0, 1092, 766)), "analysis.png");
  analysis->findChild<QComboBox*>("CB_spatial")->setCurrentText("moran");
  Settle();
  save(analysis->grab(QRect(0, 762, 1092, 268)), "analysis_spatial.png");
  analysis->hide();

  // Short sweeps on a world without streets, unpainted as a user would run them.
  Click("b_delStr");
  Find<QCheckBox>("CB_graphicUpd")->setChecked(false);
  Click("ana_ps");
  ps->findChild<QComboBox*>("CB_param")->setCurrentIndex(1);  // radius
  SetField(ps.get(), "E_valFrom", "1");
  SetField(ps.get(), "E_valTo", "5");
  SetField(ps.get(), "E_toSteps", "61");  // the clusters of the analysis in step 61
  ClickIn(ps.get(), "B_start");
  ASSERT_TRUE(RunUntilStopped(ps->Timer(), 300000));
  Settle();
  save(ps->grab(), "parameterspace.png");
  ps->hide();

  // The growth sweep with growth on: 1000 agents at first, 200 more each step.
  Find<QCheckBox>("CB_actiGrow")->setChecked(true);
  Type("E_startGrowWith", "1000");
  Type("E_growRate", "200");
  Click("ana_growth");
  SetField(growth.get(), "E_valFrom", "10");
  SetField(growth.get(), "E_valTo", "50");
  SetField(growth.get(), "E_incre", "20");
  SetField(growth.get(), "E_toSteps", "150");
  SetField(growth.get(), "E_calcVals", "2");
  ClickIn(growth.get(), "B_start");
  ASSERT_TRUE(RunUntilStopped(growth->Timer(), 300000));
  Settle();
  save(growth->grab(), "growth.png");
  growth->hide();
  Find<QCheckBox>("CB_actiGrow")->setChecked(false);

  // Back to the default threshold, which the growth sweep left at 50, and fewer agents: 12000
  // would fill every cell a 10 x 10 grid leaves, and nobody could move.
  Find<QSlider>("TrB_thresh")->setValue(30);
  Type("Edit_anzAg", "8000");
  Click("B_anaStr");
  SetField(streets.get(), "E_valFrom", "2");
  SetField(streets.get(), "E_valTo", "10");
  SetField(streets.get(), "E_incre", "2");
  SetField(streets.get(), "E_toSteps", "100");
  SetField(streets.get(), "E_calcVals", "2");
  ClickIn(streets.get(), "S_start");
  ASSERT_TRUE(RunUntilStopped(streets->Timer(), 300000));
  Settle();
  save(streets->grab(), "streets.png");
  streets->hide();
  EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
}

// The guide's picture of the menu open on a chart of the analysis window.
TEST_F(Desktop, ChartMenuScreenshot) {
  const QString dir = ShotDir();
  ASSERT_FALSE(dir.isEmpty());
  Stop();
  analysis->show();
  for (int i = 0; i < 60; ++i) model.AdvanceOneStep();
  analysis->Refresh();
  Settle();  // titles and axes are laid out
  auto* view = analysis->findChild<QChartView*>("Chart1");
  ASSERT_NE(view, nullptr);
  const QPoint at(200, 120);
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
  QApplication::sendEvent(view->viewport(), &event);
  auto* menu = view->findChild<QMenu*>("ChartExportMenu");
  ASSERT_NE(menu, nullptr);
  QPixmap shot = analysis->grab(QRect(0, 0, 1092, 766));
  QPainter(&shot).drawPixmap(analysis->mapFromGlobal(menu->pos()), menu->grab());
  EXPECT_TRUE(shot.save(dir + "/chart_menu.png", "PNG"));
  menu->hide();
}

// The experiment window at `size` after the runs of an experiment on a 69 x 69 world.
void ExperimentShot(TForm1& main, QSize size, const QString& file) {
  const QString dir = ShotDir();
  ASSERT_FALSE(dir.isEmpty());
  for (auto [name, text] :
       {std::pair{"Edit_cellSiz", "10"}, {"Edit_anzAg", "3000"}, {"Edit_mDist", "20"}}) {
    main.findChild<QLineEdit*>(name)->setText(text);
  }
  ExperimentWindow window(main);
  main.SetExperimentWindow(&window);
  window.AddVaryRow("threshold", "10:10:70");
  window.AddVaryRow("groups", "2,4");
  SetField(&window, "E_runs", "3");
  SetField(&window, "E_steps", "300");
  SetField(&window, "E_seed", "1");
  window.findChild<QCheckBox*>("CB_untilSettled")->setChecked(true);
  const QTemporaryDir rows;
  window.SetOutput(rows.filePath("experiment.csv"));
  window.resize(size);
  window.show();
  ASSERT_TRUE(window.Run());
  QElapsedTimer clock;
  clock.start();
  while (window.Running() && clock.elapsed() < 300000) QTest::qWait(20);
  ASSERT_FALSE(window.Running());
  QTest::qWait(300);  // the chart's last rebuild
  Settle();
  EXPECT_TRUE(window.grab().save(dir + "/" + file, "PNG")) << file.toStdString();
}

// The guide's picture of the experiment window.
TEST_F(Desktop, ExperimentScreenshot) {
  Stop();
  ExperimentShot(*main, QSize(1000, 640), "experiment.png");
  EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
}

// For looking at, not in the guide: the experiment window enlarged, its chart following.
TEST_F(Desktop, ExperimentEnlargedScreenshot) {
  Stop();
  ExperimentShot(*main, QSize(1500, 950), "experiment_large.png");
  EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
}

// For looking at, not in the guide: an error box as the program shows it, and the main window
// after a failed setup.
TEST_F(Desktop, FailureScreenshots) {
  const QString dir = ShotDir();
  ASSERT_FALSE(dir.isEmpty());
  Stop();
  // 35 x 35 cells and 300 agents.
  for (auto [name, text] : {std::pair{"Edit_cellSiz", "20"},
                            {"Edit_nRad", "2"},
                            {"Edit_mDist", "10"},
                            {"Edit_anzAg", "300"}}) {
    main->findChild<QLineEdit*>(name)->setText(text);
  }
  Click("B_setup");
  ErrorReporter::Instance().show = nullptr;  // the real box
  bool grabbed = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      box->grab().save(dir + "/error_box.png");
      grabbed = true;
      box->accept();
    }
  });
  poll.start(20);
  auto waitForBox = [&] {
    QElapsedTimer clock;
    clock.start();
    while (!grabbed && clock.elapsed() < 3000)
      QApplication::processEvents(QEventLoop::AllEvents, 5);
  };
  for (int i = 0; i < 40; ++i) main->Timer1Timer();
  main->findChild<QLineEdit*>("Edit_nRad")->setText("");
  waitForBox();
  EXPECT_TRUE(grabbed);
  grabbed = false;
  Click("B_setup");
  waitForBox();
  EXPECT_TRUE(grabbed);
  poll.stop();
  QApplication::processEvents();
  main->grab().save(dir + "/main_after_failed_setup.png");
}

}  // namespace
}  // namespace segwork::ui
