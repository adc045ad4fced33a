#include "cli/sweep_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <map>

#include "core/errors.h"
#include "files/atomic_file.h"
#include "files/replace_file.h"
#include "files/scenario.h"
#include "files/signal_cleanup.h"

namespace segwork::cli {
namespace {

constexpr const char* kRecordTitle = "segwork-cli sweep";
// The line that says a record keeps a check of each finished run's rows, as check.RUN=HEX.
constexpr const char* kChecksLine = "rows-check=fnv1a-64";
constexpr const char* kCheckPrefix = "check.";
// Far more than any record holds (some 30 bytes a run) and any row is long.
constexpr uint64_t kRecordByteLimit = uint64_t(1) << 30;
constexpr size_t kRowByteLimit = size_t(1) << 16;

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

uint64_t RowsCheck(const std::string& rows) {
  return Fnv1a64(rows);
}

std::string CheckLine(uint64_t run, uint64_t check) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016" PRIx64, check);
  return kCheckPrefix + std::to_string(run) + '=' + hex + '\n';
}

[[noreturn]] void FailFile(const std::string& path, const std::string& what, int error) {
  throw SegworkError("segwork-cli: " + path + ": " + what + ": " + std::strerror(error));
}

struct Record {
  std::map<std::string, std::string> values;
  bool checked = false;  // it keeps checks (a record of an older segwork-cli does not)
  std::map<uint64_t, uint64_t> checks;
};

// The record's names and values; nullopt when there is none. Only whole lines count: the last
// check may have been cut short by the end of a process.
std::optional<Record> ReadRecord(const std::string& file) {
  const std::string path = RecordPath(file);
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) {
    if (errno == ENOENT) return std::nullopt;
    FailFile(path, "cannot read it", errno);
  }
  std::string text;
  try {
    text = ReadWholeFile(path, kRecordByteLimit, "the record of a sweep");
  } catch (const SegworkError& e) {
    throw SegworkError(std::string("segwork-cli: ") + e.what());
  }
  Record record;
  bool titled = false;
  for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    const std::string line = text.substr(begin, end - begin);
    if (!titled) {
      if (line != kRecordTitle) break;
      titled = true;
      continue;
    }
    if (line == kChecksLine) {
      record.checked = true;
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = line.substr(0, equals), value = line.substr(equals + 1);
    if (name.rfind(kCheckPrefix, 0) == 0) {
      // A check that does not read is no check: its run is refused as unchecked.
      const std::string run = name.substr(std::strlen(kCheckPrefix));
      if (run.empty() || run.size() > 19 || value.size() != 16 ||
          run.find_first_not_of("0123456789") != std::string::npos ||
          value.find_first_not_of("0123456789abcdef") != std::string::npos) {
        continue;
      }
      record.checks[std::stoull(run)] = std::stoull(value, nullptr, 16);
      continue;
    }
    record.values[name] = value;
  }
  if (!titled) throw SegworkError("segwork-cli: " + path + " is not the record of a sweep");
  return record;
}

Record CheckRecord(const std::string& file, const SweepIdentity& identity) {
  auto record = ReadRecord(file);
  if (!record) {
    throw SegworkError("segwork-cli: " + file + " has no " + RecordPath(file) +
                       " beside it, so its sweep is unknown; remove " + file +
                       " to start the sweep anew");
  }
  std::string differences;
  int count = 0;
  for (const auto& [name, value] : identity) {
    const auto there = record->values.find(name);
    const std::string was = there == record->values.end() ? "(none)" : there->second;
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
  return std::move(*record);
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

// The whole lines of an open file from its start; a last line without its newline is none.
class Lines {
 public:
  Lines(int fd, const std::string& path) : fd_(fd), path_(path) {
    if (::lseek(fd, 0, SEEK_SET) != 0) FailFile(path, "cannot read it", errno);
  }
  // 1 with the next line, 0 at the end, -1 for a line longer than any row.
  int Next(std::string& line) {
    for (size_t from = pos_;;) {
      const size_t newline = buffer_.find('\n', from);
      if (newline != std::string::npos) {
        line.assign(buffer_, pos_, newline - pos_);
        pos_ = newline + 1;
        return 1;
      }
      if (buffer_.size() - pos_ > kRowByteLimit) return -1;
      buffer_.erase(0, pos_);
      pos_ = 0;
      from = buffer_.size();
      char chunk[1 << 16];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) FailFile(path_, "cannot read it", errno);
      if (n == 0) return 0;
      buffer_.append(chunk, size_t(n));
    }
  }

 private:
  int fd_;
  const std::string& path_;
  std::string buffer_;
  size_t pos_ = 0;
};

}  // namespace

uint64_t Fnv1a64(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ull;
  return hash;
}

void AppendRunIdentity(SweepIdentity& identity, const RunOptions& o, const std::string& layout) {
  std::string lines;
  for (const std::string& line : o.streetLines) lines += line + ' ';
  char scenario[20] = "";
  if (o.scenario) {
    std::snprintf(scenario, sizeof scenario, "%016" PRIx64, Fnv1a64(ScenarioText(*o.scenario)));
  }
  identity.push_back({"engine", o.engine});
  for (const Parameter& p : Parameters()) {
    // The steps are the plan's.
    if (!p.HasOption() || std::string_view(p.name) == "steps") continue;
    if (std::string_view(p.name) == "rows") identity.push_back({"layout", layout});
    identity.push_back({p.name, o.Value(p)});
  }
  identity.insert(identity.end(), {{"weights", o.weights.value_or("")},
                                   {"street-lines", lines},
                                   {"panel", o.panel + 'x' + o.panelHeight.value_or(o.panel)},
                                   {"scenario", scenario}});
}

std::optional<uint32_t> RecordedSeed(const std::string& file) {
  const auto record = ReadRecord(file);
  if (!record || !record->values.count("seed")) return std::nullopt;
  try {
    return uint32_t(std::stoul(record->values.at("seed")));
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
  // Nothing kept yet: the sweep starts, with a new record.
  if (Claim(resume)) return;
  const Record record = CheckRecord(path, identity);
  Scan(path, record.checked ? &record.checks : nullptr);
}

SweepOutput::~SweepOutput() {
  if (record_) std::fclose(record_);
  if (owned_ && file_) std::fclose(file_);
  // Made here and never written: gone again, as if the sweep had not begun (still locked).
  if (created_ && !owned_) ::unlink(path_.c_str());
  ForgetTemporaryFile(createdSlot_);
}

SweepOutput::Descriptor::~Descriptor() {
  if (fd >= 0) close(fd);
}

bool SweepOutput::Claim(bool resume) {
  try {
    RefuseSpecialTarget(path_, path_);
  } catch (const SegworkError& e) {
    throw SegworkError(std::string("segwork-cli: ") + e.what());
  }
  // Made here, or opened as it is: neither changes a byte of it. A signal waits until a FILE
  // made here is remembered for removal (this is the sweep's only thread yet).
  HoldTerminationSignals held;
  bool made = true;
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    made = false;
    fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) FailFile(path_, "cannot open it", errno);
  } else if (fd < 0) {
    FailFile(path_, "cannot create it", errno);
  }
  lock_.fd = fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0) FailFile(path_, "cannot open it", errno);
  if (!S_ISREG(st.st_mode)) {
    throw SegworkError("segwork-cli: " + path_ + ": is " + SpecialFileKind(st.st_mode) +
                       ", not a regular file: a sweep writes its rows to a file");
  }
  // A process that only looks (one without --resume finding FILE there) holds the lock for a
  // moment: that long is waited for, a writer is not.
  bool locked = false;
  for (int tries = 0; tries < 100 && !(locked = flock(fd, LOCK_EX | LOCK_NB) == 0); ++tries) {
    usleep(1000);
  }
  if (!locked) {
    throw SegworkError("segwork-cli: " + path_ +
                       " is being written by another segwork-cli; let that one finish first");
  }
  // Whoever made it, an empty FILE holds nothing to keep; one made here that another process
  // wrote meanwhile is that one's.
  if (::fstat(fd, &st) != 0) FailFile(path_, "cannot open it", errno);
  const bool empty = st.st_size == 0;
  if (!resume && !(made && empty)) {
    throw SegworkError("segwork-cli: " + path_ +
                       " exists: give --resume to finish its sweep, or remove it");
  }
  if (made && empty) {
    created_ = true;
    createdSlot_ = RememberTemporaryFile(path_);
  }
  return empty;
}

// Keeps the whole lines that are rows of this block in order, and finds the first run missing.
// With the record's checks, every whole run must match its own.
void SweepOutput::Scan(const std::string& path, const std::map<uint64_t, uint64_t>* checks) {
  const bool variable = shape_.rowsPerRun == 0;
  Lines lines(lock_.fd, path);
  uint64_t run = shape_.begin;  // the run the next row belongs to
  int64_t rowsOfRun = 0;
  uint64_t firstLine = 0;
  // The rows of `run` read so far make it whole.
  auto keepRun = [&](uint64_t lastLine) {
    const uint64_t check = RowsCheck(keptOfNext_);
    if (checks) {
      const std::string where = (firstLine == lastLine ? "line " + std::to_string(lastLine)
                                                       : "lines " + std::to_string(firstLine) +
                                                             " to " + std::to_string(lastLine)) +
                                " (run " + std::to_string(run) + ")";
      const auto kept = checks->find(run);
      if (kept == checks->end()) {
        throw SegworkError("segwork-cli: " + path + ": " + where + ": " + RecordPath(path) +
                           " has no check of these rows: they were not written by this "
                           "sweep; remove " +
                           path + " to start the sweep anew");
      }
      if (kept->second != check) {
        throw SegworkError("segwork-cli: " + path + ": " + where +
                           ": not the rows this sweep wrote (their check in " + RecordPath(path) +
                           " differs): the file was changed; remove " + path +
                           " to start the sweep anew");
      }
    }
    kept_.emplace_back(run, check);
    ++run, rowsOfRun = 0, keptOfNext_.clear();
  };
  std::string line;
  uint64_t number = 1;
  for (;; ++number) {
    auto refuse = [&](const std::string& why) {
      throw SegworkError("segwork-cli: " + path + ": line " + std::to_string(number) +
                         " is not a row of this sweep: " + why);
    };
    const int got = lines.Next(line);
    if (got == 0) break;
    if (got < 0) refuse("it is longer than any row");
    if (headerOwed_) {
      if (line + '\n' != shape_.header)
        refuse("the header should be " + std::string(shape_.header));
      headerOwed_ = false;
    } else {
      std::string expected = shape_.prefix(run);
      // A run of as many rows as it made ends where the next run's rows begin.
      if (variable && rowsOfRun > 0 && line.rfind(expected + ',', 0) != 0) {
        keepRun(number - 1);
        expected = shape_.prefix(run);
      }
      if (run >= shape_.end) refuse("the block's runs end before it");
      if (line.rfind(expected + ',', 0) != 0) {
        refuse(shape_.prefixNames + " should be " + expected);
      }
      if (shape_.stepColumn) {
        const size_t at = size_t(std::count(expected.begin(), expected.end(), ',')) + 1;
        const std::vector<std::string> f = Fields(line, at + 1);
        if (f.size() <= at || f[at] != std::to_string(rowsOfRun + 1)) {
          refuse("its step should be " + std::to_string(rowsOfRun + 1));
        }
      }
      if (rowsOfRun == 0) firstLine = number;
      keptOfNext_ += line + '\n';
      if (++rowsOfRun == shape_.rowsPerRun) keepRun(number);
    }
    keptBytes_ += line.size() + 1;
  }
  // The last run of as many rows as it made is whole when they match its check; otherwise it
  // was cut short and is made again.
  if (variable && rowsOfRun > 0 && checks) {
    const auto kept = checks->find(run);
    if (kept != checks->end() && kept->second == RowsCheck(keptOfNext_)) keepRun(number - 1);
  }
  next_ = run;
}

void SweepOutput::Open() {
  if (file_) return;
  // The record first, whole, with the checks of the runs kept: FILE never holds a whole run
  // without its record and check.
  const std::string recordPath = RecordPath(path_);
  std::string text = recordText_ + kChecksLine + '\n';
  for (const auto& [run, check] : kept_) text += CheckLine(run, check);
  try {
    AtomicFile record(recordPath);
    record.Write(text.data(), text.size());
    record.Commit();
  } catch (const SegworkError& e) {
    throw SegworkError(std::string("segwork-cli: ") + e.what());
  }
  record_ = std::fopen(recordPath.c_str(), "ab");
  if (!record_) FailFile(recordPath, "cannot open it for writing", errno);
  recordWriter_ = RowWriter(record_, recordPath);
  // A line cut short by the end of the last process goes.
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) FailFile(path_, "cannot open it for writing", errno);
  if (::ftruncate(fd, off_t(keptBytes_)) != 0) {
    const int error = errno;
    ::close(fd);
    FailFile(path_, "cannot drop its last, partial line", error);
  }
  file_ = ::fdopen(fd, "ab");
  if (!file_) {
    const int error = errno;
    ::close(fd);
    FailFile(path_, "cannot open it for writing", error);
  }
  owned_ = true;
  ForgetTemporaryFile(createdSlot_);
  createdSlot_ = -1;
  writer_ = RowWriter(file_, path_);
}

void SweepOutput::KeepCheck(uint64_t run, const std::string& rows) {
  recordWriter_.Write(CheckLine(run, RowsCheck(rows)));
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
  // The check before the rows: a whole run in FILE always has one.
  if (record_) KeepCheck(r, rows);
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
  std::FILE* record = record_;
  record_ = nullptr;
  if (record && std::fclose(record) != 0) FailFile(RecordPath(path_), "cannot write it", errno);
}

}  // namespace segwork::cli
