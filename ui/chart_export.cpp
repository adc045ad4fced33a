#include "ui/chart_export.h"

#include <QChart>
#include <QChartView>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QRubberBand>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <set>
#include <utility>

#include "analysis/measure_catalog.h"
#include "ui/error_reporter.h"
#include "window/AnaStreets.h"
#include "window/AnalyseGrowth.h"
#include "window/Parameterspace.h"

namespace segwork::ui {

namespace {

// Where the last file went; the next dialog starts there.
QString& LastDirectory() {
  static QString directory;
  return directory;
}

// The chart's title as a file name, or the view's name when there is no title.
QString SuggestedPath(const QChartView* view, const char* suffix) {
  QString base;
  for (const QChar c : view->chart()->title()) {
    base += c.isLetterOrNumber() || c == '-' || c == '_' ? c : QChar(' ');
  }
  base = base.simplified();
  if (base.isEmpty()) base = view->objectName();
  if (base.isEmpty()) base = "chart";
  base += suffix;
  const QString& directory = LastDirectory();
  return directory.isEmpty() ? base : QDir(directory).filePath(base);
}

QString AskPath(QChartView* view, const QString& caption, const char* suffix,
                const QString& filter) {
  const QString suggested = SuggestedPath(view, suffix);
  QString path = SavePathPrompt::ask
                     ? SavePathPrompt::ask(view->window(), caption, suggested, filter)
                     : QFileDialog::getSaveFileName(view->window(), caption, suggested, filter);
  // A name typed without its suffix still gets one, so the file opens as what it is.
  if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty() && !QFileInfo(path).isDir()) {
    path += suffix;
  }
  return path;
}

// Through a temporary file, so a failed save leaves an existing file as it was.
bool WriteFile(const QString& path, const std::function<bool(QIODevice&)>& write, QString& error) {
  QSaveFile file(path);
  // A writable file in a directory that is not still gets written, though not atomically.
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly)) {
    error = file.errorString();
    return false;
  }
  if (!write(file)) {
    error = file.errorString();
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    error = file.errorString();
    return false;
  }
  return true;
}

bool Save(const QString& what, const QString& path, const std::function<bool(QIODevice&)>& write) {
  QString error;
  bool ok = false;
  try {
    ok = WriteFile(path, write, error);
  } catch (const std::bad_alloc&) {
    error = "not enough memory";
  }
  if (ok) {
    LastDirectory() = QFileInfo(path).absolutePath();
    return true;
  }
  if (error.isEmpty() || error == "Unknown error") error = "the file could not be written";
  ErrorReporter::Instance().Report(
      {},
      QString("could not save the %1 to %2: %3").arg(what, QDir::toNativeSeparators(path), error));
  return false;
}

// Eats the right button's release, on which Qt's chart view would zoom out one step.
class RightReleaseFilter final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
      event->accept();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }
};

std::string HeaderName(const std::string& text) {
  std::string name;
  for (const char c : text) {
    name += c == ' ' || c == ',' || c == '"' || (unsigned char)c < 0x20 ? '_' : c;
  }
  return name.empty() ? "series" : name;
}

void AppendReal(std::string& text, double value) {
  // An undefined value leaves its field empty, as the CLI's rows do.
  if (std::isnan(value)) return;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  text += buffer;
}

std::string Numbered(const char* prefix, size_t index) {
  return prefix + std::to_string(index + 1);
}

// Visible series only: the data of what the chart shows.
ChartData FromSeries(std::initializer_list<std::pair<const Series*, const char*>> series,
                     const char* x) {
  ChartData data;
  for (const auto& [s, name] : series) {
    if (!s->Visible) continue;
    ExportSeries out{name, x, {}};
    out.points.reserve(s->Count());
    for (const SeriesPoint& p : s->Points()) out.points.push_back({p.x, p.y});
    data.push_back(std::move(out));
  }
  return data;
}

// The runs' seeds as the last column, one row a run, so a point can be run again.
ChartData WithSeeds(ChartData data, const std::vector<uint32_t>& seeds, const char* name) {
  ExportSeries column{name, "", {}, true};
  for (size_t r = 0; r < seeds.size(); ++r) column.points.push_back({double(r), double(seeds[r])});
  data.push_back(std::move(column));
  return data;
}

bool IsWholeNumber(const std::string& text) {
  const size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
  return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

}  // namespace

bool WriteChartCsv(const ChartData& data, QIODevice& device) {
  std::vector<std::string> names;
  std::set<std::string> taken;
  for (const ExportSeries& s : data) {
    std::string name = HeaderName(s.name);
    for (int k = 2; !taken.insert(name).second; ++k)
      name = HeaderName(s.name) + "_" + std::to_string(k);
    names.push_back(std::move(name));
  }
  std::string text;
  size_t rows = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) text += ',';
    if (!data[i].valueOnly) text += names[i] + ' ' + HeaderName(data[i].x) + ',';
    text += names[i];
    rows = std::max(rows, data[i].points.size());
  }
  text += '\n';
  auto flush = [&] {
    const bool ok = device.write(text.data(), qint64(text.size())) == qint64(text.size());
    text.clear();
    return ok;
  };
  for (size_t r = 0; r < rows; ++r) {
    for (size_t i = 0; i < data.size(); ++i) {
      if (i > 0) text += ',';
      if (data[i].valueOnly) {
        if (r < data[i].points.size()) AppendReal(text, data[i].points[r].y);
      } else if (r < data[i].points.size()) {
        AppendReal(text, data[i].points[r].x);
        text += ',';
        AppendReal(text, data[i].points[r].y);
      } else {
        text += ',';
      }
    }
    text += '\n';
    // Written in pieces: a long run's data need not be held as text all at once.
    if (text.size() >= (1u << 20) && !flush()) return false;
  }
  return flush();
}

bool SaveChartImage(QChartView* view) {
  const QString path = AskPath(view, "Save chart image", ".png", "PNG image (*.png)");
  if (path.isEmpty()) return false;
  const QPixmap image = view->grab();
  return Save("image", path, [&](QIODevice& device) { return image.save(&device, "PNG"); });
}

bool SaveChartData(QChartView* view, const std::function<ChartData()>& data) {
  const QString path = AskPath(view, "Save chart data", ".csv", "CSV table (*.csv)");
  if (path.isEmpty()) return false;
  return Save("data", path, [&](QIODevice& device) { return WriteChartCsv(data(), device); });
}

void AddChartExport(QChartView* view, std::function<ChartData()> data) {
  auto* menu = new QMenu(view);
  menu->setObjectName("ChartExportMenu");
  // A popup is a window of its own and does not inherit the window's font.
  menu->setFont(view->font());
  QAction* image = menu->addAction(QStringLiteral("Save image\u2026"));
  QAction* table = menu->addAction(QStringLiteral("Save data\u2026"));
  QObject::connect(image, &QAction::triggered, view, [view] { SaveChartImage(view); });
  QObject::connect(table, &QAction::triggered, view,
                   [view, data = std::move(data)] { SaveChartData(view, data); });
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(view, &QWidget::customContextMenuRequested, menu, [view, menu](QPoint at) {
    // Not during a rubber-band drag: the menu would take the release that ends the zoom.
    for (const QRubberBand* band : view->findChildren<QRubberBand*>()) {
      if (band->isVisible()) return;
    }
    menu->popup(view->viewport()->mapToGlobal(at));
  });
  view->viewport()->installEventFilter(new RightReleaseFilter(view));
}

ChartData AnalysisChartData(const AnalysisWindow& analysis, int chart) {
  ChartData data;
  if (chart == 2) {
    // At the positions the chart draws the bars, all of them: the chart buckets a long list.
    ExportSeries bars{"cluster_size", "position", {}};
    const auto& list = analysis.ClusterSizeSeries.bars;
    for (size_t b = 0; b < list.size(); ++b) bars.points.push_back({double(b), list[b].value});
    data.push_back(std::move(bars));
    return data;
  }
  if (chart == 3) {
    ExportSeries bars{"agents", "group", {}};
    const auto& list = analysis.Series3.bars;
    for (size_t g = 0; g < list.size(); ++g) bars.points.push_back({double(g + 1), list[g].value});
    data.push_back(std::move(bars));
    return data;
  }
  // The core's points, not the thinned copies the chart holds; in the chart's order of series.
  const char* x = chart == 5 ? "agents" : "step";
  auto add = [&](const std::vector<LineSeries>& table, auto name) {
    for (size_t i = 0; i < table.size(); ++i) {
      if (table[i].chart == chart) data.push_back({name(i), x, table[i].points});
    }
  };
  // Named as the measure catalog names the same data.
  auto group = [](const char* measure) {
    return [measure](size_t g) {
      return MeasureColumns(MeasureNamed(measure), int32_t(g + 1)).back();
    };
  };
  add(analysis.SatisfactionSeries, group("sat"));
  add(analysis.SegregationSeries, group("is"));
  add(analysis.DensitySegregationSeries, group("is"));
  add(analysis.SpatialSeries, [&](size_t i) {
    return i < analysis.SpatialNames.size() ? analysis.SpatialNames[i] : Numbered("spatial_", i);
  });
  add(analysis.ChangeSeries, [](size_t i) -> std::string {
    const char* names[] = {"movers", "movers_percent", "density", "density"};
    return i < std::size(names) ? MeasureNamed(names[i]).name : Numbered("change_", i);
  });
  return data;
}

ChartData ClusterChartData(const ParameterSpaceSweep& s) {
  return WithSeeds(FromSeries({{&s.Series_Avg, "clusters"},
                               {&s.Series_AvgClust, "clusters_average"},
                               {&s.Series_AvgFit, "clusters_fit"},
                               {&s.Series_AvgTrend, "clusters_trend"}},
                              "value"),
                   s.RunSeeds, "seed");
}

ChartData SegregationChartData(const ParameterSpaceSweep& s) {
  return WithSeeds(FromSeries({{&s.Series_IS, "mean_is"},
                               {&s.Series_IS_Avg, "is_average"},
                               {&s.Series_IS_Fit, "is_fit"},
                               {&s.Series_IS_Trend, "is_trend"}},
                              "value"),
                   s.RunSeeds, "seed");
}

ChartData GrowthChartData(const GrowthAnalysis& s) {
  ChartData data;
  for (const Series* series : s.ChartSeries) {
    if (!series->Visible) continue;
    std::string name = series->Title;
    if (series == s.DensityLine.get()) name = "density";
    for (size_t k = 0; k < s.RunMeans.size(); ++k) {
      if (series == s.RunMeans[k].get()) name = Numbered("calc_", k);
    }
    // A value's mean is titled with its value once its runs are in.
    for (const auto& mean : s.ValueMeans) {
      if (series == mean.get() && IsWholeNumber(series->Title)) name = "value_" + series->Title;
    }
    ExportSeries out{name, "step", {}};
    for (const SeriesPoint& p : series->Points()) out.points.push_back({p.x, p.y});
    data.push_back(std::move(out));
  }
  // Row k: the seed of calc_k+1, the value's runs.
  return WithSeeds(std::move(data), s.RunSeeds, "calc_seed");
}

ChartData StreetChartData(const StreetAnalysis& s) {
  return WithSeeds(
      FromSeries({{&s.Series_street, "clusters"}, {&s.Series_strTrend, "trend"}}, "street_cells"),
      s.RunSeeds, "seed");
}

}  // namespace segwork::ui
