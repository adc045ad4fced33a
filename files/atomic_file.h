#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "files/replace_file.h"

namespace segwork {

// A file written through a buffer into a FileReplacement and put in place only once every byte
// is written and on disk. Every failure is a SegworkError naming the target.
class AtomicFile {
 public:
  explicit AtomicFile(const std::string& path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void Write(const void* data, size_t size);
  void Commit();

 private:
  std::string path_;
  FileReplacement replacement_;
  std::FILE* file_ = nullptr;
};

// The whole file at `path`, of at most `byteLimit` bytes; `what` says what the file is for the
// message of a larger one ("a scenario"). A missing or unreadable file, a folder and anything
// that is not a regular file (a FIFO would wait for a writer for ever, /dev/zero never ends) is
// a SegworkError naming it; nothing but a regular file is opened for reading.
std::string ReadWholeFile(const std::string& path, uint64_t byteLimit, const std::string& what);

// Refuses, before any work, a folder that is missing or does not take new files; messages begin
// with `name`.
void CheckWritableFolder(const std::string& folder, const std::string& name);
// The same for the folder of a file to be written, after refusing a name that is a folder or
// that exists and is not a regular file (a device, FIFO or socket is never replaced). Messages
// begin with `name`, the path unless given.
void CheckWritableTarget(const std::string& path, const std::string& name = {});

}  // namespace segwork
