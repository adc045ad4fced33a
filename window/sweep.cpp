#include "window/sweep.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/convert.h"
#include "core/errors.h"
#include "window/CellForm.h"

namespace segwork {

void ApplySweptValue(Model& model, const std::vector<const char*>& parameters, int32_t value) {
  WriteSweptValue(model.Controls, parameters, value);
  for (const char* name : parameters) model.ControlChanged(ParameterNamed(name));
}

SweepWindow::SweepWindow(Model& model, SweepFields fields)
    : E_valFrom(fields.from),
      E_valTo(fields.to),
      E_incre(fields.increment),
      E_toSteps(fields.steps),
      E_calcVals(fields.runs),
      model_(model) {
  UpdateCalculationCount();
}

int64_t SweepWindow::ValueCount() const {
  return SweepValueCount(StrToInt(E_valFrom), StrToInt(E_valTo), StrToInt(E_incre));
}

void SweepWindow::UpdateCalculationCount() {
  const int64_t values = ValueCount();
  const int64_t calculations = StrToInt(E_calcVals);
  Lbl_proceed = "/ " + std::to_string(values * calculations);
}

int32_t SweepWindow::StepsPerRun() const {
  return std::max(StrToInt(E_toSteps), 1);
}

void SweepWindow::CheckStepsAtStart() const {
  if (StrToInt(E_toSteps) < 1) {
    throw SegworkError("'" + E_toSteps +
                       "' is not a valid number of timesteps: it must be at least 1");
  }
  // A sweep on an increment of 0 never ends. Any other text is read, and refused, where the
  // sweep first uses it.
  int32_t increment = 1;
  try {
    increment = StrToInt(E_incre);
  } catch (const SegworkError&) {
  }
  if (increment == 0) throw SegworkError(kZeroIncrementMessage);
}

void SweepWindow::CopyStepsToStopStep() {
  model_.Controls.Rewrite(Field::E_stopT, E_toSteps);
  model_.E_stopTChange();
}

bool SweepWindow::CountCompletedRun() {
  ++CalculationIndex;
  ++CompletedRuns;
  Lbl_akt = std::to_string(CompletedRuns);
  // Signed 64-bit, so a negative count is always exceeded.
  return int64_t(CalculationIndex) > int64_t(StrToInt(E_calcVals));
}

bool SweepWindow::NextValuePassesEnd() {
  // In 64 bits, so a huge increment ends the sweep instead of wrapping round.
  const int64_t next = int64_t(CurrentValue) + StrToInt(E_incre);
  const int64_t to = StrToInt(E_valTo);
  CurrentValue = int32_t(std::clamp<int64_t>(next, std::numeric_limits<int32_t>::min(),
                                             std::numeric_limits<int32_t>::max()));
  return next > to;
}

void SweepWindow::ResetCounters() {
  RunStep = 0;
  model_.Sim.StepCount = 0;
  CalculationIndex = 1;
  CompletedRuns = 0;
}

void SweepWindow::B_breakClick() {
  if (Finished) return;
  TimerEnabled = !TimerEnabled;
  if (TimerEnabled) model_.RunStarted();
}

void SweepWindow::EndSweep() {
  TimerEnabled = false;
  Finished = true;
}

void SweepWindow::StartFirstValue() {
  Finished = false;
  sweepSeed_.reset();
  if (!E_seed.empty()) sweepSeed_ = StrToSeed(E_seed);
  runsSetUp_ = 0;
  Lbl_akt = "0";
  CurrentValue = StrToInt(E_valFrom);
  model_.RunStarted();
  CopyStepsToStopStep();
  ApplySweepValue(CurrentValue);
}

uint32_t SweepWindow::NextRunSeed() {
  // Also without a sweep seed: the main window's seed field must not make every run the same.
  return sweepSeed_ ? RunSeed(*sweepSeed_, runsSetUp_++) : model_.Sim.ClockSeed();
}

void SweepWindow::SetUpSweepRun(std::optional<uint32_t> seed) {
  model_.Sim.NextRunSeed = seed ? *seed : NextRunSeed();
  try {
    model_.SetUpRun();
  } catch (...) {
    model_.Sim.NextRunSeed.reset();
    throw;
  }
}

void SweepWindow::StepModel() {
  model_.AdvanceOneStep();
  lbl_pSteps = std::to_string(RunStep);
  ++RunStep;
}

}  // namespace segwork
