#pragma once

#include <string>

namespace segwork {

// A new file written beside `target` under a temporary name, which replaces the target only when
// Commit() is called: a failed save (missing folder, full disk) never leaves a half-written file
// where a good one was. Dropped without Commit(), the temporary file is removed.
class FileReplacement {
 public:
  // Creates the temporary file; throws a SegworkError naming the target and the problem.
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
};

// "<path>: cannot be written: <reason>", the reason from errno.
std::string WriteFailure(const std::string& path, int error);

}  // namespace segwork
