#include <unistd.h>

#include <QChartView>
#include <QComboBox>
#include <QImage>
#include <QLineSeries>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/command_line.h"
#include "core/errors.h"
#include "files/movie.h"
#include "tests/support.h"
#include "tests/ui_desktop.h"

namespace segwork::ui::testing {
namespace {

namespace fs = std::filesystem;

std::string TempPath(const std::string& name) {
  return (fs::temp_directory_path() /
          ("segwork_ui_pictures_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

int Cli(const std::vector<std::string>& args) {
  const auto r = segwork::testing::RunCli(args);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.status;
}

// Pixels that differ, as "x,y" of the first and how many.
std::string Difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return "sizes differ";
  int count = 0;
  QString first;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.pixel(x, y) == b.pixel(x, y)) continue;
      if (count++ == 0) first = QString("%1,%2").arg(x).arg(y);
    }
  }
  return count ? QString("%1 pixels, first at %2").arg(count).arg(first).toStdString() : "";
}

// The window's run, painted step by step while it runs, against the headless picture of the
// same options and seed, painted whole after the last step.
TEST_F(Desktop, AHeadlessPictureIsTheWindowsPixelForPixel) {
  Stop();
  Type("E_seed", "5");
  Click("B_setup");
  for (int i = 0; i < 12; ++i) main->Timer1Timer();
  const std::string headless = TempPath("headless.png");
  const std::string saved = TempPath("saved.png");
  ASSERT_EQ(Cli({"run", "--seed", "5", "--steps", "12", "--picture", headless}), 0);
  ASSERT_TRUE(main->SavePictureTo(QString::fromStdString(saved)));

  const QImage file =
      QImage(QString::fromStdString(headless)).convertToFormat(QImage::Format_RGB32);
  const QImage shown = Panel()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(file.size(), QSize(694, 694));
  EXPECT_EQ(Difference(shown, file), "");
  EXPECT_EQ(
      Difference(QImage(QString::fromStdString(saved)).convertToFormat(QImage::Format_RGB32), file),
      "");
  // With graphics off the panel keeps the step-0 picture; the saved one is still the run's.
  Find<QCheckBox>("CB_graphicUpd")->setChecked(false);
  Click("B_setup");
  for (int i = 0; i < 12; ++i) main->Timer1Timer();
  ASSERT_TRUE(main->SavePictureTo(QString::fromStdString(saved)));
  EXPECT_NE(Difference(Panel()->grab().toImage().convertToFormat(QImage::Format_RGB32), file), "");
  EXPECT_EQ(
      Difference(QImage(QString::fromStdString(saved)).convertToFormat(QImage::Format_RGB32), file),
      "");
  EXPECT_FALSE(main->SavePictureTo(QString::fromStdString(TempPath("missing") + "/p.png")));
  QApplication::processEvents();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].indexOf("does not exist"), -1) << boxes[0].toStdString();
  fs::remove(headless);
  fs::remove(saved);
}

TEST_F(Desktop, RecordsTheStepsTheRunMakesIntoAMovie) {
  try {
    FindFfmpeg();
  } catch (const SegworkError&) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  Stop();
  const std::string movie = TempPath("movie.mp4");
  ASSERT_TRUE(main->StartRecording(QString::fromStdString(movie)));
  EXPECT_EQ(Find<QPushButton>("B_recordMovie")->text(), "Stop recording");
  for (int i = 0; i < 3; ++i) main->Timer1Timer();
  EXPECT_FALSE(fs::exists(movie));
  ASSERT_TRUE(main->StopRecording());
  EXPECT_EQ(Find<QPushButton>("B_recordMovie")->text(), "Record movie…");
  std::ifstream in(movie, std::ios::binary);
  std::string head(8, '\0');
  in.read(head.data(), 8);
  EXPECT_EQ(head.substr(4), "ftyp");
  EXPECT_TRUE(boxes.empty());
  fs::remove(movie);
}

// "Export cells…" writes the window's world as the command line writes the same run's, and the
// spatial chart shows the chosen measure of every step made while the analysis window is open.
TEST_F(Desktop, ExportsTheCellsAndChartsTheChosenSpatialMeasure) {
  Stop();
  Type("E_seed", "5");
  Click("B_setup");
  main->Timer1Timer();
  EXPECT_FALSE(model.Sim.Measures.Latest().Spatial) << "computed with the window closed";
  analysis->show();
  for (int i = 1; i < 12; ++i) main->Timer1Timer();
  const std::string window = TempPath("window.csv"), headless = TempPath("headless.csv");
  ASSERT_TRUE(main->ExportCellsTo(QString::fromStdString(window)));
  ASSERT_EQ(Cli({"run", "--seed", "5", "--steps", "12", "--cells", headless, "--every", "12"}), 0);
  std::string lastStep = "step,x,y,group,street\n";
  for (const std::string& line :
       segwork::testing::Split(segwork::testing::ReadFile(headless), '\n')) {
    if (line.rfind("12,", 0) == 0) lastStep += line + '\n';
  }
  EXPECT_EQ(segwork::testing::ReadFile(window), lastStep);
  fs::remove(window);
  fs::remove(headless);

  analysis->findChild<QComboBox*>("CB_spatial")->setCurrentText("largest_cluster");
  const auto& series = model.Analysis.SpatialSeries;
  ASSERT_EQ(series.size(), 6u);
  ASSERT_EQ(series[2].points.size(), 11u);
  EXPECT_EQ(series[2].points.back().y, model.Sim.Measures.Latest().Spatial->LargestCluster[2]);
  EXPECT_EQ(analysis->findChild<QChartView*>("Chart7")->chart()->series().size(), 6);
  EXPECT_EQ(model.Analysis.SpatialNames[2], "largest_cluster_3");
}

}  // namespace
}  // namespace segwork::ui::testing
