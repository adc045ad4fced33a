#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "cli/output.h"
#include "core/errors.h"

namespace segwork::cli {

#if defined(__cpp_lib_jthread)
using JoiningThread = std::jthread;
#else
// libc++ 14 has no std::jthread; the pool needs only its join on destruction.
class JoiningThread {
 public:
  template <typename F>
  explicit JoiningThread(F&& f) : thread_(std::forward<F>(f)) {}
  JoiningThread(JoiningThread&&) = default;
  ~JoiningThread() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};
#endif

// The message of what `run` throws, as the command prints it; none when it does not throw.
inline std::optional<std::string> FailureOf(const std::function<void()>& run) {
  try {
    run();
  } catch (const SegworkError& e) {
    return std::string(e.what());
  } catch (const std::bad_alloc&) {
    return std::string("segwork-cli: out of memory");
  } catch (const std::exception& e) {
    return std::string("segwork-cli: ") + e.what();
  }
  return std::nullopt;
}

// Worker threads that make the runs begin..end - 1 of a batch and hand them out in run order, so
// that any number of jobs gives the same bytes. They run at most a few runs ahead of the one
// taken next: the results waiting for their turn stay bounded, whatever the number of runs.
template <typename Result>
class RunPool {
 public:
  RunPool(uint64_t begin, uint64_t end, uint32_t jobs, std::function<Result(uint64_t)> make)
      : make_(std::move(make)),
        begin_(begin),
        end_(end),
        ahead_(4 * uint64_t(jobs)),
        next_(begin),
        taken_(begin) {
    for (uint64_t t = 0; t < std::min<uint64_t>(jobs, end - begin); ++t) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        // More jobs than the system grants threads: go on with those it gave.
        if (workers_.empty()) throw SegworkError("segwork-cli: cannot start a thread");
        break;
      }
    }
  }
  // Stops the workers before they are joined, also on a throw.
  ~RunPool() {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    workers_.clear();
  }
  RunPool(const RunPool&) = delete;
  RunPool& operator=(const RunPool&) = delete;

  // Every run's result in run order, handed to `done`, each run's warnings forwarded first; the
  // first failed run ends the batch with its message and the failure status. Once `stop` is set
  // no further result is taken.
  int TakeAll(Warnings& warnings, std::ostream& err,
              const std::function<void(uint64_t, Result&)>& done,
              const std::atomic<bool>* stop = nullptr) {
    for (uint64_t r = begin_; r < end_ && !(stop && *stop); ++r) {
      Result result = Take(r);
      warnings.Forward(result.warnings);
      if (result.error) {
        warnings.Summarise();
        err << *result.error << "\n";
        return kFailureStatus;
      }
      done(r, result);
    }
    return 0;
  }

  // Run r's result, once made; runs are taken in order.
  Result Take(uint64_t r) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return finished_.count(r) > 0; });
    Result result = std::move(finished_.at(r));
    finished_.erase(r);
    taken_ = r + 1;
    lock.unlock();
    changed_.notify_all();
    return result;
  }

 private:
  void Work() {
    for (;;) {
      uint64_t r = 0;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || next_ < taken_ + ahead_; });
        if (stop_ || next_ >= end_) return;
        r = next_++;
      }
      Result result = make_(r);
      {
        const std::lock_guard lock(mutex_);
        finished_.emplace(r, std::move(result));
      }
      changed_.notify_all();
    }
  }

  const std::function<Result(uint64_t)> make_;
  const uint64_t begin_;
  const uint64_t end_;
  const uint64_t ahead_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<uint64_t, Result> finished_;
  uint64_t next_;
  uint64_t taken_;
  bool stop_ = false;
  std::vector<JoiningThread> workers_;  // last: joined first
};

}  // namespace segwork::cli
