#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace segwork::fuzz {

// The fuzz input as a command line: arguments separated by NUL or newline bytes, after the
// program's name.
inline std::vector<std::string> SplitArguments(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"segwork-cli"};
  std::string current;
  bool any = false;
  for (size_t i = 0; i < size; ++i) {
    const char c = char(data[i]);
    if (c == '\0' || c == '\n') {
      args.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) args.push_back(current);
  return args;
}

inline std::vector<const char*> Argv(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return argv;
}

// The statuses of a parse: 0, or 2 for a usage error.
inline bool IsParseStatus(int status) {
  return status == 0 || status == 2;
}

[[noreturn]] inline void Fail(const char* what, const std::vector<std::string>& args) {
  std::fprintf(stderr, "property failed: %s\ncommand line:", what);
  for (const std::string& a : args) std::fprintf(stderr, " [%s]", a.c_str());
  std::fprintf(stderr, "\n");
  std::abort();
}

}  // namespace segwork::fuzz
