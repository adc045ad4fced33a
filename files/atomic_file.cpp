#include "files/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/errors.h"

namespace segwork {

namespace {

std::string Mebibytes(uint64_t bytes) {
  return std::to_string((bytes + (uint64_t(1) << 20) - 1) >> 20) + " MiB";
}

[[noreturn]] void RefuseLarger(const std::string& path, uint64_t size, uint64_t limit,
                               const std::string& what, bool atLeast) {
  throw SegworkError(path + ": " + (atLeast ? "at least " : "") + Mebibytes(size) + ", more than " +
                     what + " may hold (" + Mebibytes(limit) + ")");
}

}  // namespace

std::string ReadWholeFile(const std::string& path, uint64_t byteLimit, const std::string& what) {
  // Looked at before it is opened: opening a device can itself do something.
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) throw SegworkError(path + ": cannot be opened");
  if (S_ISDIR(named.st_mode)) throw SegworkError(path + ": is a folder");
  auto refuseSpecial = [&](mode_t mode) {
    throw SegworkError(path + ": is " + SpecialFileKind(mode) +
                       ", not a regular file: only regular files are read");
  };
  if (!S_ISREG(named.st_mode)) refuseSpecial(named.st_mode);
  // Without waiting, should the name have become a FIFO meanwhile.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw SegworkError(path + ": cannot be opened");
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) throw SegworkError(path + ": cannot be read");
  if (!S_ISREG(opened.st_mode)) refuseSpecial(opened.st_mode);
  if (uint64_t(opened.st_size) > byteLimit) {
    RefuseLarger(path, uint64_t(opened.st_size), byteLimit, what, false);
  }
  std::string bytes;
  bytes.resize(size_t(opened.st_size));
  size_t done = 0;
  for (;;) {
    // One byte past the size, to notice a file that grew past the limit while read.
    if (done == bytes.size()) {
      if (done > byteLimit) RefuseLarger(path, done, byteLimit, what, true);
      bytes.resize(std::min<uint64_t>(byteLimit + 1, done + std::max<size_t>(done / 2, 4096)));
    }
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw SegworkError(path + ": cannot be read: " + std::strerror(errno));
    if (n == 0) break;
    done += size_t(n);
  }
  if (done > byteLimit) RefuseLarger(path, done, byteLimit, what, true);
  bytes.resize(done);
  return bytes;
}

void CheckWritableFolder(const std::string& folder, const std::string& name) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    throw SegworkError(name + ": the folder " + folder + " does not exist");
  }
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    throw SegworkError(name + ": the folder " + folder + " is not writable");
  }
}

void CheckWritableTarget(const std::string& path, const std::string& name) {
  const std::string& called = name.empty() ? path : name;
  std::error_code error;
  if (!std::filesystem::path(path).has_filename() || std::filesystem::is_directory(path, error)) {
    throw SegworkError(called + ": give a file name, not a folder");
  }
  RefuseSpecialTarget(path, called);
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  CheckWritableFolder(parent.empty() ? std::string(".") : parent.string(), called);
}

AtomicFile::AtomicFile(const std::string& path) : path_(path), replacement_(path) {
  const int fd = replacement_.ReleaseDescriptor();
  file_ = fdopen(fd, "wb");
  if (!file_) {
    const int error = errno;
    close(fd);
    throw SegworkError(WriteFailure(path_, error));
  }
}

AtomicFile::~AtomicFile() {
  if (file_) std::fclose(file_);
}

void AtomicFile::Write(const void* data, size_t size) {
  if (size && std::fwrite(data, 1, size, file_) != size) {
    throw SegworkError(WriteFailure(path_, errno));
  }
}

void AtomicFile::Commit() {
  if (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0) {
    throw SegworkError(WriteFailure(path_, errno));
  }
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) throw SegworkError(WriteFailure(path_, errno));
  replacement_.Commit();
}

}  // namespace segwork
