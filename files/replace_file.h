#pragma once

#include <string>

namespace segwork {

// A new file written beside `target` under a temporary name, which replaces the target only when
// Commit() is called: a failed save (missing folder, full disk) never leaves a half-written file
// where a good one was. Dropped without Commit(), the temporary file is removed.
class FileReplacement {
 public:
  // Creates the temporary file; throws a SegworkError naming the target and the problem, also
  // for a target that is not a regular file (checked again just before the rename).
  explicit FileReplacement(const std::string& target, const std::string& suffix = {});
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  const std::string& TempPath() const { return temp_; }
  // The open descriptor of the temporary file; the caller takes it over (and closes it).
  int ReleaseDescriptor();
  void Commit();

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  bool committed_ = false;
  int slot_ = -1;  // remembered for removal on a termination signal
};

// What a file that is not a regular one is, for messages: "a folder", "a FIFO (named pipe)",
// "a character device", ...
std::string SpecialFileKind(unsigned mode);

// A target that exists and is not a regular file (a device such as /dev/full, a FIFO, a socket, a
// folder) is refused with a SegworkError beginning with `name`: renaming a new file over it would
// replace the node itself. A missing target, or a link to a regular file, passes.
void RefuseSpecialTarget(const std::string& path, const std::string& name);

// "<path>: cannot be written: <reason>", the reason from errno.
std::string WriteFailure(const std::string& path, int error);

}  // namespace segwork
