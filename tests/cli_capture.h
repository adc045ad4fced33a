#pragma once

#include <cstdio>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace segwork::cli::testing {

// What a command printed and returned.
struct Result {
  int status = 0;
  std::string out;
  std::string err;
};

// Runs a command that writes CSV to a FILE and messages to a stream, and keeps both.
inline Result Capture(const std::function<int(std::FILE*, std::ostream&)>& command) {
  std::FILE* file = std::tmpfile();
  std::ostringstream err;
  Result r;
  r.status = command(file, err);
  std::rewind(file);
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) r.out.append(buffer, n);
  std::fclose(file);
  r.err = err.str();
  return r;
}

// `segwork-cli ARGS`, run in this process.
inline Result RunCli(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"segwork-cli"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream info;
  return Capture([&](std::FILE* out, std::ostream& err) {
    return RunCommandLine(int(argv.size()), argv.data(), out, info, err);
  });
}

// Fields of a line or lines of a text; a trailing separator other than a newline ends in an
// empty field.
inline std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator && separator != '\n') parts.push_back("");
  return parts;
}

}  // namespace segwork::cli::testing
