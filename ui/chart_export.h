#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "analysis/Analyse.h"

class QChartView;
class QIODevice;
class QWidget;

namespace segwork {
class GrowthAnalysis;
class ParameterSpaceSweep;
class StreetAnalysis;
}  // namespace segwork

namespace segwork::ui {

// One series as "Save data…" writes it: the columns `<name> <x>` and `<name>`, or with
// `valueOnly` the column `<name>` of its y values alone. Names follow the CLI's column names where
// the CLI writes the same quantity.
struct ExportSeries {
  std::string name;
  std::string x;  // the quantity on the horizontal axis
  std::vector<ChartPoint> points;
  bool valueOnly = false;
};
using ChartData = std::vector<ExportSeries>;

// A column pair per series; a series shorter than the longest leaves its cells empty. Names are
// made safe for a header (no spaces, commas or quotes) and unique. False when the device fails.
bool WriteChartCsv(const ChartData& data, QIODevice& device);

// Gives the view a context menu with "Save image…" and "Save data…". `data` is asked at save
// time, after the file dialog, so it reads what the chart shows then. The right button no longer
// zooms out: it opens the menu, as on the analysis charts.
void AddChartExport(QChartView* view, std::function<ChartData()> data);

// Asks where to save; unset, the standard file dialog asks. Tests set it to bypass the dialog. An
// empty result cancels.
struct SavePathPrompt {
  static inline std::function<QString(QWidget* parent, const QString& caption,
                                      const QString& suggested, const QString& filter)>
      ask;
};

// The menu's actions, for callers that save without the menu. A failure is reported through the
// ErrorReporter; the result says whether a file was written.
bool SaveChartImage(QChartView* view);
bool SaveChartData(QChartView* view, const std::function<ChartData()>& data);

// What each chart's "Save data…" writes.
ChartData AnalysisChartData(const AnalysisWindow& analysis, int chart);  // Chart1..Chart6
ChartData ClusterChartData(const ParameterSpaceSweep& sweep);
ChartData SegregationChartData(const ParameterSpaceSweep& sweep);
ChartData GrowthChartData(const GrowthAnalysis& sweep);
ChartData StreetChartData(const StreetAnalysis& sweep);

}  // namespace segwork::ui
