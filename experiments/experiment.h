#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "experiments/sweep_core.h"

namespace segwork {

// One named series of a sweep's summary.
struct SummarySeries {
  std::string name;
  std::vector<SeriesPoint> points;
  bool derived = false;  // a function's result, whose undefined points are empty fields
};

struct ExperimentDescription;
using SummaryFunction = std::vector<SummarySeries> (*)(const ExperimentDescription&,
                                                       const SweepPlan&, int32_t polyDegree,
                                                       const std::vector<RunMeasures>&,
                                                       std::vector<std::string>& warnings);

// What a batch experiment is, for every face that runs it: its name, its fields as the window
// opens, what it sweeps (a choice among parameters of the table, or one fixed set), which
// measures its rows hold and how, and its summary.
struct ExperimentDescription {
  Experiment kind;
  const char* name;         // as the command line and the scenario files name it
  const char* description;  // the command line's help
  SweepFields defaults;
  // The choice of what is swept (the parameter sweep's parameter, the street sweep's layout), in
  // the order of the window's choice; empty when the experiment sweeps one thing. The option
  // that chooses, and the choice when none is made (nullptr: one must be made).
  std::vector<const char*> choices;
  const char* choiceOption;
  const char* defaultChoice;
  // The parameters each value is written to, by the index of the choice.
  std::vector<std::vector<const char*>> swept;
  // Parameters the swept value overwrites whatever the choice: they take no option.
  std::vector<const char*> overwritten;
  // The measures of each row, after run, value, calc and seed (growth: after the step).
  std::vector<const char*> columns;
  bool rowPerStep;     // one row per step of the run, numbered from 1
  bool clustersAtEnd;  // the clusters are counted at the run's end, as its window counts them
  bool fits;           // the summary fits polynomials of a chosen degree
  SummaryFunction summary;

  // The index of a choice; a SegworkError naming the option for one it does not have.
  size_t ChoiceIndex(const std::string& choice) const;
  // The first line of its rows.
  std::string Header() const;
  // The rows of run r, each beginning with `prefix` (run, value, calc, seed and a comma).
  std::string Rows(const std::string& prefix, const RunMeasures& m) const;
  // The derived series of the whole sweep from the runs' measures in run order; a series that
  // cannot be computed is left out and its message appended to `warnings`.
  std::vector<SummarySeries> Summary(const SweepPlan& plan, int32_t polyDegree,
                                     const std::vector<RunMeasures>& runs,
                                     std::vector<std::string>& warnings) const {
    return summary(*this, plan, polyDegree, runs, warnings);
  }
};

const std::vector<ExperimentDescription>& Experiments();
const ExperimentDescription& DescriptionOf(Experiment experiment);
const ExperimentDescription* FindExperiment(std::string_view name);

}  // namespace segwork
