#include "ui/AnalyseForm.h"

#include <QAbstractTableModel>
#include <QAreaSeries>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QHeaderView>
#include <QHideEvent>
#include <QHorizontalBarSeries>
#include <QLegend>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMenu>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QTableView>
#include <QTimer>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ui/chart_axes.h"
#include "ui/chart_export.h"
#include "ui/look.h"
#include "window/CellForm.h"

namespace segwork::ui {

namespace {

constexpr int kRefreshMs = 33;
constexpr double kHalfBar = 0.4;

// The table's cells are 45 pixels wide; the usual text margins would elide "group 10".
class NarrowCellStyle final : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_FocusFrameHMargin) return 1;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

// Right-click would zoom out one step; here only the undoZoom button undoes a zoom.
class ChartView final : public QChartView {
 public:
  using QChartView::QChartView;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::RightButton) {
      event->accept();
      return;
    }
    QChartView::mouseReleaseEvent(event);
  }
};

struct Bounds {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  bool Any() const { return lo <= hi; }
  void Add(double v) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  void Add(const Bounds& b) {
    lo = std::min(lo, b.lo);
    hi = std::max(hi, b.hi);
  }
};

// Qt Charts does not rescale as points arrive, so every axis is fitted to the data here.
void FitValueAxis(QValueAxis* axis, Bounds b) {
  if (b.Any()) {
    FitNiceRange(axis, b.lo, b.hi);
  } else {
    FitNiceRange(axis, 0, 1);
  }
}

// Whole decades; a log axis cannot show zero or an empty span.
void FitLogAxis(QLogValueAxis* axis, Bounds b) {
  if (!b.Any() || !(b.lo > 0)) b = {1, 10};
  const double lo = std::pow(10.0, std::floor(std::log10(b.lo)));
  double hi = std::pow(10.0, std::ceil(std::log10(b.hi)));
  if (!(hi > lo)) hi = lo * 10;
  if (axis->min() != lo || axis->max() != hi) axis->setRange(lo, hi);
}

using Table = std::vector<LineSeries> AnalysisWindow::*;
// In this order a chart shows its group series below the change series.
constexpr Table kTables[] = {&AnalysisWindow::SatisfactionSeries,
                             &AnalysisWindow::SegregationSeries,
                             &AnalysisWindow::DensitySegregationSeries,
                             &AnalysisWindow::ChangeSeries, &AnalysisWindow::SpatialSeries};

struct Source {
  size_t table = 0;
  size_t index = 0;
  bool operator==(const Source&) const = default;
};

// The chart's copy of one core series: the first `head` points, then the points at core indexes
// that are multiples of the stride, plus the newest point. The stride doubles as the series
// grows, so a long run stays within the cap at O(new points) a refresh.
struct Track {
  Source source;
  QLineSeries* series = nullptr;
  bool onLeft = false;
  QList<QPointF> shown;
  size_t consumed = 0;     // core points looked at
  uint64_t thinnings = 0;  // of the core series when last looked at
  size_t stride = 1;
  bool tail = false;  // shown ends with the newest core point, off the stride
  Bounds x, y;

  static bool Valid(const ChartPoint& p, bool logX) {
    return std::isfinite(p.x) && std::isfinite(p.y) && (!logX || p.x > 0);
  }
  bool Kept(size_t i, size_t head) const { return i < head || i % stride == 0; }

  // True when the series was given new points.
  bool Update(const LineSeries& core, size_t cap, size_t head, bool logX) {
    const std::vector<ChartPoint>& points = core.points;
    const size_t n = points.size();
    bool changed = false;
    if (n < consumed || core.Thinnings != thinnings) {  // the core started over or thinned
      thinnings = core.Thinnings;
      shown.clear();
      consumed = 0;
      stride = 1;
      tail = false;
      x = y = {};
      changed = true;
    }
    if (n == consumed) {
      if (changed) series->replace(shown);
      return changed;
    }
    if (tail) {
      shown.removeLast();
      tail = false;
    }
    for (size_t i = consumed; i < n; ++i) {
      const ChartPoint& p = points[i];
      if (!Valid(p, logX)) continue;
      x.Add(p.x);
      y.Add(p.y);
      if (Kept(i, head)) shown.append(QPointF(p.x, p.y));
    }
    consumed = n;
    // Room for the head, the stride points and the newest one.
    size_t s = stride;
    while (head + (n - 1) / s + 2 > cap) s *= 2;
    if (s != stride) {
      stride = s;
      shown.clear();
      shown.reserve(qsizetype(cap));
      for (size_t i = 0; i < n; i = i + 1 < head ? i + 1 : (i / stride + 1) * stride) {
        if (Valid(points[i], logX)) shown.append(QPointF(points[i].x, points[i].y));
      }
    }
    const ChartPoint& last = points[n - 1];
    if (!Kept(n - 1, head) && Valid(last, logX)) {
      shown.append(QPointF(last.x, last.y));
      tail = true;
    }
    // One replace redraws once; appending point by point would redraw per point.
    series->replace(shown);
    return true;
  }
};

void StyleChart(QChart* chart, const QFont& font) {
  chart->legend()->hide();
  chart->setBackgroundBrush(Qt::white);
  chart->setBackgroundPen(QPen(QColor(160, 160, 160)));
  chart->setBackgroundRoundness(0);
  chart->setMargins(QMargins(2, 2, 2, 2));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  QFont title = font;
  title.setBold(true);
  chart->setTitleFont(title);
}

template <typename Axis>
Axis* AddAxis(QChart* chart, Qt::Alignment where, const QString& caption, const QFont& font,
              bool integers = false) {
  auto* axis = new Axis;
  if constexpr (std::is_same_v<Axis, QValueAxis>) UseNiceTicks(axis, integers);
  axis->setLabelsFont(font);
  axis->setTitleFont(font);
  if (!caption.isEmpty()) axis->setTitleText(caption);
  chart->addAxis(axis, where);
  return axis;
}

}  // namespace

struct TForm2::LineChart {
  int number = 0;
  QChart* chart = nullptr;
  QValueAxis* x = nullptr;        // or
  QLogValueAxis* logX = nullptr;  // on Chart1
  QValueAxis* left = nullptr;
  QValueAxis* right = nullptr;
  std::vector<Track> tracks;
  size_t cap = kMaxPointsPerSeries;
  size_t head = 0;  // leading points never thinned
  QAbstractAxis* XAxis() const { return logX ? static_cast<QAbstractAxis*>(logX) : x; }
};

struct TForm2::ClusterChart {
  QChart* chart = nullptr;
  QValueAxis* x = nullptr;
  QValueAxis* y = nullptr;
  // One area per bar colour, its outline a comb of the bars: Qt's bar sets have one colour each,
  // and a stacked set per colour would cost colours x bars items.
  std::vector<std::pair<TColor, QAreaSeries*>> areas;
  size_t bars = 0;
  double top = 0;
};

struct TForm2::GroupSizeChart {
  QChart* chart = nullptr;
  QHorizontalBarSeries* series = nullptr;  // one set per group in a single category
  QValueAxis* x = nullptr;
  QBarCategoryAxis* y = nullptr;
  QFont font;
};

// The dissimilarity table, read in place from the core's grid. The header row and column are
// ordinary cells so the texts mirror the grid one to one.
class TForm2::GridModel final : public QAbstractTableModel {
 public:
  GridModel(AnalysisWindow& analysis, QColor header, QObject* parent)
      : QAbstractTableModel(parent), analysis_(analysis), header_(header) {}

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : rows_;
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : columns_;
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
      const std::string* text = Cell(index);
      return text ? QString::fromStdString(*text) : QString();
    }
    if (role == Qt::BackgroundRole && IsHeader(index)) return header_;
    return {};
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!IsHeader(index)) f |= Qt::ItemIsEditable;
    return f;
  }

  // The typed text stays until the core next writes the cell; nothing reads it.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    std::string* text = role == Qt::EditRole && !IsHeader(index) ? Cell(index) : nullptr;
    if (!text) return false;
    *text = value.toString().toStdString();
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
  }

  void Sync(bool textsChanged) {
    const auto& grid = analysis_.DissimiGrid;
    const int columns = int(grid.size());
    int rows = 0;
    for (const auto& column : grid) rows = std::max(rows, int(column.size()));
    if (rows != rows_ || columns != columns_) {
      beginResetModel();
      rows_ = rows;
      columns_ = columns;
      endResetModel();
    } else if (textsChanged && rows_ > 0 && columns_ > 0) {
      emit dataChanged(index(0, 0), index(rows_ - 1, columns_ - 1),
                       {Qt::DisplayRole, Qt::EditRole});
    }
  }

 private:
  static bool IsHeader(const QModelIndex& index) { return index.row() == 0 || index.column() == 0; }

  // The grid may change shape before the next Sync; paint what is there.
  std::string* Cell(const QModelIndex& index) const {
    auto& grid = analysis_.DissimiGrid;
    if (!index.isValid() || size_t(index.column()) >= grid.size()) return nullptr;
    auto& column = grid[size_t(index.column())];
    return size_t(index.row()) < column.size() ? &column[size_t(index.row())] : nullptr;
  }

  AnalysisWindow& analysis_;
  QColor header_;
  int rows_ = 0;
  int columns_ = 0;
};

TForm2::TForm2(Model& model, QWidget* parent) : QWidget(parent), model_(model) {
  setWindowFlag(Qt::Window);
  setWindowTitle("Analysis");
  const QFont font = WindowFont();
  setFont(font);
  resize(1092, 1030);
  move(0, 131);

  auto makeChart = [&](const char* name, int left, int top, int width, int height) {
    auto* chart = new QChart;
    StyleChart(chart, font);
    auto* view = new ChartView(chart, this);
    view->setObjectName(name);
    view->setGeometry(left, top, width, height);
    view->setRubberBand(QChartView::RectangleRubberBand);
    view->setRenderHint(QPainter::Antialiasing);
    view->setFrameShape(QFrame::NoFrame);
    // Every refresh moves every series item; a spatial index would be rebuilt each time.
    view->scene()->setItemIndexMethod(QGraphicsScene::NoIndex);
    AddChartExport(view, [this, number = name[5] - '0'] {  // "ChartN"
      return AnalysisChartData(model_.Analysis, number);
    });
    // The charts with a line per group can say which colour is which group; off at first, so
    // the plot keeps its room.
    const char number = name[5];
    if (number == '1' || number == '4' || number == '5') {
      if (auto* menu = view->findChild<QMenu*>("ChartExportMenu")) {
        QAction* legend = menu->addAction("Show legend");
        legend->setObjectName("ShowLegend");
        legend->setCheckable(true);
        chart->legend()->setFont(font);
        QObject::connect(legend, &QAction::toggled, chart->legend(),
                         [chart](bool on) { chart->legend()->setVisible(on); });
      }
    }
    return chart;
  };

  QChart* chart3 = makeChart("Chart3", 8, 8, 234, 249);
  QChart* chart1 = makeChart("Chart1", 248, 8, 403, 249);
  QChart* chart6 = makeChart("Chart6", 657, 8, 427, 249);
  QChart* chart2 = makeChart("Chart2", 8, 263, 744, 234);
  QChart* chart5 = makeChart("Chart5", 8, 503, 561, 255);
  QChart* chart4 = makeChart("Chart4", 575, 503, 509, 255);
  QChart* chart7 = makeChart("Chart7", 8, 796, 1076, 226);

  auto lineChart = [&](int number, QChart* chart, const QString& xCaption,
                       const QString& leftCaption, const QString& rightCaption) {
    auto lc = std::make_unique<LineChart>();
    lc->number = number;
    lc->chart = chart;
    if (number == 1) {
      lc->logX = AddAxis<QLogValueAxis>(chart, Qt::AlignBottom, xCaption, font);
      lc->logX->setBase(10);
      lc->logX->setLabelFormat("%g");
      lc->logX->setMinorTickCount(8);
    } else {
      lc->x = AddAxis<QValueAxis>(chart, Qt::AlignBottom, xCaption, font, true);
    }
    lc->left = AddAxis<QValueAxis>(chart, Qt::AlignLeft, leftCaption, font);
    lc->right = AddAxis<QValueAxis>(chart, Qt::AlignRight, rightCaption, font);
    lc->left->setVisible(false);
    lc->right->setVisible(false);
    return lc;
  };
  lineCharts_[0] = lineChart(1, chart1, "time in log10", "", "satisfaction");
  lineCharts_[1] = lineChart(4, chart4, "time", "density", "segregation index");
  lineCharts_[1]->left->setGridLineVisible(false);
  lineCharts_[2] = lineChart(5, chart5, "number of agents", "density", "segregation index");
  lineCharts_[2]->left->setGridLineVisible(false);
  lineCharts_[2]->left->setLineVisible(false);
  lineCharts_[3] = lineChart(6, chart6, "timesteps", "percentage of changing agents",
                             "number of changing agents");
  lineCharts_[3]->left->setGridLineVisible(false);
  lineCharts_[4] = lineChart(7, chart7, "time", "", "");

  // The spatial measures cost a pass over the cells per step: the run records them all, the
  // chart shows the columns of one.
  auto* spatial = new QComboBox(this);
  spatial->setObjectName("CB_spatial");
  spatial->setGeometry(8, 768, 260, 24);
  for (const Measure& m : Measures()) {
    if (m.available == MeasureAvailable::OnRequest) spatial->addItem(m.name);
  }
  spatial->setCurrentText(QString::fromStdString(model_.Analysis.SpatialMeasure));
  connect(spatial, &QComboBox::currentTextChanged, this, &TForm2::ChooseSpatialMeasure);
  ChooseSpatialMeasure(spatial->currentText());

  clusterChart_ = std::make_unique<ClusterChart>();
  clusterChart_->chart = chart2;
  clusterChart_->x = AddAxis<QValueAxis>(chart2, Qt::AlignBottom, "", font, true);
  clusterChart_->y = AddAxis<QValueAxis>(chart2, Qt::AlignLeft, "", font, true);

  groupSizeChart_ = std::make_unique<GroupSizeChart>();
  GroupSizeChart& gs = *groupSizeChart_;
  gs.chart = chart3;
  gs.font = font;
  gs.series = new QHorizontalBarSeries;
  gs.series->setBarWidth(0.9);
  gs.series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
  gs.series->setLabelsFormat("@value");
  chart3->addSeries(gs.series);
  gs.x = AddAxis<QValueAxis>(chart3, Qt::AlignBottom, "", font, true);
  gs.y = AddAxis<QBarCategoryAxis>(chart3, Qt::AlignLeft, "", font);
  gs.y->append(" ");  // an empty category name is refused
  gs.y->setGridLineVisible(false);
  gs.series->attachAxis(gs.x);
  gs.series->attachAxis(gs.y);

  auto* table = new QTableView(this);
  table->setObjectName("DissimiGrid");
  table->setGeometry(758, 263, 326, 202);
  for (QHeaderView* header : {table->horizontalHeader(), table->verticalHeader()}) {
    header->hide();
    header->setMinimumSectionSize(1);
    header->setSectionResizeMode(QHeaderView::Fixed);
  }
  table->horizontalHeader()->setDefaultSectionSize(45);
  table->verticalHeader()->setDefaultSectionSize(20);
  auto* style = new NarrowCellStyle;
  style->setParent(table);
  table->setStyle(style);
  table->setShowGrid(true);
  table->setWordWrap(false);
  table->setSelectionMode(QAbstractItemView::ContiguousSelection);
  table->setSelectionBehavior(QAbstractItemView::SelectItems);
  table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                         QAbstractItemView::AnyKeyPressed);
  gridModel_ = new GridModel(model_.Analysis, palette().color(QPalette::Button), this);
  table->setModel(gridModel_);

  auto* undo = new QPushButton("undoZoom", this);
  undo->setObjectName("B_undoZ");
  undo->setGeometry(1009, 471, 75, 25);
  connect(undo, &QPushButton::clicked, this, &TForm2::B_undoZClick);

  timer_ = new QTimer(this);
  timer_->setInterval(kRefreshMs);
  connect(timer_, &QTimer::timeout, this, &TForm2::Refresh);

  defaultSize_ = size();
  setMinimumSize(defaultSize_);
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    laidOut_.push_back({child, child->geometry()});
  }
}

TForm2::~TForm2() = default;

void TForm2::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const double sx = std::max(1.0, double(width()) / defaultSize_.width());
  const double sy = std::max(1.0, double(height()) / defaultSize_.height());
  for (const auto& [widget, at] : laidOut_) {
    // Edges scaled, so neighbours keep their gaps in proportion; a button keeps its size.
    const QPoint topLeft(int(std::lround(at.x() * sx)), int(std::lround(at.y() * sy)));
    if (qobject_cast<QPushButton*>(widget)) {
      const QPoint bottomRight(int(std::lround((at.right() + 1) * sx)),
                               int(std::lround((at.bottom() + 1) * sy)));
      widget->move(bottomRight - QPoint(at.width(), at.height()));
      continue;
    }
    const QPoint end(int(std::lround((at.x() + at.width()) * sx)),
                     int(std::lround((at.y() + at.height()) * sy)));
    widget->setGeometry(QRect(topLeft, end - QPoint(1, 1)));
  }
}

void TForm2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The spatial measures cost a pass over the cells a step; only this window's chart reads them,
  // so a run computes them while the window is open.
  model_.Sim.RecordSpatialMeasures = true;
  timer_->start();
  Refresh();
}

void TForm2::hideEvent(QHideEvent* event) {
  model_.Sim.RecordSpatialMeasures = false;
  timer_->stop();
  QWidget::hideEvent(event);
}

QChart* TForm2::ChartOf(int number) const {
  switch (number) {
    case 2:
      return clusterChart_->chart;
    case 3:
      return groupSizeChart_->chart;
    default:
      for (const auto& lc : lineCharts_) {
        if (lc->number == number) return lc->chart;
      }
      return nullptr;
  }
}

void TForm2::Refresh() {
  if (!isVisible()) return;
  const AnalysisWindow& a = model_.Analysis;
  const bool reset = a.ResetCount != seenReset_;
  for (auto& lc : lineCharts_) RefreshLineChart(*lc, reset);
  if (reset || a.ClusterChartCount != seenClusterChart_) RebuildClusterBars();
  if (reset || a.ClusterChartCount != seenClusterChart_) RebuildGroupSizeBars();
  RefreshTitles();
  gridModel_->Sync(reset || a.DissimiGridCount != seenGrid_);
  seenReset_ = a.ResetCount;
  seenClusterChart_ = a.ClusterChartCount;
  seenGrid_ = a.DissimiGridCount;
}

void TForm2::RefreshLineChart(LineChart& lc, bool reset) {
  const AnalysisWindow& a = model_.Analysis;
  // The core may add entries before its first reset, so the set is checked, not assumed.
  std::vector<Source> wanted;
  for (size_t t = 0; t < std::size(kTables); ++t) {
    const auto& table = a.*kTables[t];
    for (size_t i = 0; i < table.size(); ++i) {
      if (table[i].chart == lc.number) wanted.push_back({t, i});
    }
  }
  bool rebuild = reset || wanted.size() != lc.tracks.size();
  for (size_t k = 0; !rebuild && k < wanted.size(); ++k) {
    rebuild = !(lc.tracks[k].source == wanted[k]);
  }
  const bool logX = lc.logX != nullptr;
  if (rebuild) {
    lc.chart->removeAllSeries();
    lc.tracks.clear();
    lc.tracks.reserve(wanted.size());
    lc.cap = std::clamp(kPointBudgetPerChart / std::max<size_t>(1, wanted.size()),
                        kMinPointsPerSeries, kMaxPointsPerSeries);
    // A log axis gives the early steps as much room as the rest: keep them all.
    lc.head = logX ? lc.cap / 4 : 0;
    bool usesLeft = false;
    bool usesRight = false;
    for (const Source& src : wanted) {
      const LineSeries& core = (a.*kTables[src.table])[src.index];
      Track track;
      track.source = src;
      track.onLeft = core.axis == VerticalAxis::Left;
      track.series = new QLineSeries;
      // What the legend says: groups counted from 0 as in the table.
      const char* const changes[] = {"movers", "movers in %", "density", "density"};
      track.series->setName(src.table < 3                    ? QString("group %1").arg(src.index)
                            : src.index < std::size(changes) ? QString(changes[src.index])
                                                             : QString());
      lc.chart->addSeries(track.series);
      track.series->attachAxis(lc.XAxis());
      track.series->attachAxis(track.onLeft ? lc.left : lc.right);
      if (!core.defaultColour) track.series->setColor(ToQColor(core.colour));
      QPen pen = track.series->pen();
      pen.setWidthF(1.5);
      track.series->setPen(pen);
      (track.onLeft ? usesLeft : usesRight) = true;
      lc.tracks.push_back(std::move(track));
    }
    lc.left->setVisible(usesLeft);
    lc.right->setVisible(usesRight);
  }
  bool changed = rebuild;
  for (Track& track : lc.tracks) {
    const LineSeries& core = (a.*kTables[track.source.table])[track.source.index];
    changed = track.Update(core, lc.cap, lc.head, logX) || changed;
  }
  if (changed && !lc.chart->isZoomed()) FitLineChart(lc);
}

void TForm2::FitLineChart(LineChart& lc) {
  Bounds x, left, right;
  for (const Track& t : lc.tracks) {
    if (!t.x.Any()) continue;
    x.Add(t.x);
    (t.onLeft ? left : right).Add(t.y);
  }
  if (lc.logX) {
    FitLogAxis(lc.logX, x);
  } else {
    FitValueAxis(lc.x, x);
  }
  FitValueAxis(lc.left, left);
  FitValueAxis(lc.right, right);
}

void TForm2::RebuildClusterBars() {
  ClusterChart& cc = *clusterChart_;
  cc.chart->zoomReset();
  const auto& bars = model_.Analysis.ClusterSizeSeries.bars;
  const size_t n = bars.size();
  const size_t bucket = n <= kMaxClusterBars ? 1 : (n + kMaxClusterBars - 1) / kMaxClusterBars;

  std::vector<std::pair<TColor, QList<QPointF>>> combs;
  std::unordered_map<TColor, size_t> combOf;
  double top = 0;
  for (size_t b = 0; b < n; b += bucket) {
    const size_t end = std::min(n, b + bucket);
    size_t tallest = b;
    for (size_t k = b + 1; k < end; ++k) {
      if (bars[k].value > bars[tallest].value) tallest = k;
    }
    const double h = bars[tallest].value;
    if (!std::isfinite(h)) continue;
    const auto [it, added] = combOf.try_emplace(bars[tallest].colour, combs.size());
    if (added) combs.push_back({bars[tallest].colour, {}});
    QList<QPointF>& comb = combs[it->second].second;
    const double l = double(b) - kHalfBar;
    const double r = double(end - 1) + kHalfBar;
    comb << QPointF(l, 0) << QPointF(l, h) << QPointF(r, h) << QPointF(r, 0);
    top = std::max(top, h);
  }

  // Keep the areas of colours still present, so a steady run does not churn chart items.
  std::unordered_map<TColor, QAreaSeries*> old;
  for (const auto& [colour, area] : cc.areas) old.emplace(colour, area);
  std::vector<std::pair<TColor, QAreaSeries*>> areas;
  areas.reserve(combs.size());
  for (auto& [colour, comb] : combs) {
    QAreaSeries* area = nullptr;
    if (auto it = old.find(colour); it != old.end()) {
      area = it->second;
      old.erase(it);
    } else {
      area = new QAreaSeries;
      area->setUpperSeries(new QLineSeries(area));
      cc.chart->addSeries(area);
      area->attachAxis(cc.x);
      area->attachAxis(cc.y);
      const QColor c = ToQColor(colour);
      QPen pen(c.darker(140));
      pen.setWidthF(1);
      area->setPen(pen);
      area->setBrush(c);
    }
    area->upperSeries()->replace(comb);
    areas.push_back({colour, area});
  }
  for (auto& [colour, area] : old) {
    cc.chart->removeSeries(area);
    delete area;
  }
  cc.areas = std::move(areas);
  cc.bars = n;
  cc.top = top;
  cc.x->setRange(-0.5, double(std::max<size_t>(n, 1)) - 0.5);
  FitValueAxis(cc.y, {0, std::max(top, 1.0)});
}

void TForm2::RebuildGroupSizeBars() {
  GroupSizeChart& gs = *groupSizeChart_;
  const auto& bars = model_.Analysis.Series3.bars;
  QList<QBarSet*> sets = gs.series->barSets();
  if (sets.size() != qsizetype(bars.size())) {
    gs.series->clear();
    sets.clear();
    sets.reserve(qsizetype(bars.size()));
    for (const Bar& bar : bars) {
      auto* set = new QBarSet(QString());
      set->append(bar.value);
      sets.append(set);
    }
    gs.series->append(sets);
    for (qsizetype i = 0; i < sets.size(); ++i) {
      const QColor c = ToQColor(bars[size_t(i)].colour);
      sets[i]->setColor(c);
      sets[i]->setBorderColor(c.darker(140));
      sets[i]->setLabelColor(Qt::black);
      sets[i]->setLabelFont(gs.font);
    }
  } else {
    for (qsizetype i = 0; i < sets.size(); ++i) {
      const Bar& bar = bars[size_t(i)];
      if (sets[i]->at(0) != bar.value) sets[i]->replace(0, bar.value);
      const QColor c = ToQColor(bar.colour);
      if (sets[i]->color() != c) {
        sets[i]->setColor(c);
        sets[i]->setBorderColor(c.darker(140));
      }
    }
  }
  gs.series->setLabelsVisible(bars.size() <= kMaxGroupLabels);
  if (!gs.chart->isZoomed()) FitGroupSizeChart();
}

void TForm2::FitGroupSizeChart() {
  GroupSizeChart& gs = *groupSizeChart_;
  double top = 0;
  for (const Bar& bar : model_.Analysis.Series3.bars) {
    if (std::isfinite(bar.value)) top = std::max(top, bar.value);
  }
  // Headroom for the labels at the bar ends.
  FitValueAxis(gs.x, {0, std::max(top * 1.2, 1.0)});
}

void TForm2::RefreshTitles() {
  const auto& titles = model_.Analysis.ChartTitle;
  for (int i = 1; i <= 6; ++i) {
    if (titles[size_t(i)] == shownTitles_[size_t(i)]) continue;
    shownTitles_[size_t(i)] = titles[size_t(i)];
    ChartOf(i)->setTitle(QString::fromStdString(titles[size_t(i)]));
  }
}

void TForm2::ChooseSpatialMeasure(const QString& name) {
  const Measure* m = FindMeasure(name.toStdString());
  if (!m) return;
  if (model_.Analysis.SpatialMeasure != m->name) model_.ChooseSpatialMeasure(m->name);
  QChart* chart = ChartOf(7);
  chart->setTitle(QString::fromStdString(std::string(m->name) + ": " + m->description));
  chart->zoomReset();
  Refresh();
}

void TForm2::B_undoZClick() {
  for (int i = 1; i <= 7; ++i) ChartOf(i)->zoomReset();
  for (auto& lc : lineCharts_) FitLineChart(*lc);
  ClusterChart& cc = *clusterChart_;
  cc.x->setRange(-0.5, double(std::max<size_t>(cc.bars, 1)) - 0.5);
  FitValueAxis(cc.y, {0, std::max(cc.top, 1.0)});
  FitGroupSizeChart();
}

}  // namespace segwork::ui
