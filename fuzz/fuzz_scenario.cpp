// The scenario loader: any text is either a scenario or refused with one SegworkError naming the
// file. A scenario it accepts is whole (its grid the size it says, every line inside it) and
// writes back to a text that reads as the same scenario. Each input is also tried with lists
// nested far deeper than the format allows inserted at a place it picks (never a crash), and an
// accepted one with one of its keys given twice (always refused, naming the key).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

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

// A number from the input's bytes, so that each input picks its own place and depth.
size_t Pick(const std::string& text, size_t salt) {
  size_t h = 1469598103934665603ull ^ salt;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

// The text with balanced lists nested 9 to 1,000 or 100,000 deep put in at a place it picks.
std::string Nested(const std::string& text) {
  // Mostly just past the limit; now and then as deep as once crashed the program.
  const size_t pick = Pick(text, 1);
  const size_t depth = pick % 16 == 0 ? 100000 : 9 + pick % 1000;
  const size_t at = text.empty() ? 0 : Pick(text, 2) % (text.size() + 1);
  return text.substr(0, at) + std::string(depth, '[') + std::string(depth, ']') + text.substr(at);
}

// A written scenario (one key a line where an object is long) with one of those keys given
// twice; the key, or none when the text has no such line.
std::pair<std::string, std::string> Twice(const std::string& written, size_t pick) {
  std::vector<size_t> starts;
  for (size_t at = 0; at < written.size(); at = written.find('\n', at) + 1) {
    const size_t quote = written.find_first_not_of(' ', at);
    const size_t end = written.find('\n', at);
    const char last = written[(end == std::string::npos ? written.size() : end) - 1];
    // A key whose value opens an object or list over the next lines cannot be repeated alone.
    if (quote != std::string::npos && written[quote] == '"' && written.find("\": ", quote) < end &&
        last != '{' && last != '[') {
      starts.push_back(at);
    }
    if (written.find('\n', at) == std::string::npos) break;
  }
  if (starts.empty()) return {};
  const size_t at = starts[pick % starts.size()];
  std::string line = written.substr(at, written.find('\n', at) - at);
  const size_t quote = line.find('"');
  const std::string key = line.substr(quote + 1, line.find('"', quote + 1) - quote - 1);
  if (line.back() != ',') line += ',';
  return {written.substr(0, at) + line + "\n" + written.substr(at), key};
}

void ExpectRefused(const std::string& text, const std::string& needed) {
  try {
    ParseScenario(text, "fuzz.json");
  } catch (const SegworkError& e) {
    const std::string what = e.what();
    if (what.rfind("fuzz.json: ", 0) != 0) Fail("a message without the file");
    if (what.find(needed) == std::string::npos) {
      std::fprintf(stderr, "%s\nwanted: %s\n", what.c_str(), needed.c_str());
      Fail("refused for another reason");
    }
    return;
  }
  if (!needed.empty()) Fail("a key given twice is taken");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Never a crash, whatever the nesting; accepted only where the lists land inside a text.
  try {
    CheckWhole(ParseScenario(Nested(text), "fuzz.json"));
  } catch (const SegworkError& e) {
    if (std::string(e.what()).rfind("fuzz.json: ", 0) != 0) Fail("a message without the file");
  }
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
  if (const auto [twice, key] = Twice(written, Pick(text, 3)); !key.empty()) {
    ExpectRefused(twice, key + ": given twice");
  }
  return 0;
}
