#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "cli/command_line.h"
#include "cli/output.h"

int main(int argc, char** argv) {
  segwork::cli::InstallSignalHandling();
  int status = segwork::cli::RunCommandLine(argc, argv, stdout, std::cout, std::cerr);
  // Help and version text, or whatever a failed command left buffered: a lost last block is a
  // failure too.
  errno = 0;
  const bool written = static_cast<bool>(std::cout.flush());
  if ((std::fclose(stdout) != 0 || !written) && status == 0) {
    std::cerr << "segwork-cli: cannot write to standard output"
              << (errno ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
    status = segwork::cli::kFailureStatus;
  }
  return status;
}
