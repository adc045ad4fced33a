#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/measures.h"

namespace segwork {

// How many columns a measure has: one, one per group (name_1 .. name_G), or one per ordered pair
// of different groups (name_1_2, name_1_3, .., name_G_G-1).
enum class MeasureShape { Scalar, PerGroup, PerGroupPair };

// When a measure has a value: after every step, at the steps that look for clusters, after every
// step of a run that asks for the spatial measures (they cost a pass over the cells), or at the
// end of a run.
enum class MeasureAvailable { EveryStep, ClusterAnalysis, OnRequest, RunEnd };

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
  // Groups g and h (from 0) of a measure per pair.
  MeasureValue (*readPair)(const StepMeasures& m, size_t g, size_t h) = nullptr;
};

// One column of a measure: its name and the groups (from 0) it is of.
struct MeasureColumn {
  const Measure* measure;
  std::string name;
  size_t g = 0, h = 0;
};

const std::vector<Measure>& Measures();
const Measure* FindMeasure(std::string_view name);
const Measure& MeasureNamed(std::string_view name);
// Every measure's name, comma-separated, for messages.
std::string MeasureNames();

// The column names of a measure with `groups` groups.
std::vector<std::string> MeasureColumns(const Measure& measure, int32_t groups);
std::vector<MeasureColumn> ColumnsOf(const Measure& measure, int32_t groups);
// The column's field at step `m` of a run of `runGroups` groups: empty for a group it lacks.
MeasureValue ReadColumn(const MeasureColumn& column, const StepMeasures& m, int32_t runGroups);
// The measures of a comma-separated list, in the order given; `option` begins the
// message of a name the catalog does not know, which lists the names it knows.
std::vector<const Measure*> ParseMeasureList(const std::string& list, const std::string& option);
bool NeedsSpatialMeasures(const std::vector<const Measure*>& measures);
// The field as the rows write it: integers as they are, reals with 17 significant digits.
void AppendField(std::string& line, const MeasureValue& value);

}  // namespace segwork
