// The saved-run loader: any bytes are either a run or refused with one SegworkError naming the
// file, before anything is allocated for sizes the file cannot hold. A run it accepts steps, and
// saves to a file that reads back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/errors.h"
#include "files/saved_run.h"

namespace {

using namespace segwork;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  SavedRunPtr run;
  try {
    run = ParseSavedRun(bytes, "fuzz.segrun", uint64_t(256) << 20, EngineKind::Fast);
  } catch (const SegworkError& e) {
    if (std::string(e.what()).rfind("fuzz.segrun: ", 0) != 0) Fail("a message without the file");
    return 0;
  }
  Simulation model;
  model.InitStreetControls();
  InstallSavedRun(model, *run);
  const AnalysisWindow analysis = TakeAnalysis(*run);
  try {
    for (int i = 0; i < 2; ++i) model.AdvanceOneStep();
  } catch (const SegworkError&) {
    // A control text the step reads may be refused, as in the window.
  }
  const std::string path = "/tmp/fuzz_saved_run_" + std::to_string(getpid()) + ".segrun";
  try {
    SaveRun(model, analysis, path);
    LoadSavedRun(path, uint64_t(256) << 20, EngineKind::Literal);
  } catch (const SegworkError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Fail("a saved run does not read back");
  }
  std::remove(path.c_str());
  return 0;
}
