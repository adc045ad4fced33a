#include "experiments/AnaStreets.h"

#include <algorithm>
#include <exception>

#include "model/CellForm.h"
#include "model/convert.h"
#include "model/errors.h"

namespace segwork {

StreetAnalysis::StreetAnalysis(Model& model) : SweepWindow(model) {
  E_valFrom = "10";
  E_valTo = "60";
  E_incre = "1";
  E_toSteps = "500";
  E_calcVals = "10";
  Series_strTrend.SetSource(&Series_street);
  Series_strTrend.SetFunction(std::make_shared<TTrendFunction>());
  UpdateCalculationCount();
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
  // The layout spinners keep their positions within 1..10000.
  const int16_t position = int16_t(std::clamp(value, 1, 10000));
  std::exception_ptr layoutFailure;
  try {
    if (RB_grid) {
      model_.Controls.UpD_rows = position;
      model_.Controls.UpD_cols = position;
      model_.LayOutStreetGrid();
    } else {
      model_.Controls.UpD_nrStr = position;
      model_.LayOutRandomStreets();
    }
  } catch (const SegworkError&) {
    // The run goes on without streets; the sweep pauses so the message is seen once.
    layoutFailure = std::current_exception();
    TimerEnabled = false;
  }
  model_.SetUpRun();
  if (layoutFailure) std::rethrow_exception(layoutFailure);
}

void StreetAnalysis::Timer4Timer() {
  const int32_t steps = StepsPerRun();
  std::exception_ptr pause;
  if (RunStep >= steps) {
    model_.FindClusters();
    // The count the last weight build showed, in plain digits.
    const int32_t streetCells = StrToInt(model_.Window.Lbl_strCell);
    Series_street.AddXY(streetCells, double(model_.Analysis.ClusterSizeSeries.bars.size()));
    if (CountCompletedRun()) {
      const bool finished = NextValuePassesEnd();
      Series_strTrend.Recalculate();
      if (finished) {
        TimerEnabled = false;
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
