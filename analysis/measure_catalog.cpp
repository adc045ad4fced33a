#include "analysis/measure_catalog.h"

#include <cstdio>
#include <stdexcept>

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
  if (measure.shape == MeasureShape::Scalar) return {measure.name};
  std::vector<std::string> columns;
  for (int32_t g = 1; g <= groups; ++g) columns.push_back(measure.name + ("_" + std::to_string(g)));
  return columns;
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
