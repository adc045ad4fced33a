#include "files/atomic_file.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/errors.h"

namespace segwork {

std::string ReadWholeFile(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) throw SegworkError(path + ": is a folder");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SegworkError(path + ": cannot be opened");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw SegworkError(path + ": cannot be read");
  return bytes.str();
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
