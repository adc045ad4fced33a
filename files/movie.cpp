#include "files/movie.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/errors.h"
#include "files/replace_file.h"
#include "files/signal_cleanup.h"

extern char** environ;

namespace segwork {

std::string FindFfmpeg() {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (folder.empty()) continue;
    const std::string candidate = folder + "/ffmpeg";
    struct stat s {};
    if (::stat(candidate.c_str(), &s) == 0 && S_ISREG(s.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  throw SegworkError(
      "ffmpeg was not found on PATH: install the Debian package ffmpeg (apt-get install ffmpeg) "
      "to make movies");
}

MovieWriter::MovieWriter(const std::string& path, int width, int height)
    : path_(path), width_(width), height_(height) {
  const std::string ffmpeg = FindFfmpeg();
  file_ = std::make_unique<FileReplacement>(path, ".mp4");
  ::close(file_->ReleaseDescriptor());  // ffmpeg writes it by name
  try {
    Start(ffmpeg);
  } catch (...) {
    DropLog();
    throw;
  }
}

MovieWriter::~MovieWriter() {
  Abandon();
  DropLog();
}

void MovieWriter::DropLog() {
  if (!log_.empty()) ::unlink(log_.c_str());
  ForgetTemporaryFile(logSlot_);
  logSlot_ = -1;
}

void MovieWriter::Start(const std::string& ffmpeg) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/segwork-ffmpeg-XXXXXX";
  const int logFd = CreateRememberedFile(pattern, 0, logSlot_);
  if (logFd < 0) throw SegworkError(path_ + ": cannot start ffmpeg: " + std::strerror(errno));
  log_ = pattern;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    ::close(logFd);
    throw SegworkError(path_ + ": cannot start ffmpeg: " + std::strerror(errno));
  }
  // The codec wants even sizes: frames are padded by one white column or row.
  const std::string size =
      std::to_string(width_ + width_ % 2) + "x" + std::to_string(height_ + height_ % 2);
  const std::vector<std::string> words = {
      ffmpeg,     "-hide_banner", "-loglevel", "error", "-y",
      "-f",       "rawvideo",     "-pix_fmt",  "rgb24", "-s",
      size,       "-r",           "25",        "-i",    "-",
      "-pix_fmt", "yuv420p",      "-f",        "mp4",   file_->TempPath()};
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, logFd, 2);
  // Started and remembered with no termination signal between (this thread is the run's); ffmpeg
  // itself starts with none held.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  HoldTerminationSignals held;
  const int failed =
      posix_spawn(&pid_, ffmpeg.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[0]);
  ::close(logFd);
  if (failed) {
    pid_ = -1;
    ::close(ends[1]);
    throw SegworkError(path_ + ": cannot start " + ffmpeg + ": " + std::strerror(failed));
  }
  pipe_ = ends[1];
  // A termination signal ends it before the program goes, so it cannot finish the file.
  childSlot_ = RememberChild(pid_);
}

void MovieWriter::AddFrame(const RasterCanvas& frame) {
  if (pipe_ < 0) throw SegworkError(path_ + ": the movie is already finished");
  if (frame.Width() != width_ || frame.Height() != height_) {
    throw SegworkError(path_ + ": a frame of another size than the movie's");
  }
  const int w = width_ + width_ % 2, h = height_ + height_ % 2;
  rgb_.assign(size_t(w) * size_t(h) * 3, 255);
  for (int y = 0; y < height_; ++y) {
    unsigned char* out = rgb_.data() + size_t(y) * size_t(w) * 3;
    for (int x = 0; x < width_; ++x) {
      const uint32_t p = frame.PixelAt(x, y);
      out[3 * x] = (p >> 16) & 0xFF;
      out[3 * x + 1] = (p >> 8) & 0xFF;
      out[3 * x + 2] = p & 0xFF;
    }
  }
  // A closed pipe (ffmpeg gone) must come back as EPIPE, not end this program: SIGPIPE is held
  // for this thread during the writes and a pending one taken away.
  sigset_t pipeSignal, old;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
  int error = 0;
  for (size_t done = 0; done < rgb_.size();) {
    const ssize_t n = ::write(pipe_, rgb_.data() + done, rgb_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += size_t(n);
  }
  if (error == EPIPE) {
    const timespec now{};
    sigtimedwait(&pipeSignal, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (error) {
    // ffmpeg has ended or ends at the closed input: wait for it, so its words are complete.
    ::close(pipe_);
    pipe_ = -1;
    Wait();
    throw SegworkError(path_ + ": ffmpeg stopped taking frames: " + FfmpegSaid());
  }
  ++frames_;
}

std::string MovieWriter::FfmpegSaid() {
  std::ifstream in(log_);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.size() > 2000) text = "..." + text.substr(text.size() - 2000);
  return text.empty() ? std::string("(it said nothing)") : text;
}

void MovieWriter::Finish() {
  if (pipe_ < 0) throw SegworkError(path_ + ": the movie is already finished");
  ::close(pipe_);
  pipe_ = -1;
  const int status = Wait();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    const std::string how = WIFEXITED(status)
                                ? "ffmpeg ended with status " + std::to_string(WEXITSTATUS(status))
                                : std::string("ffmpeg was stopped by a signal");
    throw SegworkError(path_ + ": " + how + ": " + FfmpegSaid());
  }
  file_->Commit();
}

int MovieWriter::Wait() {
  int status = 0;
  if (pid_ > 0) {
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ForgetChild(childSlot_);
  childSlot_ = -1;
  pid_ = -1;
  return status;
}

void MovieWriter::Abandon() {
  if (pipe_ >= 0) ::close(pipe_);
  pipe_ = -1;
  if (pid_ > 0) ::kill(pid_, SIGTERM);
  Wait();
}

}  // namespace segwork
