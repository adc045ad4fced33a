#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/experiment_command.h"
#include "cli/run_command.h"

namespace segwork::cli {

// The whole of `segwork-cli`: parses the arguments (argv[0] is the program's name), runs the
// command and returns the exit status. Results go to `out`, help and version text to `info`,
// messages to `err`. Nothing throws out of it.
int RunCommandLine(int argc, const char* const* argv, std::FILE* out, std::ostream& info,
                   std::ostream& err);

// Only the parsing, without running anything:
// 0 when the command would start, otherwise the exit status it would end with.
int CheckCommandLine(int argc, const char* const* argv, std::ostream& info, std::ostream& err);

// The options of `run` or `experiment` as the words after the program's name give them (the
// command first), their scenario applied, for callers that run them themselves. Words the
// command line refuses throw a UsageError (or SegworkError) with the message it prints.
RunOptions ParseRunWords(const std::vector<std::string>& words);
std::pair<RunOptions, ExperimentOptions> ParseExperimentWords(
    const std::vector<std::string>& words);

}  // namespace segwork::cli
