// The scenario loader: any text is either a scenario or refused with one SegworkError naming the
// file. A scenario it accepts is whole (its grid the size it says, every line inside it) and
// writes back to a text that reads as the same scenario.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/errors.h"
#include "files/scenario.h"

namespace {

using namespace segwork;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

void CheckWhole(const Scenario& s) {
  if (!s.streets) return;
  const SavedStreets& g = *s.streets;
  if (g.columns < 1 || g.rows < 1 || g.types.size() != size_t(g.columns) * size_t(g.rows)) {
    Fail("the grid is not the size it says");
  }
  for (int32_t type : g.types) {
    if (type < -3 || type > 3) Fail("a street type outside -3..3");
  }
  for (const StreetLine& l : s.lines) {
    if (l.StartX < 0 || l.EndX < 0 || l.StartY < 0 || l.EndY < 0 || l.StartX >= g.columns ||
        l.EndX >= g.columns || l.StartY >= g.rows || l.EndY >= g.rows) {
      Fail("a line outside the grid");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Scenario scenario;
  try {
    scenario = ParseScenario(text, "fuzz.json");
  } catch (const SegworkError& e) {
    if (std::string(e.what()).rfind("fuzz.json: ", 0) != 0) Fail("a message without the file");
    return 0;
  }
  CheckWhole(scenario);
  const std::string written = ScenarioText(scenario);
  try {
    const Scenario again = ParseScenario(written, "written.json");
    CheckWhole(again);
    if (ScenarioText(again) != written) Fail("the written scenario reads differently");
  } catch (const SegworkError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Fail("a written scenario is refused");
  }
  return 0;
}
