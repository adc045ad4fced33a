#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QImage>
#include <QTableView>

#include "tests/ui_desktop.h"
#include "ui/look.h"

namespace segwork::ui {
namespace {

class DesktopExtreme : public testing::Desktop {
 protected:
  // Runs the main timer until `steps` more steps are made.
  void RunSteps(int steps) {
    const int32_t until = model.Sim.StepCount + steps;
    Click("B_stop");
    QElapsedTimer clock;
    clock.start();
    while (model.Sim.StepCount < until && clock.elapsed() < 120000) {
      QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    Stop();
  }
  void Save(QWidget* w, const char* name) {
    if (const QByteArray dir = qgetenv("SEGWORK_SCREENSHOT_DIR"); !dir.isEmpty()) {
      w->grab().save(QString(dir) + "/" + name + ".png");
    }
  }
};

// A thousand groups: the palette, the table of a million texts and a thousand bar sets stay usable
// with the analysis window open.
TEST_F(DesktopExtreme, AThousandGroupsWithTheAnalysisWindowOpen) {
  Stop();
  Type("Edit_anzGr", "1000");
  Click("B_setup");
  analysis->show();
  RunSteps(3);
  analysis->Refresh();
  EXPECT_TRUE(boxes.empty());
  EXPECT_GE(model.Sim.StepCount, 3);
  QAbstractItemModel* grid = analysis->findChild<QTableView*>("DissimiGrid")->model();
  EXPECT_EQ(grid->columnCount(), 1001);
  EXPECT_EQ(grid->rowCount(), 1002);
  Save(analysis.get(), "thousand-groups-analysis");
  Save(main.get(), "thousand-groups-main");
}

// Cell size 1 with painting on, and the largest cell size: both paint and step.
TEST_F(DesktopExtreme, SmallestAndLargestCellSizesPaint) {
  for (const char* size : {"1", "34"}) {
    SCOPED_TRACE(size);
    Stop();
    Type("Edit_cellSiz", size);
    Click("B_setup");
    RunSteps(3);
    EXPECT_TRUE(boxes.empty());
    const QImage picture = Panel()->grab().toImage();
    // The groups' colours are on the panel: not all of it is white or silver.
    int coloured = 0;
    for (int y = 0; y < picture.height(); y += 7) {
      for (int x = 0; x < picture.width(); x += 7) {
        const QColor c = picture.pixelColor(x, y);
        coloured += c.saturation() > 100;
      }
    }
    EXPECT_GT(coloured, 20);
    if (size[0] == '1') {
      // One pixel a cell, each in its own colour: an agent's pixel is its group's, the rest the
      // cell's, and no outline covers a neighbour.
      for (size_t a = 0; a < model.Sim.Agents.size(); a += 97) {
        const TAgent& agent = model.Sim.Agents[a];
        ASSERT_EQ(picture.pixel(agent.CellX, agent.CellY), QColor(ToQColor(agent.Color)).rgb());
      }
      const GridPos empty = [&] {
        for (int y = 0;; ++y)
          for (int x = 0; x < model.Sim.ColCount; ++x)
            if (!model.Sim.CellAt(x, y).Occupied) return GridPos{x, y};
      }();
      EXPECT_EQ(picture.pixel(empty.x, empty.y),
                QColor(ToQColor(model.Sim.CellAt(empty.x, empty.y).DrawColor)).rgb());
    }
    Save(main.get(), size[0] == '1' ? "cell-size-1" : "cell-size-34");
  }
}

}  // namespace
}  // namespace segwork::ui
