#include "ui/series_chart.h"

#include <QChart>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

namespace segwork::ui {

namespace {

QValueAxis* MakeAxis(const QString& title, bool grid) {
  auto* axis = new QValueAxis;
  axis->setTitleText(title);
  axis->setGridLineVisible(grid);
  axis->setLabelFormat("%g");
  return axis;
}

// Widens an empty or flat range so the axis can show it.
void SetRange(QValueAxis* axis, double low, double high) {
  if (!(low <= high)) {
    low = 0;
    high = 1;
  }
  if (high - low < 1e-9) {
    low -= 1;
    high += 1;
  }
  const double margin = (high - low) * 0.05;
  axis->setRange(low - margin, high + margin);
  axis->applyNiceNumbers();
}

}  // namespace

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
  x_ = MakeAxis(bottomTitle, true);
  left_ = MakeAxis(leftTitle, rightTitle.isEmpty());
  chart->addAxis(x_, Qt::AlignBottom);
  chart->addAxis(left_, Qt::AlignLeft);
  if (!rightTitle.isEmpty()) {
    right_ = MakeAxis(rightTitle, true);
    chart->addAxis(right_, Qt::AlignRight);
  }
}

void SeriesChart::SetSeries(const std::vector<std::pair<const Series*, SeriesLook>>& series) {
  QChart* c = chart();
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
        view->setPointLabelsVisible(true);
        view->setPointLabelsFormat("@yPoint");
        view->setPointLabelsClipping(true);
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
    shown_.push_back({source, view, std::numeric_limits<uint64_t>::max()});
  }
}

void SeriesChart::Refresh(const QString& title) {
  if (chart()->title() != title) chart()->setTitle(title);
  bool changed = false;
  for (Shown& s : shown_) {
    const QString name = QString::fromStdString(s.series->Title);
    if (s.view->name() != name) s.view->setName(name);
    if (s.view->isVisible() != s.series->Visible) s.view->setVisible(s.series->Visible);
    if (s.revision == s.series->Revision()) continue;
    s.revision = s.series->Revision();
    QList<QPointF> points;
    points.reserve(qsizetype(s.series->Count()));
    for (const SeriesPoint& p : s.series->Points()) points.append(QPointF(p.x, p.y));
    s.view->replace(points);
    changed = true;
  }
  if (changed && !chart()->isZoomed()) FitAxes();
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
  SetRange(x_, xLow, xHigh);
  SetRange(left_, yLow[0], yHigh[0]);
  if (right_) SetRange(right_, yLow[1], yHigh[1]);
}

}  // namespace segwork::ui
