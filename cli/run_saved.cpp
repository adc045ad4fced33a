#include "cli/run_saved.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <string>

#include "cli/output.h"
#include "cli/run_command.h"
#include "core/errors.h"
#include "files/saved_run.h"

namespace segwork::cli {

void CheckOpenRunOptions(const CLI::App& run) {
  static const char* const kAllowed[] = {"--open-run", "--steps",  "--engine",      "--save-run",
                                         "--picture",  "--frames", "--every",       "--movie",
                                         "--measures", "--cells",  "--agents-table"};
  for (const CLI::Option* option : run.get_options()) {
    if (option->count() == 0) continue;
    const std::string name = option->get_name();
    if (std::find(std::begin(kAllowed), std::end(kAllowed), name) != std::end(kAllowed)) continue;
    throw UsageError(name +
                     " cannot be given with --open-run: the saved run keeps its own settings "
                     "(give --steps and where to write)");
  }
}

std::unique_ptr<HeadlessRun> OpenSavedRun(const RunOptions& o, EngineKind engine) {
  auto model = std::make_unique<HeadlessRun>();
  model->EngineChoice = engine;
  model->InitStreetControls();
  SavedRunPtr run = LoadSavedRun(*o.openRun, model->MemoryLimitBytes, engine);
  InstallSavedRun(*model, *run);
  model->Analysis = TakeAnalysis(*run);
  return model;
}

}  // namespace segwork::cli
