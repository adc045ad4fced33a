#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/output.h"
#include "cli/run_command.h"
#include "experiments/sweep_core.h"

namespace segwork::cli {

// What makes a sweep's rows what they are (options, seed, shard), as name and value; the record
// beside a sweep's FILE, in FILE.sweep. The record also keeps a check (FNV-1a, 64 bits) of each
// finished run's rows, written before the rows, so that a resume can tell rows changed by hand;
// a record without checks (written before they were kept) still resumes, unchecked.
using SweepIdentity = std::vector<std::pair<std::string, std::string>>;

// FNV-1a, 64 bits: the check of a run's rows, and the fingerprint of a file a record names.
uint64_t Fnv1a64(const std::string& text);

// What the rows depend on of the run options, appended to a record's identity; `layout` is the
// layout every run starts from.
void AppendRunIdentity(SweepIdentity& identity, const RunOptions& options,
                       const std::string& layout);

// The seed a record names, if the record exists and names one.
std::optional<uint32_t> RecordedSeed(const std::string& file);

// The rows a block of a sweep or experiment must have: each row of run r begins with
// prefix(r) and a comma (a sweep's "run,value,calc,seed", an experiment's "run,calc,seed"); a
// growth run has one row per step, numbered from 1.
struct RowShape {
  std::function<std::string(uint64_t)> prefix;
  std::string prefixNames;  // what the prefix holds, for a message
  uint64_t begin = 0;
  uint64_t end = 0;
  const char* header = nullptr;  // the first line, or nullptr for a shard past the first
  // 0: as many as the run made (an experiment stopped when settled); a run is then whole when
  // the rows of the next run follow it, or at the end when they match their check.
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
  // Takes FILE before any run: it is created or opened and locked before anything reads or
  // changes it, so a second process is refused and leaves FILE (and its record) as they were.
  // A new sweep refuses a FILE that exists; a resumed one refuses a FILE of another sweep, with a
  // row this block does not have or a finished run whose rows do not match their check, and else
  // keeps its whole rows. A FILE that exists and is not a regular file is refused.
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
  // One process at a time writes FILE: two would interleave their runs. Returns whether FILE
  // is empty (made here, or left empty), so that the sweep starts.
  bool Claim(bool resume);
  void Scan(const std::string& path, const std::map<uint64_t, uint64_t>* checks);
  void Open();
  void KeepCheck(uint64_t run, const std::string& rows);

  std::FILE* file_ = nullptr;
  RowWriter writer_;
  std::string path_;
  std::string recordText_;
  RowShape shape_;
  bool owned_ = false;
  bool created_ = false;         // FILE was made here: removed again if nothing was written
  int createdSlot_ = -1;         // ... also on a termination signal (files/signal_cleanup.h)
  std::FILE* record_ = nullptr;  // FILE.sweep, open for the checks of the runs to come
  RowWriter recordWriter_{nullptr, ""};
  // The checks of the whole runs kept (run, check), in run order.
  std::vector<std::pair<uint64_t, uint64_t>> kept_;
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
