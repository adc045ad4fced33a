#include <iostream>

#include "cli/command_line.h"

int main(int argc, char** argv) {
  return segwork::cli::RunCommandLine(argc, argv, stdout, std::cout, std::cerr);
}
