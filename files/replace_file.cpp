#include "files/replace_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/errors.h"

namespace segwork {

std::string WriteFailure(const std::string& path, int error) {
  if (error == ENOENT) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return path + ": cannot be written: the folder " + (folder.empty() ? "." : folder.string()) +
           " does not exist";
  }
  return path + ": cannot be written: " + std::strerror(error);
}

FileReplacement::FileReplacement(const std::string& target, const std::string& suffix)
    : target_(target) {
  const std::filesystem::path path(target);
  if (path.filename().empty()) throw SegworkError(target + ": is a folder, not a file name");
  const std::string pattern =
      (path.parent_path() / ("." + path.filename().string() + ".XXXXXX" + suffix)).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkstemps(name.data(), int(suffix.size()));
  if (fd_ < 0) throw SegworkError(WriteFailure(target, errno));
  temp_ = name.data();
  // mkstemps makes the file private; a saved file gets the usual rights, or those it had.
  struct stat old {};
  ::fchmod(fd_, ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
}

FileReplacement::~FileReplacement() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(temp_.c_str());
}

int FileReplacement::ReleaseDescriptor() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void FileReplacement::Commit() {
  if (fd_ >= 0 && ::close(ReleaseDescriptor()) != 0) {
    throw SegworkError(WriteFailure(target_, errno));
  }
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
    throw SegworkError(WriteFailure(target_, errno));
  }
  committed_ = true;
}

}  // namespace segwork
