#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/measures.h"

namespace segwork {

// How many columns a measure has: one, or one per group (name_1 .. name_G).
enum class MeasureShape { Scalar, PerGroup };

// When a measure has a value: after every step, at the steps that look for clusters, or at the
// end of a run.
enum class MeasureAvailable { EveryStep, ClusterAnalysis, RunEnd };

// One field of a row: an integer, a real, or empty (no value, such as a group without cells).
struct MeasureValue {
  enum class Kind { Empty, Integer, Real } kind = Kind::Empty;
  int64_t integer = 0;
  double real = 0;
  static MeasureValue Of(int64_t v) { return {Kind::Integer, v, 0}; }
  static MeasureValue Of(double v) { return {Kind::Real, 0, v}; }
  static MeasureValue Of(const std::optional<double>& v) { return v ? Of(*v) : MeasureValue{}; }
};

// One measure, every face's name for it and how it is read from the typed measures of a step.
// The command line's rows, the sweeps' headers and the charts' exported columns take their
// names from here.
struct Measure {
  const char* name;
  MeasureShape shape;
  MeasureAvailable available;
  const char* description;
  // Column g (from 0) of the measure at step `m`; a scalar has column 0 only.
  MeasureValue (*read)(const StepMeasures& m, size_t g);
};

const std::vector<Measure>& Measures();
const Measure* FindMeasure(std::string_view name);
const Measure& MeasureNamed(std::string_view name);
// Every measure's name, comma-separated, for messages.
std::string MeasureNames();

// The column names of a measure with `groups` groups.
std::vector<std::string> MeasureColumns(const Measure& measure, int32_t groups);
// The field as the rows write it: integers as they are, reals with 17 significant digits.
void AppendField(std::string& line, const MeasureValue& value);

}  // namespace segwork
