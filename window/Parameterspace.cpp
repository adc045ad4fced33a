#include "window/Parameterspace.h"

#include "core/convert.h"
#include "core/errors.h"
#include "window/CellForm.h"

namespace segwork {

ParameterSpaceSweep::ParameterSpaceSweep(Model& model)
    : SweepWindow(model, DefaultFields(Experiment::Parameter)) {}

void ParameterSpaceSweep::B_startClick() {
  model_.Window.Timer1Enabled = false;
  RunStep = 0;
  model_.Sim.StepCount = 0;
  if (CB_param < 0 || CB_param > 3) {
    throw SegworkError("please select a parameter", kMissingValueCaption);
  }
  CheckStepsAtStart();
  PrepareCharts();
  CalculationIndex = 1;
  CompletedRuns = 0;
  StartFirstValue();
  TimerEnabled = true;
}

void ParameterSpaceSweep::PrepareCharts() {
  ChartClusterTitle =
      "clusters per value | cluster threshold = " + model_.Controls.Text(Field::E_clusterT);
  Prepare(StrToInt(E_calcVals));
  RunSeeds.clear();
  ChartISTitle = "segregation per value";
}

void ParameterSpaceSweep::ApplySweepValue(int32_t value) {
  const auto& choices = DescriptionOf(Experiment::Parameter).swept;
  // Writing a field runs its own check, as typing does.
  if (CB_param >= 0 && size_t(CB_param) < choices.size()) {
    ApplySweptValue(model_, choices[size_t(CB_param)], value);
  }
  SetUpSweepRun();
}

void ParameterSpaceSweep::Timer2Timer() {
  const int32_t steps = StepsPerRun();
  if (RunStep >= steps) {
    AddRunResult();
    if (CountCompletedRun()) {
      if (NextValuePassesEnd()) {
        // The timer goes first, so a failing fit cannot leave the sweep running.
        EndSweep();
        model_.FindClusters();
        Fit();
        return;
      }
      CalculationIndex = 1;
    }
    RunStep = 0;
    ApplySweepValue(CurrentValue);
  }
  StepModel();
}

void ParameterSpaceSweep::AddRunResult() {
  // The run's last step; after a "new Setup" mid-run the log is shorter, then its newest step.
  AddRun(CurrentValue, MeasureRun(model_.Sim, Experiment::Parameter, RunStep));
  RunSeeds.push_back(model_.Sim.Seed);
}

}  // namespace segwork
