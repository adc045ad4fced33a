#include "window/AnaStreets.h"

#include <exception>

#include "core/errors.h"
#include "window/CellForm.h"

namespace segwork {

StreetAnalysis::StreetAnalysis(Model& model)
    : SweepWindow(model, DefaultFields(Experiment::Streets)) {
  Series_strTrend.SetSource(&Series_street);
  Series_strTrend.SetFunction(std::make_shared<TTrendFunction>());
}

void StreetAnalysis::S_startClick() {
  ResetCounters();
  CheckStepsAtStart();
  PrepareCharts();
  // Enabled first: a layout that fails pauses the sweep. Any other failure of the first value
  // (its text, its setup) leaves no sweep running on a run that was never set up.
  TimerEnabled = true;
  try {
    StartFirstValue();
  } catch (...) {
    TimerEnabled = false;
    throw;
  }
}

void StreetAnalysis::ApplySweepValue(int32_t value) {
  model_.DeleteStreets();
  const uint32_t seed = NextRunSeed();
  std::exception_ptr layoutFailure;
  try {
    ApplySweptValue(model_, DescriptionOf(Experiment::Streets).swept[RB_grid ? 0 : 1], value);
    // Random types and random streets draw from the generator: as a headless run's program
    // start leaves it, built once with the run's seed before any street, so that the window's
    // runs are the command line's.
    model_.Sim.NextRunSeed = seed;
    try {
      model_.Sim.SetUpRun();
    } catch (...) {
      model_.Sim.NextRunSeed.reset();
      throw;
    }
    if (RB_grid) {
      model_.Sim.LayOutStreetGrid();
    } else {
      model_.Sim.LayOutRandomStreets();
    }
  } catch (const SegworkError&) {
    // The run goes on without streets; the sweep pauses so the message is seen once.
    layoutFailure = std::current_exception();
    TimerEnabled = false;
  }
  SetUpSweepRun(seed);
  if (layoutFailure) std::rethrow_exception(layoutFailure);
}

void StreetAnalysis::Timer4Timer() {
  const int32_t steps = StepsPerRun();
  std::exception_ptr pause;
  if (RunStep >= steps) {
    model_.FindClusters();
    const RunMeasures run = MeasureRun(model_.Sim, Experiment::Streets, steps);
    Series_street.AddXY(run.streetCells, double(run.clusters));
    RunSeeds.push_back(model_.Sim.Seed);
    if (CountCompletedRun()) {
      const bool finished = NextValuePassesEnd();
      Series_strTrend.Recalculate();
      if (finished) {
        EndSweep();
        return;
      }
      CalculationIndex = 1;
    }
    RunStep = 0;
    try {
      ApplySweepValue(CurrentValue);
    } catch (const SegworkError&) {
      pause = std::current_exception();  // reported once the tick is complete
    }
  }
  StepModel();
  if (pause) std::rethrow_exception(pause);
}

}  // namespace segwork
