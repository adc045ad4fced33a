// What a build without zlib and libpng (the WebAssembly one) has in place of saved runs and
// pictures: every use is refused with one message, nothing is written.
#include "core/errors.h"
#include "files/picture.h"
#include "files/saved_run.h"

namespace segwork {

namespace {

[[noreturn]] void Unavailable(const std::string& what) {
  throw SegworkError(what + " are not available in this build (it has no zlib or libpng)");
}

}  // namespace

struct SavedRun {};
void SavedRunDeleter::operator()(SavedRun* run) const {
  delete run;
}

void SaveRun(const Simulation&, const AnalysisWindow&, const std::string&) {
  Unavailable("saved runs");
}
SavedRunPtr ParseSavedRun(const std::string&, const std::string&, uint64_t, EngineKind) {
  Unavailable("saved runs");
}
SavedRunPtr LoadSavedRun(const std::string&, uint64_t, EngineKind) {
  Unavailable("saved runs");
}
GridPos SavedPanel(const SavedRun&) {
  Unavailable("saved runs");
}
void InstallSavedRun(Simulation&, SavedRun&) {
  Unavailable("saved runs");
}
AnalysisWindow TakeAnalysis(SavedRun&) {
  Unavailable("saved runs");
}
AnalysisWindow OpenRun(Simulation&, const std::string&, const std::function<void()>&) {
  Unavailable("saved runs");
}

void SavePng(const RasterCanvas&, const std::string&) {
  Unavailable("pictures");
}

}  // namespace segwork
