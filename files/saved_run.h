#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "analysis/Analyse.h"
#include "sim/simulation.h"

namespace segwork {

// Version 2 (written) ends in a checksum of the whole file; version 1 files (without one) are
// still read.
inline constexpr int kSavedRunVersion = 2;
inline constexpr const char* kSavedRunFormat = "segwork run";

// A saved run read and checked, not yet in place: opening it can no longer fail on the file.
struct SavedRun;
struct SavedRunDeleter {
  void operator()(SavedRun* run) const;
};
using SavedRunPtr = std::unique_ptr<SavedRun, SavedRunDeleter>;

// Writes everything the run's next steps and its analysis charts read: the controls, the
// streets, every cell's fields, the agents in list order, the generator, the measures. A text
// header, then a compressed payload, then a checksum of all of it. The file appears complete or
// not at all.
void SaveRun(const Simulation& sim, const AnalysisWindow& analysis, const std::string& path);

// Reads a saved run from its bytes; `name` (the file) begins every message. A text that is not a
// saved run, of another version, truncated, corrupt, changed since it was saved (its checksum),
// nested too deep or with a key given twice in its header, or not fitting its own sizes throws
// one SegworkError. `memoryLimit` refuses a run (and LoadSavedRun a file) that would need more;
// LoadSavedRun reads regular files only.
SavedRunPtr ParseSavedRun(const std::string& bytes, const std::string& name, uint64_t memoryLimit,
                          EngineKind engine);
SavedRunPtr LoadSavedRun(const std::string& path, uint64_t memoryLimit, EngineKind engine);

// The panel the saved run was made on.
GridPos SavedPanel(const SavedRun& run);

// Puts the saved run in place of the simulation's: controls, seed field, streets, cells, agents,
// generator and measures. The old run goes only once the new one is complete. The analysis
// window's tables stay in `run` for a face that shows them (TakeAnalysis).
void InstallSavedRun(Simulation& sim, SavedRun& run);
AnalysisWindow TakeAnalysis(SavedRun& run);

// LoadSavedRun, `beforeInstall`, then InstallSavedRun; a file whose panel is not the
// simulation's is refused. Returns the analysis window's tables of the file.
AnalysisWindow OpenRun(Simulation& sim, const std::string& path,
                       const std::function<void()>& beforeInstall = nullptr);

}  // namespace segwork
