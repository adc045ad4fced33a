#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"

namespace segwork::cli {

// The command line itself is wrong: exit status 2, as for a line that does not parse.
class UsageError : public SegworkError {
 public:
  using SegworkError::SegworkError;
};

// Exit statuses: a usage error, and a bad value or a failure.
inline constexpr int kUsageStatus = 2;
inline constexpr int kFailureStatus = 1;

// Writes results in whole blocks of rows and checks every write and flush: a failure throws a
// SegworkError naming the output and the reason. A termination signal that arrives while a block
// is being written takes effect once the block is out, so the output always ends on a whole row.
class RowWriter {
 public:
  RowWriter(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) {}
  void Write(std::string_view rows);
  // A flush failure of what an unchecked writer (help text) left in the buffer.
  void Flush();

 private:
  [[noreturn]] void Fail(int error) const;
  std::FILE* file_;
  std::string name_;
};

// Every run writes much the same warnings, often differing only in a value: the first of each kind
// is shown, and at the end how many more of that kind came. Progress lines of large setups are
// dropped, they would arrive only after the run.
class Warnings {
 public:
  explicit Warnings(std::ostream& err) : err_(err) {}
  void Forward(const std::string& text);
  void Summarise();

 private:
  struct Kind {
    std::string first;
    std::string last;
    uint64_t more = 0;
  };
  std::ostream& err_;
  std::map<std::string, Kind> kinds_;
  std::vector<std::string> order_;
};

// For main: SIGPIPE ends the program at once (its default, also when the caller ignored it), and
// SIGTERM, SIGINT and SIGHUP end it at once except inside RowWriter::Write, which finishes its
// block first. Either way the program ends killed by the signal, status 128 + its number, after
// removing the temporary files of unfinished saves and ending ffmpeg (files/signal_cleanup.h).
void InstallSignalHandling();

}  // namespace segwork::cli
