#pragma once

#include <QObject>
#include <QString>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace segwork::ui {

// 1, 2 or 5 times a power of ten, at least raw.
inline double NiceStep(double raw) {
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double f = raw / magnitude;
  return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * magnitude;
}

// The tick interval for a span: at most five intervals; whole numbers only on integer axes.
inline double TickInterval(double span, bool integers) {
  const double step = NiceStep(std::fabs(span) / 5);
  return integers ? std::max(1.0, step) : step;
}

// Ticks on multiples of a 1-2-5 interval and labels with just the decimals that interval needs,
// whatever range a fit or a zoom gives the axis. The interval follows minChanged and maxChanged
// because those come before the axis lays out its labels; after rangeChanged a wide range would
// first be drawn with the old, narrow interval.
inline void UseNiceTicks(QValueAxis* axis, bool integers) {
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0);
  auto space = [axis, integers] {
    const double interval = TickInterval(axis->max() - axis->min(), integers);
    const int decimals = std::clamp(int(-std::floor(std::log10(interval) + 1e-9)), 0, 12);
    const QString format = QString("%.%1f").arg(decimals);
    if (axis->tickInterval() != interval) axis->setTickInterval(interval);
    if (axis->labelFormat() != format) axis->setLabelFormat(format);
  };
  QObject::connect(axis, &QValueAxis::minChanged, axis, space);
  QObject::connect(axis, &QValueAxis::maxChanged, axis, space);
  space();
}

// The range of an axis fitted to data from low to high: widened by a margin, a fraction of the
// span, or without one outwards to whole tick intervals. Data that never goes below zero keeps
// the axis from starting below zero.
inline void FitNiceRange(QValueAxis* axis, double low, double high, double margin = 0) {
  if (!(low <= high)) {
    low = 0;
    high = 1;
  }
  const bool nonNegative = low >= 0;
  if (low == high) {
    const double pad = low == 0 ? 1 : std::fabs(low) * 0.1;
    low -= pad;
    high += pad;
  }
  const double pad = (high - low) * margin;
  low -= pad;
  high += pad;
  if (nonNegative) low = std::max(low, 0.0);
  if (margin == 0) {
    // Widening can call for a wider interval; settle on one the ends are multiples of.
    double step = TickInterval(high - low, false);
    for (int i = 0; i < 4; ++i) {
      const double lo = std::floor(low / step) * step;
      const double hi = std::ceil(high / step) * step;
      const double wider = TickInterval(hi - lo, false);
      if (wider == step || i == 3) {
        low = lo;
        high = hi;
        break;
      }
      step = wider;
    }
  }
  if (axis->min() != low || axis->max() != high) axis->setRange(low, high);
}

}  // namespace segwork::ui
