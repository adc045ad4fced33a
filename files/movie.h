#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "display/raster_canvas.h"

namespace segwork {

class FileReplacement;

// The ffmpeg program on PATH, or a SegworkError saying to install it.
std::string FindFfmpeg();

// Encodes frames into an MP4 (H.264 where ffmpeg has it, yuv420p, 25 frames a second) with the
// ffmpeg program, fed raw RGB frames through a pipe. The movie replaces `path` only when Finish()
// succeeds; an unfinished writer stops ffmpeg and leaves no file, also when the program is ended
// by a termination signal (files/signal_cleanup.h). Every failure is a SegworkError naming the
// file.
class MovieWriter {
 public:
  MovieWriter(const std::string& path, int width, int height);
  ~MovieWriter();
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;

  // A frame of the size given at the start.
  void AddFrame(const RasterCanvas& frame);
  // Waits for ffmpeg to end the file; a non-zero exit throws with what ffmpeg said.
  void Finish();
  int Frames() const { return frames_; }

 private:
  void Start(const std::string& ffmpeg);
  // ffmpeg has ended: what it wrote on its error output.
  std::string FfmpegSaid();
  int Wait();  // ffmpeg's exit status
  void Abandon();
  void DropLog();

  std::string path_;
  int width_, height_;
  std::unique_ptr<FileReplacement> file_;
  std::string log_;   // ffmpeg's error output, in $TMPDIR or /tmp
  int logSlot_ = -1;  // slots of files/signal_cleanup.h
  int childSlot_ = -1;
  pid_t pid_ = -1;
  int pipe_ = -1;
  int frames_ = 0;
  std::vector<unsigned char> rgb_;
};

}  // namespace segwork
