#pragma once

#include <QChartView>
#include <QColor>
#include <QString>
#include <vector>

#include "experiments/series.h"

class QAbstractAxis;
class QGraphicsSimpleTextItem;
class QValueAxis;
class QXYSeries;

namespace segwork::ui {

// How an experiment series is drawn.
struct SeriesLook {
  enum Kind { Points, Line, LineWithMarks } kind = Line;
  QColor colour;  // invalid: the chart's default colour
  int width = 1;
};

// A value mark's text: thousands separated, at most one decimal ("#,##0.#").
QString FormatMark(double value);

// A chart over core experiment series: it copies a series' points only when the series changed,
// follows its title and visible flag, and scales its axes to the data unless the user zoomed.
class SeriesChart : public QChartView {
  Q_OBJECT
 public:
  SeriesChart(const QString& name, const QString& bottomTitle, const QString& leftTitle,
              const QString& rightTitle, bool legend, QWidget* parent);

  // Replaces every series on the chart.
  void SetSeries(const std::vector<std::pair<const Series*, SeriesLook>>& series);
  void Refresh(const QString& title);
  void UndoZoom();

 private:
  struct Shown {
    const Series* series;
    QXYSeries* view;
    uint64_t revision;
    bool marks;
    // Value marks beside the points, drawn here: Qt's own point labels can neither be
    // formatted nor moved off the points, and stay when their series is hidden.
    std::vector<QGraphicsSimpleTextItem*> labels;
  };
  void FitAxes();
  void PlaceMarks();
  void PlaceMarksLater();
  std::vector<Shown> shown_;
  QValueAxis* x_;
  QValueAxis* left_;
  QValueAxis* right_ = nullptr;  // only on charts with a right axis
  bool marksPending_ = false;
};

}  // namespace segwork::ui
