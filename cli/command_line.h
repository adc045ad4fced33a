#pragma once

#include <cstdio>
#include <ostream>

namespace segwork::cli {

// The whole of `segwork-cli`: parses the arguments (argv[0] is the program's name), runs the
// command and returns the exit status. Results go to `out`, help and version text to `info`,
// messages to `err`. Nothing throws out of it.
int RunCommandLine(int argc, const char* const* argv, std::FILE* out, std::ostream& info,
                   std::ostream& err);

// Only the parsing, without running anything:
// 0 when the command would start, otherwise the exit status it would end with.
int CheckCommandLine(int argc, const char* const* argv, std::ostream& info, std::ostream& err);

}  // namespace segwork::cli
