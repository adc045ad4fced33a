#pragma once

#include <QWidget>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QChart;
class QTimer;

namespace segwork {
class Model;
}

namespace segwork::ui {

// The analysis window "Analysis": seven charts and the dissimilarity table, views over the core's
// series. It refreshes itself at a bounded rate while visible.
class TForm2 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm2(Model& model, QWidget* parent = nullptr);
  ~TForm2() override;
  // Brings charts and table up to date with the core's data; does nothing while hidden.
  void Refresh();
  void B_undoZClick();

  // A chart series holds at most this many points (fewer when a chart has many series); older
  // points are thinned out, the core keeps them all.
  static constexpr size_t kMaxPointsPerSeries = 1000;
  // Points shared by all series of one chart, so a run with many groups stays bounded.
  static constexpr size_t kPointBudgetPerChart = 20000;
  static constexpr size_t kMinPointsPerSeries = 20;
  // More cluster bars than this are drawn in buckets of neighbours, each as its tallest bar.
  static constexpr size_t kMaxClusterBars = 5000;
  // With more groups than this the group-size labels would overlap; they are left off.
  static constexpr size_t kMaxGroupLabels = 16;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  // Larger than its default (and smallest) size, the charts and the table share the room as
  // they share the default one.
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct LineChart;
  struct ClusterChart;
  struct GroupSizeChart;
  class GridModel;

  void RefreshLineChart(LineChart& lc, bool reset);
  void FitLineChart(LineChart& lc);
  void RebuildClusterBars();
  void RebuildGroupSizeBars();
  void FitGroupSizeChart();
  void RefreshTitles();
  void ChooseSpatialMeasure(const QString& name);
  QChart* ChartOf(int number) const;

  Model& model_;
  QTimer* timer_ = nullptr;
  // Chart1, Chart4, Chart5, Chart6, Chart7 (the chosen spatial measure).
  std::array<std::unique_ptr<LineChart>, 5> lineCharts_;
  std::unique_ptr<ClusterChart> clusterChart_;      // Chart2
  std::unique_ptr<GroupSizeChart> groupSizeChart_;  // Chart3
  GridModel* gridModel_ = nullptr;
  std::array<std::string, 7> shownTitles_;
  // Core counters as of the last refresh; the initial values force a first build.
  uint64_t seenReset_ = UINT64_MAX;
  uint64_t seenClusterChart_ = UINT64_MAX;
  uint64_t seenGrid_ = UINT64_MAX;
  QSize defaultSize_;
  std::vector<std::pair<QWidget*, QRect>> laidOut_;
};

}  // namespace segwork::ui
