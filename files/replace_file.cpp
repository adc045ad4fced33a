#include "files/replace_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/errors.h"
#include "files/signal_cleanup.h"

namespace segwork {

std::string SpecialFileKind(unsigned mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

void RefuseSpecialTarget(const std::string& path, const std::string& name) {
  struct stat s {};
  if (::stat(path.c_str(), &s) != 0 || S_ISREG(s.st_mode)) return;
  throw SegworkError(name + ": is " + SpecialFileKind(s.st_mode) +
                     ", not a regular file: it is not replaced; give the name of a file");
}

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
  RefuseSpecialTarget(target, target);
  std::string name =
      (path.parent_path() / ("." + path.filename().string() + ".XXXXXX" + suffix)).string();
  // A termination signal removes it (the program's handler calls CleanUpAfterSignal).
  fd_ = CreateRememberedFile(name, suffix.size(), slot_);
  if (fd_ < 0) throw SegworkError(WriteFailure(target, errno));
  temp_ = name;
  // Made private (0600); a saved file gets the usual rights, or those it had.
  struct stat old {};
  ::fchmod(fd_, ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
}

FileReplacement::~FileReplacement() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(temp_.c_str());
  ForgetTemporaryFile(slot_);
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
  RefuseSpecialTarget(target_, target_);
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
    throw SegworkError(WriteFailure(target_, errno));
  }
  committed_ = true;
  ForgetTemporaryFile(slot_);
  slot_ = -1;
}

}  // namespace segwork
