#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "experiments/experiment.h"
#include "experiments/sweep_core.h"

namespace segwork {

class Model;

// The same in the main window's controls, followed by what the control does when set by hand: the
// field's check, the threshold's labels, the layout button (which may fail on a weight text).
void ApplySweptValue(Model& model, const std::vector<const char*>& parameters, int32_t value);

// What the three experiment windows share: the range and run fields, the batch counters, the labels
// and the timer of the batch loop. Each tick makes one step of the main window's model.
class SweepWindow {
 public:
  // The fields as the window opens.
  SweepWindow(Model& model, SweepFields fields);
  virtual ~SweepWindow() = default;

  // The window's fields, as text.
  std::string E_valFrom, E_valTo, E_incre, E_toSteps, E_calcVals;
  // The sweep's seed; empty: every run's seed from the clock.
  std::string E_seed;
  // The seed of each run whose result the charts hold, in the order of its points, so a point
  // can be run again.
  std::vector<uint32_t> RunSeeds;

  std::string lbl_pSteps = "0";
  std::string Lbl_akt = "0";
  std::string Lbl_proceed;
  bool TimerEnabled = false;

  int32_t RunStep = 0;
  uint32_t CalculationIndex = 0;
  int32_t CompletedRuns = 0;
  int32_t CurrentValue = 0;

  Model& model() { return model_; }

  // "/ " and the planned number of runs; a zero increment fails and leaves the label.
  void UpdateCalculationCount();
  // "start / stop": pauses or resumes; resets nothing. A finished sweep stays finished: only
  // "new start" runs it again, so no run beyond its last value is made.
  void B_breakClick();
  // The sweep passed its last value; a new start clears it.
  bool Finished = false;
  // Number of values the range visits, Ceil((to - from + 1) / increment).
  int64_t ValueCount() const;

 protected:
  // Steps of one run as the tick reads them; a run has at least one step.
  int32_t StepsPerRun() const;
  // Steps per value must be at least 1 and the increment not 0 when a sweep starts.
  void CheckStepsAtStart() const;
  // The main window's stop step follows the run length.
  void CopyStepsToStopStep();
  // Counts a completed run. Returns true when the value's runs are done.
  bool CountCompletedRun();
  // Moves on by the increment; true when the sweep has passed its upper bound.
  bool NextValuePassesEnd();
  // The step every tick ends with.
  void StepModel();
  // The counters of a new start, and the main window's step count.
  void ResetCounters();
  // The timer off and the sweep finished.
  void EndSweep();
  // The first run of a new start: counters shown, run length copied, first value set up.
  void StartFirstValue();
  virtual void ApplySweepValue(int32_t value) = 0;
  // The next run's seed, mixed from the sweep's seed and the run's number as the CLI mixes it.
  uint32_t NextRunSeed();
  // "new Setup" for the next run, with `seed` or the next run's seed.
  void SetUpSweepRun(std::optional<uint32_t> seed = std::nullopt);

  Model& model_;

 private:
  std::optional<uint32_t> sweepSeed_;
  uint32_t runsSetUp_ = 0;
};

}  // namespace segwork
