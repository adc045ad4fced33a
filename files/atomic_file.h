#pragma once

#include <cstdio>
#include <string>

namespace segwork {

// A file written under a temporary name beside its target and renamed over it only once every
// byte is written and on disk: a failed save never leaves half a file in place of a good one.
// Every failure is a SegworkError naming the target.
class AtomicFile {
 public:
  explicit AtomicFile(const std::string& path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void Write(const void* data, size_t size);
  void Commit();

 private:
  [[noreturn]] void Fail(const std::string& what);

  std::string path_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
};

// Refuses, before any work, a target whose folder is missing or cannot be written to.
void CheckWritableTarget(const std::string& path);

}  // namespace segwork
