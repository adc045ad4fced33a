#include "files/signal_cleanup.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace segwork {
namespace {

constexpr int kSlots = 64;

// 0 free, 1 being filled, 2 holds a path.
struct PathSlot {
  std::atomic<int> state{0};
  char path[4096];
};

PathSlot gFiles[kSlots];
std::atomic<pid_t> gChildren[kSlots];
std::atomic<bool> gCleaned{false};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free,
              "the signal handler reads these");

}  // namespace

int RememberTemporaryFile(const std::string& path) {
  if (path.size() >= sizeof gFiles[0].path) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int free = 0;
    if (!gFiles[i].state.compare_exchange_strong(free, 1)) continue;
    std::memcpy(gFiles[i].path, path.c_str(), path.size() + 1);
    gFiles[i].state.store(2);
    return i;
  }
  return -1;
}

void ForgetTemporaryFile(int slot) {
  if (slot >= 0 && slot < kSlots) gFiles[slot].state.store(0);
}

int CreateRememberedFile(std::string& pattern, size_t suffixLength, int& slot) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  if (pattern.size() < suffixLength + 6 ||
      pattern.compare(pattern.size() - suffixLength - 6, 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return -1;
  }
  thread_local std::mt19937_64 random(std::random_device{}() ^ uint64_t(::getpid()) << 32);
  const size_t at = pattern.size() - suffixLength - 6;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    for (size_t i = 0; i < 6; ++i) pattern[at + i] = kLetters[random() % (sizeof kLetters - 1)];
    slot = RememberTemporaryFile(pattern);
    const int fd = ::open(pattern.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    const int error = errno;
    ForgetTemporaryFile(slot);
    slot = -1;
    errno = error;
    if (error != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

HoldTerminationSignals::HoldTerminationSignals() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &old_);
}

HoldTerminationSignals::~HoldTerminationSignals() {
  pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

int RememberChild(pid_t pid) {
  for (int i = 0; i < kSlots; ++i) {
    pid_t free = 0;
    if (gChildren[i].compare_exchange_strong(free, pid)) return i;
  }
  return -1;
}

void ForgetChild(int slot) {
  if (slot >= 0 && slot < kSlots) gChildren[slot].store(0);
}

void CleanUpAfterSignal() {
  if (gCleaned.exchange(true)) return;
  const int saved = errno;
  // The children first: ffmpeg would otherwise finish its file after the name is gone.
  for (std::atomic<pid_t>& child : gChildren) {
    const pid_t pid = child.exchange(0);
    if (pid <= 0) continue;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  for (PathSlot& file : gFiles) {
    if (file.state.load() == 2) ::unlink(file.path);
  }
  errno = saved;
}

}  // namespace segwork
