#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QValueAxis>
#include <string>
#include <vector>

#include "experiments/sweep_core.h"
#include "tests/ui_desktop.h"
#include "ui/chart_export.h"
#include "ui/look.h"

namespace segwork::ui {
namespace {

using Lines = std::vector<std::string>;
using testing::RunUntilStopped;

void SetFields(QWidget* window, std::initializer_list<std::pair<const char*, const char*>> fields) {
  for (auto [name, text] : fields) window->findChild<QLineEdit*>(name)->setText(text);
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  for (const QByteArray& f : QByteArray::fromStdString(line).split(',')) {
    fields.push_back(f.toStdString());
  }
  return fields;
}

// `<name> <x>,<name>` for each series.
std::string Header(const std::vector<std::pair<std::string, std::string>>& series) {
  std::string text;
  for (const auto& [name, x] : series)
    text += (text.empty() ? "" : ",") + name + " " + x + "," + name;
  return text;
}

// Every save goes to `next` in a temporary directory; the dialog is not shown.
class ChartExport : public testing::Desktop {
 protected:
  void SetUp() override {
    Desktop::SetUp();
    ASSERT_TRUE(dir.isValid());
    SavePathPrompt::ask = [this](QWidget*, const QString& caption, const QString& suggested,
                                 const QString& filter) {
      asked.push_back(caption + "|" + QFileInfo(suggested).fileName() + "|" + filter);
      return next;
    };
  }
  void TearDown() override {
    SavePathPrompt::ask = nullptr;
    Desktop::TearDown();
  }

  static QMenu* Menu(QChartView* view) { return view->findChild<QMenu*>("ChartExportMenu"); }
  // Action 0 saves the image, 1 the data; an empty name cancels. Returns the path.
  QString Save(QChartView* view, int action, const QString& name) {
    next = name.isEmpty() ? QString() : dir.filePath(name);
    Menu(view)->actions().at(action)->trigger();
    return next;
  }
  static Lines Csv(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    Lines lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
      if (!line.isEmpty()) lines.push_back(line.toStdString());
    }
    return lines;
  }
  static void ExpectImageOf(QChartView* view, const QString& path) {
    const QImage image(path);
    ASSERT_FALSE(image.isNull()) << path.toStdString();
    EXPECT_EQ(image.size(), view->size());
  }
  static void OpenMenu(QChartView* view, QPoint at) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &event);
  }
  QChartView* Chart(QWidget* window, const QString& name) {
    return window->findChild<QChartView*>(name);
  }
  void Steps(int n) {
    for (int i = 0; i < n; ++i) model.AdvanceOneStep();
    analysis->Refresh();
  }

  QTemporaryDir dir;
  QString next;
  std::vector<QString> asked;
};

TEST_F(ChartExport, EveryChartHasTheMenuAndTheRightButtonOnlyOpensIt) {
  QList<QChartView*> views = analysis->findChildren<QChartView*>();
  for (QWidget* w : {static_cast<QWidget*>(ps.get()), static_cast<QWidget*>(growth.get()),
                     static_cast<QWidget*>(streets.get())}) {
    for (QChartView* v : w->findChildren<QChartView*>()) views.push_back(v);
  }
  ASSERT_EQ(views.size(), 11u);
  for (QChartView* view : views) {
    ASSERT_NE(Menu(view), nullptr) << view->objectName().toStdString();
    // The charts with a line per group can also show their legend.
    const bool groups = QStringList{"Chart1", "Chart4", "Chart5"}.contains(view->objectName());
    ASSERT_EQ(Menu(view)->actions().size(), groups ? 3 : 2);
    EXPECT_EQ(Menu(view)->actions()[0]->text(), QString::fromUtf8("Save image\u2026"));
    EXPECT_EQ(Menu(view)->actions()[1]->text(), QString::fromUtf8("Save data\u2026"));
    if (groups) {
      EXPECT_FALSE(view->chart()->legend()->isVisible());
      Menu(view)->actions()[2]->trigger();
      EXPECT_TRUE(view->chart()->legend()->isVisible());
    }
  }
  // A legend entry is a group's colour and the group, counted as in the table.
  Stop();
  main->Timer1Timer();
  analysis->show();
  analysis->Refresh();
  const QList<QLegendMarker*> markers =
      Chart(analysis.get(), "Chart1")->chart()->legend()->markers();
  ASSERT_EQ(markers.size(), qsizetype(model.Sim.GroupColours.size()));
  EXPECT_EQ(markers[1]->label(), "group 1");
  EXPECT_EQ(markers[1]->brush().color(), ToQColor(model.Sim.GroupColours[1]));

  // A left drag still zooms, the right button opens the menu and leaves the zoom (on the
  // experiment charts it used to zoom out), undoZoom still undoes.
  streets->show();
  QChartView* view = Chart(streets.get(), "Chart_Streets");
  auto* x = qobject_cast<QValueAxis*>(view->chart()->axes(Qt::Horizontal).at(0));
  auto range = [x] { return std::pair(x->min(), x->max()); };
  const auto wide = range();
  const QPoint from = view->chart()->plotArea().topLeft().toPoint() + QPoint(20, 20);
  const QPoint to = from + QPoint(120, 80);
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
  QTest::mouseMove(view->viewport(), to);
  OpenMenu(view, to);  // not during the drag: the menu would take the release
  EXPECT_FALSE(Menu(view)->isVisible());
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
  ASSERT_TRUE(view->chart()->isZoomed());
  const auto zoomed = range();
  EXPECT_LT(zoomed.second - zoomed.first, wide.second - wide.first);
  QTest::mouseClick(view->viewport(), Qt::RightButton, {}, from);
  OpenMenu(view, from);
  EXPECT_TRUE(Menu(view)->isVisible());
  Menu(view)->hide();
  EXPECT_EQ(range(), zoomed);
  QTest::mouseClick(streets->findChild<QPushButton*>("B_undoZ"), Qt::LeftButton);
  EXPECT_FALSE(view->chart()->isZoomed());
}

TEST_F(ChartExport, AnalysisChartsSaveTheirImageAndAllTheCoresPoints) {
  Stop();
  analysis->show();
  Steps(int(TForm2::kMaxPointsPerSeries) + 100);  // past the point where the charts thin
  const AnalysisWindow& a = model.Analysis;
  auto groups = [&](const char* prefix, const char* x,
                    std::vector<std::pair<std::string, std::string>> more) {
    std::vector<std::pair<std::string, std::string>> series;
    for (int g = 1; g <= model.Sim.GroupCount; ++g)
      series.push_back({prefix + std::to_string(g), x});
    series.insert(series.end(), more.begin(), more.end());
    return Header(series);
  };
  const std::pair<std::string, size_t> expected[7] = {
      {},
      {groups("sat_", "step", {}), a.SatisfactionSeries[0].points.size()},
      {Header({{"cluster_size", "position"}}), a.ClusterSizeSeries.bars.size()},
      {Header({{"agents", "group"}}), size_t(model.Sim.GroupCount)},
      {groups("is_", "step", {{"density", "step"}}), a.SegregationSeries[0].points.size()},
      {groups("is_", "agents", {{"density", "agents"}}), a.ChangeSeries[2].points.size()},
      {Header({{"movers", "step"}, {"movers_percent", "step"}}), a.ChangeSeries[0].points.size()},
  };
  ASSERT_GT(a.ClusterSizeSeries.bars.size(), 0u);
  for (int n = 1; n <= 6; ++n) {
    SCOPED_TRACE(n);
    QChartView* view = Chart(analysis.get(), QString("Chart%1").arg(n));
    ExpectImageOf(view, Save(view, 0, QString("chart%1.png").arg(n)));
    const Lines csv = Csv(Save(view, 1, QString("chart%1.csv").arg(n)));
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv[0], expected[n].first);
    EXPECT_EQ(csv.size() - 1, expected[n].second);
    for (const std::string& line : csv) EXPECT_EQ(Fields(line).size(), Fields(csv[0]).size());
  }
  // The core's points, not the chart's thinned ones; at full precision.
  const auto* shown = Chart(analysis.get(), "Chart6")->chart()->series().at(0);
  ASSERT_LT(size_t(qobject_cast<const QLineSeries*>(shown)->count()), expected[6].second);
  const Lines sat = Csv(dir.filePath("chart1.csv"));
  const ChartPoint last = a.SatisfactionSeries[1].points.back();
  EXPECT_EQ(std::stod(Fields(sat.back())[2]), last.x);
  EXPECT_EQ(std::stod(Fields(sat.back())[3]), last.y);
  // Bars at the positions they are drawn at; groups counted from 1 as in sat_1.
  const std::string lastBar = Csv(dir.filePath("chart2.csv")).back();
  EXPECT_EQ(Fields(lastBar)[0], std::to_string(a.ClusterSizeSeries.bars.size() - 1));
  EXPECT_EQ(Csv(dir.filePath("chart3.csv"))[1], "1," + std::to_string(model.Sim.GroupSizes[0]));
  EXPECT_EQ(asked.front(),
            "Save chart image|average satisfaction of the agents.png|PNG image (*.png)");
  EXPECT_EQ(asked.back(), "Save chart data|changes.csv|CSV table (*.csv)");
  EXPECT_TRUE(boxes.empty());
}

TEST_F(ChartExport, ExperimentChartsSaveWhatTheyShowAfterAShortSweep) {
  Stop();
  streets->show();
  SetFields(streets.get(), {{"E_valFrom", "2"},
                            {"E_valTo", "4"},
                            {"E_calcVals", "1"},
                            {"E_toSteps", "3"},
                            {"E_seed", "9"}});
  QTest::mouseClick(streets->findChild<QPushButton*>("S_start"), Qt::LeftButton);
  RunUntilStopped(streets->Timer());
  const StreetAnalysis& s = streets->sweep();
  ASSERT_EQ(s.Series_street.Count(), 3u);
  ASSERT_EQ(s.Series_strTrend.Count(), 2u);
  QChartView* view = Chart(streets.get(), "Chart_Streets");
  ExpectImageOf(view, Save(view, 0, "streets.png"));
  const Lines csv = Csv(Save(view, 1, "streets.csv"));
  ASSERT_EQ(csv.size(), 4u);
  EXPECT_EQ(csv[0], "clusters street_cells,clusters,trend street_cells,trend,seed");
  for (size_t r = 0; r < 3; ++r) {
    EXPECT_EQ(std::stod(Fields(csv[r + 1])[0]), s.Series_street.XValue(r));
    EXPECT_EQ(std::stod(Fields(csv[r + 1])[1]), s.Series_street.YValue(r));
    // Each point's own run seed, mixed from the sweep's as segwork-cli sweep mixes it.
    EXPECT_EQ(Fields(csv[r + 1])[4], std::to_string(RunSeed(9, uint32_t(r))));
  }
  EXPECT_EQ(std::stod(Fields(csv[2])[3]), s.Series_strTrend.YValue(1));
  EXPECT_EQ(Fields(csv[3])[2] + Fields(csv[3])[3], "");  // the shorter series has ended
  EXPECT_EQ(asked.back(), "Save chart data|Streets - Clusters Relationship.csv|CSV table (*.csv)");
  Save(view, 1, "typed without suffix");
  EXPECT_EQ(Csv(dir.filePath("typed without suffix.csv")), csv);

  // A hidden series is left out, as it is from the image.
  ps->findChild<QComboBox*>("CB_param")->setCurrentIndex(0);
  SetFields(ps.get(), {{"E_toSteps", "3"}, {"E_calcVals", "1"}});
  QTest::mouseClick(ps->findChild<QPushButton*>("B_start"), Qt::LeftButton);
  RunUntilStopped(ps->Timer());
  ps->findChild<QCheckBox*>("CB_trend_Clust")->setChecked(false);
  const Lines clusters = Csv(Save(Chart(ps.get(), "Chart_Cluster"), 1, "clusters.csv"));
  EXPECT_EQ(
      clusters[0],
      Header({{"clusters", "value"}, {"clusters_average", "value"}, {"clusters_fit", "value"}}) +
          ",seed");
  EXPECT_EQ(clusters.size() - 1, ps->sweep().Series_Avg.Count());
  EXPECT_EQ(Csv(Save(Chart(ps.get(), "Chart_IS"), 1, "is.csv"))[0],
            Header({{"mean_is", "value"},
                    {"is_average", "value"},
                    {"is_fit", "value"},
                    {"is_trend", "value"}}) +
                ",seed");

  // The growth chart's lines named as in the CLI's summary.
  SetFields(growth.get(), {{"E_valTo", "20"}, {"E_toSteps", "5"}, {"E_calcVals", "2"}});
  QTest::mouseClick(growth->findChild<QPushButton*>("B_start"), Qt::LeftButton);
  RunUntilStopped(growth->Timer());
  const Lines lines = Csv(Save(Chart(growth.get(), "Chart_Growth"), 1, "growth.csv"));
  EXPECT_EQ(lines[0], Header({{"density", "step"},
                              {"value_10", "step"},
                              {"value_20", "step"},
                              {"calc_1", "step"},
                              {"calc_2", "step"}}) +
                          ",calc_seed");
  EXPECT_EQ(lines.size() - 1, 5u);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(ChartExport, AFailedSaveSaysSoAndACancelledOneDoesNothing) {
  Stop();
  QChartView* view = Chart(analysis.get(), "Chart6");
  const QString missing = QDir::toNativeSeparators(dir.filePath("missing/chart."));
  Save(view, 0, "missing/chart.png");
  Save(view, 1, "missing/chart.csv");
  Save(view, 1, "");  // cancelled
  next = dir.path();  // a directory in the way
  Menu(view)->actions().at(1)->trigger();
  // One box at a time, each after the last has closed.
  QElapsedTimer clock;
  clock.start();
  while (boxes.size() < 3 && clock.elapsed() < 5000) QTest::qWait(10);
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_TRUE(boxes[0].startsWith("|could not save the image to " + missing + "png: "))
      << boxes[0].toStdString();
  EXPECT_TRUE(boxes[1].startsWith("|could not save the data to " + missing + "csv: "))
      << boxes[1].toStdString();
  EXPECT_TRUE(boxes[2].startsWith("|could not save the data to ")) << boxes[2].toStdString();
  EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

}  // namespace
}  // namespace segwork::ui
