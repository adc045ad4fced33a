#include "files/atomic_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "model/errors.h"

namespace segwork {

namespace {

std::string FolderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// Read, not set: setting it to read it would race with files other threads create.
unsigned ProcessUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return unsigned(std::stoul(line.substr(6), nullptr, 8));
  }
  return 022;
}

}  // namespace

void CheckWritableTarget(const std::string& path) {
  std::error_code error;
  if (path.empty()) throw SegworkError("no file name given");
  if (std::filesystem::is_directory(path, error)) throw SegworkError(path + ": is a folder");
  const std::string folder = FolderOf(path);
  if (!std::filesystem::is_directory(folder, error)) {
    throw SegworkError(path + ": the folder " + folder + " does not exist");
  }
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    throw SegworkError(path + ": the folder " + folder + " cannot be written to");
  }
}

AtomicFile::AtomicFile(const std::string& path) : path_(path) {
  CheckWritableTarget(path);
  std::string pattern = path + ".part-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) Fail(std::strerror(errno));
  temporary_ = pattern;
  file_ = fdopen(fd, "wb");
  if (!file_) {
    close(fd);
    Fail(std::strerror(errno));
  }
}

AtomicFile::~AtomicFile() {
  if (file_) std::fclose(file_);
  if (!temporary_.empty()) std::remove(temporary_.c_str());
}

void AtomicFile::Fail(const std::string& what) {
  throw SegworkError(path_ + ": cannot be written: " + what);
}

void AtomicFile::Write(const void* data, size_t size) {
  if (size && std::fwrite(data, 1, size, file_) != size) Fail(std::strerror(errno));
}

void AtomicFile::Commit() {
  if (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0) Fail(std::strerror(errno));
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) Fail(std::strerror(errno));
  // mkstemp makes the file private; a saved file gets the usual permissions.
  std::error_code ignored;
  std::filesystem::permissions(temporary_, std::filesystem::perms(0666 & ~ProcessUmask()),
                               std::filesystem::perm_options::replace, ignored);
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) Fail(std::strerror(errno));
  temporary_.clear();
}

}  // namespace segwork
