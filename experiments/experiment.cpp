#include "experiments/experiment.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "analysis/measure_catalog.h"
#include "core/errors.h"
#include "core/parameters.h"

namespace segwork {

namespace {

std::string Real(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

// The points of a derived series, computed anew.
void AddDerived(std::vector<SummarySeries>& out, const std::string& name, Series& derived,
                std::vector<std::string>& warnings) {
  try {
    derived.Recalculate();
  } catch (const SegworkError& e) {
    warnings.push_back(std::string(e.what()) + " (" + name + ")");
    return;
  }
  out.push_back({name, derived.Points(), true});
}

// The parameter sweep: per value the clusters' and the mean index's averages, trends and fits.
std::vector<SummarySeries> ParameterSummary(const ExperimentDescription&, const SweepPlan& plan,
                                            int32_t polyDegree,
                                            const std::vector<RunMeasures>& runs,
                                            std::vector<std::string>& warnings) {
  std::vector<SummarySeries> out;
  ParameterSeries series;
  series.ClusterFit->SetPolyDegree(polyDegree);
  series.SegregationFit->SetPolyDegree(polyDegree);
  series.Prepare(plan.runsText);
  for (uint64_t r = 0; r < runs.size(); ++r) series.AddRun(double(plan.ValueOf(r)), runs[r]);
  for (auto [name, derived] : {std::pair{"clusters_average", &series.Series_AvgClust},
                               {"clusters_trend", &series.Series_AvgTrend},
                               {"clusters_fit", &series.Series_AvgFit},
                               {"is_average", &series.Series_IS_Avg},
                               {"is_trend", &series.Series_IS_Trend},
                               {"is_fit", &series.Series_IS_Fit}}) {
    AddDerived(out, name, *derived, warnings);
    // A fit is evaluated at every run's value: one row per value is enough.
    if (out.empty() || !out.back().name.ends_with("_fit")) continue;
    auto& points = out.back().points;
    points.erase(std::unique(points.begin(), points.end(),
                             [](const SeriesPoint& a, const SeriesPoint& b) { return a.x == b.x; }),
                 points.end());
  }
  return out;
}

// The growth sweep: per value the mean over its runs of their group-mean lines, and the last
// run's density.
std::vector<SummarySeries> GrowthSummary(const ExperimentDescription&, const SweepPlan& plan,
                                         int32_t, const std::vector<RunMeasures>& runs,
                                         std::vector<std::string>&) {
  std::vector<SummarySeries> out;
  for (uint64_t first = 0; first < runs.size(); first += uint64_t(plan.runsPerValue)) {
    std::vector<const std::vector<SeriesPoint>*> lines;
    const uint64_t end = std::min<uint64_t>(first + uint64_t(plan.runsPerValue), runs.size());
    for (uint64_t r = first; r < end; ++r) lines.push_back(&runs[r].meanLine);
    out.push_back({"value_" + std::to_string(plan.ValueOf(first)),
                   ValueLine(lines, size_t(plan.steps), plan.runsPerValue)});
  }
  if (!runs.empty()) out.push_back({"density", runs.back().density});
  return out;
}

// The street sweep: the trend of the clusters over the street cells.
std::vector<SummarySeries> StreetSummary(const ExperimentDescription&, const SweepPlan&, int32_t,
                                         const std::vector<RunMeasures>& runs,
                                         std::vector<std::string>& warnings) {
  std::vector<SummarySeries> out;
  Series streets, trend;
  for (const RunMeasures& run : runs) {
    streets.AddXY(double(run.streetCells), double(run.clusters));
  }
  trend.SetSource(&streets);
  trend.SetFunction(std::make_shared<TTrendFunction>());
  AddDerived(out, "trend", trend, warnings);
  return out;
}

std::vector<ExperimentDescription> MakeExperiments() {
  std::vector<ExperimentDescription> list = {
      {Experiment::Parameter,
       "parameter",
       "sweep one model parameter: clusters and mean IS",
       {"2", "4", "1", "30", "3"},
       {"groups", "radius", "move-distance", "threshold"},
       "parameter",
       nullptr,
       {{"groups"}, {"radius"}, {"move-distance"}, {"threshold"}},
       {},
       {"clusters", "mean_is"},
       false,
       false,
       true,
       ParameterSummary},
      {Experiment::Growth,
       "growth",
       "sweep the threshold: mean IS and density per step",
       {"10", "60", "10", "1300", "10"},
       {},
       nullptr,
       nullptr,
       {{"threshold"}},
       {"threshold"},
       {"mean_is", "density"},
       true,
       false,
       false,
       GrowthSummary},
      {Experiment::Streets,
       "streets",
       "sweep a street layout's size: street cells and clusters",
       {"10", "60", "1", "500", "10"},
       {"grid", "random"},
       "layout",
       "grid",
       {{"rows", "cols"}, {"streets"}},
       {"rows", "cols", "streets"},
       {"street_cells", "clusters"},
       false,
       true,
       false,
       StreetSummary},
  };
  // Every name is the table's or the catalog's.
  for (const ExperimentDescription& e : list) {
    for (const auto& names : e.swept) {
      for (const char* name : names) ParameterNamed(name);
    }
    for (const char* name : e.overwritten) ParameterNamed(name);
    for (const char* name : e.columns) MeasureNamed(name);
  }
  return list;
}

}  // namespace

const std::vector<ExperimentDescription>& Experiments() {
  static const std::vector<ExperimentDescription> list = MakeExperiments();
  return list;
}

const ExperimentDescription& DescriptionOf(Experiment experiment) {
  return Experiments()[size_t(experiment)];
}

const ExperimentDescription* FindExperiment(std::string_view name) {
  for (const ExperimentDescription& e : Experiments()) {
    if (name == e.name) return &e;
  }
  return nullptr;
}

size_t ExperimentDescription::ChoiceIndex(const std::string& choice) const {
  for (size_t i = 0; i < choices.size(); ++i) {
    if (choice == choices[i]) return i;
  }
  std::string list;
  for (size_t i = 0; i < choices.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == choices.size() ? (choices.size() == 2 ? " or " : ", ") : ", ");
    list += choices[i];
  }
  throw SegworkError(std::string("--") + choiceOption + " " + choice + " is not " +
                     (choices.size() == 2 ? "" : "one of ") + list);
}

std::string ExperimentDescription::Header() const {
  std::string header = "run,value,calc,seed";
  if (rowPerStep) header += ",step";
  for (const char* column : columns) header += std::string(",") + column;
  return header + '\n';
}

std::string ExperimentDescription::Rows(const std::string& prefix, const RunMeasures& m) const {
  // Each measure of the run as its column is named.
  auto field = [&](std::string_view column, size_t step) -> std::string {
    if (column == "clusters") return std::to_string(m.clusters);
    if (column == "street_cells") return std::to_string(m.streetCells);
    if (column == "mean_is") return Real(rowPerStep ? m.meanLine[step].y : m.meanIs);
    return Real(m.density[step].y);
  };
  const size_t rows = rowPerStep ? m.meanLine.size() : 1;
  std::string text;
  for (size_t j = 0; j < rows; ++j) {
    text += prefix;
    if (rowPerStep) text += std::to_string(j + 1) + ',';
    for (size_t c = 0; c < columns.size(); ++c) text += (c ? "," : "") + field(columns[c], j);
    text += '\n';
  }
  return text;
}

}  // namespace segwork

namespace segwork {

SweepFields DefaultFields(Experiment experiment) {
  return DescriptionOf(experiment).defaults;
}

}  // namespace segwork
