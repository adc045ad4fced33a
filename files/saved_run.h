#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "window/CellForm.h"

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
void SaveRun(const Model& model, const std::string& path);

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

// Puts the saved run in place of the model's: controls, seed field, streets, cells, agents,
// generator, measures and the analysis window's tables. The old run goes only once the new one
// is complete.
void InstallSavedRun(Model& model, SavedRun& run);

// LoadSavedRun, then InstallSavedRun; a file whose panel is not the model's is refused.
void OpenRun(Model& model, const std::string& path);

}  // namespace segwork
