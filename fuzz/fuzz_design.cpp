// The experiment's design reader: any text is a design whose every value its control takes, or
// one SegworkError naming the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/experiment_command.h"
#include "core/errors.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const segwork::cli::Design design = segwork::cli::ParseDesign(text, "fuzz.csv");
    if (design.rows.empty()) Fail("a design without runs");
    for (const auto& row : design.rows) {
      if (row.size() != design.parameters.size()) Fail("a row of another width");
    }
    if (design.seeds.size() != design.rows.size()) Fail("seeds not one a row");
  } catch (const segwork::SegworkError& e) {
    if (std::string(e.what()).rfind("fuzz.csv: ", 0) != 0) Fail("a message without the file");
  }
  return 0;
}
