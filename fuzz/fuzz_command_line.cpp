// Parsing the command line: any arguments give a status and never throw, a refusal says why on
// err, and the full command line agrees with the parse-only one whenever it stops before running.
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "fuzz/fuzz_argv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace segwork::fuzz;
  const std::vector<std::string> args = SplitArguments(data, size);
  const std::vector<const char*> argv = Argv(args);
  const int argc = int(args.size());

  std::ostringstream info, err;
  const int status = segwork::cli::CheckCommandLine(argc, argv.data(), info, err);
  if (!IsParseStatus(status)) Fail("status outside CLI11's", args);
  if (status != 0 && err.str().empty()) Fail("refused without a message", args);
  if (status != 0 && !info.str().empty()) Fail("refusal printed on info", args);

  // Help, version or a refusal: the full command line stops at the same point with the same text.
  if (status != 0 || !info.str().empty()) {
    std::ostringstream info2, err2;
    const int status2 = segwork::cli::RunCommandLine(argc, argv.data(), nullptr, info2, err2);
    if (status2 != status) Fail("run and check give different statuses", args);
    if (info2.str() != info.str() || err2.str() != err.str()) Fail("different texts", args);
  }
  return 0;
}
