#include "cli/output.h"

#include <sstream>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "files/signal_cleanup.h"

namespace segwork::cli {
namespace {

// Set by the handler on any thread, read by the writer: lock-free atomics are signal-safe.
std::atomic<int> gWriting{0};
std::atomic<int> gPending{0};

void Die(int signal) {
  // No temporary file of a save and no ffmpeg writing on after the program has gone.
  CleanUpAfterSignal();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

extern "C" void OnTermination(int signal) {
  gPending.store(signal);
  // Outside a write the output is whole: end now. Raised while blocked in the handler, the
  // signal is delivered with its default action as the handler returns.
  if (gWriting.load() == 0) Die(signal);
}

// Marks a block being written; a signal that came meanwhile ends the program after it.
class WritingBlock {
 public:
  WritingBlock() { gWriting.fetch_add(1); }
  ~WritingBlock() {
    gWriting.fetch_sub(1);
    if (const int signal = gPending.load(); signal != 0 && gWriting.load() == 0) Die(signal);
  }
};

}  // namespace

void RowWriter::Write(std::string_view rows) {
  const WritingBlock block;
  errno = 0;
  if (std::fwrite(rows.data(), 1, rows.size(), file_) != rows.size()) Fail(errno);
  if (std::fflush(file_) != 0) Fail(errno);
}

void RowWriter::Flush() {
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) Fail(errno);
}

void RowWriter::Fail(int error) const {
  throw SegworkError("segwork-cli: cannot write to " + name_ + ": " +
                     (error ? std::strerror(error) : "write error"));
}

void InstallSignalHandling() {
  // Neither ignored nor blocked: a write to a pipe nobody reads ends the program, not EPIPE.
  std::signal(SIGPIPE, SIG_DFL);
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigprocmask(SIG_UNBLOCK, &pipe, nullptr);
  struct sigaction action {};
  action.sa_handler = OnTermination;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&action.sa_mask, signal);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    // A signal the caller ignores (nohup, a background job's SIGINT) stays ignored.
    struct sigaction old {};
    sigaction(signal, nullptr, &old);
    if (old.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
}

void Warnings::Forward(const std::string& text) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::string kind;
    for (char c : line) {
      const bool digit = c >= '0' && c <= '9';
      if (!digit || kind.empty() || kind.back() != '#') kind += digit ? '#' : c;
    }
    auto [found, isNew] = kinds_.try_emplace(kind, Kind{line, line, 0});
    Kind& k = found->second;
    if (isNew) {
      order_.push_back(kind);
      err_ << line << "\n";
    } else if (line != k.last) {
      // The runs of one value repeat their value's warning: count it once.
      if (line != k.first) ++k.more;
      k.last = line;
    }
  }
}

void Warnings::Summarise() {
  for (const std::string& kind : order_) {
    Kind& k = kinds_.at(kind);
    if (k.more > 0) err_ << k.first << " \u2026 and " << k.more << " more like it\n";
    k.more = 0;
  }
}

}  // namespace segwork::cli
