#include "analysis/measure_catalog.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "core/errors.h"

namespace segwork {

namespace {

using S = MeasureShape;
using A = MeasureAvailable;

MeasureValue Group(const std::vector<double>& values, size_t g) {
  return g < values.size() ? MeasureValue::Of(values[g]) : MeasureValue{};
}

MeasureValue Group(const std::vector<std::optional<double>>& values, size_t g) {
  return g < values.size() ? MeasureValue::Of(values[g]) : MeasureValue{};
}

std::vector<Measure> MakeCatalog() {
  return {
      {"agents", S::Scalar, A::EveryStep, "length of the agent list",
       [](const StepMeasures& m, size_t) { return MeasureValue::Of(m.AgentCount); }},
      {"movers", S::Scalar, A::EveryStep, "agents that sought a new cell in the step",
       [](const StepMeasures& m, size_t) { return MeasureValue::Of(int64_t(m.Movers)); }},
      {"movers_percent", S::Scalar, A::EveryStep, "movers in percent of the agents",
       [](const StepMeasures& m, size_t) { return MeasureValue::Of(m.MoversPercent); }},
      {"density", S::Scalar, A::EveryStep, "agents per cell, in percent",
       [](const StepMeasures& m, size_t) { return MeasureValue::Of(m.Density); }},
      {"is", S::PerGroup, A::EveryStep, "segregation index of each group against all others",
       [](const StepMeasures& m, size_t g) { return Group(m.Segregation, g); }},
      {"mean_is", S::Scalar, A::EveryStep, "the groups' segregation indices, averaged",
       [](const StepMeasures& m, size_t) {
         if (m.Segregation.empty()) return MeasureValue{};
         double sum = 0;
         for (double index : m.Segregation) sum += index;
         return MeasureValue::Of(sum / double(m.Segregation.size()));
       }},
      {"sat", S::PerGroup, A::EveryStep, "mean similar share of each group's agents",
       [](const StepMeasures& m, size_t g) { return Group(m.Satisfaction, g); }},
      {"clusters", S::Scalar, A::ClusterAnalysis, "clusters above the cluster threshold",
       [](const StepMeasures& m, size_t) {
         return m.Clusters ? MeasureValue::Of(*m.Clusters) : MeasureValue{};
       }},
      {"street_cells", S::Scalar, A::EveryStep, "cells that are streets",
       [](const StepMeasures& m, size_t) { return MeasureValue::Of(int64_t(m.StreetCells)); }},
      {"entropy_h", S::Scalar, A::OnRequest, "Theil's entropy index H over the tiles",
       [](const StepMeasures& m, size_t) {
         return m.Spatial ? MeasureValue::Of(m.Spatial->Entropy) : MeasureValue{};
       }},
      {"dissimilarity_multi", S::Scalar, A::OnRequest,
       "multi-group dissimilarity index over the tiles",
       [](const StepMeasures& m, size_t) {
         return m.Spatial ? MeasureValue::Of(m.Spatial->DissimilarityMulti) : MeasureValue{};
       }},
      {"isolation", S::PerGroup, A::OnRequest,
       "exposure of each group to itself: its members' mean share of their tile",
       [](const StepMeasures& m, size_t g) {
         return m.Spatial ? Group(m.Spatial->Isolation, g) : MeasureValue{};
       }},
      {"interaction", S::PerGroupPair, A::OnRequest,
       "exposure of group g to group h: g's members' mean share of h in their tile",
       [](const StepMeasures&, size_t) { return MeasureValue{}; },
       [](const StepMeasures& m, size_t g, size_t h) {
         if (!m.Spatial) return MeasureValue{};
         const size_t groups = size_t(m.Spatial->Groups);
         return g < groups && h < groups ? Group(m.Spatial->Interaction, g * groups + h)
                                         : MeasureValue{};
       }},
      {"moran", S::PerGroup, A::OnRequest,
       "Moran's I of membership in each group over the occupied cells, eight neighbours",
       [](const StepMeasures& m, size_t g) {
         return m.Spatial ? Group(m.Spatial->Moran, g) : MeasureValue{};
       }},
      {"largest_cluster", S::PerGroup, A::OnRequest, "cells of each group's largest cluster",
       [](const StepMeasures& m, size_t g) {
         if (!m.Spatial || g >= m.Spatial->LargestCluster.size()) return MeasureValue{};
         return MeasureValue::Of(int64_t(m.Spatial->LargestCluster[g]));
       }},
      {"mean_cluster_size", S::PerGroup, A::OnRequest,
       "each group's cells over the number of its clusters",
       [](const StepMeasures& m, size_t g) {
         return m.Spatial ? Group(m.Spatial->MeanClusterSize, g) : MeasureValue{};
       }},
      {"steps_to_settle", S::Scalar, A::RunEnd,
       "the first step of an experiment's run without movers, empty if none",
       [](const StepMeasures&, size_t) { return MeasureValue{}; }},
  };
}

}  // namespace

const std::vector<Measure>& Measures() {
  static const std::vector<Measure> catalog = MakeCatalog();
  return catalog;
}

const Measure* FindMeasure(std::string_view name) {
  for (const Measure& m : Measures()) {
    if (name == m.name) return &m;
  }
  return nullptr;
}

const Measure& MeasureNamed(std::string_view name) {
  const Measure* m = FindMeasure(name);
  if (!m) throw std::logic_error("no measure is named " + std::string(name));
  return *m;
}

std::string MeasureNames() {
  std::string names;
  for (const Measure& m : Measures()) names += std::string(names.empty() ? "" : ", ") + m.name;
  return names;
}

std::vector<std::string> MeasureColumns(const Measure& measure, int32_t groups) {
  std::vector<std::string> names;
  for (MeasureColumn& column : ColumnsOf(measure, groups)) names.push_back(std::move(column.name));
  return names;
}

std::vector<MeasureColumn> ColumnsOf(const Measure& measure, int32_t groups) {
  const std::string name = measure.name;
  switch (measure.shape) {
    case MeasureShape::Scalar:
      return {{&measure, name}};
    case MeasureShape::PerGroup: {
      std::vector<MeasureColumn> columns;
      for (int32_t g = 0; g < groups; ++g) {
        columns.push_back({&measure, name + "_" + std::to_string(g + 1), size_t(g)});
      }
      return columns;
    }
    case MeasureShape::PerGroupPair: {
      std::vector<MeasureColumn> columns;
      for (int32_t g = 0; g < groups; ++g) {
        for (int32_t h = 0; h < groups; ++h) {
          if (h == g) continue;
          columns.push_back({&measure,
                             name + "_" + std::to_string(g + 1) + "_" + std::to_string(h + 1),
                             size_t(g), size_t(h)});
        }
      }
      return columns;
    }
  }
  return {};
}

MeasureValue ReadColumn(const MeasureColumn& column, const StepMeasures& m, int32_t runGroups) {
  const Measure& measure = *column.measure;
  const size_t groups = size_t(std::max(runGroups, 0));
  switch (measure.shape) {
    case MeasureShape::Scalar:
      return measure.read(m, 0);
    case MeasureShape::PerGroup:
      return column.g < groups ? measure.read(m, column.g) : MeasureValue{};
    case MeasureShape::PerGroupPair:
      return column.g < groups && column.h < groups ? measure.readPair(m, column.g, column.h)
                                                    : MeasureValue{};
  }
  return {};
}

std::vector<const Measure*> ParseMeasureList(const std::string& list, const std::string& option) {
  std::vector<const Measure*> measures;
  size_t begin = 0;
  for (;;) {
    const size_t end = list.find(',', begin);
    const std::string name = list.substr(begin, end - begin);
    const Measure* m = FindMeasure(name);
    if (!m) {
      throw SegworkError(option + ": no measure is named '" + name +
                         "'; the measures: " + MeasureNames());
    }
    measures.push_back(m);
    if (end == std::string::npos) return measures;
    begin = end + 1;
  }
}

bool NeedsSpatialMeasures(const std::vector<const Measure*>& measures) {
  return std::any_of(measures.begin(), measures.end(),
                     [](const Measure* m) { return m->available == MeasureAvailable::OnRequest; });
}

void AppendField(std::string& line, const MeasureValue& value) {
  switch (value.kind) {
    case MeasureValue::Kind::Empty:
      return;
    case MeasureValue::Kind::Integer:
      line += std::to_string(value.integer);
      return;
    case MeasureValue::Kind::Real: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.17g", value.real);
      line += buffer;
      return;
    }
  }
}

}  // namespace segwork
