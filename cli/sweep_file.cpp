#include "cli/sweep_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "core/errors.h"
#include "files/atomic_file.h"

namespace segwork::cli {
namespace {

constexpr const char* kRecordTitle = "segwork-cli sweep";

std::string RecordPath(const std::string& file) {
  return file + ".sweep";
}

// One value a line: newlines and backslashes escaped.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string RecordText(const SweepIdentity& identity) {
  std::string text = std::string(kRecordTitle) + '\n';
  for (const auto& [name, value] : identity) text += name + '=' + Escaped(value) + '\n';
  return text;
}

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

[[noreturn]] void FailFile(const std::string& path, const std::string& what, int error) {
  throw SegworkError("segwork-cli: " + path + ": " + what + ": " + std::strerror(error));
}

// The record's names and values; nullopt when there is none.
std::optional<std::map<std::string, std::string>> ReadRecord(const std::string& file) {
  const std::string path = RecordPath(file);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (!Exists(path)) return std::nullopt;
    FailFile(path, "cannot read it", errno);
  }
  std::string line;
  if (!std::getline(in, line) || line != kRecordTitle) {
    throw SegworkError("segwork-cli: " + path + " is not the record of a sweep");
  }
  std::map<std::string, std::string> values;
  while (std::getline(in, line)) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

void CheckRecord(const std::string& file, const SweepIdentity& identity) {
  const auto record = ReadRecord(file);
  if (!record) {
    throw SegworkError("segwork-cli: " + file + " has no " + RecordPath(file) +
                       " beside it, so its sweep is unknown; remove " + file +
                       " to start the sweep anew");
  }
  std::string differences;
  int count = 0;
  for (const auto& [name, value] : identity) {
    const auto there = record->find(name);
    const std::string was = there == record->end() ? "(none)" : there->second;
    if (was == Escaped(value)) continue;
    if (++count <= 3) {
      differences += (count > 1 ? "; " : "") + name + " was " + was + ", is " + Escaped(value);
    }
  }
  if (count > 3) differences += "; and " + std::to_string(count - 3) + " more";
  if (count > 0) {
    throw SegworkError("segwork-cli: " + file + " belongs to another sweep (" + RecordPath(file) +
                       "): " + differences);
  }
}

// The leading fields of a row, up to `count`; fewer when the row has fewer.
std::vector<std::string> Fields(const std::string& line, size_t count) {
  std::vector<std::string> fields;
  size_t begin = 0;
  while (fields.size() < count) {
    const size_t comma = line.find(',', begin);
    if (comma == std::string::npos) break;
    fields.push_back(line.substr(begin, comma - begin));
    begin = comma + 1;
  }
  return fields;
}

}  // namespace

std::optional<uint32_t> RecordedSeed(const std::string& file) {
  const auto record = ReadRecord(file);
  if (!record || !record->count("seed")) return std::nullopt;
  try {
    return uint32_t(std::stoul(record->at("seed")));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

SweepOutput::SweepOutput(const std::string& path, bool resume, const SweepIdentity& identity,
                         const RowShape& shape)
    : writer_(nullptr, path),
      path_(path),
      recordText_(RecordText(identity)),
      shape_(shape),
      headerOwed_(shape.header != nullptr),
      next_(shape.begin) {
  if (!resume) {
    if (Exists(path)) {
      throw SegworkError("segwork-cli: " + path +
                         " exists: give --resume to finish its sweep, or remove it");
    }
    return;
  }
  // Nothing kept yet: the sweep starts, with a new record.
  std::ifstream probe(path, std::ios::binary | std::ios::ate);
  if (!probe && Exists(path)) FailFile(path, "cannot read it", errno);
  if (!probe || probe.tellg() == 0) return;
  Lock();
  CheckRecord(path, identity);
  recordText_.clear();  // the record there is this one
  Scan(path);
}

SweepOutput::~SweepOutput() {
  if (owned_ && file_) std::fclose(file_);
}

SweepOutput::Descriptor::~Descriptor() {
  if (fd >= 0) close(fd);
}

void SweepOutput::Lock() {
  if (lock_.fd >= 0) return;
  lock_.fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (lock_.fd < 0) FailFile(path_, "cannot open it", errno);
  if (flock(lock_.fd, LOCK_EX | LOCK_NB) != 0) {
    throw SegworkError("segwork-cli: " + path_ +
                       " is being written by another segwork-cli; let that one finish first");
  }
}

// Keeps the whole lines that are rows of this block in order, and finds the first run missing.
void SweepOutput::Scan(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const SweepPlan& plan = *shape_.plan;
  uint64_t run = shape_.begin;  // the run the next row belongs to, or the one after
  int64_t rowsOfRun = 0;
  std::string line;
  for (uint64_t number = 1; std::getline(in, line) && !in.eof(); ++number) {
    auto refuse = [&](const std::string& why) {
      throw SegworkError("segwork-cli: " + path + ": line " + std::to_string(number) +
                         " is not a row of this sweep: " + why);
    };
    if (headerOwed_) {
      if (line + '\n' != shape_.header)
        refuse("the header should be " + std::string(shape_.header));
      headerOwed_ = false;
    } else {
      if (rowsOfRun == shape_.rowsPerRun) ++run, rowsOfRun = 0;
      const std::vector<std::string> f = Fields(line, shape_.stepColumn ? 5 : 4);
      if (run >= shape_.end) refuse("the block's runs end before it");
      const std::string expected = std::to_string(run) + ',' + std::to_string(plan.ValueOf(run)) +
                                   ',' + std::to_string(plan.CalcOf(run)) + ',' +
                                   std::to_string(plan.SeedOf(run));
      if (f.size() < 4 || f[0] + ',' + f[1] + ',' + f[2] + ',' + f[3] != expected) {
        refuse("run, value, calc and seed should be " + expected);
      }
      if (shape_.stepColumn && (f.size() < 5 || f[4] != std::to_string(rowsOfRun + 1))) {
        refuse("its step should be " + std::to_string(rowsOfRun + 1));
      }
      if (rowsOfRun == 0) keptOfNext_.clear();
      keptOfNext_ += line + '\n';
      ++rowsOfRun;
    }
    keptBytes_ += line.size() + 1;
  }
  if (rowsOfRun == shape_.rowsPerRun) ++run, rowsOfRun = 0, keptOfNext_.clear();
  next_ = run;
}

void SweepOutput::Open() {
  if (file_) return;
  if (!recordText_.empty()) {
    // Whole or not at all: FILE never exists without its record.
    try {
      AtomicFile record(RecordPath(path_));
      record.Write(recordText_.data(), recordText_.size());
      record.Commit();
    } catch (const SegworkError& e) {
      throw SegworkError(std::string("segwork-cli: ") + e.what());
    }
  }
  // A line cut short by the end of the last process goes.
  if (keptBytes_ > 0 && truncate(path_.c_str(), off_t(keptBytes_)) != 0) {
    FailFile(path_, "cannot drop its last, partial line", errno);
  }
  file_ = std::fopen(path_.c_str(), keptBytes_ > 0 ? "ab" : "wb");
  if (!file_) FailFile(path_, "cannot open it for writing", errno);
  owned_ = true;
  Lock();
  writer_ = RowWriter(file_, path_);
}

void SweepOutput::WriteRun(uint64_t r, const std::string& rows) {
  Open();
  std::string text;
  if (headerOwed_) text = shape_.header;
  headerOwed_ = false;
  if (r == next_ && !keptOfNext_.empty()) {
    if (rows.compare(0, keptOfNext_.size(), keptOfNext_) != 0) {
      throw SegworkError("segwork-cli: " + path_ + ": the rows of run " + std::to_string(r) +
                         " there differ from the run's own: the file was changed");
    }
    text += rows.substr(keptOfNext_.size());
    keptOfNext_.clear();
  } else {
    text += rows;
  }
  writer_.Write(text);
}

void SweepOutput::Finish() {
  Open();
  if (headerOwed_) writer_.Write(shape_.header);
  headerOwed_ = false;
  if (!owned_) return;
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) FailFile(path_, "cannot write it", errno);
}

}  // namespace segwork::cli
