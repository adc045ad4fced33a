#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAreaSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QHorizontalBarSeries>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QValueAxis>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "ui/AnalyseForm.h"
#include "window/CellForm.h"

namespace segwork::ui {
namespace {

class AnalysisWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model.Sim.ClockSeed = [] { return 1u; };
    model.TickCount = [] { return 0u; };
    model.StartProgram();
    Steps(5);
  }

  void Steps(int n) {
    for (int i = 0; i < n; ++i) model.AdvanceOneStep();
  }

  void Open() {
    window = std::make_unique<TForm2>(model);
    window->show();
    window->Refresh();
  }

  QChartView* View(int n) const {
    return window->findChild<QChartView*>(QString("Chart%1").arg(n));
  }
  QChart* Chart(int n) const { return View(n)->chart(); }
  QLineSeries* Line(int chart, int i) const {
    return qobject_cast<QLineSeries*>(Chart(chart)->series().at(i));
  }
  QAbstractItemModel* Grid() const {
    return window->findChild<QTableView*>("DissimiGrid")->model();
  }
  QString Cell(int row, int column) const {
    return Grid()->data(Grid()->index(row, column)).toString();
  }

  // The core's series on a chart, in the order the window adds them.
  std::vector<const LineSeries*> CoreSeries(int chart) const {
    std::vector<const LineSeries*> out;
    const AnalysisWindow& a = model.Analysis;
    for (const auto* table : {&a.SatisfactionSeries, &a.SegregationSeries,
                              &a.DensitySegregationSeries, &a.ChangeSeries}) {
      for (const LineSeries& s : *table) {
        if (s.chart == chart) out.push_back(&s);
      }
    }
    return out;
  }

  void ExpectLineChartsMirrorCore() const {
    for (int chart : {1, 4, 5, 6}) {
      SCOPED_TRACE(chart);
      const auto core = CoreSeries(chart);
      ASSERT_EQ(Chart(chart)->series().size(), qsizetype(core.size()));
      for (size_t i = 0; i < core.size(); ++i) {
        QLineSeries* s = Line(chart, int(i));
        ASSERT_EQ(s->count(), qsizetype(core[i]->points.size()));
        if (s->count() == 0) continue;
        EXPECT_EQ(s->at(0), QPointF(core[i]->points.front().x, core[i]->points.front().y));
        EXPECT_EQ(s->at(s->count() - 1),
                  QPointF(core[i]->points.back().x, core[i]->points.back().y));
      }
    }
  }

  int ClusterBarsShown() const {
    int bars = 0;
    for (QAbstractSeries* s : Chart(2)->series()) {
      bars += int(qobject_cast<QAreaSeries*>(s)->upperSeries()->count()) / 4;
    }
    return bars;
  }

  Model model;
  std::unique_ptr<TForm2> window;
};

TEST_F(AnalysisWindowTest, ChartsMirrorTheCore) {
  Open();
  ExpectLineChartsMirrorCore();
  for (int chart = 1; chart <= 6; ++chart) {
    EXPECT_EQ(Chart(chart)->title().toStdString(), model.Analysis.ChartTitle[size_t(chart)]);
  }
  // Every axis a line chart shows says what it measures.
  for (int chart : {1, 4, 5, 6}) {
    for (const QAbstractAxis* axis : Chart(chart)->axes()) {
      if (axis->isVisible()) {
        EXPECT_FALSE(axis->titleText().isEmpty()) << chart;
      }
    }
  }
  // Theme colours must not win over the group colours.
  const TColor g0 = model.Sim.GroupColours[0];
  EXPECT_EQ(Line(1, 0)->color(), QColor(int(RedOf(g0)), int(GreenOf(g0)), int(BlueOf(g0))));

  const auto& groups = model.Analysis.Series3.bars;
  const auto sets = qobject_cast<QHorizontalBarSeries*>(Chart(3)->series().at(0))->barSets();
  ASSERT_EQ(sets.size(), qsizetype(groups.size()));
  for (size_t g = 0; g < groups.size(); ++g) EXPECT_EQ(sets[qsizetype(g)]->at(0), groups[g].value);
  EXPECT_EQ(ClusterBarsShown(), int(model.Analysis.ClusterSizeSeries.bars.size()));

  // Later refreshes only add what is new; the cluster chart of step 31 replaces the first.
  Steps(30);
  window->Refresh();
  ExpectLineChartsMirrorCore();
  EXPECT_EQ(Chart(2)->title(), "cluster sizes >1 at timestep 31");
  EXPECT_EQ(ClusterBarsShown(), int(model.Analysis.ClusterSizeSeries.bars.size()));

  // Very many clusters are drawn in buckets, still over the full width.
  auto& bars = model.Analysis.ClusterSizeSeries.bars;
  bars.assign(3 * TForm2::kMaxClusterBars + 1, Bar{2, model.Sim.GroupColours[0]});
  ++model.Analysis.ClusterChartCount;
  window->Refresh();
  EXPECT_LE(ClusterBarsShown(), int(TForm2::kMaxClusterBars));
  EXPECT_GT(ClusterBarsShown(), int(TForm2::kMaxClusterBars) / 2);
  auto* positions = qobject_cast<QValueAxis*>(Chart(2)->axes(Qt::Horizontal).at(0));
  EXPECT_GE(positions->max(), double(bars.size() - 1));
}

TEST_F(AnalysisWindowTest, LongSeriesAreThinnedButKeepTheEnds) {
  Open();
  auto& core = model.Analysis.SatisfactionSeries[0].points;
  const std::vector<ChartPoint> early(core.begin(), core.end());
  auto push = [&](int n) {
    for (int i = 0; i < n; ++i) core.push_back({double(core.size() + 1), std::sin(i * 0.01)});
  };
  for (int round : {50000, 1, 777, 4096}) {
    SCOPED_TRACE(round);
    push(round);
    window->Refresh();
    QLineSeries* s = Line(1, 0);
    EXPECT_LE(s->count(), qsizetype(TForm2::kMaxPointsPerSeries));
    EXPECT_EQ(s->at(s->count() - 1), QPointF(core.back().x, core.back().y));
    for (size_t i = 0; i < early.size(); ++i) {
      EXPECT_EQ(s->at(qsizetype(i)), QPointF(early[i].x, early[i].y));
    }
    for (qsizetype i = 1; i < s->count(); ++i) ASSERT_LT(s->at(i - 1).x(), s->at(i).x());
  }

  // The log axis cannot take x <= 0 or NaN; such points are left out.
  auto& other = model.Analysis.SatisfactionSeries[1].points;
  const size_t valid = other.size();
  other.push_back({0, 50});
  other.push_back({std::numeric_limits<double>::quiet_NaN(), 50});
  window->Refresh();
  EXPECT_EQ(Line(1, 1)->count(), qsizetype(valid));
  auto* logAxis = qobject_cast<QLogValueAxis*>(Chart(1)->axes(Qt::Horizontal).at(0));
  EXPECT_GT(logAxis->min(), 0);
  EXPECT_GT(logAxis->max(), logAxis->min());
}

TEST_F(AnalysisWindowTest, TableMirrorsTheDissimilarityGrid) {
  Open();
  const auto& grid = model.Analysis.DissimiGrid;
  const int groups = model.Sim.GroupCount;
  ASSERT_EQ(Grid()->columnCount(), groups + 1);
  ASSERT_EQ(Grid()->rowCount(), groups + 2);
  EXPECT_EQ(Cell(0, 0), "groups");
  EXPECT_EQ(Cell(0, 1), "group 0");
  EXPECT_EQ(Cell(1, 0), "group 0");
  EXPECT_EQ(Cell(groups + 1, 0), "IS");
  EXPECT_EQ(Cell(1, 2).toStdString(), grid[2][1]);

  // Headers are fixed; a typed value lands in the grid until the next step rewrites it.
  EXPECT_FALSE(Grid()->flags(Grid()->index(0, 1)) & Qt::ItemIsEditable);
  ASSERT_TRUE(Grid()->setData(Grid()->index(1, 2), "typed"));
  EXPECT_EQ(grid[2][1], "typed");
  Steps(1);
  window->Refresh();
  EXPECT_NE(Cell(1, 2), "typed");
  EXPECT_EQ(Cell(1, 2).toStdString(), grid[2][1]);
}

TEST_F(AnalysisWindowTest, NewRunRebuildsEverything) {
  Open();
  // A run of the same shape that is already further along than the old one was: its points
  // must replace the old ones, not follow them.
  model.Sim.ClockSeed = [] { return 2u; };
  model.SetUpRun();
  Steps(10);
  window->Refresh();
  ExpectLineChartsMirrorCore();

  model.Controls.Text(Field::Edit_anzGr) = "3";
  model.SetUpRun();
  window->Refresh();
  ExpectLineChartsMirrorCore();
  EXPECT_EQ(Chart(1)->series().size(), 3);
  EXPECT_EQ(Line(1, 0)->count(), 0);
  EXPECT_EQ(ClusterBarsShown(), 0);  // the old run's clusters are gone before the first step
  EXPECT_EQ(Grid()->columnCount(), 4);
  EXPECT_EQ(Grid()->rowCount(), 5);
  EXPECT_EQ(Cell(0, 3), "group 2");
  EXPECT_EQ(Cell(4, 0), "IS");
  EXPECT_EQ(Chart(4)->title(), "segregation measure in 20x20 tiles");

  Steps(2);
  window->Refresh();
  ExpectLineChartsMirrorCore();
  EXPECT_EQ(Line(1, 0)->count(), 2);
  EXPECT_EQ(qobject_cast<QHorizontalBarSeries*>(Chart(3)->series().at(0))->count(), 3);
}

TEST_F(AnalysisWindowTest, ZoomHoldsUntilUndoZoom) {
  Open();
  // Dragging towards the upper left zooms too.
  QWidget* viewport = View(1)->viewport();
  const QPoint from = Chart(1)->plotArea().center().toPoint() + QPoint(60, 40);
  const QPoint to = from - QPoint(120, 80);
  QTest::mousePress(viewport, Qt::LeftButton, {}, from);
  QTest::mouseMove(viewport, to);
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
  ASSERT_TRUE(Chart(1)->isZoomed());
  for (int chart = 2; chart <= 6; ++chart) Chart(chart)->zoom(2.0);

  auto* time = qobject_cast<QValueAxis*>(Chart(4)->axes(Qt::Horizontal).at(0));
  const double zoomedMax = time->max();
  Steps(100);
  window->Refresh();
  EXPECT_EQ(time->max(), zoomedMax) << "new points must not undo the user's zoom";

  window->findChild<QPushButton*>("B_undoZ")->click();
  for (int chart = 1; chart <= 6; ++chart) EXPECT_FALSE(Chart(chart)->isZoomed()) << chart;
  EXPECT_GE(time->max(), model.Analysis.SegregationSeries[0].points.back().x);
}

TEST_F(AnalysisWindowTest, RefreshesOnlyWhileVisible) {
  Open();
  const qsizetype shown = Line(4, 0)->count();
  window->hide();
  Steps(3);
  window->Refresh();
  EXPECT_EQ(Line(4, 0)->count(), shown);
  window->show();  // catches up at once
  EXPECT_EQ(Line(4, 0)->count(), shown + 3);
  Steps(2);  // and then by its timer
  EXPECT_TRUE(QTest::qWaitFor([&] { return Line(4, 0)->count() == shown + 5; }, 1000));
}

}  // namespace
}  // namespace segwork::ui
