// The saved-run loader: any bytes are either a run or refused with one SegworkError naming the
// file, before anything is allocated for sizes the file cannot hold. A run it accepts steps, and
// saves to a file that reads back. Each input is also tried with lists nested far deeper than
// the header allows and with the header's first key given twice, both put in its header line:
// refused, naming the file, never a crash; the key given twice is named unless the file's
// checksum (today's version) refuses it first.
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

size_t Pick(const std::string& bytes, size_t salt) {
  size_t h = 1469598103934665603ull ^ salt;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

// Refused, with the file's name and `needed` (or the checksum's or the header's own message).
void ExpectRefused(const std::string& bytes, const std::string& needed) {
  try {
    ParseSavedRun(bytes, "fuzz.segrun", uint64_t(256) << 20, EngineKind::Fast);
  } catch (const SegworkError& e) {
    const std::string what = e.what();
    if (what.rfind("fuzz.segrun: ", 0) != 0) Fail("a message without the file");
    // The checksum of today's files comes first; a key that is no JSON text fails as such.
    if (what.find(needed) == std::string::npos && what.find("damaged") == std::string::npos &&
        what.find("not readable") == std::string::npos) {
      std::fprintf(stderr, "%s\nwanted: %s\n", what.c_str(), needed.c_str());
      Fail("refused for another reason");
    }
    return;
  }
  Fail("a header nested too deep or with a key given twice is taken");
}

// The header's variants: lists nested 9 to 1,000 or 100,000 deep as a value, and its first key
// again.
void TryHeaderVariants(const std::string& bytes) {
  const std::string magic = "segwork run\n";
  const size_t open = magic.size();
  const size_t end = bytes.find('\n', open);
  if (bytes.compare(0, open, magic) != 0 || end == std::string::npos || bytes[open] != '{') return;
  // Mostly just past the limit; now and then as deep as once crashed the program.
  const size_t pick = Pick(bytes, 1);
  const size_t depth = pick % 16 == 0 ? 100000 : 9 + pick % 1000;
  ExpectRefused(bytes.substr(0, open + 1) + "\"x\":" + std::string(depth, '[') +
                    std::string(depth, ']') + "," + bytes.substr(open + 1),
                "nested more than");
  const size_t quote = bytes.find('"', open);
  const size_t close = quote == std::string::npos ? quote : bytes.find('"', quote + 1);
  if (quote != open + 1 || close == std::string::npos || close > end) return;
  const std::string key = bytes.substr(quote + 1, close - quote - 1);
  if (key.find('\\') != std::string::npos) return;
  ExpectRefused(bytes.substr(0, open + 1) + "\"" + key + "\":0," + bytes.substr(open + 1),
                key + ": given twice");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TryHeaderVariants(bytes);
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
