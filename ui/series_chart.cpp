#include "ui/series_chart.h"

#include <QChart>
#include <QGraphicsSimpleTextItem>
#include <QLegendMarker>
#include <QLineSeries>
#include <QScatterSeries>
#include <QTimer>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

#include "ui/chart_axes.h"

namespace segwork::ui {

namespace {

QValueAxis* MakeAxis(const QString& title, bool grid, bool integers) {
  auto* axis = new QValueAxis;
  axis->setTitleText(title);
  axis->setGridLineVisible(grid);
  UseNiceTicks(axis, integers);
  return axis;
}

// Room around the data, so points on the edge are drawn whole.
constexpr double kMargin = 0.05;

}  // namespace

QString FormatMark(double value) {
  if (!std::isfinite(value)) return QString::number(value);
  // Rounded once, half away from zero; a value that rounds to zero has no sign.
  const double tenths = std::round(std::fabs(value) * 10);
  if (tenths >= 1e17) return QString::number(value, 'f', 0);
  const auto whole = static_cast<long long>(tenths) / 10;
  const auto decimal = static_cast<long long>(tenths) % 10;
  QString digits = QString::number(whole);
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, ',');
  if (decimal != 0) digits += '.' + QString::number(decimal);
  return value < 0 && tenths != 0 ? '-' + digits : digits;
}

SeriesChart::SeriesChart(const QString& name, const QString& bottomTitle, const QString& leftTitle,
                         const QString& rightTitle, bool legend, QWidget* parent)
    // Given at construction: a chart set later would leave the view's default one behind.
    : QChartView(new QChart, parent) {
  setObjectName(name);
  QChart* chart = this->chart();
  chart->legend()->setVisible(legend);
  chart->setBackgroundBrush(Qt::white);
  setRenderHint(QPainter::Antialiasing);
  setRubberBand(QChartView::RectangleRubberBand);
  setFrameShape(QFrame::Box);
  // Every horizontal axis counts something: values, steps, street cells.
  x_ = MakeAxis(bottomTitle, true, true);
  left_ = MakeAxis(leftTitle, rightTitle.isEmpty(), false);
  chart->addAxis(x_, Qt::AlignBottom);
  chart->addAxis(left_, Qt::AlignLeft);
  if (!rightTitle.isEmpty()) {
    right_ = MakeAxis(rightTitle, true, false);
    chart->addAxis(right_, Qt::AlignRight);
  }
  // Axes with an empty range are not drawn: an empty chart shows them from 0 to 1.
  FitAxes();
  // A zoom or a new layout moves the points under their marks.
  connect(chart, &QChart::plotAreaChanged, this, &SeriesChart::PlaceMarksLater);
  for (QValueAxis* axis : {x_, left_, right_}) {
    if (axis) connect(axis, &QValueAxis::rangeChanged, this, &SeriesChart::PlaceMarksLater);
  }
}

void SeriesChart::SetSeries(const std::vector<std::pair<const Series*, SeriesLook>>& series) {
  QChart* c = chart();
  for (Shown& s : shown_) qDeleteAll(s.labels);
  c->removeAllSeries();  // the chart's own copies; the core keeps the data
  shown_.clear();
  for (const auto& [source, look] : series) {
    QXYSeries* view = nullptr;
    if (look.kind == SeriesLook::Points) {
      auto* points = new QScatterSeries;
      points->setMarkerSize(6);
      points->setMarkerShape(QScatterSeries::MarkerShapeCircle);
      points->setBorderColor(Qt::transparent);
      view = points;
    } else {
      view = new QLineSeries;
      if (look.kind == SeriesLook::LineWithMarks) {
        view->setPointsVisible(true);
        view->setMarkerSize(4);
      }
    }
    c->addSeries(view);
    if (look.colour.isValid()) view->setColor(look.colour);
    if (look.width != 1) {
      QPen pen = view->pen();
      pen.setWidth(look.width);
      view->setPen(pen);
    }
    view->attachAxis(x_);
    view->attachAxis(source->Axis == VerticalAxis::Right && right_ ? right_ : left_);
    shown_.push_back({source,
                      view,
                      std::numeric_limits<uint64_t>::max(),
                      look.kind == SeriesLook::LineWithMarks,
                      {}});
  }
}

void SeriesChart::Refresh(const QString& title) {
  if (chart()->title() != title) chart()->setTitle(title);
  bool changed = false;
  bool marks = false;
  for (Shown& s : shown_) {
    const QString name = QString::fromStdString(s.series->Title);
    if (s.view->name() != name) s.view->setName(name);
    if (s.view->isVisible() != s.series->Visible) {
      s.view->setVisible(s.series->Visible);
      marks = marks || s.marks;
    }
    if (s.revision == s.series->Revision()) continue;
    s.revision = s.series->Revision();
    QList<QPointF> points;
    points.reserve(qsizetype(s.series->Count()));
    for (const SeriesPoint& p : s.series->Points()) {
      // An undefined point (a trend over one x) is not drawn.
      if (std::isfinite(p.x) && std::isfinite(p.y)) points.append(QPointF(p.x, p.y));
    }
    s.view->replace(points);
    // A line still waiting for its run has no place in the legend yet.
    for (QLegendMarker* marker : chart()->legend()->markers(s.view)) {
      marker->setVisible(!points.isEmpty());
    }
    changed = true;
    marks = marks || s.marks;
  }
  if (changed && !chart()->isZoomed()) FitAxes();
  if (marks) PlaceMarks();
}

void SeriesChart::UndoZoom() {
  chart()->zoomReset();
  FitAxes();
}

void SeriesChart::FitAxes() {
  const double inf = std::numeric_limits<double>::infinity();
  double xLow = inf, xHigh = -inf;
  double yLow[2] = {inf, inf}, yHigh[2] = {-inf, -inf};
  for (const Shown& s : shown_) {
    const int axis = right_ && s.view->attachedAxes().contains(right_) ? 1 : 0;
    for (const SeriesPoint& p : s.series->Points()) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
      xLow = std::min(xLow, p.x);
      xHigh = std::max(xHigh, p.x);
      yLow[axis] = std::min(yLow[axis], p.y);
      yHigh[axis] = std::max(yHigh[axis], p.y);
    }
  }
  FitNiceRange(x_, xLow, xHigh, kMargin);
  FitNiceRange(left_, yLow[0], yHigh[0], kMargin);
  if (right_) FitNiceRange(right_, yLow[1], yHigh[1], kMargin);
}

void SeriesChart::PlaceMarksLater() {
  if (marksPending_) return;
  marksPending_ = true;
  QTimer::singleShot(0, this, [this] {
    marksPending_ = false;
    PlaceMarks();
  });
}

void SeriesChart::PlaceMarks() {
  QChart* c = chart();
  const QRectF plot = c->plotArea();
  for (Shown& s : shown_) {
    if (!s.marks) continue;
    const QList<QPointF> points = s.view->points();
    while (s.labels.size() > size_t(points.size())) {
      delete s.labels.back();
      s.labels.pop_back();
    }
    while (s.labels.size() < size_t(points.size())) {
      auto* label = new QGraphicsSimpleTextItem(c);
      label->setFont(font());
      label->setZValue(1000);  // above every series
      s.labels.push_back(label);
    }
    for (qsizetype i = 0; i < points.size(); ++i) {
      QGraphicsSimpleTextItem* label = s.labels[size_t(i)];
      const QPointF at = c->mapToPosition(points[i], s.view);
      const bool shown = s.view->isVisible() && plot.contains(at);
      label->setVisible(shown);
      if (!shown) continue;
      const QString text = FormatMark(points[i].y());
      if (label->text() != text) label->setText(text);
      // Beside the point, not over the column of runs at the same value, and on the side the
      // line to the next point leaves free.
      const QSizeF size = label->boundingRect().size();
      const bool rising = i + 1 < points.size() && points[i + 1].y() > points[i].y();
      double left = at.x() + 5;
      if (left + size.width() > plot.right()) left = at.x() - 5 - size.width();
      const double top = rising ? at.y() + 2 : at.y() - 2 - size.height();
      label->setPos(left, top);
    }
  }
}

}  // namespace segwork::ui
