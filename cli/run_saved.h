#pragma once

#include <memory>
#include <ostream>

namespace CLI {
class App;
}

namespace segwork {
enum class EngineKind;
}  // namespace segwork

namespace segwork::cli {

struct RunOptions;
struct HeadlessRun;

// `run --open-run`: the saved run's own settings hold, so only the options that say how long to
// go on and what to write may come with it.
void CheckOpenRunOptions(const CLI::App& run);

// The model of a saved run, ready for its next step.
std::unique_ptr<HeadlessRun> OpenSavedRun(const RunOptions& options, EngineKind engine);

}  // namespace segwork::cli
