#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/output.h"
#include "experiments/sweep_core.h"

namespace segwork::cli {

// What makes a sweep's rows what they are (options, seed, shard), as name and value; the record
// beside a sweep's FILE, in FILE.sweep.
using SweepIdentity = std::vector<std::pair<std::string, std::string>>;

// The seed a record names, if the record exists and names one.
std::optional<uint32_t> RecordedSeed(const std::string& file);

// The rows a block of a sweep must have: each row begins with "run,value,calc,seed," and a growth
// run has one row per step, numbered from 1.
struct RowShape {
  const SweepPlan* plan = nullptr;
  uint64_t begin = 0;
  uint64_t end = 0;
  const char* header = nullptr;  // the first line, or nullptr for a shard past the first
  int64_t rowsPerRun = 1;
  bool stepColumn = false;
};

// Where a sweep's rows go, as whole runs in run order: standard output, or FILE (--output) with
// its record, new or (--resume) continued.
class SweepOutput {
 public:
  SweepOutput(std::FILE* out, const RowShape& shape)
      : file_(out),
        writer_(out, "standard output"),
        shape_(shape),
        headerOwed_(shape.header != nullptr),
        next_(shape.begin) {}
  // Checks FILE before any run: a new sweep refuses a FILE that exists; a resumed one refuses a
  // FILE of another sweep or with a row this block does not have, and else keeps its whole rows.
  SweepOutput(const std::string& path, bool resume, const SweepIdentity& identity,
              const RowShape& shape);
  ~SweepOutput();
  SweepOutput(const SweepOutput&) = delete;
  SweepOutput& operator=(const SweepOutput&) = delete;

  // The first run the output does not hold yet, whole.
  uint64_t Next() const { return next_; }
  // Run r's rows, or those of them the file does not hold yet; a header is written first.
  void WriteRun(uint64_t r, const std::string& rows);
  // The header, if still owed, and the file closed, all checked.
  void Finish();

 private:
  void Scan(const std::string& path);
  void Open();
  // One process at a time writes FILE: two would interleave their runs.
  void Lock();

  std::FILE* file_ = nullptr;
  RowWriter writer_;
  std::string path_;
  std::string recordText_;
  RowShape shape_;
  bool owned_ = false;
  // Released also when the constructor throws after taking it.
  struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();
  } lock_;
  bool headerOwed_ = false;
  uint64_t next_ = 0;
  std::string keptOfNext_;  // rows of run next_ already in FILE (a growth run cut short)
  uint64_t keptBytes_ = 0;  // FILE's whole lines
};

}  // namespace segwork::cli
